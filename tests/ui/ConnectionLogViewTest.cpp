// The log window's logic: the main window shows it every snapshot before merging, announced
// ends are polled in, and the cells and the bottom line read as the window shows them; the
// filter over its rows and the export of the rows shown, onto real files.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "os/SettingsPath.h"
#include "ui/ConnectionLogView.h"
#include "ui/FakeComponents.h"
#include "ui/TempDir.h"
#include "ui/TestRecords.h"
#include "ui/UnitFormKestrel.h"

namespace {

constexpr std::int64_t T0 = 1'800'000'000'000;

File_Rec app(std::uint64_t cookie, const char* port) {
    File_Rec r = tcpRecord(5, "127.0.0.1", port, "127.0.0.1", "80", "202", "app", "/opt/app/app");
    r.Cookie = cookie;
    r.HasByteCounters = true;
    r.BytesAcked = 10;
    r.BytesReceived = 20;
    return r;
}

os::SocketEnd endOf(std::uint64_t cookie, std::uint16_t port, std::int64_t timeMs) {
    os::SocketEnd end;
    end.timeMs = timeMs;
    end.endpoint.state = 1;
    end.endpoint.localAddr = {127, 0, 0, 1};
    end.endpoint.remoteAddr = {127, 0, 0, 1};
    end.endpoint.localPort = port;
    end.endpoint.remotePort = 80;
    end.endpoint.cookie = cookie;
    end.endpoint.hasByteCounters = true;
    end.endpoint.bytesAcked = 1234;
    end.endpoint.bytesReceived = 5678;
    return end;
}

// The window logic with fake controls, its snapshots handed to a ConnectionLogView.
class ConnectionLogViewTest : public ::testing::Test {
protected:
    ConnectionLogViewTest()
        : view(
              true,
              [this](std::vector<os::SocketEnd>& out) {
                  out.insert(out.end(), queued.begin(), queued.end());
                  const std::size_t n = queued.size();
                  queued.clear();
                  return n;
              },
              [this] { return now; }) {}

    std::unique_ptr<TFormKestrel> makeForm() {
        TFormKestrelServices s;
        s.settingsFile = dir.path() + "/Kestrel.ini";
        s.settingsStorage.read = [](const std::string&, std::string&) {
            return os::FileReadResult::Missing;
        };
        s.settingsStorage.replace = [](const std::string&, const std::string&) { return true; };
        s.exeDir = [] { return std::string("/opt/kestrel/bin/"); };
        s.systemDirs = [] { return std::vector<std::string>{}; };
        s.takeSnapshot = [this](Snapshot& snapshot) {
            if (snapshotFails)
                throw std::runtime_error("no endpoint table");
            snapshot.Tcp = tcp;
        };
        s.snapshotTaken = [this](const Snapshot& snapshot) {
            // The first fill tells before the list is filled, a refresh after its merge.
            rowsWhenTold.push_back(w.VTS.rowCount());
            view.snapshotTaken(snapshot);
        };
        s.snapshotPending = [this] { view.snapshotPending(); };
        return std::make_unique<TFormKestrel>(w.controls(), s);
    }
    void refresh() {
        ui::dispatchEvent(w.Messages, [this] { w.BTNRefresh.click(); });
        w.Worker.runAll();
    }

