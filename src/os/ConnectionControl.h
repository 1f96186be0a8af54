#pragma once
// Closing one TCP connection at the user's request.
#include "os/Endpoints.h"

namespace os {

enum class CloseConnectionResult {
    Closed,       // the connection was aborted (its peer sees a reset)
    NotPermitted, // the system refused: another user's connection, or no right to close any
    NotSupported, // the system cannot close connections (Linux: no CONFIG_INET_DIAG_DESTROY)
    Gone,         // no such connection any more (also: a newer one on the same ports)
    Failed,       // any other refusal
};

// Whether this system can close a connection like `endpoint` at all: TCP only; on Windows
// IPv4 only (SetTcpEntry knows no IPv6 rows).
bool CanCloseConnection(const Endpoint& endpoint);

// Aborts exactly the TCP connection `endpoint` (addresses, ports and, on Linux, the socket
// cookie of the snapshot that listed it, so that a newer connection on the same ports is never
// hit). Linux: SOCK_DESTROY over sock_diag, directly when this process holds CAP_NET_ADMIN,
// else through kestrel-helper, which closes only its caller's own connections. Windows:
// SetTcpEntry with MIB_TCP_STATE_DELETE_TCB (an administrator's right). Never throws; blocks
// for at most a few seconds.
CloseConnectionResult CloseConnection(const Endpoint& endpoint);

} // namespace os
