#include "os/Memory.h"

namespace os {

// The Windows heap returns freed memory by itself and is shared by every thread; large pages
// need a privilege the program never asks for. Nothing to do.
void ReleaseFreeMemory() {}

void KeepOneHeap() {}

void UseLargePagesForHeap(std::size_t bytes) {
    (void)bytes;
}

void AdviseLargePages(void* data, std::size_t size) {
    (void)data;
    (void)size;
}

} // namespace os