    TempDir dir;
    FakeKestrelWindow w;
    std::vector<File_Rec> tcp;
    std::vector<os::SocketEnd> queued;
    std::int64_t now = T0;
    bool snapshotFails = false;
    std::vector<std::size_t> rowsWhenTold;
    ConnectionLogView view;
};

// The merge and the log's comparison are two turns of the window's loop: in between the
// window answers, with the button back and the new rows shown; then the log follows.
TEST_F(ConnectionLogViewTest, ARefreshTellsTheLogOnATurnOfItsOwnAfterTheMerge) {
    tcp = {app(1, "5000")};
    auto form = makeForm();
    form->FormCreate();
    tcp = {app(1, "5000"), app(2, "5001")};
    ui::dispatchEvent(w.Messages, [this] { w.BTNRefresh.click(); });
    ASSERT_TRUE(w.Worker.complete()); // the snapshot and its merge, at T0
    EXPECT_EQ(w.VTS.rowCount(), 2u);
    EXPECT_TRUE(w.BTNRefresh.enabled());
    EXPECT_EQ(rowsWhenTold.size(), 1u) << "only the first fill told so far";
    EXPECT_EQ(w.Worker.pending(), 1u);
    // A socket of the merged snapshot ends before the log's turn: its end waits for it.
    now = T0 + 3000;
    queued = {endOf(2, 5001, now)};
    EXPECT_FALSE(view.poll());
    EXPECT_EQ(view.rowCount(), 0u);
    ASSERT_TRUE(w.Worker.complete()); // the log's turn
    EXPECT_EQ(rowsWhenTold, (std::vector<std::size_t>{0, 2}));
    EXPECT_TRUE(view.poll());
    ASSERT_EQ(view.rowCount(), 2u);
    EXPECT_EQ(view.cellText(1, LogColumn::Event), "打开（刷新时发现）");
    EXPECT_EQ(view.cellText(0, LogColumn::Event), "关闭");
    EXPECT_EQ(view.cellText(0, LogColumn::Process), "app (202)");
    EXPECT_EQ(view.cellText(0, LogColumn::Duration), "3.000 秒") << "from the merge's time";

    // Closed before the log's turn: it is dropped with the window, nothing is told.
    ui::dispatchEvent(w.Messages, [this] { w.BTNRefresh.click(); });
    ASSERT_TRUE(w.Worker.complete());
    form.reset();
    w.Worker.runAll();
    EXPECT_EQ(rowsWhenTold.size(), 2u);
}

TEST_F(ConnectionLogViewTest, TheMainWindowsSnapshotsFeedTheLog) {
    tcp = {app(1, "5000")};
    auto form = makeForm();
    form->FormCreate();
    EXPECT_EQ(view.rowCount(), 0u); // the first snapshot is the baseline

    now = T0 + 10000;
    tcp = {app(1, "5000"), app(2, "5001")};
    refresh();
    ASSERT_EQ(view.rowCount(), 1u);
    EXPECT_EQ(view.cellText(0, LogColumn::Event), "打开（刷新时发现）");
    EXPECT_EQ(view.cellText(0, LogColumn::LocalPort), "5001");
    EXPECT_EQ(rowsWhenTold, (std::vector<std::size_t>{0, 2}));

    // An end announced while no snapshot was under way; a failed snapshot tells nothing.
    queued = {endOf(2, 5001, T0 + 12500)};
    EXPECT_TRUE(view.poll());
    EXPECT_FALSE(view.poll());
    snapshotFails = true;
    refresh();
    EXPECT_EQ(rowsWhenTold.size(), 2u);
    ASSERT_EQ(view.rowCount(), 2u);

    const std::pair<LogColumn, const char*> cells[] = {
        {LogColumn::Event, "关闭"},           {LogColumn::Protocol, "TCP"},
        {LogColumn::LocalAddr, "127.0.0.1"},  {LogColumn::LocalPort, "5001"},
        {LogColumn::RemoteAddr, "127.0.0.1"}, {LogColumn::RemotePort, "80"},
        {LogColumn::State, "关闭"},           {LogColumn::Process, "app (202)"},
        {LogColumn::Path, "/opt/app/app"},    {LogColumn::BytesSent, "1234"},
        {LogColumn::BytesReceived, "5678"},   {LogColumn::Duration, "2.500 秒"},
    };
    for (const auto& [column, text] : cells)
        EXPECT_EQ(view.cellText(0, column), text) << static_cast<int>(column);
    EXPECT_EQ(view.cellText(0, LogColumn::Time), LogTimeText(T0 + 12500, false));
    EXPECT_EQ(view.cellText(5, LogColumn::Event), ""); // no such row
    EXPECT_EQ(view.bottomLine(), "共 2 条记录，已丢弃最早的 0 条；0 个已结束的连接未见所属进程");
}

TEST_F(ConnectionLogViewTest, AnEndAnnouncedDuringARefreshGetsItsOwnerAndTheBottomLineCounts) {
    auto form = makeForm();
    form->FormCreate();
    // The socket ends while the refresh's snapshot, which still has it, is being taken.
    tcp = {app(7, "6000")};
    queued = {endOf(7, 6000, T0 + 1000), endOf(8, 6001, T0 + 1001)};
    refresh();
    ASSERT_EQ(view.rowCount(), 2u);
    EXPECT_EQ(view.cellText(1, LogColumn::Process), "app (202)");
    EXPECT_EQ(view.cellText(0, LogColumn::Process), "");
    EXPECT_EQ(view.bottomLine(), "共 2 条记录，已丢弃最早的 0 条；1 个已结束的连接未见所属进程");
}

TEST(ConnectionLogViewBoundsTest, TheBottomLineSaysWhatWasDroppedAndWhereEndsAreNotAnnounced) {
    ConnectionLogView view(
        false, {}, [] { return T0; }, 2);
    Snapshot s;
    view.snapshotTaken(s);
    s.Udp = {udpRecord("0.0.0.0", "1", "0", ""), udpRecord("0.0.0.0", "2", "0", ""),
             udpRecord("0.0.0.0", "3", "0", "")};
    view.snapshotTaken(s);
    EXPECT_FALSE(view.poll());
    ASSERT_EQ(view.rowCount(), 2u);
    EXPECT_EQ(view.cellText(0, LogColumn::RemoteAddr), "");
    EXPECT_EQ(view.cellText(0, LogColumn::State), "");
    EXPECT_EQ(view.bottomLine(), "共 2 条记录，已丢弃最早的 1 条；0 个已结束的连接未见所属进程"
                                 "（本系统不通报连接的结束：只记录刷新时发现的打开和关闭）");
    EXPECT_EQ(logColumns()[0].caption, "时间");
    EXPECT_EQ(logColumns()[LogColumnCount - 1].caption, "持续时间");
}

// A log of its own: owners from snapshots, ends announced as the test queues them.
class FilteredLogTest : public ::testing::Test {
protected:
    explicit FilteredLogTest(std::size_t maxEvents = ConnectionLog::DefaultMaxEvents)
        : view(
              true,
              [this](std::vector<os::SocketEnd>& out) {
                  out.insert(out.end(), queued.begin(), queued.end());
                  const std::size_t n = queued.size();
                  queued.clear();
                  return n;
              },
              [] { return T0; }, maxEvents) {}

