// The connection log over hand-made snapshots and announced ends: openings, ends with their
// owners, the refresh-only mode of a system that announces nothing, and the bounds.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "list/ConnectionLog.h"
#include "ui/TestRecords.h"

namespace {

constexpr std::int64_t T0 = 1'800'000'000'000;

File_Rec withCookie(File_Rec rec, std::uint64_t cookie, std::uint64_t sent = 0,
                    std::uint64_t received = 0) {
    rec.Cookie = cookie;
    rec.HasByteCounters = rec.State != 0;
    rec.BytesAcked = sent;
    rec.BytesReceived = received;
    return rec;
}

File_Rec browser(std::uint64_t cookie, const char* localPort = "50000", int state = 5) {
    return withCookie(tcpRecord(state, "127.0.0.1", localPort, "127.0.0.1", "80", "42", "browser",
                                "/usr/bin/browser"),
                      cookie, 100, 2000);
}

os::SocketEnd tcpEnd(std::uint64_t cookie, std::int64_t timeMs, std::uint16_t localPort = 50000) {
    os::SocketEnd end;
    end.timeMs = timeMs;
    end.endpoint.protocol = os::Protocol::Tcp;
    end.endpoint.state = 1;
    end.endpoint.localAddr = {127, 0, 0, 1};
    end.endpoint.remoteAddr = {127, 0, 0, 1};
    end.endpoint.localPort = localPort;
    end.endpoint.remotePort = 80;
    end.endpoint.cookie = cookie;
    end.endpoint.hasByteCounters = true;
    end.endpoint.bytesAcked = 150;
    end.endpoint.bytesReceived = 2500;
    return end;
}

Snapshot snapshotOf(std::vector<File_Rec> tcp, std::vector<File_Rec> udp = {}) {
    Snapshot s;
    s.Tcp = std::move(tcp);
    s.Udp = std::move(udp);
    return s;
}

TEST(ConnectionLogTest, TheFirstSnapshotIsTheBaselineAndLaterOnesLogOpenings) {
    ConnectionLog log(true);
    log.addSnapshot(snapshotOf({browser(1)}), T0);
    EXPECT_EQ(log.size(), 0u);

    File_Rec v6 =
        withCookie(tcpRecord(5, "::1", "50001", "::1", "443", "7", "curl", "/usr/bin/curl"), 3);
    Snapshot next = snapshotOf({browser(1), browser(2, "50002")},
                               {withCookie(udpRecord("0.0.0.0", "5353", "9", "avahi"), 4)});
    next.Tcp6 = {v6};
    log.addSnapshot(next, T0 + 10000);
    ASSERT_EQ(log.size(), 3u);
    // Newest first: the IPv6 socket was merged last.
    const LogEvent& open6 = log.newest(0);
    EXPECT_EQ(open6.kind, LogEventKind::Open);
    EXPECT_EQ(open6.source, LogSource::Refresh);
    EXPECT_EQ(LogProtocolText(open6), "TCPv6");
    EXPECT_EQ(open6.localAddr, "::1");
    EXPECT_EQ(open6.remotePort, 443);
    const LogEvent& udp = log.newest(1);
    EXPECT_EQ(LogProtocolText(udp), "UDP");
    EXPECT_EQ(udp.localPort, 5353);
    EXPECT_TRUE(udp.remoteAddr.empty());
    const LogEvent& tcp = log.newest(2);
    EXPECT_EQ(tcp.localPort, 50002);
    EXPECT_EQ(tcp.timeMs, T0 + 10000);
    ASSERT_TRUE(tcp.owner);
    EXPECT_EQ(tcp.owner->pid, 42u);
    EXPECT_EQ(tcp.owner->name, "browser");
    EXPECT_EQ(tcp.owner->path, "/usr/bin/browser");
    // Sockets of one process share one owner.
    EXPECT_EQ(tcp.owner.get(), log.newest(2).owner.get());

    // Seen again: nothing new.
    log.addSnapshot(next, T0 + 20000);
    EXPECT_EQ(log.size(), 3u);
}

TEST(ConnectionLogTest, AnnouncedEndsCarryTheOwnerAndDurationAQuietOneNone) {
    ConnectionLog log(true);
    log.addSnapshot(snapshotOf({browser(1)}), T0);
    log.addSnapshot(snapshotOf({browser(1), browser(2, "50002")}), T0 + 10000);
    ASSERT_EQ(log.size(), 1u);

    // 1 was there from the start (its beginning unseen), 2 opened at the second refresh, 9 was
    // never in a snapshot.
    log.addSocketEnds(
        {tcpEnd(1, T0 + 12000), tcpEnd(2, T0 + 13500, 50002), tcpEnd(9, T0 + 14000, 50009)});
    ASSERT_EQ(log.size(), 4u);
    const LogEvent& quiet = log.newest(0);
    EXPECT_EQ(quiet.kind, LogEventKind::Close);
    EXPECT_EQ(quiet.source, LogSource::Announced);
    EXPECT_FALSE(quiet.owner);
    EXPECT_EQ(quiet.localAddr, "127.0.0.1");
    EXPECT_EQ(quiet.localPort, 50009);
    EXPECT_EQ(quiet.remotePort, 80);
    EXPECT_EQ(quiet.durationMs, -1);
    const LogEvent& second = log.newest(1);
    ASSERT_TRUE(second.owner);
    EXPECT_EQ(second.owner->pid, 42u);
    EXPECT_EQ(second.durationMs, 3500);
    EXPECT_EQ(second.state, 1u);
    EXPECT_TRUE(second.hasBytes);
    EXPECT_EQ(second.bytesSent, 150u); // the counters at the end, not at the last snapshot
    EXPECT_EQ(second.bytesReceived, 2500u);
    const LogEvent& first = log.newest(2);
    ASSERT_TRUE(first.owner);
    EXPECT_EQ(first.durationMs, -1);
    EXPECT_EQ(log.ownerNotSeen(), 1u);

    // Gone from the snapshots after their ends: no second end, no opening of the TIME_WAIT.
    log.addSnapshot(snapshotOf({browser(1, "50000", 11)}), T0 + 20000);
    log.addSnapshot(snapshotOf({}), T0 + 30000);
    log.addSnapshot(snapshotOf({}), T0 + 40000);
    EXPECT_EQ(log.size(), 4u);
}

// A reset (SO_LINGER 0) clears the remote port and counters before the socket ends; the
// last snapshot's values stand in.
TEST(ConnectionLogTest, AnAbortedConnectionKeepsWhatTheSnapshotKnew) {
    ConnectionLog log(true);
    log.addSnapshot(snapshotOf({browser(1)}), T0);
    os::SocketEnd aborted = tcpEnd(1, T0 + 1000);
    aborted.endpoint.remotePort = 0;
    aborted.endpoint.bytesAcked = 0;
    aborted.endpoint.bytesReceived = 0;
    log.addSocketEnds({aborted, tcpEnd(2, T0 + 2000)});
    const LogEvent& end = log.newest(1);
    EXPECT_EQ(end.remotePort, 80);
    EXPECT_EQ(end.bytesSent, 100u);
    EXPECT_EQ(end.bytesReceived, 2000u);
    // Without a snapshot of it, what the system said.
    EXPECT_EQ(log.newest(0).bytesSent, 150u);
}

TEST(ConnectionLogTest, AnEndAnnouncedBeforeItsSnapshotMergesLearnsItsOwner) {
    ConnectionLog log(true);
    log.addSnapshot(snapshotOf({}), T0);
    // The snapshot was under way when the socket ended; its end is logged first.
    log.addSocketEnds({tcpEnd(5, T0 + 9000)});
    EXPECT_EQ(log.ownerNotSeen(), 1u);
    log.addSnapshot(snapshotOf({browser(5)}), T0 + 10000);
    ASSERT_EQ(log.size(), 1u);
    ASSERT_TRUE(log.newest(0).owner);
    EXPECT_EQ(log.newest(0).owner->name, "browser");
    EXPECT_EQ(log.ownerNotSeen(), 0u);
    EXPECT_EQ(log.ownersFilledLater(), 1u);
}

TEST(ConnectionLogTest, ASocketWhoseEndWasNotAnnouncedEndsAtTheSecondRefreshWithoutIt) {
    ConnectionLog log(true);
    log.addSnapshot(snapshotOf({}), T0);
    log.addSnapshot(snapshotOf({browser(1)}), T0 + 10000);
    log.addSnapshot(snapshotOf({}), T0 + 20000); // its announcement may still come
    EXPECT_EQ(log.size(), 1u);
    log.addSnapshot(snapshotOf({}), T0 + 30000);
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log.newest(0).kind, LogEventKind::Close);
    EXPECT_EQ(log.newest(0).source, LogSource::Refresh);
    log.addSnapshot(snapshotOf({}), T0 + 40000);
    EXPECT_EQ(log.size(), 2u);
}

