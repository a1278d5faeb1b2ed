// What the name layer adds to a system call: the UTF-8 to UTF-16 conversion and the case
// comparison, timed beside the wide call they precede. Prints nanoseconds per call.
#include <windows.h>

#include <cstdio>

#include "common/common.h"

namespace {

const int kRounds = 200000;

double Now() {
    static LARGE_INTEGER frequency = {};
    if (!frequency.QuadPart)
        QueryPerformanceFrequency(&frequency);
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return double(now.QuadPart) * 1e9 / double(frequency.QuadPart);
}

template <typename F> double PerCall(F f, int rounds = kRounds) {
    double start = Now();
    for (int i = 0; i < rounds; i++)
        f();
    return (Now() - start) / rounds;
}

} // namespace

int main() {
    isNT = 1;
    InitSystemLayer();
    if (!UsesWideCalls()) {
        std::printf("the wide calls are not available\n");
        return 1;
    }
    const char ascii[] = "C:\\Program Files\\Vendor\\Application\\data\\settings.ini";
    const char world[] = "C:\\Program Files\\\xd0\x9f\xd1\x80\xd0\xbe\xd0\xb3\xd1\x80\xd0\xb0"
                         "\xd0\xbc\xd0\xbc\xd0\xb0\\\xe6\xa9\x9f\xe8\x83\xbd\\"
                         "\xd0\x96\xd1\x83\xd1\x80\xd0\xbd\xd0\xb0\xd0\xbb.txt";
    const char missing[] = "C:\\vanish-bench-missing\\no such file.txt";
    WCHAR wide[MAX_PATH];
    volatile int sink = 0;
    double toWideAscii = PerCall([&] { sink += Utf8ToWide(ascii, wide, MAX_PATH, 1); });
    double toWideWorld = PerCall([&] { sink += Utf8ToWide(world, wide, MAX_PATH, 1); });
    double compare = PerCall([&] { sink += NamesEqual(world, world); });
    Utf8ToWide(missing, wide, MAX_PATH, 1);
    const int calls = 20000;
    double direct =
        PerCall([&] { sink += GetFileAttributesW(wide) != INVALID_FILE_ATTRIBUTES; }, calls);
    double layered =
        PerCall([&] { sink += SysGetAttributes(missing) != INVALID_FILE_ATTRIBUTES; }, calls);
    double deleteDirect = PerCall([&] { sink += DeleteFileW(wide); }, calls);
    double deleteLayered = PerCall([&] { sink += SysDeleteFile(missing); }, calls);
    std::printf("Utf8ToWide, %u-byte ASCII path: %.0f ns\n", unsigned(sizeof ascii - 1),
                toWideAscii);
    std::printf("Utf8ToWide, %u-byte Cyrillic/CJK path: %.0f ns\n", unsigned(sizeof world - 1),
                toWideWorld);
    std::printf("NamesEqual, the same path: %.0f ns\n", compare);
    std::printf("GetFileAttributesW, missing file: %.0f ns; through the layer: %.0f ns "
                "(+%.1f%%)\n",
                direct, layered, 100.0 * (layered - direct) / direct);
    std::printf("DeleteFileW, missing file: %.0f ns; through the layer: %.0f ns (+%.1f%%)\n",
                deleteDirect, deleteLayered, 100.0 * (deleteLayered - deleteDirect) / deleteDirect);
    return sink < 0;
}