    static File_Rec owned(std::uint64_t cookie, const char* port, const char* pid, const char* name,
                          const char* path) {
        File_Rec r = tcpRecord(5, "127.0.0.1", port, "127.0.0.1", "80", pid, name, path);
        r.Cookie = cookie;
        return r;
    }
    // Sockets 1 to 3 seen by a snapshot with their owners, then the ends of 1 to 4 (4 was
    // never seen): newest first the ports 5004, 5003, 5002, 5001.
    void fill() {
        Snapshot s;
        s.Tcp = {owned(1, "5001", "201", "app", "/opt/app/app"),
                 owned(2, "5002", "202", "浏览器,\"b\"", "/opt/浏览器/b"),
                 owned(3, "5003", "203", "Ärger", "/opt/x/Ärger")};
        view.snapshotTaken(s);
        queued = {endOf(1, 5001, T0 + 1), endOf(2, 5002, T0 + 2), endOf(3, 5003, T0 + 3),
                  endOf(4, 5004, T0 + 4)};
        ASSERT_TRUE(view.poll());
    }
    std::vector<std::string> shownPorts() const {
        std::vector<std::string> ports;
        for (std::size_t row = 0; row < view.rowCount(); ++row)
            ports.push_back(view.cellText(row, LogColumn::LocalPort));
        return ports;
    }

