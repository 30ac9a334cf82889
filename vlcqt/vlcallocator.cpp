// The C library's allocator settings for a process that plays video (glibc only).
#include "vlccore_p.h"

#if defined(__GLIBC__)
#include <malloc.h>
#endif

void VlcCore::keepPicturesOffTheHeap()
{
#if defined(__GLIBC__)
    // glibc raises its mmap threshold to the size of every large block freed, so after
    // the first stream ends the decoder's and our picture buffers (megabytes each) come
    // from the heaps of libVLC's threads, which fragment and never shrink: every channel
    // switch left tens of megabytes behind. A fixed threshold keeps such buffers in
    // mappings of their own, given back when freed.
    static bool done = false;
    if (!done) {
        done = true;
        mallopt(M_MMAP_THRESHOLD, 256 * 1024);
    }
#endif
}

void VlcCore::returnFreedMemory()
{
#if defined(__GLIBC__)
    malloc_trim(0);
#endif
}
