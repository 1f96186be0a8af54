// kestrel-snapshot: prints one snapshot of every TCP and UDP endpoint with its owner.
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>
#include <string_view>
#include <vector>

#include "app/FollowLog.h"
#include "list/RowRules.h"
#include "os/Memory.h"
#include "snapshot/UnitGetTcpUdpTable.h"
#include "ui/ListExport.h"

#ifndef KESTREL_HELPER_INSTALLED
#define KESTREL_HELPER_INSTALLED "/usr/libexec/kestrel/kestrel-helper"
#endif

namespace {

constexpr const char* Usage =
    "Usage: kestrel-snapshot [--format tsv|csv|json] [--ipv6] [--help]\n"
    "       kestrel-snapshot --follow [--format text|json] [--interval SECONDS]\n"
    "\n"
    "Prints every IPv4 TCP endpoint (connections and listeners), then every IPv4 UDP\n"
    "endpoint of this machine; with --ipv6 every IPv6 TCP endpoint, then every IPv6 UDP\n"
    "endpoint follow (IPv4 traffic on dual-stack sockets is IPv4). Each endpoint has these\n"
    "fields:\n"
    "\n"
    "  protocol      TCP or UDP; TCPv6 or UDPv6\n"
    "  state         TCP state number (1 closed, 2 listen, 3 SYN sent, 4 SYN received,\n"
    "                5 established, 6 FIN wait 1, 7 FIN wait 2, 8 close wait, 9 closing,\n"
    "                10 last ACK, 11 time wait); 0 for UDP\n"
    "  local address, local port\n"
    "                (IPv6 addresses in RFC 5952 text, %scope for link-local ones)\n"
    "  remote address, remote port (empty for UDP)\n"
    "  PID           owning process; 0 when no process holds the socket or its owner\n"
    "                cannot be seen\n"
    "  name, path    the owner's executable\n"
    "  description, company\n"
    "                from the executable's version resource (empty when it has none); for a\n"
    "                socket whose owner cannot be seen, a note naming the socket's user\n"
    "\n"
    "--format tsv (the default): one line per endpoint, the fields separated by tabs; a\n"
    "tab, line break, carriage return or backslash inside a field is written as \\t, \\n,\n"
    "\\r or \\\\.\n"
    "--format csv: RFC 4180, UTF-8, a first record of the field names given for json,\n"
    "records ending in CR LF; a field holding a comma, double quote or line break is\n"
    "quoted, its double quotes doubled.\n"
    "--format json: one array of objects, one per endpoint, with the fields\n"
    "  \"protocol\" (text), \"state\" (number), \"localAddress\" (text), \"localPort\"\n"
    "  (number), \"remoteAddress\" (text, null for UDP), \"remotePort\" (number, null for\n"
    "  UDP), \"pid\" (number), \"name\", \"path\", \"description\", \"company\" (texts);\n"
    "  bytes that are not UTF-8 come out as U+FFFD.\n"
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

enum class Format { Tsv, Csv, Json };

// The field names of the CSV header and the JSON objects, in field order.
constexpr const char* FieldNames[] = {
    "protocol", "state", "localAddress", "localPort",   "remoteAddress", "remotePort",
    "pid",      "name",  "path",         "description", "company",
};

std::uint32_t number(const std::string& text) {
    std::uint32_t value = 0;
    std::from_chars(text.data(), text.data() + text.size(), value);
    return value;
}

class RecordWriter {
public:
    explicit RecordWriter(Format format) : m_format(format) {}

    void begin(std::string& out) {
        if (m_format == Format::Csv) {
            for (std::size_t i = 0; i < std::size(FieldNames); ++i) {
                if (i != 0)
                    out += ',';
                out += FieldNames[i];
            }
            out += "\r\n";
        } else if (m_format == Format::Json) {
            out += '[';
        }
    }

