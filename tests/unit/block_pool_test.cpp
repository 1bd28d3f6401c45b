#include "support/memory.h"
#include "support/pool/block_pool.h"
#include "support/pool/slab_memory.h"
#include "support/pool/thread_end.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <iterator>
#include <mutex>
#include <pthread.h>
#include <random>
#include <thread>
#include <vector>

namespace {

constexpr size_t SLAB = SLAB_BYTES;
// What a thread may go on holding after all its blocks of one class are freed: its reserve of
// empty slabs and the class's current slab.
constexpr size_t KEPT_BYTES = 5 * SLAB;

// Sizes on both sides of the class steps and of the pool's limit.
const size_t ASSORTED_SIZES[] = {0,   1,   7,   8,   9,   16,   24,   100,  255,
                                 256, 257, 320, 321, 700, 1023, 1024, 1025, 4000};

struct Block {
    unsigned char *data;
    size_t size;
    unsigned tag;
};

// A block's bytes run in steps of 7 from a start its tag picks, hashed so that neighbouring
// seeds do not repeat each other's starts in any regular period.
unsigned char pattern_byte(unsigned tag, size_t offset) {
    unsigned start = (tag * 2654435761u) >> 24;
    return static_cast<unsigned char>(start + offset * 7 + 1);
}

Block with_pattern(Block block) {
    if (block.data)
        for (size_t offset = 0; offset < block.size; ++offset)
            block.data[offset] = pattern_byte(block.tag, offset);
    return block;
}

Block allocate_filled(size_t size, unsigned tag) {
    return with_pattern({static_cast<unsigned char *>(mem_pool_alloc(size)), size, tag});
}

// Offset of the first byte that lost its pattern within the first count bytes, or count.
size_t intact_bytes(const Block &block, size_t count) {
    for (size_t offset = 0; offset < count; ++offset)
        if (block.data[offset] != pattern_byte(block.tag, offset)) return offset;
    return count;
}

std::vector<Block> allocate_many(size_t count, const std::vector<size_t> &sizes) {
    std::vector<Block> blocks;
    for (size_t index = 0; index < count; ++index)
        blocks.push_back(allocate_filled(sizes[index % sizes.size()], unsigned(index)));
    return blocks;
}

// Checks every block's pattern, then frees them all.
void check_and_free(std::vector<Block> &blocks) {
    for (const Block &block : blocks) {
        ASSERT_NE(block.data, nullptr);
        ASSERT_EQ(intact_bytes(block, block.size), block.size) << "block of " << block.size;
        mem_pool_free(block.data, block.size);
    }
    blocks.clear();
}

// Moves every second group of group_size blocks into freed, the others into kept.
void split_alternate(std::vector<Block> &blocks, std::vector<Block> &kept,
                     std::vector<Block> &freed, size_t group_size = 1) {
    for (size_t index = 0; index < blocks.size(); ++index)
        (index / group_size % 2 ? freed : kept).push_back(blocks[index]);
    blocks.clear();
}

// Runs work on a thread of its own and waits for it to end.
void on_another_thread(const std::function<void()> &work) {
    std::thread thread(work);
    thread.join();
}

// A thread that allocates blocks and then keeps running until it is told to end, so that its
// blocks can be freed by others while it lives, or after it ended.
class OwnerThread {
  public:
    OwnerThread(std::vector<Block> *blocks, size_t count, const std::vector<size_t> &sizes)
        : thread_([this, blocks, count, &sizes] {
              *blocks = allocate_many(count, sizes);
              phase_ = 1;
              while (phase_ != 2)
                  std::this_thread::yield();
          }) {
        while (phase_ != 1)
            std::this_thread::yield();
    }
    ~OwnerThread() { end(); }
    void end() {
        phase_ = 2;
        if (thread_.joinable()) thread_.join();
    }