    std::vector<os::SocketEnd> queued;
    ConnectionLogView view;
};

using Ports = std::vector<std::string>;

TEST_F(FilteredLogTest, TheFilterMatchesTheTextOfAnyColumnFoldingAsciiLettersOnly) {
    fill();
    const struct {
        const char* filter;
        Ports shown;
    } cases[] = {
        {"", {"5004", "5003", "5002", "5001"}},
        {"APP", {"5001"}},       // process and path, ASCII letters in any case
        {"(202)", {"5002"}},     // the process column's PID
        {"浏览器,\"", {"5002"}}, // UTF-8 and quotes, byte for byte
        {"Ärger", {"5003"}},
        {"ÄRGER", {"5003"}}, // the ASCII letters fold...
        {"ärger", {}},       // ...the others do not
        {"/opt/", {"5003", "5002", "5001"}},
        {"5004", {"5004"}}, // a port
        {"500", {"5004", "5003", "5002", "5001"}},
        {"关闭", {"5004", "5003", "5002", "5001"}}, // the event and the state
        {"tcp", {"5004", "5003", "5002", "5001"}},  // the protocol
        {"5678", {"5004", "5003", "5002", "5001"}}, // bytes received
        {"udp", {}},
        {"no such text", {}},
    };
    // Each case as typed after the one before: narrower, wider and unrelated texts.
    for (const auto& c : cases) {
        SCOPED_TRACE(c.filter);
        view.setFilterText(c.filter);
        EXPECT_EQ(view.filterText(), c.filter);
        EXPECT_EQ(shownPorts(), c.shown);
    }
    EXPECT_FALSE(view.setFilterText("no such text")) << "the same text changes nothing";
}

TEST_F(FilteredLogTest, EventsLoggedWhileFilteredAreFilteredTooAndClearingShowsAll) {
    fill();
    EXPECT_EQ(view.bottomLine(), "共 4 条记录，已丢弃最早的 0 条；1 个已结束的连接未见所属进程");
    const std::uint64_t resets = view.rowsReset();
    ASSERT_TRUE(view.setFilterText("/OPT/"));
    EXPECT_EQ(view.rowsReset(), resets + 1);
    EXPECT_EQ(view.rowsAdded(), 0u);
    EXPECT_EQ(view.bottomLine(),
              "共 4 条记录，显示 3 项，已丢弃最早的 0 条；1 个已结束的连接未见所属进程");

    // An end without an owner stays out; a socket a refresh finds, with its owner, comes in
    // at the top.
    queued = {endOf(5, 5005, T0 + 5)};
    EXPECT_TRUE(view.poll());
    EXPECT_EQ(shownPorts(), (Ports{"5003", "5002", "5001"}));
    Snapshot s;
    s.Tcp = {owned(6, "5006", "206", "late", "/opt/late")};
    view.snapshotTaken(s);
    EXPECT_EQ(shownPorts(), (Ports{"5006", "5003", "5002", "5001"}));
    EXPECT_EQ(view.cellText(0, LogColumn::Event), "打开（刷新时发现）");
    EXPECT_EQ(view.rowsAdded(), 1u);
    EXPECT_EQ(view.rowsReset(), resets + 1) << "new rows need no reset";
    EXPECT_EQ(view.bottomLine(),
              "共 6 条记录，显示 4 项，已丢弃最早的 0 条；2 个已结束的连接未见所属进程");
    EXPECT_EQ(view.cellText(4, LogColumn::LocalPort), "") << "no such row shown";

    ASSERT_TRUE(view.setFilterText(""));
    EXPECT_EQ(shownPorts(), (Ports{"5006", "5005", "5004", "5003", "5002", "5001"}));
    EXPECT_EQ(view.bottomLine(), "共 6 条记录，已丢弃最早的 0 条；2 个已结束的连接未见所属进程");
}

TEST_F(FilteredLogTest, AnOwnerLearnedLaterLetsAFilteredEndIn) {
    Snapshot s;
    view.snapshotTaken(s);
    ASSERT_TRUE(view.setFilterText("app"));
    // Socket 7 ends while the snapshot that still has it is being taken.
    queued = {endOf(7, 7000, T0 + 1), endOf(8, 8000, T0 + 2)};
    s.Tcp = {owned(7, "7000", "207", "app", "/opt/app/app")};
    const std::uint64_t resets = view.rowsReset();
    view.snapshotTaken(s);
    EXPECT_EQ(shownPorts(), Ports{"7000"});
    EXPECT_EQ(view.cellText(0, LogColumn::Process), "app (207)");
    EXPECT_GT(view.rowsReset(), resets) << "the row came in below the top";
}

TEST_F(FilteredLogTest, TheTimeColumnIsFilteredAndExportedAsEachEventHasIt) {
    Snapshot s;
    view.snapshotTaken(s);
    // Within one second, across seconds, and just before and on a second's start.
    const std::int64_t times[] = {T0 + 100, T0 + 900, T0 + 1500, T0 + 2999, T0 + 3000};
    for (std::size_t i = 0; i < std::size(times); ++i)
        queued.push_back(endOf(i + 1, static_cast<std::uint16_t>(7001 + i), times[i]));
    ASSERT_TRUE(view.poll());
    view.setFilterText(LogTimeText(T0 + 2999, false));
    EXPECT_EQ(shownPorts(), Ports{"7004"});
    view.setFilterText(LogTimeText(T0, false));
    EXPECT_EQ(shownPorts(), (Ports{"7002", "7001"}));
    view.setFilterText("");
    const std::string text = view.exportText(ExportFormat::Tsv);
    std::size_t at = text.find('\n') + 1;
    for (std::size_t i = std::size(times); i-- > 0;) {
        SCOPED_TRACE(i);
        const std::string expected = LogTimeText(times[i], false) + "\t";
        EXPECT_EQ(text.compare(at, expected.size(), expected), 0) << text.substr(at, 40);
        at = text.find('\n', at) + 1;
    }
}

class SmallFilteredLogTest : public FilteredLogTest {
protected:
    SmallFilteredLogTest() : FilteredLogTest(3) {}
};

TEST_F(SmallFilteredLogTest, RowsDroppedFromTheLogLeaveTheFilteredRows) {
    fill();
    ASSERT_EQ(view.log().size(), 3u);
    view.setFilterText("/opt/");
    EXPECT_EQ(shownPorts(), (Ports{"5003", "5002"}));
    queued = {endOf(9, 5009, T0 + 9), endOf(10, 5010, T0 + 10)};
    EXPECT_TRUE(view.poll());
    EXPECT_EQ(shownPorts(), Ports{}) << "5002 and 5003 were dropped, the new ones have no owner";
    EXPECT_EQ(view.bottomLine(),
              "共 3 条记录，显示 0 项，已丢弃最早的 3 条；3 个已结束的连接未见所属进程");
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST_F(FilteredLogTest, TheExportHoldsTheRowsShownNewestFirstInTheFormatOfTheName) {
    fill();
    view.setFilterText("/opt/");
    const std::string titles =
        "时间\t事件\t协议\t本地地址\t本地端口\t远程地址\t远程端口\t状态\t进程"
        "\t路径\t已发送\t已接收\t持续时间\n";
    const auto row = [](int n, const std::string& process, const std::string& path) {
        return LogTimeText(T0 + n, false) + "\t关闭\tTCP\t127.0.0.1\t500" + std::to_string(n) +
               "\t127.0.0.1\t80\t关闭\t" + process + "\t" + path + "\t1234\t5678\t\n";
    };
    EXPECT_EQ(view.exportText(ExportFormat::Tsv),
              titles + row(3, "Ärger (203)", "/opt/x/Ärger") +
                  row(2, "浏览器,\"b\" (202)", "/opt/浏览器/b") +
                  row(1, "app (201)", "/opt/app/app"));

    TempDir out;
    FakeSaveDialog dialog;
    FakeMessageBoxes messages;
    const struct {
        std::string name;
        std::string start;        // the file's first bytes
        std::string secondRecord; // from the time column's end on
    } cases[] = {
        {out.file("log.csv"), "\xEF\xBB\xBF时间,事件,协议,",
         ",关闭,TCP,127.0.0.1,5003,127.0.0.1,80,关闭,Ärger (203),/opt/x/Ärger,1234,5678,\r\n"},
        {out.file("log.TXT"), "时间\t事件\t协议\t",
         "\t关闭\tTCP\t127.0.0.1\t5003\t127.0.0.1\t80\t关闭\tÄrger (203)\t/opt/x/Ärger\t1234"
         "\t5678\t\n"},
        {out.file("log"), "\xEF\xBB\xBF时间,", ",\"浏览器,\"\"b\"\" (202)\",/opt/浏览器/b,"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        dialog.answer = c.name;
        EXPECT_TRUE(view.exportShown(dialog, os::ReplaceWholeFile, messages));
        const std::string saved = readFile(c.name);
        EXPECT_EQ(saved.substr(0, c.start.size()), c.start);
        EXPECT_NE(saved.find(c.secondRecord), std::string::npos) << saved;
        EXPECT_EQ(saved.find("5004"), std::string::npos) << "a row the filter leaves out";
    }
    EXPECT_EQ(dialog.asked.front(), "导出列表|Kestrel-log.csv");
    EXPECT_TRUE(messages.messages.empty());

    // Cancelled: nothing written; a failed write names the file.
    dialog.answer = "";
    int writes = 0;
    const auto counted = [&writes](const std::string& path, const std::string& contents) {
        ++writes;
        return os::ReplaceWholeFile(path, contents);
    };
    EXPECT_FALSE(view.exportShown(dialog, counted, messages));
    EXPECT_EQ(writes, 0);
    dialog.answer = out.path(); // a folder is no file to replace
    EXPECT_FALSE(view.exportShown(dialog, counted, messages));
    EXPECT_EQ(messages.messages, std::vector<std::string>{"无法保存文件：" + out.path()});

    // While a filter shows nothing, the titles alone.
    view.setFilterText("no such text");
    EXPECT_EQ(view.exportText(ExportFormat::Tsv), titles);
}

} // namespace
