// The memory helpers of the fuzz build: each block ends at a page that is never committed.
// Blocks of up to one page come from a reserved arena of fixed slots (one data page, one
// guard page) that are committed once and reused, since a VirtualAlloc per block would cost
// more than the loader itself; larger blocks get a region of their own.
#include "common/common.h"
#include "fuzz_support.h"

#include <unordered_map>

namespace {

const DWORD kPage = 4096;
const DWORD kSlots = 16384;                // 128 MiB of address space, committed as used
const DWORD kLargest = 256u * 1024 * 1024; // a request above this fails, as a heap's would
const BYTE kCanary = 0xA5, kFresh = 0xCD, kReleased = 0xDD;
const DWORD kCanarySize = 64; // bytes checked before a block: a write just before its start

struct Block {
    BYTE *region; // the slot's data page or the large region's first page
    DWORD size;
    bool large;
};

BYTE *arena;
std::vector<DWORD> freeSlots; // LIFO, so a case reuses the slots the last one used
std::vector<bool> committedSlots;
std::unordered_map<const void *, Block> blocks;
fuzz::MemoryStats stats;
uint32_t failAt;
bool failOnward;

void Misuse(const std::string &what) {
    if (stats.error.empty())
        stats.error = what;
}

bool Setup() {
    if (arena)
        return true;
    arena = (BYTE *)VirtualAlloc(0, kSlots * 2 * kPage, MEM_RESERVE, PAGE_NOACCESS);
    if (!arena)
        return false;
    committedSlots.assign(kSlots, false);
    for (DWORD i = kSlots; i > 0; i--)
        freeSlots.push_back(i - 1);
    blocks.reserve(4096);
    return true;
}

DWORD PagesFor(DWORD size) {
    return size / kPage + (size % kPage != 0);
}

BYTE *CanaryStart(BYTE *region, BYTE *data) {
    return DWORD(data - region) > kCanarySize ? data - kCanarySize : region;
}

// A new block of `size` bytes ending at the guard page, or null.
BYTE *Place(DWORD size, bool zeroed) {
    stats.requests++;
    stats.lastRequest = size;
    if (size > stats.largest)
        stats.largest = size;
    bool refuse =
        failAt != 0 && (stats.requests == failAt || (failOnward && stats.requests > failAt));
    stats.lastRequestFailed = true;
    if (refuse || size > kLargest || !Setup()) {
        stats.failures++;
        return 0;
    }
    Block block = {0, size, size > kPage};
    DWORD span;
    if (block.large) {
        span = PagesFor(size) * kPage;
        block.region = (BYTE *)VirtualAlloc(0, span + kPage, MEM_RESERVE, PAGE_NOACCESS);
        if (block.region && !VirtualAlloc(block.region, span, MEM_COMMIT, PAGE_READWRITE)) {
            VirtualFree(block.region, 0, MEM_RELEASE);
            block.region = 0;
        }
    } else {
        span = kPage;
        if (!freeSlots.empty()) {
            DWORD slot = freeSlots.back();
            BYTE *page = arena + slot * 2 * kPage;
            if (committedSlots[slot] || VirtualAlloc(page, kPage, MEM_COMMIT, PAGE_READWRITE)) {
                committedSlots[slot] = true;
                freeSlots.pop_back();
                block.region = page;
            }
        }
    }
    if (!block.region) {
        stats.failures++;
        return 0;
    }
    BYTE *data = block.region + span - size;
    for (BYTE *p = CanaryStart(block.region, data); p < data; p++)
        *p = kCanary;
    for (DWORD i = 0; i < size; i++)
        data[i] = zeroed ? 0 : kFresh;
    blocks[data] = block;
    stats.lastRequestFailed = false;
    stats.live++;
    stats.liveBytes += size;
    stats.totalBytes += size;
    if (stats.liveBytes > stats.peakBytes)
        stats.peakBytes = stats.liveBytes;
    return data;
}

void Release(void *pointer) {
    auto found = blocks.find(pointer);
    if (found == blocks.end()) {
        Misuse("a pointer that is not a live block was released");
        return;
    }
    Block block = found->second;
    blocks.erase(found);
    BYTE *data = (BYTE *)pointer;
    for (BYTE *p = CanaryStart(block.region, data); p < data; p++)
        if (*p != kCanary) {
            Misuse("the bytes before a block of " + std::to_string(block.size) + " were written");
            break;
        }
    stats.live--;
    stats.liveBytes -= block.size;
    if (block.large) {
        VirtualFree(block.region, 0, MEM_RELEASE);
        return;
    }
    for (DWORD i = 0; i < block.size; i++)
        data[i] = kReleased;
    freeSlots.push_back(DWORD((block.region - arena) / (2 * kPage)));
}

} // namespace

int AllocateMemory(void **block, DWORD size) {
    *block = Place(size, false);
    return *block != 0;
}

int AllocateZeroed(void **block, DWORD size) {
    *block = Place(size, true);
    return *block != 0;
}

// Always moves the block, so a caller that keeps the old address reads released bytes.
int ResizeMemory(void **block, DWORD size) {
    auto found = blocks.find(*block);
    if (found == blocks.end()) {
        Misuse("a pointer that is not a live block was resized");
        return 0;
    }
    DWORD old = found->second.size;
    BYTE *moved = Place(size, false);
    if (!moved)
        return 0; // the old block stays valid
    CopyBytes(moved, *block, old < size ? old : size);
    Release(*block);
    *block = moved;
    return 1;
}

void ReleaseMemory(void **block) {
    if (*block) {
        Release(*block);
        *block = 0;
    }
}

void FillBytes(void *block, BYTE value, DWORD size) {
    BYTE *p = (BYTE *)block;
    while (size--)
        *p++ = value;
}

void CopyBytes(void *target, const void *source, DWORD size) {
    BYTE *t = (BYTE *)target;
    const BYTE *s = (const BYTE *)source;
    while (size--)
        *t++ = *s++;
}

namespace fuzz {

void ResetMemoryStats() {
    MemoryStats fresh;
    fresh.live = stats.live;
    fresh.liveBytes = fresh.peakBytes = stats.liveBytes;
    stats = fresh;
    failAt = 0;
    failOnward = false;
}

const MemoryStats &GetMemoryStats() {
    return stats;
}

void FailRequests(uint32_t at, bool onward) {
    failAt = at;
    failOnward = onward;
}

uint32_t BlockSize(const void *block) {
    auto found = blocks.find(block);
    return found == blocks.end() ? 0 : found->second.size;
}

} // namespace fuzz
