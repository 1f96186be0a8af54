#include "app/FollowLog.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "list/ConnectionLog.h"
#include "os/SocketEnds.h"
#include "snapshot/UnitGetTcpUdpTable.h"
#include "ui/ListExport.h"

namespace {

volatile std::sig_atomic_t stopRequested = 0;

extern "C" void requestStop(int) {
    stopRequested = 1;
}

std::int64_t nowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

const char* kindName(const LogEvent& e) {
    return e.kind == LogEventKind::Open ? "open" : "close";
}
const char* sourceName(const LogEvent& e) {
    return e.source == LogSource::Announced ? "announced" : "refresh";
}

void appendTextLine(std::string& out, const LogEvent& e) {
    const LogOwner none;
    const LogOwner& owner = e.owner ? *e.owner : none;
    out += LogTimeText(e.timeMs, true);
    for (const std::string& field :
         {std::string(kindName(e)), std::string(sourceName(e)), LogProtocolText(e),
          std::to_string(e.state), e.localAddr, std::to_string(e.localPort), e.remoteAddr,
          e.protocol == os::Protocol::Tcp ? std::to_string(e.remotePort) : std::string(),
          e.hasBytes ? std::to_string(e.bytesSent) : std::string(),
          e.hasBytes ? std::to_string(e.bytesReceived) : std::string(),
          e.durationMs >= 0 ? std::to_string(e.durationMs) : std::string(),
          std::to_string(owner.pid), owner.name, owner.path}) {
        out += '\t';
        appendTsvField(out, field);
    }
    out += '\n';
}

// Length of the valid UTF-8 sequence at the start of `text`, 0 when it is none.
std::size_t utf8Length(std::string_view text) {
    const auto b = static_cast<unsigned char>(text[0]);
    std::size_t length = 0;
    unsigned char min = 0x80;
    unsigned char max = 0xBF;
    if (b >= 0xC2 && b <= 0xDF)
        length = 2;
    else if (b >= 0xE0 && b <= 0xEF) {
        length = 3;
        min = b == 0xE0 ? 0xA0 : 0x80;
        max = b == 0xED ? 0x9F : 0xBF;
    } else if (b >= 0xF0 && b <= 0xF4) {
        length = 4;
        min = b == 0xF0 ? 0x90 : 0x80;
        max = b == 0xF4 ? 0x8F : 0xBF;
    } else
        return 0;
    if (text.size() < length)
        return 0;
    for (std::size_t i = 1; i < length; ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < (i == 1 ? min : 0x80) || c > (i == 1 ? max : 0xBF))
            return 0;
    }
    return length;
}

// A JSON string; bytes that are no UTF-8 (a Linux path may hold any) become U+FFFD.
void appendJsonString(std::string& out, std::string_view text) {
    out += '"';
    while (!text.empty()) {
        const auto c = static_cast<unsigned char>(text[0]);
        if (c >= 0x80) {
            const std::size_t length = utf8Length(text);
            if (length == 0) {
                out += "\\ufffd";
                text.remove_prefix(1);
            } else {
                out.append(text.substr(0, length));
                text.remove_prefix(length);
            }
            continue;
        }
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else {
            out += static_cast<char>(c);
        }
        text.remove_prefix(1);
    }
    out += '"';
}

