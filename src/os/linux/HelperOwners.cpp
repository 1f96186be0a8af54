#include "os/linux/HelperOwners.h"

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
