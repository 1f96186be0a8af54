#include "helper/HelperScan.h"

#include <algorithm>
#include <fcntl.h>
#include <utility>

#include "helper/HelperPolicy.h"
#include "os/linux/LinuxProcesses.h"
#include "os/linux/ProcFs.h"

namespace helper {

ScanResult scanSocketHolders(const std::string& procRoot, std::optional<std::uint32_t> onlyUid,
                             os::linuxnet::StartTimeReader readStartTime) {
    if (!readStartTime)
        readStartTime = os::linuxproc::processStartTimeAt;
    ScanResult result;
    const os::linuxfs::UniqueFd proc(::open(procRoot.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!proc.valid())
        return result;
    os::linuxnet::SocketOwnerScan scan(procRoot, readStartTime);
    os::linuxnet::SocketHolders holders = scan.holders();
    std::sort(holders.begin(), holders.end(),
              [](const auto& a, const auto& b) { return a.pid < b.pid; });

    for (std::size_t i = 0; i < holders.size();) {
        const std::uint32_t pid = holders[i].pid;
        // One pass reads a process once, so all its holders carry one start time.
        const std::uint64_t startTime = holders[i].startTime;
        std::size_t end = i;
        while (end < holders.size() && holders[end].pid == pid)
            ++end;
        const std::string dir = procRoot + "/" + std::to_string(pid);
        bool keep = startTime != 0;
        if (keep && onlyUid) {
            const auto status = os::linuxfs::readFile(dir + "/status", 64 * 1024);
            keep = status && ownedBy(*status, *onlyUid);
        }
        ProcessFacts process;
        process.pid = pid;
        process.startTime = startTime;
        if (keep) {
            process.exePath = os::linuxproc::processImagePath(procRoot, pid);
            // The status and the path are of the process scanned only while its start time
            // still is the scan's.
            keep = readStartTime(proc.get(), pid) == startTime;
        }
        if (keep) {
            if (process.exePath.size() > MaxPath || process.exePath.find('\0') != std::string::npos)
                process.exePath.clear();
            result.processes.push_back(std::move(process));
            for (std::size_t k = i; k < end; ++k)
                result.sockets.push_back(SocketHolder{holders[k].inode, pid});
        }
        i = end;
    }
    return result;
}

} // namespace helper
