#include "snapshot/UnitGetTcpUdpTable.h"

#include <charconv>
#include <cstddef>
#include <stdexcept>
#include <unordered_map>

#include "os/Endpoints.h"
#include "os/Memory.h"
#include "os/Privilege.h"

std::vector<File_Rec> TcpRecords;
std::vector<File_Rec> UdpRecords;

namespace {

std::uint32_t readLe32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

std::string decimalText(std::uint32_t value) {
    char buf[16];
    const auto res = std::to_chars(buf, buf + sizeof buf, value);
    return std::string(buf, res.ptr);
}

// The address bytes are in network order, so byte 0 is the first number of the dotted quad.
std::string dottedQuad(const std::uint8_t* p) {
    char buf[16];
    char* out = buf;
    for (int i = 0; i < 4; ++i) {
        if (i != 0)
            *out++ = '.';
        out = std::to_chars(out, buf + sizeof buf, p[i]).ptr;
    }
    return std::string(buf, out);
}

// Only the first two bytes of a port field carry the port; the other two are left as the
// platform happened to fill them.
std::string portText(const std::uint8_t* p) {
    return decimalText(static_cast<std::uint32_t>(p[0]) << 8 | p[1]);
}

// How many whole rows the table really holds: a count that promises more rows than the
// bytes delivered is cut to what is there rather than read past the end.
std::size_t rowCount(const std::vector<std::uint8_t>& table, std::size_t rowSize) {
    if (table.size() < 4)
        return 0;
    const std::size_t claimed = readLe32(table.data());
    const std::size_t present = (table.size() - 4) / rowSize;
    return claimed < present ? claimed : present;
}

struct Owner {
    std::string name;
    std::string path;
    std::string description;
    std::string company;
    std::uint64_t startTime = 0;
};

// The lookups of one snapshot. A process that holds many endpoints is looked up once, and an
// executable that several processes run is read once; the results are what a fresh lookup per
// record would give, because nothing outlives the snapshot.
class OwnerLookup {
public:
    explicit OwnerLookup(const std::vector<os::ProcessEntry>& processes) {
        // The first entry of a PID wins, as in a walk from the snapshot's start.
        m_names.reserve(processes.size());
        for (const os::ProcessEntry& entry : processes)
            m_names.emplace(entry.pid, &entry.exeFile);
    }

    const Owner& owner(std::uint32_t pid) {
        auto [it, fresh] = m_owners.try_emplace(pid);
        if (!fresh)
            return it->second;
        Owner& owner = it->second;
        if (const auto name = m_names.find(pid); name != m_names.end())
            owner.name = *name->second;
        owner.path = GetProcessPathByPID(pid);
        if (!owner.path.empty()) {
            auto [file, newPath] = m_files.try_emplace(owner.path);
            if (newPath)
                file->second.first = GetFileVersionStrings(owner.path, file->second.second);
            owner.description = file->second.first;
            owner.company = file->second.second;
        }
        owner.startTime = os::ProcessStartTime(pid);
        return owner;
    }

private:
    std::unordered_map<std::uint32_t, const std::string*> m_names;
    std::unordered_map<std::uint32_t, Owner> m_owners;
    std::unordered_map<std::string, std::pair<std::string, std::string>> m_files;
};

void fillOwner(File_Rec& rec, std::uint32_t pid, OwnerLookup& lookup) {
    rec.PID = decimalText(pid);
    const Owner& owner = lookup.owner(pid);
    rec.ProcName = owner.name;
    rec.ProcPath = owner.path;
    rec.FileDesc = owner.description;
    rec.Company = owner.company;
    rec.Mark.clear();
    rec.ProcStartTime = owner.startTime;
}

} // namespace

std::string GetProcessNameByPID(const std::vector<os::ProcessEntry>& processes, std::uint32_t pid) {
    for (const os::ProcessEntry& entry : processes) {
        if (entry.pid == pid)
            return entry.exeFile;
    }
    return {};
}

std::string GetProcessPathByPID(std::uint32_t pid) {
    return os::ProcessImagePath(pid);
}

bool SetPrivilege(const std::string& privilegeName, bool enable) {
    if (privilegeName.empty())
        return false;
    return os::AdjustOwnPrivilege(privilegeName, enable);
}

bool EnableDebugPrivilege() {
    const std::vector<std::string> names = os::DebugPrivilegeNames();
    bool all = !names.empty();
    for (const std::string& name : names) {
        if (!SetPrivilege(name, true))
            all = false;
    }
    return all;
}

namespace {

// At 100,000 endpoints the records take some 40 MB; backed by large pages, a fresh array is
// filled with a few dozen page faults instead of ten thousand.
void reserveRecords(std::vector<File_Rec>& records, std::size_t count) {
    if (records.capacity() >= count)
        return;
    records.reserve(count);
    os::AdviseLargePages(records.data(), records.capacity() * sizeof(File_Rec));
}

void fillRecords(const std::vector<std::uint8_t>& tcpTable,
                 const std::vector<std::uint8_t>& udpTable,
                 const std::vector<os::ProcessEntry>& processes) {
    OwnerLookup lookup(processes);

    // Filled in place: the arrays keep their storage from the last snapshot, which spares a
    // large allocation per refresh.
    const std::size_t tcpCount = rowCount(tcpTable, os::TcpRowSize);
    reserveRecords(TcpRecords, tcpCount);
    TcpRecords.resize(tcpCount);
    for (std::size_t i = 0; i < tcpCount; ++i) {
        const std::uint8_t* row = tcpTable.data() + 4 + i * os::TcpRowSize;
        File_Rec& rec = TcpRecords[i];
        rec.State = static_cast<std::int32_t>(readLe32(row));
        rec.LocalAddr = dottedQuad(row + 4);
        rec.LocalPort = portText(row + 8);
        rec.RemoteAddr = dottedQuad(row + 12);
        rec.RemotePort = portText(row + 16);
        fillOwner(rec, readLe32(row + 20), lookup);
    }

    const std::size_t udpCount = rowCount(udpTable, os::UdpRowSize);
    reserveRecords(UdpRecords, udpCount);
    UdpRecords.resize(udpCount);
    for (std::size_t i = 0; i < udpCount; ++i) {
        const std::uint8_t* row = udpTable.data() + 4 + i * os::UdpRowSize;
        File_Rec& rec = UdpRecords[i];
        rec.LocalAddr = dottedQuad(row);
        rec.LocalPort = portText(row + 4);
        fillOwner(rec, readLe32(row + 8), lookup);
    }
}

} // namespace

void GetTcpUdpTable() {
    TcpRecords.clear();
    UdpRecords.clear();

    // One process snapshot, taken before the tables, serves every record. Without one, every
    // name stays empty and the rest is filled as usual.
    std::vector<os::ProcessEntry> processes;
    if (!os::SnapshotProcesses(processes))
        processes.clear();

    // Both tables come from one read: a refresh that got only one of them would drop every row
    // of the other as if its endpoints were gone.
    std::vector<std::uint8_t> tcpTable;
    std::vector<std::uint8_t> udpTable;
    if (!os::ReadEndpointTables(tcpTable, udpTable))
        throw std::runtime_error("无法读取本机的 TCP/UDP 连接表。");

    try {
        fillRecords(tcpTable, udpTable, processes);
    } catch (...) {
        // Half-filled tables would pass for a snapshot; the caller gets the error and none.
        TcpRecords.clear();
        UdpRecords.clear();
        throw;
    }
}
