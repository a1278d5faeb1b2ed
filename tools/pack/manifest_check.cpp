// Checking a block as the program will read it: the warnings W1 to W14 and the errors of
// folder tokens the program cannot read and of tables without their language, each named by its
// JSON path. May call the vocabulary (manifest.h); never the reader or the writer.
#include "manifest.h"

#include <algorithm>
#include <map>
#include <set>

namespace pack {

using namespace manifest;

namespace {

// Registry keys the program never deletes as a whole tree; the tool warns about the same
// rows. Compared ignoring case and empty components.
bool IsProtectedKey(uint32_t root, const std::string &key) {
    static const char *const exact[] = {"software",
                                        "software\\classes",
                                        "software\\microsoft",
                                        "software\\policies",
                                        "software\\wow6432node",
                                        "software\\microsoft\\windows",
                                        "software\\microsoft\\windows\\currentversion",
                                        "software\\microsoft\\windows nt",
                                        "software\\microsoft\\windows nt\\currentversion"};
    static const char *const oneBelow[] = {"software\\microsoft\\windows\\currentversion",
                                           "software\\microsoft\\windows nt\\currentversion"};
    static const char *const classKeys[] = {"clsid",  "interface", "typelib", "appid", "*",
                                            "folder", "directory", "exefile", ".exe"};
    // Runs of backslashes count as one separator, as the registry reads them; leading and
    // trailing ones name nothing.
    std::string k;
    for (const std::string &part : Split(Fold(key)))
        if (!part.empty())
            k += (k.empty() ? "" : "\\") + part;
    if (k.empty())
        return true; // the whole root
    for (const char *e : exact)
        if (k == e)
            return true;
    for (const char *o : oneBelow) {
        std::string prefix = std::string(o) + "\\";
        if (k.size() > prefix.size() && k.compare(0, prefix.size(), prefix) == 0 &&
            k.find('\\', prefix.size()) == std::string::npos)
            return true;
    }
    if (k == "system" || k.rfind("system\\", 0) == 0)
        return true;
    for (const char *c : classKeys) {
        if (root == HKCR && k == c)
            return true;
        if (k == std::string("software\\classes\\") + c)
            return true;
    }
    return false;
}

// The full path a file entry gives, with the shortest install folder ("C:\") for the
// relative forms: what cannot fit then never fits.
std::string ShortestFullPath(const FileEntry &e) {
    std::string path;
    if (!e.folder.empty() && e.folder[0] == '.')
        path = "C:\\" + (e.folder.size() > 2 && e.folder[1] == '\\' ? e.folder.substr(2) : "");
    else
        path = ShortestExpansion(e.folder);
    if (!e.name.empty()) {
        if (!path.empty() && path.back() != '\\')
            path += "\\";
        path += e.name;
    }
    return path;
}

// A text is formatted with one path only when its one conversion is "%s" ("%%" gives "%").
bool FormatsCleanly(const std::string &text) {
    int conversions = 0;
    bool other = false;
    for (size_t i = 0; i < text.size(); i++) {
        if (text[i] != '%')
            continue;
        if (i + 1 < text.size() && text[i + 1] == '%') {
            i++;
            continue;
        }
        if (i + 1 < text.size() && text[i + 1] == 's')
            conversions++;
        else
            other = true;
        i++;
    }
    return !other && conversions <= 1 && !(conversions == 0 && text.find('%') != std::string::npos);
}

// A file or folder as the system resolves its path, as far as the tool can tell two
// spellings of one apart: ASCII case, "/" for "\\", runs of separators, a trailing one, "."
// parts (so "." and ".\\" are one), ".." after a part, and the dots and spaces the system
// drops from the end of each part. A token stays as it is spelled, case aside.
std::string ResolvedPath(std::string path) {
    std::replace(path.begin(), path.end(), '/', '\\');
    std::string prefix = path.rfind("\\\\", 0) == 0 ? "\\\\" : "";
    std::vector<std::string> parts;
    for (std::string part : Split(path.substr(prefix.size()))) {
        if (part == "." && (!parts.empty() || !prefix.empty()))
            continue;
        if (part.empty())
            continue;
        if (part == ".." && parts.size() > 1) {
            parts.pop_back();
            continue;
        }
        size_t kept = part.find_last_not_of(". ");
        if (part != "." && part != ".." && kept != std::string::npos)
            part.erase(kept + 1);
        parts.push_back(part);
    }
    std::string out = prefix;
    for (const std::string &part : parts)
        out += (out.size() > prefix.size() ? "\\" : "") + part;
    return Fold(out);
}

// A registry key as the registry reads it: ASCII case, runs of backslashes as one, none at
// either end.
std::string ResolvedKey(const std::string &key) {
    std::string out;
    for (const std::string &part : Split(Fold(key)))
        if (!part.empty())
            out += (out.empty() ? "" : "\\") + part;
    return out;
}

void Warn(std::vector<Diagnostic> *out, int number, const std::string &path,
          const std::string &message) {
    Diagnostic d;
    d.kind = Diagnostic::Warning;
    d.number = number;
    d.path = path;
    d.message = message;
    out->push_back(d);
}

} // namespace

// Folders the program protects on every machine, recognised by their shape since the
// tool cannot know the target machine: drive roots, the Windows and Program Files trees'
// top folders, user profiles, and the shell folders by their usual last names.
bool IsProtectedFolderShape(const std::string &path, std::string *why) {
    std::string p = DropOneBackslash(path);
    if (ReadFolderToken(p) == TokenForm::Known && p.find('}') + 1 == p.size()) {
        *why = "a folder the program protects on every system";
        return true;
    }
    if (p.size() < 3 || (p.size() == 3 && p[1] == ':')) {
        *why = "a drive root";
        return true;
    }
    std::string f = Fold(p);
    std::vector<std::string> parts = Split(f);
    bool drive = parts[0].size() == 2 && parts[0][1] == ':';
    if (!drive)
        return false;
    static const char *const fromRoot[] = {"windows",
                                           "winnt",
                                           "windows\\system",
                                           "windows\\system32",
                                           "windows\\syswow64",
                                           "winnt\\system32",
                                           "windows\\fonts",
                                           "winnt\\fonts",
                                           "program files",
                                           "program files (x86)",
                                           "program files\\common files",
                                           "program files (x86)\\common files",
                                           "programdata",
                                           "users",
                                           "documents and settings"};
    std::string rest = f.substr(3);
    for (const char *r : fromRoot)
        if (rest == r) {
            *why = "a system folder";
            return true;
        }
    if (parts.size() == 3 && (parts[1] == "users" || parts[1] == "documents and settings")) {
        *why = "a user profile";
        return true;
    }
    static const char *const shellEnds[] = {"desktop",
                                            "start menu",
                                            "start menu\\programs",
                                            "start menu\\programs\\startup",
                                            "application data",
                                            "appdata\\roaming",
                                            "appdata\\local",
                                            "microsoft\\internet explorer\\quick launch"};
    for (const char *e : shellEnds) {
        std::string end = std::string("\\") + e;
        if (f.size() > end.size() && f.compare(f.size() - end.size(), end.size(), end) == 0) {
            *why = "a shell folder";
            return true;
        }
    }
    return false;
}

void CheckBlock(const Block &block, int codePage, std::vector<Diagnostic> *out,
                const std::string &uninstaller) {
    // W1: paths longer than the 259 characters the system takes, counted as it counts them:
    // UTF-16 units in a UTF-8 block. Entries whose texts, as stored, overflow the buffer the
    // program reads them into are dropped, which only UTF-8 text can reach first.
    const bool utf8 = (block.optionFlags & OPTION_UTF8) != 0;
    auto length = [&](const std::string &text) {
        return std::to_string(utf8 ? Utf16Length(text) : text.size()) +
               (utf8 ? " UTF-16 units" : " characters");
    };
    auto tooLong = [&](const std::string &text) {
        return (utf8 ? Utf16Length(text) : text.size()) > 259;
    };
    auto overflows = [&](size_t bytes) {
        return "its texts are " + std::to_string(bytes) + " bytes with their terminators, more " +
               "than the " + std::to_string(ENTRY_TEXT_BYTES) +
               " the program reads an entry into; it drops this entry";
    };
    for (size_t i = 0; i < block.files.size(); i++) {
        const FileEntry &e = block.files[i];
        std::string full = ShortestFullPath(e);
        size_t stored = e.folder.size() + e.name.size() + 2;
        if (tooLong(full))
            Warn(out, 1, "files[" + std::to_string(i) + "]",
                 "the full path is at least " + length(full) +
                     ", more than the 259 the program can build; it skips this entry");
        else if (stored > ENTRY_TEXT_BYTES)
            Warn(out, 1, "files[" + std::to_string(i) + "]", overflows(stored));
    }
    for (size_t i = 0; i < block.folders.size(); i++) {
        const FolderEntry &e = block.folders[i];
        std::string folder = ShortestExpansion(e.folder), withFile = folder + "\\" + e.file;
        size_t stored = e.folder.size() + e.file.size() + 2;
        if (tooLong(folder) || (!e.file.empty() && tooLong(withFile)))
            Warn(out, 1, "folders[" + std::to_string(i) + "]",
                 "the folder" + std::string(e.file.empty() ? "" : " with its file") + " is " +
                     length(e.file.empty() ? folder : withFile) +
                     ", more than the 259 the program can build");
        else if (stored > ENTRY_TEXT_BYTES)
            Warn(out, 1, "folders[" + std::to_string(i) + "]", overflows(stored));
    }
    for (size_t i = 0; i < block.registry.size(); i++)
        if (block.registry[i].path.size() + 1 > ENTRY_TEXT_BYTES)
            Warn(out, 1, "registry[" + std::to_string(i) + "]",
                 "the key path is " + std::to_string(block.registry[i].path.size()) +
                     " bytes, more than the " + std::to_string(ENTRY_TEXT_BYTES - 1) +
                     " the program reads; it drops this entry");
    for (size_t i = 0; i < block.emptyKeys.size(); i++)
        if (block.emptyKeys[i].path.size() + 1 > ENTRY_TEXT_BYTES)
            Warn(out, 1, "emptyKeys[" + std::to_string(i) + "]",
                 "the key path is " + std::to_string(block.emptyKeys[i].path.size()) +
                     " bytes, more than the " + std::to_string(ENTRY_TEXT_BYTES - 1) +
                     " the program reads; it drops this entry");
    if (tooLong("C:\\" + block.program))
        Warn(out, 1, "options.program",
             "the program's path cannot fit 259 characters with the install folder");

    // W2 to W4 and W13: texts, in every table. A text's path names its language when the
    // block has several, as a manifest with texts by language does.
    std::vector<const std::vector<std::string> *> tables = {&block.texts};
    for (const auto &table : block.furtherTexts)
        tables.push_back(&table);
    auto textPath = [&](size_t table, size_t n) {
        if (tables.size() == 1 || table >= block.languages.size())
            return std::string("texts.") + roles[n].name;
        return "texts." + LanguageTag(block.languages[table]) + "." + roles[n].name;
    };
    if (tables.size() > 1 && block.languages.size() != tables.size()) {
        Diagnostic d;
        d.path = "texts";
        d.message = std::to_string(tables.size()) + " tables of texts but " +
                    std::to_string(block.languages.size()) +
                    " languages; give one language per table, the default's first";
        out->push_back(d);
    }
    for (size_t i = 0; i < block.languages.size(); i++)
        for (size_t j = 0; j < i; j++)
            if (block.languages[i] == block.languages[j]) {
                Diagnostic d;
                d.path = "texts";
                d.message = "tables " + std::to_string(j) + " and " + std::to_string(i) +
                            " have the same language, " + LanguageTag(block.languages[i]);
                out->push_back(d);
                break;
            }
    for (size_t t = 0; t < tables.size(); t++) {
        const std::vector<std::string> &texts = *tables[t];
        for (size_t n = 0; n < texts.size() && n < roles.size(); n++) {
            std::string path = textPath(t, n);
            const std::string &text = texts[n];
            if (text.size() > 1023)
                Warn(out, 2, path,
                     std::to_string(text.size()) +
                         " bytes; the program shows at most 1,023 and cuts the rest");
            if (roles[n].formatted && !FormatsCleanly(text))
                Warn(out, 3, path,
                     "holds a \"%\" other than one \"%s\" or \"%%\"; the program then shows the "
                     "text unformatted, so the path never appears in it (write \"%%\" for a "
                     "percent sign, next to one \"%s\")");
            if (t == 0 && n <= 2 && text.empty())
                Warn(out, 4, path,
                     "empty; the box shows no " + std::string(n == 0 ? "caption" : "text"));
        }
        // W13: a text the default table has that this one lacks or leaves empty.
        for (size_t n = 0; t > 0 && n < block.texts.size() && n < roles.size(); n++)
            if (!block.texts[n].empty() && (n >= texts.size() || texts[n].empty()))
                Warn(out, 13, textPath(t, n),
                     "language " +
                         (t < block.languages.size() ? LanguageTag(block.languages[t])
                                                     : "of table " + std::to_string(t)) +
                         (n >= texts.size() ? " lacks the text " : " leaves empty the text ") +
                         roles[n].name + ", which the default language has");
    }

    // Folder tokens: with the flag the program reads a folder that begins with "{" as a
    // token, and skips the entry when it cannot resolve it.
    const bool tokens = (block.optionFlags & OPTION_FOLDER_TOKENS) != 0;
    auto startsWithToken = [&](const std::string &folder) {
        return tokens && !folder.empty() && folder[0] == '{';
    };
    auto checkToken = [&](const std::string &path, const std::string &folder) {
        std::string why;
        TokenForm form = ReadFolderToken(folder, &why);
        if (tokens && (form == TokenForm::Malformed || form == TokenForm::Unknown)) {
            Diagnostic d;
            d.path = path;
            d.message = why + "; the program skips this entry on every system";
            out->push_back(d);
        }
    };
    for (size_t i = 0; i < block.files.size(); i++)
        checkToken("files[" + std::to_string(i) + "].folder", block.files[i].folder);
    for (size_t i = 0; i < block.folders.size(); i++)
        checkToken("folders[" + std::to_string(i) + "].folder", block.folders[i].folder);

    // W5: relative folders.
    for (size_t i = 0; i < block.files.size(); i++) {
        const std::string &folder = block.files[i].folder;
        std::string path = "files[" + std::to_string(i) + "].folder";
        if (IsAbsolute(folder) || folder == "." || folder.rfind(".\\", 0) == 0 ||
            startsWithToken(folder))
            continue;
        if (!folder.empty() && folder[0] == '.')
            Warn(out, 5, path,
                 "\"" + folder +
                     "\" starts with \".\" but not \".\\\"; the program reads it as "
                     "the install folder itself; write \".\\sub\" for a folder below the install "
                     "folder");
        else
            Warn(out, 5, path,
                 "\"" + folder +
                     "\" is relative without \".\\\"; the program resolves it "
                     "against its current folder, not the install folder; write \".\\" +
                     folder + "\" or a full path");
    }
    for (size_t i = 0; i < block.folders.size(); i++)
        if (!IsAbsolute(block.folders[i].folder) && !startsWithToken(block.folders[i].folder))
            Warn(out, 5, "folders[" + std::to_string(i) + "].folder",
                 "\"" + block.folders[i].folder +
                     "\" is relative; folder entries are used as stored, "
                     "so it resolves against the current folder; give a full path, or a file entry "
                     "with an "
                     "empty name and \".\\sub\" for a folder below the install folder");

    // W6: protected registry keys.
    for (size_t i = 0; i < block.registry.size(); i++) {
        const RegistryEntry &e = block.registry[i];
        size_t last = e.path.rfind('\\');
        bool value = last != std::string::npos && last > 0 && e.path[last - 1] == '\\';
        if (!value && IsProtectedKey(e.root, e.path))
            Warn(out, 6, "registry[" + std::to_string(i) + "].key",
                 e.path.empty() ? "names a whole root; the program refuses to delete it"
                                : "\"" + e.path +
                                      "\" is a key the program protects and refuses to delete; "
                                      "name the application's own key below it");
    }

    // W6 for keys removed only when empty: the program stops at a protected key, so a walk
    // that reaches one is what it should be; an entry that starts at one does nothing.
    for (size_t i = 0; i < block.emptyKeys.size(); i++) {
        const EmptyKeyEntry &e = block.emptyKeys[i];
        if (IsProtectedKey(e.root, e.path))
            Warn(out, 6, "emptyKeys[" + std::to_string(i) + "].key",
                 (ResolvedKey(e.path).empty()
                      ? std::string("names a whole root")
                      : "\"" + e.path + "\" is a key the program protects") +
                     ", which it never removes, empty or not, so this entry does nothing; name "
                     "the application's own key, with levels for the parents it may take");
    }

    // W7: folder walks that reach a drive root or a protected folder.
    auto fullFolder = [&](const std::string &folder) {
        return IsAbsolute(folder) ||
               (tokens && ReadFolderToken(folder) == TokenForm::Known); // a token is full
    };
    for (size_t i = 0; i < block.folders.size(); i++) {
        const FolderEntry &e = block.folders[i];
        if (e.folder.empty() || !fullFolder(e.folder))
            continue;
        std::string folder = e.folder, why;
        for (unsigned step = 0; step <= e.levels; step++) {
            if (IsProtectedFolderShape(folder, &why)) {
                Warn(out, 7, "folders[" + std::to_string(i) + "]",
                     "the walk of " + std::to_string(e.levels) + " levels reaches \"" + folder +
                         "\", " + why +
                         "; lower levels so it stops at the application's own folders");
                break;
            }
            size_t bar = folder.rfind('\\');
            if (bar == std::string::npos)
                break;
            folder.erase(bar);
        }
    }
    for (size_t i = 0; i < block.files.size(); i++) {
        const FileEntry &e = block.files[i];
        std::string why;
        if (e.name.empty() && fullFolder(e.folder) && IsProtectedFolderShape(e.folder, &why))
            Warn(out, 7, "files[" + std::to_string(i) + "]",
                 "names the folder \"" + e.folder + "\", " + why + ", for removal");
    }

    // W8: duplicates, and one file under two spellings. A shared file listed twice has its
    // count lowered twice in one run.
    std::map<std::string, size_t> files, folders;
    for (size_t i = 0; i < block.files.size(); i++) {
        const FileEntry &e = block.files[i];
        auto [first, added] = files.insert({ResolvedPath(e.folder + "\\" + e.name), i});
        if (added)
            continue;
        const FileEntry &earlier = block.files[first->second];
        bool spelled = Fold(earlier.folder) != Fold(e.folder) || Fold(earlier.name) != Fold(e.name);
        bool shared = ((e.flags | earlier.flags) & FILE_SHARED) != 0;
        Warn(out, 8, "files[" + std::to_string(i) + "]",
             std::string(e.name.empty() ? "the same folder" : "the same file") + " as files[" +
                 std::to_string(first->second) + "]" +
                 (spelled ? " under another spelling (\"" + earlier.folder + "\" and \"" +
                                e.folder + "\")"
                          : "") +
                 (shared ? "; a shared file listed twice has its count lowered twice in one run, "
                           "so it may go while another program still counts on it"
                         : ""));
    }
    for (size_t i = 0; i < block.folders.size(); i++) {
        const FolderEntry &e = block.folders[i];
        auto [first, added] =
            folders.insert({ResolvedPath(e.folder) + "\n" + ResolvedPath(e.file), i});
        if (!added)
            Warn(out, 8, "folders[" + std::to_string(i) + "]",
                 "the same folder and file as folders[" + std::to_string(first->second) + "]");
    }
    std::set<std::string> seen;
    for (size_t i = 0; i < block.registry.size(); i++)
        if (!seen.insert(std::to_string(block.registry[i].root) + "\n" +
                         Fold(block.registry[i].path))
                 .second)
            Warn(out, 8, "registry[" + std::to_string(i) + "]",
                 "the same root and path as an earlier registry entry");
    seen.clear();
    for (size_t i = 0; i < block.emptyKeys.size(); i++)
        if (!seen.insert(std::to_string(block.emptyKeys[i].root) + "\n" +
                         ResolvedKey(block.emptyKeys[i].path))
                 .second)
            Warn(out, 8, "emptyKeys[" + std::to_string(i) + "]",
                 "the same root and key as an earlier entry removed only when empty");

    // W9: the program runs relative to the install folder.
    const std::string &program = block.program;
    if (!program.empty() && (program[0] == '\\' || program.find(':') != std::string::npos))
        Warn(out, 9, "options.program",
             "\"" + program +
                 "\" is not relative; the program runs the install folder followed by this "
                 "path, so give it relative to the install folder, such as \"cleanup.exe\"");

    // W11: the uninstaller's own file. The program cannot delete itself while it runs; the
    // self-removal takes the file, except after a bare run, where the entry stays.
    for (size_t i = 0; i < block.files.size(); i++)
        if (block.files[i].folder == "." && Fold(block.files[i].name) == Fold(uninstaller))
            Warn(out, 11, "files[" + std::to_string(i) + "]",
                 "\"" + block.files[i].name +
                     "\" is the uninstaller itself, which cannot delete itself while it runs: "
                     "the self-removal takes it, but a bare run (/X) leaves it and /S /X ends "
                     "with 1; leave it out");

    // W12: a token where the program reads none, which it takes as part of a name.
    auto misplaced = [&](const std::string &path, const std::string &text, size_t from,
                         const std::string &what) {
        size_t at = FindTokenText(text, from);
        if (at != std::string::npos)
            Warn(out, 12, path,
                 "\"" + text.substr(at, text.find('}', at) - at + 1) + "\" " + what +
                     "; the program takes it as part of a name");
    };
    // A folder's leading token is read as one (or refused above), never taken as a name.
    auto afterToken = [&](const std::string &folder) {
        return startsWithToken(folder) ? folder.find('}') : 0;
    };
    const std::string notFirst =
        "is a folder token only as the whole first part of the folder, in a block that allows "
        "tokens";
    for (size_t i = 0; i < block.files.size(); i++) {
        const FileEntry &e = block.files[i];
        std::string path = "files[" + std::to_string(i) + "]";
        misplaced(path + ".folder", e.folder, afterToken(e.folder), notFirst);
        misplaced(path + ".name", e.name, 0, "stands in a file's name; a token begins the folder");
    }
    for (size_t i = 0; i < block.folders.size(); i++) {
        const FolderEntry &e = block.folders[i];
        std::string path = "folders[" + std::to_string(i) + "]";
        misplaced(path + ".folder", e.folder, afterToken(e.folder), notFirst);
        misplaced(path + ".file", e.file, 0, "stands in a file's name; a token begins the folder");
    }
    for (size_t i = 0; i < block.registry.size(); i++) {
        std::string path = "registry[" + std::to_string(i) + "]", key, value;
        const std::string what = "is in a registry entry, which takes no folder tokens";
        if (SplitValue(block.registry[i].path, &key, &value)) {
            misplaced(path + ".key", key, 0, what);
            misplaced(path + ".value", value, 0, what);
        } else {
            misplaced(path + ".key", block.registry[i].path, 0, what);
        }
    }
    for (size_t i = 0; i < block.emptyKeys.size(); i++)
        misplaced("emptyKeys[" + std::to_string(i) + "].key", block.emptyKeys[i].path, 0,
                  "is in a registry entry, which takes no folder tokens");
    misplaced("options.program", block.program, 0,
              "is in the program's path, which is relative to the install folder and takes no "
              "folder tokens");
    misplaced("options.document", block.document, 0,
              "is in the document's name, which takes no folder tokens");

    // W10: outside ASCII, the bytes of a legacy block mean these characters only where the
    // system's ANSI code page is the one they were written in.
    if (utf8)
        return;
    auto legacy = [&](const std::string &path, const std::string &text) {
        if (std::any_of(text.begin(), text.end(), [](char c) { return (unsigned char)c >= 0x80; }))
            Warn(out, 10, path,
                 "not ASCII, written in code page " + std::to_string(codePage) +
                     ": it reads right only where the system's ANSI code page is " +
                     std::to_string(codePage) +
                     " (without --codepage the block is UTF-8 and reads right everywhere)");
    };
    for (size_t t = 0; t < tables.size(); t++)
        for (size_t n = 0; n < tables[t]->size() && n < roles.size(); n++)
            legacy(textPath(t, n), (*tables[t])[n]);
    for (size_t i = 0; i < block.files.size(); i++) {
        std::string path = "files[" + std::to_string(i) + "]";
        legacy(path + ".folder", block.files[i].folder);
        legacy(path + ".name", block.files[i].name);
    }
    for (size_t i = 0; i < block.folders.size(); i++) {
        std::string path = "folders[" + std::to_string(i) + "]";
        legacy(path + ".folder", block.folders[i].folder);
        legacy(path + ".file", block.folders[i].file);
    }
    for (size_t i = 0; i < block.registry.size(); i++) {
        std::string path = "registry[" + std::to_string(i) + "]", key, value;
        if (SplitValue(block.registry[i].path, &key, &value)) {
            legacy(path + ".key", key);
            legacy(path + ".value", value);
        } else {
            legacy(path + ".key", block.registry[i].path);
        }
    }
    for (size_t i = 0; i < block.emptyKeys.size(); i++)
        legacy("emptyKeys[" + std::to_string(i) + "].key", block.emptyKeys[i].path);
    legacy("options.program", block.program);
    legacy("options.document", block.document);
}

// W14: a per-user folder token in an uninstaller that asks for administrator rights. A
// deployment tool runs such an uninstaller as LocalSystem, which has no user's folders: the
// program then skips those entries ("per-user folder, not this account's").
void CheckPerUserTokens(const Block &block, ExecutionLevel level, std::vector<Diagnostic> *out) {
    static const char *const perUser[] = {"programs", "startmenu",    "desktop",  "startup",
                                          "appdata",  "localappdata", "documents"};
    if (level != ExecutionLevel::Admin)
        return;
    auto check = [&](const std::string &path, const std::string &folder) {
        if (ReadFolderToken(folder) != TokenForm::Known)
            return;
        std::string name = Fold(folder.substr(1, folder.find('}') - 1));
        for (const char *token : perUser)
            if (name == token)
                Warn(out, 14, path,
                     "\"{" + name +
                         "}\" is one user's folder, in an uninstaller that asks for "
                         "administrator rights: run as LocalSystem (as deployment tools run it), "
                         "it skips this entry; use an all-users folder, or executionLevel "
                         "\"user\" for an application installed for one user");
    };
    for (size_t i = 0; i < block.files.size(); i++)
        check("files[" + std::to_string(i) + "].folder", block.files[i].folder);
    for (size_t i = 0; i < block.folders.size(); i++)
        check("folders[" + std::to_string(i) + "].folder", block.folders[i].folder);
}

} // namespace pack
