// Heap access for the whole program.
//
// Every allocation of the hub and of the JSON library goes through these three functions, which
// behave like calloc, realloc and free, or through the block pool (block_pool.h). Both keep the
// same counters, so that tests can make a chosen allocation fail and can check that every block
// was given back.
// The counters are the calling thread's own: a failure armed on one thread fails an allocation
// of that thread only, and a block allocated on one thread and freed on another counts as live
// on the first and as one fewer on the second.
#pragma once

#include <cstddef>

void *mem_calloc(size_t count, size_t size);
// Like realloc; a large block may get more room than asked for, so that growing it again in
// small steps does not copy it every time.
void *mem_realloc(void *block, size_t size);
void mem_free(void *block);

// Makes the nth allocation of this thread from now fail (1: the next one); 0 turns failures off
// again.
void mem_fail_at(unsigned long nth);

// Number of allocation calls (mem_calloc, mem_realloc, mem_pool_alloc and mem_pool_resize) this
// thread made so far, failed ones included.
unsigned long mem_allocation_calls();

// Number of blocks this thread obtained less the number it freed.
long mem_live_blocks();
