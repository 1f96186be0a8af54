#include "ui/qt/QtShell.h"

#include <QByteArray>
#include <QClipboard>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDesktopServices>
#include <QFile>
#include <QGuiApplication>
#include <QStringList>
#include <QVariant>

#include <sys/stat.h>
#include <unistd.h>

namespace {

const char* const FileManagerService = "org.freedesktop.FileManager1";
const char* const FileManagerPath = "/org/freedesktop/FileManager1";
const char* const FileManagerInterface = "org.freedesktop.FileManager1";

QUrl localFileUrl(const std::string& path) {
    return QUrl::fromLocalFile(QFile::decodeName(QByteArray::fromStdString(path)));
}

} // namespace

namespace qtui {

QtShell::QtShell(UrlOpener openUrl, int dbusTimeoutMs)
    : m_openUrl(std::move(openUrl)), m_dbusTimeoutMs(dbusTimeoutMs) {
    if (!m_openUrl)
        m_openUrl = [](const QUrl& url) { return QDesktopServices::openUrl(url); };
}

void QtShell::openDocument(const std::string& urlOrPath) {
    if (urlOrPath.empty())
        return;
    if (urlOrPath.front() == '/')
        m_openUrl(localFileUrl(urlOrPath));
    else
        m_openUrl(QUrl(QString::fromStdString(urlOrPath)));
}

void QtShell::openHelpSection(const std::string& helpFile, const std::string& section) {
    if (helpFile.empty())
        return;
    QUrl url = localFileUrl(helpFile);
    url.setFragment(QString::fromStdString(section));
    m_openUrl(url);
}

void QtShell::selectInFileManager(const std::string& path) {
    if (path.empty())
        return;
    if (!callFileManager("ShowItems", path, m_dbusTimeoutMs))
        openFolderOf(path);
}

void QtShell::showProperties(const std::string& path) {
    if (path.empty())
        return;
    if (!callFileManager("ShowItemProperties", path, m_dbusTimeoutMs))
        openFolderOf(path);
}

std::function<bool()> QtShell::fileManagerJob(FileManagerRequest request, const std::string& path) {
    // Without a bus the request is quick: the folder opens at once.
    if (path.empty() || qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
        return {};
    const char* method =
        request == FileManagerRequest::SelectItem ? "ShowItems" : "ShowItemProperties";
    return [method, path, timeout = m_dbusTimeoutMs] {
        return callFileManager(method, path, timeout);
    };
}

void QtShell::fileManagerRefused(FileManagerRequest /*request*/, const std::string& path) {
    openFolderOf(path);
}

QString QtShell::fileUri(const std::string& path) {
    const QByteArray encoded = QByteArray::fromStdString(path).toPercentEncoding("/");
    return QStringLiteral("file://") + QString::fromLatin1(encoded);
}

std::string QtShell::containingFolder(const std::string& path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return std::string();
    if (slash == 0)
        return "/";
    return path.substr(0, slash);
}

bool QtShell::callFileManager(const char* method, const std::string& path, int timeoutMs) {
    // An unset address is where the bus library would start a bus of its own.
    if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
        return false;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return false;
    QDBusMessage call = QDBusMessage::createMethodCall(
        QString::fromLatin1(FileManagerService), QString::fromLatin1(FileManagerPath),
        QString::fromLatin1(FileManagerInterface), QString::fromLatin1(method));
    // The second argument is the startup notification ID, which we do not have.
    call << QStringList{fileUri(path)} << QString();
    const QDBusMessage reply = bus.call(call, QDBus::Block, timeoutMs);
    return reply.type() == QDBusMessage::ReplyMessage;
}

void QtShell::openFolderOf(const std::string& path) const {
    const std::string folder = containingFolder(path);
    if (!folder.empty())
        m_openUrl(localFileUrl(folder));
}

void keepSessionBusFromStarting() {
    if (!qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
        return;
    QByteArray address = QByteArrayLiteral("disabled:");
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    struct stat status {};
    if (runtime.startsWith('/')) {
        const QByteArray socket = runtime + "/bus";
        if (::stat(socket.constData(), &status) == 0 && S_ISSOCK(status.st_mode) &&
            status.st_uid == ::geteuid())
            address = "unix:path=" + socket.toPercentEncoding("/.-_", "~");
    }
    qputenv("DBUS_SESSION_BUS_ADDRESS", address);
}

void QtClipboardText::setText(const std::string& text) {
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (clipboard)
        clipboard->setText(QString::fromStdString(text), QClipboard::Clipboard);
}

} // namespace qtui
