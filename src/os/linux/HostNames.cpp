#include "os/HostNames.h"

#include <netdb.h>
#include <sys/socket.h>

namespace os {

std::string HostNameOfAddress(const std::string& address) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_flags = AI_NUMERICHOST;
    addrinfo* found = nullptr;
    if (address.empty() || ::getaddrinfo(address.c_str(), nullptr, &hints, &found) != 0)
        return {};
    char host[NI_MAXHOST] = {};
    const int result = ::getnameinfo(found->ai_addr, found->ai_addrlen, host, sizeof host, nullptr,
                                     0, NI_NAMEREQD);
    ::freeaddrinfo(found);
    return result == 0 ? std::string(host) : std::string();
}

} // namespace os
