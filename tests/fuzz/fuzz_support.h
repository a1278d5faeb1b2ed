// The fuzz build's stand-ins, swapped in at link time for the program's memory helpers, its
// file helpers and MessageBoxA: every block ends at an inaccessible page, the program's own
// file is a buffer in memory, and a message box is recorded instead of shown.
#ifndef VANISH_FUZZ_SUPPORT_H
#define VANISH_FUZZ_SUPPORT_H

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace fuzz {

// Guarded memory. Every block ends exactly where a page that is never committed begins, so
// the first byte read or written past it faults. The 64 bytes before the block (fewer when
// its page has fewer) hold a canary that is checked when the block is released; a block that
// is not zero-filled starts out as 0xCD bytes, a released one is overwritten with 0xDD.
struct MemoryStats {
    uint32_t requests = 0;    // allocations and resizes asked for, failed ones included
    uint32_t failures = 0;    // requests that were refused
    uint32_t live = 0;        // blocks not yet released
    uint64_t liveBytes = 0;   // their sizes as requested
    uint64_t peakBytes = 0;   // the most liveBytes ever held
    uint64_t totalBytes = 0;  // the sizes of every block handed out, resizes included
    uint32_t largest = 0;     // the largest single request
    uint32_t lastRequest = 0; // the size of the last request
    bool lastRequestFailed = false;
    std::string error; // the first misuse seen: a foreign pointer, a damaged canary
};
void ResetMemoryStats(); // between cases; live blocks stay live
const MemoryStats &GetMemoryStats();
// Refuses request number `at` (counted from 1 after ResetMemoryStats) and, when `onward`,
// every later one. 0 refuses nothing.
void FailRequests(uint32_t at, bool onward);
uint32_t BlockSize(const void *block); // size of a live block, 0 for anything else

// The program's own file as a buffer. OpenExistingFile gives a handle only for `name`, for
// reading; every helper call is counted.
struct FileStats {
    uint32_t opens = 0;
    uint32_t closes = 0;
    uint32_t calls = 0; // reads, positions and lengths asked for
    std::string error;  // a foreign handle, a second close, too many calls
};
void SetMemoryFile(const std::string &name, const std::vector<uint8_t> *data);
const FileStats &GetFileStats();
void ResetFileStats(uint32_t callLimit);

// Message boxes the program asked for.
struct ShownBox {
    HWND owner;
    std::string text;
    std::string caption;
    UINT style;
};
std::vector<ShownBox> &ShownBoxes();

} // namespace fuzz

#endif
