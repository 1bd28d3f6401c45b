#include "slab_memory.h"

#include <windows.h>

// VirtualAlloc hands out regions at the 64 KiB allocation granularity, which more than gives the
// alignment a slab needs; it commits only the slab's own bytes (the rest of the region is address
// space, not memory). The C runtime has no aligned allocation that free() could release.
void *slab_memory_acquire() {
    return VirtualAlloc(nullptr, SLAB_BYTES, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
}

void slab_memory_release(void *slab) {
    VirtualFree(slab, 0, MEM_RELEASE);
}
