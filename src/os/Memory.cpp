#include "os/Memory.h"

#include <cstdlib> // defines __GLIBC__ on glibc systems

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace os {

void ReleaseFreeMemory() {
#if defined(__GLIBC__)
    ::malloc_trim(0);
#endif
}

} // namespace os
