// The Qt pieces of the commands: the file manager over a private D-Bus session bus, the
// fallback to the default handler, the clipboard, and the details dialog on the offscreen
// platform.
#include <cstdlib>
#include <cstring>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <QApplication>
#include <QClipboard>
#include <QColor>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QProcess>
#include <QPushButton>
#include <QSemaphore>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QUrl>

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "list/TMyRec.h"
#include "ui/UnitFormProcInfo.h"
#include "ui/qt/QtFormProcInfo.h"
#include "ui/qt/QtShell.h"

using qtui::QtClipboardText;
using qtui::QtFormProcInfo;
using qtui::QtShell;

namespace {

// A private session bus for this test program, so that nothing reaches the desktop's own.
QProcess* g_busDaemon = nullptr;
bool g_busStarted = false;
// The tests that talk over the bus fail, not pass unseen, when it could not be started.
#define ASSERT_PRIVATE_BUS()                                                                       \
    ASSERT_TRUE(g_busStarted) << "the private session bus (dbus-daemon) did not start"

bool startPrivateBus() {
    g_busDaemon = new QProcess;
    g_busDaemon->start(QStringLiteral("dbus-daemon"),
                       {QStringLiteral("--session"), QStringLiteral("--nofork"),
                        QStringLiteral("--print-address=1")});
    if (!g_busDaemon->waitForStarted(10000))
        return false;
    QByteArray address;
    while (!address.contains('\n') && g_busDaemon->waitForReadyRead(10000))
        address += g_busDaemon->readAllStandardOutput();
    address = address.trimmed();
    if (address.isEmpty())
        return false;
    ::setenv("DBUS_SESSION_BUS_ADDRESS", address.constData(), 1);
    return true;
}

struct FileManagerCall {
    QString member;
    QStringList uris;
};

// org.freedesktop.FileManager1 on its own connection and thread, recording each call.
class FakeFileManager {
public:
    FakeFileManager() {
        QSemaphore ready;
        m_thread = QThread::create([this, &ready] {
            QDBusConnection bus = QDBusConnection::connectToBus(
                QDBusConnection::SessionBus, QStringLiteral("fake-file-manager"));
            Object object(*this);
            m_registered = bus.registerVirtualObject(
                               QStringLiteral("/org/freedesktop/FileManager1"), &object) &&
                           bus.registerService(QStringLiteral("org.freedesktop.FileManager1"));
            ready.release();
            QEventLoop loop;
            loop.exec();
            bus.unregisterService(QStringLiteral("org.freedesktop.FileManager1"));
            bus.unregisterObject(QStringLiteral("/org/freedesktop/FileManager1"));
            QDBusConnection::disconnectFromBus(QStringLiteral("fake-file-manager"));
        });
        m_thread->start();
        ready.acquire();
    }
    ~FakeFileManager() {
        m_thread->quit();
        m_thread->wait();
        delete m_thread;
    }
    bool registered() const { return m_registered; }
    std::vector<FileManagerCall> calls() {
        const std::lock_guard<std::mutex> lock(m_mutex);
        return m_calls;
    }

private:
    class Object : public QDBusVirtualObject {
    public:
        explicit Object(FakeFileManager& owner) : m_owner(owner) {}
        QString introspect(const QString&) const override { return QString(); }
        bool handleMessage(const QDBusMessage& message,
                           const QDBusConnection& connection) override {
            const QList<QVariant> args = message.arguments();
            {
                const std::lock_guard<std::mutex> lock(m_owner.m_mutex);
                m_owner.m_calls.push_back({message.member(), args.isEmpty()
                                                                 ? QStringList()
                                                                 : args.front().toStringList()});
            }
            connection.send(message.createReply());
            return true;
        }

    private:
        FakeFileManager& m_owner;
    };

