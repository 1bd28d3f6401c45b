// The block pool: fast allocation of small blocks whose size the caller remembers.
//
// Blocks of up to MEM_POOL_LARGEST bytes come from size-class slabs: 8-byte steps up to 128
// bytes, 32-byte steps above. Larger blocks (long strings, vectors of more than 32 slots) come
// from the system heap as with mem_realloc and mem_free, so they keep its growth behaviour. The
// caller passes a block's size back on every resize and free, so blocks carry no header.
//
// What always holds:
//   - blocks are 8-byte aligned and not zero-filled;
//   - every mem_pool_alloc and mem_pool_resize call counts as one allocation call for
//     mem_fail_at and mem_allocation_calls (a resize that moves included), and blocks count in
//     mem_live_blocks, like mem_calloc's and mem_realloc's;
//   - any thread may free or resize any block; a block freed by another thread than the one that
//     allocated it goes back to the allocating thread's slab, which collects it the next time it
//     runs out of blocks in a size class, or when the thread ends;
//   - a slab whose blocks are all free is given back to the slab regions (slab_memory.h), except
//     for a few kept per thread for reuse; a thread's kept slabs are given back when it ends;
//   - once a thread has ended, a slab of its heap goes back to the system as soon as its last
//     block is freed, by whichever thread: no new thread is needed for that;
//   - on Linux, thread-end work that runs after the pool's (another key's destructor) and
//     allocates takes a heap of its own, handed back in its turn. A thread_local destructor
//     never runs after the pool's: glibc runs those before any key's destructor.
#pragma once

#include <cstddef>

// A document's blocks are mostly small and many; the few larger ones lose little to the system
// heap's rounding, and a size class of their own would hold a partly used slab each.
enum : size_t { MEM_POOL_LARGEST = 256 };

// The fast paths of mem_pool_alloc and mem_pool_free are inline (block_pool_fast.h). A build that
// puts another heap behind the pool (the benchmarks' allocator anchor) defines
// BLOCK_POOL_REPLACED and links its own definitions of the four functions instead.
#if defined(BLOCK_POOL_REPLACED)
#define BLOCK_POOL_INLINE
#else
#define BLOCK_POOL_INLINE inline
#endif

// A block of size bytes (0 is taken as 8), or null when memory runs out or the call was chosen
// to fail.
BLOCK_POOL_INLINE void *mem_pool_alloc(size_t size);

// Like realloc: the first min(old_size, new_size) bytes are kept; a null block is allocated
// afresh. Null when memory runs out or the call was chosen to fail; the block is then unchanged
// and still the caller's.
void *mem_pool_resize(void *block, size_t old_size, size_t new_size);

// Frees a block of size bytes, the size it was last allocated or resized to. Null is ignored.
BLOCK_POOL_INLINE void mem_pool_free(void *block, size_t size);

// Bytes the pool now holds from the system, for all threads together: its slabs, the empty slabs
// still committed and the regions' records (large blocks not included). For tests and
// benchmarks.
size_t mem_pool_system_bytes();

// Bytes of the slabs the pool's heaps hold, for all threads together: mem_pool_system_bytes
// without what the regions keep for reuse. For tests.
size_t mem_pool_slab_bytes();

#if !defined(BLOCK_POOL_REPLACED)
#include "block_pool_fast.h"
#endif
