#include "block_pool.h"

#include "thread_end.h"

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>

constinit thread_local AllocationCounters allocation_counters = {0, 0, 0, 0, FAST_SIZE_BOUND};

namespace block_pool {
namespace {

// Empty slabs a thread keeps for reuse instead of giving them back at once, so that a loop that
// allocates and frees a few blocks does not take and return a slab each time.
constexpr unsigned RESERVE_SLABS = 4;

// Blocks start behind the slab header, at a cache line boundary.
constexpr size_t SLAB_HEADER_BYTES = 128;
static_assert(sizeof(Slab) <= SLAB_HEADER_BYTES);

// The current slab of a class has CURRENT_BIAS added to its used count, so that it never looks
// empty and a free needs to test for 0 only.
constexpr int32_t CURRENT_BIAS = 1 << 20;

// Set in a slab's remote free word while the slab is queued on its owner's remote stack (or is
// about to be). Such a slab is not given back until the owner has taken it off the stack.
constexpr uintptr_t QUEUED = 1;

constexpr unsigned class_of_size(size_t size) {
    if (size <= WORD) return 0;
    if (size <= FINE_LIMIT) return unsigned((size - 1) / WORD);
    return FINE_CLASSES + unsigned((size - FINE_LIMIT - 1) / COARSE_STEP);
}

constexpr size_t class_block_size(unsigned size_class) {
    if (size_class < FINE_CLASSES) return (size_class + 1) * WORD;
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
            while (index < SIZE_INDEX_COUNT && class_of_size(index * WORD) == size_class)
                ++index;
        }
        first_index[CLASS_COUNT] = index;
    }
};
constexpr ClassIndexes class_indexes;
static_assert(class_indexes.first_index[CLASS_COUNT] == SIZE_INDEX_COUNT);

// A thread that has not allocated yet uses no_heap, whose sizes all map to no_slab, which has
// nothing to hand out: the fast path needs no test for a missing heap. Neither is ever written.
constinit Slab no_slab{};
constinit PoolHeap no_heap(&no_slab);

} // namespace

constinit thread_local PoolHeap *thread_heap = &no_heap;

namespace {

// Guards the list of abandoned heaps, and every heap on it: while a heap is abandoned, only a
// thread holding this lock touches its slabs and lists.
std::mutex abandoned_lock;
PoolHeap *abandoned_heaps = nullptr;

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

bool slab_exhausted(const Slab *slab) {
    return !slab->free && !slab->local_free && slab->bump >= slab->bump_limit;
}

void set_current(PoolHeap *heap, unsigned size_class, Slab *slab) {
    for (unsigned index = class_indexes.first_index[size_class];
         index < class_indexes.first_index[size_class + 1]; ++index)
        heap->current[index] = slab;
}

// --- Giving slabs back ---

// An abandoned heap's slabs go back for good: no thread of its own will take them again soon.
void slab_release(PoolHeap *heap, Slab *slab) {
    POOL_UNPOISON(slab, SLAB_BYTES);
    slab_memory_release(slab, heap->abandoned.load(std::memory_order_relaxed) ? SLAB_FOR_GOOD
                                                                              : SLAB_KEPT);
}

} // namespace

// An available slab whose blocks are all back: keep it in reserve or give it back; an abandoned
// heap keeps none. A slab still marked queued stays where it is; the owner comes back to it when
// it takes it off its stack.
void slab_emptied(PoolHeap *heap, Slab *slab) {
    if (slab->remote_free.load(std::memory_order_acquire) & QUEUED) return;
    list_remove(&heap->available[slab->size_class], slab);
    if (heap->reserve_count < RESERVE_SLABS && !heap->abandoned.load(std::memory_order_relaxed)) {
        list_push(&heap->reserve, slab);
        ++heap->reserve_count;
        return;
    }
    slab_release(heap, slab);
}

