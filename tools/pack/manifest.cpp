// The JSON manifest: parsing with every error named by its JSON path, the checks that warn,
// and the way back from a block to a manifest.
#include "builder.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <set>

namespace pack {

using nlohmann::json;
using nlohmann::ordered_json;

namespace {

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

struct Name {
    const char *name;
    uint32_t value;
};
const Name fileFlags[] = {{"shared", FILE_SHARED},
                          {"font", FILE_FONT},
                          {"comServer", FILE_COMSERVER},
                          {"checkInUse", FILE_CHECKINUSE}};
const Name rootNames[] = {{"HKCR", 0x80000000u},
                          {"HKCU", 0x80000001u},
                          {"HKLM", 0x80000002u},
                          {"HKU", 0x80000003u},
                          {"HKCC", 0x80000005u}};
constexpr uint32_t HKCR = 0x80000000u;

template <size_t N> std::string List(const Name (&names)[N]) {
    std::string list;
    for (const auto &n : names)
        list += (list.empty() ? "" : ", ") + std::string(n.name);
    return list;
}

std::string List(const std::vector<std::string> &names) {
    std::string list;
    for (const auto &n : names)
        list += (list.empty() ? "" : ", ") + n;
    return list;
}

std::string TypeName(const json &value) {
    if (value.is_number_integer() || value.is_number_unsigned())
        return "an integer";
    if (value.is_number())
        return "a number";
    if (value.is_boolean())
        return "true or false";
    if (value.is_null())
        return "null";
    if (value.is_string())
        return "a string";
    if (value.is_array())
        return "a list";
    return "an object";
}

// ASCII case folding only, as the program compares paths.
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

// Where a known token, in braces and in any case, stands in text at or after from; npos
// when nowhere.
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

// A path that begins with a token, with its shortest possible folder ("C:") in its place:
// what cannot fit then never fits.
std::string ShortestExpansion(const std::string &path) {
    if (ReadFolderToken(path) != TokenForm::Known)
        return path;
    return "C:" + path.substr(path.find('}') + 1);
}

// Whether a file or folder entry's folder begins as a token does: the block then needs
// the flag that lets the program read tokens.
bool UsesFolderTokens(const Block &block) {
    auto starts = [](const std::string &folder) { return !folder.empty() && folder[0] == '{'; };
    return std::any_of(block.files.begin(), block.files.end(),
                       [&](const FileEntry &e) { return starts(e.folder); }) ||
           std::any_of(block.folders.begin(), block.folders.end(),
                       [&](const FolderEntry &e) { return starts(e.folder); });
}

// A registry path "Key\\Value" names a value: two backslashes before its last part.
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

// Folders the program protects on every machine, recognised by their shape since the
// tool cannot know the target machine: drive roots, the Windows and Program Files trees'
// top folders, user profiles, and the shell folders by their usual last names.
bool IsProtectedFolderPattern(const std::string &path, std::string *why) {
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

// Tracks object keys while the parser runs, to find a key given twice (the DOM keeps only
// the last).
struct DuplicateFinder {
    struct Frame {
        bool array = false;
        long index = -1;
        std::string key;
        std::set<std::string> keys;
    };
    std::vector<Frame> frames;
    std::vector<std::pair<std::string, std::string>> duplicates; // path, key

    std::string Path(size_t depth) const {
        std::string path;
        for (size_t i = 0; i < depth && i < frames.size(); i++) {
            if (frames[i].array)
                path += "[" + std::to_string(frames[i].index) + "]";
            else
                path += (path.empty() ? "" : ".") + frames[i].key;
        }
        return path;
    }
    void Child() {
        if (!frames.empty() && frames.back().array)
            frames.back().index++;
    }
    bool operator()(int, json::parse_event_t event, json &parsed) {
        switch (event) {
        case json::parse_event_t::object_start:
        case json::parse_event_t::array_start:
            Child();
            frames.push_back(Frame());
            frames.back().array = event == json::parse_event_t::array_start;
            break;
        case json::parse_event_t::object_end:
        case json::parse_event_t::array_end:
            if (!frames.empty())
                frames.pop_back();
            break;
        case json::parse_event_t::key: {
            Frame &f = frames.back();
            f.key = parsed.get<std::string>();
            if (!f.keys.insert(f.key).second)
                duplicates.push_back({Path(frames.size() - 1), f.key});
            break;
        }
        case json::parse_event_t::value:
            Child();
            break;
        }
        return true;
    }
};

class Reader {
  public:
    Reader(int codePage, std::vector<Diagnostic> *out) : page_(codePage), out_(out) {}

    void Error(const std::string &path, const std::string &message) {
        Diagnostic d;
        d.kind = Diagnostic::Error;
        d.path = path;
        d.message = message;
        out_->push_back(d);
    }

    // An object with only the allowed keys.
    bool Object(const json &value, const std::string &path,
                const std::vector<std::string> &allowed) {
        if (!value.is_object()) {
            Error(path, "expected an object, found " + TypeName(value));
            return false;
        }
        bool ok = true;
        for (auto it = value.begin(); it != value.end(); ++it)
            if (std::find(allowed.begin(), allowed.end(), it.key()) == allowed.end()) {
                Error(Join(path, it.key()), "unknown key; allowed here: " + List(allowed));
                ok = false;
            }
        return ok;
    }

    static std::string Join(const std::string &path, const std::string &key) {
        return path.empty() ? key : path + "." + key;
    }

    // A string field, written in the code page; absent: fallback (or an error if required).
    bool Text(const json &object, const std::string &path, const char *key, bool required,
              std::string *bytes, const std::string &fallback = "") {
        std::string where = Join(path, key);
        if (!object.contains(key)) {
            if (required) {
                Error(where, "missing; give it as a string");
                return false;
            }
            *bytes = fallback;
            return true;
        }
        const json &value = object.at(key);
        if (!value.is_string()) {
            Error(where, "expected a string, found " + TypeName(value));
            return false;
        }
        return Encode(where, value.get<std::string>(), bytes);
    }

    bool Encode(const std::string &where, const std::string &utf8, std::string *bytes) {
        std::string error;
        if (!EncodeText(utf8, page_, bytes, &error)) {
            Error(where, error);
            return false;
        }
        if (bytes->size() > 65535) {
            Error(where, std::to_string(bytes->size()) +
                             " bytes, more than the 65,535 a stored text can hold; shorten it");
            return false;
        }
        return true;
    }

    int page_;
    std::vector<Diagnostic> *out_;
};

std::string FillName(std::string text, const std::string &name) {
    for (size_t at = 0; (at = text.find("{name}", at)) != std::string::npos; at += name.size())
        text.replace(at, 6, name);
    return text;
}

void ReadTexts(Reader &r, const json &doc, Block *block) {
    std::vector<std::string> roleNames;
    for (const auto &role : roles)
        roleNames.push_back(role.name);
    json texts = json::object();
    if (doc.contains("texts")) {
        if (!doc.at("texts").is_object()) {
            r.Error("texts",
                    "expected an object of texts by role, found " + TypeName(doc.at("texts")));
        } else {
            texts = doc.at("texts");
            for (auto it = texts.begin(); it != texts.end(); ++it)
                if (std::find(roleNames.begin(), roleNames.end(), it.key()) == roleNames.end())
                    r.Error("texts." + it.key(), "unknown role; the roles are " + List(roleNames));
        }
    }
    std::string name;
    bool haveName = false;
    if (doc.contains("name")) {
        haveName = r.Text(doc, "", "name", true, &name);
        if (haveName && name.empty()) {
            r.Error("name", "empty; give the application's name as the texts show it");
            haveName = false;
        }
    }
    std::vector<std::string> needName;
    block->texts.clear();
    for (const auto &role : roles) {
        std::string bytes;
        if (texts.contains(role.name)) {
            r.Text(texts, "texts", role.name, true, &bytes);
        } else {
            std::string text = role.defaultText;
            if (text.find("{name}") != std::string::npos && !haveName)
                needName.push_back(role.name);
            else
                bytes = FillName(text, name); // the defaults are ASCII apart from the name
        }
        block->texts.push_back(bytes);
    }
    if (!needName.empty() && !doc.contains("name"))
        r.Error("name", "missing; the default texts of " + List(needName) +
                            " need the application's name (or give those texts under \"texts\")");
}

void ReadFiles(Reader &r, const json &doc, Block *block) {
    if (!doc.contains("files"))
        return;
    const json &files = doc.at("files");
    if (!files.is_array()) {
        r.Error("files", "expected a list of file entries, found " + TypeName(files));
        return;
    }
    for (size_t i = 0; i < files.size(); i++) {
        std::string path = "files[" + std::to_string(i) + "]";
        const json &e = files[i];
        if (!r.Object(e, path, {"folder", "name", "flags"}))
            continue;
        FileEntry entry;
        r.Text(e, path, "folder", true, &entry.folder);
        r.Text(e, path, "name", true, &entry.name);
        if (e.contains("flags")) {
            const json &flags = e.at("flags");
            if (!flags.is_array()) {
                r.Error(path + ".flags", "expected a list of flag names (" + List(fileFlags) +
                                             "), found " + TypeName(flags));
            } else {
                for (size_t f = 0; f < flags.size(); f++) {
                    std::string where = path + ".flags[" + std::to_string(f) + "]";
                    bool known = false;
                    for (const auto &n : fileFlags)
                        if (flags[f].is_string() && flags[f].get<std::string>() == n.name) {
                            entry.flags |= uint8_t(n.value);
                            known = true;
                        }
                    if (!known)
                        r.Error(where, (flags[f].is_string()
                                            ? "unknown flag \"" + flags[f].get<std::string>() + "\""
                                            : "expected a flag name, found " + TypeName(flags[f])) +
                                           "; the flags are " + List(fileFlags));
                }
            }
        }
        block->files.push_back(entry);
    }
}

void ReadFolders(Reader &r, const json &doc, Block *block) {
    if (!doc.contains("folders"))
        return;
    const json &folders = doc.at("folders");
    if (!folders.is_array()) {
        r.Error("folders", "expected a list of folder entries, found " + TypeName(folders));
        return;
    }
    for (size_t i = 0; i < folders.size(); i++) {
        std::string path = "folders[" + std::to_string(i) + "]";
        const json &e = folders[i];
        if (!r.Object(e, path, {"folder", "file", "levels"}))
            continue;
        FolderEntry entry;
        r.Text(e, path, "folder", true, &entry.folder);
        r.Text(e, path, "file", false, &entry.file);
        if (e.contains("levels")) {
            const json &levels = e.at("levels");
            if (!levels.is_number_integer())
                r.Error(path + ".levels",
                        "expected a whole number from 0 to 255, found " + TypeName(levels));
            else if (levels.get<long long>() < 0 || levels.get<long long>() > 255)
                r.Error(path + ".levels",
                        std::to_string(levels.get<long long>()) +
                            " is out of range; levels is stored in one byte, 0 to 255");
            else
                entry.levels = uint8_t(levels.get<long long>());
        }
        block->folders.push_back(entry);
    }
}

void ReadRegistry(Reader &r, const json &doc, Block *block) {
    if (!doc.contains("registry"))
        return;
    const json &list = doc.at("registry");
    if (!list.is_array()) {
        r.Error("registry", "expected a list of registry entries, found " + TypeName(list));
        return;
    }
    for (size_t i = 0; i < list.size(); i++) {
        std::string path = "registry[" + std::to_string(i) + "]";
        const json &e = list[i];
        if (!r.Object(e, path, {"root", "key", "value"}))
            continue;
        RegistryEntry entry;
        if (!e.contains("root")) {
            r.Error(path + ".root", "missing; give " + List(rootNames) + " or a number");
        } else {
            const json &root = e.at("root");
            bool known = false;
            if (root.is_string()) {
                for (const auto &n : rootNames)
                    if (root.get<std::string>() == n.name) {
                        entry.root = n.value;
                        known = true;
                    }
                if (!known)
                    r.Error(path + ".root", "unknown root \"" + root.get<std::string>() +
                                                "\"; use " + List(rootNames) + " or a number");
            } else if (root.is_number_integer()) {
                long long value = root.get<long long>();
                if (value < 0 || value > 0xFFFFFFFFll)
                    r.Error(path + ".root",
                            std::to_string(value) + " is out of range for a 32-bit root key value");
                else
                    entry.root = uint32_t(value);
            } else {
                r.Error(path + ".root",
                        "expected " + List(rootNames) + " or a number, found " + TypeName(root));
            }
        }
        std::string key, value;
        bool keyOk = r.Text(e, path, "key", true, &key);
        if (e.contains("value")) {
            if (r.Text(e, path, "value", true, &value) && value.find('\\') != std::string::npos)
                r.Error(path + ".value", "a value name cannot hold a backslash: the program takes "
                                         "the text after the last backslash as the value's name");
            entry.path = key + "\\\\" + value;
        } else {
            entry.path = key;
            size_t last = key.rfind('\\');
            if (keyOk && last != std::string::npos && last > 0 && key[last - 1] == '\\')
                r.Error(path + ".key",
                        "ends in a doubled backslash before its last part, which the "
                        "program reads as a value; give the value's name under \"value\"");
        }
        if (entry.path.size() > 65535)
            r.Error(path, "key and value together exceed the 65,535 bytes a stored text can hold");
        block->registry.push_back(entry);
    }
}

void ReadOptions(Reader &r, const json &doc,
                 const std::vector<std::pair<std::string, std::string>> &duplicates, Block *block) {
    for (const auto &d : duplicates)
        if (d.first == "options" && (d.second == "program" || d.second == "document"))
            r.Error("options." + d.second,
                    "given twice; the program runs one program and opens one "
                    "document, so give one \"" +
                        d.second + "\"");
    // What is in use at its removal goes at the next restart unless the manifest says no.
    block->optionFlags |= OPTION_RESTART_DELETE;
    if (!doc.contains("options"))
        return;
    const json &o = doc.at("options");
    if (!r.Object(o, "options", {"program", "document", "wait", "keepTheme", "restartDelete"}))
        if (!o.is_object())
            return;
    r.Text(o, "options", "program", false, &block->program);
    r.Text(o, "options", "document", false, &block->document);
    struct Flag {
        const char *key;
        uint32_t bit;
    } flags[] = {{"wait", OPTION_WAIT},
                 {"keepTheme", OPTION_KEEPTHEME},
                 {"restartDelete", OPTION_RESTART_DELETE}};
    for (const auto &f : flags) {
        if (!o.contains(f.key))
            continue;
        if (!o.at(f.key).is_boolean())
            r.Error(std::string("options.") + f.key,
                    "expected true or false, found " + TypeName(o.at(f.key)));
        else if (o.at(f.key).get<bool>())
            block->optionFlags |= f.bit;
        else
            block->optionFlags &= ~f.bit;
    }
}

// The keys that describe the program itself rather than the block.
void ReadProgram(Reader &r, const json &doc, ProgramInfo *program) {
    if (doc.contains("executionLevel")) {
        const json &level = doc.at("executionLevel");
        if (!level.is_string() || !ParseExecutionLevel(level.get<std::string>(), &program->level))
            r.Error("executionLevel",
                    (level.is_string() ? "unknown level \"" + level.get<std::string>() + "\""
                                       : "expected a string, found " + TypeName(level)) +
                        "; give \"admin\" (the default, for a per-machine application), "
                        "\"user\" (a per-user one) or \"highest\"");
    }
    // Version information is written in UTF-16, whatever the block's code page.
    auto text = [&](const char *key, std::string *out) {
        if (!doc.contains(key))
            return false;
        if (!doc.at(key).is_string()) {
            r.Error(key, "expected a string, found " + TypeName(doc.at(key)));
            return false;
        }
        *out = doc.at(key).get<std::string>();
        if (out->find('\0') != std::string::npos) {
            r.Error(key, "holds a NUL character");
            return false;
        }
        return true;
    };
    // The name's own errors are the texts' (ReadTexts).
    if (doc.contains("name") && doc.at("name").is_string())
        program->name = doc.at("name").get<std::string>();
    text("publisher", &program->publisher);
    // Each text of the version information counts its bytes in 16 bits.
    for (const char *key : {"name", "publisher"})
        if (Utf16Length(key[0] == 'n' ? program->name : program->publisher) > 1024)
            r.Error(key, "longer than the 1,024 characters version information can hold");
    if (text("icon", &program->icon) && program->icon.empty())
        r.Error("icon", "empty; give the path of an .ico file, relative to the manifest");
    if (text("version", &program->versionText)) {
        if (!ParseVersion(program->versionText, program->version))
            r.Error("version", "\"" + program->versionText +
                                   "\" is not a version: give one to four numbers from 0 to "
                                   "65535 separated by dots, such as \"2.1\" or \"2.1.0.7\"");
        else
            program->hasVersion = true;
        if (!doc.contains("name"))
            r.Error("name", "missing; version information names the application");
    } else if (doc.contains("publisher")) {
        r.Error("version", "missing; the publisher is written with the version information, "
                           "which needs a version");
    }
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

// The manifest as an author would write it: one text per line, one entry per line.
std::string Inline(const ordered_json &value) {
    if (value.is_array()) {
        std::string out = "[";
        for (size_t i = 0; i < value.size(); i++)
            out += (i ? ", " : "") + Inline(value[i]);
        return out + "]";
    }
    if (value.is_object()) {
        std::string out = "{";
        bool first = true;
        for (auto it = value.begin(); it != value.end(); ++it, first = false)
            out += (first ? "" : ", ") + ordered_json(it.key()).dump() + ": " + Inline(it.value());
        return out + "}";
    }
    return value.dump();
}

std::string Layout(const ordered_json &doc) {
    std::string out = "{";
    bool first = true;
    for (auto it = doc.begin(); it != doc.end(); ++it, first = false) {
        out += std::string(first ? "" : ",") + "\n  " + ordered_json(it.key()).dump() + ": ";
        const ordered_json &value = it.value();
        if (value.is_array() || (value.is_object() && it.key() == "texts")) {
            bool array = value.is_array();
            out += array ? "[" : "{";
            size_t i = 0;
            for (auto inner = value.begin(); inner != value.end(); ++inner, ++i)
                out += std::string(i ? "," : "") + "\n    " +
                       (array ? "" : ordered_json(inner.key()).dump() + ": ") +
                       Inline(inner.value());
            out += std::string("\n  ") + (array ? "]" : "}");
        } else {
            out += Inline(value);
        }
    }
    return out + "\n}\n";
}

// The manifest as UTF-8: UTF-8 as it is (nlohmann skips its byte order mark), UTF-16 of
// either byte order with its mark (what Windows PowerShell 5 writes) converted; UTF-32 and
// UTF-16 without a mark are refused by name, since the JSON reader would only see their
// zero bytes.
bool ManifestText(const std::string &input, std::string *text, std::string *error) {
    auto starts = [&](std::initializer_list<int> bytes) {
        size_t i = 0;
        for (int b : bytes)
            if (i >= input.size() || (unsigned char)input[i++] != b)
                return false;
        return true;
    };
    if (starts({0xFF, 0xFE, 0, 0}) || starts({0, 0, 0xFE, 0xFF})) {
        *error = "the file is UTF-32; save it as UTF-8 (or UTF-16)";
        return false;
    }
    bool little = starts({0xFF, 0xFE}), big = starts({0xFE, 0xFF});
    if (!little && !big) {
        if (input.size() >= 2 && (input[0] == 0) != (input[1] == 0)) {
            *error = std::string("the file looks like UTF-16 ") +
                     (input[0] == 0 ? "big" : "little") +
                     "-endian without a byte order mark; save it as UTF-8";
            return false;
        }
        *text = input;
        return true;
    }
    const char *name = little ? "UTF-16 little-endian" : "UTF-16 big-endian";
    if (input.size() % 2) {
        *error = std::string("the file is ") + name + " but has an odd number of bytes";
        return false;
    }
    std::u16string units;
    for (size_t i = 2; i < input.size(); i += 2) {
        unsigned char a = (unsigned char)input[i], b = (unsigned char)input[i + 1];
        units.push_back(char16_t(little ? a | b << 8 : a << 8 | b));
    }
    std::string why;
    if (!Utf16ToUtf8(units, text, &why)) {
        *error = std::string("the file is ") + name + " with " + why + "; save it as UTF-8";
        return false;
    }
    return true;
}

} // namespace

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
    if (tooLong("C:\\" + block.program))
        Warn(out, 1, "options.program",
             "the program's path cannot fit 259 characters with the install folder");

    // W2 to W4: texts.
    for (size_t n = 0; n < block.texts.size() && n < roles.size(); n++) {
        std::string path = std::string("texts.") + roles[n].name;
        const std::string &text = block.texts[n];
        if (text.size() > 1023)
            Warn(out, 2, path,
                 std::to_string(text.size()) +
                     " bytes; the program shows at most 1,023 and cuts the rest");
        if (roles[n].formatted && !FormatsCleanly(text))
            Warn(out, 3, path,
                 "holds a \"%\" other than one \"%s\" or \"%%\"; the program then shows the text "
                 "unformatted, so the path never appears in it (write \"%%\" for a percent sign, "
                 "next to one \"%s\")");
        if (n <= 2 && text.empty())
            Warn(out, 4, path,
                 "empty; the box shows no " + std::string(n == 0 ? "caption" : "text"));
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
            if (IsProtectedFolderPattern(folder, &why)) {
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
        if (e.name.empty() && fullFolder(e.folder) && IsProtectedFolderPattern(e.folder, &why))
            Warn(out, 7, "files[" + std::to_string(i) + "]",
                 "names the folder \"" + e.folder + "\", " + why + ", for removal");
    }

    // W8: duplicates.
    std::set<std::string> seen;
    auto duplicate = [&](const std::string &kind, const std::string &key) {
        return !seen.insert(kind + "\n" + Fold(key)).second;
    };
    for (size_t i = 0; i < block.files.size(); i++)
        if (duplicate("file", block.files[i].folder + "\n" + block.files[i].name))
            Warn(out, 8, "files[" + std::to_string(i) + "]",
                 "the same folder and name as an earlier file entry");
    for (size_t i = 0; i < block.folders.size(); i++)
        if (duplicate("folder", block.folders[i].folder + "\n" + block.folders[i].file))
            Warn(out, 8, "folders[" + std::to_string(i) + "]",
                 "the same folder and file as an earlier folder entry");
    for (size_t i = 0; i < block.registry.size(); i++)
        if (duplicate("registry",
                      std::to_string(block.registry[i].root) + "\n" + block.registry[i].path))
            Warn(out, 8, "registry[" + std::to_string(i) + "]",
                 "the same root and path as an earlier registry entry");

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
    for (size_t n = 0; n < block.texts.size() && n < roles.size(); n++)
        legacy(std::string("texts.") + roles[n].name, block.texts[n]);
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
    legacy("options.program", block.program);
    legacy("options.document", block.document);
}

ManifestResult ReadManifest(const std::string &input, int codePage,
                            const std::string &uninstaller) {
    ManifestResult result;
    Reader r(codePage, &result.diagnostics);
    std::string text, why;
    if (!ManifestText(input, &text, &why)) {
        r.Error("", why);
        return result;
    }
    if (!IsSupportedCodePage(codePage)) {
        r.Error("", "code page " + std::to_string(codePage) +
                        " is not supported; use UTF-8 or one of " + SupportedCodePages());
        return result;
    }
    DuplicateFinder finder;
    json doc;
    try {
        doc = json::parse(text, std::ref(finder), true, true);
    } catch (const json::parse_error &e) {
        size_t line = 1, column = 1;
        for (size_t i = 0; i + 1 < e.byte && i < text.size(); i++) {
            if (text[i] == '\n') {
                line++;
                column = 1;
            } else if (((unsigned char)text[i] & 0xC0) != 0x80) {
                column++;
            }
        }
        std::string what = e.what();
        size_t colon = what.find(": ", what.find("parse error"));
        std::string reason = colon == std::string::npos ? what : what.substr(colon + 2);
        r.Error("", "not valid JSON at line " + std::to_string(line) + ", column " +
                        std::to_string(column) + ": " + reason);
        return result;
    }
    if (!r.Object(doc, "",
                  {"name", "executionLevel", "version", "publisher", "icon", "texts", "files",
                   "folders", "registry", "options"}))
        if (!doc.is_object())
            return result;
    for (const auto &d : finder.duplicates)
        if (!(d.first == "options" && (d.second == "program" || d.second == "document")))
            r.Error(Reader::Join(d.first, d.second), "given twice; give each key once");
    ReadTexts(r, doc, &result.block);
    ReadFiles(r, doc, &result.block);
    ReadFolders(r, doc, &result.block);
    ReadRegistry(r, doc, &result.block);
    ReadOptions(r, doc, finder.duplicates, &result.block);
    ReadProgram(r, doc, &result.program);
    if (codePage == CODEPAGE_UTF8)
        result.block.optionFlags |= OPTION_UTF8;
    if (UsesFolderTokens(result.block))
        result.block.optionFlags |= OPTION_FOLDER_TOKENS;
    if (result.Errors() == 0)
        CheckBlock(result.block, codePage, &result.diagnostics, uninstaller);
    return result;
}

bool WriteManifest(const Block &block, int codePage, std::string *out, std::string *error,
                   std::vector<std::string> *notes, const ProgramInfo *info) {
    ordered_json doc = ordered_json::object();
    if (info) {
        if (info->hasVersion)
            doc["name"] = info->name;
        if (info->level != ExecutionLevel::Admin)
            doc["executionLevel"] = ExecutionLevelName(info->level);
        if (info->hasVersion) {
            doc["version"] = info->versionText;
            if (!info->publisher.empty())
                doc["publisher"] = info->publisher;
        }
    }
    const bool utf8Block = (block.optionFlags & OPTION_UTF8) != 0;
    const int page = utf8Block ? CODEPAGE_UTF8 : codePage;
    auto decode = [&](const std::string &path, const std::string &bytes, std::string *utf8) {
        std::string why;
        if (!DecodeText(bytes, page, utf8, &why)) {
            *error = path + ": " + why +
                     (utf8Block ? " in a block marked UTF-8; a manifest cannot give these bytes"
                                : "; try another --codepage");
            return false;
        }
        if (utf8->find('\0') != std::string::npos) {
            *error = path +
                     ": holds a NUL byte, which a manifest cannot give (the program reads it "
                     "as the end of the text)";
            return false;
        }
        return true;
    };
    ordered_json texts = ordered_json::object();
    for (size_t n = 0; n < roles.size(); n++) {
        std::string utf8;
        if (n < block.texts.size() &&
            !decode(std::string("texts.") + roles[n].name, block.texts[n], &utf8))
            return false;
        texts[roles[n].name] = utf8;
    }
    if (block.texts.size() < roles.size())
        notes->push_back("the block holds " + std::to_string(block.texts.size()) +
                         " texts; the manifest gives the missing ones as empty texts, as the "
                         "program reads them");
    if (block.texts.size() > roles.size())
        notes->push_back("the block holds " + std::to_string(block.texts.size()) +
                         " texts; the program uses only the first " + std::to_string(roles.size()) +
                         ", and the manifest leaves the rest out");
    doc["texts"] = texts;
    ordered_json files = ordered_json::array();
    for (size_t i = 0; i < block.files.size(); i++) {
        const FileEntry &e = block.files[i];
        std::string path = "files[" + std::to_string(i) + "]";
        ordered_json entry = ordered_json::object();
        std::string folder, name;
        if (!decode(path + ".folder", e.folder, &folder) || !decode(path + ".name", e.name, &name))
            return false;
        entry["folder"] = folder;
        entry["name"] = name;
        ordered_json flags = ordered_json::array();
        for (const auto &n : fileFlags)
            if (e.flags & n.value)
                flags.push_back(n.name);
        if (e.flags & 0xF0)
            notes->push_back(
                path +
                ": flag bits beyond the four known ones, which the program ignores, are left out");
        if (!flags.empty())
            entry["flags"] = flags;
        files.push_back(entry);
    }
    if (!files.empty())
        doc["files"] = files;
    ordered_json folders = ordered_json::array();
    for (size_t i = 0; i < block.folders.size(); i++) {
        const FolderEntry &e = block.folders[i];
        std::string path = "folders[" + std::to_string(i) + "]";
        std::string folder, file;
        if (!decode(path + ".folder", e.folder, &folder) || !decode(path + ".file", e.file, &file))
            return false;
        ordered_json entry = {{"folder", folder}};
        if (!file.empty())
            entry["file"] = file;
        if (e.levels)
            entry["levels"] = e.levels;
        folders.push_back(entry);
    }
    if (!folders.empty())
        doc["folders"] = folders;
    ordered_json registry = ordered_json::array();
    for (size_t i = 0; i < block.registry.size(); i++) {
        const RegistryEntry &e = block.registry[i];
        std::string path = "registry[" + std::to_string(i) + "]";
        ordered_json entry = ordered_json::object();
        entry["root"] = e.root;
        for (const auto &n : rootNames)
            if (n.value == e.root)
                entry["root"] = n.name;
        std::string keyBytes, valueBytes, key, value;
        if (SplitValue(e.path, &keyBytes, &valueBytes)) {
            if (!decode(path + ".key", keyBytes, &key) ||
                !decode(path + ".value", valueBytes, &value))
                return false;
            entry["key"] = key;
            entry["value"] = value;
        } else {
            if (!decode(path + ".key", e.path, &key))
                return false;
            entry["key"] = key;
        }
        registry.push_back(entry);
    }
    if (!registry.empty())
        doc["registry"] = registry;
    ordered_json options = ordered_json::object();
    std::string program, document;
    if (!decode("options.program", block.program, &program) ||
        !decode("options.document", block.document, &document))
        return false;
    if (!program.empty())
        options["program"] = program;
    if (!document.empty())
        options["document"] = document;
    if (block.optionFlags & OPTION_WAIT)
        options["wait"] = true;
    if (block.optionFlags & OPTION_KEEPTHEME)
        options["keepTheme"] = true;
    if (!(block.optionFlags & OPTION_RESTART_DELETE))
        options["restartDelete"] = false;
    // The token flag is not a key: a build sets it when a folder begins with "{".
    const bool tokens = (block.optionFlags & OPTION_FOLDER_TOKENS) != 0;
    if (tokens && !UsesFolderTokens(block))
        notes->push_back("options: the folder-token flag is set, but no folder begins with a "
                         "token; a build from this manifest leaves the flag out");
    if (!tokens && UsesFolderTokens(block))
        notes->push_back("options: a folder begins with \"{\" in a block without the "
                         "folder-token flag, where the program takes it as a relative path; a "
                         "build from this manifest sets the flag and reads it as a token");
    if (block.optionFlags & ~(OPTION_WAIT | OPTION_KEEPTHEME | OPTION_UTF8 | OPTION_RESTART_DELETE |
                              OPTION_FOLDER_TOKENS))
        notes->push_back("options: flag bits beyond wait, keepTheme, UTF-8, restartDelete and "
                         "folder tokens, which the program ignores, are left out");
    if (!options.empty())
        doc["options"] = options;
    *out = Layout(doc);
    return true;
}

} // namespace pack
