#include "FakeOs.h"

#include <cstddef>
#include <set>
#include <utility>

#include "os/Endpoints.h"
#include "os/FileVersion.h"
#include "os/Memory.h"
#include "os/Privilege.h"

namespace {

struct State {
    std::optional<std::vector<os::Endpoint>> tcp;
    std::optional<std::vector<os::Endpoint>> udp;
    std::optional<std::vector<os::ProcessEntry>> processes;
    std::map<std::uint32_t, std::string> paths;
    std::map<std::uint32_t, std::uint64_t> startTimes;
    std::map<std::string, std::vector<std::uint8_t>> versionBlocks;
    std::map<std::string, std::pair<std::string, std::string>> descriptions;
    std::vector<std::string> privilegeNames{"cap_sys_ptrace", "cap_dac_read_search"};
    std::set<std::string> held;
    std::set<std::string> enabled;
    FakeOs::Counters counters;
};

State& state() {
    static State s;
    return s;
}

std::array<std::uint8_t, 16> address(const FakeOs::Bytes4& b) {
    return {b[0], b[1], b[2], b[3]};
}

std::uint16_t port(const FakeOs::Bytes4& field) {
    return static_cast<std::uint16_t>(field[0] << 8 | field[1]);
}

} // namespace

namespace FakeOs {

Bytes4 ipv4(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d) {
    return {a, b, c, d};
}

Bytes4 portField(std::uint16_t port, std::uint8_t filler0, std::uint8_t filler1) {
    return {static_cast<std::uint8_t>(port >> 8), static_cast<std::uint8_t>(port & 0xff), filler0,
            filler1};
}

std::vector<os::Endpoint> tcpEndpoints(const std::vector<TcpRow>& rows) {
    std::vector<os::Endpoint> out;
    for (const TcpRow& r : rows) {
        os::Endpoint& e = out.emplace_back();
        e.protocol = os::Protocol::Tcp;
        e.state = r.state;
        e.localAddr = address(r.localAddr);
        e.localPort = port(r.localPort);
        e.remoteAddr = address(r.remoteAddr);
        e.remotePort = port(r.remotePort);
        e.pid = r.pid;
    }
    return out;
}

std::vector<os::Endpoint> udpEndpoints(const std::vector<UdpRow>& rows) {
    std::vector<os::Endpoint> out;
    for (const UdpRow& r : rows) {
        os::Endpoint& e = out.emplace_back();
        e.protocol = os::Protocol::Udp;
        e.localAddr = address(r.localAddr);
        e.localPort = port(r.localPort);
        e.pid = r.pid;
    }
    return out;
}

void reset() {
    state() = State{};
}

void setTcpTable(std::optional<std::vector<os::Endpoint>> rows) {
    state().tcp = std::move(rows);
}

void setUdpTable(std::optional<std::vector<os::Endpoint>> rows) {
    state().udp = std::move(rows);
}

void setProcesses(std::optional<std::vector<os::ProcessEntry>> processes) {
    state().processes = std::move(processes);
}

void setImagePath(std::uint32_t pid, const std::string& path) {
    state().paths[pid] = path;
}

void setStartTime(std::uint32_t pid, std::uint64_t startTime) {
    state().startTimes[pid] = startTime;
}

void setVersionResource(const std::string& path, const std::vector<std::uint8_t>& block) {
    state().versionBlocks[path] = block;
}

void setDescription(const std::string& path, const std::string& description,
                    const std::string& company) {
    state().descriptions[path] = {description, company};
}

void setDebugPrivilegeNames(const std::vector<std::string>& names) {
    state().privilegeNames = names;
}

void setPrivilegeHeld(const std::string& name, bool held) {
    if (held) {
        state().held.insert(name);
    } else {
        state().held.erase(name);
        state().enabled.erase(name);
    }
}

bool privilegeEnabled(const std::string& name) {
    return state().enabled.count(name) != 0;
}

const Counters& counters() {
    return state().counters;
}

int fileReads() {
    return state().counters.loadVersionResource + state().counters.describeExecutable;
}

} // namespace FakeOs

namespace os {

void AdviseLargePages(void*, std::size_t) {}

bool ReadEndpointTables(std::vector<Endpoint>& tcp, std::vector<Endpoint>& udp) {
    State& s = state();
    ++s.counters.readTcpTable;
    ++s.counters.readUdpTable;
    s.counters.callLog.emplace_back("ReadEndpointTables");
    tcp.clear();
    udp.clear();
    if (!s.tcp || !s.udp)
        return false;
    tcp = *s.tcp;
    udp = *s.udp;
    return true;
}

bool SnapshotProcesses(std::vector<ProcessEntry>& processes) {
    State& s = state();
    ++s.counters.snapshotProcesses;
    s.counters.callLog.emplace_back("SnapshotProcesses");
    processes.clear();
    if (!s.processes)
        return false;
    processes = *s.processes;
    return true;
}

std::string ProcessImagePath(std::uint32_t pid) {
    State& s = state();
    ++s.counters.processImagePath;
    ++s.counters.imagePathByPid[pid];
    s.counters.callLog.push_back("ProcessImagePath " + std::to_string(pid));
    const auto it = s.paths.find(pid);
    return it == s.paths.end() ? std::string() : it->second;
}

std::uint64_t ProcessStartTime(std::uint32_t pid) {
    State& s = state();
    ++s.counters.processStartTime;
    ++s.counters.startTimeByPid[pid];
    s.counters.callLog.push_back("ProcessStartTime " + std::to_string(pid));
    const auto it = s.startTimes.find(pid);
    return it == s.startTimes.end() ? 0 : it->second;
}

bool LoadVersionResource(const std::string& path, std::vector<std::uint8_t>& block) {
    State& s = state();
    ++s.counters.loadVersionResource;
    ++s.counters.loadVersionByPath[path];
    s.counters.callLog.push_back("LoadVersionResource " + path);
    block.clear();
    const auto it = s.versionBlocks.find(path);
    if (it == s.versionBlocks.end())
        return false;
    block = it->second;
    return true;
}

bool DescribeExecutable(const std::string& path, std::string& description, std::string& company) {
    State& s = state();
    ++s.counters.describeExecutable;
    ++s.counters.describeByPath[path];
    s.counters.callLog.push_back("DescribeExecutable " + path);
    description.clear();
    company.clear();
    const auto it = s.descriptions.find(path);
    if (it == s.descriptions.end())
        return false;
    description = it->second.first;
    company = it->second.second;
    return true;
}

void PrepareDescriptions() {
    State& s = state();
    ++s.counters.prepareDescriptions;
    s.counters.callLog.emplace_back("PrepareDescriptions");
}

std::vector<std::string> DebugPrivilegeNames() {
    State& s = state();
    ++s.counters.debugPrivilegeNames;
    s.counters.callLog.emplace_back("DebugPrivilegeNames");
    return s.privilegeNames;
}

bool AdjustOwnPrivilege(const std::string& name, bool enable) {
    State& s = state();
    ++s.counters.adjustOwnPrivilege;
    s.counters.callLog.push_back("AdjustOwnPrivilege " + name + (enable ? " on" : " off"));
    if (s.held.count(name) == 0)
        return false;
    if (enable)
        s.enabled.insert(name);
    else
        s.enabled.erase(name);
    return true;
}

} // namespace os
