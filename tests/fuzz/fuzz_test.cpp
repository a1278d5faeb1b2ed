// The loader against damaged blocks, in process: well-formed blocks from tests/fuzz/corpus are
// cut at every length and mutated by a seeded mutator, and each result is run through
// LoadUninstallData and FreeUninstallData with every block ending at a guard page.
//
// Each case must end in success or in one of the loader's codes, shown as its message text;
// what was built must be sound and all of it released; memory must follow the bytes present,
// not the counts declared; and no case may take long.
//
// VANISH_FUZZ_CASES sets the number of mutated cases (100,000 by default), VANISH_FUZZ_SEED
// the seed. A failing case is written to <build>\fuzz-failures.
#include <gtest/gtest.h>

#include "data/data.h"
#include "fuzz_support.h"
#include "pack.h"
#include "support.h"

#include <algorithm>
#include <cstdio>
#include <map>

using testing_support::BuildFolder;
using testing_support::SourceFolder;

namespace {

using Bytes = std::vector<uint8_t>;

// Bounds on what one case may cost, for a block of B bytes: each grows with the bytes
// present, whatever counts and lengths the block declares.
// - Peak memory: an entry stored in 5 bytes takes a 14-byte block and up to 8 bytes of its
//   list (lists grow by doubling), 4 more while a list moves: 26 / 5 < 6; a legacy block's
//   texts, converted to UTF-8 one entry at a time, take up to three bytes for one. The
//   constant holds the 1024-byte message buffer; the scratch buffer is no larger than the
//   record it reads.
// - The largest single block: an options record of up to B bytes, or a list of at most
//   2 x 4 bytes for each of at most B / 5 entries; the message buffer when B is small.
// - Everything handed out, moved and released blocks included: a one-entry record of 17
//   bytes takes a scratch buffer of its own size, its entry, the entry's converted copy and
//   its share of the list's moves.
// - File calls and allocations: at most one for every byte or two read.
const uint64_t kPeakPerByte = 6, kPeakConstant = 2048;
const uint64_t kLargestPerByte = 2, kLargestConstant = TEXT_SIZE;
const uint64_t kTotalPerByte = 40, kTotalConstant = 4096;
const uint64_t kCallsPerByte = 2, kCallsConstant = 16;
const uint64_t kRequestsConstant = 16;
const double kRetimeMs = 2;        // a case slower than this is timed four more times, and
                                   // its fastest run counts: a busy machine is not a slow case
const double kSlowCaseMs = 100;    // far above any case seen, even on a loaded machine
const size_t kLargestCase = 16384; // bytes of a mutated block
const uint32_t kPrefix = 16;       // bytes of "program" in front of the block

// splitmix64: case i of a seed is the same case on every run and every machine.
struct Random {
    uint64_t state;
    uint64_t Next() {
        uint64_t z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    uint32_t Below(uint32_t n) {
        return n ? uint32_t(Next() % n) : 0;
    }
    bool OneIn(uint32_t n) {
        return Below(n) == 0;
    }
};

// ---- The shape of a block, as far as it parses -------------------------------------------

enum FieldKind { TAG, FLAGS, LENGTH, COUNT, TEXT_LENGTH, VALUE };
struct Field {
    size_t offset;
    uint8_t size;
    FieldKind kind;
};
struct Span {
    size_t start, end; // a record, header included
};
struct Layout {
    std::vector<Span> records;
    std::vector<Field> fields;
};

uint32_t GetLe(const Bytes &b, size_t at, size_t size) {
    uint32_t v = 0;
    for (size_t i = 0; i < size; i++)
        v |= uint32_t(b[at + i]) << (8 * i);
    return v;
}

void PutLe(Bytes &b, size_t at, size_t size, uint32_t v) {
    for (size_t i = 0; i < size; i++)
        b[at + i] = uint8_t(v >> (8 * i));
}

class Parser {
  public:
    Parser(const Bytes &b, Layout *layout, size_t at, size_t end)
        : b_(b), layout_(layout), at_(at), end_(end) {}
    bool Take(uint8_t size, FieldKind kind, uint32_t *value) {
        if (end_ - at_ < size)
            return false;
        layout_->fields.push_back({at_, size, kind});
        *value = GetLe(b_, at_, size);
        at_ += size;
        return true;
    }
    bool Text() {
        uint32_t n;
        if (!Take(2, TEXT_LENGTH, &n) || end_ - at_ < n)
            return false;
        at_ += n;
        return true;
    }
    void Entries(uint8_t lead, int texts, uint8_t trail) {
        uint32_t count, v;
        if (!Take(4, COUNT, &count))
            return;
        for (uint32_t i = 0; i < count; i++) {
            if (lead && !Take(lead, VALUE, &v))
                return;
            for (int t = 0; t < texts; t++)
                if (!Text())
                    return;
            if (trail && !Take(trail, VALUE, &v))
                return;
        }
    }
    void Strings() {
        uint32_t tables, strings;
        if (!Take(2, COUNT, &tables))
            return;
        for (uint32_t t = 0; t < tables && t < 8; t++) {
            if (!Take(2, COUNT, &strings))
                return;
            for (uint32_t s = 0; s < strings; s++)
                if (!Text())
                    return;
        }
    }
    void Options() {
        uint32_t v;
        for (int i = 0; i < 3; i++)
            if (!Take(4, i ? LENGTH : VALUE, &v))
                return;
    }

