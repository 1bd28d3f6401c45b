#include "system_pages.h"

#include <cstdint>
#include <windows.h>

// VirtualAlloc aligns reservations to 64 KiB only, and a reservation cannot be given back in
// part: reserve twice the size and use the aligned part. The rest is address space only, never
// committed, so it costs no memory.
void *pages_reserve(size_t bytes) {
    void *reserved = VirtualAlloc(nullptr, 2 * bytes, MEM_RESERVE, PAGE_NOACCESS);
    if (!reserved) return nullptr;
    auto start = reinterpret_cast<uintptr_t>(reserved);
    return reinterpret_cast<void *>((start + bytes - 1) & ~uintptr_t(bytes - 1));
}

void pages_release(void *start, size_t) {
    MEMORY_BASIC_INFORMATION info;
    if (VirtualQuery(start, &info, sizeof info) != 0)
        VirtualFree(info.AllocationBase, 0, MEM_RELEASE);
}

bool pages_commit(void *start, size_t bytes) {
    return VirtualAlloc(start, bytes, MEM_COMMIT, PAGE_READWRITE) != nullptr;
}

void pages_decommit(void *start, size_t bytes) {
    VirtualFree(start, bytes, MEM_DECOMMIT);
}
