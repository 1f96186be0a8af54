#include "os/linux/LinuxEndpoints.h"
#include "os/linux/ProcFs.h"

#include <charconv>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <string_view>
#include <unistd.h>

namespace os::linuxnet {

namespace {

// "socket:[12345]" -> 12345
bool socketInode(std::string_view link, std::uint64_t& inode) {
    constexpr std::string_view prefix = "socket:[";
    if (link.size() <= prefix.size() + 1 || link.substr(0, prefix.size()) != prefix ||
        link.back() != ']')
        return false;
    const char* first = link.data() + prefix.size();
    const char* last = link.data() + link.size() - 1;
    const auto res = std::from_chars(first, last, inode);
    return res.ec == std::errc() && res.ptr == last;
}

} // namespace

void findSocketOwners(const std::string& procRoot,
                      std::unordered_map<std::uint64_t, std::uint32_t>& owners) {
    if (owners.empty())
        return;
    const linuxfs::DirStream proc(::open(procRoot.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (proc.get() == nullptr)
        return;
    const int procFd = ::dirfd(proc.get());
    std::size_t unresolved = owners.size();
    char path[32];
    char link[64];
    while (unresolved > 0) {
        const dirent* entry = ::readdir(proc.get());
        if (entry == nullptr)
            break;
        const auto pid = linuxfs::parsePid(entry->d_name);
        if (!pid)
            continue;
        // A process that ends or that we may not inspect is skipped; its sockets keep PID 0.
        const int n = std::snprintf(path, sizeof path, "%u/fd", *pid);
        if (n <= 0 || static_cast<std::size_t>(n) >= sizeof path)
            continue;
        const linuxfs::DirStream fds(::openat(procFd, path, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (fds.get() == nullptr)
            continue;
        const int fdsFd = ::dirfd(fds.get());
        while (const dirent* fdEntry = ::readdir(fds.get())) {
            if (fdEntry->d_name[0] == '.')
                continue;
            // Sockets are links of a fixed, short form; anything that fills the buffer is not one.
            const ssize_t length = ::readlinkat(fdsFd, fdEntry->d_name, link, sizeof link);
            if (length <= 0 || static_cast<std::size_t>(length) >= sizeof link)
                continue;
            std::uint64_t inode = 0;
            if (!socketInode(std::string_view(link, static_cast<std::size_t>(length)), inode))
                continue;
            const auto it = owners.find(inode);
            if (it == owners.end() || it->second != 0)
                continue;
            it->second = *pid;
            if (--unresolved == 0)
                break;
        }
    }
}

} // namespace os::linuxnet
