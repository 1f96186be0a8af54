#pragma once
// Small helpers of the Linux layer for reading procfs and other kernel files safely.
#include <cstdint>
#include <dirent.h>
#include <optional>
#include <string>
#include <string_view>

namespace os::linuxfs {

// Owns one file descriptor; closes it when it goes out of scope.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : m_fd(fd) {}
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    UniqueFd(UniqueFd&& other) noexcept;
    UniqueFd& operator=(UniqueFd&& other) noexcept;
    ~UniqueFd();

    int get() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }

private:
    int m_fd = -1;
};

// Owns a directory stream made from a descriptor (and with it the descriptor); an invalid
// descriptor or a failed fdopendir gives a stream whose get() is null.
class DirStream {
public:
    explicit DirStream(int fd);
    DirStream(const DirStream&) = delete;
    DirStream& operator=(const DirStream&) = delete;
    ~DirStream();

    DIR* get() const { return m_dir; }

private:
    DIR* m_dir;
};

// The whole content of a (small or pseudo) file, read until EOF with EINTR retried; nullopt
// when it cannot be opened or read. `limit` bounds what is kept.
std::optional<std::string> readFileAt(int dirFd, const char* relPath,
                                      std::size_t limit = 16 * 1024 * 1024);
std::optional<std::string> readFile(const std::string& path, std::size_t limit = 16 * 1024 * 1024);

// The target of a symbolic link, whatever its length; nullopt when it cannot be read.
std::optional<std::string> readLinkAt(int dirFd, const char* relPath);

// A decimal PID from a directory entry name ("1234"), nullopt for anything else.
std::optional<std::uint32_t> parsePid(std::string_view name);

} // namespace os::linuxfs