    QThread* m_thread = nullptr;
    bool m_registered = false;
    std::mutex m_mutex;
    std::vector<FileManagerCall> m_calls;
};

struct OpenedUrls {
    std::vector<QUrl> urls;
    QtShell::UrlOpener opener() {
        return [this](const QUrl& url) {
            urls.push_back(url);
            return true;
        };
    }
};

TEST(QtShell, FileUriEncodesEveryOddByte) {
    EXPECT_EQ(QtShell::fileUri("/usr/bin/python3"), QStringLiteral("file:///usr/bin/python3"));
    EXPECT_EQ(QtShell::fileUri("/opt/my app/程序"),
              QStringLiteral("file:///opt/my%20app/%E7%A8%8B%E5%BA%8F"));
    EXPECT_EQ(QtShell::fileUri(std::string("/tmp/a\xff#?%b", 11)),
              QStringLiteral("file:///tmp/a%FF%23%3F%25b"));
}

TEST(QtShell, ContainingFolder) {
    EXPECT_EQ(QtShell::containingFolder("/usr/bin/ls"), "/usr/bin");
    EXPECT_EQ(QtShell::containingFolder("/init"), "/");
    EXPECT_EQ(QtShell::containingFolder("relative"), "");
}

TEST(QtShell, FileManagerIsAskedOverTheSessionBus) {
    ASSERT_PRIVATE_BUS();
    FakeFileManager fileManager;
    ASSERT_TRUE(fileManager.registered());
    OpenedUrls opened;
    QtShell shell(opened.opener(), 5000);

    shell.selectInFileManager("/opt/my app/server");
    shell.showProperties("/usr/sbin/sshd");

    const auto calls = fileManager.calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].member, QStringLiteral("ShowItems"));
    EXPECT_EQ(calls[0].uris, QStringList{QStringLiteral("file:///opt/my%20app/server")});
    EXPECT_EQ(calls[1].member, QStringLiteral("ShowItemProperties"));
    EXPECT_EQ(calls[1].uris, QStringList{QStringLiteral("file:///usr/sbin/sshd")});
    EXPECT_TRUE(opened.urls.empty()) << "no fallback while the file manager answers";
}

TEST(QtShell, WithoutAFileManagerTheFolderIsOpened) {
    ASSERT_PRIVATE_BUS();
    ASSERT_FALSE(QDBusConnection::sessionBus().interface()->isServiceRegistered(
        QStringLiteral("org.freedesktop.FileManager1")));
    OpenedUrls opened;
    QtShell shell(opened.opener(), 2000);

    shell.selectInFileManager("/opt/my app/server");
    shell.showProperties("/usr/sbin/sshd");
    shell.selectInFileManager("");

    ASSERT_EQ(opened.urls.size(), 2u);
    EXPECT_EQ(opened.urls[0], QUrl::fromLocalFile(QStringLiteral("/opt/my app")));
    EXPECT_EQ(opened.urls[1], QUrl::fromLocalFile(QStringLiteral("/usr/sbin")));
}

// The window runs the D-Bus call as a job on its worker's thread, and the fallback on its own.
TEST(QtShell, TheFileManagersJobRunsOnAnotherThread) {
    ASSERT_PRIVATE_BUS();
    OpenedUrls opened;
    QtShell shell(opened.opener(), 5000);
    using Request = ShellRequests::FileManagerRequest;
    EXPECT_FALSE(shell.fileManagerJob(Request::SelectItem, "")) << "nothing to ask";
    {
        FakeFileManager fileManager;
        ASSERT_TRUE(fileManager.registered());
        std::function<bool()> job = shell.fileManagerJob(Request::ShowProperties, "/usr/sbin/sshd");
        ASSERT_TRUE(job);
        std::future<bool> taken = std::async(std::launch::async, job);
        EXPECT_TRUE(taken.get());
        const auto calls = fileManager.calls();
        ASSERT_EQ(calls.size(), 1u);
        EXPECT_EQ(calls[0].member, QStringLiteral("ShowItemProperties"));
        EXPECT_EQ(calls[0].uris, QStringList{QStringLiteral("file:///usr/sbin/sshd")});
    }
    // No file manager: the job says so, and the refusal opens the folder.
    std::function<bool()> job = shell.fileManagerJob(Request::SelectItem, "/opt/my app/server");
    ASSERT_TRUE(job);
    EXPECT_FALSE(std::async(std::launch::async, job).get());
    EXPECT_TRUE(opened.urls.empty());
    shell.fileManagerRefused(Request::SelectItem, "/opt/my app/server");
    ASSERT_EQ(opened.urls.size(), 1u);
    EXPECT_EQ(opened.urls[0], QUrl::fromLocalFile(QStringLiteral("/opt/my app")));
}

