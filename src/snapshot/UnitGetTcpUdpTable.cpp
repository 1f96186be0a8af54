#include "snapshot/UnitGetTcpUdpTable.h"

#include <charconv>
#include <cstddef>
#include <stdexcept>
#include <system_error>
#include <unordered_map>
#include <utility>

#include "os/Endpoints.h"
#include "os/FileVersion.h"
#include "os/Memory.h"
#include "os/Privilege.h"
#include "os/Users.h"

std::vector<File_Rec> TcpRecords;
std::vector<File_Rec> UdpRecords;
std::vector<File_Rec> Tcp6Records;
std::vector<File_Rec> Udp6Records;

namespace {

std::string decimalText(std::uint32_t value) {
    char buf[16];
    const auto res = std::to_chars(buf, buf + sizeof buf, value);
    return std::string(buf, res.ptr);
}

// The address bytes are in network order, so byte 0 is the first number of the dotted quad.
char* dottedQuad(const std::uint8_t* p, char* out, char* end) {
    for (int i = 0; i < 4; ++i) {
        if (i != 0)
            *out++ = '.';
        out = std::to_chars(out, end, p[i]).ptr;
    }
    return out;
}

struct Owner {
    std::string name;
    std::string path;
    std::string description;
    std::string company;
    bool startTimeRead = false;
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
        return owner;
    }

    // The owner's start time when the endpoint table did not bring it.
    std::uint64_t startTime(std::uint32_t pid) {
        Owner& owner = m_owners.at(pid);
        if (!owner.startTimeRead) {
            owner.startTime = os::ProcessStartTime(pid);
            owner.startTimeRead = true;
        }
        return owner.startTime;
    }

    // The account name of `uid`, asked once per snapshot: a name service may be slow.
    const std::string& userName(std::uint32_t uid) {
        auto [it, fresh] = m_users.try_emplace(uid);
        if (fresh)
            it->second = os::UserName(uid);
        return it->second;
    }

private:
    std::unordered_map<std::uint32_t, const std::string*> m_names;
    std::unordered_map<std::uint32_t, std::string> m_users;
    std::unordered_map<std::uint32_t, Owner> m_owners;
    std::unordered_map<std::string, std::pair<std::string, std::string>> m_files;
};

void fillRecord(File_Rec& rec, const os::Endpoint& e, OwnerLookup& lookup) {
    const bool tcp = e.protocol == os::Protocol::Tcp;
    rec.State = tcp ? static_cast<std::int32_t>(e.state) : 0;
    rec.LocalAddr = AddressText(e.family, e.localAddr, e.localScopeId);
    rec.LocalPort = decimalText(e.localPort);
    if (tcp) {
        rec.RemoteAddr = AddressText(e.family, e.remoteAddr, e.remoteScopeId);
        rec.RemotePort = decimalText(e.remotePort);
    } else {
        rec.RemoteAddr.clear();
        rec.RemotePort.clear();
    }
    rec.PID = decimalText(e.pid);
    const Owner& owner = lookup.owner(e.pid);
    rec.ProcName = owner.name;
    rec.ProcPath = owner.path;
    rec.FileDesc = owner.description;
    rec.Company = owner.company;
    rec.Mark.clear();
    rec.ProcStartTime = e.ownerStartTime != 0 ? e.ownerStartTime : lookup.startTime(e.pid);
    rec.UserId = e.uid;
    rec.Inode = e.inode;
    rec.Cookie = e.cookie;
    rec.HasByteCounters = e.hasByteCounters;
    rec.BytesAcked = e.bytesAcked;
    rec.BytesReceived = e.bytesReceived;
    rec.Socket = e;
    // Held by a process this program may not see: the row names its user instead.
    if (e.pid == 0 && e.inode != 0 && e.uid != os::NoUserId)
        rec.UserName = lookup.userName(e.uid);
    else
        rec.UserName.clear();
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

// Fills the IPv4 and the IPv6 records of one protocol in place: the arrays keep their storage
// from the last snapshot, which spares a large allocation per refresh.
void fillRecords(const std::vector<os::Endpoint>& endpoints, std::vector<File_Rec>& v4,
                 std::vector<File_Rec>& v6, OwnerLookup& lookup) {
    std::size_t v6Count = 0;
    for (const os::Endpoint& e : endpoints)
        v6Count += e.family == os::Family::V6 ? 1 : 0;
    os::ReserveLarge(v4, endpoints.size() - v6Count);
    v4.resize(endpoints.size() - v6Count);
    os::ReserveLarge(v6, v6Count);
    v6.resize(v6Count);
    std::size_t next4 = 0;
    std::size_t next6 = 0;
    for (const os::Endpoint& e : endpoints) {
        File_Rec& rec = e.family == os::Family::V6 ? v6[next6++] : v4[next4++];
        fillRecord(rec, e, lookup);
    }
}

void clear(Snapshot& snapshot) {
    snapshot.Tcp.clear();
    snapshot.Udp.clear();
    snapshot.Tcp6.clear();
    snapshot.Udp6.clear();
}

// Hexadecimal digits of one 16-bit group, without leading zeros.
char* groupText(std::uint16_t group, char* out, char* end) {
    return std::to_chars(out, end, group, 16).ptr;
}

} // namespace

