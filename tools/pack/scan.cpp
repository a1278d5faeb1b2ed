// Scanning a staged install tree into file entries, each name as well-formed UTF-8, with the
// flags that what a file is implies.
#include "builder.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace fs = std::filesystem;

namespace pack {

namespace {

// Names compared as the system compares them, ignoring the case of ASCII letters.
bool SameName(std::string a, std::string b) {
    auto fold = [](std::string &text) {
        for (char &c : text)
            if (c >= 'A' && c <= 'Z')
                c = char(c - 'A' + 'a');
    };
    fold(a);
    fold(b);
    return a == b;
}

// Bytes for a message: well-formed UTF-8 as it is, every other byte as \xNN.
std::string Escaped(const std::string &bytes) {
    std::string out, one, error;
    for (size_t at = 0; at < bytes.size();) {
        size_t size = 1;
        while (size <= 4 && at + size <= bytes.size() &&
               !DecodeText(bytes.substr(at, size), CODEPAGE_UTF8, &one, &error))
            size++;
        if (size <= 4 && at + size <= bytes.size()) {
            out += one;
            at += size;
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", (unsigned char)bytes[at]);
            out += hex;
            at++;
        }
    }
    return out;
}

// A path of the tree for a message, as the system names it.
std::string Shown(const fs::path &path) {
#ifdef _WIN32
    return path.u8string(); // made of names that were read as UTF-16 already
#else
    return Escaped(path.native());
#endif
}

struct Scan {
    const fs::path &root;
    const ScanOptions &options;
    std::vector<FileEntry> *entries;
    std::vector<std::string> *notes;
    std::string *error;
};

// A name in the tree as UTF-8: as it is when it is UTF-8, else read in the code page the
// options give, else refused by name (the path as the tree holds it, with each byte that is
// not UTF-8 shown as \xNN). The system hands Windows names over as UTF-16, which only an
// unpaired surrogate keeps from being UTF-8.
bool NameOf(Scan &scan, const fs::path &relative, const fs::path &entry, std::string *name) {
#ifdef _WIN32
    std::u16string units;
    for (wchar_t unit : entry.filename().wstring())
        units.push_back(char16_t(unit));
    std::string why, shown, ignored;
    if (Utf16ToUtf8(units, name, &why))
        return true;
    for (size_t i = 0; i < units.size(); i++) {
        std::u16string one(1, units[i]);
        if (units[i] >= 0xD800 && units[i] <= 0xDBFF && i + 1 < units.size() &&
            units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF)
            one += units[++i];
        std::string part;
        if (Utf16ToUtf8(one, &part, &ignored)) {
            shown += part;
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\u%04X", unsigned(units[i]));
            shown += hex;
        }
    }
    *scan.error = Shown(scan.root) + "\\" + (relative.empty() ? "" : relative.u8string() + "\\") +
                  shown + ": a name with " + why + ", which no manifest can hold; rename it";
    return false;
#else
    const std::string bytes = entry.filename().native();
    std::string why;
    if (DecodeText(bytes, CODEPAGE_UTF8, name, &why))
        return true;
    const std::string shown = Shown(scan.root / relative / entry.filename());
    if (!scan.options.nameCodePage) {
        *scan.error = shown + ": the name is not UTF-8 (" + why +
                      "), and a manifest holds UTF-8 only; rename it, or give --name-codepage "
                      "with the code page such names are written in";
        return false;
    }
    if (!DecodeText(bytes, scan.options.nameCodePage, name, &why)) {
        *scan.error = shown + ": the name is neither UTF-8 nor code page " +
                      std::to_string(scan.options.nameCodePage) + " (" + why + ")";
        return false;
    }
    scan.notes->push_back(shown + ": not UTF-8, read in code page " +
                          std::to_string(scan.options.nameCodePage) + " as \"" + *name + "\"");
    return true;
#endif
}

bool EndsWith(const std::string &name, const char *ending) {
    std::string end = ending;
    return name.size() > end.size() && SameName(name.substr(name.size() - end.size()), end);
}

// The token a folder begins with, in small letters; empty when none.
std::string TokenOf(const std::string &folder) {
    if (ReadFolderToken(folder) != TokenForm::Known)
        return "";
    std::string token = folder.substr(0, folder.find('}') + 1);
    for (char &c : token)
        c = char(std::tolower((unsigned char)c));
    return token;
}

// The flags a file's kind implies, each with a line for the summary. Only a file that begins
// as a program file does ("MZ") is read whole.
uint8_t InferFlags(Scan &scan, const fs::path &file, const std::string &folder,
                   const std::string &name) {
    if (!scan.options.inferFlags)
        return 0;
    const std::string shown = folder + (folder.back() == '\\' ? "" : "\\") + name;
    for (const char *font : {".ttf", ".otf", ".fon", ".ttc"})
        if (EndsWith(name, font)) {
            scan.notes->push_back(shown + ": font (a " + font + " file)");
            return FILE_FONT;
        }
    std::ifstream in(file, std::ios::binary);
    char head[2] = {};
    if (!in.read(head, 2) || head[0] != 'M' || head[1] != 'Z')
        return 0;
    in.seekg(0);
    Bytes image((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    PeFile pe;
    std::vector<std::string> exports;
    std::string ignored;
    if (!ReadPe(image, &pe, &ignored))
        return 0; // not a 32-bit program file, which the 32-bit program cannot load anyway
    uint8_t flags = 0;
    if (ReadPeExports(image, pe, &exports, &ignored) &&
        std::find(exports.begin(), exports.end(), "DllUnregisterServer") != exports.end()) {
        scan.notes->push_back(shown + ": comServer (it exports DllUnregisterServer)");
        flags |= FILE_COMSERVER;
    }
    const std::string token = TokenOf(folder);
    if ((pe.characteristics & 0x2000) && (token == "{system}" || token == "{commonfiles}")) {
        if (scan.options.confirmShared) {
            scan.notes->push_back(shown + ": shared (a DLL in " + token + ", as --shared says)");
            flags |= FILE_SHARED;
        } else {
            scan.notes->push_back(shown + ": not marked shared, though a DLL in " + token +
                                  ", where other programs may count on it; scan with --shared to "
                                  "mark such DLLs");
        }
    }
    return flags;
}

// One folder of the tree: its own entry (an empty name), its files, then its subfolders.
// folder is the entries' folder for it; relative its path below the root, as the system
// names it.
bool ScanFolder(Scan &scan, const fs::path &relative, const std::string &folder) {
    struct Member {
        std::string name; // UTF-8
        fs::path path;    // below the root, as the system names it
    };
    std::vector<Member> files, folders;
    std::error_code code;
    for (fs::directory_iterator it(scan.root / relative, code), end; !code && it != end;
         it.increment(code)) {
        Member member;
        if (!NameOf(scan, relative, it->path(), &member.name))
            return false;
        member.path = relative / it->path().filename();
        if (member.name.find('\\') != std::string::npos) {
            *scan.error = Shown(scan.root / member.path) +
                          ": a name with a backslash cannot be written as a Windows path";
            return false;
        }
        if (it->is_symlink(code))
            continue; // a link is not part of what the installer places
        if (it->is_directory(code))
            folders.push_back(member);
        else if (!relative.empty() || !SameName(member.name, scan.options.uninstaller))
            files.push_back(member);
    }
    if (code) {
        *scan.error =
            "cannot read the folder " + Shown(scan.root / relative) + ": " + code.message();
        return false;
    }
    auto byName = [](const Member &a, const Member &b) { return a.name < b.name; };
    std::sort(files.begin(), files.end(), byName);
    std::sort(folders.begin(), folders.end(), byName);
    // The top folder gets an entry of its own unless it is the install folder, which the
    // self-removal takes, or a folder the program never removes.
    std::string why;
    if (relative.empty() && folder != "." && IsProtectedFolderShape(folder, &why))
        scan.notes->push_back(folder + ": no entry of its own: " + why +
                              ", which the program never removes");
    else if (!relative.empty() || folder != ".")
        scan.entries->push_back({folder, "", 0});
    for (const Member &f : files)
        scan.entries->push_back(
            {folder, f.name, InferFlags(scan, scan.root / f.path, folder, f.name)});
    for (const Member &f : folders)
        if (!ScanFolder(scan, f.path, folder + (folder.back() == '\\' ? "" : "\\") + f.name))
            return false;
    return true;
}

} // namespace

bool ScanTree(const std::string &root, const ScanOptions &options, std::vector<FileEntry> *entries,
              std::vector<std::string> *notes, std::string *error) {
    // The folder as the program reads a file entry's: ".", ".\sub", a full path or a token.
    std::string top = options.under;
    std::replace(top.begin(), top.end(), '/', '\\');
    while (top.size() > 1 && top.back() == '\\' && !(top.size() == 3 && top[1] == ':'))
        top.pop_back();
    std::string why, utf8;
    if (!DecodeText(top, CODEPAGE_UTF8, &utf8, &why)) {
        *error = "--as: \"" + Escaped(top) + "\" is not UTF-8 (" + why + ")";
        return false;
    }
    TokenForm token = ReadFolderToken(top, &why);
    bool drive =
        top.size() >= 3 && std::isalpha((unsigned char)top[0]) && top[1] == ':' && top[2] == '\\';
    bool relative = top == "." || (top.rfind(".\\", 0) == 0 && top.size() > 2);
    if (token == TokenForm::Malformed || token == TokenForm::Unknown) {
        *error = "--as: " + why;
        return false;
    }
    if (token == TokenForm::None && !drive && !relative && top.rfind("\\\\", 0) != 0) {
        *error = "--as: \"" + options.under +
                 "\" is not a folder the program can name: give \".\\sub\" below the install "
                 "folder, a full path such as \"C:\\Acme\", or one that begins with a folder "
                 "token such as \"{programfiles}\\Acme\"";
        return false;
    }
    if (options.nameCodePage &&
        (options.nameCodePage == CODEPAGE_UTF8 || !IsSupportedCodePage(options.nameCodePage))) {
        *error = "--name-codepage: " + std::to_string(options.nameCodePage) +
                 " is not a single-byte code page vanish-pack reads; give one of " +
                 SupportedCodePages();
        return false;
    }
    std::error_code code;
    fs::path base = fs::u8path(root);
    if (!fs::is_directory(base, code)) {
        *error = root + " is not a folder; give the folder that holds the staged install";
        return false;
    }
    entries->clear();
    Scan scan{base, options, entries, notes, error};
    return ScanFolder(scan, fs::path(), top);
}

bool ScanTree(const std::string &root, std::vector<FileEntry> *entries, std::string *error,
              const std::string &uninstaller, const std::string &under) {
    ScanOptions options;
    options.uninstaller = uninstaller;
    options.under = under;
    std::vector<std::string> notes;
    return ScanTree(root, options, entries, &notes, error);
}

} // namespace pack
