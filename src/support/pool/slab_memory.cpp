#include "slab_memory.h"

#include "system_pages.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <new>

namespace {

constexpr unsigned REGION_SLABS = unsigned(REGION_BYTES / size_t(SLAB_BYTES));
constexpr unsigned MAP_WORDS = REGION_SLABS / 64;
static_assert(REGION_SLABS % 64 == 0);

// The region's record takes the first page of its first slab's place, which is never a slab.
constexpr size_t RECORD_BYTES = 4096;

struct Region {
    Region *previous; // in the list of regions, oldest first
    Region *next;
    unsigned slabs_out;            // slabs the pool holds
    uint64_t out[MAP_WORDS];       // a bit per place: out, or the record's own place (bit 0)
    uint64_t committed[MAP_WORDS]; // a bit per place: may hold memory
};
static_assert(sizeof(Region) <= RECORD_BYTES);

// Everything below is guarded by region_lock. Taking and giving back slabs is rare next to
// the blocks they hold (one call per 16 KiB), so one lock serves all threads.
std::mutex region_lock;
Region *oldest_region = nullptr;
Region *newest_region = nullptr;
unsigned kept_slabs = 0; // empty and committed places, all regions together
std::chrono::steady_clock::time_point first_kept_at; // of the kept slabs, when kept_slabs > 0
unsigned kept_wait_milliseconds = KEPT_SLAB_MILLISECONDS;
std::atomic<size_t> committed_bytes{0};
std::atomic<size_t> out_bytes{0};

Region *region_of(void *slab) {
    return reinterpret_cast<Region *>(reinterpret_cast<uintptr_t>(slab) &
                                      ~uintptr_t(REGION_BYTES - 1));
}

char *place(Region *region, unsigned index) {
    return reinterpret_cast<char *>(region) + size_t(index) * SLAB_BYTES;
}

unsigned place_index(Region *region, void *slab) {
    return unsigned((static_cast<char *>(slab) - reinterpret_cast<char *>(region)) / SLAB_BYTES);
}

void set_bit(uint64_t *map, unsigned index) {
    map[index / 64] |= uint64_t(1) << (index % 64);
}

void clear_bit(uint64_t *map, unsigned index) {
    map[index / 64] &= ~(uint64_t(1) << (index % 64));
}

bool bit(const uint64_t *map, unsigned index) {
    return (map[index / 64] >> (index % 64)) & 1;
}

unsigned count_bits(const uint64_t *map) {
    unsigned count = 0;
    for (unsigned word = 0; word < MAP_WORDS; ++word)
        count += unsigned(__builtin_popcountll(map[word]));
    return count;
}

// The region's first free place whose memory is still committed, or REGION_SLABS.
unsigned committed_free_place(const Region *region) {
    for (unsigned word = 0; word < MAP_WORDS; ++word)
        if (uint64_t free = ~region->out[word] & region->committed[word])
            return word * 64 + unsigned(__builtin_ctzll(free));
    return REGION_SLABS;
}

// The region's first free place, or REGION_SLABS.
unsigned free_place(const Region *region) {
    for (unsigned word = 0; word < MAP_WORDS; ++word)
        if (uint64_t free = ~region->out[word]) return word * 64 + unsigned(__builtin_ctzll(free));
    return REGION_SLABS;
}

Region *region_made() {
    void *start = pages_reserve(REGION_BYTES);
    if (!start) return nullptr;
    if (!pages_commit(start, RECORD_BYTES)) {
        pages_release(start, REGION_BYTES);
        return nullptr;
    }
    auto *region = new (start) Region{};
    region->out[0] = 1;
    region->committed[0] = 1;
    region->previous = newest_region;
    if (newest_region)
        newest_region->next = region;
    else
        oldest_region = region;
    newest_region = region;
    committed_bytes.fetch_add(RECORD_BYTES, std::memory_order_relaxed);
    return region;
}

// A region none of whose slabs is out: its kept slabs stop counting, and all goes back.
void region_given_back(Region *region) {
    unsigned committed_slabs = count_bits(region->committed) - 1;
    kept_slabs -= committed_slabs;
    committed_bytes.fetch_sub(RECORD_BYTES + committed_slabs * SLAB_BYTES,
                              std::memory_order_relaxed);
    if (region->previous)
        region->previous->next = region->next;
    else
        oldest_region = region->next;
    if (region->next)
        region->next->previous = region->previous;
    else
        newest_region = region->previous;
    pages_release(region, REGION_BYTES);
}

// Gives back the memory of every kept slab, a run of neighbours in one call, and every region
// none of whose slabs is out.
void give_back_kept() {
    Region *next;
    for (Region *region = oldest_region; region; region = next) {
        next = region->next;
        if (region->slabs_out == 0) {
            region_given_back(region);
            continue;
        }
        unsigned index = 1;
        while (index < REGION_SLABS) {
            if (bit(region->out, index) || !bit(region->committed, index)) {
                ++index;
                continue;
            }
            unsigned run_end = index;
            while (run_end < REGION_SLABS && !bit(region->out, run_end) &&
                   bit(region->committed, run_end))
                clear_bit(region->committed, run_end++);
            pages_decommit(place(region, index), (run_end - index) * SLAB_BYTES);
            committed_bytes.fetch_sub((run_end - index) * SLAB_BYTES, std::memory_order_relaxed);
            index = run_end;
        }
    }
    kept_slabs = 0;
}

// Reading the clock costs more than keeping a slab, so it is read once per this many.
constexpr unsigned KEPT_CLOCK_STEP = 32;

void slab_kept() {
    if (kept_slabs++ == 0) {
        first_kept_at = std::chrono::steady_clock::now();
        return;
    }
    if (kept_slabs % KEPT_CLOCK_STEP != 0) return;
    if (std::chrono::steady_clock::now() - first_kept_at >=
        std::chrono::milliseconds(kept_wait_milliseconds))
        give_back_kept();
}

void *place_taken(Region *region, unsigned index) {
    set_bit(region->out, index);
    ++region->slabs_out;
    out_bytes.fetch_add(SLAB_BYTES, std::memory_order_relaxed);
    return place(region, index);
}

} // namespace

