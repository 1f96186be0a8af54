#include "os/linux/LinuxEndpoints.h"
#include "os/linux/ProcFs.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstring>
#include <netinet/in.h>
#include <optional>
#include <sys/socket.h>

namespace os::linuxnet {

namespace {

std::optional<std::uint64_t> hexNumber(std::string_view text, std::size_t maxDigits) {
    if (text.empty() || text.size() > maxDigits)
        return std::nullopt;
    std::uint64_t value = 0;
    const auto res = std::from_chars(text.data(), text.data() + text.size(), value, 16);
    if (res.ec != std::errc() || res.ptr != text.data() + text.size())
        return std::nullopt;
    return value;
}

// "0100007F:0277": the kernel prints each 32-bit word of the address as it lies in memory,
// read as a host-order number, so copying the number back into memory gives network order.
bool parseAddressPort(std::string_view text, int family, std::array<std::uint8_t, 16>& address,
                      std::uint16_t& port) {
    const std::size_t words = family == AF_INET ? 1 : 4;
    const std::size_t colon = text.find(':');
    if (colon != words * 8)
        return false;
    address.fill(0);
    for (std::size_t i = 0; i < words; ++i) {
        const auto word = hexNumber(text.substr(i * 8, 8), 8);
        if (!word)
            return false;
        const auto value = static_cast<std::uint32_t>(*word);
        std::memcpy(address.data() + i * 4, &value, 4);
    }
    const auto portValue = hexNumber(text.substr(colon + 1), 4);
    if (!portValue)
        return false;
    port = static_cast<std::uint16_t>(*portValue);
    return true;
}

std::string_view nextToken(std::string_view& line) {
    const std::size_t start = line.find_first_not_of(" \t");
    if (start == std::string_view::npos) {
        line = {};
        return {};
    }
    line.remove_prefix(start);
    const std::size_t end = line.find_first_of(" \t");
    const std::string_view token = line.substr(0, end);
    line.remove_prefix(end == std::string_view::npos ? line.size() : end);
    return token;
}

bool parseLine(std::string_view line, int family, bool v6onlyDefault, RawSocket& socket) {
    std::string_view tokens[10];
    for (std::string_view& token : tokens) {
        token = nextToken(line);
        if (token.empty())
            return false;
    }
    if (tokens[0].back() != ':')
        return false;
    socket = RawSocket{};
    socket.family = static_cast<std::uint8_t>(family);
    if (!parseAddressPort(tokens[1], family, socket.local, socket.localPort) ||
        !parseAddressPort(tokens[2], family, socket.remote, socket.remotePort))
        return false;
    const auto state = hexNumber(tokens[3], 2);
    if (!state)
        return false;
    socket.linuxState = static_cast<std::uint8_t>(*state);
    std::uint64_t inode = 0;
    const auto res = std::from_chars(tokens[9].data(), tokens[9].data() + tokens[9].size(), inode);
    if (res.ec != std::errc() || res.ptr != tokens[9].data() + tokens[9].size())
        return false;
    socket.inode = inode;
    std::uint32_t uid = 0;
    const auto uidRes = std::from_chars(tokens[7].data(), tokens[7].data() + tokens[7].size(), uid);
    if (uidRes.ec != std::errc() || uidRes.ptr != tokens[7].data() + tokens[7].size())
        return false;
    socket.uid = uid;
    socket.v6only = family == AF_INET6 && v6onlyDefault;
    return true;
}

} // namespace

void parseProcNet(std::string_view text, int family, bool v6onlyDefault,
                  std::vector<RawSocket>& out) {
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        const std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        RawSocket socket;
        if (parseLine(line, family, v6onlyDefault, socket))
            out.push_back(socket);
    }
}

