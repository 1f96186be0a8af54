#pragma once
// The connection log: sockets that opened and ended, as the snapshots and the system's
// announcements of ends (os/SocketEnds.h) tell, with the owner known from an earlier snapshot.
// Bounded in count and in memory; the oldest events go first and are counted.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "os/Endpoints.h"
#include "os/SocketEnds.h"
#include "snapshot/UnitGetTcpUdpTable.h"

enum class LogEventKind : std::uint8_t { Open, Close };

// How an event was learned: announced by the system as the socket ended, or found by a
// refresh (a socket in this snapshot that the last one did not have, or the other way round).
enum class LogSource : std::uint8_t { Announced, Refresh };

struct LogOwner {
    std::uint32_t pid = 0;
    std::string name;
    std::string path;
};

struct LogEvent {
    std::int64_t timeMs = 0; // milliseconds since 1970 (UTC)
    LogEventKind kind = LogEventKind::Open;
    LogSource source = LogSource::Refresh;
    os::Protocol protocol = os::Protocol::Tcp;
    os::Family family = os::Family::V4;
    std::uint32_t state = 0; // TCP state number (the last one for an end); 0 for UDP
    std::string localAddr;
    std::string remoteAddr; // empty for UDP
    std::uint16_t localPort = 0;
    std::uint16_t remotePort = 0;
    bool hasBytes = false; // TCP counters known
    std::uint64_t bytesSent = 0;
    std::uint64_t bytesReceived = 0;
    // How long the socket lived, for an end whose beginning a refresh saw; -1 otherwise.
    std::int64_t durationMs = -1;
    std::uint64_t cookie = 0; // the socket's identity where the system tells, else 0
    // The process that held the socket; null when no snapshot saw it (owner not seen).
    std::shared_ptr<const LogOwner> owner;
};

class ConnectionLog {
public:
    static constexpr std::size_t DefaultMaxEvents = 100000;
    static constexpr std::size_t DefaultMaxBytes = 40u * 1024 * 1024;

    // `announcedEnds`: the system announces ends (a listening os::SocketEndListener); without
    // them ends are the rows a snapshot no longer has.
    explicit ConnectionLog(bool announcedEnds, std::size_t maxEvents = DefaultMaxEvents,
                           std::size_t maxBytes = DefaultMaxBytes);

    bool announcedEnds() const { return m_announcedEnds; }

    // Merges a snapshot taken at `timeMs`. The first one only learns the sockets there are;
    // later ones log each socket seen for the first time as opened. Without announced ends,
    // sockets the last snapshot had and this one has not are logged as ended. With them, a
    // socket missing from two snapshots in a row whose end was never announced (the
    // announcement was dropped) is logged as ended by this refresh.
    void addSnapshot(const Snapshot& snapshot, std::int64_t timeMs);
    // Logs announced ends, oldest first, each with the owner of its socket when a snapshot saw
    // it (also when that snapshot is merged after the end).
    void addSocketEnds(const std::vector<os::SocketEnd>& ends);

    std::size_t size() const { return m_events.size(); }
    // The i-th event, newest first (0: the newest).
    const LogEvent& newest(std::size_t i) const { return m_events[m_events.size() - 1 - i]; }
    // Events ever added (so that a view can tell what is new) and dropped as the oldest.
    std::uint64_t added() const { return m_added; }
    std::uint64_t dropped() const { return m_dropped; }
    // Ends logged without an owner, dropped ones included.
    std::uint64_t ownerNotSeen() const { return m_ownerNotSeen; }
    // An upper bound of the memory the events take.
    std::size_t bytesUsed() const { return m_bytes; }
    // How many times an owner came to a logged event later (a view repaints those rows).
    std::uint64_t ownersFilledLater() const { return m_ownersFilled; }
    // The serial numbers (added() just before it was logged) of the latest events an owner
    // came to later, oldest first; the last RecentFillsKept of them, so that a view can test
    // those events anew without reading the whole log.
    static constexpr std::size_t RecentFillsKept = 4096;
    const std::deque<std::uint64_t>& recentFills() const { return m_recentFills; }

private:
    struct Tracked {
        LogEvent last; // the socket as the last snapshot had it
        std::int64_t firstSeenMs = 0;
        bool sawBegin = false;
        std::uint64_t generation = 0;
    };
    struct Ended {
        std::uint64_t serial = 0; // m_added when its event was logged
        std::uint64_t generation = 0;
    };

    void push(LogEvent event);
    LogEvent* eventBySerial(std::uint64_t serial);
    void mergeRecords(const std::vector<File_Rec>& records, os::Protocol protocol,
                      os::Family family, std::int64_t timeMs);
    std::shared_ptr<const LogOwner> ownerOf(const File_Rec& record);

    bool m_announcedEnds;
    std::size_t m_maxEvents;
    std::size_t m_maxBytes;
    std::deque<LogEvent> m_events;
    std::deque<std::size_t> m_eventBytes;
    std::size_t m_bytes = 0;
    std::uint64_t m_added = 0;
    std::uint64_t m_dropped = 0;
    std::uint64_t m_ownerNotSeen = 0;
    std::uint64_t m_ownersFilled = 0;
    std::deque<std::uint64_t> m_recentFills;
    std::uint64_t m_generation = 0;
    // Sockets of the snapshots, by cookie; sockets without one by their text key.
    std::unordered_map<std::uint64_t, Tracked> m_byCookie;
    std::unordered_map<std::string, Tracked> m_byKey;
    // Announced ends of the last two refresh intervals, by cookie.
    std::unordered_map<std::uint64_t, Ended> m_ended;
    // The owners of the last snapshot, shared by its events.
    std::unordered_map<std::uint32_t, std::shared_ptr<const LogOwner>> m_owners;
    std::unordered_map<std::uint32_t, std::shared_ptr<const LogOwner>> m_nextOwners;
};

// Texts of an event for the log window and kestrel-snapshot --follow.
// "YYYY-MM-DD HH:MM:SS" in local time, with ".mmm" when `milliseconds`.
std::string LogTimeText(std::int64_t timeMs, bool milliseconds);
// "打开" / "关闭"; an event found by a refresh adds "（刷新时发现）".
std::string LogEventText(const LogEvent& event);
// "TCP", "UDP", "TCPv6", "UDPv6".
std::string LogProtocolText(const LogEvent& event);
// A duration as "1.234 秒" below a minute, "12 分 3 秒", "2 小时 5 分"; empty when unknown.
std::string LogDurationText(std::int64_t durationMs);
