#include "list/ConnectionList.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <functional>
#include <limits>
#include <string>
#include <string_view>
#include <unordered_set>
#include <utility>

#include "list/Columns.h"
#include "list/RowRules.h"

namespace {

constexpr std::string_view LoopbackAddr = "127.0.0.1";
constexpr std::string_view LoopbackAddr6 = "::1";
constexpr std::string_view MarkAdded = "add";
constexpr std::string_view MarkChanged = "md";
constexpr std::string_view MarkMatched = "ok";

const std::vector<File_Rec> noRecords;

// The columns whose texts a refresh changes in a row it keeps: the state, the mark and the
// traffic figures.
bool mergeChangesColumn(int column) {
    return column == ColumnState || column == ColumnMark ||
           (column >= ColumnSent && column <= ColumnReceiveRate);
}

// The texts that identify an endpoint; UDP keys leave the remote pair empty. The views point
// into the snapshot or into a row, both of which outlive the index.
struct EndpointKey {
    std::array<std::string_view, 5> parts;
    friend bool operator==(const EndpointKey&, const EndpointKey&) = default;
};

std::uint64_t mix(std::uint64_t x) {
    x ^= x >> 32;
    x *= 0x9e3779b97f4a7c15ULL;
    x ^= x >> 29;
    return x;
}

// Hashes the texts eight bytes at a time; the lengths keep "ab"+"c" apart from "a"+"bc".
std::uint64_t hashKey(const EndpointKey& key) {
    std::uint64_t h = 0x243f6a8885a308d3ULL;
    for (std::string_view part : key.parts) {
        h = mix(h ^ part.size());
        const char* p = part.data();
        std::size_t n = part.size();
        for (; n >= 8; p += 8, n -= 8) {
            std::uint64_t word;
            std::memcpy(&word, p, 8);
            h = mix(h ^ word);
        }
        if (n > 0) {
            std::uint64_t word = 0;
            std::memcpy(&word, p, n);
            h = mix(h ^ word);
        }
    }
    return mix(h);
}

EndpointKey tcpKey(const std::string& pid, const std::string& localAddr,
                   const std::string& localPort, const std::string& remoteAddr,
                   const std::string& remotePort) {
    return EndpointKey{{pid, localAddr, localPort, remoteAddr, remotePort}};
}

EndpointKey udpKey(const std::string& pid, const std::string& localAddr,
                   const std::string& localPort) {
    return EndpointKey{{pid, localAddr, localPort, std::string_view(), std::string_view()}};
}

// The records of one snapshot table by key, in a flat open-addressing table. Records with
// equal keys are handed out one by one in index order, so k rows with the same keys pair with
// k different records. At 100,000 rows the time goes into cache misses, so callers that know
// the keys ahead can prefetch the slot and then the record a lookup will touch.
class SnapshotIndex {
public:
    static constexpr std::uint32_t End = std::numeric_limits<std::uint32_t>::max();
    static constexpr std::size_t BuildAhead = 8;

    template <typename KeyOf>
    SnapshotIndex(const std::vector<File_Rec>& records, KeyOf keyOf)
        : m_records(records), m_next(records.size(), End), m_keyOf(keyOf) {
        std::size_t capacity = 16;
        while (capacity < records.size() * 2)
            capacity *= 2;
        m_slots.assign(capacity, Slot{});
        m_mask = capacity - 1;
        std::vector<std::uint64_t> hashes(records.size());
        for (std::size_t i = 0; i < records.size(); ++i)
            hashes[i] = hashKey(keyOf(records[i]));
        // Walking backwards makes each chain run in index order.
        for (std::size_t i = records.size(); i-- > 0;) {
            if (i >= BuildAhead)
                prefetchSlot(hashes[i - BuildAhead]);
            const auto index = static_cast<std::uint32_t>(i);
            Slot& slot = find(keyOf(records[i]), hashes[i]);
            if (slot.first != End)
                m_next[i] = slot.cursor;
            slot.first = slot.cursor = index;
        }
    }

    void prefetchSlot(std::uint64_t hash) const { __builtin_prefetch(&m_slots[hash & m_mask]); }

    // Once the slot is likely in the cache: fetch the record whose texts the lookup compares.
    void prefetchRecord(std::uint64_t hash) const {
        const Slot& slot = m_slots[hash & m_mask];
        if (slot.first != End && slot.hash == hash)
            __builtin_prefetch(&m_records[slot.first]);
    }

