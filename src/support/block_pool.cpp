#include "block_pool.h"

#include "allocation_counters.h"
#include "slab_memory.h"

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>

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

constinit thread_local AllocationCounters allocation_counters = {0, 0, 0, 0, FAST_SIZE_BOUND};

namespace {

static_assert(FAST_SIZE_BOUND == MEM_POOL_LARGEST + 1);

// Size classes: 8-byte steps up to FINE_LIMIT, then COARSE_STEP steps up to MEM_POOL_LARGEST.
// Each class in use holds a partly used slab; a small document touches many of the sparse larger
// sizes, so fewer classes there hold less memory idle than finer rounding would save.
constexpr size_t FINE_STEP = 8;
constexpr size_t FINE_LIMIT = 128;
constexpr size_t COARSE_STEP = 32;
constexpr unsigned FINE_CLASSES = FINE_LIMIT / FINE_STEP;
constexpr unsigned CLASS_COUNT = FINE_CLASSES + (MEM_POOL_LARGEST - FINE_LIMIT) / COARSE_STEP;

// Sizes are looked up by their count of 8-byte words, 0 to MEM_POOL_LARGEST / 8.
constexpr unsigned SIZE_INDEX_COUNT = MEM_POOL_LARGEST / FINE_STEP + 1;

// Empty slabs a thread keeps for reuse instead of giving them back at once, so that a loop that
// allocates and frees a few blocks does not take and return a slab each time.
constexpr unsigned RESERVE_SLABS = 4;

// Blocks start behind the slab header, at a cache line boundary.
constexpr size_t SLAB_HEADER_BYTES = 128;

// The current slab of a class has CURRENT_BIAS added to its used count, so that it never looks
// empty and a free needs to test for 0 only.
constexpr int32_t CURRENT_BIAS = 1 << 20;

// Set in a slab's owner word while the slab is full (no free block, no fresh space). A free by
// the owner then no longer matches the owner word and takes the slow path, which makes the slab
// available again; so the fast path needs no test of its own for it.
constexpr uintptr_t FULL_MARK = 1;

// Set in a slab's remote free word while the slab is queued on its owner's remote stack (or is
// about to be). Such a slab is not given back until the owner has taken it off the stack.
constexpr uintptr_t QUEUED = 1;

constexpr size_t size_index(size_t size) {
    return (size + FINE_STEP - 1) / FINE_STEP;
}

constexpr unsigned class_of_size(size_t size) {
    if (size <= FINE_STEP) return 0;
    if (size <= FINE_LIMIT) return unsigned((size - 1) / FINE_STEP);
    return FINE_CLASSES + unsigned((size - FINE_LIMIT - 1) / COARSE_STEP);
}

constexpr size_t class_block_size(unsigned size_class) {
    if (size_class < FINE_CLASSES) return (size_class + 1) * FINE_STEP;
    return FINE_LIMIT + (size_class - FINE_CLASSES + 1) * COARSE_STEP;
}

static_assert(class_of_size(MEM_POOL_LARGEST) == CLASS_COUNT - 1);
static_assert(class_block_size(CLASS_COUNT - 1) == MEM_POOL_LARGEST);

// The size indexes of a class: first_index[c] .. first_index[c + 1] - 1.
struct ClassIndexes {
    unsigned first_index[CLASS_COUNT + 1];
    constexpr ClassIndexes() : first_index() {
        unsigned index = 0;
        for (unsigned size_class = 0; size_class < CLASS_COUNT; ++size_class) {
            first_index[size_class] = index;
            while (index < SIZE_INDEX_COUNT && class_of_size(index * FINE_STEP) == size_class)
                ++index;
        }
        first_index[CLASS_COUNT] = index;
    }
};
constexpr ClassIndexes class_indexes;
static_assert(class_indexes.first_index[CLASS_COUNT] == SIZE_INDEX_COUNT);

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
static_assert(sizeof(Slab) <= SLAB_HEADER_BYTES);

// One thread's slabs. Heap records are never freed: a slab may point at its heap from any
// thread, so a heap whose thread ended waits on the abandoned list for a new thread to adopt it.
struct PoolHeap {
    Slab *current[SIZE_INDEX_COUNT]; // the slab each size allocates from, by size index
    Slab *available[CLASS_COUNT];    // not current, with free blocks
    Slab *full;                      // neither free blocks nor fresh space
    Slab *reserve;                   // empty, kept for any class
    unsigned reserve_count;
    std::atomic<Slab *> remote_stack; // slabs that received blocks from other threads
    PoolHeap *next_abandoned;

