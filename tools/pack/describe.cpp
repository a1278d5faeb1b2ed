#include "describe.h"

#include <cstdlib>
#include <sstream>

namespace pack {

struct Name {
    const char *name;
    uint32_t value;
};

static const Name fileFlags[] = {{"shared", FILE_SHARED},
                                 {"font", FILE_FONT},
                                 {"comserver", FILE_COMSERVER},
                                 {"checkinuse", FILE_CHECKINUSE}};
static const Name optionFlags[] = {{"wait", OPTION_WAIT}, {"keeptheme", OPTION_KEEPTHEME}};
static const Name roots[] = {
    {"HKCR", 0x80000000u}, {"HKCU", 0x80000001u}, {"HKLM", 0x80000002u}, {"HKU", 0x80000003u}};

template <size_t N>
static bool ParseFlags(const std::string &word, const Name (&names)[N], uint32_t *flags) {
    *flags = 0;
    if (word == "-")
        return true;
    std::stringstream list(word);
    std::string one;
    while (std::getline(list, one, ',')) {
        bool known = false;
        for (const auto &n : names)
            if (one == n.name) {
                *flags |= n.value;
                known = true;
            }
        if (!known)
            return false;
    }
    return true;
}

static bool SplitPair(const std::string &text, std::string *first, std::string *second) {
    size_t bar = text.find('|');
    if (bar == std::string::npos)
        return false;
    *first = text.substr(0, bar);
    *second = text.substr(bar + 1);
    return true;
}

bool ParseDescription(const std::string &text, Block *block, std::string *error) {
    std::stringstream lines(text);
    std::string line;
    int number = 0;
    while (std::getline(lines, line)) {
        number++;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty() || line[0] == '#')
            continue;
        size_t space = line.find(' ');
        std::string keyword = line.substr(0, space);
        std::string rest = space == std::string::npos ? "" : line.substr(space + 1);
        size_t second = rest.find(' ');
        std::string word = rest.substr(0, second);
        std::string tail = second == std::string::npos ? "" : rest.substr(second + 1);
        uint32_t flags = 0;
        bool ok = true;
        if (keyword == "text") {
            block->texts.push_back(rest);
        } else if (keyword == "file") {
            FileEntry e;
            ok = ParseFlags(word, fileFlags, &flags) && SplitPair(tail, &e.folder, &e.name);
            e.flags = uint8_t(flags);
            block->files.push_back(e);
        } else if (keyword == "folder") {
            FolderEntry e;
            e.levels = uint8_t(std::atoi(word.c_str()));
            ok = SplitPair(tail, &e.folder, &e.file);
            block->folders.push_back(e);
        } else if (keyword == "registry") {
            RegistryEntry e;
            e.root = uint32_t(std::strtoul(word.c_str(), nullptr, 0));
            for (const auto &r : roots)
                if (word == r.name)
                    e.root = r.value;
            e.path = tail;
            ok = e.root != 0 && !tail.empty();
            block->registry.push_back(e);
        } else if (keyword == "options") {
            ok = ParseFlags(rest, optionFlags, &block->optionFlags);
        } else if (keyword == "program") {
            block->program = rest;
        } else if (keyword == "document") {
            block->document = rest;
        } else {
            ok = false;
        }
        if (!ok) {
            *error = "line " + std::to_string(number) + " is not understood: " + line;
            return false;
        }
    }
    return true;
}

} // namespace pack