namespace {

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
//
// The orderings, under the C++ memory model:
//   - A freeing thread's push onto a slab's remote list releases the block's link, and its push
//     of the slab onto the owner's stack releases next_queued; the owner's exchanges acquire
//     them.
//   - The owner reads a queued slab's next_queued before its exchange of the slab's remote
//     list, which releases that read. A freeing thread's push is an acquiring read-modify-write:
//     when it finds the list empty (the owner's exchange, or a later push, in its release
//     sequence), the owner's read happens before the freeing thread writes next_queued again.
//   - A thread that ends sets its heap's abandoned flag and then collects; a freeing thread
//     pushes and then reads the flag. All four are sequentially consistent, so one of the two
//     sees the other: either the ending thread's collection finds the block, or the freeing
//     thread finds the flag and collects itself.

POOL_OWN_ACCESS void collect_remote_frees(PoolHeap *heap);

// A block freed into an abandoned heap's slab: collect the heap's remote frees, unless a new
// thread adopted it meanwhile, so that a slab whose last block this was goes back now.
void collect_abandoned(PoolHeap *heap) {
    std::lock_guard<std::mutex> hold(abandoned_lock);
    if (heap->abandoned.load(std::memory_order_relaxed)) collect_remote_frees(heap);
}

POOL_OWN_ACCESS void free_remote(PoolHeap *owner, Slab *slab, void *block) {
    auto *freed = static_cast<FreeBlock *>(block);
    uintptr_t old_head = slab->remote_free.load(std::memory_order_relaxed);
    do {
        freed->next = reinterpret_cast<FreeBlock *>(old_head & ~QUEUED);
    } while (!slab->remote_free.compare_exchange_weak(
        old_head, reinterpret_cast<uintptr_t>(freed) | QUEUED, std::memory_order_seq_cst,
        std::memory_order_relaxed));
    if (!(old_head & QUEUED)) {
        // The first remote free since the owner last looked: queue the slab, so that the owner
        // finds it even when it is full and out of the owner's sight.
        Slab *old_top = owner->remote_stack.load(std::memory_order_relaxed);
        do {
            slab->next_queued = old_top;
        } while (!owner->remote_stack.compare_exchange_weak(
            old_top, slab, std::memory_order_seq_cst, std::memory_order_relaxed));
    }
    if (owner->abandoned.load(std::memory_order_seq_cst)) [[unlikely]]
        collect_abandoned(owner);
}

// Moves the blocks other threads freed into the local free lists of the owner's slabs, and
// gives back the slabs that became empty. Only the owner calls it, or, for an abandoned heap,
// a thread holding abandoned_lock.
POOL_OWN_ACCESS void collect_remote_frees(PoolHeap *heap) {
    Slab *slab = heap->remote_stack.exchange(nullptr, std::memory_order_seq_cst);
    while (slab) {
        Slab *next_queued = slab->next_queued; // read before the slab can be queued again
        auto *blocks = reinterpret_cast<FreeBlock *>(
            slab->remote_free.exchange(0, std::memory_order_seq_cst) & ~QUEUED);
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
        POOL_UNPOISON(slab, SLAB_BYTES);
        slab_memory_release(slab, SLAB_FOR_GOOD);
    }
    heap->reserve_count = 0;
    {
        std::lock_guard<std::mutex> hold(abandoned_lock);
        heap->abandoned.store(true, std::memory_order_seq_cst);
        // Blocks freed since the first collection, by threads that did not see the flag yet.
        collect_remote_frees(heap);
        heap->next_abandoned = abandoned_heaps;
        abandoned_heaps = heap;
    }
    // The slabs kept for reuse go back too, whichever thread gave them back: a program whose
    // threads have all ended holds nothing it does not use.
    slab_memory_trim();
}

// Called with the heap when its thread ends. Where the thread's thread_local variables are still
// there, the thread goes back to no heap, so that an allocation by a later thread-end destructor
// takes a heap of its own and is handed back in its turn; elsewhere it does not touch them.
void heap_thread_ended(void *value) {
    if (THREAD_LOCALS_LIVE_AT_THREAD_END) thread_heap = &no_heap;
    abandon_heap(static_cast<PoolHeap *>(value));
}

PoolHeap *adopt_heap() {
    std::lock_guard<std::mutex> hold(abandoned_lock);
    PoolHeap *heap = abandoned_heaps;
    if (heap) {
        abandoned_heaps = heap->next_abandoned;
        heap->abandoned.store(false, std::memory_order_seq_cst);
    }
    return heap;
}

// The calling thread's heap: an abandoned one when there is one, else a new one. The heap is
// handed to the thread-end callback itself, not through a thread_local (see thread_end.h).
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
    if (thread_end_notify(heap_thread_ended, heap) != 0) {
        abandon_heap(heap);
        return nullptr;
    }
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

} // namespace

// A free whose slab's owner word is not the calling thread's heap: another thread's slab, or one
// of the caller's own that is full.
POOL_OWN_ACCESS void free_unmatched(PoolHeap *heap, Slab *slab, void *block) {
    auto *owner =
        reinterpret_cast<PoolHeap *>(slab->owner_word.load(std::memory_order_relaxed) & ~FULL_MARK);
    if (owner != heap) {
        free_remote(owner, slab, block);
        return;
    }
    mark_available(heap, slab);
    free_local(heap, slab, block);
}

void free_large(void *block) {
    free(block);
}

// The rest of a counted allocation that found no block at hand, was larger than the pool's
// blocks, or met an armed failure.
void *alloc_slow(size_t size) {
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

} // namespace block_pool

using namespace block_pool;

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
    give_back(block, old_size);
    return moved;
}

size_t mem_pool_system_bytes() {
    return slab_memory_committed_bytes();
}

size_t mem_pool_slab_bytes() {
    return slab_memory_out_bytes();
}