// Oldest regions first, so that slabs in use gather there and newer regions empty out and go
// back; within all of them, committed places before decommitted ones, which would fault anew.
void *slab_memory_acquire() {
    std::lock_guard<std::mutex> hold(region_lock);
    Region *fresh_region = nullptr;
    unsigned fresh_index = REGION_SLABS;
    for (Region *region = oldest_region; region; region = region->next) {
        if (region->slabs_out == REGION_SLABS - 1) continue;
        if (kept_slabs) {
            unsigned index = committed_free_place(region);
            if (index < REGION_SLABS) {
                --kept_slabs;
                return place_taken(region, index);
            }
        }
        if (!fresh_region) {
            fresh_region = region;
            fresh_index = free_place(region);
        }
    }
    if (!fresh_region) {
        fresh_region = region_made();
        if (!fresh_region) return nullptr;
        fresh_index = 1;
    }
    if (!pages_commit(place(fresh_region, fresh_index), SLAB_BYTES)) {
        if (fresh_region->slabs_out == 0) region_given_back(fresh_region);
        return nullptr;
    }
    set_bit(fresh_region->committed, fresh_index);
    committed_bytes.fetch_add(SLAB_BYTES, std::memory_order_relaxed);
    return place_taken(fresh_region, fresh_index);
}

void slab_memory_release(void *slab, SlabReturn how) {
    std::lock_guard<std::mutex> hold(region_lock);
    Region *region = region_of(slab);
    unsigned index = place_index(region, slab);
    clear_bit(region->out, index);
    out_bytes.fetch_sub(SLAB_BYTES, std::memory_order_relaxed);
    --region->slabs_out;
    if (how == SLAB_KEPT) {
        slab_kept();
        return;
    }
    clear_bit(region->committed, index);
    committed_bytes.fetch_sub(SLAB_BYTES, std::memory_order_relaxed);
    if (region->slabs_out == 0)
        region_given_back(region);
    else
        pages_decommit(slab, SLAB_BYTES);
}

void slab_memory_trim() {
    std::lock_guard<std::mutex> hold(region_lock);
    give_back_kept();
}

unsigned slab_memory_set_kept_wait(unsigned milliseconds) {
    std::lock_guard<std::mutex> hold(region_lock);
    unsigned replaced = kept_wait_milliseconds;
    kept_wait_milliseconds = milliseconds;
    return replaced;
}

size_t slab_memory_committed_bytes() {
    return committed_bytes.load(std::memory_order_relaxed);
}

size_t slab_memory_out_bytes() {
    return out_bytes.load(std::memory_order_relaxed);
}
