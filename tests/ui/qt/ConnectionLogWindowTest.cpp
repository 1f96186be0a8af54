// The connection log window in Qt on the offscreen platform: its model over the log (new rows
// at the top, dropped ones gone at the bottom), the filter field typed into and the export
// through the file dialog onto a real file, and, in the real main window, a loopback
// connection seen by a refresh and closed, shown with its owner.
#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <arpa/inet.h>
#include <cstdlib>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "ui/qt/ConnectionLogWindow.h"
#include "ui/qt/KestrelMainWindow.h"

namespace {

constexpr std::int64_t T0 = 1'800'000'000'000;

os::SocketEnd endOf(std::uint64_t cookie, std::uint16_t port) {
    os::SocketEnd end;
    end.timeMs = T0 + static_cast<std::int64_t>(cookie);
    end.endpoint.state = 1;
    end.endpoint.localAddr = {127, 0, 0, 1};
    end.endpoint.localPort = port;
    end.endpoint.cookie = cookie;
    return end;
}

QString cell(const QAbstractItemModel& model, int row, LogColumn column) {
    return model.index(row, static_cast<int>(column)).data().toString();
}

TEST(ConnectionLogWindowTest, NewRowsComeInAtTheTopAndDroppedOnesLeaveAtTheBottom) {
    std::vector<os::SocketEnd> queued;
    ConnectionLogView log(
        true,
        [&queued](std::vector<os::SocketEnd>& out) {
            out.insert(out.end(), queued.begin(), queued.end());
            const std::size_t n = queued.size();
            queued.clear();
            return n;
        },
        [] { return T0; }, 3);
    qtui::ConnectionLogWindow window(log, nullptr);
    QAbstractItemModelTester tester(window.model(),
                                    QAbstractItemModelTester::FailureReportingMode::Fatal);
    EXPECT_EQ(window.windowTitle(), QString::fromUtf8("连接记录"));
    EXPECT_EQ(window.model()->columnCount(), 13);
    EXPECT_EQ(window.model()->headerData(0, Qt::Horizontal, Qt::DisplayRole).toString(),
              QString::fromUtf8("时间"));
    EXPECT_EQ(window.model()->rowCount(), 0);

    queued = {endOf(1, 1001), endOf(2, 1002)};
    ASSERT_TRUE(log.poll());
    window.logChanged();
    ASSERT_EQ(window.model()->rowCount(), 2);
    EXPECT_EQ(cell(*window.model(), 0, LogColumn::LocalPort), "1002");
    EXPECT_EQ(cell(*window.model(), 1, LogColumn::LocalPort), "1001");
    EXPECT_EQ(cell(*window.model(), 0, LogColumn::Event), QString::fromUtf8("关闭"));

    queued = {endOf(3, 1003), endOf(4, 1004)};
    ASSERT_TRUE(log.poll());
    window.logChanged();
    ASSERT_EQ(window.model()->rowCount(), 3);
    EXPECT_EQ(cell(*window.model(), 0, LogColumn::LocalPort), "1004");
    EXPECT_EQ(cell(*window.model(), 2, LogColumn::LocalPort), "1002");
    EXPECT_TRUE(window.bottomLine()->text().contains(QString::fromUtf8("已丢弃最早的 1 条")))
        << window.bottomLine()->text().toStdString();
    EXPECT_TRUE(
        window.bottomLine()->text().contains(QString::fromUtf8("4 个已结束的连接未见所属进程")));

    // More new ones than the log holds: the whole list is new.
    queued = {endOf(5, 1005), endOf(6, 1006), endOf(7, 1007), endOf(8, 1008)};
    ASSERT_TRUE(log.poll());
    window.logChanged();
    ASSERT_EQ(window.model()->rowCount(), 3);
    EXPECT_EQ(cell(*window.model(), 0, LogColumn::LocalPort), "1008");
    EXPECT_EQ(cell(*window.model(), 2, LogColumn::LocalPort), "1006");
}

File_Rec owned(std::uint64_t cookie, const char* port, const char* name, const char* pid) {
    File_Rec r;
    r.State = 5;
    r.LocalAddr = "127.0.0.1";
    r.LocalPort = port;
    r.RemoteAddr = "127.0.0.1";
    r.RemotePort = "80";
    r.PID = pid;
    r.ProcName = name;
    r.ProcPath = std::string("/opt/") + name;
    r.Cookie = cookie;
    return r;
}

TEST(ConnectionLogWindowTest, TheFilterFieldNarrowsTheRowsAndTheExportSavesThem) {
    std::vector<os::SocketEnd> queued;
    ConnectionLogView log(
        true,
        [&queued](std::vector<os::SocketEnd>& out) {
            out.insert(out.end(), queued.begin(), queued.end());
            const std::size_t n = queued.size();
            queued.clear();
            return n;
        },
        [] { return T0; });
    Snapshot s;
    s.Tcp = {owned(1, "5001", "app", "4242"), owned(2, "5002", "other", "4343")};
    log.snapshotTaken(s);
    queued = {endOf(1, 5001), endOf(2, 5002), endOf(3, 6003)};
    ASSERT_TRUE(log.poll());

    qtui::ConnectionLogWindow window(log, nullptr);
    QAbstractItemModelTester tester(window.model(),
                                    QAbstractItemModelTester::FailureReportingMode::Fatal);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    QLineEdit* field = window.filterField();
    EXPECT_EQ(field->placeholderText(), QString::fromUtf8("筛选"));
    EXPECT_EQ(window.exportButton()->text(), QString::fromUtf8("导出列表..."));
    EXPECT_LT(field->geometry().bottom(), window.table()->geometry().top()) << "above the list";
    ASSERT_EQ(window.model()->rowCount(), 3);

    QTest::keyClicks(field, QStringLiteral("APP"));
    ASSERT_EQ(window.model()->rowCount(), 1);
    EXPECT_EQ(cell(*window.model(), 0, LogColumn::LocalPort), "5001");
    EXPECT_TRUE(
        window.bottomLine()->text().startsWith(QString::fromUtf8("共 3 条记录，显示 1 项，")))
        << window.bottomLine()->text().toStdString();

    // A socket of the same program, found by a refresh while the filter is set.
    s.Tcp = {owned(4, "5004", "app", "4242")};
    log.snapshotTaken(s);
    queued = {endOf(5, 6005)};
    log.poll();
    window.logChanged();
    ASSERT_EQ(window.model()->rowCount(), 2);
    EXPECT_EQ(cell(*window.model(), 0, LogColumn::LocalPort), "5004");

    // The real file dialog, answered with a name in a temporary folder.
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("log.txt"));
    ASSERT_TRUE(dir.isValid());
    QString caption;
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [&] {
        auto* dialog = window.findChild<QFileDialog*>();
        if (!dialog || !dialog->isVisible())
            return;
        answer.stop();
        caption = dialog->windowTitle();
        // The full name in the dialog's name field, then its "Save" (the field's completer
        // would take typed keys for itself).
        auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        if (!name) {
            dialog->reject();
            return;
        }
        name->setText(file);
        static_cast<QDialog*>(dialog)->accept(); // as the dialog's own button does
    });
    answer.start(20);
    QTest::mouseClick(window.exportButton(), Qt::LeftButton);
    EXPECT_EQ(caption, QString::fromUtf8("导出列表"));
    QFile saved(file);
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(saved.readAll()).split(QLatin1Char('\n'));
    ASSERT_EQ(lines.size(), 4) << "the titles, two rows and the last line's end";
    EXPECT_TRUE(lines[0].startsWith(QString::fromUtf8("时间\t事件\t协议\t本地地址\t")));
    EXPECT_TRUE(lines[1].contains(QStringLiteral("\t5004\t")));
    EXPECT_TRUE(lines[2].contains(QStringLiteral("\t5001\t")));
    EXPECT_TRUE(lines[2].contains(QStringLiteral("\tapp (4242)\t/opt/app\t")));
    EXPECT_EQ(lines[3], QString());

    // Escape in the field empties it, as in the main window: every row is shown again.
    window.activateWindow();
    field->setFocus();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    QTest::keyClick(field, Qt::Key_Escape);
    EXPECT_EQ(field->text(), QString());
    EXPECT_EQ(window.model()->rowCount(), 5);
    EXPECT_TRUE(window.bottomLine()->text().startsWith(QString::fromUtf8("共 5 条记录，已丢弃")));
}

