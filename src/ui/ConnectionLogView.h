#pragma once
// The connection log window "连接记录", free of any toolkit: the log fed by the snapshots of the
// main window and by the system's announced ends, its columns, the filter over its rows, the
// texts of its cells (newest first) and of its bottom line, and its export. The toolkit layer
// polls it and shows it.
#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "list/ConnectionLog.h"
#include "list/RowFilter.h"
#include "ui/ExportCommand.h"
#include "ui/MainWindowLook.h"

inline constexpr std::string_view TextConnectionLogCaption = "连接记录";

// The controls above the list, from the right: the export button, then the filter field, as
// the main window has them (the same texts: "导出列表...", "筛选"; the field as wide and high).
namespace ConnectionLogLook {
std::string_view FilterPlaceholder();
std::string_view ExportCaption();
inline constexpr std::string_view ExportFileName = "Kestrel-log.csv";
inline constexpr int FilterWidth = MainWindowLook::FilterWidth;
inline constexpr int FilterHeight = MainWindowLook::FilterHeight;
inline constexpr int ExportWidth = 96;
inline constexpr int TopHeight = 28; // the strip above the list, at 96 dpi
inline constexpr int Gap = 6;
} // namespace ConnectionLogLook

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

    // The filter field's text: the rows shown are the events for which the text of some
    // column contains it (RowFilter: ASCII letters in any case, every other byte equal); an
    // empty text shows every event. Events logged later are tested as they come. True when
    // the text changed.
    bool setFilterText(std::string_view text);
    const std::string& filterText() const { return m_filter.text(); }

    // The rows shown, newest first: every event of the log, or those the filter lets through.
    std::size_t rowCount() const;
    // The text of `column` in shown row `row` (0: the newest shown).
    std::string cellText(std::size_t row, LogColumn column) const;
    // For a view of the rows: how many rows came in at the top since the list of shown rows
    // last changed otherwise (a new filter, or a filtered event let through by an owner that
    // came later), and how many times that happened. The rows that leave, leave at the bottom.
    std::uint64_t rowsAdded() const { return m_rowsAdded; }
    std::uint64_t rowsReset() const { return m_rowsReset; }

    // The line below the list: how many events it holds, how many a filter shows of them,
    // how many were dropped, how many ended sockets had no owner seen, and where ends are not
    // announced, that it says so.
    std::string bottomLine() const;

    // The bytes of the export file: the columns' captions, then the rows shown, newest first.
    std::string exportText(ExportFormat format) const;
    // "导出列表...": asks `dialog` for a file, proposing ExportFileName, and writes
    // exportText to it (ui::SaveExport). True when the file was written.
    bool exportShown(ui::SaveFileDialog& dialog, const ui::WriteWholeFile& write,
                     ui::MessageBoxes& messages) const;

private:
    const LogEvent& eventBySerial(std::uint64_t serial) const;
    // Brings the shown rows up to the log after it changed.
    void follow();

    ConnectionLog m_log;
    TakeEnds m_takeEnds;
    Clock m_clock;
    std::vector<os::SocketEnd> m_ends;
    std::uint64_t m_lastFilled = 0;
    bool m_snapshotPending = false;
    std::int64_t m_pendingSince = 0; // when the pending snapshot was announced
    RowFilter m_filter;
    // While a filter is set: the serial numbers (ConnectionLog::added() numbering) of the
    // events it shows, oldest first.
    std::deque<std::uint64_t> m_shown;
    // Events with a serial below this have been tested by the filter.
    std::uint64_t m_tested = 0;
    std::uint64_t m_filledSeen = 0;
    std::uint64_t m_rowsAdded = 0;
    std::uint64_t m_rowsReset = 0;
};
