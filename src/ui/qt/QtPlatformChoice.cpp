#include "ui/qt/QtPlatformChoice.h"

#include <cstddef>
#include <cstring>
#include <string>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QtGlobal>

namespace qtui {

namespace {

bool connects(const std::string& path, bool abstract) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::size_t offset = abstract ? 1 : 0;
    if (path.size() + offset >= sizeof address.sun_path)
        return false;
    std::memcpy(address.sun_path + offset, path.data(), path.size());
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    const auto length =
        static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + offset + path.size());
    const bool connected = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), length) == 0;
    ::close(fd);
    return connected;
}

} // namespace

QByteArray
chooseQtPlatform(const SessionEnvironment& session,
                 const std::function<bool(const QByteArray& display)>& xServerReachable) {
    if (!session.qtPlatform.isEmpty())
        return {};
    const bool wayland = session.sessionType == "wayland" || !session.waylandDisplay.isEmpty();
    if (!wayland || session.display.isEmpty())
        return {};
    return xServerReachable && xServerReachable(session.display) ? QByteArray("xcb") : QByteArray();
}

bool xDisplayReachable(const QByteArray& display) {
    const qsizetype colon = display.lastIndexOf(':');
    if (colon < 0)
        return false;
    const QByteArray host = display.left(colon);
    if (!host.isEmpty() && host != "unix")
        return true;
    QByteArray number = display.mid(colon + 1);
    if (const qsizetype dot = number.indexOf('.'); dot >= 0)
        number.truncate(dot);
    bool valid = false;
    number.toUInt(&valid);
    if (!valid)
        return false;
    // X servers listen on an abstract socket and on the file in /tmp/.X11-unix.
    const std::string path = "/tmp/.X11-unix/X" + number.toStdString();
    return connects(path, true) || connects(path, false);
}

void applyQtPlatformChoice() {
    const SessionEnvironment session{qgetenv("QT_QPA_PLATFORM"), qgetenv("XDG_SESSION_TYPE"),
                                     qgetenv("WAYLAND_DISPLAY"), qgetenv("DISPLAY")};
    const QByteArray platform = chooseQtPlatform(session, xDisplayReachable);
    if (!platform.isEmpty())
        qputenv("QT_QPA_PLATFORM", platform);
}

} // namespace qtui
