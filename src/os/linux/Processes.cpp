#include "os/Processes.h"
#include "os/linux/HelperOwners.h"
#include "os/linux/LinuxProcesses.h"
#include "os/linux/ProcFs.h"

#include <charconv>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <optional>
#include <string_view>
#include <unistd.h>

namespace os::linuxproc {

namespace {

constexpr std::string_view DeletedSuffix = " (deleted)";

std::string baseName(std::string_view path) {
    const std::size_t slash = path.rfind('/');
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

std::string imagePathAt(int procFd, std::uint32_t pid) {
    const std::string link = std::to_string(pid) + "/exe";
    auto target = linuxfs::readLinkAt(procFd, link.c_str());
    if (!target)
        return {};
    // A replaced or removed executable keeps its old path with this note appended.
    if (target->size() > DeletedSuffix.size() && target->ends_with(DeletedSuffix))
        target->resize(target->size() - DeletedSuffix.size());
    return *target;
}

std::string nameAt(int procFd, std::uint32_t pid) {
    const std::string dir = std::to_string(pid);
    if (std::string path = imagePathAt(procFd, pid); !path.empty()) {
        std::string name = baseName(path);
        if (!name.empty())
            return name;
    }
    if (const auto cmdline = linuxfs::readFileAt(procFd, (dir + "/cmdline").c_str(), 4096)) {
        std::string_view first(*cmdline);
        first = first.substr(0, first.find('\0'));
        // Programs that rewrite their title put it all in one space-separated word list, often
        // as "name: what it does".
        first = first.substr(0, first.find(' '));
        if (!first.empty() && first.back() == ':')
            first.remove_suffix(1);
        std::string name = baseName(first);
        if (!name.empty())
            return name;
    }
    if (auto comm = linuxfs::readFileAt(procFd, (dir + "/comm").c_str(), 256)) {
        while (!comm->empty() && comm->back() == '\n')
            comm->pop_back();
        return *comm;
    }
    return {};
}

linuxfs::UniqueFd openRoot(const std::string& procRoot) {
    return linuxfs::UniqueFd(::open(procRoot.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}

} // namespace

bool snapshotProcesses(const std::string& procRoot, std::vector<ProcessEntry>& processes) {
    processes.clear();
    const linuxfs::DirStream proc(::open(procRoot.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (proc.get() == nullptr)
        return false;
    const int procFd = ::dirfd(proc.get());
    while (const dirent* entry = ::readdir(proc.get())) {
        const auto pid = linuxfs::parsePid(entry->d_name);
        if (!pid)
            continue;
        ProcessEntry process;
        process.pid = *pid;
        process.exeFile = nameAt(procFd, *pid);
        // A process that ended while being read has left nothing to name; it is gone.
        if (process.exeFile.empty() && ::faccessat(procFd, entry->d_name, F_OK, 0) != 0)
            continue;
        processes.push_back(std::move(process));
    }
    return true;
}

std::string processImagePath(const std::string& procRoot, std::uint32_t pid) {
    if (pid == 0)
        return {};
    const linuxfs::UniqueFd root = openRoot(procRoot);
    if (!root.valid())
        return {};
    return imagePathAt(root.get(), pid);
}

std::uint64_t processStartTime(const std::string& procRoot, std::uint32_t pid) {
    if (pid == 0)
        return 0;
    const linuxfs::UniqueFd root = openRoot(procRoot);
    if (!root.valid())
        return 0;
    return processStartTimeAt(root.get(), pid);
}

std::uint64_t processStartTimeAt(int procFd, std::uint32_t pid) {
    if (pid == 0)
        return 0;
    char path[32];
    const int n = std::snprintf(path, sizeof path, "%u/stat", pid);
    if (n <= 0 || static_cast<std::size_t>(n) >= sizeof path)
        return 0;
    const auto stat = linuxfs::readFileAt(procFd, path, 4096);
    if (!stat)
        return 0;
    // The command name in parentheses may itself hold spaces and ')', so fields are counted
    // from the last ')'.
    const std::size_t close = stat->rfind(')');
    if (close == std::string::npos)
        return 0;
    std::string_view rest = std::string_view(*stat).substr(close + 1);
    // Fields after the name start with field 3 (state); starttime is field 22.
    for (int field = 3; field <= 22; ++field) {
        const std::size_t start = rest.find_first_not_of(' ');
        if (start == std::string_view::npos)
            return 0;
        rest.remove_prefix(start);
        const std::size_t end = rest.find(' ');
        const std::string_view token = rest.substr(0, end);
        if (field == 22) {
            std::uint64_t value = 0;
            const auto res = std::from_chars(token.data(), token.data() + token.size(), value);
            if (res.ec != std::errc())
                return 0;
            return value;
        }
        if (end == std::string_view::npos)
            return 0;
        rest.remove_prefix(end);
    }
    return 0;
}

} // namespace os::linuxproc

namespace os {

bool SnapshotProcesses(std::vector<ProcessEntry>& processes) {
    return linuxproc::snapshotProcesses("/proc", processes);
}

std::string ProcessImagePath(std::uint32_t pid) {
    std::string path = linuxproc::processImagePath("/proc", pid);
    // Another user's process: the path kestrel-helper read, while the PID is still that process.
    if (path.empty() && pid != 0)
        path = linuxhelper::knownImagePath(pid, linuxproc::processStartTime("/proc", pid));
    return path;
}

std::uint64_t ProcessStartTime(std::uint32_t pid) {
    return linuxproc::processStartTime("/proc", pid);
}

} // namespace os