    constexpr explicit PoolHeap(Slab *no_slab)
        : current(), available(), full(), reserve(), reserve_count(), remote_stack(nullptr),
          next_abandoned() {
        for (Slab *&slab : current)
            slab = no_slab;
    }
};

// A thread that has not allocated yet uses no_heap, whose sizes all map to no_slab, which has
// nothing to hand out: the fast path needs no test for a missing heap. Neither is ever written.
constinit Slab no_slab{};
constinit PoolHeap no_heap(&no_slab);

constinit thread_local PoolHeap *thread_heap = &no_heap;

std::atomic<size_t> system_slab_bytes{0};

std::mutex abandoned_lock;
PoolHeap *abandoned_heaps = nullptr;

void abandon_heap(PoolHeap *heap);

// Hands the thread's heap on to the abandoned list when the thread ends.
struct ThreadHeapRelease {
    PoolHeap *heap = nullptr;
    ~ThreadHeapRelease() {
        if (heap) abandon_heap(heap);
    }
};
thread_local ThreadHeapRelease thread_heap_release;

Slab *slab_of(void *block) {
    return reinterpret_cast<Slab *>(reinterpret_cast<uintptr_t>(block) &
                                    ~uintptr_t(SLAB_BYTES - 1));
}

// --- Lists (doubly linked through previous / next) ---

void list_push(Slab **list, Slab *slab) {
    slab->previous = nullptr;
    slab->next = *list;
    if (*list) (*list)->previous = slab;
    *list = slab;
}

void list_remove(Slab **list, Slab *slab) {
    if (slab->previous)
        slab->previous->next = slab->next;
    else
        *list = slab->next;
    if (slab->next) slab->next->previous = slab->previous;
}

// --- Taking blocks ---

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

bool slab_exhausted(const Slab *slab) {
    return !slab->free && !slab->local_free && slab->bump >= slab->bump_limit;
}

void set_current(PoolHeap *heap, unsigned size_class, Slab *slab) {
    for (unsigned index = class_indexes.first_index[size_class];
         index < class_indexes.first_index[size_class + 1]; ++index)
        heap->current[index] = slab;
}

// --- Giving slabs back ---

void slab_release(Slab *slab) {
    POOL_UNPOISON(slab, SLAB_BYTES);
    system_slab_bytes.fetch_sub(SLAB_BYTES, std::memory_order_relaxed);
    slab_memory_release(slab);
}

// An available slab whose blocks are all back: keep it in reserve or give it back. A slab still
// marked queued stays where it is; the owner comes back to it when it takes it off its stack.
void slab_emptied(PoolHeap *heap, Slab *slab) {
    if (slab->remote_free.load(std::memory_order_acquire) & QUEUED) return;
    list_remove(&heap->available[slab->size_class], slab);
    if (heap->reserve_count < RESERVE_SLABS) {
        list_push(&heap->reserve, slab);
        ++heap->reserve_count;
        return;
    }
    slab_release(slab);
}

void mark_full(PoolHeap *heap, Slab *slab) {
    slab->owner_word.store(reinterpret_cast<uintptr_t>(heap) | FULL_MARK,
                           std::memory_order_relaxed);
    list_push(&heap->full, slab);
}

// A full slab that got blocks back.
void mark_available(PoolHeap *heap, Slab *slab) {
    slab->owner_word.store(reinterpret_cast<uintptr_t>(heap), std::memory_order_relaxed);
    list_remove(&heap->full, slab);
    list_push(&heap->available[slab->size_class], slab);
}

// --- Blocks freed by other threads ---

POOL_OWN_ACCESS void free_remote(PoolHeap *owner, Slab *slab, void *block) {
    auto *freed = static_cast<FreeBlock *>(block);
    uintptr_t old_head = slab->remote_free.load(std::memory_order_relaxed);
    do {
        freed->next = reinterpret_cast<FreeBlock *>(old_head & ~QUEUED);
    } while (!slab->remote_free.compare_exchange_weak(
        old_head, reinterpret_cast<uintptr_t>(freed) | QUEUED, std::memory_order_release,
        std::memory_order_relaxed));
    if (old_head & QUEUED) return;
    // The first remote free since the owner last looked: queue the slab, so that the owner finds
    // it even when it is full and out of the owner's sight.
    Slab *old_top = owner->remote_stack.load(std::memory_order_relaxed);
    do {
        slab->next_queued = old_top;
    } while (!owner->remote_stack.compare_exchange_weak(old_top, slab, std::memory_order_release,
                                                        std::memory_order_relaxed));
}

// Moves the blocks other threads freed into the local free lists of the owner's slabs, and
// gives back the slabs that became empty.
POOL_OWN_ACCESS void collect_remote_frees(PoolHeap *heap) {
    Slab *slab = heap->remote_stack.exchange(nullptr, std::memory_order_acquire);
    while (slab) {
        Slab *next_queued = slab->next_queued; // read before the slab can be queued again
        auto *blocks = reinterpret_cast<FreeBlock *>(
            slab->remote_free.exchange(0, std::memory_order_acquire) & ~QUEUED);
        if (blocks) {
            int32_t count = 1;
            FreeBlock *last = blocks;
            for (; last->next; last = last->next)
                ++count;
            last->next = slab->local_free;
            slab->local_free = blocks;
            slab->used -= count;
            if (slab->owner_word.load(std::memory_order_relaxed) & FULL_MARK)
                mark_available(heap, slab);
        }
        if (slab->used == 0) slab_emptied(heap, slab);
        slab = next_queued;
    }
}

// --- Heaps ---

void abandon_heap(PoolHeap *heap) {
    collect_remote_frees(heap);
    for (unsigned size_class = 0; size_class < CLASS_COUNT; ++size_class) {
        Slab *slab = heap->current[class_indexes.first_index[size_class]];
        if (slab == &no_slab) continue;
        set_current(heap, size_class, &no_slab);
        slab->used -= CURRENT_BIAS;
        if (slab_exhausted(slab)) {
            mark_full(heap, slab);
            continue;
        }
        list_push(&heap->available[size_class], slab);
        if (slab->used == 0) slab_emptied(heap, slab);
    }
    while (Slab *slab = heap->reserve) {
        list_remove(&heap->reserve, slab);
        slab_release(slab);
    }
    heap->reserve_count = 0;
    thread_heap = &no_heap;
    std::lock_guard<std::mutex> hold(abandoned_lock);
    heap->next_abandoned = abandoned_heaps;
    abandoned_heaps = heap;
}

PoolHeap *adopt_heap() {
    std::lock_guard<std::mutex> hold(abandoned_lock);
    PoolHeap *heap = abandoned_heaps;
    if (heap) abandoned_heaps = heap->next_abandoned;
    return heap;
}

// The calling thread's heap: an abandoned one when there is one, else a new one.
PoolHeap *thread_heap_made() {
    PoolHeap *heap = thread_heap;
    if (heap != &no_heap) return heap;
    heap = adopt_heap();
    if (heap) {
        collect_remote_frees(heap);
    } else {
        void *record = calloc(1, sizeof(PoolHeap));
        if (!record) return nullptr;
        heap = new (record) PoolHeap(&no_slab);
    }
    thread_heap_release.heap = heap;
    thread_heap = heap;
    return heap;
}

// --- Slabs ---

void slab_format(Slab *slab, unsigned size_class) {
    slab->size_class = size_class;
    slab->block_size = uint32_t(class_block_size(size_class));
    slab->free = nullptr;
    slab->local_free = nullptr;
    slab->used = 0;
    slab->bump = reinterpret_cast<char *>(slab) + SLAB_HEADER_BYTES;
    slab->bump_limit = reinterpret_cast<char *>(slab) + SLAB_BYTES - slab->block_size + 1;
    POOL_POISON(slab->bump, SLAB_BYTES - SLAB_HEADER_BYTES);
}

Slab *slab_for_class(PoolHeap *heap, unsigned size_class) {
    Slab *slab = heap->available[size_class];
    if (slab) {
        list_remove(&heap->available[size_class], slab);
        return slab;
    }
    slab = heap->reserve;
    if (slab) {
        list_remove(&heap->reserve, slab);
        --heap->reserve_count;
    } else {
        void *memory = slab_memory_acquire();
        if (!memory) return nullptr;
        system_slab_bytes.fetch_add(SLAB_BYTES, std::memory_order_relaxed);
        slab = new (memory) Slab{};
        slab->owner_word.store(reinterpret_cast<uintptr_t>(heap), std::memory_order_relaxed);
    }
    slab_format(slab, size_class);
    return slab;
}

// Finds a block of the class when the current slab has none at hand: first the blocks freed
// since the current slab's list was last refilled, then another slab.
POOL_OWN_ACCESS void *refill_and_take(PoolHeap *heap, unsigned size_class) {
    collect_remote_frees(heap);
    Slab *slab = heap->current[class_indexes.first_index[size_class]];
    if (slab != &no_slab) {
        if (!slab->free) {
            slab->free = slab->local_free;
            slab->local_free = nullptr;
        }
        if (void *block = slab_take(slab)) return block;
        slab->used -= CURRENT_BIAS;
        mark_full(heap, slab);
        set_current(heap, size_class, &no_slab);
    }
    slab = slab_for_class(heap, size_class);
    if (!slab) return nullptr;
    slab->used += CURRENT_BIAS;
    if (!slab->free) {
        slab->free = slab->local_free;
        slab->local_free = nullptr;
    }
    set_current(heap, size_class, slab);
    return slab_take(slab);
}

// A block from the pool or, above MEM_POOL_LARGEST, from the system; counts nothing.
POOL_OWN_ACCESS void *block_take(size_t size) {
    if (size > MEM_POOL_LARGEST) return system_block_resize(nullptr, size);
    PoolHeap *heap = thread_heap_made();
    if (!heap) return nullptr;
    void *block = slab_take(heap->current[size_index(size)]);
    if (!block) block = refill_and_take(heap, class_of_size(size));
    if (block) POOL_UNPOISON(block, size);
    return block;
}

POOL_OWN_ACCESS inline void free_local(PoolHeap *heap, Slab *slab, void *block) {
    auto *freed = static_cast<FreeBlock *>(block);
    freed->next = slab->local_free;
    slab->local_free = freed;
    if (--slab->used == 0) [[unlikely]]
        slab_emptied(heap, slab);
}

// A free whose slab's owner word is not the calling thread's heap: another thread's slab, or one
// of the caller's own that is full.
[[gnu::noinline]] POOL_OWN_ACCESS void free_unmatched(PoolHeap *heap, Slab *slab, void *block) {
    auto *owner =
        reinterpret_cast<PoolHeap *>(slab->owner_word.load(std::memory_order_relaxed) & ~FULL_MARK);
    if (owner != heap) {
        free_remote(owner, slab, block);
        return;
    }
    mark_available(heap, slab);
    free_local(heap, slab, block);
}

// Gives a block back to its slab or the system; counts nothing.
POOL_OWN_ACCESS inline void block_give_back(void *block, size_t size) {
    if (size > MEM_POOL_LARGEST) {
        free(block);
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

// The rest of a counted allocation that found no block at hand, was larger than the pool's
// blocks, or met an armed failure.
[[gnu::noinline]] void *alloc_slow(size_t size) {
    AllocationCounters &counters = allocation_counters;
    if (counters.failing_call != 0 && --counters.failing_call == 0) {
        counters.fast_size_bound = FAST_SIZE_BOUND;
        ++counters.calls_without_block;
        return nullptr;
    }
    void *block = block_take(size);
    if (!block) ++counters.calls_without_block;
    return block;
}

} // namespace

POOL_OWN_ACCESS void *mem_pool_alloc(size_t size) {
    AllocationCounters &counters = allocation_counters;
    ++counters.calls;
    if (size < counters.fast_size_bound) [[likely]] {
        if (void *block = slab_take(thread_heap->current[size_index(size)])) [[likely]] {
            POOL_UNPOISON(block, size);
            return block;
        }
    }
    return alloc_slow(size);
}

POOL_OWN_ACCESS void *mem_pool_resize(void *block, size_t old_size, size_t new_size) {
    if (allocation_must_fail()) return nullptr;
    if (!block) {
        block = block_take(new_size);
        if (!block) ++allocation_counters.calls_without_block;
        return block;
    }
    ++allocation_counters.calls_without_block;
    if (old_size > MEM_POOL_LARGEST && new_size > MEM_POOL_LARGEST)
        return system_block_resize(block, new_size);
    if (old_size <= MEM_POOL_LARGEST && new_size <= MEM_POOL_LARGEST &&
        class_of_size(old_size) == class_of_size(new_size)) {
        POOL_POISON(block, class_block_size(class_of_size(old_size)));
        POOL_UNPOISON(block, new_size);
        return block;
    }
    void *moved = block_take(new_size);
    if (!moved) return nullptr;
    memcpy(moved, block, old_size < new_size ? old_size : new_size);
    block_give_back(block, old_size);
    return moved;
}

POOL_OWN_ACCESS void mem_pool_free(void *block, size_t size) {
    if (!block) return;
    ++allocation_counters.frees;
    block_give_back(block, size);
}

size_t mem_pool_system_bytes() {
    return system_slab_bytes.load(std::memory_order_relaxed);
}
