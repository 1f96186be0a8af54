#include "ui/ConnectionLogView.h"

#include <algorithm>
#include <utility>

#include "list/RowRules.h"
#include "ui/MainWindowLook.h"

namespace ConnectionLogLook {

std::string_view FilterPlaceholder() {
    return MainWindowLook::Control(MainControl::EFilter).caption;
}

std::string_view ExportCaption() {
    return MainWindowLook::ContextCaption(ContextItem::NExport);
}

} // namespace ConnectionLogLook

namespace {

std::string cellOf(const LogEvent& e, LogColumn column) {
    const bool tcp = e.protocol == os::Protocol::Tcp;
    switch (column) {
    case LogColumn::Time:
        return LogTimeText(e.timeMs, false);
    case LogColumn::Event:
        return LogEventText(e);
    case LogColumn::Protocol:
        return LogProtocolText(e);
    case LogColumn::LocalAddr:
        return e.localAddr;
    case LogColumn::LocalPort:
        return std::to_string(e.localPort);
    case LogColumn::RemoteAddr:
        return tcp ? e.remoteAddr : std::string();
    case LogColumn::RemotePort:
        return tcp ? std::to_string(e.remotePort) : std::string();
    case LogColumn::State:
        return tcp ? TcpStateText(static_cast<std::int32_t>(e.state)) : std::string();
    case LogColumn::Process:
        return e.owner ? e.owner->name + " (" + std::to_string(e.owner->pid) + ")" : std::string();
    case LogColumn::Path:
        return e.owner ? e.owner->path : std::string();
    case LogColumn::BytesSent:
        return e.hasBytes ? std::to_string(e.bytesSent) : std::string();
    case LogColumn::BytesReceived:
        return e.hasBytes ? std::to_string(e.bytesReceived) : std::string();
    case LogColumn::Duration:
        return LogDurationText(e.durationMs);
    }
    return {};
}

// The time texts of a pass over the events, which come in time order, many within the same
// second: the text of a second is made once (the local time is the dear part).
class TimeTexts {
public:
    const std::string& operator()(std::int64_t timeMs) {
        const std::int64_t second = timeMs >= 0 ? timeMs / 1000 : -((999 - timeMs) / 1000);
        if (!m_known || second != m_second) {
            m_text = LogTimeText(timeMs, false);
            m_second = second;
            m_known = true;
        }
        return m_text;
    }

private:
    bool m_known = false;
    std::int64_t m_second = 0;
    std::string m_text;
};

// Tests events against a filter, every column's text.
class Matcher {
public:
    explicit Matcher(const RowFilter& filter) : m_filter(filter) {}

    bool operator()(const LogEvent& event) {
        if (m_filter.matchesText(m_times(event.timeMs)))
            return true;
        for (int column = 1; column < LogColumnCount; ++column) {
            if (m_filter.matchesText(cellOf(event, static_cast<LogColumn>(column))))
                return true;
        }
        return false;
    }

private:
    const RowFilter& m_filter;
    TimeTexts m_times;
};

} // namespace

const std::array<LogColumnInfo, LogColumnCount>& logColumns() {
    static const std::array<LogColumnInfo, LogColumnCount> columns = {{
        {"时间", 140, false},
        {"事件", 120, false},
        {"协议", 60, false},
        {"本地地址", 110, false},
        {"本地端口", 70, true},
        {"远程地址", 110, false},
        {"远程端口", 70, true},
        {"状态", 90, false},
        {"进程", 120, false},
        {"路径", 260, false},
        {"已发送", 80, true},
        {"已接收", 80, true},
        {"持续时间", 90, true},
    }};
    return columns;
}

ConnectionLogView::ConnectionLogView(bool announcedEnds, TakeEnds takeEnds, Clock clock,
                                     std::size_t maxEvents, std::size_t maxBytes)
    : m_log(announcedEnds, maxEvents, maxBytes), m_takeEnds(std::move(takeEnds)),
      m_clock(std::move(clock)) {}

void ConnectionLogView::snapshotTaken(const Snapshot& snapshot) {
    // Ends announced before the snapshot was merged come first.
    if (!m_snapshotPending) {
        poll();
        m_pendingSince = m_clock ? m_clock() : 0;
    }
    m_snapshotPending = false;
    m_log.addSnapshot(snapshot, m_pendingSince);
    follow();
}

void ConnectionLogView::snapshotPending() {
    m_snapshotPending = false;
    poll();
    // The snapshot's time: the ends that wait for it came later.
    m_pendingSince = m_clock ? m_clock() : 0;
    m_snapshotPending = true;
}

bool ConnectionLogView::poll() {
    if (m_snapshotPending)
        return false;
    const std::uint64_t before = m_log.added();
    if (m_takeEnds) {
        m_ends.clear();
        m_takeEnds(m_ends);
        m_log.addSocketEnds(m_ends);
    }
    follow();
    const bool filled = m_log.ownersFilledLater() != m_lastFilled;
    m_lastFilled = m_log.ownersFilledLater();
    return m_log.added() != before || filled;
}

