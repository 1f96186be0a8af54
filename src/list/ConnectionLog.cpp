#include "list/ConnectionLog.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <ctime>
#include <utility>

namespace {

constexpr std::uint32_t TimeWaitState = 11;

std::uint32_t numberOf(const std::string& text) {
    std::uint32_t value = 0;
    std::from_chars(text.data(), text.data() + text.size(), value);
    return value;
}

// Heap bytes of a text beyond the object itself (an upper bound: small texts use none).
std::size_t heapBytes(const std::string& text) {
    return text.capacity() > 15 ? text.capacity() + 1 : 0;
}

std::size_t eventBytes(const LogEvent& event) {
    std::size_t bytes = sizeof(LogEvent) + sizeof(std::size_t) + heapBytes(event.localAddr) +
                        heapBytes(event.remoteAddr);
    // Owners are shared between events; counting each use keeps the bound an upper one.
    if (event.owner)
        bytes += sizeof(LogOwner) + heapBytes(event.owner->name) + heapBytes(event.owner->path);
    return bytes;
}

std::string keyOf(const File_Rec& rec, os::Protocol protocol, os::Family family) {
    std::string key;
    key.reserve(64);
    key += protocol == os::Protocol::Tcp ? 'T' : 'U';
    key += family == os::Family::V4 ? '4' : '6';
    for (const std::string* field :
         {&rec.LocalAddr, &rec.LocalPort, &rec.RemoteAddr, &rec.RemotePort, &rec.PID}) {
        key += '|';
        key += *field;
    }
    return key;
}

} // namespace

ConnectionLog::ConnectionLog(bool announcedEnds, std::size_t maxEvents, std::size_t maxBytes)
    : m_announcedEnds(announcedEnds), m_maxEvents(maxEvents == 0 ? 1 : maxEvents),
      m_maxBytes(maxBytes) {}

void ConnectionLog::push(LogEvent event) {
    const std::size_t bytes = eventBytes(event);
    m_events.push_back(std::move(event));
    m_eventBytes.push_back(bytes);
    m_bytes += bytes;
    ++m_added;
    while (m_events.size() > 1 && (m_events.size() > m_maxEvents || m_bytes > m_maxBytes)) {
        m_bytes -= m_eventBytes.front();
        m_eventBytes.pop_front();
        m_events.pop_front();
        ++m_dropped;
    }
}

LogEvent* ConnectionLog::eventBySerial(std::uint64_t serial) {
    const std::uint64_t first = m_added - m_events.size();
    if (serial < first || serial >= m_added)
        return nullptr;
    return &m_events[static_cast<std::size_t>(serial - first)];
}

std::shared_ptr<const LogOwner> ConnectionLog::ownerOf(const File_Rec& rec) {
    const std::uint32_t pid = numberOf(rec.PID);
    if (pid == 0)
        return nullptr;
    if (auto it = m_nextOwners.find(pid); it != m_nextOwners.end())
        return it->second;
    std::shared_ptr<const LogOwner> owner;
    // The same process as in the last snapshot keeps its one copy.
    if (auto it = m_owners.find(pid); it != m_owners.end() && it->second->name == rec.ProcName &&
                                      it->second->path == rec.ProcPath)
        owner = it->second;
    else
        owner = std::make_shared<const LogOwner>(LogOwner{pid, rec.ProcName, rec.ProcPath});
    m_nextOwners.emplace(pid, owner);
    return owner;
}

