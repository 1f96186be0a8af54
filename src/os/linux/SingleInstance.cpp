#include "os/SingleInstance.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace os {

namespace {

// A folder where only this user can create or replace files: a directory (not a link) owned
// by the effective user that no one else may write to. `privateOnly` asks that no one else may
// even enter it, as for the runtime folder.
bool SoundFolder(const std::string& folder, bool privateOnly) {
    struct stat status {};
    if (folder.empty() || folder[0] != '/' || ::lstat(folder.c_str(), &status) != 0)
        return false;
    const mode_t forbidden = privateOnly ? 077 : 022;
    return S_ISDIR(status.st_mode) && status.st_uid == ::geteuid() &&
           (status.st_mode & forbidden) == 0;
}

std::string Variable(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? std::string(value) : std::string();
}

// Creates `folder` (and its parent) with mode 0700 when missing; true when it then is sound.
bool PrivateFolderUnder(const std::string& parent, const std::string& folder) {
    if (parent.empty() || parent[0] != '/')
        return false;
    ::mkdir(parent.c_str(), 0700);
    ::mkdir(folder.c_str(), 0700);
    return SoundFolder(folder, false);
}

// The folder for the claim: the user's runtime folder, else a folder of the user's own in
// the user's cache folder. Empty when neither can be trusted.
std::string ClaimFolder() {
    if (const std::string runtime = Variable("XDG_RUNTIME_DIR"); SoundFolder(runtime, true))
        return runtime;
    std::string cache = Variable("XDG_CACHE_HOME");
    if (cache.empty() || cache[0] != '/') {
        const std::string home = Variable("HOME");
        cache = home.empty() ? std::string() : home + "/.cache";
    }
    const std::string folder = cache + "/kestrel";
    return PrivateFolderUnder(cache, folder) ? folder : std::string();
}

// The name as one file name: bytes other than letters, digits and ".-_@:" become %XX, so that
// a display such as "/run/user/1000/wayland-0" names no folder.
std::string FileNameOf(const std::string& name) {
    std::string file;
    for (const char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        const bool plain = (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') ||
                           (byte >= '0' && byte <= '9') || byte == '.' || byte == '-' ||
                           byte == '_' || byte == '@' || byte == ':';
        if (plain) {
            file += c;
        } else {
            char escaped[4];
            std::snprintf(escaped, sizeof escaped, "%%%02X", byte);
            file += escaped;
        }
    }
    return file + ".lock";
}

} // namespace

SingleInstance::SingleInstance(const std::string& name) {
    const std::string folder = ClaimFolder();
    const std::string file = FileNameOf(name);
    if (folder.empty() || name.empty() || file.size() > 255)
        return;
    const std::string path = folder + "/" + file;
    m_fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY, 0600);
    if (m_fd < 0)
        return;
    struct stat status {};
    const bool ours =
        ::fstat(m_fd, &status) == 0 && S_ISREG(status.st_mode) && status.st_uid == ::geteuid();
    if (ours) {
        if (::flock(m_fd, LOCK_EX | LOCK_NB) == 0)
            return;
        m_alreadyRunning = (errno == EWOULDBLOCK);
    }
    ::close(m_fd);
    m_fd = -1;
}

SingleInstance::~SingleInstance() {
    if (m_fd >= 0)
        ::close(m_fd);
}

} // namespace os
