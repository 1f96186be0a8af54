#include "ui/ConnectionLogView.h"

#include <utility>

#include "list/RowRules.h"

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
    const bool filled = m_log.ownersFilledLater() != m_lastFilled;
    m_lastFilled = m_log.ownersFilledLater();
    return m_log.added() != before || filled;
}

std::string ConnectionLogView::cellText(std::size_t row, LogColumn column) const {
    if (row >= m_log.size())
        return {};
    const LogEvent& e = m_log.newest(row);
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

std::string ConnectionLogView::bottomLine() const {
    std::string line = "共 " + std::to_string(m_log.size()) + " 条记录，已丢弃最早的 " +
                       std::to_string(m_log.dropped()) + " 条；" +
                       std::to_string(m_log.ownerNotSeen()) + " 个已结束的连接未见所属进程";
    if (!m_log.announcedEnds())
        line += "（本系统不通报连接的结束：只记录刷新时发现的打开和关闭）";
    return line;
}