void ConnectionLog::mergeRecords(const std::vector<File_Rec>& records, os::Protocol protocol,
                                 os::Family family, std::int64_t timeMs) {
    const bool tcp = protocol == os::Protocol::Tcp;
    for (const File_Rec& rec : records) {
        const std::uint32_t state = tcp ? static_cast<std::uint32_t>(rec.State) : 0;
        std::shared_ptr<const LogOwner> owner = ownerOf(rec);
        if (rec.Cookie != 0) {
            if (auto ended = m_ended.find(rec.Cookie); ended != m_ended.end()) {
                // Its end came first (this snapshot was under way): the end learns its owner.
                LogEvent* event = eventBySerial(ended->second.serial);
                if (event != nullptr && !event->owner && owner) {
                    event->owner = owner;
                    --m_ownerNotSeen;
                    ++m_ownersFilled;
                    m_recentFills.push_back(ended->second.serial);
                    if (m_recentFills.size() > RecentFillsKept)
                        m_recentFills.pop_front();
                }
                continue;
            }
        }
        // A connection in TIME_WAIT has ended already; its end was logged when it happened.
        if (tcp && state == TimeWaitState)
            continue;

        Tracked* tracked = nullptr;
        bool fresh = false;
        if (rec.Cookie != 0) {
            auto [it, inserted] = m_byCookie.try_emplace(rec.Cookie);
            tracked = &it->second;
            fresh = inserted;
        } else {
            auto [it, inserted] = m_byKey.try_emplace(keyOf(rec, protocol, family));
            tracked = &it->second;
            fresh = inserted;
        }
        LogEvent& last = tracked->last;
        last.protocol = protocol;
        last.family = family;
        last.state = state;
        last.cookie = rec.Cookie;
        last.hasBytes = rec.HasByteCounters;
        last.bytesSent = rec.BytesAcked;
        last.bytesReceived = rec.BytesReceived;
        if (owner)
            last.owner = std::move(owner);
        tracked->generation = m_generation;
        if (!fresh)
            continue;
        last.localAddr = rec.LocalAddr;
        last.localPort = static_cast<std::uint16_t>(numberOf(rec.LocalPort));
        if (tcp) {
            last.remoteAddr = rec.RemoteAddr;
            last.remotePort = static_cast<std::uint16_t>(numberOf(rec.RemotePort));
        }
        tracked->firstSeenMs = timeMs;
        tracked->sawBegin = m_generation > 1;
        if (tracked->sawBegin) {
            LogEvent open = last;
            open.timeMs = timeMs;
            open.kind = LogEventKind::Open;
            open.source = LogSource::Refresh;
            push(std::move(open));
        }
    }
}

void ConnectionLog::addSnapshot(const Snapshot& snapshot, std::int64_t timeMs) {
    ++m_generation;
    m_nextOwners.clear();
    mergeRecords(snapshot.Tcp, os::Protocol::Tcp, os::Family::V4, timeMs);
    mergeRecords(snapshot.Udp, os::Protocol::Udp, os::Family::V4, timeMs);
    mergeRecords(snapshot.Tcp6, os::Protocol::Tcp, os::Family::V6, timeMs);
    mergeRecords(snapshot.Udp6, os::Protocol::Udp, os::Family::V6, timeMs);
    std::swap(m_owners, m_nextOwners);
    m_nextOwners.clear();

    // Without announcements a socket missing now has ended; with them, only one whose end
    // was not announced by the refresh after it went missing.
    const std::uint64_t missingSince = m_announcedEnds ? 1 : 0;
    auto sweep = [&](auto& map) {
        for (auto it = map.begin(); it != map.end();) {
            Tracked& tracked = it->second;
            if (tracked.generation + missingSince >= m_generation) {
                ++it;
                continue;
            }
            LogEvent end = std::move(tracked.last);
            end.timeMs = timeMs;
            end.kind = LogEventKind::Close;
            end.source = LogSource::Refresh;
            end.durationMs = tracked.sawBegin ? timeMs - tracked.firstSeenMs : -1;
            if (!end.owner)
                ++m_ownerNotSeen;
            push(std::move(end));
            it = map.erase(it);
        }
    };
    sweep(m_byCookie);
    sweep(m_byKey);
    for (auto it = m_ended.begin(); it != m_ended.end();) {
        if (it->second.generation + 2 < m_generation)
            it = m_ended.erase(it);
        else
            ++it;
    }
}