const LogEvent& ConnectionLogView::eventBySerial(std::uint64_t serial) const {
    return m_log.newest(static_cast<std::size_t>(m_log.added() - 1 - serial));
}

void ConnectionLogView::follow() {
    const std::uint64_t added = m_log.added();
    const std::uint64_t oldest = added - m_log.size();
    const std::uint64_t fills = m_log.ownersFilledLater() - m_filledSeen;
    m_filledSeen = m_log.ownersFilledLater();
    if (m_filter.empty()) {
        m_rowsAdded += added - m_tested;
        m_tested = added;
        return;
    }
    // An owner that came later adds texts to a row, so a row left out may match now; a row
    // shown keeps matching. Only those rows are tested again, where the log still names them.
    const std::deque<std::uint64_t>& recent = m_log.recentFills();
    if (fills > recent.size()) {
        m_shown.clear();
        m_tested = oldest;
        ++m_rowsReset;
        m_rowsAdded = 0;
    } else if (fills > 0) {
        Matcher matches(m_filter);
        bool inserted = false;
        for (auto it = recent.end() - static_cast<std::ptrdiff_t>(fills); it != recent.end();
             ++it) {
            const std::uint64_t serial = *it;
            if (serial < oldest || serial >= m_tested)
                continue;
            const auto at = std::lower_bound(m_shown.begin(), m_shown.end(), serial);
            if ((at == m_shown.end() || *at != serial) && matches(eventBySerial(serial))) {
                m_shown.insert(at, serial);
                inserted = true;
            }
        }
        if (inserted) {
            ++m_rowsReset;
            m_rowsAdded = 0;
        }
    }
    while (!m_shown.empty() && m_shown.front() < oldest)
        m_shown.pop_front();
    Matcher matches(m_filter);
    for (std::uint64_t serial = std::max(m_tested, oldest); serial < added; ++serial) {
        if (matches(eventBySerial(serial))) {
            m_shown.push_back(serial);
            ++m_rowsAdded;
        }
    }
    m_tested = added;
}

bool ConnectionLogView::setFilterText(std::string_view text) {
    if (text == m_filter.text())
        return false;
    RowFilter next(text);
    const std::uint64_t added = m_log.added();
    const std::uint64_t oldest = added - m_log.size();
    if (next.empty()) {
        m_shown.clear();
    } else if (!m_filter.empty() && next.narrows(m_filter)) {
        // Typed further: only the rows shown now can match.
        Matcher matches(next);
        std::erase_if(m_shown, [this, &matches](std::uint64_t serial) {
            return !matches(eventBySerial(serial));
        });
    } else {
        m_shown.clear();
        Matcher matches(next);
        for (std::uint64_t serial = oldest; serial < added; ++serial) {
            if (matches(eventBySerial(serial)))
                m_shown.push_back(serial);
        }
    }
    m_filter = std::move(next);
    m_tested = added;
    ++m_rowsReset;
    m_rowsAdded = 0;
    return true;
}

std::size_t ConnectionLogView::rowCount() const {
    return m_filter.empty() ? m_log.size() : m_shown.size();
}

std::string ConnectionLogView::cellText(std::size_t row, LogColumn column) const {
    if (row >= rowCount())
        return {};
    if (m_filter.empty())
        return cellOf(m_log.newest(row), column);
    return cellOf(eventBySerial(m_shown[m_shown.size() - 1 - row]), column);
}

std::string ConnectionLogView::bottomLine() const {
    std::string line = "共 " + std::to_string(m_log.size()) + " 条记录，";
    if (!m_filter.empty())
        line += MainWindowLook::ShownCountText(m_shown.size()) + "，";
    line += "已丢弃最早的 " + std::to_string(m_log.dropped()) + " 条；" +
            std::to_string(m_log.ownerNotSeen()) + " 个已结束的连接未见所属进程";
    if (!m_log.announcedEnds())
        line += "（本系统不通报连接的结束：只记录刷新时发现的打开和关闭）";
    return line;
}

std::string ConnectionLogView::exportText(ExportFormat format) const {
    std::vector<std::string> titles;
    titles.reserve(LogColumnCount);
    for (const LogColumnInfo& info : logColumns())
        titles.emplace_back(info.caption);
    const std::size_t count = rowCount();
    std::vector<std::vector<std::string>> rows(count);
    TimeTexts times;
    for (std::size_t row = 0; row < count; ++row) {
        const LogEvent& event =
            m_filter.empty() ? m_log.newest(row) : eventBySerial(m_shown[m_shown.size() - 1 - row]);
        rows[row].reserve(LogColumnCount);
        rows[row].push_back(times(event.timeMs));
        for (int column = 1; column < LogColumnCount; ++column)
            rows[row].push_back(cellOf(event, static_cast<LogColumn>(column)));
    }
    return ::exportText(titles, rows, format);
}

bool ConnectionLogView::exportShown(ui::SaveFileDialog& dialog, const ui::WriteWholeFile& write,
                                    ui::MessageBoxes& messages) const {
    return ui::SaveExport(
        dialog, std::string(ConnectionLogLook::ExportFileName),
        [this](ExportFormat format) { return exportText(format); }, write, messages);
}