// Where the system announces nothing (Windows), ends are the rows a refresh no longer finds,
// with what the last snapshot knew of them; rows without a cookie are told by their fields.
TEST(ConnectionLogTest, WithoutAnnouncementsEndsAreFoundByTheRefresh) {
    ConnectionLog log(false);
    const File_Rec row = tcpRecord(5, "10.0.0.2", "50000", "10.0.0.9", "443", "42", "browser.exe",
                                   "C:\\browser.exe");
    const File_Rec same = tcpRecord(5, "10.0.0.2", "50000", "10.0.0.9", "443", "43", "other.exe");
    log.addSnapshot(snapshotOf({row}), T0);
    log.addSnapshot(snapshotOf({row, same}), T0 + 10000);
    log.addSnapshot(snapshotOf({row}), T0 + 20000);
    ASSERT_EQ(log.size(), 2u);
    const LogEvent& end = log.newest(0);
    EXPECT_EQ(end.kind, LogEventKind::Close);
    EXPECT_EQ(end.source, LogSource::Refresh);
    EXPECT_EQ(LogEventText(end), "关闭（刷新时发现）");
    ASSERT_TRUE(end.owner);
    EXPECT_EQ(end.owner->pid, 43u);
    EXPECT_EQ(end.durationMs, 10000);
    EXPECT_EQ(end.state, 5u);
    EXPECT_FALSE(end.hasBytes);
    EXPECT_EQ(LogEventText(log.newest(1)), "打开（刷新时发现）");

    // A row of the first snapshot: its beginning unseen; one of PID 0: owner not seen.
    log.addSnapshot(snapshotOf({tcpRecord(5, "10.0.0.2", "1", "10.0.0.9", "2", "0", "")}),
                    T0 + 30000);
    log.addSnapshot(snapshotOf({}), T0 + 40000);
    EXPECT_EQ(log.newest(0).durationMs, 10000);
    EXPECT_FALSE(log.newest(0).owner);
    EXPECT_EQ(log.newest(1).owner->pid, 42u);
    EXPECT_EQ(log.newest(1).durationMs, -1);
    EXPECT_EQ(log.ownerNotSeen(), 1u);
}

