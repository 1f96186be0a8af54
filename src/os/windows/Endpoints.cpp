#include "os/Endpoints.h"

#include <cstdint>
#include <vector>

// winsock2.h before windows.h, and iphlpapi.h after both.
#include <winsock2.h>

#include <windows.h>
#include <ws2tcpip.h>

#include <iphlpapi.h>

#include "os/IpHelperTables.h"

namespace os {

namespace {

// A table may grow between the size query and the read; a few rounds settle it.
constexpr int ReadAttempts = 8;

// The owner-PID table of one protocol and family. False when the system refuses it.
bool readTable(Protocol protocol, ULONG family, std::vector<std::uint8_t>& table) {
    DWORD size = 16 * 1024;
    for (int attempt = 0; attempt < ReadAttempts; ++attempt) {
        table.assign(size, 0);
        DWORD result = 0;
        if (protocol == Protocol::Tcp)
            result = ::GetExtendedTcpTable(table.data(), &size, TRUE, family,
                                           TCP_TABLE_OWNER_PID_ALL, 0);
        else
            result =
                ::GetExtendedUdpTable(table.data(), &size, TRUE, family, UDP_TABLE_OWNER_PID, 0);
        if (result == NO_ERROR) {
            table.resize(size < table.size() ? size : table.size());
            return true;
        }
        if (result != ERROR_INSUFFICIENT_BUFFER)
            break;
        // Room for rows that appear before the next call.
        size += size / 4 + 1024;
    }
    table.clear();
    return false;
}

} // namespace

bool ReadEndpointTables(std::vector<Endpoint>& tcp, std::vector<Endpoint>& udp) {
    tcp.clear();
    udp.clear();
    std::vector<std::uint8_t> raw;
    if (!readTable(Protocol::Tcp, AF_INET, raw))
        return false;
    iphelper::AppendTcp4Rows(raw, tcp);
    // Without an IPv6 stack the IPv6 tables are refused: there are then no IPv6 endpoints.
    if (readTable(Protocol::Tcp, AF_INET6, raw))
        iphelper::AppendTcp6Rows(raw, tcp);

    if (!readTable(Protocol::Udp, AF_INET, raw)) {
        tcp.clear();
        return false;
    }
    iphelper::AppendUdp4Rows(raw, udp);
    if (readTable(Protocol::Udp, AF_INET6, raw))
        iphelper::AppendUdp6Rows(raw, udp);
    return true;
}

} // namespace os
