#pragma once
// The program's own heap.

namespace os {

// Hands memory that the program has freed back to the system where the C library keeps it
// (glibc keeps freed small blocks, and large ones above a moving threshold, for reuse); a no-op
// elsewhere. Never fails.
void ReleaseFreeMemory();

} // namespace os
