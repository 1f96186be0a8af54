#include "os/SettingsPath.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include <fcntl.h>
#include <limits.h>
#include <pwd.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

namespace os {

namespace {

class Fd {
public:
    explicit Fd(int fd) : m_fd(fd) {}
    ~Fd() { reset(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }
    // Closes now and tells whether the close succeeded (a late write error shows up here).
    bool reset() {
        if (m_fd < 0)
            return true;
        const int fd = m_fd;
        m_fd = -1;
        return ::close(fd) == 0;
    }

private:
    int m_fd;
};

std::string withoutTrailingSlashes(std::string path) {
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

std::string homeFolder() {
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] == '/')
        return home;
    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    if (size < 1024)
        size = 16384;
    std::vector<char> buffer(static_cast<std::size_t>(size));
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found) != 0 ||
        found == nullptr || found->pw_dir == nullptr || found->pw_dir[0] != '/')
        return {};
    return found->pw_dir;
}

std::string parentFolder(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return "/";
    return path.substr(0, slash);
}

std::string baseName(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Follows symbolic links to the name that is really to be replaced; `throughLink` tells
// whether there was one. A link must lead to an existing file: a dangling one is refused, so
// that nothing is created where it points.
bool resolveLinks(std::string& path, bool& throughLink) {
    throughLink = false;
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0)
            return errno == ENOENT && !throughLink;
        if (!S_ISLNK(st.st_mode))
            return true;
        throughLink = true;
        std::string target(PATH_MAX, '\0');
        const ssize_t length = ::readlink(path.c_str(), target.data(), target.size());
        if (length < 0 || static_cast<std::size_t>(length) >= target.size())
            return false;
        target.resize(static_cast<std::size_t>(length));
        if (target.empty())
            return false;
        path = target.front() == '/' ? target : parentFolder(path) + "/" + target;
    }
    return false;
}

bool makeFolders(const std::string& folder) {
    struct stat st {};
    if (::stat(folder.c_str(), &st) == 0)
        return S_ISDIR(st.st_mode);
    if (errno != ENOENT)
        return false;
    const std::string parent = parentFolder(folder);
    if (parent != folder && !makeFolders(parent))
        return false;
    if (::mkdir(folder.c_str(), 0700) == 0)
        return true;
    // Someone else may have made it meanwhile.
    return errno == EEXIST && ::stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// A fresh name for the temporary file beside the settings file.
std::string temporaryName() {
    std::uint64_t random = 0;
    if (::getrandom(&random, sizeof random, GRND_NONBLOCK) != sizeof random) {
        timespec now{};
        ::clock_gettime(CLOCK_MONOTONIC, &now);
        random = static_cast<std::uint64_t>(now.tv_nsec) ^
                 static_cast<std::uint64_t>(now.tv_sec) << 30 ^
                 static_cast<std::uint64_t>(::getpid()) << 40;
    }
    static const char digits[] = "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";
    std::string name = ".Kestrel.ini.";
    for (int i = 0; i < 8; ++i, random /= 62)
        name += digits[random % 62];
    return name;
}

bool writeAll(int fd, const std::string& data) {
    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t written = ::write(fd, data.data() + done, data.size() - done);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        done += static_cast<std::size_t>(written);
    }
    return true;
}

} // namespace

std::string SettingsFilePath() {
    std::string base;
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    // A relative XDG_CONFIG_HOME is invalid and must be ignored.
    if (xdg != nullptr && xdg[0] == '/') {
        base = withoutTrailingSlashes(xdg);
    } else {
        const std::string home = homeFolder();
        if (home.empty())
            return {};
        base = withoutTrailingSlashes(home);
        if (base != "/")
            base += '/';
        base += ".config";
    }
    if (base != "/")
        base += '/';
    return base + "kestrel/Kestrel.ini";
}

FileReadResult ReadWholeFile(const std::string& path, std::string& contents) {
    contents.clear();
    if (path.empty())
        return FileReadResult::Missing;
    Fd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (!file.valid())
        return errno == ENOENT || errno == ENOTDIR ? FileReadResult::Missing
                                                   : FileReadResult::Failed;
    struct stat st {};
    if (::fstat(file.get(), &st) != 0 || !S_ISREG(st.st_mode))
        return FileReadResult::Failed;
    char buffer[8192];
    for (;;) {
        const ssize_t got = ::read(file.get(), buffer, sizeof buffer);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            contents.clear();
            return FileReadResult::Failed;
        }
        if (got == 0)
            break;
        contents.append(buffer, static_cast<std::size_t>(got));
    }
    return FileReadResult::Read;
}

bool ReplaceWholeFile(const std::string& path, const std::string& contents) {
    if (path.empty())
        return false;
    std::string target = path;
    bool throughLink = false;
    if (!resolveLinks(target, throughLink))
        return false;
    const std::string folder = parentFolder(target);
    // A link's target exists, so its folder does; none is made on the way to it.
    if (!throughLink && !makeFolders(folder))
        return false;
    // Everything below goes through the folder's descriptor, so that a folder swapped for a
    // link meanwhile cannot redirect the write.
    Fd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dir.valid())
        return false;
    const std::string name = baseName(target);

    mode_t mode = 0600;
    struct stat st {};
    if (::fstatat(dir.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
        // A file marked read-only stays as it is, although its folder would allow a rename.
        // Through a link only a regular file of this user is replaced: running as root with
        // another user's settings, a link to a system file must not have that file rewritten.
        if (!S_ISREG(st.st_mode) || (throughLink && st.st_uid != ::geteuid()) ||
            ::faccessat(dir.get(), name.c_str(), W_OK, 0) != 0)
            return false;
        mode = st.st_mode & 07777;
    } else if (errno != ENOENT || throughLink) {
        return false;
    }

    std::string temporary;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temporary = temporaryName();
        fd = ::openat(dir.get(), temporary.c_str(),
                      O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd < 0 && errno != EEXIST)
            return false;
    }
    Fd file(fd);
    if (!file.valid())
        return false;
    const bool written = writeAll(file.get(), contents) && ::fchmod(file.get(), mode) == 0 &&
                         ::fsync(file.get()) == 0;
    const bool closed = file.reset();
    if (!written || !closed ||
        ::renameat(dir.get(), temporary.c_str(), dir.get(), name.c_str()) != 0) {
        ::unlinkat(dir.get(), temporary.c_str(), 0);
        return false;
    }
    // Make the rename itself durable; the new file is in place already, so a folder that
    // cannot be synced (some file systems refuse) does not make the write a failure.
    static_cast<void>(::fsync(dir.get()));
    return true;
}

} // namespace os