    void record(std::string& out, const char* protocol, const File_Rec& rec, bool tcp) {
        const std::string description = describeRecordPlainly(rec);
        const std::string state = std::to_string(rec.State);
        const std::string* const texts[] = {
            &state,   &rec.LocalAddr, &rec.LocalPort, &rec.RemoteAddr, &rec.RemotePort,
            &rec.PID, &rec.ProcName,  &rec.ProcPath,  &description,    &rec.Company};
        if (m_format == Format::Json) {
            out += m_any ? ",\n  {" : "\n  {";
            const auto name = [&out](std::size_t field) {
                if (field != 0)
                    out += ',';
                out += '"';
                out += FieldNames[field];
                out += "\":";
            };
            name(0);
            appendJsonString(out, protocol);
            for (std::size_t field = 1; field < std::size(FieldNames); ++field) {
                name(field);
                const std::string& text = *texts[field - 1];
                const bool remote = field == 4 || field == 5;
                if (remote && !tcp)
                    out += "null";
                else if (field == 1)
                    out += text; // signed decimal of the state number
                else if (field == 3 || field == 5 || field == 6)
                    out += std::to_string(number(text));
                else
                    appendJsonString(out, text);
            }
            out += '}';
        } else {
            out += protocol;
            for (const std::string* text : texts) {
                out += m_format == Format::Csv ? ',' : '\t';
                if (m_format == Format::Csv)
                    appendCsvField(out, *text);
                else
                    appendTsvField(out, *text);
            }
            out += m_format == Format::Csv ? "\r\n" : "\n";
        }
        m_any = true;
    }

    void end(std::string& out) {
        if (m_format == Format::Json)
            out += m_any ? "\n]\n" : "]\n";
    }

private:
    Format m_format;
    bool m_any = false;
};

bool writeAll(const std::string& text) {
    return std::fwrite(text.data(), 1, text.size(), stdout) == text.size();
}

// The lines go out in pieces of about this size: a snapshot of 100,000 sockets would otherwise
// be built as one text of ten megabytes first.
constexpr std::size_t PieceSize = 64 * 1024;

bool writeRecords(std::string& out, RecordWriter& writer, const char* protocol,
                  const std::vector<File_Rec>& records, bool tcp) {
    for (const File_Rec& rec : records) {
        writer.record(out, protocol, rec, tcp);
        if (out.size() >= PieceSize) {
            if (!writeAll(out))
                return false;
            out.clear();
        }
    }
    return true;
}

int usageError(const char* text, const char* argument) {
    std::fprintf(stderr, "kestrel-snapshot: %s '%s' (see --help)\n", text, argument);
    return 1;
}

} // namespace

int main(int argc, char** argv) {
    Format format = Format::Tsv;
    bool ipv6 = false;
    bool follow = false;
    bool intervalGiven = false;
    bool formatGiven = false;
    std::string_view formatName;
    FollowOptions followOptions;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(Usage, stdout);
            return std::fflush(stdout) == 0 ? 0 : 1;
        }
        if (arg == "--follow") {
            follow = true;
            continue;
        }
        if (arg == "--interval") {
            if (i + 1 >= argc)
                return usageError("a number of seconds must follow", argv[i]);
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
            intervalGiven = true;
            continue;
        }
        if (arg == "--ipv6") {
            ipv6 = true;
            continue;
        }
        if (arg == "--format" || arg.starts_with("--format=")) {
            std::string_view value;
            if (arg == "--format") {
                if (i + 1 >= argc)
                    return usageError("a format must follow", argv[i]);
                value = argv[++i];
            } else {
                value = arg.substr(std::string_view("--format=").size());
            }
            formatName = value;
            formatGiven = true;
            continue;
        }
        return usageError("unknown argument", argv[i]);
    }
    if (follow) {
        // The log holds both families; its lines are tab-separated text or JSON.
        if (ipv6)
            return usageError("the log holds IPv6 events anyway, no need for", "--ipv6");
        if (formatName == "json")
            followOptions.format = FollowFormat::Json;
        else if (!formatGiven || formatName == "text")
            followOptions.format = FollowFormat::Text;
        else
            return usageError("--follow prints text or json, not", std::string(formatName).c_str());
    } else {
        if (intervalGiven)
            return usageError("this option goes with --follow:", "--interval");
        if (formatName == "json")
            format = Format::Json;
        else if (formatName == "csv")
            format = Format::Csv;
        else if (!formatGiven || formatName == "tsv")
            format = Format::Tsv;
        else
            return usageError("unknown format", std::string(formatName).c_str());
    }
    if (follow)
        return followLog(followOptions);
    // Built once and printed at once: at 100,000 endpoints some 80 MB of small blocks.
    os::UseLargePagesForHeap(std::size_t{128} << 20);

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
        RecordWriter writer(format);
        writer.begin(out);
        bool written = writeRecords(out, writer, "TCP", TcpRecords, true) &&
                       writeRecords(out, writer, "UDP", UdpRecords, false);
        if (ipv6)
            written = written && writeRecords(out, writer, "TCPv6", Tcp6Records, true) &&
                      writeRecords(out, writer, "UDPv6", Udp6Records, false);
        writer.end(out);
        written = written && writeAll(out);
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