  private:
    const Bytes &b_;
    Layout *layout_;
    size_t at_, end_;
};

Layout Parse(const Bytes &b) {
    Layout layout;
    size_t at = 0;
    while (b.size() - at >= 8) {
        uint32_t tag = GetLe(b, at, 2), length = GetLe(b, at + 4, 4);
        layout.fields.push_back({at, 2, TAG});
        layout.fields.push_back({at + 2, 1, FLAGS});
        layout.fields.push_back({at + 4, 4, LENGTH});
        size_t end = b.size() - (at + 8) < length ? b.size() : at + 8 + length;
        Parser payload(b, &layout, at + 8, end);
        switch (tag) {
        case pack::TAG_STRINGS:
            payload.Strings();
            break;
        case pack::TAG_FILES:
            payload.Entries(0, 2, 1);
            break;
        case pack::TAG_FOLDERS:
            payload.Entries(1, 2, 0);
            break;
        case pack::TAG_REGISTRY:
            payload.Entries(4, 1, 0);
            break;
        case pack::TAG_OPTIONS:
            payload.Options();
            break;
        }
        layout.records.push_back({at, end});
        at = end;
    }
    return layout;
}

// ---- The mutator -------------------------------------------------------------------------

uint32_t InterestingValue(Random &r, const Field &f, uint32_t old, size_t blockSize) {
    static const uint32_t small[] = {0, 1, 2, 0x7F, 0x80, 0xFE, 0xFF};
    static const uint32_t words[] = {0x100, 0x207, 0x208, 0x209, 0x7FFF, 0x8000, 0xFFFE, 0xFFFF};
    static const uint32_t dwords[] = {0x10000,    0x3FFFFFFF, 0x40000000, 0x40000001,
                                      0x7FFFFFFF, 0x80000000, 0xFFFFFFF8, 0xFFFFFFFF};
    static const uint32_t tags[] = {pack::TAG_STRINGS,  pack::TAG_FILES, pack::TAG_FOLDERS,
                                    pack::TAG_REGISTRY, 0x1238,          0x1239,
                                    pack::TAG_OPTIONS,  pack::TAG_END,   0};
    if (f.kind == TAG && r.OneIn(2))
        return tags[r.Below(sizeof tags / sizeof *tags)];
    switch (r.Below(f.size == 1 ? 3 : f.size == 2 ? 4 : 5)) {
    case 0:
        return small[r.Below(sizeof small / sizeof *small)];
    case 1:
        return old + r.Below(17) - 8; // near the right value
    case 2:
        return uint32_t(r.Next());
    case 3:
        return words[r.Below(sizeof words / sizeof *words)];
    default:
        return r.OneIn(3) ? uint32_t(blockSize + r.Below(9) - 4)
                          : dwords[r.Below(sizeof dwords / sizeof *dwords)];
    }
}

void SetField(Random &r, Bytes &b, const Field &f) {
    uint32_t old = GetLe(b, f.offset, f.size);
    PutLe(b, f.offset, f.size, InterestingValue(r, f, old, b.size()));
}

Bytes RecordBytes(const Bytes &b, const Span &s) {
    return Bytes(b.begin() + s.start, b.begin() + s.end);
}

const char *const kOperations[] = {"bits", "byte",   "field", "count",  "cut",   "splice",
                                   "swap", "repeat", "drop",  "insert", "erase", "cross"};

// Applies one to three changes to a copy of a corpus block.
Bytes Mutate(Random &r, const std::vector<Bytes> &corpus, std::string *what) {
    Bytes b = corpus[r.Below(uint32_t(corpus.size()))];
    int changes = 1 + int(r.Below(3));
    for (int c = 0; c < changes; c++) {
        Layout layout = Parse(b);
        uint32_t op = r.Below(12);
        *what += std::string(c ? "+" : "") + kOperations[op];
        size_t n = layout.records.size();
        switch (op) {
        case 0: // a few bit flips
            for (int i = 0, k = 1 + r.Below(4); i < k && !b.empty(); i++)
                b[r.Below(uint32_t(b.size()))] ^= uint8_t(1 << r.Below(8));
            break;
        case 1: // one byte set to an edge value
            if (!b.empty())
                b[r.Below(uint32_t(b.size()))] = uint8_t(InterestingValue(r, {0, 1, VALUE}, 0, 0));
            break;
        case 2: // a header or payload field
            if (!layout.fields.empty())
                SetField(r, b, layout.fields[r.Below(uint32_t(layout.fields.size()))]);
            break;
        case 3: { // a huge count or length
            std::vector<Field> counts;
            for (const Field &f : layout.fields)
                if (f.kind == COUNT || f.kind == LENGTH || f.kind == TEXT_LENGTH)
                    counts.push_back(f);
            if (!counts.empty()) {
                const Field &f = counts[r.Below(uint32_t(counts.size()))];
                PutLe(b, f.offset, f.size,
                      f.size == 2 ? 0xFFFF - r.Below(4) : 0xFFFFFFFFu >> r.Below(8));
            }
            break;
        }
        case 4: // cut short
            b.resize(r.Below(uint32_t(b.size()) + 1));
            break;
        case 5: { // a record of another block spliced in at a record boundary
            const Bytes &other = corpus[r.Below(uint32_t(corpus.size()))];
            Layout o = Parse(other);
            if (o.records.empty())
                break;
            Bytes piece = RecordBytes(other, o.records[r.Below(uint32_t(o.records.size()))]);
            size_t at = n ? layout.records[r.Below(uint32_t(n))].start : 0;
            b.insert(b.begin() + at, piece.begin(), piece.end());
            break;
        }
        case 6: { // two records swapped
            if (n < 2)
                break;
            uint32_t i = r.Below(uint32_t(n)), j = r.Below(uint32_t(n));
            if (i > j)
                std::swap(i, j);
            if (i == j)
                break;
            Bytes out(b.begin(), b.begin() + layout.records[i].start);
            Bytes ri = RecordBytes(b, layout.records[i]), rj = RecordBytes(b, layout.records[j]);
            out.insert(out.end(), rj.begin(), rj.end());
            out.insert(out.end(), b.begin() + layout.records[i].end,
                       b.begin() + layout.records[j].start);
            out.insert(out.end(), ri.begin(), ri.end());
            out.insert(out.end(), b.begin() + layout.records[j].end, b.end());
            b = out;
            break;
        }
        case 7: { // a record repeated, up to 40 times, or once in a while up to 4,000
            if (!n)
                break;
            const Span &s = layout.records[r.Below(uint32_t(n))];
            Bytes piece = RecordBytes(b, s), repeated;
            for (uint32_t k = 1 + r.Below(r.OneIn(256) ? 4000 : 40); k > 0; k--)
                repeated.insert(repeated.end(), piece.begin(), piece.end());
            b.insert(b.begin() + s.start, repeated.begin(), repeated.end());
            break;
        }
        case 8: // a record dropped
            if (n) {
                const Span &s = layout.records[r.Below(uint32_t(n))];
                b.erase(b.begin() + s.start, b.begin() + s.end);
            }
            break;
        case 9: { // random bytes inserted
            size_t at = r.Below(uint32_t(b.size()) + 1);
            Bytes noise(1 + r.Below(16));
            for (uint8_t &x : noise)
                x = uint8_t(r.Next());
            b.insert(b.begin() + at, noise.begin(), noise.end());
            break;
        }
        case 10: // a range erased
            if (!b.empty()) {
                size_t at = r.Below(uint32_t(b.size()));
                size_t count = std::min<size_t>(b.size() - at, 1 + r.Below(32));
                b.erase(b.begin() + at, b.begin() + at + count);
            }
            break;
        default: { // the front of this block, the back of another
            const Bytes &other = corpus[r.Below(uint32_t(corpus.size()))];
            b.resize(r.Below(uint32_t(b.size()) + 1));
            b.insert(b.end(), other.begin() + r.Below(uint32_t(other.size()) + 1), other.end());
            break;
        }
        }
        // 16 KiB hold a thousand small records, enough for a cost in their square to
        // break the bounds, and keep the slowest cases short.
        if (b.size() > kLargestCase)
            b.resize(kLargestCase);
    }
    return b;
}

// ---- One case ----------------------------------------------------------------------------

enum Outcome { LOADED, CODE_1, CODE_5, CODE_7, CODE_8, AMBIGUOUS, SILENT, OUTCOMES };
const char *const kOutcomeNames[] = {
    "loaded", "code 1", "code 5", "code 7", "code 8", "ambiguous", "silent (no message buffer)"};

struct CaseResult {
    std::string error; // empty when the case is sound
    Outcome outcome = LOADED;
    unsigned codes = 0; // bit n: the message shown is the text of code n
    double ms = 0;      // the fastest of the timings
    double firstMs = 0; // the first timing, whatever the machine was doing
    uint64_t peakBytes = 0, totalBytes = 0, largest = 0;
    uint32_t calls = 0, requests = 0, failures = 0;
};

std::string exePath;
char modulePathBuffer[PATH_SIZE];
const Bytes *currentCase; // for the crash report
std::string currentLabel;

std::string Describe(const char *what, uint64_t got, uint64_t bound) {
    return std::string(what) + " " + std::to_string(got) + " above the bound " +
           std::to_string(bound);
}

// A text that lies inside its entry block and ends there.
std::string CheckText(const char *text, const void *block, const char *field) {
    const char *start = (const char *)block;
    uint32_t size = fuzz::BlockSize(block);
    if (!text || text < start || text >= start + size)
        return std::string(field) + " points outside its entry";
    for (const char *p = text; p < start + size; p++)
        if (!*p)
            return "";
    return std::string(field) + " is not terminated inside its entry";
}

template <class Entry>
std::string CheckList(Entry **list, DWORD count, const char *name,
                      std::string (*entryCheck)(const Entry *)) {
    if (count == 0)
        return "";
    if (!list || fuzz::BlockSize(list) < count * sizeof(Entry *))
        return std::string(name) + ": the array does not hold the count";
    for (DWORD i = 0; i < count; i++) {
        if (fuzz::BlockSize(list[i]) < sizeof(Entry))
            return std::string(name) + " entry " + std::to_string(i) + " is not a live block";
        std::string e = entryCheck(list[i]);
        if (!e.empty())
            return std::string(name) + " entry " + std::to_string(i) + ": " + e;
    }
    return "";
}

std::string CheckFileEntry(const FileEntry *e) {
    std::string r = CheckText(e->folder, e, "folder");
    if (r.empty() && e->folder != (const char *)(e + 1))
        r = "folder does not follow the fixed fields";
    return r.empty() ? CheckText(e->name, e, "name") : r;
}

std::string CheckFolderEntry(const FolderEntry *e) {
    std::string r = CheckText(e->folder, e, "folder");
    if (r.empty() && e->levels > 255)
        r = "levels above 255";
    return r.empty() ? CheckText(e->file, e, "file") : r;
}

std::string CheckRegistryEntry(const RegistryEntry *e) {
    return CheckText(e->path, e, "path");
}

// What the loader built, whether it succeeded or not, is sound: every pointer is a live
// block or inside one, every text ends inside its block.
std::string CheckBuilt() {
    std::string e = CheckList(fileEntries, fileEntryCount, "file", CheckFileEntry);
    if (e.empty())
        e = CheckList(folderEntries, folderEntryCount, "folder", CheckFolderEntry);
    if (e.empty())
        e = CheckList(registryEntries, registryEntryCount, "registry", CheckRegistryEntry);
    if (!e.empty())
        return e;
    if (stringTable) {
        uint32_t slots = fuzz::BlockSize(stringTable) / sizeof(char *), i = 0;
        for (; i < slots && stringTable[i]; i++) {
            if (fuzz::BlockSize(stringTable[i]) == 0)
                return "text " + std::to_string(i) + " is not a live block";
            e = CheckText(stringTable[i], stringTable[i], "text");
            if (!e.empty())
                return e;
        }
        if (i == slots)
            return "the string table has no null slot";
    }
    if (optionsRecord) {
        if (optionsRecordSize == 0 || fuzz::BlockSize(optionsRecord) < optionsRecordSize)
            return "the options record is smaller than its recorded size";
        const char *texts[] = {GetProgramName(), GetDocumentName()};
        for (const char *t : texts)
            if (t && !(e = CheckText(t, optionsRecord, "an options text")).empty())
                return e;
        (void)GetOptionFlags();
    } else if (optionsRecordSize != 0) {
        return "an options size without a record";
    }
    return "";
}

std::string CheckFreed() {
    if (stringTable || fileEntries || folderEntries || registryEntries || optionsRecord ||
        fileEntryCount || folderEntryCount || registryEntryCount || optionsRecordSize)
        return "FreeUninstallData left a list, table or count behind";
    const fuzz::MemoryStats &m = fuzz::GetMemoryStats();
    if (m.live)
        return std::to_string(m.live) + " blocks were never released";
    return "";
}

// The message shown matches the text of which documented codes.
std::vector<int> MatchingCodes(const std::string &text) {
    static const int codes[] = {1, 5, 7, 8};
    std::vector<int> found;
    char expected[TEXT_SIZE];
    for (int code : codes) {
        FormatMessageText(expected, code, modulePath);
        if (text == expected)
            found.push_back(code);
    }
    return found;
}

CaseResult RunOnce(const Bytes &block, uint32_t failAt, bool onward) {
    CaseResult r;
    Bytes image(kPrefix, 'P');
    image.insert(image.end(), block.begin(), block.end());
    const uint64_t B = block.size();
    fuzz::SetMemoryFile(exePath, &image);
    fuzz::ResetFileStats(uint32_t(kCallsPerByte * B + kCallsConstant + 1000));
    fuzz::ResetMemoryStats();
    fuzz::FailRequests(failAt, onward);
    fuzz::ShownBoxes().clear();
    uninstallLocator.uninstallDataOffset = kPrefix;

    auto fail = [&](const std::string &e) {
        if (r.error.empty())
            r.error = e;
    };
    LARGE_INTEGER t0, t1, t2, t3, frequency;
    QueryPerformanceCounter(&t0);
    int loaded = LoadUninstallData();
    QueryPerformanceCounter(&t1);
    fuzz::FailRequests(0, false);
    const fuzz::MemoryStats &m = fuzz::GetMemoryStats();
    const fuzz::FileStats &f = fuzz::GetFileStats();
    const std::vector<fuzz::ShownBox> &boxes = fuzz::ShownBoxes();

    // Before anything is released: what was built, and the message against the texts.
    std::string built = CheckBuilt();
    if (!built.empty())
        fail("after loading: " + built);
    if (loaded == 1) {
        r.outcome = LOADED;
        if (!boxes.empty())
            fail("a message was shown although the load succeeded");
        if (m.failures)
            fail("an allocation failed and yet the load succeeded");
    } else if (loaded != 0) {
        fail("LoadUninstallData returned " + std::to_string(loaded));
    } else if (boxes.empty()) {
        r.outcome = SILENT;
        if (!(m.lastRequestFailed && m.lastRequest == TEXT_SIZE))
            fail("the load failed without a message");
    } else if (boxes.size() > 1) {
        fail(std::to_string(boxes.size()) + " messages were shown");
    } else {
        const fuzz::ShownBox &box = boxes[0];
        if (box.style != (MB_OK | MB_ICONINFORMATION) || box.owner != mainWindow)
            fail("the message has style " + std::to_string(box.style));
        if (box.caption != GetMessageText(MSG_CAPTION))
            fail("the message's caption is not message text 0");
        std::vector<int> codes = MatchingCodes(box.text);
        for (int c : codes)
            r.codes |= 1u << c;
        auto has = [&](int c) { return std::find(codes.begin(), codes.end(), c) != codes.end(); };
        if (codes.empty())
            fail("the message \"" + box.text + "\" is not the text of a documented code");
        else if (codes.size() > 1)
            r.outcome = AMBIGUOUS;
        else
            r.outcome = has(1) ? CODE_1 : has(5) ? CODE_5 : has(7) ? CODE_7 : CODE_8;
        if (!m.failures && !has(1) && !has(8) && !codes.empty())
            fail("out of memory was reported, but no allocation failed");
    }

    QueryPerformanceCounter(&t2);
    FreeUninstallData();
    QueryPerformanceCounter(&t3);
    QueryPerformanceFrequency(&frequency);
    r.ms = double(t1.QuadPart - t0.QuadPart + t3.QuadPart - t2.QuadPart) * 1000.0 /
           double(frequency.QuadPart);
    r.peakBytes = m.peakBytes;
    r.totalBytes = m.totalBytes;
    r.largest = m.largest;
    r.calls = f.calls;
    r.requests = m.requests;
    r.failures = m.failures;

    fail(CheckFreed());
    if (!m.error.empty())
        fail("memory: " + m.error);
    if (!f.error.empty())
        fail("file: " + f.error);
    if (f.opens != 1 || f.closes != 1)
        fail("the file was opened " + std::to_string(f.opens) + " times and closed " +
             std::to_string(f.closes) + " times");
    if (std::string(modulePath) != exePath)
        fail("the module path is not the program's file name");
    if (m.peakBytes > kPeakPerByte * B + kPeakConstant)
        fail(Describe("peak memory", m.peakBytes, kPeakPerByte * B + kPeakConstant));
    if (m.largest > kLargestPerByte * B + kLargestConstant)
        fail(Describe("a single block of", m.largest, kLargestPerByte * B + kLargestConstant));
    if (m.totalBytes > kTotalPerByte * B + kTotalConstant)
        fail(Describe("bytes handed out", m.totalBytes, kTotalPerByte * B + kTotalConstant));
    if (f.calls > kCallsPerByte * B + kCallsConstant)
        fail(Describe("file calls", f.calls, kCallsPerByte * B + kCallsConstant));
    if (m.requests > B + kRequestsConstant)
        fail(Describe("allocations", m.requests, B + kRequestsConstant));
    return r;
}

void SaveCase(const Bytes &block, const std::string &label) {
    std::string folder = BuildFolder() + "\\fuzz-failures";
    CreateDirectoryA(folder.c_str(), 0);
    std::string path = folder + "\\" + label + ".block";
    pack::WriteWholeFile(path, block, nullptr);
    std::fprintf(stderr, "fuzz: case %s written to %s\n", label.c_str(), path.c_str());
}

// Runs a case; a slow one is timed again up to four times, and only its fastest run counts, so a
// busy machine neither fails the test nor sets the reported maximum, while a case that is slow
// every time still does.
CaseResult RunCase(const Bytes &block, const std::string &label, uint32_t failAt = 0,
                   bool onward = false) {
    currentCase = &block;
    currentLabel = label;
    CaseResult r = RunOnce(block, failAt, onward);
    r.firstMs = r.ms;
    for (int again = 0; again < 4 && r.error.empty() && r.ms > kRetimeMs; again++)
        r.ms = std::min(r.ms, RunOnce(block, failAt, onward).ms);
    if (r.error.empty() && r.ms > kSlowCaseMs)
        r.error = "the case takes " + std::to_string(r.ms) + " ms";
    if (!r.error.empty()) {
        r.error = label + ": " + r.error;
        SaveCase(block, label);
    }
    currentCase = nullptr;
    return r;
}

LONG WINAPI ReportCrash(EXCEPTION_POINTERS *info) {
    std::fprintf(stderr, "fuzz: exception 0x%08lX at %p in case %s\n",
                 info->ExceptionRecord->ExceptionCode, info->ExceptionRecord->ExceptionAddress,
                 currentLabel.c_str());
    if (currentCase)
        SaveCase(*currentCase, "crash-" + currentLabel);
    std::fflush(stderr);
    return EXCEPTION_EXECUTE_HANDLER;
}

std::vector<std::pair<std::string, Bytes>> ReadFolder(const std::string &folder) {
    std::vector<std::pair<std::string, Bytes>> files;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\*.block").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return files;
    do {
        Bytes bytes;
        if (pack::ReadWholeFile(folder + "\\" + found.cFileName, &bytes, nullptr))
            files.push_back({found.cFileName, bytes});
    } while (FindNextFileA(search, &found));
    FindClose(search);
    std::sort(files.begin(), files.end());
    return files;
}

uint64_t EnvironmentNumber(const char *name, uint64_t fallback) {
    char value[64];
    DWORD n = GetEnvironmentVariableA(name, value, sizeof value);
    if (n == 0 || n >= sizeof value)
        return fallback;
    return std::strtoull(value, nullptr, 0);
}

class Fuzz : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        SetUnhandledExceptionFilter(ReportCrash);
        char name[MAX_PATH] = {};
        GetModuleFileNameA(0, name, MAX_PATH);
        exePath = name;
        moduleHandle = GetModuleHandleA(0);
        modulePath = modulePathBuffer;
        mainWindow = 0;
        for (auto &file : ReadFolder(SourceFolder() + "\\tests\\fuzz\\corpus"))
            corpus_.push_back(file.second), corpusNames_.push_back(file.first);
        regressions_ = ReadFolder(SourceFolder() + "\\tests\\fuzz\\regressions");
    }
    static std::vector<Bytes> corpus_;
    static std::vector<std::string> corpusNames_;
    static std::vector<std::pair<std::string, Bytes>> regressions_;
};
std::vector<Bytes> Fuzz::corpus_;
std::vector<std::string> Fuzz::corpusNames_;
std::vector<std::pair<std::string, Bytes>> Fuzz::regressions_;

