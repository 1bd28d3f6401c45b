#include "memory.h"

#include "heap_size.h"

#include <cstdlib>

namespace {

// Blocks from this size up grow by half their size at least whenever they must move. Buffers
// grow in small fixed steps, and a C library whose realloc copies a large block on every step
// (Windows, and any allocator without in-place growth) would otherwise copy a file image of n
// bytes some n / 4096 times while reading it.
const size_t LARGE_BLOCK = 1 << 20;

unsigned long allocation_calls = 0;
unsigned long failing_call = 0;
long live_blocks = 0;

// Counts the call and says whether it is the one chosen to fail.
bool allocation_must_fail() {
    ++allocation_calls;
    if (failing_call == 0) return false;
    if (--failing_call != 0) return false;
    return true;
}

} // namespace

void *mem_calloc(size_t count, size_t size) {
    if (allocation_must_fail()) return nullptr;
    void *block = calloc(count, size);
    if (block) ++live_blocks;
    return block;
}

void *mem_realloc(void *block, size_t size) {
    if (allocation_must_fail()) return nullptr;
    if (block && size >= LARGE_BLOCK) {
        size_t usable = heap_block_size(block);
        if (size <= usable) return block;
        size_t roomy = usable + usable / 2;
        void *grown = roomy > size ? realloc(block, roomy) : nullptr;
        if (grown) return grown;
    }
    void *grown = realloc(block, size);
    if (grown && !block) ++live_blocks;
    return grown;
}

void mem_free(void *block) {
    if (!block) return;
    --live_blocks;
    free(block);
}

void mem_fail_at(unsigned long nth) {
    failing_call = nth;
}

unsigned long mem_allocation_calls() {
    return allocation_calls;
}

long mem_live_blocks() {
    return live_blocks;
}