void appendJsonLine(std::string& out, const LogEvent& e) {
    auto key = [&out](const char* name) {
        out += out.back() == '{' ? "\"" : ",\"";
        out += name;
        out += "\":";
    };
    auto number = [&out](std::uint64_t value) { out += std::to_string(value); };
    out += '{';
    key("time");
    appendJsonString(out, LogTimeText(e.timeMs, true));
    key("time_ms");
    out += std::to_string(e.timeMs);
    key("event");
    appendJsonString(out, kindName(e));
    key("source");
    appendJsonString(out, sourceName(e));
    key("protocol");
    appendJsonString(out, e.protocol == os::Protocol::Tcp ? "TCP" : "UDP");
    key("family");
    number(e.family == os::Family::V4 ? 4 : 6);
    key("state");
    number(e.state);
    key("local_address");
    appendJsonString(out, e.localAddr);
    key("local_port");
    number(e.localPort);
    key("remote_address");
    if (e.protocol == os::Protocol::Tcp)
        appendJsonString(out, e.remoteAddr);
    else
        out += "null";
    key("remote_port");
    if (e.protocol == os::Protocol::Tcp)
        number(e.remotePort);
    else
        out += "null";
    auto counter = [&](std::uint64_t value) {
        if (e.hasBytes)
            number(value);
        else
            out += "null";
    };
    key("bytes_sent");
    counter(e.bytesSent);
    key("bytes_received");
    counter(e.bytesReceived);
    key("duration_ms");
    if (e.durationMs >= 0)
        out += std::to_string(e.durationMs);
    else
        out += "null";
    key("pid");
    number(e.owner ? e.owner->pid : 0);
    key("name");
    appendJsonString(out, e.owner ? e.owner->name : std::string());
    key("path");
    appendJsonString(out, e.owner ? e.owner->path : std::string());
    out += "}\n";
}

enum class Written { Ok, Closed, Failed };

// One line at a time, flushed, so that a reader at the other end of a pipe sees each event as
// it happens.
Written writeLine(const std::string& line) {
    if (std::fwrite(line.data(), 1, line.size(), stdout) == line.size() && std::fflush(stdout) == 0)
        return Written::Ok;
    return errno == EPIPE ? Written::Closed : Written::Failed;
}

} // namespace

int followLog(const FollowOptions& options) {
    std::signal(SIGINT, requestStop);
    std::signal(SIGTERM, requestStop);
#ifdef SIGPIPE
    // A closed pipe is an ordinary end: the write says EPIPE instead of the signal ending us.
    std::signal(SIGPIPE, SIG_IGN);
#endif
    // Listening starts before the first snapshot, so that no end falls between the two.
    os::SocketEndListener listener;
    ConnectionLog log(listener.listening());
    Snapshot snapshot;
    auto refresh = [&]() -> bool {
        try {
            TakeSnapshot(snapshot);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "kestrel-snapshot: %s\n", e.what());
            return false;
        }
        log.addSnapshot(snapshot, nowMs());
        return true;
    };
    EnableDebugPrivilege();
    {
        const std::jthread prepare = PrepareDescriptionsAside();
        if (!refresh())
            return 1;
    }

    const auto interval = std::chrono::seconds(options.intervalSeconds);
    auto nextRefresh = std::chrono::steady_clock::now() + interval;
    std::uint64_t printed = log.added();
    std::vector<os::SocketEnd> ends;
    std::string line;
    while (stopRequested == 0) {
        if (listener.listening())
            listener.wait(std::chrono::milliseconds(200));
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
        ends.clear();
        listener.take(ends);
        log.addSocketEnds(ends);
        if (std::chrono::steady_clock::now() >= nextRefresh) {
            // A snapshot that fails now and then (a sandbox, a vanishing table) is skipped.
            try {
                TakeSnapshot(snapshot);
                log.addSnapshot(snapshot, nowMs());
            } catch (const std::exception&) {
            }
            nextRefresh = std::chrono::steady_clock::now() + interval;
        }
        // The new events, oldest first; those the bound dropped already are gone.
        const std::uint64_t fresh = std::min<std::uint64_t>(log.added() - printed, log.size());
        for (std::uint64_t i = fresh; i-- > 0;) {
            line.clear();
            const LogEvent& event = log.newest(static_cast<std::size_t>(i));
            if (options.format == FollowFormat::Json)
                appendJsonLine(line, event);
            else
                appendTextLine(line, event);
            switch (writeLine(line)) {
            case Written::Ok:
                break;
            case Written::Closed:
                return 0;
            case Written::Failed:
                std::fprintf(stderr, "kestrel-snapshot: cannot write the output: %s\n",
                             std::strerror(errno));
                return 1;
            }
        }
        printed = log.added();
    }
    return 0;
}