  private:
    std::atomic<int> phase_{0};
    std::thread thread_;
};

TEST(BlockPool, blocks_are_aligned_never_overlap_and_keep_their_bytes) {
    long live = mem_live_blocks();
    std::vector<size_t> sizes(std::begin(ASSORTED_SIZES), std::end(ASSORTED_SIZES));
    std::vector<Block> blocks = allocate_many(3000, sizes);
    for (const Block &block : blocks)
        ASSERT_EQ(reinterpret_cast<uintptr_t>(block.data) % 8, 0u) << "block of " << block.size;
    // Free every second block, refill the gaps with other sizes, and check everything again.
    std::vector<Block> kept, freed;
    for (size_t index = 0; index < blocks.size(); ++index)
        (index % 2 ? freed : kept).push_back(blocks[index]);
    check_and_free(freed);
    std::vector<size_t> reversed(sizes.rbegin(), sizes.rend());
    for (Block &block : allocate_many(1500, reversed))
        kept.push_back(with_pattern({block.data, block.size, block.tag + 7000}));
    check_and_free(kept);
    EXPECT_EQ(mem_live_blocks(), live);
}

TEST(BlockPool, resize_keeps_the_bytes_within_and_across_the_pool_limit) {
    struct Case {
        size_t old_size, new_size;
    } cases[] = {
        {8, 8},      {8, 16},      {41, 48},   {48, 41},     {16, 8},      {100, 256},
        {256, 257},  {300, 320},   {320, 300}, {700, 24},    {1000, 1024}, {1024, 1025},
        {600, 5000}, {5000, 1024}, {5000, 16}, {2000, 9000}, {9000, 1500}, {0, 100},
    };
    for (const Case &test : cases) {
        SCOPED_TRACE(testing::Message() << test.old_size << " -> " << test.new_size);
        Block block = allocate_filled(test.old_size, 5);
        ASSERT_NE(block.data, nullptr);
        long live = mem_live_blocks();
        auto *resized =
            static_cast<unsigned char *>(mem_pool_resize(block.data, test.old_size, test.new_size));
        ASSERT_NE(resized, nullptr);
        EXPECT_EQ(mem_live_blocks(), live);
        block.data = resized;
        size_t kept = test.old_size < test.new_size ? test.old_size : test.new_size;
        EXPECT_EQ(intact_bytes(block, kept), kept);
        memset(resized, 0xA5, test.new_size);
        mem_pool_free(resized, test.new_size);
    }
    long live = mem_live_blocks();
    void *fresh = mem_pool_resize(nullptr, 0, 200);
    ASSERT_NE(fresh, nullptr);
    EXPECT_EQ(mem_live_blocks(), live + 1);
    mem_pool_free(fresh, 200);
    EXPECT_EQ(mem_live_blocks(), live);
}

TEST(BlockPool, the_chosen_call_alone_fails_and_changes_nothing) {
    // Each step is one allocation call; it returns the block it produced, or null.
    struct State {
        Block small, large, other;
    };
    using Step = std::function<void *(State &)>;
    auto resize = [](Block &block, size_t size) {
        void *resized = mem_pool_resize(block.data, block.size, size);
        if (resized) block = with_pattern({static_cast<unsigned char *>(resized), size, block.tag});
        return resized;
    };
    const Step steps[] = {
        [](State &state) { return (state.small = allocate_filled(41, 1)).data; },
        [](State &state) { return (state.large = allocate_filled(3000, 2)).data; },
        [&](State &state) { return resize(state.small, 48); },   // in place
        [&](State &state) { return resize(state.small, 600); },  // moves within the pool
        [&](State &state) { return resize(state.small, 5000); }, // to the system heap
        [&](State &state) { return resize(state.large, 16); },   // from the system heap
        [&](State &state) { return resize(state.large, 16000); },
        [](State &state) {
            void *block = mem_pool_resize(nullptr, 0, 100);
            if (block) state.other = {static_cast<unsigned char *>(block), 0, 0};
            return block;
        },
        [](State &) {
            void *block = mem_calloc(1, 10);
            mem_free(block);
            return block;
        },
    };
    const size_t step_count = std::size(steps);
    long live = mem_live_blocks();
    for (size_t failing = 0; failing <= step_count; ++failing) {
        SCOPED_TRACE(testing::Message() << "call " << failing << " fails");
        State state{};
        unsigned long calls = mem_allocation_calls();
        mem_fail_at(failing);
        for (size_t step = 0; step < step_count; ++step) {
            State before = state;
            long live_before = mem_live_blocks();
            void *result = steps[step](state);
            EXPECT_EQ(result == nullptr, step + 1 == failing) << "step " << step + 1;
            if (result) continue;
            EXPECT_EQ(mem_live_blocks(), live_before) << "step " << step + 1;
            for (const Block *block : {&before.small, &before.large}) {
                if (!block->data) continue;
                EXPECT_EQ(intact_bytes(*block, block->size), block->size) << "step " << step + 1;
            }
        }
        mem_fail_at(0);
        EXPECT_EQ(mem_allocation_calls(), calls + step_count);
        mem_pool_free(state.small.data, state.small.size);
        mem_pool_free(state.large.data, state.large.size);
        mem_pool_free(state.other.data, 100);
        EXPECT_EQ(mem_live_blocks(), live);
    }
}

TEST(BlockPool, failures_and_counts_belong_to_the_calling_thread) {
    unsigned long calls = mem_allocation_calls();
    mem_fail_at(1);
    on_another_thread([] {
        unsigned long thread_calls = mem_allocation_calls();
        void *block = mem_pool_alloc(16);
        EXPECT_NE(block, nullptr);
        EXPECT_EQ(mem_allocation_calls(), thread_calls + 1);
        mem_pool_free(block, 16);
    });
    EXPECT_EQ(mem_allocation_calls(), calls);
    EXPECT_EQ(mem_pool_alloc(16), nullptr);
    mem_fail_at(0);
}

TEST(BlockPool, blocks_freed_on_another_thread_come_back_to_their_owner) {
    const std::vector<size_t> sizes = {16, 48, 200, 512, 1024};
    const size_t count = 20000;
    size_t start = mem_pool_slab_bytes();
    std::vector<Block> blocks = allocate_many(count, sizes);
    size_t holding = mem_pool_slab_bytes();
    // Two threads free every second block at once, into the same slabs.
    std::vector<Block> kept, freed, first_half, second_half;
    split_alternate(blocks, kept, freed);
    split_alternate(freed, first_half, second_half);
    std::thread first([&] { check_and_free(first_half); });
    std::thread second([&] { check_and_free(second_half); });
    first.join();
    second.join();
    // The owner fills the holes instead of taking new slabs, and gives back what it no longer
    // needs once everything is freed.
    std::vector<Block> again = allocate_many(count / 2, sizes);
    EXPECT_LE(mem_pool_slab_bytes(), holding + sizes.size() * SLAB);
    check_and_free(again);
    check_and_free(kept);
    EXPECT_LE(mem_pool_slab_bytes(), start + sizes.size() * KEPT_BYTES);

    // The reverse: a thread that lives on gets back the blocks this thread freed.
    std::atomic<int> phase{0};
    std::thread owner([&] {
        blocks = allocate_many(count, sizes);
        size_t owner_holding = mem_pool_slab_bytes();
        phase = 1;
        while (phase != 2)
            std::this_thread::yield();
        std::vector<Block> again = allocate_many(count / 2, sizes);
        EXPECT_LE(mem_pool_slab_bytes(), owner_holding + sizes.size() * SLAB);
        check_and_free(again);
        check_and_free(kept);
    });
    while (phase != 1)
        std::this_thread::yield();
    split_alternate(blocks, kept, freed);
    check_and_free(freed);
    phase = 2;
    owner.join();
    EXPECT_LE(mem_pool_slab_bytes(), start + sizes.size() * KEPT_BYTES);
}

TEST(BlockPool, empty_slabs_go_back_to_the_system) {
    const std::vector<size_t> sizes = {64, 128};
    const size_t count = 20000; // 40 slabs of 64-byte blocks, 79 of 128-byte ones
    size_t start = mem_pool_slab_bytes();
    std::vector<Block> blocks = allocate_many(count, sizes);
    size_t holding = mem_pool_slab_bytes();
    EXPECT_GE(holding, start + 110 * SLAB);
    // Holes freed in full slabs are found again before any new slab is taken.
    std::vector<Block> kept, freed;
    split_alternate(blocks, kept, freed, sizes.size());
    check_and_free(freed);
    blocks = allocate_many(count / 2, sizes);
    EXPECT_LE(mem_pool_slab_bytes(), holding);
    check_and_free(blocks);
    check_and_free(kept);
    EXPECT_LE(mem_pool_slab_bytes(), start + sizes.size() * KEPT_BYTES);
    start = mem_pool_slab_bytes();

    // Freed by another thread while the owner still runs; when the owner ends, its kept slabs
    // go too.
    OwnerThread owner(&blocks, count, sizes);
    check_and_free(blocks);
    owner.end();
    EXPECT_LE(mem_pool_slab_bytes(), start);

    // Freed after the owner ended: the next thread takes over the owner's heap and its slabs.
    on_another_thread([&] { blocks = allocate_many(count, sizes); });
    check_and_free(blocks);
    on_another_thread([] { mem_pool_free(mem_pool_alloc(64), 64); });
    EXPECT_LE(mem_pool_slab_bytes(), start);
}

TEST(BlockPool, the_slabs_of_an_ended_thread_go_back_as_their_last_blocks_are_freed) {
    // Who frees an owner's blocks, and whether the owner has ended by then. No thread allocates
    // afterwards, so nothing adopts the owner's heap: its slabs must go back by themselves.
    struct Case {
        const char *name;
        unsigned freeing_threads;
        bool owner_ends_first;
    } cases[] = {
        {"one thread, after the owner ended", 1, true},
        {"three threads at once, after the owner ended", 3, true},
        {"three threads at once into the same slabs, then the owner ends", 3, false},
    };
    const std::vector<size_t> sizes = {16, 48, 200};
    const size_t count = 60000; // about 380 slabs
    for (const Case &test : cases) {
        SCOPED_TRACE(test.name);
        size_t start = mem_pool_slab_bytes();
        size_t system_start = mem_pool_system_bytes();
        std::vector<Block> blocks;
        OwnerThread owner(&blocks, count, sizes);
        if (test.owner_ends_first) owner.end();
        // Neighbouring blocks of one size go to different threads, so that they push onto the
        // same slabs' remote lists at once.
        std::vector<std::vector<Block>> shares(test.freeing_threads);
        for (size_t index = 0; index < blocks.size(); ++index)
            shares[index / sizes.size() % shares.size()].push_back(blocks[index]);
        std::atomic<unsigned> ready{0};
        std::vector<std::thread> freeing;
        for (std::vector<Block> &share : shares)
            freeing.emplace_back([&ready, &shares, &share] {
                // All start at once, so that their pushes meet.
                for (++ready; ready != shares.size();)
                    std::this_thread::yield();
                check_and_free(share);
            });
        for (std::thread &thread : freeing)
            thread.join();
        owner.end();
        EXPECT_LE(mem_pool_slab_bytes(), start);
        // Nor do the regions keep their memory for reuse once the thread has ended.
        EXPECT_LE(mem_pool_system_bytes(), system_start);
    }
}

TEST(BlockPool, a_thread_that_filled_exactly_one_slab_and_freed_it_gives_it_back) {
    // Blocks start behind the slab's 128-byte header.
    constexpr size_t HEADER = 128;
    for (size_t size : {8, 64, 160, 256}) { // class sizes, so that the blocks fill the slab
        SCOPED_TRACE(testing::Message() << "blocks of " << size);
        size_t start = mem_pool_slab_bytes();
        on_another_thread([&] {
            std::vector<Block> blocks = allocate_many((SLAB - HEADER) / size, {size});
            EXPECT_EQ(mem_pool_slab_bytes(), start + SLAB);
            check_and_free(blocks);
        });
        EXPECT_LE(mem_pool_slab_bytes(), start);
    }
}

TEST(BlockPool, threads_that_end_while_others_use_the_c_heap_give_everything_back) {
    // Thread-end work must not read the ended thread's thread_local storage: with mingw-w64 that
    // storage is C-heap blocks, freed before the thread's last destructors run and at once
    // reused by the threads that churn the C heap here.
    const std::vector<size_t> sizes = {8, 24, 64, 136, 256, 300};
    const int rounds = 150, threads_per_round = 4;
    size_t start = mem_pool_slab_bytes();
    std::atomic<bool> churning{true};
    auto churn = [&churning](unsigned first) {
        std::minstd_rand random(first);
        void *held[64] = {};
        while (churning) {
            void *&slot = held[random() % 64];
            free(slot);
            slot = malloc(8 + random() % 120);
            if (slot) memset(slot, 0x5A, 8);
        }
        for (void *block : held)
            free(block);
    };
    std::thread churners[] = {std::thread(churn, 1u), std::thread(churn, 2u)};
    std::vector<Block> handed_over;
    std::mutex handing;
    for (int round = 0; round < rounds; ++round) {
        std::vector<std::thread> workers;
        for (int worker = 0; worker < threads_per_round; ++worker)
            workers.emplace_back([&, worker] {
                std::vector<Block> blocks = allocate_many(40 + worker * 30, sizes);
                std::vector<Block> kept, freed;
                split_alternate(blocks, kept, freed);
                check_and_free(freed);
                std::lock_guard<std::mutex> hold(handing);
                handed_over.insert(handed_over.end(), kept.begin(), kept.end());
            });
        for (std::thread &worker : workers)
            worker.join();
        if (round % 10 == 9) check_and_free(handed_over);
    }
    churning = false;
    for (std::thread &churner : churners)
        churner.join();
    check_and_free(handed_over);
    EXPECT_LE(mem_pool_slab_bytes(), start);
}

TEST(BlockPool, blocks_freed_into_an_adopted_heap_while_its_owner_allocates) {
    // The heap of a thread that ended goes to the next thread that allocates. Its frees by
    // others must then wait for its new owner, like any live thread's, and not collect into the
    // heap themselves while the owner uses it.
    const std::vector<size_t> sizes = {16, 48, 200};
    size_t start = mem_pool_slab_bytes();
    on_another_thread([&] {
        std::vector<Block> blocks = allocate_many(500, sizes);
        check_and_free(blocks);
    });
    std::mutex handing;
    std::vector<std::vector<Block>> handed;
    std::atomic<bool> owner_done{false};
    std::thread owner([&] {
        for (int batch = 0; batch < 200; ++batch) {
            std::vector<Block> blocks = allocate_many(60, sizes);
            std::vector<Block> kept, freed;
            split_alternate(blocks, kept, freed);
            check_and_free(kept);
            std::lock_guard<std::mutex> hold(handing);
            handed.push_back(std::move(freed));
        }
        owner_done = true;
    });
    std::thread freeing([&] {
        for (;;) {
            std::vector<Block> batch;
            bool done = owner_done;
            {
                std::lock_guard<std::mutex> hold(handing);
                if (!handed.empty()) {
                    batch = std::move(handed.back());
                    handed.pop_back();
                }
            }
            if (batch.empty() && done) break;
            check_and_free(batch);
        }
    });
    owner.join();
    freeing.join();
    EXPECT_LE(mem_pool_slab_bytes(), start);
}

TEST(BlockPool, a_block_freed_while_its_owner_ends_lets_its_slab_go_back) {
    // The owner's last block is freed by another thread while the owner's thread-end work runs:
    // as soon as the owner has given back its first empty slab, and while it gives back the
    // others, one per size class and its reserve. The freeing thread takes the regions' lock
    // while it waits, so that the owner now and then waits for it there. In some rounds the free
    // lands before the owner's heap is marked abandoned and after its first collection; in every
    // round the slab goes back once both threads are done, with no new thread needed.
    const int rounds = 100;
    const size_t BLOCKS_PER_SLAB = (SLAB - 128) / 256;
    size_t start = mem_pool_slab_bytes();
    int rounds_holding = 0;
    for (int round = 0; round < rounds; ++round) {
        std::atomic<void *> last{nullptr};
        std::atomic<bool> owner_gone{false}, stopped_watching{false};
        std::atomic<size_t> holding{0};
        std::atomic<unsigned> watching{0};
        std::thread owner([&] {
            for (size_t size = 8; size <= 256; size += size < 128 ? 8 : 32)
                mem_pool_free(mem_pool_alloc(size), size);
            std::vector<Block> blocks = allocate_many(5 * BLOCKS_PER_SLAB, {256});
            check_and_free(blocks);
            void *block = mem_pool_alloc(24);
            holding = mem_pool_slab_bytes();
            last = block;
            // End only while the freeing thread is seen at work, so that both run at once.
            for (int changes = 0; changes < 2; ++changes)
                for (unsigned seen = watching; watching == seen && !stopped_watching;) {
                }
        });
        std::thread freeing([&] {
            while (!last)
                std::this_thread::yield();
            while (mem_pool_slab_bytes() >= holding && !owner_gone) {
                ++watching;
                slab_memory_trim();
            }
            stopped_watching = true;
            mem_pool_free(last, 24);
        });
        owner.join();
        owner_gone = true;
        freeing.join();
        if (mem_pool_slab_bytes() > start) ++rounds_holding;
    }
    EXPECT_EQ(rounds_holding, 0);
}

TEST(BlockPool, every_thread_gets_a_heap_however_many_threads_came_before) {
    // More threads than a process has thread-specific keys (1024 with glibc): the pool's
    // thread-end hook must take one key for the process, not one per thread.
    const int threads = 1100;
    std::atomic<int> failed{0};
    for (int started = 0; started < threads; started += 2) {
        auto allocate_once = [&failed] {
            void *block = mem_pool_alloc(32);
            if (!block) ++failed;
            mem_pool_free(block, 32);
        };
        std::thread first(allocate_once), second(allocate_once);
        first.join();
        second.join();
    }
    EXPECT_EQ(failed, 0);
}

// Thread-end work that runs after the pool's: another key's destructor, which sets its key again
// once, so that it runs in a later round than the pool's whatever the keys' order.
pthread_key_t late_key;
void allocate_in_the_second_round(void *value) {
    auto *calls = static_cast<std::atomic<int> *>(value);
    if (++*calls == 1) {
        pthread_setspecific(late_key, value);
        return;
    }
    mem_pool_free(mem_pool_alloc(40), 40);
}

TEST(BlockPool, an_allocation_after_the_thread_end_work_takes_a_heap_and_gives_it_back) {
    if (!THREAD_LOCALS_LIVE_AT_THREAD_END)
        GTEST_SKIP() << "thread_local storage may be gone when a thread's last destructors run";
    // (A thread_local destructor cannot show it: glibc runs those before any key's destructor.)
    ASSERT_EQ(pthread_key_create(&late_key, allocate_in_the_second_round), 0);
    std::atomic<int> calls{0};
    size_t start = mem_pool_slab_bytes();
    on_another_thread([&calls] {
        mem_pool_free(mem_pool_alloc(24), 24);
        pthread_setspecific(late_key, &calls);
    });
    pthread_key_delete(late_key);
    EXPECT_EQ(calls, 2);
    EXPECT_LE(mem_pool_slab_bytes(), start);
}

} // namespace