    // Index of the first record with `key` not yet taken, or End. take() hands it out.
    std::uint32_t peek(const EndpointKey& key, std::uint64_t hash) {
        m_last = &find(key, hash);
        return m_last->cursor;
    }

    void take() {
        if (m_last && m_last->cursor != End)
            m_last->cursor = m_next[m_last->cursor];
    }

private:
    struct Slot {
        std::uint64_t hash = 0;
        std::uint32_t first = End;  // a record with the slot's key; End for a free slot
        std::uint32_t cursor = End; // next record with that key not yet taken
    };

    // The slot holding `key`, or the free slot where it belongs.
    Slot& find(const EndpointKey& key, std::uint64_t hash) {
        for (std::size_t i = hash & m_mask;; i = (i + 1) & m_mask) {
            Slot& slot = m_slots[i];
            if (slot.first == End) {
                slot.hash = hash;
                return slot;
            }
            if (slot.hash == hash && m_keyOf(m_records[slot.first]) == key)
                return slot;
        }
    }

    const std::vector<File_Rec>& m_records;
    std::vector<Slot> m_slots;
    std::size_t m_mask = 0;
    std::vector<std::uint32_t> m_next;
    EndpointKey (*m_keyOf)(const File_Rec&);
    Slot* m_last = nullptr;
};

EndpointKey tcpRecordKey(const File_Rec& r) {
    return tcpKey(r.PID, r.LocalAddr, r.LocalPort, r.RemoteAddr, r.RemotePort);
}

EndpointKey udpRecordKey(const File_Rec& r) {
    return udpKey(r.PID, r.LocalAddr, r.LocalPort);
}

// The snapshot table a row is matched in, by its protocol text; anything but the three others
// counts as UDP, as it always has.
RowProtocol rowTable(const TMyRec& row) {
    if (row.Protocol == "TCP")
        return RowProtocol::Tcp;
    if (row.Protocol == "TCPv6")
        return RowProtocol::Tcp6;
    if (row.Protocol == "UDPv6")
        return RowProtocol::Udp6;
    return RowProtocol::Udp;
}

bool isTcpTable(RowProtocol table) {
    return table == RowProtocol::Tcp || table == RowProtocol::Tcp6;
}

bool isTcpRow(const TMyRec& row) {
    return isTcpTable(rowTable(row));
}

EndpointKey rowKey(const TMyRec& row) {
    return isTcpRow(row)
               ? tcpKey(row.PID, row.LocalAddr, row.LocalPort, row.RemoteAddr, row.RemotePort)
               : udpKey(row.PID, row.LocalAddr, row.LocalPort);
}

// Programs with a known executable, told apart by their exact name.
class ProgramSet {
public:
    void gather(const TMyRec& row) { gather(row.ProcPath, row.ProcName); }
    void gather(const std::string& path, const std::string& name) {
        // Rows of one program often come in a row; that saves most of the hashing.
        if (path.empty() || (m_any && name == m_last))
            return;
        m_names.insert(name);
        m_last = name;
        m_any = true;
    }
    std::size_t count() const { return m_names.size(); }

private:
    // Views into rows and snapshot records that live until the count is read.
    std::unordered_set<std::string_view> m_names;
    std::string_view m_last;
    bool m_any = false;
};

class UpdateBracket {
public:
    explicit UpdateBracket(ListControl& list) : m_list(list) { m_list.beginUpdate(); }
    ~UpdateBracket() { m_list.endUpdate(); }
    UpdateBracket(const UpdateBracket&) = delete;
    UpdateBracket& operator=(const UpdateBracket&) = delete;

private:
    ListControl& m_list;
};

} // namespace

ConnectionList::ConnectionList(ListControl& list, ConnectionListHooks hooks)
    : m_list(list), m_hooks(std::move(hooks)) {}

bool ConnectionList::hiddenLoopback(const TMyRec& row) const {
    const bool loopback4 =
        row.Protocol == "TCP" && row.LocalAddr == LoopbackAddr && row.RemoteAddr == LoopbackAddr;
    const bool loopback6 = row.Protocol == "TCPv6" && row.LocalAddr == LoopbackAddr6 &&
                           row.RemoteAddr == LoopbackAddr6;
    if (!loopback4 && !loopback6)
        return false;
    return m_hooks.showLocal && !m_hooks.showLocal();
}

bool ConnectionList::ipv6Shown() const {
    return m_hooks.showIPv6 && m_hooks.showIPv6();
}

