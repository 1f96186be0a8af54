#pragma once
// The Windows side of closing a connection, beyond os/ConnectionControl.h: the SetTcpEntry call
// can be replaced, so that a test sees the row it is given without an administrator's rights.
#include <functional>

#include "os/Endpoints.h"

// winsock2.h before windows.h, and iphlpapi.h after both.
#include <winsock2.h>

#include <windows.h>

#include <iphlpapi.h>

namespace os::windows {

using SetTcpEntryCall = std::function<DWORD(MIB_TCPROW& row)>;

// Replaces SetTcpEntry in os::CloseConnection; an empty function restores the real one.
void ReplaceSetTcpEntry(SetTcpEntryCall call);

// The row SetTcpEntry gets to delete the IPv4 TCP connection `endpoint`: MIB_TCP_STATE_DELETE_TCB,
// addresses as they are (network order), ports in network order in the low 16 bits.
MIB_TCPROW DeleteTcbRow(const Endpoint& endpoint);

} // namespace os::windows
