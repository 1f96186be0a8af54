// The platform choice for a Wayland session, and the probe of a local X display against a real
// socket.
#include <cstddef>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "ui/qt/QtPlatformChoice.h"

namespace {

using qtui::SessionEnvironment;

TEST(QtPlatformChoice, XWaylandOnAWaylandSessionUnlessTheUserChose) {
    const struct {
        SessionEnvironment session;
        bool reachable;
        QByteArray expected;
    } cases[] = {
        // GNOME on Wayland with XWayland: the window goes to X, where it can stay on top.
        {{"", "wayland", "wayland-0", ":0"}, true, "xcb"},
        {{"", "", "wayland-0", ":1"}, true, "xcb"},
        {{"", "wayland", "", ":0"}, true, "xcb"},
        // The user's own choice always holds.
        {{"wayland", "wayland", "wayland-0", ":0"}, true, ""},
        {{"xcb", "x11", "", ":0"}, true, ""},
        // No X server, or none that answers: natively.
        {{"", "wayland", "wayland-0", ""}, true, ""},
        {{"", "wayland", "wayland-0", ":0"}, false, ""},
        // An X session is left to Qt.
        {{"", "x11", "", ":0"}, true, ""},
        {{"", "", "", ""}, true, ""},
    };
    for (const auto& c : cases) {
        int asked = 0;
        const QByteArray chosen = qtui::chooseQtPlatform(c.session, [&](const QByteArray& display) {
            ++asked;
            EXPECT_EQ(display, c.session.display);
            return c.reachable;
        });
        EXPECT_EQ(chosen, c.expected)
            << c.session.qtPlatform.constData() << "|" << c.session.sessionType.constData() << "|"
            << c.session.waylandDisplay.constData() << "|" << c.session.display.constData();
        EXPECT_LE(asked, 1);
    }
}

// An X display of its own: the abstract socket an X server listens on.
class FakeXServer {
public:
    explicit FakeXServer(unsigned number) {
        const std::string name = "/tmp/.X11-unix/X" + std::to_string(number);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path + 1, name.data(), name.size());
        m_fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        const auto length =
            static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
        m_listening = ::bind(m_fd, reinterpret_cast<const sockaddr*>(&address), length) == 0 &&
                      ::listen(m_fd, 4) == 0;
    }
    ~FakeXServer() { ::close(m_fd); }
    bool listening() const { return m_listening; }

private:
    int m_fd = -1;
    bool m_listening = false;
};

TEST(QtPlatformChoice, LocalDisplaysAreProbedOnTheirSocket) {
    const unsigned number = 60000 + static_cast<unsigned>(::getpid()) % 5000;
    const QByteArray display = ":" + QByteArray::number(number);
    EXPECT_FALSE(qtui::xDisplayReachable(display));
    {
        const FakeXServer server(number);
        ASSERT_TRUE(server.listening());
        EXPECT_TRUE(qtui::xDisplayReachable(display));
        EXPECT_TRUE(qtui::xDisplayReachable(display + ".0"));
        EXPECT_TRUE(qtui::xDisplayReachable("unix" + display));
    }
    EXPECT_FALSE(qtui::xDisplayReachable(display));
    // Another host's display is not probed; nonsense is no display.
    EXPECT_TRUE(qtui::xDisplayReachable("otherhost:0"));
    EXPECT_FALSE(qtui::xDisplayReachable("wayland-0"));
    EXPECT_FALSE(qtui::xDisplayReachable(":x"));
    EXPECT_FALSE(qtui::xDisplayReachable(""));
}

} // namespace
