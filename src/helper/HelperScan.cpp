#include "helper/HelperScan.h"

#include <algorithm>

#include "helper/HelperPolicy.h"
#include "os/linux/LinuxEndpoints.h"
#include "os/linux/LinuxProcesses.h"
#include "os/linux/ProcFs.h"

namespace helper {

ScanResult scanSocketHolders(const std::string& procRoot, std::optional<std::uint32_t> onlyUid) {
    os::linuxnet::SocketOwnerScan scan(procRoot);
    os::linuxnet::SocketHolders holders = scan.holders();
    std::sort(holders.begin(), holders.end(),
              [](const auto& a, const auto& b) { return a.second < b.second; });

    ScanResult result;
    for (std::size_t i = 0; i < holders.size();) {
        const std::uint32_t pid = holders[i].second;
        std::size_t end = i;
        while (end < holders.size() && holders[end].second == pid)
            ++end;
        const std::string dir = procRoot + "/" + std::to_string(pid);
        bool keep = true;
        if (onlyUid) {
            const auto status = os::linuxfs::readFile(dir + "/status", 64 * 1024);
            keep = status && ownedBy(*status, *onlyUid);
        }
        ProcessFacts process;
        process.pid = pid;
        if (keep) {
            process.startTime = os::linuxproc::processStartTime(procRoot, pid);
            keep = process.startTime != 0; // gone meanwhile
        }
        if (keep) {
            process.exePath = os::linuxproc::processImagePath(procRoot, pid);
            if (process.exePath.size() > MaxPath || process.exePath.find('\0') != std::string::npos)
                process.exePath.clear();
            result.processes.push_back(std::move(process));
            for (std::size_t k = i; k < end; ++k)
                result.sockets.push_back(SocketHolder{holders[k].first, pid});
        }
        i = end;
    }
    return result;
}

} // namespace helper
