// vanish-pack: stamps uninstall data onto a copy of the uninstaller.
//   vanish-pack finalize EXE             set the offset field to the file's own length
//   vanish-pack stamp EXE DESCRIPTION OUT   write the block a description gives onto a copy
//   vanish-pack block DESCRIPTION OUT       write the block alone
#include "describe.h"
#include "pack.h"

#include <cstdio>
#include <cstring>

static int Fail(const std::string &message) {
    std::fprintf(stderr, "vanish-pack: %s\n", message.c_str());
    return 1;
}

static int Finalize(const char *path) {
    pack::Bytes image;
    std::string error;
    if (!pack::ReadWholeFile(path, &image, &error))
        return Fail(error);
    if (!pack::WriteOffset(image, uint32_t(image.size()), &error))
        return Fail(std::string(path) + ": " + error);
    if (!pack::WriteWholeFile(path, image, &error))
        return Fail(error);
    return 0;
}

static bool BuildFromDescription(const char *path, pack::Bytes *block, std::string *error) {
    pack::Bytes text;
    pack::Block description;
    if (!pack::ReadWholeFile(path, &text, error))
        return false;
    if (!pack::ParseDescription(std::string(text.begin(), text.end()), &description, error)) {
        *error = std::string(path) + ": " + *error;
        return false;
    }
    *block = pack::EncodeBlock(description);
    return true;
}

int main(int argc, char **argv) {
    std::string error;
    if (argc == 3 && !std::strcmp(argv[1], "finalize"))
        return Finalize(argv[2]);
    if (argc == 4 && !std::strcmp(argv[1], "block")) {
        pack::Bytes block;
        if (!BuildFromDescription(argv[2], &block, &error) ||
            !pack::WriteWholeFile(argv[3], block, &error))
            return Fail(error);
        return 0;
    }
    if (argc == 5 && !std::strcmp(argv[1], "stamp")) {
        pack::Bytes image, block;
        if (!pack::ReadWholeFile(argv[2], &image, &error) ||
            !BuildFromDescription(argv[3], &block, &error) || !pack::Stamp(image, block, &error) ||
            !pack::WriteWholeFile(argv[4], image, &error))
            return Fail(error);
        return 0;
    }
    std::fprintf(stderr, "usage: vanish-pack finalize EXE\n"
                         "       vanish-pack block DESCRIPTION OUT\n"
                         "       vanish-pack stamp EXE DESCRIPTION OUT\n");
    return 2;
}
