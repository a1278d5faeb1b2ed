// benchload: the loader's cost for a block of N file entries shaped like the benchmark
// application's (".\cNN\sMM" and "partNNN.ext"), in process, as the uninstaller reads it:
// the block is appended to a copy of a small DLL that is then loaded, so that the loader
// reads "its own" file through that module's handle.
//   benchload HOSTDLL SCRATCHFOLDER ENTRIES REPEATS
// Prints the median and the spread of the load time in milliseconds, and the private bytes
// the first load added (committed private pages, walked with VirtualQuery) per entry.
#include "common/common.h"
#include "data/data.h"
#include "pack.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

static SIZE_T PrivateBytes() {
    SIZE_T total = 0;
    MEMORY_BASIC_INFORMATION info;
    for (BYTE *p = nullptr; VirtualQuery(p, &info, sizeof info) == sizeof info;
         p = (BYTE *)info.BaseAddress + info.RegionSize) {
        if (info.State == MEM_COMMIT && info.Type == MEM_PRIVATE)
            total += info.RegionSize;
        if ((BYTE *)info.BaseAddress + info.RegionSize < p)
            break;
    }
    return total;
}

int main(int argc, char **argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: benchload HOSTDLL SCRATCHFOLDER ENTRIES REPEATS\n");
        return 2;
    }
    DWORD entries = DWORD(std::atol(argv[3]));
    int repeats = std::max(1, std::atoi(argv[4]));
    pack::Bytes image;
    std::string error;
    if (!pack::ReadWholeFile(argv[1], &image, &error)) {
        std::fprintf(stderr, "benchload: %s\n", error.c_str());
        return 1;
    }
    pack::Block block;
    block.texts = {"Vanish Bench Uninstall", "Remove?", "Removed."};
    static const char *const extensions[] = {"dll", "dat", "txt", "ini", "bin"};
    for (DWORD i = 0; i < entries; i++) {
        char folder[32], name[32];
        std::snprintf(folder, sizeof folder, ".\\c%02lu\\s%02lu", (unsigned long)(i / 2000 % 100),
                      (unsigned long)(i / 20 % 100));
        std::snprintf(name, sizeof name, "part%03lu.%s", (unsigned long)(i % 20),
                      extensions[i % 5]);
        block.files.push_back({folder, name, uint8_t(i % 100 == 0 ? 1 : 0)});
    }
    uint32_t offset = uint32_t(image.size());
    pack::Bytes body = pack::EncodeBlock(block);
    image.insert(image.end(), body.begin(), body.end());
    std::string copy = std::string(argv[2]) + "\\benchload-" + argv[3] + ".dll";
    if (!pack::WriteWholeFile(copy, image, &error)) {
        std::fprintf(stderr, "benchload: %s\n", error.c_str());
        return 1;
    }
    HMODULE library = LoadLibraryA(copy.c_str());
    if (!library) {
        std::fprintf(stderr, "benchload: cannot load %s\n", copy.c_str());
        return 1;
    }
    static char path[PATH_SIZE];
    modulePath = path;
    moduleHandle = library;
    uninstallLocator.uninstallDataOffset = offset;

    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    std::vector<double> times;
    SIZE_T added = 0;
    for (int r = 0; r < repeats; r++) {
        SIZE_T before = PrivateBytes();
        LARGE_INTEGER start, end;
        QueryPerformanceCounter(&start);
        int loaded = LoadUninstallData();
        QueryPerformanceCounter(&end);
        if (r == 0)
            added = PrivateBytes() - before;
        if (!loaded || fileEntryCount != entries) {
            std::fprintf(stderr, "benchload: the block did not load (%lu entries)\n",
                         (unsigned long)fileEntryCount);
            return 1;
        }
        FreeUninstallData();
        times.push_back(double(end.QuadPart - start.QuadPart) * 1000.0 /
                        double(frequency.QuadPart));
    }
    std::sort(times.begin(), times.end());
    std::printf(
        "entries=%lu bytes=%lu median_ms=%.3f min_ms=%.3f max_ms=%.3f private_per_entry=%.1f\n",
        (unsigned long)entries, (unsigned long)body.size(), times[times.size() / 2], times.front(),
        times.back(), double(added) / double(entries));
    FreeLibrary(library);
    return 0;
}
