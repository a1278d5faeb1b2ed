// benchconversions: what the system-call layer's conversions cost beside the call they
// precede, in process, on the NT family's wide calls. Times Utf8ToWide and NamesEqual alone, then
// SysGetAttributes and SysDeleteFile (conversion and wide call) against GetFileAttributesW and
// DeleteFileW given the already converted path. The files named do not exist; their folder
// does, so the system looks the name up in a real directory.
//   benchconversions [COUNT]
// COUNT calls of each (default 200,000), made in ROUNDS alternating rounds; each figure is the
// median round, in nanoseconds per call.
#include "common/common.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

static const int ROUNDS = 10;

// A typical path, 60 bytes of ASCII, and one of 120 bytes with Cyrillic and CJK characters
// (71 UTF-16 units): Russian words for "program documents, removal", a Chinese phrase for
// "software removal notes" and "missing (2).txt". Each comes with its upper-case spelling for
// NamesEqual, so that the comparison walks the whole path and folds every letter.
static const char asciiPath[] = "C:\\windows\\temp\\Vanish Conversions - readme-missing-file.txt";
static const char asciiUpper[] = "C:\\WINDOWS\\TEMP\\VANISH CONVERSIONS - README-MISSING-FILE.TXT";
static const char mixedPath[] =
    "C:\\windows\\temp\\"
    "\xD0\x94\xD0\xBE\xD0\xBA\xD1\x83\xD0\xBC\xD0\xB5\xD0\xBD\xD1\x82\xD1\x8B "
    "\xD0\xBF\xD1\x80\xD0\xBE\xD0\xB3\xD1\x80\xD0\xB0\xD0\xBC\xD0\xBC\xD1\x8B "
    "\xD1\x83\xD0\xB4\xD0\xB0\xD0\xBB\xD0\xB5\xD0\xBD\xD0\xB8\xD1\x8F "
    "\xE8\xBD\xAF\xE4\xBB\xB6\xE5\x8D\xB8\xE8\xBD\xBD\xE8\xAF\xB4\xE6\x98\x8E "
    "\xD0\xBE\xD1\x82\xD1\x81\xD1\x83\xD1\x82\xD1\x81\xD1\x82\xD0\xB2\xD1\x83\xD0\xB5\xD1\x82"
    " (2).txt";
static const char mixedUpper[] =
    "C:\\WINDOWS\\TEMP\\"
    "\xD0\x94\xD0\x9E\xD0\x9A\xD0\xA3\xD0\x9C\xD0\x95\xD0\x9D\xD0\xA2\xD0\xAB "
    "\xD0\x9F\xD0\xA0\xD0\x9E\xD0\x93\xD0\xA0\xD0\x90\xD0\x9C\xD0\x9C\xD0\xAB "
    "\xD0\xA3\xD0\x94\xD0\x90\xD0\x9B\xD0\x95\xD0\x9D\xD0\x98\xD0\xAF "
    "\xE8\xBD\xAF\xE4\xBB\xB6\xE5\x8D\xB8\xE8\xBD\xBD\xE8\xAF\xB4\xE6\x98\x8E "
    "\xD0\x9E\xD0\xA2\xD0\xA1\xD0\xA3\xD0\xA2\xD0\xA1\xD0\xA2\xD0\x92\xD0\xA3\xD0\x95\xD0\xA2"
    " (2).TXT";

static_assert(sizeof asciiPath - 1 == 60, "the ASCII path is 60 bytes");
static_assert(sizeof mixedPath - 1 == 120, "the mixed path is 120 bytes");
static_assert(sizeof asciiUpper == sizeof asciiPath && sizeof mixedUpper == sizeof mixedPath,
              "each upper-case spelling has its path's length");

static LARGE_INTEGER frequency;
static volatile DWORD sink; // keeps every result alive

static double Seconds() {
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return double(t.QuadPart) / double(frequency.QuadPart);
}

// Runs each step count times in alternating rounds and gives each step's median round in
// nanoseconds per call. Alternating spreads the machine's swings evenly over the steps.
template <int N> struct Timing { double ns[N]; };