namespace {

// Bytes per second from `before` to `after` of the same socket; -1 when unknown (no counters,
// another socket with the same texts, counters that went back, no time passed).
double rateOf(std::uint64_t before, std::uint64_t after, double seconds) {
    if (after < before || !(seconds > 0))
        return -1;
    return static_cast<double>(after - before) / seconds;
}

} // namespace

void ConnectionList::FillList() {
    if (m_hooks.takeSnapshot)
        m_hooks.takeSnapshot();
    FillList(m_hooks.tcpRecords ? *m_hooks.tcpRecords : noRecords,
             m_hooks.udpRecords ? *m_hooks.udpRecords : noRecords,
             m_hooks.tcp6Records ? *m_hooks.tcp6Records : noRecords,
             m_hooks.udp6Records ? *m_hooks.udp6Records : noRecords);
}

void ConnectionList::FillList(const std::vector<File_Rec>& tcp, const std::vector<File_Rec>& udp) {
    FillList(tcp, udp, noRecords, noRecords);
}

void ConnectionList::FillList(const std::vector<File_Rec>& tcp, const std::vector<File_Rec>& udp,
                              const std::vector<File_Rec>& tcp6,
                              const std::vector<File_Rec>& udp6) {
    const bool ipv6 = ipv6Shown();
    const std::pair<const std::vector<File_Rec>*, RowProtocol> tables[] = {
        {&tcp, RowProtocol::Tcp},
        {&udp, RowProtocol::Udp},
        {ipv6 ? &tcp6 : &noRecords, RowProtocol::Tcp6},
        {ipv6 ? &udp6 : &noRecords, RowProtocol::Udp6},
    };
    m_snapshotTimed = static_cast<bool>(m_hooks.secondsNow);
    m_snapshotSeconds = m_snapshotTimed ? m_hooks.secondsNow() : 0;
    ProgramSet programs;
    RowHandle firstMade = nullptr;
    {
        UpdateBracket bracket(m_list);
        // Rows of an earlier fill would be shown twice.
        m_list.clear();
        for (const auto& [records, protocol] : tables) {
            for (const File_Rec& record : *records) {
                RowHandle row = m_list.addRow();
                makeRow(row->Rec, record, protocol, {});
                programs.gather(record.ProcPath, record.ProcName);
                if (hiddenLoopback(row->Rec))
                    m_list.deleteRow(row);
                else if (!firstMade)
                    firstMade = row;
            }
        }
    }

    if (m_hooks.setNetCount)
        m_hooks.setNetCount(m_list.rowCount());
    // The rows made keep their order until the sort: the first one the filter shows.
    if (firstMade && !m_list.rowShown(firstMade))
        firstMade = m_list.nextShownRow(firstMade);
    if (firstMade) {
        m_list.selectRow(firstMade);
        m_list.setFocusedRow(firstMade);
    }
    m_list.sort(m_list.sortColumn(), m_list.sortDirection());
    if (m_hooks.setAppCount)
        m_hooks.setAppCount(programs.count());
}

void ConnectionList::RefreshList() {
    if (m_hooks.takeSnapshot)
        m_hooks.takeSnapshot();
    std::vector<File_Rec> empty[4];
    RefreshList(m_hooks.tcpRecords ? *m_hooks.tcpRecords : empty[0],
                m_hooks.udpRecords ? *m_hooks.udpRecords : empty[1],
                m_hooks.tcp6Records ? *m_hooks.tcp6Records : empty[2],
                m_hooks.udp6Records ? *m_hooks.udp6Records : empty[3]);
}

void ConnectionList::RefreshList(std::vector<File_Rec>& tcp, std::vector<File_Rec>& udp) {
    std::vector<File_Rec> noTcp6;
    std::vector<File_Rec> noUdp6;
    RefreshList(tcp, udp, noTcp6, noUdp6);
}

struct PreparedSnapshot::Indexes {
    // Indexed by RowProtocol; two empty IPv6 tables when none were given.
    std::vector<File_Rec> none6[2];
    std::array<std::vector<File_Rec>*, 4> tables;
    std::array<SnapshotIndex, 4> indexes;
    Indexes(std::vector<File_Rec>& tcp, std::vector<File_Rec>& udp, std::vector<File_Rec>* tcp6,
            std::vector<File_Rec>* udp6)
        : tables{&tcp, &udp, tcp6 ? tcp6 : &none6[0], udp6 ? udp6 : &none6[1]},
          indexes{SnapshotIndex(*tables[0], tcpRecordKey), SnapshotIndex(*tables[1], udpRecordKey),
                  SnapshotIndex(*tables[2], tcpRecordKey),
                  SnapshotIndex(*tables[3], udpRecordKey)} {}
};

