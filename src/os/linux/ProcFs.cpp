#include "os/linux/ProcFs.h"

#include <cerrno>
#include <charconv>
#include <fcntl.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace os::linuxfs {

UniqueFd::UniqueFd(UniqueFd&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
    if (this != &other) {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = std::exchange(other.m_fd, -1);
    }
    return *this;
}

UniqueFd::~UniqueFd() {
    if (m_fd >= 0)
        ::close(m_fd);
}

DirStream::DirStream(int fd) : m_dir(fd >= 0 ? ::fdopendir(fd) : nullptr) {
    if (fd >= 0 && m_dir == nullptr)
        ::close(fd);
}

DirStream::~DirStream() {
    if (m_dir != nullptr)
        ::closedir(m_dir);
}

std::optional<std::string> readFileAt(int dirFd, const char* relPath, std::size_t limit) {
    int fd;
    do {
        fd = ::openat(dirFd, relPath, O_RDONLY | O_CLOEXEC | O_NOCTTY);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return std::nullopt;
    const UniqueFd file(fd);
    std::string text;
    char buf[16384];
    while (text.size() < limit) {
        const ssize_t n = ::read(file.get(), buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return std::nullopt;
        }
        if (n == 0)
            break;
        const std::size_t room = limit - text.size();
        text.append(buf, static_cast<std::size_t>(n) < room ? static_cast<std::size_t>(n) : room);
    }
    return text;
}

std::optional<std::string> readFile(const std::string& path, std::size_t limit) {
    return readFileAt(AT_FDCWD, path.c_str(), limit);
}

std::optional<std::string> readLinkAt(int dirFd, const char* relPath) {
    // Most links fit the first buffer; a longer one is retried with a bigger buffer, since
    // readlink truncates silently.
    std::size_t size = 256;
    for (;;) {
        std::vector<char> buf(size);
        const ssize_t n = ::readlinkat(dirFd, relPath, buf.data(), buf.size());
        if (n < 0)
            return std::nullopt;
        if (static_cast<std::size_t>(n) < buf.size())
            return std::string(buf.data(), static_cast<std::size_t>(n));
        if (size >= 1024 * 1024)
            return std::nullopt;
        size *= 4;
    }
}

std::optional<std::uint32_t> parsePid(std::string_view name) {
    if (name.empty() || name.size() > 10 || name.front() < '1' || name.front() > '9')
        return std::nullopt;
    std::uint32_t pid = 0;
    const auto res = std::from_chars(name.data(), name.data() + name.size(), pid);
    if (res.ec != std::errc() || res.ptr != name.data() + name.size())
        return std::nullopt;
    return pid;
}

} // namespace os::linuxfs
