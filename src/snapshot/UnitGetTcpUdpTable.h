#pragma once
// One snapshot of every IPv4 TCP and UDP endpoint of this machine, with the owning process.
#include <cstdint>
#include <string>
#include <vector>

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
};

extern std::vector<File_Rec> TcpRecords;
extern std::vector<File_Rec> UdpRecords;

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

// Rebuilds TcpRecords and UdpRecords from scratch. Throws std::runtime_error when the system
// gives no endpoint table at all; the tables are then left empty.
void GetTcpUdpTable();
