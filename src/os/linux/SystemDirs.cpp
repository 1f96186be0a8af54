#include "os/SystemDirs.h"

#include <cerrno>
#include <string>
#include <vector>

#include <unistd.h>

namespace os {

std::vector<std::string> SystemDirectories() {
    // With a merged /usr the last two are links to the first two; /proc reports the resolved
    // path of an executable, so the /usr forms are what usually matches.
    return {"/usr/sbin", "/sbin", "/usr/lib/systemd", "/lib/systemd"};
}

std::string ExecutableDir() {
    std::string path(256, '\0');
    for (;;) {
        const ssize_t length = ::readlink("/proc/self/exe", path.data(), path.size());
        if (length < 0)
            return {};
        if (static_cast<std::size_t>(length) < path.size()) {
            path.resize(static_cast<std::size_t>(length));
            break;
        }
        if (path.size() >= 1024 * 1024)
            return {};
        path.resize(path.size() * 2);
    }
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return {};
    return path.substr(0, slash + 1);
}

} // namespace os