TEST_F(Fuzz, CorpusBlocksLoadWhole) {
    ASSERT_GE(corpus_.size(), 5u) << "no corpus in " << SourceFolder();
    for (size_t i = 0; i < corpus_.size(); i++) {
        CaseResult r = RunCase(corpus_[i], corpusNames_[i]);
        EXPECT_EQ("", r.error);
        EXPECT_EQ(LOADED, r.outcome) << corpusNames_[i];
    }
}

TEST_F(Fuzz, RegressionCasesStaySound) {
    if (regressions_.empty())
        GTEST_SKIP() << "no case has failed yet";
    for (auto &c : regressions_)
        EXPECT_EQ("", RunCase(c.second, c.first).error);
}

// Every corpus block cut at every length: the loader stops at the cut with code 8, or with
// code 1 when the cut falls inside an options payload, and loads whole once the end
// record's header is in.
TEST_F(Fuzz, EveryTruncationIsSafe) {
    size_t cases = 0;
    for (size_t i = 0; i < corpus_.size(); i++) {
        const Bytes &whole = corpus_[i];
        Layout layout = Parse(whole);
        size_t endHeader = whole.size();
        for (const Span &s : layout.records)
            if (GetLe(whole, s.start, 2) == pack::TAG_END)
                endHeader = s.start + 8;
        for (size_t cut = 0; cut <= whole.size(); cut++, cases++) {
            Bytes block(whole.begin(), whole.begin() + cut);
            CaseResult r = RunCase(block, corpusNames_[i] + "-cut" + std::to_string(cut));
            ASSERT_EQ("", r.error);
            if (cut >= endHeader)
                ASSERT_EQ(LOADED, r.outcome) << corpusNames_[i] << " cut at " << cut;
            else
                ASSERT_TRUE(r.codes & ((1u << 1) | (1u << 8)))
                    << corpusNames_[i] << " cut at " << cut << ": " << kOutcomeNames[r.outcome];
        }
    }
    std::printf("fuzz: %zu cuts\n", cases);
}

