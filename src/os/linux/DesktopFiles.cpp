#include "os/linux/DesktopFiles.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <memory>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace os::desktop {

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
    if (this != &other) {
        reset();
        m_fd = std::exchange(other.m_fd, -1);
    }
    return *this;
}

UniqueFd::~UniqueFd() {
    reset();
}

void UniqueFd::reset() {
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

bool FileReader::read(const std::string& file, std::size_t limit) {
    m_length = 0;
    // Non-blocking, so that a FIFO in place of a file cannot stall the window: it is refused
    // below as no regular file. Reads of regular files are not affected.
    UniqueFd fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (!fd.valid())
        return false;
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    if (static_cast<std::uint64_t>(st.st_size) > limit)
        return false;
    // The size is only a hint: a file may grow or shrink while it is read.
    reserve(static_cast<std::size_t>(st.st_size) + 1);
    for (;;) {
        if (m_length == m_capacity) {
            if (m_capacity >= limit) {
                m_length = 0;
                return false;
            }
            reserve(std::min(limit, m_capacity * 2));
        }
        ssize_t got = ::read(fd.get(), m_buffer.get() + m_length, m_capacity - m_length);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            m_length = 0;
            return false;
        }
        if (got == 0)
            return true;
        m_length += static_cast<std::size_t>(got);
    }
}

void FileReader::reserve(std::size_t capacity) {
    if (capacity <= m_capacity)
        return;
    capacity = std::max(capacity, m_capacity * 2);
    auto larger = std::make_unique_for_overwrite<char[]>(capacity);
    if (m_length > 0)
        std::memcpy(larger.get(), m_buffer.get(), m_length);
    m_buffer = std::move(larger);
    m_capacity = capacity;
}

bool ReadFileText(const std::string& file, std::string& text, std::size_t limit) {
    FileReader reader;
    bool ok = reader.read(file, limit);
    text.assign(reader.text());
    return ok;
}

std::string InRoot(const std::string& root, const std::string& path) {
    if (root.empty() || root == "/")
        return path;
    return root + path;
}

namespace {

void PushComponents(std::vector<std::string>& pending, const std::string& path) {
    // Pushed in reverse so that the first component is taken first.
    std::size_t end = path.size();
    while (end > 0) {
        std::size_t slash = path.rfind('/', end - 1);
        std::size_t start = slash == std::string::npos ? 0 : slash + 1;
        if (end > start)
            pending.push_back(path.substr(start, end - start));
        if (slash == std::string::npos)
            break;
        end = slash;
    }
}

} // namespace

std::string ResolvePath(const std::string& root, const std::string& path) {
    if (path.empty() || path[0] != '/')
        return {};
    std::vector<std::string> pending;
    PushComponents(pending, path);
    std::string done;
    int links = 0;
    bool missing = false;
    while (!pending.empty()) {
        std::string part = std::move(pending.back());
        pending.pop_back();
        if (part == ".")
            continue;
        if (part == "..") {
            std::size_t slash = done.rfind('/');
            done.erase(slash == std::string::npos ? 0 : slash);
            continue;
        }
        std::string next = done + "/" + part;
        if (!missing) {
            struct stat st {};
            std::string real = InRoot(root, next);
            if (::lstat(real.c_str(), &st) != 0) {
                missing = true;
            } else if (S_ISLNK(st.st_mode)) {
                if (++links > 40)
                    return {};
                char target[PATH_MAX];
                ssize_t length = ::readlink(real.c_str(), target, sizeof target);
                if (length <= 0 || static_cast<std::size_t>(length) >= sizeof target)
                    return {};
                std::string link(target, static_cast<std::size_t>(length));
                if (link[0] == '/')
                    done.clear();
                PushComponents(pending, link);
                continue;
            }
        }
        done = std::move(next);
    }
    return done.empty() ? std::string("/") : done;
}

bool IsExecutableFile(const std::string& root, const std::string& path) {
    struct stat st {};
    std::string real = InRoot(root, path);
    return ::stat(real.c_str(), &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & 0111) != 0;
}

void SourceStamp::add(const std::string& realPath) {
    m_entries.emplace_back(realPath, modificationTime(realPath));
}

bool SourceStamp::changed() const {
    return std::any_of(m_entries.begin(), m_entries.end(), [](const auto& entry) {
        return modificationTime(entry.first) != entry.second;
    });
}

std::int64_t SourceStamp::modificationTime(const std::string& realPath) {
    struct stat st {};
    if (::stat(realPath.c_str(), &st) != 0)
        return -1;
    return static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
}

std::vector<std::string> FolderNames(const std::string& realFolder) {
    std::vector<std::string> names;
    std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(realFolder.c_str()), &::closedir);
    if (!dir)
        return names;
    while (const dirent* entry = ::readdir(dir.get())) {
        std::string name = entry->d_name;
        if (name != "." && name != "..")
            names.push_back(std::move(name));
    }
    std::sort(names.begin(), names.end());
    return names;
}

bool IsFolder(const std::string& realPath) {
    struct stat st {};
    return ::stat(realPath.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

} // namespace os::desktop
