#pragma once
// Which Qt platform the window runs on. On a Wayland session a native window can be neither
// kept on top nor placed in the centre, so the default option "始终保持在其他窗口前端" would do
// nothing there: with an X server (XWayland) reachable the window runs on it instead.
#include <functional>

#include <QByteArray>

namespace qtui {

// What the choice depends on: the environment of the session.
struct SessionEnvironment {
    QByteArray qtPlatform;     // QT_QPA_PLATFORM: the user's own choice, always kept
    QByteArray sessionType;    // XDG_SESSION_TYPE
    QByteArray waylandDisplay; // WAYLAND_DISPLAY
    QByteArray display;        // DISPLAY
};

// "xcb" when the session is Wayland, the user chose no platform and `xServerReachable` says
// the X display answers; empty to leave the choice to Qt (natively on Wayland without X).
QByteArray chooseQtPlatform(const SessionEnvironment& session,
                            const std::function<bool(const QByteArray& display)>& xServerReachable);

// Whether a local X display (":0", "unix:0.0") accepts connections on its socket; a display
// on another host is taken as reachable.
bool xDisplayReachable(const QByteArray& display);

// Reads the environment and sets QT_QPA_PLATFORM to the choice; call before the application
// object exists.
void applyQtPlatformChoice();

} // namespace qtui
