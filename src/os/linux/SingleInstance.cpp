#include "os/SingleInstance.h"

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <string>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace os {

SingleInstance::SingleInstance(const std::string& name) {
    // The user ID is part of the name: each user of a shared machine runs one instance.
    const std::string key = name + "-" + std::to_string(::getuid());

    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    // Abstract namespace: leading NUL, no file in the file system.
    if (key.size() + 1 > sizeof(address.sun_path))
        return;
    std::memcpy(address.sun_path + 1, key.data(), key.size());
    const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + key.size());

    m_fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_fd < 0)
        return;
    if (::bind(m_fd, reinterpret_cast<const sockaddr*>(&address), length) == 0)
        return;
    m_alreadyRunning = (errno == EADDRINUSE);
    ::close(m_fd);
    m_fd = -1;
}

SingleInstance::~SingleInstance() {
    if (m_fd >= 0)
        ::close(m_fd);
}

} // namespace os
