// The traffic columns: byte counts in steps of 1024, rates over the time between two
// snapshots, and sorting by value rather than by text.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "list/Columns.h"
#include "list/ConnectionList.h"
#include "list/MemoryListControl.h"
#include "list/RowRules.h"
#include "ui/TestRecords.h"

namespace {

TEST(TrafficColumns, ByteCountsStepBy1024) {
    const struct {
        std::uint64_t bytes;
        const char* text;
    } cases[] = {
        {0, "0 B"},
        {900, "900 B"},
        {1023, "1023 B"},
        {1024, "1.0 KB"},
        {1229, "1.2 KB"},
        {1048575, "1.0 MB"}, // 1023.999 KB rounds up into the next step
        {1048576, "1.0 MB"},
        {3565158, "3.4 MB"},
        {1073741824, "1.0 GB"},
        {5ull << 40, "5120.0 GB"},
        {~0ull, "17179869184.0 GB"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FormatByteCount(c.bytes), c.text) << c.bytes;
    EXPECT_EQ(FormatByteRate(0), "0 B/s");
    EXPECT_EQ(FormatByteRate(2047.6), "2.0 KB/s");
    EXPECT_EQ(FormatByteRate(-1), "");
}

TEST(TrafficColumns, HeaderAfterTheDescribedColumns) {
    const auto extra = extraListColumns();
    const char* titles[] = {"目标主机", "已发送", "已接收", "发送速率", "接收速率"};
    for (int i = 0; i < AllColumnCount - ColumnCount; ++i) {
        EXPECT_EQ(extra[static_cast<std::size_t>(i)].title, titles[i]);
        EXPECT_FALSE(extra[static_cast<std::size_t>(i)].visible) << "shown only with its option";
    }
    EXPECT_EQ(ColumnRemoteHost, 14);
    EXPECT_EQ(ColumnReceiveRate, 18);
    EXPECT_EQ(defaultListColumns().size(), 14u) << "the described columns keep their numbers";
}

TMyRec counted(std::uint64_t sent, std::uint64_t received) {
    File_Rec record = tcpRecord(5, "10.0.0.5", "40000", "10.0.0.9", "443", "7", "app");
    record.Socket.hasByteCounters = true;
    record.Socket.bytesAcked = sent;
    record.Socket.bytesReceived = received;
    TMyRec row;
    makeRow(row, record, RowProtocol::Tcp, "");
    return row;
}

TEST(TrafficColumns, SortByValueNotByText) {
    const TMyRec small = counted(900, 3565158);
    const TMyRec middle = counted(1229, 1229);
    const TMyRec large = counted(3565158, 900);
    TMyRec none;
    makeRow(none, tcpRecord(2, "0.0.0.0", "22", "0.0.0.0", "0", "1", "sshd"), RowProtocol::Tcp, "");
    EXPECT_EQ(VTSGetText(small, ColumnSent), "900 B");
    EXPECT_EQ(VTSGetText(middle, ColumnSent), "1.2 KB");
    EXPECT_EQ(VTSGetText(large, ColumnSent), "3.4 MB");
    EXPECT_EQ(VTSGetText(none, ColumnSent), "") << "no counters: empty";
    // As text "1.2 KB" < "3.4 MB" < "900 B"; by value 900 B < 1.2 KB < 3.4 MB.
    EXPECT_LT(compareRows(small, middle, ColumnSent), 0);
    EXPECT_LT(compareRows(middle, large, ColumnSent), 0);
    EXPECT_GT(compareRows(large, small, ColumnSent), 0);
    EXPECT_LT(compareRows(none, small, ColumnSent), 0) << "a row without counters first";
    EXPECT_GT(compareRows(small, large, ColumnReceived), 0);
    EXPECT_EQ(compareRows(middle, middle, ColumnReceived), 0);
}

class TrafficRatesTest : public ::testing::Test {
protected:
    TrafficRatesTest() : conn(list, hooks()) {}
    ConnectionListHooks hooks() {
        ConnectionListHooks h;
        h.takeSnapshot = [this] { tcp = next; };
        h.tcpRecords = &tcp;
        h.udpRecords = &udp;
        h.secondsNow = [this] { return clock; };
        return h;
    }
    static File_Rec record(const char* port, std::uint64_t cookie, std::uint64_t sent,
                           std::uint64_t received) {
        File_Rec r = tcpRecord(5, "10.0.0.5", port, "10.0.0.9", "443", "7", "app");
        r.Socket.cookie = cookie;
        r.Socket.hasByteCounters = true;
        r.Socket.bytesAcked = sent;
        r.Socket.bytesReceived = received;
        return r;
    }
    const TMyRec& row(const char* port) const {
        for (RowHandle r = list.firstRow(); r; r = list.nextRow(r)) {
            if (r->Rec.LocalPort == port)
                return r->Rec;
        }
        static const TMyRec none;
        return none;
    }
    MemoryListControl list;
    std::vector<File_Rec> next, tcp, udp;
    double clock = 100;
    ConnectionList conn;
};

TEST_F(TrafficRatesTest, RatesOverTheRefreshInterval) {
    next = {record("1", 11, 1000, 5000), record("2", 12, 0, 0), record("3", 13, 70, 70)};
    conn.FillList();
    EXPECT_EQ(row("1").SendRateText, "") << "one snapshot tells no rate";
    EXPECT_EQ(row("1").SentText, "1000 B");

    clock = 102.5;
    next = {record("1", 11, 6000, 5000), record("2", 99, 4096, 0), record("3", 13, 10, 70),
            record("4", 14, 100, 100)};
    conn.RefreshList();
    EXPECT_DOUBLE_EQ(row("1").SendRate, 2000.0);
    EXPECT_EQ(row("1").SendRateText, "2.0 KB/s");
    EXPECT_EQ(row("1").ReceiveRateText, "0 B/s");
    EXPECT_EQ(row("1").SentText, "5.9 KB");
    EXPECT_EQ(row("2").SendRateText, "") << "another socket on the same ports";
    EXPECT_EQ(row("2").SentText, "4.0 KB");
    EXPECT_EQ(row("3").SendRateText, "") << "a counter that went back";
    EXPECT_EQ(row("3").ReceiveRateText, "0 B/s");
    EXPECT_EQ(row("4").SendRateText, "") << "a new row";

    clock = 112.5;
    next[0].Socket.bytesReceived = 5000 + 10 * 1048576;
    conn.RefreshList();
    EXPECT_EQ(row("1").ReceiveRateText, "1.0 MB/s");
    EXPECT_EQ(row("1").SendRateText, "0 B/s");
    EXPECT_EQ(row("4").SendRateText, "0 B/s");
}

} // namespace
