#include "system_pages.h"

#include <cstdint>
#include <sys/mman.h>

// A mapping is page-aligned only: map twice the size and unmap what lies outside the aligned
// part, so that no alignment gap stays mapped. Mapped pages take memory only when touched, so
// committing needs no call.
void *pages_reserve(size_t bytes) {
    size_t mapped_bytes = 2 * bytes;
    void *mapped = mmap(nullptr, mapped_bytes, PROT_READ | PROT_WRITE,
                        MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (mapped == MAP_FAILED) return nullptr;
    auto start = reinterpret_cast<uintptr_t>(mapped);
    uintptr_t aligned = (start + bytes - 1) & ~uintptr_t(bytes - 1);
    if (aligned > start) munmap(mapped, aligned - start);
    uintptr_t tail = start + mapped_bytes - (aligned + bytes);
    if (tail) munmap(reinterpret_cast<void *>(aligned + bytes), tail);
    return reinterpret_cast<void *>(aligned);
}

void pages_release(void *start, size_t bytes) {
    munmap(start, bytes);
}

bool pages_commit(void *, size_t) {
    return true;
}

void pages_decommit(void *start, size_t bytes) {
    madvise(start, bytes, MADV_DONTNEED);
}
