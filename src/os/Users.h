#pragma once
// User accounts, by the user IDs the endpoint tables carry.
#include <cstdint>
#include <string>

namespace os {

// The account name of user `uid` (Linux: its passwd entry, through the system's name
// services); empty when the system knows no name for it, when the name holds control
// characters, or when the system has no such user IDs (Windows).
std::string UserName(std::uint32_t uid);

} // namespace os