template <int N, class F> static Timing<N> Measure(int count, F step) {
    double rounds[N][ROUNDS];
    int perRound = std::max(1, count / ROUNDS);
    for (int r = 0; r < ROUNDS; r++) {
        for (int k = 0; k < N; k++) {
            int which = r % 2 ? N - 1 - k : k;
            double start = Seconds();
            for (int i = 0; i < perRound; i++)
                sink = sink + step(which);
            rounds[which][r] = (Seconds() - start) * 1e9 / perRound;
        }
    }
    Timing<N> result;
    for (int k = 0; k < N; k++) {
        std::sort(rounds[k], rounds[k] + ROUNDS);
        result.ns[k] = (rounds[k][ROUNDS / 2 - 1] + rounds[k][ROUNDS / 2]) / 2;
    }
    return result;
}

static void Line(const char *what, double ns) {
    std::printf("  %-52s %10.1f ns\n", what, ns);
}

static void Compare(const char *layer, const char *direct, const Timing<2> &t) {
    Line(layer, t.ns[0]);
    Line(direct, t.ns[1]);
    double overhead = t.ns[0] - t.ns[1];
    std::printf("  %-52s %10.1f ns  (%.1f%% of the call)\n", "  overhead of the layer", overhead,
                overhead * 100.0 / t.ns[1]);
}

int main(int argc, char **argv) {
    int count = argc > 1 ? std::atoi(argv[1]) : 200000;
    if (argc > 2 || count < ROUNDS) {
        std::fprintf(stderr, "usage: benchconversions [COUNT]\n");
        return 2;
    }
    QueryPerformanceFrequency(&frequency);
    isNT = 1;
    InitSystemLayer();
    if (!UsesWideCalls()) {
        std::fprintf(stderr, "benchconversions: the wide calls were not found\n");
        return 1;
    }

    static WCHAR asciiWide[MAX_PATH], mixedWide[MAX_PATH];
    if (!Utf8ToWide(asciiPath, asciiWide, MAX_PATH, 1) ||
        !Utf8ToWide(mixedPath, mixedWide, MAX_PATH, 1) || lstrlenW(asciiWide) != 60 ||
        lstrlenW(mixedWide) != 71 || !NamesEqual(asciiPath, asciiUpper) ||
        !NamesEqual(mixedPath, mixedUpper)) {
        std::fprintf(stderr, "benchconversions: the paths do not convert or compare as expected\n");
        return 1;
    }
    if (GetFileAttributesW(asciiWide) != INVALID_FILE_ATTRIBUTES ||
        GetFileAttributesW(mixedWide) != INVALID_FILE_ATTRIBUTES ||
        GetLastError() != ERROR_FILE_NOT_FOUND) {
        std::fprintf(stderr, "benchconversions: a file that must be missing exists, or its folder "
                             "does not\n");
        return 1;
    }

    std::printf("benchconversions: %d calls each, %d alternating rounds, median round\n", count,
                ROUNDS);
    const char *paths[2] = {asciiPath, mixedPath};
    const char *uppers[2] = {asciiUpper, mixedUpper};
    const WCHAR *wides[2] = {asciiWide, mixedWide};
    const char *names[2] = {"ASCII, 60 bytes", "Cyrillic and CJK, 120 bytes"};

    std::printf("conversion alone\n");
    static WCHAR buffer[MAX_PATH];
    Timing<2> convert = Measure<2>(count, [&](int k) {
        return DWORD(Utf8ToWide(paths[k], buffer, MAX_PATH, 1)) + buffer[10];
    });
    Timing<2> compare =
        Measure<2>(count, [&](int k) { return DWORD(NamesEqual(paths[k], uppers[k])); });
    char what[80];
    for (int k = 0; k < 2; k++) {
        std::snprintf(what, sizeof what, "Utf8ToWide, %s", names[k]);
        Line(what, convert.ns[k]);
    }
    for (int k = 0; k < 2; k++) {
        std::snprintf(what, sizeof what, "NamesEqual, %s, other case", names[k]);
        Line(what, compare.ns[k]);
    }

    for (int k = 0; k < 2; k++) {
        std::printf("missing file, %s\n", names[k]);
        const char *path = paths[k];
        const WCHAR *wide = wides[k];
        Compare("SysGetAttributes (conversion + GetFileAttributesW)", "GetFileAttributesW",
                Measure<2>(count, [&](int which) {
                    return which ? GetFileAttributesW(wide) : SysGetAttributes(path);
                }));
        Compare("SysDeleteFile (conversion + DeleteFileW)", "DeleteFileW",
                Measure<2>(count, [&](int which) {
                    return DWORD(which ? DeleteFileW(wide) : SysDeleteFile(path));
                }));
    }
    return 0;
}
