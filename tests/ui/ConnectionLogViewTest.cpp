// The log window's logic: the main window shows it every snapshot before merging, announced
// ends are polled in, and the cells and the bottom line read as the window shows them.
#include <gtest/gtest.h>

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

} // namespace