std::string AddressText(os::Family family, const std::array<std::uint8_t, 16>& address,
                        std::uint32_t scopeId) {
    char buf[64];
    char* const end = buf + sizeof buf;
    char* out = buf;
    if (family == os::Family::V4)
        return std::string(buf, dottedQuad(address.data(), out, end));
    std::uint16_t groups[8];
    for (int i = 0; i < 8; ++i)
        groups[i] = static_cast<std::uint16_t>(address[2 * i] << 8 | address[2 * i + 1]);
    const bool mapped = groups[0] == 0 && groups[1] == 0 && groups[2] == 0 && groups[3] == 0 &&
                        groups[4] == 0 && groups[5] == 0xffff;
    const int shown = mapped ? 6 : 8;
    // The longest run of two or more zero groups, the first of equal runs, becomes "::".
    int bestStart = -1;
    int bestLength = 1;
    for (int i = 0; i < shown;) {
        if (groups[i] != 0) {
            ++i;
            continue;
        }
        int j = i;
        while (j < shown && groups[j] == 0)
            ++j;
        if (j - i > bestLength) {
            bestStart = i;
            bestLength = j - i;
        }
        i = j;
    }
    for (int i = 0; i < shown; ++i) {
        if (i == bestStart) {
            *out++ = ':';
            if (i == 0)
                *out++ = ':';
            i += bestLength - 1;
            continue;
        }
        out = groupText(groups[i], out, end);
        if (i != shown - 1 || mapped)
            *out++ = ':';
    }
    if (mapped)
        out = dottedQuad(address.data() + 12, out, end);
    if (scopeId != 0) {
        *out++ = '%';
        out = std::to_chars(out, end, scopeId).ptr;
    }
    return std::string(buf, out);
}

void PrepareDescriptions() {
    os::PrepareDescriptions();
}

std::jthread PrepareDescriptionsAside(std::function<void()> prepare) {
    if (!prepare || std::thread::hardware_concurrency() < 2)
        return {};
    try {
        return std::jthread(std::move(prepare));
    } catch (const std::system_error&) {
        return {}; // no thread to be had
    }
}

void TakeSnapshot(Snapshot& snapshot) {
    // One process snapshot, taken before the tables, serves every record. Without one, every
    // name stays empty and the rest is filled as usual.
    std::vector<os::ProcessEntry> processes;
    if (!os::SnapshotProcesses(processes))
        processes.clear();

    // Both tables come from one read: a refresh that got only one of them would drop every row
    // of the other as if its endpoints were gone.
    std::vector<os::Endpoint> tcp;
    std::vector<os::Endpoint> udp;
    if (!os::ReadEndpointTables(tcp, udp)) {
        clear(snapshot);
        throw std::runtime_error("无法读取本机的 TCP/UDP 连接表。");
    }

    try {
        OwnerLookup lookup(processes);
        fillRecords(tcp, snapshot.Tcp, snapshot.Tcp6, lookup);
        fillRecords(udp, snapshot.Udp, snapshot.Udp6, lookup);
    } catch (...) {
        // Half-filled tables would pass for a snapshot; the caller gets the error and none.
        clear(snapshot);
        throw;
    }
}

void GetTcpUdpTable() {
    // The records are filled in the storage of the last snapshot's.
    Snapshot snapshot;
    snapshot.Tcp.swap(TcpRecords);
    snapshot.Udp.swap(UdpRecords);
    snapshot.Tcp6.swap(Tcp6Records);
    snapshot.Udp6.swap(Udp6Records);
    TcpRecords.clear();
    UdpRecords.clear();
    Tcp6Records.clear();
    Udp6Records.clear();
    TakeSnapshot(snapshot);
    TcpRecords.swap(snapshot.Tcp);
    UdpRecords.swap(snapshot.Udp);
    Tcp6Records.swap(snapshot.Tcp6);
    Udp6Records.swap(snapshot.Udp6);
}
