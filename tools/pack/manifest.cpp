// The manifest's vocabulary, shared by reading, checking and writing: the message roles and
// their English defaults, the folder tokens, the names of flags and roots, the path helpers,
// and how a diagnostic is written. Calls nothing of the other manifest files.
#include "manifest.h"

#include <algorithm>
#include <cctype>

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

std::vector<std::string> Split(const std::string &path) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        size_t bar = path.find('\\', start);
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
