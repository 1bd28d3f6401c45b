#include "support/pool/slab_memory.h"
#include "system_memory.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <thread>
#include <vector>

namespace {

constexpr size_t SLAB = SLAB_BYTES;

// The regions' records, a page each, for the few regions a test process has.
constexpr size_t RECORDS_BYTES = 16 * 4096;

uintptr_t region_of(void *slab) {
    return reinterpret_cast<uintptr_t>(slab) & ~uintptr_t(REGION_BYTES - 1);
}

// A slab whose every page holds memory: touched, as the pool's blocks would touch it.
void *slab_in_use() {
    void *slab = slab_memory_acquire();
    if (slab) memset(slab, 0x5A, SLAB);
    return slab;
}

// Bytes the regions keep committed beyond their slabs out.
size_t kept_bytes() {
    return slab_memory_committed_bytes() - slab_memory_out_bytes();
}

TEST(SlabMemory, a_slab_given_back_holds_no_memory_as_the_system_sees_it) {
    struct Case {
        const char *name;
        void (*give_back)(void *slab);
    } cases[] = {
        {"given back for good", [](void *slab) { slab_memory_release(slab, SLAB_FOR_GOOD); }},
        {"kept, then trimmed",
         [](void *slab) {
             slab_memory_release(slab, SLAB_KEPT);
             slab_memory_trim();
         }},
    };
    for (const Case &test : cases) {
        SCOPED_TRACE(test.name);
        // A neighbour stays out, so that the region stays and only the slab's pages go back.
        void *neighbour = slab_in_use();
        void *slab = slab_in_use();
        ASSERT_NE(neighbour, nullptr);
        ASSERT_NE(slab, nullptr);
        ASSERT_EQ(region_of(slab), region_of(neighbour));
        EXPECT_EQ(system_memory_held(slab, SLAB), SLAB);
        size_t committed = slab_memory_committed_bytes();
        test.give_back(slab);
        EXPECT_LE(slab_memory_committed_bytes(), committed - SLAB);
        EXPECT_EQ(system_memory_held(slab, SLAB), 0u);
        EXPECT_EQ(system_memory_held(neighbour, SLAB), SLAB);
        slab_memory_release(neighbour, SLAB_FOR_GOOD);
    }
}

TEST(SlabMemory, kept_slabs_go_back_once_the_first_has_waited) {
    const unsigned WAIT_MILLISECONDS = 20;
    const size_t EARLY = 100, LATE = 40; // LATE passes a reading of the clock
    unsigned usual_wait = slab_memory_set_kept_wait(WAIT_MILLISECONDS);
    std::vector<void *> slabs;
    for (size_t index = 0; index < EARLY + LATE; ++index) {
        slabs.push_back(slab_in_use());
        ASSERT_NE(slabs.back(), nullptr);
    }
    for (size_t index = 0; index < EARLY; ++index)
        slab_memory_release(slabs[index], SLAB_KEPT);
    std::this_thread::sleep_for(std::chrono::milliseconds(3 * WAIT_MILLISECONDS));
    for (size_t index = EARLY; index < EARLY + LATE; ++index)
        slab_memory_release(slabs[index], SLAB_KEPT);
    // Whatever was kept before the wait is gone, for the counters and for the system; only the
    // slabs kept since may still be there.
    EXPECT_LE(kept_bytes(), LATE * SLAB + RECORDS_BYTES);
    size_t held = 0;
    for (size_t index = 0; index < EARLY; ++index)
        held += system_memory_held(slabs[index], SLAB);
    EXPECT_EQ(held, 0u);
    slab_memory_set_kept_wait(usual_wait);
    slab_memory_trim();
}

} // namespace
