// bench-stamp: writes the benchmark application's uninstall data onto a copy of the
// uninstaller, through the portable block writer.
//   bench-stamp EXE MANIFEST OUT     the block that manifest.txt describes (F and R lines)
//   bench-stamp EXE - OUT            texts only: the start-up of an empty block
#include "pack.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

static int Fail(const std::string &message) {
    std::fprintf(stderr, "bench-stamp: %s\n", message.c_str());
    return 1;
}

// The message texts of a silent run: no question can appear, since texts 9 and 10 are
// empty (an empty shared-file question counts as Yes, an empty read-only query as yes to
// all).
static pack::Block Texts() {
    pack::Block block;
    block.texts = {"Vanish Bench Uninstall",
                   "Remove Vanish Bench and all of its components?",
                   "Vanish Bench was removed from your computer.",
                   "&Yes",
                   "Yes to &all",
                   "&No",
                   "No to a&ll",
                   "Out of memory while reading %s.",
                   "The uninstall data in %s is damaged.",
                   "",
                   "",
                   "Removing files...",
                   "Removing folders...",
                   "Removing program folders...",
                   "Removing registry entries...",
                   "Vanish Bench is still running. Close it, then choose Retry."};
    return block;
}

int main(int argc, char **argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: bench-stamp EXE MANIFEST|- OUT\n");
        return 2;
    }
    pack::Block block = Texts();
    if (std::string(argv[2]) != "-") {
        std::ifstream manifest(argv[2]);
        if (!manifest)
            return Fail(std::string("cannot read ") + argv[2]);
        std::string line;
        while (std::getline(manifest, line)) {
            if (line.rfind("F ", 0) == 0) {
                size_t space = line.find(' ', 2), bar = line.find('|');
                if (space == std::string::npos || bar == std::string::npos || bar < space)
                    return Fail("bad line: " + line);
                pack::FileEntry entry;
                entry.flags = uint8_t(std::strtoul(line.c_str() + 2, nullptr, 10));
                entry.folder = line.substr(space + 1, bar - space - 1);
                entry.name = line.substr(bar + 1);
                block.files.push_back(entry);
            } else if (line.rfind("R ", 0) == 0 && line.size() > 11) {
                pack::RegistryEntry entry;
                entry.root = uint32_t(std::strtoul(line.substr(2, 8).c_str(), nullptr, 16));
                entry.path = line.substr(11);
                block.registry.push_back(entry);
            }
        }
    }
    pack::Bytes image;
    std::string error;
    if (!pack::ReadWholeFile(argv[1], &image, &error) ||
        !pack::Stamp(image, pack::EncodeBlock(block), &error) ||
        !pack::WriteWholeFile(argv[3], image, &error))
        return Fail(error);
    return 0;
}
