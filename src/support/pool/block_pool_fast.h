// The block pool's records and its two fast paths, inline so that every allocation and free that
// finds its slab at hand costs no call. Only block_pool.h includes this file, at its end; the
// rest of the pool is in block_pool.cpp.
#pragma once

#include "allocation_counters.h"
#include "slab_memory.h"

#include <atomic>
#include <cstdint>

// Under AddressSanitizer free blocks and never-used slab space are poisoned, so that a use after
// free or an overrun into free space is still reported. The pool itself reads and writes the
// links inside free blocks, so its own functions are not checked.
// g++ says __SANITIZE_ADDRESS__; clang before version 15 only answers __has_feature.
#if defined(__SANITIZE_ADDRESS__)
#define POOL_UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define POOL_UNDER_ASAN 1
#endif
#endif

#if defined(POOL_UNDER_ASAN)
#include <sanitizer/asan_interface.h>
#define POOL_OWN_ACCESS __attribute__((no_sanitize_address))
#define POOL_POISON(address, size) ASAN_POISON_MEMORY_REGION(address, size)
#define POOL_UNPOISON(address, size) ASAN_UNPOISON_MEMORY_REGION(address, size)
#else
#define POOL_OWN_ACCESS
#define POOL_POISON(address, size) ((void)(address), (void)(size))
#define POOL_UNPOISON(address, size) ((void)(address), (void)(size))
#endif

namespace block_pool {

constexpr size_t LARGEST = MEM_POOL_LARGEST;
static_assert(FAST_SIZE_BOUND == LARGEST + 1);

// Sizes are looked up by their count of 8-byte words, 0 to LARGEST / 8.
constexpr size_t WORD = 8;
constexpr unsigned SIZE_INDEX_COUNT = LARGEST / WORD + 1;

// Size classes: 8-byte steps up to FINE_LIMIT, then COARSE_STEP steps up to LARGEST.
// Each class in use holds a partly used slab; a small document touches many of the sparse larger
// sizes, so fewer classes there hold less memory idle than finer rounding would save.
constexpr size_t FINE_LIMIT = 128;
constexpr size_t COARSE_STEP = 32;
constexpr unsigned FINE_CLASSES = FINE_LIMIT / WORD;
constexpr unsigned CLASS_COUNT = FINE_CLASSES + (LARGEST - FINE_LIMIT) / COARSE_STEP;

// Set in a slab's owner word while the slab is full (no free block, no fresh space). A free by
// the owner then no longer matches the owner word and takes the slow path, which makes the slab
// available again; so the fast path needs no test of its own for it.
constexpr uintptr_t FULL_MARK = 1;

constexpr size_t size_index(size_t size) {
    return (size + WORD - 1) / WORD;
}

struct FreeBlock {
    FreeBlock *next;
};

struct PoolHeap;

struct Slab {
    std::atomic<uintptr_t> owner_word;  // its heap, for its whole life, | FULL_MARK
    FreeBlock *free;                    // blocks handed out next
    char *bump;                         // first never-used byte
    char *bump_limit;                   // a whole block fits while bump < bump_limit
    int32_t used;                       // blocks out, + CURRENT_BIAS while current
    uint32_t block_size;                // the class's block size
    FreeBlock *local_free;              // blocks the owner freed since free was last refilled
    std::atomic<uintptr_t> remote_free; // blocks freed by other threads, | QUEUED
    Slab *next_queued;                  // link on the owner's remote stack
    Slab *previous;                     // links in the owner's available, full or reserve list
    Slab *next;
    unsigned size_class;
};

// One thread's slabs. Heap records are never freed: a slab may point at its heap from any
// thread, so a heap whose thread ended waits on the abandoned list for a new thread to adopt it.
// While it waits, a thread that frees a block into one of its slabs collects the heap's remote
// frees itself, under the abandoned list's lock, so that its emptied slabs go back at once.
struct PoolHeap {
    Slab *current[SIZE_INDEX_COUNT]; // the slab each size allocates from, by size index
    Slab *available[CLASS_COUNT];    // not current, with free blocks
    Slab *full;                      // neither free blocks nor fresh space
    Slab *reserve;                   // empty, kept for any class
    unsigned reserve_count;
    std::atomic<Slab *> remote_stack; // slabs that received blocks from other threads
    std::atomic<bool> abandoned;      // its thread ended and no other adopted it yet
    PoolHeap *next_abandoned;

    constexpr explicit PoolHeap(Slab *no_slab)
        : current(), available(), full(), reserve(), reserve_count(), remote_stack(nullptr),
          abandoned(false), next_abandoned() {
        for (Slab *&slab : current)
            slab = no_slab;
    }
};

// The calling thread's heap; a thread that has not allocated yet has one whose slabs hand out
// nothing, so the fast path needs no test for a missing heap.
extern constinit thread_local PoolHeap *thread_heap;

inline Slab *slab_of(void *block) {
    return reinterpret_cast<Slab *>(reinterpret_cast<uintptr_t>(block) &
                                    ~uintptr_t(SLAB_BYTES - 1));
}

POOL_OWN_ACCESS inline void *slab_take(Slab *slab) {
    FreeBlock *block = slab->free;
    if (block) [[likely]] {
        slab->free = block->next;
        ++slab->used;
        return block;
    }
    char *fresh = slab->bump;
    if (fresh < slab->bump_limit) {
        slab->bump = fresh + slab->block_size;
        ++slab->used;
        return fresh;
    }
    return nullptr;
}

// The slow paths, in block_pool.cpp: an allocation that found no block at hand, was larger than
// the pool's blocks or met an armed failure; a large block's free; a free into a slab that is
// another thread's or full; and a slab whose last block came back.
void *alloc_slow(size_t size);
void free_large(void *block);
void free_unmatched(PoolHeap *heap, Slab *slab, void *block);
void slab_emptied(PoolHeap *heap, Slab *slab);

POOL_OWN_ACCESS inline void free_local(PoolHeap *heap, Slab *slab, void *block) {
    auto *freed = static_cast<FreeBlock *>(block);
    freed->next = slab->local_free;
    slab->local_free = freed;
    if (--slab->used == 0) [[unlikely]]
        slab_emptied(heap, slab);
}

// Gives a block back to its slab or the system; counts nothing.
POOL_OWN_ACCESS inline void give_back(void *block, size_t size) {
    if (size > LARGEST) {
        free_large(block);
        return;
    }
    Slab *slab = slab_of(block);
    POOL_POISON(block, slab->block_size);
    PoolHeap *heap = thread_heap;
    if (slab->owner_word.load(std::memory_order_relaxed) != reinterpret_cast<uintptr_t>(heap))
        [[unlikely]] {
        free_unmatched(heap, slab, block);
        return;
    }
    free_local(heap, slab, block);
}

} // namespace block_pool

POOL_OWN_ACCESS inline void *mem_pool_alloc(size_t size) {
    AllocationCounters &counters = allocation_counters;
    ++counters.calls;
    if (size < counters.fast_size_bound) [[likely]] {
        // The bound is FAST_SIZE_BOUND at most; saying so lets the compiler drop this path for
        // a constant size above the pool's blocks, where it would index past the table.
        if (size > MEM_POOL_LARGEST) __builtin_unreachable();
        using namespace block_pool;
        if (void *block = slab_take(thread_heap->current[size_index(size)])) [[likely]] {
            POOL_UNPOISON(block, size);
            return block;
        }
    }
    return block_pool::alloc_slow(size);
}

POOL_OWN_ACCESS inline void mem_pool_free(void *block, size_t size) {
    if (!block) return;
    ++allocation_counters.frees;
    block_pool::give_back(block, size);
}
