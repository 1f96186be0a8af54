#include "os/Endpoints.h"

namespace os {

bool AddressNeedsScope(const std::array<std::uint8_t, 16>& address) {
    const bool linkLocal = address[0] == 0xfe && (address[1] & 0xc0) == 0x80;
    const int multicastScope = address[1] & 0x0f;
    return linkLocal || (address[0] == 0xff && (multicastScope == 1 || multicastScope == 2));
}

} // namespace os
