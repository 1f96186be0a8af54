#include "list/ConnectionList.h"

#include <array>
#include <cstdint>
#include <functional>
#include <limits>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "list/RowRules.h"

namespace {

constexpr std::string_view LoopbackAddr = "127.0.0.1";
constexpr std::string_view MarkAdded = "add";
constexpr std::string_view MarkChanged = "md";
constexpr std::string_view MarkMatched = "ok";

const std::vector<File_Rec> noRecords;

// The texts that identify an endpoint; UDP keys leave the remote pair empty. The views point
// into the snapshot or into a row, both of which outlive the index.
struct EndpointKey {
    std::array<std::string_view, 5> parts;
    friend bool operator==(const EndpointKey&, const EndpointKey&) = default;
};

struct EndpointKeyHash {
    std::size_t operator()(const EndpointKey& key) const noexcept
    {
        std::size_t h = 0;
        for (std::string_view part : key.parts)
            h = (h ^ std::hash<std::string_view>{}(part)) * 0x100000001b3ULL + 0x9e3779b97f4a7c15ULL;
        return h;
    }
};

EndpointKey tcpKey(const std::string& pid, const std::string& localAddr, const std::string& localPort,
                   const std::string& remoteAddr, const std::string& remotePort)
{
    return EndpointKey{{pid, localAddr, localPort, remoteAddr, remotePort}};
}

EndpointKey udpKey(const std::string& pid, const std::string& localAddr, const std::string& localPort)
{
    return EndpointKey{{pid, localAddr, localPort, std::string_view(), std::string_view()}};
}

// The records of one snapshot table by key. Records with equal keys are handed out one by one
// in index order, so k rows with the same keys pair with k different records.
class SnapshotIndex {
public:
    template <typename KeyOf>
    SnapshotIndex(const std::vector<File_Rec>& records, KeyOf keyOf) : m_next(records.size(), End)
    {
        m_buckets.reserve(records.size());
        // Walking backwards makes each chain run in index order.
        for (std::size_t i = records.size(); i-- > 0;) {
            auto [it, inserted] = m_buckets.try_emplace(keyOf(records[i]), static_cast<std::uint32_t>(i));
            if (!inserted) {
                m_next[i] = it->second;
                it->second = static_cast<std::uint32_t>(i);
            }
        }
    }

    // Index of the first record with `key` not yet taken, or End.
    std::uint32_t peek(const EndpointKey& key) const
    {
        const auto it = m_buckets.find(key);
        return it == m_buckets.end() ? End : it->second;
    }

    void take(const EndpointKey& key)
    {
        const auto it = m_buckets.find(key);
        if (it != m_buckets.end() && it->second != End)
            it->second = m_next[it->second];
    }

    static constexpr std::uint32_t End = std::numeric_limits<std::uint32_t>::max();

private:
    std::unordered_map<EndpointKey, std::uint32_t, EndpointKeyHash> m_buckets;
    std::vector<std::uint32_t> m_next;
};

// Programs with a known executable, told apart by their exact name.
class ProgramSet {
public:
    void gather(const TMyRec& row) { gather(row.ProcPath, row.ProcName); }
    void gather(const std::string& path, const std::string& name)
    {
        if (!path.empty())
            m_names.insert(name);
    }
    std::size_t count() const { return m_names.size(); }

private:
    // Views into rows and snapshot records that live until the count is read.
    std::unordered_set<std::string_view> m_names;
};

class UpdateBracket {
public:
    explicit UpdateBracket(ListControl& list) : m_list(list) { m_list.beginUpdate(); }
    ~UpdateBracket() { close(); }
    UpdateBracket(const UpdateBracket&) = delete;
    UpdateBracket& operator=(const UpdateBracket&) = delete;
    void close()
    {
        if (m_open) {
            m_open = false;
            m_list.endUpdate();
        }
    }

private:
    ListControl& m_list;
    bool m_open = true;
};

} // namespace

ConnectionList::ConnectionList(ListControl& list, ConnectionListHooks hooks)
    : m_list(list), m_hooks(std::move(hooks))
{
}

bool ConnectionList::hiddenLoopback(const TMyRec& row) const
{
    if (row.Protocol != "TCP" || row.LocalAddr != LoopbackAddr || row.RemoteAddr != LoopbackAddr)
        return false;
    return m_hooks.showLocal && !m_hooks.showLocal();
}

