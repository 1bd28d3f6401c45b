#include "memory.h"

#include "heap_size.h"
#include "pool/allocation_counters.h"

#include <cstdlib>

namespace {

// Blocks from this size up grow by half their size at least whenever they must move. Buffers
// grow in small fixed steps, and a C library whose realloc copies a large block on every step
// (Windows, and any allocator without in-place growth) would otherwise copy a file image of n
// bytes some n / 4096 times while reading it, and a document vector of n slots n / 32 times.
const size_t LARGE_BLOCK = 4096;

} // namespace

void *system_block_resize(void *block, size_t size) {
    if (block && size >= LARGE_BLOCK) {
        size_t usable = heap_block_size(block);
        if (size <= usable) return block;
        size_t roomy = usable + usable / 2;
        void *grown = roomy > size ? realloc(block, roomy) : nullptr;
        if (grown) return grown;
    }
    return realloc(block, size);
}

void *mem_calloc(size_t count, size_t size) {
    if (allocation_must_fail()) return nullptr;
    void *block = calloc(count, size);
    if (!block) ++allocation_counters.calls_without_block;
    return block;
}

void *mem_realloc(void *block, size_t size) {
    if (allocation_must_fail()) return nullptr;
    void *grown = system_block_resize(block, size);
    if (!grown || block) ++allocation_counters.calls_without_block;
    return grown;
}

void mem_free(void *block) {
    if (!block) return;
    ++allocation_counters.frees;
    free(block);
}

void mem_fail_at(unsigned long nth) {
    allocation_counters.failing_call = nth;
    allocation_counters.fast_size_bound = nth ? 0 : FAST_SIZE_BOUND;
}

unsigned long mem_allocation_calls() {
    return allocation_counters.calls;
}

long mem_live_blocks() {
    const AllocationCounters &counters = allocation_counters;
    return long(counters.calls - counters.calls_without_block - counters.frees);
}