PreparedSnapshot::PreparedSnapshot(std::vector<File_Rec>& tcp, std::vector<File_Rec>& udp)
    : m_indexes(std::make_unique<Indexes>(tcp, udp, nullptr, nullptr)) {}

PreparedSnapshot::PreparedSnapshot(std::vector<File_Rec>& tcp, std::vector<File_Rec>& udp,
                                   std::vector<File_Rec>& tcp6, std::vector<File_Rec>& udp6)
    : m_indexes(std::make_unique<Indexes>(tcp, udp, &tcp6, &udp6)) {}

PreparedSnapshot::~PreparedSnapshot() = default;
PreparedSnapshot::PreparedSnapshot(PreparedSnapshot&&) noexcept = default;
PreparedSnapshot& PreparedSnapshot::operator=(PreparedSnapshot&&) noexcept = default;

void ConnectionList::RefreshList(std::vector<File_Rec>& tcp, std::vector<File_Rec>& udp,
                                 std::vector<File_Rec>& tcp6, std::vector<File_Rec>& udp6) {
    PreparedSnapshot prepared(tcp, udp, tcp6, udp6);
    RefreshList(prepared);
}

void ConnectionList::RefreshList(PreparedSnapshot& prepared) {
    if (!prepared.m_indexes)
        return; // moved from
    // Indexed by RowProtocol. The IPv6 tables while the option is off count as empty, so their
    // rows do not survive and they add none.
    const bool ipv6 = ipv6Shown();
    std::vector<File_Rec> left6[2];
    SnapshotIndex leftIndexes[2] = {SnapshotIndex(left6[0], tcpRecordKey),
                                    SnapshotIndex(left6[1], udpRecordKey)};
    PreparedSnapshot::Indexes& given = *prepared.m_indexes;
    const std::array<std::vector<File_Rec>*, 4> tables = {given.tables[0], given.tables[1],
                                                          ipv6 ? given.tables[2] : &left6[0],
                                                          ipv6 ? given.tables[3] : &left6[1]};
    const std::array<SnapshotIndex*, 4> indexes = {&given.indexes[0], &given.indexes[1],
                                                   ipv6 ? &given.indexes[2] : &leftIndexes[0],
                                                   ipv6 ? &given.indexes[3] : &leftIndexes[1]};
    std::array<std::vector<bool>, 4> matched;
    for (std::size_t t = 0; t < tables.size(); ++t)
        matched[t].assign(tables[t]->size(), false);
    // The time the merged snapshot is taken in; a worker hands it over moments later, which
    // the rate does not tell apart.
    const bool timed = static_cast<bool>(m_hooks.secondsNow);
    const double now = timed ? m_hooks.secondsNow() : 0;
    const double interval = timed && m_snapshotTimed ? now - m_snapshotSeconds : -1;
    m_snapshotTimed = timed;
    m_snapshotSeconds = now;

    // The rows in display order, taken before anything is deleted; only the row being handled
    // is ever deleted, so the later handles stay valid. The loop below works ahead of itself:
    // it fetches a row's texts, then hashes its key and fetches the index slot, then the
    // record, so that the random reads overlap instead of stalling one after the other.
    struct WalkItem {
        RowHandle row;
        std::uint64_t hash;
        std::size_t table; // a RowProtocol
    };
    std::vector<RowHandle> rows;
    rows.reserve(m_list.rowCount());
    m_list.appendRows(rows);
    std::vector<WalkItem> walk;
    walk.reserve(rows.size());
    for (RowHandle row : rows)
        walk.push_back(WalkItem{row, 0, 0});
    constexpr std::size_t RowAhead = 16;
    constexpr std::size_t HashAhead = 8;
    constexpr std::size_t RecordAhead = 4;
    auto indexOf = [&](const WalkItem& item) -> SnapshotIndex& { return *indexes[item.table]; };
    auto prepare = [&](WalkItem& item) {
        item.table = static_cast<std::size_t>(rowTable(item.row->Rec));
        item.hash = hashKey(rowKey(item.row->Rec));
        indexOf(item).prefetchSlot(item.hash);
    };
    for (std::size_t i = 0; i < std::min(HashAhead, walk.size()); ++i)
        prepare(walk[i]);

    ProgramSet programs;
    bool added = false;
    {
        UpdateBracket bracket(m_list);
        for (std::size_t i = 0; i < walk.size(); ++i) {
            if (i + RowAhead < walk.size()) {
                const TMyRec& ahead = walk[i + RowAhead].row->Rec;
                for (const std::string* field :
                     {&ahead.Protocol, &ahead.LocalPort, &ahead.RemotePort, &ahead.PID,
                      &ahead.ProcPath, &ahead.Mark})
                    __builtin_prefetch(field);
            }
            if (i + HashAhead < walk.size())
                prepare(walk[i + HashAhead]);
            if (i + RecordAhead < walk.size()) {
                const WalkItem& ahead = walk[i + RecordAhead];
                indexOf(ahead).prefetchRecord(ahead.hash);
            }
            const WalkItem& item = walk[i];
            TMyRec& rec = item.row->Rec;
            bool survives = false;
            SnapshotIndex& index = *indexes[item.table];
            std::vector<File_Rec>& records = *tables[item.table];
            if (isTcpTable(static_cast<RowProtocol>(item.table))) {
                const std::uint32_t found = index.peek(rowKey(rec), item.hash);
                // A hidden loopback row leaves its record free, to be added and hidden again.
                if (found != SnapshotIndex::End && !hiddenLoopback(rec)) {
                    index.take();
                    matched[item.table][found] = true;
                    File_Rec& record = records[found];
                    record.Mark = MarkMatched;
                    std::string state = TcpStateText(record.State);
                    if (state != rec.State) {
                        rec.Mark = MarkChanged;
                        rec.State = std::move(state);
                    } else {
                        rec.Mark.clear();
                    }
                    // The same endpoint texts may now be a newer socket (another cookie).
                    const os::Endpoint before = rec.Socket;
                    rec.Socket = record.Socket;
                    rec.Socket.protocol = os::Protocol::Tcp;
                    rec.Socket.state = static_cast<std::uint32_t>(record.State);
                    const bool sameCounters = before.hasByteCounters &&
                                              rec.Socket.hasByteCounters &&
                                              before.cookie == rec.Socket.cookie;
                    setRowTraffic(
                        rec,
                        sameCounters ? rateOf(before.bytesAcked, rec.Socket.bytesAcked, interval)
                                     : -1,
                        sameCounters
                            ? rateOf(before.bytesReceived, rec.Socket.bytesReceived, interval)
                            : -1);
                    survives = true;
                }
            } else {
                const std::uint32_t found = index.peek(rowKey(rec), item.hash);
                if (found != SnapshotIndex::End) {
                    index.take();
                    matched[item.table][found] = true;
                    records[found].Mark = MarkMatched;
                    rec.Socket = records[found].Socket;
                    rec.Socket.protocol = os::Protocol::Udp;
                    survives = true;
                }
            }
            if (survives)
                programs.gather(rec);
            else
                m_list.deleteRow(item.row);
        }

        for (std::size_t t = 0; t < tables.size(); ++t) {
            const std::vector<File_Rec>& records = *tables[t];
            for (std::size_t i = 0; i < records.size(); ++i) {
                if (matched[t][i])
                    continue;
                RowHandle row = m_list.addRow();
                makeRow(row->Rec, records[i], static_cast<RowProtocol>(t), MarkAdded);
                programs.gather(records[i].ProcPath, records[i].ProcName);
                if (hiddenLoopback(row->Rec))
                    m_list.deleteRow(row);
                else
                    added = true;
            }
        }
    }

    // Deleting rows keeps the order; only added rows and the texts the merge changes in place
    // can upset it. At 100,000 rows, finding out that nothing moved takes longer than the merge.
    if (added || mergeChangesColumn(m_list.sortColumn()))
        m_list.sort(m_list.sortColumn(), m_list.sortDirection());
    if (m_hooks.setNetCount)
        m_hooks.setNetCount(m_list.rowCount());
    m_list.setFocus();
    if (m_list.selectedCount() == 0) {
        if (RowHandle first = m_list.firstShownRow()) {
            m_list.selectRow(first);
            m_list.setFocusedRow(first);
        }
    }
    if (m_hooks.setAppCount)
        m_hooks.setAppCount(programs.count());
    m_list.repaint();
}
