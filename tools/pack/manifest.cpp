// The manifest's vocabulary, shared by reading, checking and writing: the message roles and
// their English defaults, the languages and how they are named, the folder tokens, the names
// of flags and roots, the path helpers, and how a diagnostic is written. Calls the table of
// shipped translations and nothing of the other manifest files.
#include "manifest.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace pack {

namespace manifest {

const std::vector<Role> roles = {
    {"caption", "{name} Uninstall", false},
    {"confirm", "Remove {name} and all of its components?", false},
    {"complete", "{name} was removed from your computer.", false},
    {"yes", "&Yes", false},
    {"yesToAll", "Yes to &all", false},
    {"no", "&No", false},
    {"noToAll", "No to a&ll", false},
    {"outOfMemory", "There is not enough memory to read the uninstall data in %s.", true},
    {"damaged", "The uninstall data in %s is damaged.", true},
    {"readOnlyQuestion", "The file %s is read-only. Remove it anyway?", true},
    {"sharedQuestion", "The shared file %s is no longer used by any program. Remove it anyway?",
     true},
    {"statusFiles", "Removing files...", false},
    {"statusFolders", "Removing folders...", false},
    {"statusFileFolders", "Removing program folders...", false},
    {"statusRegistry", "Removing registry entries...", false},
    {"inUse", "{name} is still running. Close it, then choose Retry.", false},
    {"restartNeeded", "Restart your computer to finish removing {name}.", false},
};

// The folder tokens the program resolves, in small letters.
const std::vector<std::string> folderTokens = {
    "programfiles",  "commonfiles",   "programs", "commonprograms", "startmenu", "commonstartmenu",
    "desktop",       "commondesktop", "startup",  "commonstartup",  "appdata",   "localappdata",
    "commonappdata", "documents",     "fonts",    "windows",        "system"};

const Name fileFlags[4] = {{"shared", FILE_SHARED},
                           {"font", FILE_FONT},
                           {"comServer", FILE_COMSERVER},
                           {"checkInUse", FILE_CHECKINUSE}};
const Name rootNames[5] = {{"HKCR", 0x80000000u},
                           {"HKCU", 0x80000001u},
                           {"HKLM", 0x80000002u},
                           {"HKU", 0x80000003u},
                           {"HKCC", 0x80000005u}};

std::string List(const std::vector<std::string> &names) {
    std::string list;
    for (const auto &n : names)
        list += (list.empty() ? "" : ", ") + n;
    return list;
}

std::string Fold(std::string text) {
    for (char &c : text)
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    return text;
}

std::string DropOneBackslash(std::string text) {
    if (!text.empty() && text.back() == '\\')
        text.pop_back();
    return text;
}

bool IsFolderToken(const std::string &name) {
    return std::find(folderTokens.begin(), folderTokens.end(), Fold(name)) != folderTokens.end();
}

size_t FindTokenText(const std::string &text, size_t from) {
    for (size_t open = text.find('{', from); open != std::string::npos;
         open = text.find('{', open + 1)) {
        size_t close = text.find('}', open);
        if (close == std::string::npos)
            return std::string::npos;
        if (IsFolderToken(text.substr(open + 1, close - open - 1)))
            return open;
    }
    return std::string::npos;
}

std::string ShortestExpansion(const std::string &path) {
    if (ReadFolderToken(path) != TokenForm::Known)
        return path;
    return "C:" + path.substr(path.find('}') + 1);
}

bool UsesFolderTokens(const Block &block) {
    auto starts = [](const std::string &folder) { return !folder.empty() && folder[0] == '{'; };
    return std::any_of(block.files.begin(), block.files.end(),
                       [&](const FileEntry &e) { return starts(e.folder); }) ||
           std::any_of(block.folders.begin(), block.folders.end(),
                       [&](const FolderEntry &e) { return starts(e.folder); });
}

bool SplitValue(const std::string &path, std::string *key, std::string *value) {
    size_t last = path.rfind('\\');
    if (last == std::string::npos || last == 0 || path[last - 1] != '\\')
        return false;
    *key = path.substr(0, last - 1);
    *value = path.substr(last + 1);
    return true;
}

std::vector<std::string> Split(const std::string &path, char separator) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        size_t bar = path.find(separator, start);
        parts.push_back(path.substr(start, bar - start));
        if (bar == std::string::npos)
            return parts;
        start = bar + 1;
    }
}

bool IsAbsolute(const std::string &folder) {
    bool drive = folder.size() >= 3 && std::isalpha((unsigned char)folder[0]) && folder[1] == ':' &&
                 folder[2] == '\\';
    return drive || folder.rfind("\\\\", 0) == 0;
}

} // namespace manifest

using namespace manifest;

const std::vector<Role> &Roles() {
    return roles;
}

const std::vector<std::string> &FolderTokens() {
    return folderTokens;
}