// Without a bus address the program names the user's bus in the runtime folder or disables
// the session bus, so that no connection attempt starts a bus of its own.
TEST(QtShell, NoBusAddressNeverLeadsToAStartedBus) {
    const QByteArray savedAddress = qgetenv("DBUS_SESSION_BUS_ADDRESS");
    const QByteArray savedRuntime = qgetenv("XDG_RUNTIME_DIR");
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString runtime = dir.filePath(QStringLiteral("run~1"));
    ASSERT_TRUE(QDir().mkdir(runtime));
    const QString empty = dir.filePath(QStringLiteral("empty"));
    ASSERT_TRUE(QDir().mkdir(empty));
    const QByteArray socketPath = QFile::encodeName(runtime + QStringLiteral("/bus"));
    const int bus = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    ASSERT_LT(std::size_t(socketPath.size()), sizeof address.sun_path);
    std::memcpy(address.sun_path, socketPath.constData(), std::size_t(socketPath.size()));
    ASSERT_EQ(::bind(bus, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);

    const struct {
        QByteArray address;
        QString runtime;
        QByteArray expected;
    } cases[] = {
        {"unix:path=/run/user/1000/bus", runtime, "unix:path=/run/user/1000/bus"},
        {"", runtime, "unix:path=" + QFile::encodeName(dir.path()) + "/run%7E1/bus"},
        {"", empty, "disabled:"},
        {"", QString(), "disabled:"},
    };
    for (const auto& c : cases) {
        qputenv("DBUS_SESSION_BUS_ADDRESS", c.address);
        if (c.runtime.isEmpty())
            qunsetenv("XDG_RUNTIME_DIR");
        else
            qputenv("XDG_RUNTIME_DIR", QFile::encodeName(c.runtime));
        qtui::keepSessionBusFromStarting();
        EXPECT_EQ(qgetenv("DBUS_SESSION_BUS_ADDRESS"), c.expected) << c.runtime.toStdString();
    }
    // With no address the file manager is not asked at all: the folder is opened.
    qunsetenv("DBUS_SESSION_BUS_ADDRESS");
    OpenedUrls opened;
    QtShell shell(opened.opener(), 2000);
    shell.selectInFileManager("/opt/my app/server");
    ASSERT_EQ(opened.urls.size(), 1u);
    EXPECT_EQ(opened.urls[0], QUrl::fromLocalFile(QStringLiteral("/opt/my app")));

    ::close(bus);
    qputenv("DBUS_SESSION_BUS_ADDRESS", savedAddress);
    if (savedRuntime.isNull())
        qunsetenv("XDG_RUNTIME_DIR");
    else
        qputenv("XDG_RUNTIME_DIR", savedRuntime);
}

TEST(QtShell, DocumentsGoToTheDefaultHandler) {
    OpenedUrls opened;
    QtShell shell(opened.opener());
    shell.openDocument("https://kestrel.example.org/update");
    shell.openDocument("/usr/share/kestrel/KestrelHelp.html");
    shell.openDocument("");
    ASSERT_EQ(opened.urls.size(), 2u);
    EXPECT_EQ(opened.urls[0], QUrl(QStringLiteral("https://kestrel.example.org/update")));
    EXPECT_EQ(opened.urls[1],
              QUrl::fromLocalFile(QStringLiteral("/usr/share/kestrel/KestrelHelp.html")));
}

TEST(QtShell, HelpSectionsOpenTheFileAtTheirAnchor) {
    OpenedUrls opened;
    QtShell shell(opened.opener());
    shell.openHelpSection("/usr/share/kestrel/Kestrel Help#1.html", "about");
    shell.openHelpSection("", "about");
    ASSERT_EQ(opened.urls.size(), 1u);
    EXPECT_EQ(opened.urls[0].toLocalFile(),
              QStringLiteral("/usr/share/kestrel/Kestrel Help#1.html"));
    EXPECT_EQ(opened.urls[0].fragment(), QStringLiteral("about"));
}

TEST(QtClipboardText, KeepsTheTextWithItsLineEnds) {
    QtClipboardText clipboard;
    const std::string text = "\xE2\x80\x95\r\n程序名称:x\r\n";
    clipboard.setText(text);
    EXPECT_EQ(QGuiApplication::clipboard()->text().toStdString(), text);
}

class RecordingShell : public ShellRequests {
public:
    void openDocument(const std::string&) override {}
    void selectInFileManager(const std::string& path) override { selected.push_back(path); }
    void showProperties(const std::string&) override {}
    std::vector<std::string> selected;
};

TMyRec rowOf(const std::string& path) {
    TMyRec rec;
    rec.Protocol = "TCP";
    rec.PID = "4242";
    rec.ProcName = "server";
    rec.ProcPath = path;
    rec.FileDesc = "测试服务器";
    rec.Company = "Example";
    return rec;
}

TEST(QtFormProcInfo, ShowsTheRowAndRunsItsLinkAndButton) {
    QPixmap red(32, 32);
    red.fill(Qt::red);
    // Declared before the window logic that refers to it, so that it is freed after it.
    const auto dialog = std::make_unique<QtFormProcInfo>(
        nullptr, [&red](int index) { return index == 3 ? red : QPixmap(); });
    RecordingShell shell;
    TFormProcInfo form(*dialog, shell);

    bool inspected = false;
    QTimer::singleShot(0, dialog.get(), [&] {
        inspected = true;
        EXPECT_TRUE(dialog->isModal());
        EXPECT_EQ(dialog->windowTitle(), QStringLiteral("进程详细信息"));
        EXPECT_EQ(dialog->size(), QSize(425, 237));
        EXPECT_EQ(dialog->focusWidget(), dialog->control(ProcInfoControl::BTNOK));

        const auto text = [&](ProcInfoControl c) {
            return qobject_cast<QLabel*>(dialog->control(c))->text();
        };
        EXPECT_EQ(text(ProcInfoControl::LabExe), QStringLiteral("server"));
        EXPECT_EQ(text(ProcInfoControl::LabExeDes), QStringLiteral("测试服务器  "));
        EXPECT_EQ(text(ProcInfoControl::LabPID), QStringLiteral("PID:4242"));
        EXPECT_EQ(text(ProcInfoControl::Labcomp), QStringLiteral("Example "));
        EXPECT_EQ(text(ProcInfoControl::Label5), QStringLiteral("文件路径: "));
        EXPECT_FALSE(dialog->control(ProcInfoControl::LabExeDes)->isEnabled());
        auto* path = qobject_cast<QLineEdit*>(dialog->control(ProcInfoControl::EPath));
        EXPECT_EQ(path->text(), QStringLiteral("/no/such dir/server"));
        EXPECT_TRUE(path->isReadOnly());
        EXPECT_EQ(path->geometry(), QRect(8, 140, 409, 20));
        EXPECT_EQ(dialog->control(ProcInfoControl::BTNOK)->geometry(), QRect(321, 202, 97, 26));
        EXPECT_EQ(dialog->control(ProcInfoControl::LabExe)->pos(), QPoint(80, 16));
        // Every control at its place: those of a fixed size in full, labels at their corner.
        for (const ProcInfoPlacement& place : ProcInfoLook::Placements()) {
            const QWidget* widget = dialog->control(place.control);
            ASSERT_NE(widget, nullptr) << static_cast<int>(place.control);
            if (place.width > 0) {
                EXPECT_EQ(widget->geometry(),
                          QRect(place.left, place.top, place.width, place.height))
                    << static_cast<int>(place.control);
            } else {
                EXPECT_EQ(widget->pos(), QPoint(place.left, place.top))
                    << static_cast<int>(place.control);
            }
        }

        const QImage icon =
            qobject_cast<QLabel*>(dialog->control(ProcInfoControl::Image1))->pixmap().toImage();
        EXPECT_EQ(icon.size(), QSize(32, 32));
        EXPECT_EQ(QColor(icon.pixel(1, 1)), QColor(Qt::red));
        EXPECT_EQ(qAlpha(icon.pixel(0, 0)), 0);

        QTest::mouseClick(dialog->control(ProcInfoControl::LabLocate), Qt::LeftButton);
        QTest::mouseClick(qobject_cast<QPushButton*>(dialog->control(ProcInfoControl::BTNOK)),
                          Qt::LeftButton);
    });
    form.Show(rowOf("/no/such dir/server"), 3);

    EXPECT_TRUE(inspected);
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(shell.selected, std::vector<std::string>{"/no/such dir/server"});
}

TEST(QtFormProcInfo, NoIconLeavesThePictureEmpty) {
    const auto dialog = std::make_unique<QtFormProcInfo>(nullptr, [](int) { return QPixmap(); });
    RecordingShell shell;
    TFormProcInfo form(*dialog, shell);
    QTimer::singleShot(0, dialog.get(), [&] {
        const QImage icon =
            qobject_cast<QLabel*>(dialog->control(ProcInfoControl::Image1))->pixmap().toImage();
        EXPECT_EQ(qAlpha(icon.pixel(1, 1)), 0);
        dialog->reject();
    });
    form.Show(rowOf("/usr/bin/x"), -1);
}

} // namespace

int main(int argc, char** argv) {
    if (!std::getenv("QT_QPA_PLATFORM"))
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    g_busStarted = startPrivateBus();
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    if (g_busDaemon) {
        g_busDaemon->kill();
        g_busDaemon->waitForFinished(5000);
        delete g_busDaemon;
    }
    return result;
}
