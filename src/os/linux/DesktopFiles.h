#pragma once
// Small file-system helpers for the readers of desktop entries, MIME data and the package
// databases. Every path they take is inside a root folder ("" is the real root), so the readers
// run on fixtures as well as on the live system.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace os::desktop {

// An owned file descriptor, closed when it goes out of scope.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : m_fd(fd) {}
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    UniqueFd(UniqueFd&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept;
    ~UniqueFd();
    int get() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }
    void reset();

private:
    int m_fd = -1;
};

// Reads a whole regular file into `text`. False, with `text` empty, when it cannot be opened or
// read, or is larger than `limit` bytes.
bool ReadFileText(const std::string& file, std::string& text, std::size_t limit = 64u << 20);

// Reads whole files into one buffer that is reused from file to file, for readers that go
// through thousands of small files.
class FileReader {
public:
    // False, with empty text, when the file cannot be opened or read, is no regular file, or
    // is larger than `limit` bytes.
    bool read(const std::string& file, std::size_t limit = 64u << 20);
    std::string_view text() const { return {m_buffer.get(), m_length}; }

private:
    void reserve(std::size_t capacity);
    std::unique_ptr<char[]> m_buffer;
    std::size_t m_capacity = 0;
    std::size_t m_length = 0;
};

// `path` (absolute, inside the root) as a path of the real file system.
std::string InRoot(const std::string& root, const std::string& path);

// `path` with every symbolic link resolved inside `root` (absolute links restart at the root),
// "." and ".." folded. Components that do not exist are kept as written, so a missing file
// still gets a normalised name. Empty for a relative or empty path or a link loop.
std::string ResolvePath(const std::string& root, const std::string& path);

// True when `path` inside the root is a regular file with an execute bit.
bool IsExecutableFile(const std::string& root, const std::string& path);

// The modification times of a set of files and folders, to tell when an index built from them
// must be rebuilt. A missing entry counts as a time of its own, so appearing or vanishing is a
// change too.
class SourceStamp {
public:
    void clear() { m_entries.clear(); }
    void add(const std::string& realPath);
    bool changed() const;

private:
    static std::int64_t modificationTime(const std::string& realPath);
    std::vector<std::pair<std::string, std::int64_t>> m_entries;
};

// The names in a folder of the real file system, sorted; empty when it cannot be read.
std::vector<std::string> FolderNames(const std::string& realFolder);

bool IsFolder(const std::string& realPath);

} // namespace os::desktop
