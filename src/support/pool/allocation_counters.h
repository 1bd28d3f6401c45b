// The counters behind mem_fail_at, mem_allocation_calls and mem_live_blocks, shared by the heap
// functions (memory.cpp) and the block pool (block_pool.cpp). Each thread has its own set, so
// counting costs no atomic operation and threads do not disturb each other's counts.
//
// The pool's fast paths touch as little as they can: an allocation counts its call and a free
// counts the block, and the live blocks follow as calls - calls_without_block - frees. Arming a
// failure lowers fast_size_bound to 0, which sends every pool allocation to its slow path, so
// the fast path tests for a small size and for an armed failure in one comparison.
#pragma once

#include <cstddef>

// Allocations below this size may take the pool's fast path while no failure is armed.
constexpr size_t FAST_SIZE_BOUND = 257;

struct AllocationCounters {
    unsigned long calls;               // allocation calls made, failed ones included
    unsigned long calls_without_block; // calls that made no new block: failures and resizes
    unsigned long frees;               // blocks freed
    unsigned long failing_call;        // calls left until the one that fails; 0: none fails
    size_t fast_size_bound;            // FAST_SIZE_BOUND, or 0 while a failure is armed
};

// Defined in block_pool.cpp, next to the fast paths, which then reach it without indirection.
extern constinit thread_local AllocationCounters allocation_counters;

// Counts an allocation call and says whether it is the one chosen to fail.
inline bool allocation_must_fail() {
    AllocationCounters &counters = allocation_counters;
    ++counters.calls;
    if (counters.failing_call == 0) [[likely]]
        return false;
    if (--counters.failing_call != 0) return false;
    counters.fast_size_bound = FAST_SIZE_BOUND;
    ++counters.calls_without_block;
    return true;
}

// realloc with mem_realloc's extra room for large blocks; counts nothing.
void *system_block_resize(void *block, size_t size);