TEST_F(Fuzz, MutatedBlocksAreSafe) {
    const uint64_t cases = EnvironmentNumber("VANISH_FUZZ_CASES", 100000);
    const uint64_t seed = EnvironmentNumber("VANISH_FUZZ_SEED", 20261210);
    const uint64_t first = EnvironmentNumber("VANISH_FUZZ_FIRST", 0);
    ASSERT_FALSE(corpus_.empty());
    uint64_t outcomes[OUTCOMES] = {}, injected = 0, failed = 0;
    double maxMs = 0, maxFirstMs = 0, peakPerByte = 0, totalPerByte = 0, callsPerByte = 0;
    uint64_t largestOverBlock = 0;
    std::string slowest;
    LARGE_INTEGER t0, t1, frequency;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&t0);
    uint64_t ran = 0;
    for (uint64_t i = first; i < first + cases; i++, ran++) {
        Random random = {seed ^ (i * 0xD1B54A32D192ED03ull)};
        random.Next();
        std::string what;
        Bytes block = Mutate(random, corpus_, &what);
        uint32_t failAt = 0;
        bool onward = false;
        if (random.OneIn(8)) { // an allocation refused somewhere in the load
            failAt = 1 + random.Below(48);
            onward = random.OneIn(2);
            injected++;
        }
        std::string label =
            "seed" + std::to_string(seed) + "-case" + std::to_string(i) + "-" + what;
        CaseResult r = RunCase(block, label, failAt, onward);
        if (!r.error.empty()) {
            ADD_FAILURE() << r.error;
            if (++failed >= 10)
                break;
            continue;
        }
        outcomes[r.outcome]++;
        if (r.ms > maxMs)
            maxMs = r.ms, slowest = label + ", " + std::to_string(block.size()) + " bytes";
        maxFirstMs = std::max(maxFirstMs, r.firstMs);
        // The k that "k x block + constant" needs, for the blocks where the constant does
        // not hide it.
        if (block.size() >= 512) {
            double B = double(block.size());
            peakPerByte = std::max(peakPerByte, (double(r.peakBytes) - kPeakConstant) / B);
            totalPerByte = std::max(totalPerByte, (double(r.totalBytes) - kTotalConstant) / B);
            callsPerByte = std::max(callsPerByte, (double(r.calls) - kCallsConstant) / B);
        }
        if (r.largest > block.size())
            largestOverBlock = std::max<uint64_t>(largestOverBlock, r.largest - block.size());
    }
    QueryPerformanceCounter(&t1);
    double seconds = double(t1.QuadPart - t0.QuadPart) / double(frequency.QuadPart);
    std::printf("fuzz: %llu cases from seed %llu in %.1f s, %.0f cases/s; %llu with a refused "
                "allocation\n",
                (unsigned long long)ran, (unsigned long long)seed, seconds, ran / seconds,
                (unsigned long long)injected);
    for (int o = 0; o < OUTCOMES; o++)
        std::printf("fuzz:   %-28s %llu\n", kOutcomeNames[o], (unsigned long long)outcomes[o]);
    std::printf("fuzz: slowest case %.3f ms as the fastest of its timings (%s); slowest single "
                "timing %.3f ms\n",
                maxMs, slowest.c_str(), maxFirstMs);
    std::printf("fuzz: blocks of 512 bytes and more: peak memory at most %.2f x block + %llu "
                "(bound %llu x), all blocks handed out %.2f x block + %llu (bound %llu x), file "
                "calls %.2f x "
                "block + %llu (bound %llu x)\n",
                peakPerByte, (unsigned long long)kPeakConstant, (unsigned long long)kPeakPerByte,
                totalPerByte, (unsigned long long)kTotalConstant, (unsigned long long)kTotalPerByte,
                callsPerByte, (unsigned long long)kCallsConstant,
                (unsigned long long)kCallsPerByte);
    std::printf("fuzz: the largest single block exceeds the block's size by at most %llu bytes "
                "(bound: %llu x block + %llu)\n",
                (unsigned long long)largestOverBlock, (unsigned long long)kLargestPerByte,
                (unsigned long long)kLargestConstant);
    std::fflush(stdout);
    // The mutator reaches every way a load can end, or it is not testing much.
    if (cases >= 10000 && !failed) {
        for (Outcome o : {LOADED, CODE_1, CODE_5, CODE_7, CODE_8, SILENT}) {
            EXPECT_GT(outcomes[o], 0u) << kOutcomeNames[o] << " never happened";
        }
    }
}

} // namespace
