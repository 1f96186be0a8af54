#include "os/Memory.h"

#include <cstdint>

#include <malloc.h>
#include <sys/mman.h>

namespace os {

void ReleaseFreeMemory() {
#if defined(__GLIBC__)
    ::malloc_trim(0);
#endif
}

void KeepOneHeap() {
#if defined(__GLIBC__)
    ::mallopt(M_ARENA_MAX, 1);
#endif
}

void UseLargePagesForHeap(std::size_t bytes) {
#if defined(__GLIBC__)
    if (bytes == 0 || bytes > (std::size_t{1} << 30))
        return;
    // glibc takes large blocks from mmap, each its own region; from the heap they share one.
    // Freed, the block below stays part of the heap's top and is handed out again piece by
    // piece; it is never trimmed, so the advice holds for the life of the program.
    const int limit = static_cast<int>(2 * bytes);
    if (::mallopt(M_MMAP_THRESHOLD, limit) == 0 || ::mallopt(M_TRIM_THRESHOLD, limit) == 0)
        return;
    void* block = ::malloc(bytes);
    if (block == nullptr)
        return;
    AdviseLargePages(block, bytes);
    ::free(block);
#else
    (void)bytes;
#endif
}

void AdviseLargePages(void* data, std::size_t size) {
#if defined(MADV_HUGEPAGE)
    // Only whole large pages inside the buffer: advice for the partial pages at its ends would
    // cover memory that belongs to other allocations.
    constexpr std::uintptr_t LargePage = std::uintptr_t{2} << 20;
    const auto begin = reinterpret_cast<std::uintptr_t>(data);
    if (data == nullptr || size < LargePage || begin > UINTPTR_MAX - size)
        return;
    const std::uintptr_t first = (begin + LargePage - 1) & ~(LargePage - 1);
    const std::uintptr_t last = (begin + size) & ~(LargePage - 1);
    if (last > first)
        ::madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
#else
    (void)data;
    (void)size;
#endif
}

} // namespace os
