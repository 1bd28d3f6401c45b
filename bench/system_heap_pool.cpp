// The block pool's functions on the C library's heap, for the allocator anchor: linked instead
// of block_pool.cpp, they give the library its old allocation path (one calloc, realloc or free
// per block), so that the same parse can run on glibc's malloc or on a preloaded mimalloc.
#include "support/memory.h"
#include "support/pool/allocation_counters.h"
#include "support/pool/block_pool.h"

constinit thread_local AllocationCounters allocation_counters = {0, 0, 0, 0, FAST_SIZE_BOUND};

void *mem_pool_alloc(size_t size) {
    return mem_calloc(1, size);
}

void *mem_pool_resize(void *block, size_t, size_t new_size) {
    return mem_realloc(block, new_size);
}

void mem_pool_free(void *block, size_t) {
    mem_free(block);
}

size_t mem_pool_system_bytes() {
    return 0;
}