void ConnectionList::FillList()
{
    if (m_hooks.takeSnapshot)
        m_hooks.takeSnapshot();
    const std::vector<File_Rec>& tcp = m_hooks.tcpRecords ? *m_hooks.tcpRecords : noRecords;
    const std::vector<File_Rec>& udp = m_hooks.udpRecords ? *m_hooks.udpRecords : noRecords;

    ProgramSet programs;
    RowHandle firstMade = nullptr;
    {
        UpdateBracket bracket(m_list);
        // Rows of an earlier fill would be shown twice.
        m_list.clear();
        for (const File_Rec& record : tcp) {
            RowHandle row = m_list.addRow();
            makeRow(row->Rec, record, RowProtocol::Tcp, {});
            programs.gather(record.ProcPath, record.ProcName);
            if (hiddenLoopback(row->Rec))
                m_list.deleteRow(row);
            else if (!firstMade)
                firstMade = row;
        }
        for (const File_Rec& record : udp) {
            RowHandle row = m_list.addRow();
            makeRow(row->Rec, record, RowProtocol::Udp, {});
            programs.gather(record.ProcPath, record.ProcName);
            if (!firstMade)
                firstMade = row;
        }
    }

    if (m_hooks.setNetCount)
        m_hooks.setNetCount(m_list.rowCount());
    if (firstMade) {
        m_list.selectRow(firstMade);
        m_list.setFocusedRow(firstMade);
    }
    m_list.sort(m_list.sortColumn(), m_list.sortDirection());
    if (m_hooks.setAppCount)
        m_hooks.setAppCount(programs.count());
}

void ConnectionList::RefreshList()
{
    if (m_hooks.takeSnapshot)
        m_hooks.takeSnapshot();
    std::vector<File_Rec> emptyTcp;
    std::vector<File_Rec> emptyUdp;
    std::vector<File_Rec>& tcp = m_hooks.tcpRecords ? *m_hooks.tcpRecords : emptyTcp;
    std::vector<File_Rec>& udp = m_hooks.udpRecords ? *m_hooks.udpRecords : emptyUdp;

    SnapshotIndex tcpIndex(tcp, [](const File_Rec& r) {
        return tcpKey(r.PID, r.LocalAddr, r.LocalPort, r.RemoteAddr, r.RemotePort);
    });
    SnapshotIndex udpIndex(udp, [](const File_Rec& r) { return udpKey(r.PID, r.LocalAddr, r.LocalPort); });
    std::vector<bool> tcpMatched(tcp.size(), false);
    std::vector<bool> udpMatched(udp.size(), false);

    ProgramSet programs;
    {
        UpdateBracket bracket(m_list);
        for (RowHandle row = m_list.firstRow(); row;) {
            const RowHandle next = m_list.nextRow(row);
            TMyRec& rec = row->Rec;
            bool survives = false;
            if (rec.Protocol == "TCP") {
                const EndpointKey key = tcpKey(rec.PID, rec.LocalAddr, rec.LocalPort, rec.RemoteAddr, rec.RemotePort);
                const std::uint32_t found = tcpIndex.peek(key);
                // A hidden loopback row leaves its record free, to be added and hidden again.
                if (found != SnapshotIndex::End && !hiddenLoopback(rec)) {
                    tcpIndex.take(key);
                    tcpMatched[found] = true;
                    File_Rec& record = tcp[found];
                    record.Mark = MarkMatched;
                    std::string state = TcpStateText(record.State);
                    if (state != rec.State) {
                        rec.Mark = MarkChanged;
                        rec.State = std::move(state);
                    } else {
                        rec.Mark.clear();
                    }
                    survives = true;
                }
            } else {
                const EndpointKey key = udpKey(rec.PID, rec.LocalAddr, rec.LocalPort);
                const std::uint32_t found = udpIndex.peek(key);
                if (found != SnapshotIndex::End) {
                    udpIndex.take(key);
                    udpMatched[found] = true;
                    udp[found].Mark = MarkMatched;
                    survives = true;
                }
            }
            if (survives)
                programs.gather(rec);
            else
                m_list.deleteRow(row);
            row = next;
        }

        for (std::size_t i = 0; i < tcp.size(); ++i) {
            if (tcpMatched[i])
                continue;
            RowHandle row = m_list.addRow();
            makeRow(row->Rec, tcp[i], RowProtocol::Tcp, MarkAdded);
            programs.gather(tcp[i].ProcPath, tcp[i].ProcName);
            if (hiddenLoopback(row->Rec))
                m_list.deleteRow(row);
        }
        for (std::size_t i = 0; i < udp.size(); ++i) {
            if (udpMatched[i])
                continue;
            RowHandle row = m_list.addRow();
            makeRow(row->Rec, udp[i], RowProtocol::Udp, MarkAdded);
            programs.gather(udp[i].ProcPath, udp[i].ProcName);
        }
    }

    m_list.sort(m_list.sortColumn(), m_list.sortDirection());
    if (m_hooks.setNetCount)
        m_hooks.setNetCount(m_list.rowCount());
    m_list.setFocus();
    if (m_list.selectedCount() == 0) {
        if (RowHandle first = m_list.firstRow()) {
            m_list.selectRow(first);
            m_list.setFocusedRow(first);
        }
    }
    if (m_hooks.setAppCount)
        m_hooks.setAppCount(programs.count());
    m_list.repaint();
}
