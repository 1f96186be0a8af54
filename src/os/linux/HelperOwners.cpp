#include "os/linux/HelperOwners.h"

#include <algorithm>
#include <mutex>
#include <unordered_map>

namespace os::linuxhelper {

namespace {

struct Known {
    std::mutex lock;
    std::unordered_map<std::uint32_t, helper::ProcessFacts> byPid;
};

Known& known() {
    static Known instance;
    return instance;
}

} // namespace

linuxnet::SocketHolders holdersOf(const helper::ScanResult& result) {
    linuxnet::SocketHolders holders;
    holders.reserve(result.sockets.size());
    // The processes come in ascending PID order (decodeScanReply checks it).
    const auto& processes = result.processes;
    for (const helper::SocketHolder& socket : result.sockets) {
        const auto process = std::lower_bound(
            processes.begin(), processes.end(), socket.pid,
            [](const helper::ProcessFacts& p, std::uint32_t pid) { return p.pid < pid; });
        if (process != processes.end() && process->pid == socket.pid)
            holders.push_back(linuxnet::HeldSocket{socket.inode, socket.pid, process->startTime});
    }
    return holders;
}

void rememberOwners(std::vector<helper::ProcessFacts> processes) {
    std::unordered_map<std::uint32_t, helper::ProcessFacts> byPid;
    byPid.reserve(processes.size());
    for (helper::ProcessFacts& process : processes)
        byPid.emplace(process.pid, std::move(process));
    Known& k = known();
    const std::lock_guard<std::mutex> guard(k.lock);
    k.byPid.swap(byPid);
}

std::string knownImagePath(std::uint32_t pid, std::uint64_t startTime) {
    if (startTime == 0)
        return {};
    Known& k = known();
    const std::lock_guard<std::mutex> guard(k.lock);
    const auto it = k.byPid.find(pid);
    // A reused PID belongs to a newer process, whose path the helper did not read.
    if (it == k.byPid.end() || it->second.startTime != startTime)
        return {};
    return it->second.exePath;
}

} // namespace os::linuxhelper