std::string FolderTokenList() {
    std::string list;
    for (const auto &name : folderTokens)
        list += (list.empty() ? "{" : ", {") + name + "}";
    return list;
}

// As the program reads it: the name runs to the first "}", which ends the path or comes
// before a backslash; the name is compared ignoring the case of ASCII letters.
TokenForm ReadFolderToken(const std::string &path, std::string *why) {
    std::string ignored;
    if (!why)
        why = &ignored;
    if (path.empty() || path[0] != '{')
        return TokenForm::None;
    size_t close = path.find('}');
    if (close == std::string::npos) {
        *why = "begins with \"{\" but holds no \"}\": a folder token is a name in braces, such "
               "as {programfiles}";
        return TokenForm::Malformed;
    }
    std::string token = path.substr(0, close + 1);
    if (close + 1 < path.size() && path[close + 1] != '\\') {
        *why = "\"" + token +
               "\" is not followed by a backslash: a folder token is the whole first part of "
               "the folder, alone or before a backslash, such as \"{programfiles}\\Acme\"";
        return TokenForm::Malformed;
    }
    if (!IsFolderToken(path.substr(1, close - 1))) {
        *why = "\"" + token + "\" is not a folder token; the tokens are " + FolderTokenList();
        return TokenForm::Unknown;
    }
    return TokenForm::Known;
}

const ShippedLanguage *FindShippedLanguage(uint16_t id) {
    for (const ShippedLanguage &language : ShippedLanguages())
        if (language.id == id)
            return &language;
    return nullptr;
}

const char *ShippedText(const ShippedLanguage &language, size_t role) {
    return language.texts[0] ? language.texts[role] : roles[role].defaultText;
}

bool LanguageFromNumber(long long value, uint16_t *id, std::string *error) {
    // An LCID holds a sort order above the LANGID's 16 bits; the program matches languages.
    if (value < 0 || value > 0xFFFFF || (value & 0x3FF) == 0) {
        *error = std::to_string(value) +
                 " is not a Windows language identifier: give a LANGID such as 1031 (0x0407, "
                 "German) or an LCID, whose primary language is not 0";
        return false;
    }
    *id = uint16_t(value & 0xFFFF);
    return true;
}

bool ParseLanguage(const std::string &text, uint16_t *id, std::string *error) {
    std::string folded = Fold(text);
    std::replace(folded.begin(), folded.end(), '_', '-');
    for (const ShippedLanguage &language : ShippedLanguages()) {
        std::string tags = Fold(std::string(language.tag) + " " + language.otherTags);
        for (const std::string &tag : Split(tags, ' '))
            if (!tag.empty() && tag == folded) {
                *id = language.id;
                return true;
            }
    }
    bool decimal =
        !folded.empty() && folded.size() <= 7 &&
        std::all_of(folded.begin(), folded.end(), [](char c) { return c >= '0' && c <= '9'; });
    bool hex = folded.size() > 2 && folded.size() <= 7 && folded.compare(0, 2, "0x") == 0 &&
               std::all_of(folded.begin() + 2, folded.end(),
                           [](char c) { return std::isxdigit((unsigned char)c) != 0; });
    if (decimal || hex)
        return LanguageFromNumber(std::stoll(folded, nullptr, hex ? 16 : 10), id, error);
    std::string tags;
    for (const ShippedLanguage &language : ShippedLanguages())
        tags += (tags.empty() ? "" : ", ") + std::string(language.tag);
    std::string hint;
    if (folded == "pt")
        hint = " (\"pt\" alone is not enough: \"pt-BR\" is Brazil's, and Portugal's is 0x0816)";
    else if (folded == "zh")
        hint = " (\"zh\" alone is not enough: \"zh-CN\" is Simplified Chinese, \"zh-TW\" "
               "Traditional)";
    *error = "\"" + text + "\" is not a language vanish-pack knows by name" + hint +
             "; give one of " + tags +
             ", or the language's Windows identifier (LANGID) as a number, such as 1053 or "
             "\"0x041D\" for Swedish";
    return false;
}

std::string LanguageTag(uint16_t id) {
    if (const ShippedLanguage *language = FindShippedLanguage(id))
        return language->tag;
    char text[8];
    std::snprintf(text, sizeof text, "0x%04X", unsigned(id));
    return text;
}

size_t ManifestResult::Errors() const {
    return size_t(std::count_if(diagnostics.begin(), diagnostics.end(),
                                [](const Diagnostic &d) { return d.kind == Diagnostic::Error; }));
}

size_t ManifestResult::Warnings() const {
    return diagnostics.size() - Errors();
}

std::string FormatDiagnostic(const std::string &file, const Diagnostic &d) {
    std::string text = file.empty() ? "" : file + ": ";
    text += d.kind == Diagnostic::Error ? "error" : "warning W" + std::to_string(d.number);
    if (!d.path.empty())
        text += " at " + d.path;
    return text + ": " + d.message;
}

} // namespace pack
