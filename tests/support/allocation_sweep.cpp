#include "allocation_sweep.h"

#include "support/memory.h"

#include <gtest/gtest.h>

unsigned long count_allocations(const std::function<void()> &operation) {
    unsigned long before = mem_allocation_calls();
    operation();
    return mem_allocation_calls() - before;
}

unsigned long sweep_allocation_failures(const std::function<void(unsigned long nth)> &operation) {
    long live_before = mem_live_blocks();
    unsigned long total = count_allocations([&] { operation(0); });
    EXPECT_EQ(mem_live_blocks(), live_before) << "blocks leaked with no allocation failing";
    for (unsigned long nth = 1; nth <= total; ++nth) {
        mem_fail_at(nth);
        operation(nth);
        mem_fail_at(0);
        EXPECT_EQ(mem_live_blocks(), live_before)
            << "blocks leaked when allocation " << nth << " of " << total << " failed";
    }
    return total;
}

FailingAllocation::FailingAllocation(unsigned long nth) {
    mem_fail_at(nth);
}

FailingAllocation::~FailingAllocation() {
    mem_fail_at(0);
}
