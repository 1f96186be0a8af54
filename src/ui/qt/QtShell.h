#pragma once
// Shell requests and the clipboard in Qt: the desktop's default handler (QDesktopServices) and
// the file manager over D-Bus (org.freedesktop.FileManager1).
#include <functional>
#include <string>

#include <QString>
#include <QUrl>

#include "ui/ShellRequests.h"

namespace qtui {

class QtShell : public ShellRequests {
public:
    using UrlOpener = std::function<bool(const QUrl&)>;

    // `openUrl` stands in for QDesktopServices::openUrl (tests record the calls).
    explicit QtShell(UrlOpener openUrl = {}, int dbusTimeoutMs = 1500);

    void openDocument(const std::string& urlOrPath) override;
    void openHelpSection(const std::string& helpFile, const std::string& section) override;
    // With no file manager answering on the session bus, or no session bus (this never starts
    // one), the containing folder is opened with the desktop's default handler instead.
    void selectInFileManager(const std::string& path) override;
    void showProperties(const std::string& path) override;
    // The D-Bus call, which may wait for the file manager up to the timeout; the folder is
    // opened when it is refused.
    std::function<bool()> fileManagerJob(FileManagerRequest request,
                                         const std::string& path) override;
    void fileManagerRefused(FileManagerRequest request, const std::string& path) override;

    // "file://" + the path's bytes percent-encoded: exact for any bytes a Linux path may hold.
    static QString fileUri(const std::string& path);
    // The folder part of `path`, or "/" for a file in the root.
    static std::string containingFolder(const std::string& path);

private:
    // Safe on any thread.
    static bool callFileManager(const char* method, const std::string& path, int timeoutMs);
    void openFolderOf(const std::string& path) const;

    UrlOpener m_openUrl;
    int m_dbusTimeoutMs;
};

// Without a session bus, a connection attempt would start one (dbus-launch) that outlives the
// program and writes under ~/.dbus. Call before the application object: names the user's
// bus in the runtime folder when there is one, else disables the session bus for this process
// and the programs it starts. A bus address already set is kept.
void keepSessionBusFromStarting();

class QtClipboardText : public ClipboardText {
public:
    void setText(const std::string& text) override;
};

} // namespace qtui
