#pragma once
// Control side of the fake os/ library (kestrel_os_fake): tests set what the "system" holds and
// read how often each os:: function was asked. Everything starts empty; call FakeOs::reset()
// in each test's set-up.
#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "os/Endpoints.h"
#include "os/Processes.h"

namespace FakeOs {

using Bytes4 = std::array<std::uint8_t, 4>;

// An address as it sits in the table: a.b.c.d is the byte sequence a, b, c, d.
Bytes4 ipv4(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d);
// A port field: the port in network order in bytes 0 and 1, `filler` in bytes 2 and 3.
Bytes4 portField(std::uint16_t port, std::uint8_t filler0 = 0, std::uint8_t filler1 = 0);

struct TcpRow {
    std::uint32_t state = 0;
    Bytes4 localAddr{};
    Bytes4 localPort{};
    Bytes4 remoteAddr{};
    Bytes4 remotePort{};
    std::uint32_t pid = 0;
};

struct UdpRow {
    Bytes4 localAddr{};
    Bytes4 localPort{};
    std::uint32_t pid = 0;
};

// The rows as IPv4 os::Endpoint rows (a port from bytes 0 and 1 of its field, network order).
std::vector<os::Endpoint> tcpEndpoints(const std::vector<TcpRow>& rows);
std::vector<os::Endpoint> udpEndpoints(const std::vector<UdpRow>& rows);

// Forgets every setting and zeroes every counter.
void reset();

// The tables os::ReadEndpointTables delivers; std::nullopt (the default) for either makes the
// call fail with both tables empty.
void setTcpTable(std::optional<std::vector<os::Endpoint>> rows);
void setUdpTable(std::optional<std::vector<os::Endpoint>> rows);

// What os::SnapshotProcesses delivers; std::nullopt (the default) makes it fail.
void setProcesses(std::optional<std::vector<os::ProcessEntry>> processes);

// os::ProcessImagePath(pid) and os::ProcessStartTime(pid); unknown PIDs give "" and 0.
void setImagePath(std::uint32_t pid, const std::string& path);
void setStartTime(std::uint32_t pid, std::uint64_t startTime);

// os::LoadVersionResource(path) delivers `block`; other paths fail.
void setVersionResource(const std::string& path, const std::vector<std::uint8_t>& block);
// os::DescribeExecutable(path) delivers these two texts; other paths give false.
void setDescription(const std::string& path, const std::string& description,
                    const std::string& company);

// os::DebugPrivilegeNames(); defaults to the Linux pair {"cap_sys_ptrace", "cap_dac_read_search"}.
void setDebugPrivilegeNames(const std::vector<std::string>& names);
// Whether the process holds a privilege (may enable it). Privileges not held cannot change.
void setPrivilegeHeld(const std::string& name, bool held);
// Whether a privilege is currently enabled (changed by os::AdjustOwnPrivilege).
bool privilegeEnabled(const std::string& name);

struct Counters {
    int readTcpTable = 0; // both count os::ReadEndpointTables calls
    int readUdpTable = 0;
    int snapshotProcesses = 0;
    int processImagePath = 0;
    int processStartTime = 0;
    int loadVersionResource = 0;
    int describeExecutable = 0;
    int prepareDescriptions = 0;
    int debugPrivilegeNames = 0;
    int adjustOwnPrivilege = 0;
    std::map<std::uint32_t, int> imagePathByPid;
    std::map<std::uint32_t, int> startTimeByPid;
    std::map<std::string, int> loadVersionByPath;
    std::map<std::string, int> describeByPath;
    // Every call in order, e.g. "SnapshotProcesses", "ReadEndpointTables", "ProcessImagePath 42",
    // "LoadVersionResource /bin/x".
    std::vector<std::string> callLog;
};

const Counters& counters();
// Calls that touched a file (LoadVersionResource + DescribeExecutable).
int fileReads();

} // namespace FakeOs
