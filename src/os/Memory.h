#pragma once
// The program's own heap.
#include <cstddef>

namespace os {

// Hands memory that the program has freed back to the system where the C library keeps it
// (glibc keeps freed small blocks, and large ones above a moving threshold, for reuse); a no-op
// elsewhere. Never fails.
void ReleaseFreeMemory();

// Makes every thread allocate from the one main heap, whose free memory ReleaseFreeMemory can
// hand back in full: glibc otherwise gives further threads heaps of their own and keeps the
// free memory at their ends. A no-op elsewhere. Call at start, before any thread exists.
void KeepOneHeap();

// Asks the system to back the untouched buffer [data, data + size) with large pages where it
// can, so that filling a buffer of tens of megabytes takes a few page faults instead of
// thousands. Only advice: nothing happens where the system has no such pages or declines.
void AdviseLargePages(void* data, std::size_t size);

} // namespace os
