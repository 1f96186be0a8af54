#pragma once
// One snapshot of every TCP and UDP endpoint of this machine, with the owning process.
#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "os/Endpoints.h"
#include "os/Processes.h"

struct File_Rec {
    std::int32_t State = 0; // TCP state number as the platform numbers it; 0 in UDP records
    std::string LocalAddr;
    std::string LocalPort;
    std::string RemoteAddr; // empty in UDP records
    std::string RemotePort; // empty in UDP records
    std::string PID;        // unsigned decimal
    std::string ProcName;
    std::string ProcPath;
    std::string FileDesc;
    std::string Company;
    std::string Mark; // empty in a fresh snapshot; "ok" while a refresh merges it
    // Identity of the owning process at snapshot time (os::ProcessStartTime), so that ending
    // "PID n" later cannot hit a newer process that got the same ID. 0 when unknown.
    std::uint64_t ProcStartTime = 0;
    // What the system told of the socket (os::Endpoint's fields of the same meaning):
    // os::NoUserId, 0 and false when it did not tell.
    std::uint32_t UserId = os::NoUserId;
    std::uint64_t Inode = 0;
    std::uint64_t Cookie = 0;
    bool HasByteCounters = false;
    std::uint64_t BytesAcked = 0;
    std::uint64_t BytesReceived = 0;
    // Account name of UserId (os::UserName), read only for a socket whose owner was not found
    // (PID 0 with an inode: another user's, as far as this program may see); empty otherwise
    // and when the system knows no name.
    std::string UserName;
    // The row of the system's table this record was made from (addresses as bytes, scope IDs,
    // cookie): what closing the connection names. Tests may leave it as it starts.
    os::Endpoint Socket;
};

// One snapshot as a value: the IPv4 records, and the IPv6 records kept apart (the list shows
// them with the option ShowIPv6). TCP records follow the system's table order, as do UDP
// records.
struct Snapshot {
    std::vector<File_Rec> Tcp;
    std::vector<File_Rec> Udp;
    std::vector<File_Rec> Tcp6;
    std::vector<File_Rec> Udp6;
};

// Takes a new snapshot into `snapshot`, reusing its storage. Throws std::runtime_error when
// the system gives no endpoint table at all; `snapshot` is then left empty.
void TakeSnapshot(Snapshot& snapshot);

// Builds the indexes the file descriptions are looked up in (os::PrepareDescriptions), which
// the first snapshot would otherwise build while filling its records. A caller with a core to
// spare runs it on another thread while the first snapshot reads the endpoint tables.
void PrepareDescriptions();
// `prepare` (PrepareDescriptions unless told otherwise) on a thread of its own, joined when the
// result goes, when the machine has a second core; otherwise nothing (the first lookup then
// prepares).
std::jthread PrepareDescriptionsAside(std::function<void()> prepare = PrepareDescriptions);

// The text of an address: a dotted quad for IPv4, RFC 5952 text for IPv6 (lower case, the
// longest run of zero groups as "::", ::ffff:a.b.c.d for IPv4-mapped addresses) with
// "%scope" when `scopeId` is not 0.
std::string AddressText(os::Family family, const std::array<std::uint8_t, 16>& address,
                        std::uint32_t scopeId = 0);

// The IPv4 records of the last GetTcpUdpTable, and its IPv6 records.
extern std::vector<File_Rec> TcpRecords;
extern std::vector<File_Rec> UdpRecords;
extern std::vector<File_Rec> Tcp6Records;
extern std::vector<File_Rec> Udp6Records;

// Executable file name of process `pid` as listed in `processes` (one os::SnapshotProcesses,
// owned by the caller); empty when the PID is not listed.
std::string GetProcessNameByPID(const std::vector<os::ProcessEntry>& processes, std::uint32_t pid);

// Full path of the executable of process `pid`; empty when it is gone or may not be inspected.
std::string GetProcessPathByPID(std::uint32_t pid);

// Enables or disables one privilege of the program's own process (names as in
// os::DebugPrivilegeNames). True exactly when the system reports the requested state.
bool SetPrivilege(const std::string& privilegeName, bool enable);

// Enables every privilege of the "debug" view (Linux: cap_sys_ptrace and cap_dac_read_search).
// True only when all of them are now enabled; the caller carries on either way.
bool EnableDebugPrivilege();

// File description of the executable `fileName`, with its company name in `company` (emptied
// first). Both empty when nothing is known; an empty name touches no file.
std::string GetFileVersionStrings(const std::string& fileName, std::string& company);

// Rebuilds TcpRecords and UdpRecords (the IPv4 records of a TakeSnapshot) and Tcp6Records and
// Udp6Records (its IPv6 records) from scratch. Throws std::runtime_error when the system gives
// no endpoint table at all; the tables are then left empty.
void GetTcpUdpTable();
