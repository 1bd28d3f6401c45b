// Allocation failure sweeps: run an operation once to count its allocations, then once more for
// each of them with exactly that allocation failing, and check what the operation left.
#pragma once

#include <functional>

// Counts the allocation calls an operation makes.
unsigned long count_allocations(const std::function<void()> &operation);

// Runs operation(n) for n = 1 .. the number of allocations counted for operation(0), making the
// nth allocation fail in run n (run 0 lets every allocation succeed). After each run the test
// fails if blocks were leaked. Returns the number of failing runs made.
unsigned long sweep_allocation_failures(const std::function<void(unsigned long nth)> &operation);

// Makes the nth allocation from now fail for the lifetime of this object.
class FailingAllocation {
  public:
    explicit FailingAllocation(unsigned long nth);
    ~FailingAllocation();
};