// The main window's log with the real kernel: a connection its refresh saw, then closed.
TEST(ConnectionLogWindowTest, TheMainWindowLogsAClosedConnectionWithItsOwner) {
    QTemporaryDir dir;
    TFormKestrelServices services;
    services.settingsFile = (dir.path() + QStringLiteral("/Kestrel.ini")).toStdString();
    services.exeDir = [] { return std::string("/opt/kestrel/"); };
    services.systemDirs = [] { return std::vector<std::string>{"/USR/SBIN"}; };
    services.enableDebugPrivilege = [] { return false; };
    services.takeSnapshot = [](Snapshot& snapshot) { TakeSnapshot(snapshot); };
    qtui::KestrelMainWindow window(services);
    window.create();
    if (!window.connectionLog().log().announcedEnds())
        GTEST_SKIP() << "the system announces no socket ends here";

    const int server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof a;
    ASSERT_EQ(::bind(server, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(::listen(server, 1), 0);
    ASSERT_EQ(::getsockname(server, reinterpret_cast<sockaddr*>(&a), &length), 0);
    const int client = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_EQ(::connect(client, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    const int accepted = ::accept4(server, nullptr, nullptr, SOCK_CLOEXEC);
    sockaddr_in c{};
    length = sizeof c;
    ::getsockname(client, reinterpret_cast<sockaddr*>(&c), &length);
    const QString clientPort = QString::number(ntohs(c.sin_port));

    window.form().BTNRefreshClick();
    ASSERT_TRUE(QTest::qWaitFor([&window] { return !window.form().refreshing(); }, 20000));
    ::close(client);
    ::close(accepted);
    ::close(server);

    window.showConnectionLog();
    qtui::ConnectionLogWindow* logWindow = window.connectionLogWindow();
    ASSERT_NE(logWindow, nullptr);
    const QString process =
        QStringLiteral("connection_log_window_test (%1)").arg(static_cast<qint64>(::getpid()));
    auto closedRow = [&]() {
        const QAbstractItemModel& model = *logWindow->model();
        for (int row = 0; row < model.rowCount(); ++row) {
            if (cell(model, row, LogColumn::LocalPort) == clientPort &&
                cell(model, row, LogColumn::Event) == QString::fromUtf8("关闭"))
                return row;
        }
        return -1;
    };
    // The log's timer reads the announced ends.
    ASSERT_TRUE(QTest::qWaitFor([&] { return closedRow() >= 0; }, 10000));
    const QAbstractItemModel& model = *logWindow->model();
    const int row = closedRow();
    EXPECT_EQ(cell(model, row, LogColumn::Process), process);
    EXPECT_EQ(cell(model, row, LogColumn::RemoteAddr), "127.0.0.1");
    EXPECT_EQ(cell(model, row, LogColumn::RemotePort), QString::number(ntohs(a.sin_port)));
    EXPECT_FALSE(cell(model, row, LogColumn::Duration).isEmpty());
    // Its opening, found by the refresh, is further down.
    bool opened = false;
    for (int r = row + 1; r < model.rowCount(); ++r)
        opened |= cell(model, r, LogColumn::LocalPort) == clientPort &&
                  cell(model, r, LogColumn::Event).startsWith(QString::fromUtf8("打开"));
    EXPECT_TRUE(opened);
}

} // namespace

int main(int argc, char** argv) {
    if (!std::getenv("QT_QPA_PLATFORM"))
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
