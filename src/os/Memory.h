#pragma once
// The program's own heap.
#include <cstddef>
#include <vector>

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

// For a short-lived program that builds all its output at once: keeps the first `bytes` of
// the heap, large blocks included, in one region advised as above, and never hands it back, so
// that its many small blocks fill large pages instead of faulting in page after page. Call at
// start, before any thread exists. A no-op where the C library or the system cannot.
void UseLargePagesForHeap(std::size_t bytes);

// Room for `count` elements in `rows`, the part not written yet advised as above: for tables of
// a row per socket, filled once right after they are allocated.
template <typename T> void ReserveLarge(std::vector<T>& rows, std::size_t count) {
    if (count <= rows.capacity())
        return;
    rows.reserve(count);
    AdviseLargePages(rows.data() + rows.size(), (rows.capacity() - rows.size()) * sizeof(T));
}

} // namespace os
