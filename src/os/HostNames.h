#pragma once
// Reverse lookups of remote addresses for the "目标主机" column.
#include <string>

namespace os {

// The host name of the numeric address `address` (a dotted quad, or IPv6 text with an optional
// "%scope") from the system's resolver (hosts file, DNS), which must name one (NI_NAMEREQD);
// empty when it names none or the text is no address. Blocks, possibly for seconds: never call
// it on the window's thread. Safe on any thread.
std::string HostNameOfAddress(const std::string& address);

} // namespace os
