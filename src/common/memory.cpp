// Heap blocks. A failed first attempt compacts the heap and tries exactly once more.
#include "common.h"

static void *TryAllocate(DWORD flags, DWORD size) {
    HANDLE heap = GetProcessHeap();
    void *block = HeapAlloc(heap, flags, size);
    if (!block) {
        HeapCompact(heap, 0);
        block = HeapAlloc(heap, flags, size);
    }
    return block;
}

int AllocateMemory(void **block, DWORD size) {
    *block = TryAllocate(0, size);
    return *block != 0;
}

int AllocateZeroed(void **block, DWORD size) {
    *block = TryAllocate(HEAP_ZERO_MEMORY, size);
    return *block != 0;
}

int ResizeMemory(void **block, DWORD size) {
    HANDLE heap = GetProcessHeap();
    void *resized = HeapReAlloc(heap, 0, *block, size);
    if (!resized) {
        HeapCompact(heap, 0);
        resized = HeapReAlloc(heap, 0, *block, size);
    }
    if (!resized)
        return 0; // the old block stays valid
    *block = resized;
    return 1;
}

void ReleaseMemory(void **block) {
    if (*block) {
        HeapFree(GetProcessHeap(), 0, *block);
        *block = 0;
    }
}

// Written as plain loops; the build forbids turning them into library calls.
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
