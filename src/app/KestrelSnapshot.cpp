// kestrel-snapshot: prints one snapshot of every IPv4 TCP and UDP endpoint with its owner.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>
#include <string_view>
#include <vector>

#include "app/FollowLog.h"
#include "list/RowRules.h"
#include "snapshot/UnitGetTcpUdpTable.h"

#ifndef KESTREL_HELPER_INSTALLED
#define KESTREL_HELPER_INSTALLED "/usr/libexec/kestrel/kestrel-helper"
#endif

namespace {

constexpr const char* Usage =
    "Usage: kestrel-snapshot [--help]\n"
    "       kestrel-snapshot --follow [--format text|json] [--interval SECONDS]\n"
    "\n"
    "Prints every IPv4 TCP endpoint (connections and listeners), then every IPv4 UDP\n"
    "endpoint of this machine, one line each, with these tab-separated fields:\n"
    "\n"
    "  protocol      TCP or UDP\n"
    "  state         TCP state number (1 closed, 2 listen, 3 SYN sent, 4 SYN received,\n"
    "                5 established, 6 FIN wait 1, 7 FIN wait 2, 8 close wait, 9 closing,\n"
    "                10 last ACK, 11 time wait); 0 for UDP\n"
    "  local address, local port\n"
    "  remote address, remote port (empty for UDP)\n"
    "  PID           owning process; 0 when no process holds the socket or its owner\n"
    "                cannot be seen\n"
    "  name, path    the owner's executable\n"
    "  description, company\n"
    "                from the executable's version resource (empty when it has none); for a\n"
    "                socket whose owner cannot be seen, a note naming the socket's user\n"
    "\n"
    "A tab, line break, carriage return or backslash inside a field is written as \\t, \\n,\n"
    "\\r or \\\\.\n"
    "\n"
    "The owners of other users' sockets are seen through kestrel-helper (next to this\n"
    "program in a build tree, else in the libexec folder kestrel/) once it holds its two\n"
    "capabilities; a package install grants them, or once by hand:\n"
    "  sudo setcap cap_dac_read_search,cap_sys_ptrace+ep " KESTREL_HELPER_INSTALLED "\n"
    "Run as root, it sees them without the helper.\n"
    "\n"
    "With --follow it prints the connection log instead, one line per event as it\n"
    "happens, until interrupted (SIGINT, SIGTERM) or until its output is closed:\n"
    "\n"
    "  time          local date and time, to the millisecond\n"
    "  event         open or close\n"
    "  source        announced (the system told of the end as it happened) or refresh\n"
    "                (found by comparing snapshots, every --interval seconds, default 10)\n"
    "  protocol      TCP, UDP, TCPv6 or UDPv6\n"
    "  state         TCP state number (the last one for a close); 0 for UDP\n"
    "  local address, local port, remote address, remote port (empty for UDP)\n"
    "  bytes sent, bytes received\n"
    "                TCP counters (acknowledged sequence space, which counts SYN and FIN);\n"
    "                empty when unknown\n"
    "  duration      milliseconds the socket lived, when a snapshot saw it begin; else empty\n"
    "  PID, name, path\n"
    "                the owner, when a snapshot saw the socket; else 0 and empty\n"
    "--format json prints one JSON object per line with the same fields instead.\n"
    "\n"
    "Exit status: 0 on success, 1 on failure (with a message on standard error).\n";

} // namespace

void appendField(std::string& out, std::string_view text) {
    // Fields rarely hold anything to escape: copy the runs between such characters whole.
    for (;;) {
        const std::size_t special = text.find_first_of("\t\n\r\\");
        out.append(text.substr(0, special));
        if (special == std::string_view::npos)
            return;
        switch (text[special]) {
        case '\t':
            out += "\\t";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        default:
            out += "\\\\";
            break;
        }
        text.remove_prefix(special + 1);
    }
}

namespace {

void appendRecord(std::string& out, const char* protocol, const File_Rec& rec) {
    out += protocol;
    out += '\t';
    out += std::to_string(rec.State);
    const std::string description = describeRecordPlainly(rec);
    for (const std::string* field :
         {&rec.LocalAddr, &rec.LocalPort, &rec.RemoteAddr, &rec.RemotePort, &rec.PID, &rec.ProcName,
          &rec.ProcPath, &description, &rec.Company}) {
        out += '\t';
        appendField(out, *field);
    }
    out += '\n';
}

bool writeAll(const std::string& text) {
    return std::fwrite(text.data(), 1, text.size(), stdout) == text.size();
}

// The lines go out in pieces of about this size: a snapshot of 100,000 sockets would otherwise
// be built as one text of ten megabytes first.
constexpr std::size_t PieceSize = 64 * 1024;

bool writeRecords(std::string& out, const char* protocol, const std::vector<File_Rec>& records) {
    for (const File_Rec& rec : records) {
        appendRecord(out, protocol, rec);
        if (out.size() >= PieceSize) {
            if (!writeAll(out))
                return false;
            out.clear();
        }
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    bool follow = false;
    bool followOptionGiven = false;
    FollowOptions followOptions;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(Usage, stdout);
            return std::fflush(stdout) == 0 ? 0 : 1;
        }
        if (std::strcmp(argv[i], "--follow") == 0) {
            follow = true;
            continue;
        }
        if (std::strcmp(argv[i], "--format") == 0 && i + 1 < argc &&
            (std::strcmp(argv[i + 1], "text") == 0 || std::strcmp(argv[i + 1], "json") == 0)) {
            followOptions.format =
                std::strcmp(argv[++i], "json") == 0 ? FollowFormat::Json : FollowFormat::Text;
            followOptionGiven = true;
            continue;
        }
        if (std::strcmp(argv[i], "--interval") == 0 && i + 1 < argc) {
            char* end = nullptr;
            errno = 0;
            const long seconds = std::strtol(argv[++i], &end, 10);
            if (errno != 0 || end == argv[i] || *end != '\0' || seconds < 1 || seconds > 3600) {
                std::fprintf(stderr,
                             "kestrel-snapshot: --interval takes 1 to 3600 seconds, not '%s'\n",
                             argv[i]);
                return 1;
            }
            followOptions.intervalSeconds = static_cast<int>(seconds);
            followOptionGiven = true;
            continue;
        }
        std::fprintf(stderr, "kestrel-snapshot: unknown argument '%s' (see --help)\n", argv[i]);
        return 1;
    }
    if (followOptionGiven && !follow) {
        std::fputs("kestrel-snapshot: --format and --interval go with --follow (see --help)\n",
                   stderr);
        return 1;
    }
    if (follow)
        return followLog(followOptions);

    try {
        // Without the capabilities other users' sockets still show, with PID 0.
        EnableDebugPrivilege();
        {
            // The description indexes are built while the endpoint tables are read.
            const std::jthread prepare = PrepareDescriptionsAside();
            GetTcpUdpTable();
        }

        std::string out;
        out.reserve(PieceSize + 4096);
        const bool written = writeRecords(out, "TCP", TcpRecords) &&
                             writeRecords(out, "UDP", UdpRecords) && writeAll(out);
        if (!written || std::fflush(stdout) != 0) {
            std::fprintf(stderr, "kestrel-snapshot: cannot write the output: %s\n",
                         std::strerror(errno));
            return 1;
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "kestrel-snapshot: %s\n", e.what());
        return 1;
    }
    return 0;
}
