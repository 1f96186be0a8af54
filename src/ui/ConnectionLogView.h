#pragma once
// The connection log window "连接记录", free of any toolkit: the log fed by the snapshots of the
// main window and by the system's announced ends, its columns and the texts of its cells
// (newest first) and of its bottom line. The toolkit layer polls it and shows it.
#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "list/ConnectionLog.h"

inline constexpr std::string_view TextConnectionLogCaption = "连接记录";

enum class LogColumn {
    Time,
    Event,
    Protocol,
    LocalAddr,
    LocalPort,
    RemoteAddr,
    RemotePort,
    State,
    Process,
    Path,
    BytesSent,
    BytesReceived,
    Duration,
};
inline constexpr int LogColumnCount = 13;

struct LogColumnInfo {
    std::string_view caption;
    int width;
    bool rightAligned;
};

// Caption, width in pixels at 96 dpi and alignment of each column, in column order.
const std::array<LogColumnInfo, LogColumnCount>& logColumns();

class ConnectionLogView {
public:
    // Takes the announced ends queued since the last call (os::SocketEndListener::take);
    // empty where the system announces none (`announcedEnds` false: Windows, or a refused
    // listener), and the log then finds ends by comparing snapshots.
    using TakeEnds = std::function<std::size_t(std::vector<os::SocketEnd>&)>;
    using Clock = std::function<std::int64_t()>; // milliseconds since 1970 (UTC)

    ConnectionLogView(bool announcedEnds, TakeEnds takeEnds, Clock clock,
                      std::size_t maxEvents = ConnectionLog::DefaultMaxEvents,
                      std::size_t maxBytes = ConnectionLog::DefaultMaxBytes);

    // A snapshot the main window took. The ends announced until then are logged first; a
    // socket that ended while the snapshot was taken learns its owner from it.
    void snapshotTaken(const Snapshot& snapshot);
    // The main window has a snapshot that it tells later (snapshotTaken, on another turn of its
    // loop): the ends announced until now are logged first, those announced from now on wait
    // for it, so that a socket the snapshot saw ends after its opening.
    void snapshotPending();
    // Moves the announced ends into the log; true when the log changed. The toolkit layer
    // calls it a few times a second, also while the log window is closed, so the listener's
    // queue never fills. While a snapshot is pending it takes nothing.
    bool poll();

    const ConnectionLog& log() const { return m_log; }
    std::size_t rowCount() const { return m_log.size(); }
    // The text of `column` in row `row` (0: the newest event).
    std::string cellText(std::size_t row, LogColumn column) const;
    // The line below the list: how many events it holds, how many were dropped, how many
    // ended sockets had no owner seen, and where ends are not announced, that it says so.
    std::string bottomLine() const;

private:
    ConnectionLog m_log;
    TakeEnds m_takeEnds;
    Clock m_clock;
    std::vector<os::SocketEnd> m_ends;
    std::uint64_t m_lastFilled = 0;
    bool m_snapshotPending = false;
    std::int64_t m_pendingSince = 0; // when the pending snapshot was announced
};
