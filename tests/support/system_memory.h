// What the system itself says about a range of the process's address space (one source file per
// platform), so that a test can check that memory given back really went back.
#pragma once

#include <cstddef>

// Bytes of [start, start + bytes) that hold memory now: on Linux the resident pages (mincore;
// there is no swap to move them elsewhere in the tests), on Windows the committed ones
// (VirtualQuery). Unmapped or merely reserved pages hold none. start is page-aligned.
size_t system_memory_held(const void *start, size_t bytes);
