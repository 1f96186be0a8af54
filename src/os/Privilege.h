#pragma once
// The rights that let the program see other users' processes and their sockets.
#include <string>
#include <vector>

namespace os {

// The names of the privileges that together make up the "debug" view: {"SeDebugPrivilege"}
// on Windows; {"cap_sys_ptrace", "cap_dac_read_search"} on Linux.
std::vector<std::string> DebugPrivilegeNames();

// Enables (or disables) one privilege of the program's own process. True exactly when the
// system reports that the privilege is now in the requested state; false when it is unknown,
// not held (Linux: not in the permitted set) or the change is refused.
bool AdjustOwnPrivilege(const std::string& name, bool enable);

} // namespace os
