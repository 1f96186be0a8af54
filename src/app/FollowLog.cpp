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
    key("timeMs");
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
    key("localAddress");
    appendJsonString(out, e.localAddr);
    key("localPort");
    number(e.localPort);
    key("remoteAddress");
    if (e.protocol == os::Protocol::Tcp)
        appendJsonString(out, e.remoteAddr);
    else
        out += "null";
    key("remotePort");
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
    key("bytesSent");
    counter(e.bytesSent);
    key("bytesReceived");
    counter(e.bytesReceived);
    key("durationMs");
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
    // A signal to stop that came while a reader let the pipe fill is an ordinary end too.
    if (errno == EPIPE || (errno == EINTR && stopRequested != 0))
        return Written::Closed;
    return Written::Failed;
}

// Without SA_RESTART: a write blocked on a full pipe returns, so that the signal ends the
// program even while its reader reads nothing.
void stopOn(int signal) {
#ifdef _WIN32
    std::signal(signal, requestStop);
#else
    struct sigaction action {};
    action.sa_handler = requestStop;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;
    ::sigaction(signal, &action, nullptr);
#endif
}

} // namespace

int followLog(const FollowOptions& options) {
    stopOn(SIGINT);
    stopOn(SIGTERM);
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
