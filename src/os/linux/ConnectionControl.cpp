#include "os/ConnectionControl.h"

#include <cerrno>
#include <linux/capability.h>
#include <netinet/in.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "os/linux/HelperClient.h"
#include "os/linux/LinuxEndpoints.h"

namespace os {

namespace {

bool holdsNetAdmin() {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3]{};
    if (::syscall(SYS_capget, &header, data) != 0)
        return false;
    return (data[CAP_NET_ADMIN / 32].effective >> (CAP_NET_ADMIN % 32)) & 1u;
}

CloseConnectionResult resultOf(int error) {
    switch (error) {
    case 0:
        return CloseConnectionResult::Closed;
    case EPERM:
    case EACCES:
        return CloseConnectionResult::NotPermitted;
    case EOPNOTSUPP:
        return CloseConnectionResult::NotSupported;
    case ENOENT:
    case ESTALE:
        return CloseConnectionResult::Gone;
    default:
        return CloseConnectionResult::Failed;
    }
}

CloseConnectionResult resultOf(helper::CloseResult result) {
    switch (result) {
    case helper::CloseResult::Closed:
        return CloseConnectionResult::Closed;
    case helper::CloseResult::NotPermitted:
        return CloseConnectionResult::NotPermitted;
    case helper::CloseResult::NotSupported:
        return CloseConnectionResult::NotSupported;
    case helper::CloseResult::Gone:
        return CloseConnectionResult::Gone;
    case helper::CloseResult::Failed:
        break;
    }
    return CloseConnectionResult::Failed;
}

} // namespace

bool CanCloseConnection(const Endpoint& endpoint) {
    return endpoint.protocol == Protocol::Tcp;
}

CloseConnectionResult CloseConnection(const Endpoint& endpoint) {
    if (!CanCloseConnection(endpoint))
        return CloseConnectionResult::NotSupported;
    // Without its cookie a socket cannot be told from a newer one on the same ports.
    if (endpoint.cookie == 0)
        return CloseConnectionResult::Gone;
    // Finding the socket needs no privilege, and tells a vanished connection from a refusal.
    linuxnet::SocketId id;
    linuxnet::RawSocket found;
    const int error = linuxnet::findTcpSocket(endpoint, id, found);
    if (error != 0)
        return resultOf(error);
    if (holdsNetAdmin())
        return resultOf(linuxnet::destroySocket(id));
    if (const auto result = linuxhelper::closeThroughHelper(id))
        return resultOf(*result);
    return CloseConnectionResult::NotPermitted;
}

} // namespace os
