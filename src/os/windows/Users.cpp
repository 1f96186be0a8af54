#include "os/Users.h"

namespace os {

// The Windows endpoint tables carry no user IDs.
std::string UserName(std::uint32_t) {
    return {};
}

} // namespace os