TEST(ConnectionLogTest, TheOldestEventsGoFirstAndAreCounted) {
    struct Case {
        std::size_t maxEvents;
        std::size_t maxBytes;
        int ends;
        std::size_t kept;
    };
    const Case cases[] = {
        {3, ConnectionLog::DefaultMaxBytes, 5, 3},
        {1000, 5 * sizeof(LogEvent) / 2, 10, 2}, // the memory bound bites first
        {ConnectionLog::DefaultMaxEvents, ConnectionLog::DefaultMaxBytes, 100005, 100000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.maxEvents);
        ConnectionLog log(true, c.maxEvents, c.maxBytes);
        std::vector<os::SocketEnd> ends;
        for (int i = 0; i < c.ends; ++i)
            ends.push_back(tcpEnd(static_cast<std::uint64_t>(i) + 1, T0 + i));
        log.addSocketEnds(ends);
        EXPECT_EQ(log.size(), c.kept);
        EXPECT_EQ(log.dropped(), static_cast<std::uint64_t>(c.ends) - c.kept);
        EXPECT_EQ(log.added(), static_cast<std::uint64_t>(c.ends));
        EXPECT_LE(log.bytesUsed(), c.maxBytes);
        EXPECT_EQ(log.newest(0).timeMs, T0 + c.ends - 1);
        EXPECT_EQ(log.newest(c.kept - 1).timeMs, T0 + c.ends - static_cast<int>(c.kept));
        EXPECT_EQ(log.ownerNotSeen(), static_cast<std::uint64_t>(c.ends));
    }
}

TEST(ConnectionLogTest, Texts) {
    const std::pair<std::int64_t, const char*> durations[] = {
        {-1, ""},
        {0, "0.000 秒"},
        {1234, "1.234 秒"},
        {59999, "59.999 秒"},
        {60000, "1 分 0 秒"},
        {723000, "12 分 3 秒"},
        {7500000, "2 小时 5 分"},
    };
    for (const auto& [ms, text] : durations)
        EXPECT_EQ(LogDurationText(ms), text) << ms;
    LogEvent e;
    e.kind = LogEventKind::Close;
    e.source = LogSource::Announced;
    EXPECT_EQ(LogEventText(e), "关闭");
    e.kind = LogEventKind::Open;
    EXPECT_EQ(LogEventText(e), "打开");
    e.protocol = os::Protocol::Udp;
    e.family = os::Family::V6;
    EXPECT_EQ(LogProtocolText(e), "UDPv6");
    // The date and time of the local zone, to the second or the millisecond.
    const std::string plain = LogTimeText(T0 + 7, false);
    ASSERT_EQ(plain.size(), 19u);
    EXPECT_EQ(plain[4], '-');
    EXPECT_EQ(plain[13], ':');
    EXPECT_EQ(LogTimeText(T0 + 7, true), plain + ".007");
}

} // namespace
