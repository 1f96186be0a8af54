#pragma once
// What the Windows layer's process functions share.
#include <cstdint>

#include <windows.h>

namespace os::win {

// Creation time of an open process (100 ns units since 1601), the identity that tells it
// apart from a later process with the same ID. 0 when it cannot be read.
std::uint64_t CreationTimeOf(HANDLE process);

} // namespace os::win
