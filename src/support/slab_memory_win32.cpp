#include "slab_memory.h"

#include <windows.h>

// VirtualAlloc hands out regions at the 64 KiB allocation granularity, which is the alignment a
// slab needs; the C runtime has no aligned allocation that free() could release.
void *slab_memory_acquire() {
    return VirtualAlloc(nullptr, SLAB_BYTES, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
}

void slab_memory_release(void *slab) {
    VirtualFree(slab, 0, MEM_RELEASE);
}
