// The manifest files' shared vocabulary: the roles, the folder tokens, the flag and root
// names and the path helpers that reading, checking and writing all use. Private to
// manifest.cpp, manifest_read.cpp, manifest_check.cpp and manifest_write.cpp; the library's
// interface is builder.h.
#ifndef VANISH_MANIFEST_H
#define VANISH_MANIFEST_H

#include "builder.h"

#include <string>
#include <vector>

namespace pack::manifest {

extern const std::vector<Role> roles;

struct Name {
    const char *name;
    uint32_t value;
};
extern const Name fileFlags[4];
extern const Name rootNames[5];
constexpr uint32_t HKCR = 0x80000000u;

template <size_t N> std::string List(const Name (&names)[N]) {
    std::string list;
    for (const auto &n : names)
        list += (list.empty() ? "" : ", ") + std::string(n.name);
    return list;
}
std::string List(const std::vector<std::string> &names);

// ASCII case folding only, as the program compares paths.
std::string Fold(std::string text);
std::string DropOneBackslash(std::string text);
bool IsFolderToken(const std::string &name);
// Where a known token, in braces and in any case, stands in text at or after from; npos
// when nowhere.
size_t FindTokenText(const std::string &text, size_t from);
// A path that begins with a token, with its shortest possible folder ("C:") in its place:
// what cannot fit then never fits.
std::string ShortestExpansion(const std::string &path);
// Whether a file or folder entry's folder begins as a token does: the block then needs
// the flag that lets the program read tokens.
bool UsesFolderTokens(const Block &block);
// A registry path "Key\\Value" names a value: two backslashes before its last part.
bool SplitValue(const std::string &path, std::string *key, std::string *value);
std::vector<std::string> Split(const std::string &path, char separator = '\\');
bool IsAbsolute(const std::string &folder);

} // namespace pack::manifest

#endif