bool readProcNet(const std::string& procRoot, Protocol protocol, std::vector<RawSocket>& out) {
    const std::string base = procRoot + (protocol == Protocol::Tcp ? "/net/tcp" : "/net/udp");
    const std::size_t first = out.size();
    const auto v4 = linuxfs::readFile(base, 1024u * 1024u * 1024u);
    if (!v4)
        return false;
    // Which sockets on :: are dual-stack is not shown here; the system default decides.
    const auto bindV6Only = linuxfs::readFile(procRoot + "/sys/net/ipv6/bindv6only", 64);
    const bool v6onlyDefault = bindV6Only && !bindV6Only->empty() && (*bindV6Only)[0] == '1';
    parseProcNet(*v4, AF_INET, v6onlyDefault, out);
    if (const auto v6 = linuxfs::readFile(base + "6", 1024u * 1024u * 1024u))
        parseProcNet(*v6, AF_INET6, v6onlyDefault, out);
    const auto seenBy = std::chrono::steady_clock::now();
    for (std::size_t i = first; i < out.size(); ++i)
        out[i].seenBy = seenBy;
    return true;
}

namespace {

// The number after `key` on the line of /proc/net/sockstat that begins with `label`
// ("TCP: inuse 5 orphan 0 tw 0 alloc 7 mem 1"); 0 when there is none.
std::size_t sockstatField(std::string_view text, std::string_view label, std::string_view key) {
    std::size_t lineStart = 0;
    while (lineStart < text.size()) {
        std::size_t lineEnd = text.find('\n', lineStart);
        if (lineEnd == std::string_view::npos)
            lineEnd = text.size();
        std::string_view line = text.substr(lineStart, lineEnd - lineStart);
        lineStart = lineEnd + 1;
        if (!line.starts_with(label) || line.size() <= label.size() || line[label.size()] != ':')
            continue;
        line.remove_prefix(label.size() + 1);
        // Pairs of a name and a number, separated by single spaces.
        for (std::size_t at = 0; at < line.size();) {
            while (at < line.size() && line[at] == ' ')
                ++at;
            const std::size_t nameEnd = line.find(' ', at);
            if (nameEnd == std::string_view::npos)
                break;
            const std::string_view name = line.substr(at, nameEnd - at);
            std::size_t valueEnd = line.find(' ', nameEnd + 1);
            if (valueEnd == std::string_view::npos)
                valueEnd = line.size();
            std::size_t value = 0;
            const char* first = line.data() + nameEnd + 1;
            const auto [end, error] = std::from_chars(first, line.data() + valueEnd, value);
            if (name == key)
                return error == std::errc() && end == line.data() + valueEnd ? value : 0;
            at = valueEnd;
        }
        return 0;
    }
    return 0;
}

} // namespace

ExpectedSockets expectedSockets(std::string_view sockstat, std::string_view sockstat6) {
    // Counts that do not fit a real table are a broken file, not a reason to reserve memory.
    constexpr std::size_t Plausible = std::size_t{1} << 24;
    const auto field = [&](std::string_view text, std::string_view label, std::string_view key) {
        return std::min(sockstatField(text, label, key), Plausible);
    };
    ExpectedSockets expected;
    // "alloc" counts both families' sockets; TIME_WAIT ones are listed apart from them.
    expected.tcp =
        std::min(field(sockstat, "TCP", "alloc") + field(sockstat, "TCP", "tw"), Plausible);
    expected.udp =
        std::min(field(sockstat, "UDP", "inuse") + field(sockstat6, "UDP6", "inuse"), Plausible);
    return expected;
}

ExpectedSockets expectedSockets(const std::string& procRoot) {
    const auto sockstat = linuxfs::readFile(procRoot + "/net/sockstat", 4096);
    if (!sockstat)
        return {};
    const auto sockstat6 = linuxfs::readFile(procRoot + "/net/sockstat6", 4096);
    return expectedSockets(*sockstat,
                           sockstat6 ? std::string_view(*sockstat6) : std::string_view());
}

} // namespace os::linuxnet
