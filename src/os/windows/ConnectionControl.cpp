#include "os/ConnectionControl.h"

#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

#include "os/windows/CloseTcpEntry.h"

namespace os {

namespace windows {

namespace {

SetTcpEntryCall& replacement() {
    static SetTcpEntryCall call;
    return call;
}

// A port in network order in the low 16 bits of a DWORD, as the TCP rows hold it (Windows is
// little-endian; ws2_32 is not needed for this).
DWORD networkOrder(std::uint16_t port) {
    return static_cast<DWORD>((port & 0xffu) << 8 | port >> 8);
}

} // namespace

void ReplaceSetTcpEntry(SetTcpEntryCall call) {
    replacement() = std::move(call);
}

MIB_TCPROW DeleteTcbRow(const Endpoint& endpoint) {
    MIB_TCPROW row{};
    row.dwState = MIB_TCP_STATE_DELETE_TCB;
    std::memcpy(&row.dwLocalAddr, endpoint.localAddr.data(), 4);
    std::memcpy(&row.dwRemoteAddr, endpoint.remoteAddr.data(), 4);
    row.dwLocalPort = networkOrder(endpoint.localPort);
    row.dwRemotePort = networkOrder(endpoint.remotePort);
    return row;
}

} // namespace windows

namespace {

bool sameConnection(const Endpoint& a, const Endpoint& b) {
    return a.family == b.family && a.localAddr == b.localAddr && a.localPort == b.localPort &&
           a.remoteAddr == b.remoteAddr && a.remotePort == b.remotePort;
}

} // namespace

bool CanCloseConnection(const Endpoint& endpoint) {
    return endpoint.protocol == Protocol::Tcp && endpoint.family == Family::V4;
}

CloseConnectionResult CloseConnection(const Endpoint& endpoint) {
    if (!CanCloseConnection(endpoint))
        return CloseConnectionResult::NotSupported;
    // Windows keeps no socket identity in its table: the connection must still be there with
    // the same owner, so that a newer one on the same ports is not hit.
    std::vector<Endpoint> tcp;
    std::vector<Endpoint> udp;
    if (!ReadEndpointTables(tcp, udp))
        return CloseConnectionResult::Failed;
    bool present = false;
    for (const Endpoint& row : tcp)
        present = present || (sameConnection(row, endpoint) && row.pid == endpoint.pid);
    if (!present)
        return CloseConnectionResult::Gone;

    MIB_TCPROW row = windows::DeleteTcbRow(endpoint);
    const DWORD result = windows::replacement() ? windows::replacement()(row) : ::SetTcpEntry(&row);
    switch (result) {
    case NO_ERROR:
        return CloseConnectionResult::Closed;
    case ERROR_ACCESS_DENIED:
    case ERROR_MR_MID_NOT_FOUND: // what it says to a user without an administrator's rights
        return CloseConnectionResult::NotPermitted;
    case ERROR_NOT_SUPPORTED:
    case ERROR_CALL_NOT_IMPLEMENTED:
        return CloseConnectionResult::NotSupported;
    case ERROR_NOT_FOUND:
        return CloseConnectionResult::Gone;
    default:
        return CloseConnectionResult::Failed;
    }
}

} // namespace os