void ConnectionLog::addSocketEnds(const std::vector<os::SocketEnd>& ends) {
    for (const os::SocketEnd& end : ends) {
        const os::Endpoint& e = end.endpoint;
        LogEvent event;
        event.timeMs = end.timeMs;
        event.kind = LogEventKind::Close;
        event.source = LogSource::Announced;
        event.protocol = e.protocol;
        event.family = e.family;
        event.state = e.protocol == os::Protocol::Tcp ? e.state : 0;
        event.localAddr = AddressText(e.family, e.localAddr, e.localScopeId);
        event.localPort = e.localPort;
        if (e.protocol == os::Protocol::Tcp) {
            event.remoteAddr = AddressText(e.family, e.remoteAddr, e.remoteScopeId);
            event.remotePort = e.remotePort;
        }
        event.hasBytes = e.hasByteCounters;
        event.bytesSent = e.bytesAcked;
        event.bytesReceived = e.bytesReceived;
        event.cookie = e.cookie;
        if (e.cookie != 0) {
            if (auto it = m_byCookie.find(e.cookie); it != m_byCookie.end()) {
                const LogEvent& last = it->second.last;
                event.owner = last.owner;
                // An aborted connection (a reset, SO_LINGER 0) ends disconnected: the kernel
                // has cleared its remote port and counters. The last snapshot still knew them.
                if (event.remotePort == 0 && event.remoteAddr == last.remoteAddr)
                    event.remotePort = last.remotePort;
                if (last.hasBytes && event.bytesSent < last.bytesSent) {
                    event.hasBytes = true;
                    event.bytesSent = last.bytesSent;
                    event.bytesReceived = std::max(event.bytesReceived, last.bytesReceived);
                }
                if (it->second.sawBegin)
                    event.durationMs = end.timeMs - it->second.firstSeenMs;
                m_byCookie.erase(it);
            }
            m_ended[e.cookie] = Ended{m_added, m_generation};
        }
        if (!event.owner)
            ++m_ownerNotSeen;
        push(std::move(event));
    }
}

std::string LogTimeText(std::int64_t timeMs, bool milliseconds) {
    std::int64_t seconds = timeMs / 1000;
    std::int64_t rest = timeMs % 1000;
    if (rest < 0) {
        rest += 1000;
        --seconds;
    }
    const std::time_t t = static_cast<std::time_t>(seconds);
    // The program reads the time on one thread only; localtime's shared buffer is safe there.
    const std::tm* local = std::localtime(&t);
    if (local == nullptr)
        return {};
    char text[40];
    const std::size_t n = std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", local);
    std::string out(text, n);
    if (milliseconds) {
        char ms[8];
        std::snprintf(ms, sizeof ms, ".%03d", static_cast<int>(rest));
        out += ms;
    }
    return out;
}

std::string LogEventText(const LogEvent& event) {
    std::string text = event.kind == LogEventKind::Open ? "打开" : "关闭";
    if (event.source == LogSource::Refresh)
        text += "（刷新时发现）";
    return text;
}

std::string LogProtocolText(const LogEvent& event) {
    std::string text = event.protocol == os::Protocol::Tcp ? "TCP" : "UDP";
    if (event.family == os::Family::V6)
        text += "v6";
    return text;
}

std::string LogDurationText(std::int64_t durationMs) {
    if (durationMs < 0)
        return {};
    char text[48];
    if (durationMs < 60000) {
        std::snprintf(text, sizeof text, "%d.%03d 秒", static_cast<int>(durationMs / 1000),
                      static_cast<int>(durationMs % 1000));
    } else if (durationMs < 3600000) {
        std::snprintf(text, sizeof text, "%d 分 %d 秒", static_cast<int>(durationMs / 60000),
                      static_cast<int>(durationMs / 1000 % 60));
    } else {
        std::snprintf(text, sizeof text, "%lld 小时 %d 分",
                      static_cast<long long>(durationMs / 3600000),
                      static_cast<int>(durationMs / 60000 % 60));
    }
    return text;
}
