// The counters behind mem_fail_at, mem_allocation_calls and mem_live_blocks, shared by the heap
// functions (memory.cpp) and the block pool (block_pool.cpp). Each thread has its own set, so
// counting costs no atomic operation and threads do not disturb each other's counts.
#pragma once

#include <cstddef>

struct AllocationCounters {
    unsigned long calls;        // allocation calls made, failed ones included
    unsigned long failing_call; // calls left until the one that fails; 0: none fails
    long live_blocks;           // blocks obtained and not yet freed
};

extern constinit thread_local AllocationCounters allocation_counters;

// Counts an allocation call and says whether it is the one chosen to fail.
inline bool allocation_must_fail() {
    AllocationCounters &counters = allocation_counters;
    ++counters.calls;
    if (counters.failing_call == 0) [[likely]]
        return false;
    return --counters.failing_call == 0;
}

// realloc with mem_realloc's extra room for large blocks; counts nothing.
void *system_block_resize(void *block, size_t size);
