#include "platform/heaprelease.h"

#include <cstdlib>   // defines __GLIBC__ on the GNU C library

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace Varnel {

void releaseFreeHeap()
{
#if defined(__GLIBC__)
    // Also releases whole free pages inside the heap, not only at its top.
    malloc_trim(0);
#endif
}

void keepLargeBuffersApart()
{
#if defined(__GLIBC__)
    mallopt(M_MMAP_THRESHOLD, 128 * 1024);
#endif
}

} // namespace Varnel
