// Reading a manifest: the JSON (UTF-8, or UTF-16 with its mark), every error named by its
// JSON path, the defaults of what the manifest leaves out, and the block it encodes. May call
// the vocabulary (manifest.h) and, once a manifest reads without errors, the checks
// (CheckBlock); never the writer.
#include "manifest.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <set>

namespace pack {

// Objects keep the order they are written in: the tables of texts follow it.
using json = nlohmann::ordered_json;
using namespace manifest;

namespace {

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

    void Warning(int number, const std::string &path, const std::string &message) {
        Diagnostic d;
        d.kind = Diagnostic::Warning;
        d.number = number;
        d.path = path;
        d.message = message;
        out_->push_back(d);
    }

    int Page() const {
        return page_;
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

// A language given as a tag, a number in a string, or a number.
bool ReadLanguage(Reader &r, const json &value, const std::string &where, uint16_t *id) {
    std::string error;
    if (value.is_number_integer() && LanguageFromNumber(value.get<long long>(), id, &error))
        return true;
    if (value.is_string() && ParseLanguage(value.get<std::string>(), id, &error))
        return true;
    if (!value.is_number_integer() && !value.is_string())
        error =
            "expected a language such as \"de\" or a LANGID such as 1031, found " + TypeName(value);
    r.Error(where, error);
    return false;
}

// One table of texts as the manifest gives it: its language, where that is named, and the
// author's texts for it, if any.
struct TableSource {
    uint16_t id = 0;
    std::string origin;    // "language", "languages[1]" or "texts.de"
    std::string textsPath; // "texts" (by role, for the default language) or "texts.de"
    const json *texts = nullptr;
};

// The tables: the default language ("language", English unless given), then those of
// "languages" in their order, then those that only "texts" names, in the order written.
std::vector<TableSource> ReadTableSources(Reader &r, const json &doc) {
    std::vector<TableSource> tables(1);
    tables[0].id = 0x0409;
    tables[0].origin = "language";
    if (doc.contains("language"))
        ReadLanguage(r, doc.at("language"), "language", &tables[0].id);
    auto find = [&](uint16_t id) -> TableSource * {
        for (TableSource &t : tables)
            if (t.id == id)
                return &t;
        return nullptr;
    };
    if (doc.contains("languages")) {
        const json &list = doc.at("languages");
        if (!list.is_array())
            r.Error("languages", "expected a list of languages such as [\"de\", \"fr\"], found " +
                                     TypeName(list));
        for (size_t i = 0; list.is_array() && i < list.size(); i++) {
            std::string where = "languages[" + std::to_string(i) + "]";
            uint16_t id;
            if (!ReadLanguage(r, list[i], where, &id))
                continue;
            if (const TableSource *t = find(id)) {
                r.Error(where, t == &tables[0] ? "is the default language (\"language\", English "
                                                 "unless given); list only the further ones"
                                               : "names the same language as " + t->origin);
                continue;
            }
            tables.push_back({id, where, "", nullptr});
        }
    }
    if (!doc.contains("texts"))
        return tables;
    const json &texts = doc.at("texts");
    if (!texts.is_object()) {
        r.Error("texts", "expected an object of texts by role, found " + TypeName(texts));
        return tables;
    }
    size_t objects = size_t(
        std::count_if(texts.begin(), texts.end(), [](const json &v) { return v.is_object(); }));
    if (objects == 0) {
        tables[0].texts = &texts;
        tables[0].textsPath = "texts";
        return tables;
    }
    if (objects < texts.size()) {
        r.Error("texts", "mixes texts by role with texts by language; give the default "
                         "language's texts by role, or an object of texts by role for each "
                         "language, such as {\"en\": {...}, \"de\": {...}}");
        return tables;
    }
    for (auto it = texts.begin(); it != texts.end(); ++it) {
        std::string where = "texts." + it.key();
        uint16_t id;
        if (!ReadLanguage(r, json(it.key()), where, &id))
            continue;
        TableSource *t = find(id);
        if (t && t->texts) {
            r.Error(where, "names the same language as " + t->textsPath);
            continue;
        }
        if (!t) {
            tables.push_back({id, where, "", nullptr});
            t = &tables.back();
        }
        t->texts = &it.value();
        t->textsPath = where;
    }
    return tables;
}

// Every table's texts: the author's, else the ones vanish-pack ships for its language, else,
// in a further table, the default table's, with a warning (W13) naming the language and the
// text.
void ReadTexts(Reader &r, const json &doc, Block *block) {
    std::vector<std::string> roleNames;
    for (const auto &role : roles)
        roleNames.push_back(role.name);
    std::vector<TableSource> tables = ReadTableSources(r, doc);
    for (const TableSource &table : tables) {
        if (!table.texts)
            continue;
        for (auto it = table.texts->begin(); it != table.texts->end(); ++it)
            if (std::find(roleNames.begin(), roleNames.end(), it.key()) == roleNames.end())
                r.Error(table.textsPath + "." + it.key(),
                        "unknown role; the roles are " + List(roleNames));
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
    // The shipped texts are filled in before they are encoded, so that an error counts its
    // characters in the text as shown.
    const std::string nameUtf8 = haveName ? doc.at("name").get<std::string>() : "";
    std::vector<std::string> needName;
    std::vector<std::vector<std::string>> encoded(tables.size());
    for (size_t t = 0; t < tables.size(); t++) {
        const TableSource &table = tables[t];
        const ShippedLanguage *shipped = FindShippedLanguage(table.id);
        const std::string tag = LanguageTag(table.id);
        if (t > 0 && !shipped && !table.texts) {
            r.Error(table.origin, "vanish-pack ships no texts in language " + tag +
                                      "; give them under texts." + tag);
            continue;
        }
        std::vector<std::string> missing;
        std::string unencodable; // the first shipped text the code page cannot hold
        for (size_t n = 0; n < roles.size(); n++) {
            const char *role = roles[n].name;
            std::string bytes;
            if (table.texts && table.texts->contains(role)) {
                r.Text(*table.texts, table.textsPath, role, true, &bytes);
            } else if (shipped) {
                std::string text = ShippedText(*shipped, n), error;
                if (text.find("{name}") != std::string::npos && !haveName) {
                    if (std::find(needName.begin(), needName.end(), role) == needName.end())
                        needName.push_back(role);
                } else if (!EncodeText(FillName(text, nameUtf8), r.Page(), &bytes, &error)) {
                    if (unencodable.empty())
                        unencodable = std::string(role) + ": " + error;
                }
            } else if (t == 0) {
                missing.push_back(role);
            } else {
                bytes = encoded[0][n];
                if (!bytes.empty())
                    r.Warning(13, table.textsPath + "." + role,
                              "language " + tag + " lacks the text " + role +
                                  ", which the default language has; vanish-pack writes the "
                                  "default language's text there");
            }
            encoded[t].push_back(bytes);
        }
        if (!unencodable.empty())
            r.Error(table.origin, "the shipped " + std::string(shipped->name) +
                                      " texts cannot be written in code page " +
                                      std::to_string(r.Page()) + " (" + unencodable +
                                      "); give them under texts." + tag +
                                      ", or build a UTF-8 block (no --codepage)");
        if (!missing.empty())
            r.Error(table.textsPath.empty() ? table.origin : table.textsPath,
                    "vanish-pack ships no texts in language " + tag +
                        ", the default language; give all of its texts (missing: " + List(missing) +
                        ")");
    }
    if (!needName.empty() && !doc.contains("name"))
        r.Error("name", "missing; the default texts of " + List(needName) +
                            " need the application's name (or give those texts under \"texts\")");
    block->texts = encoded[0];
    block->furtherTexts.assign(encoded.begin() + 1, encoded.end());
    block->languages.clear();
    if (tables.size() > 1)
        for (const TableSource &table : tables)
            block->languages.push_back(table.id);
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

// How many parents a walk tries after its folder or key.
void ReadLevels(Reader &r, const json &e, const std::string &path, uint8_t *out) {
    if (!e.contains("levels"))
        return;
    const json &levels = e.at("levels");
    if (!levels.is_number_integer())
        r.Error(path + ".levels",
                "expected a whole number from 0 to 255, found " + TypeName(levels));
    else if (levels.get<long long>() < 0 || levels.get<long long>() > 255)
        r.Error(path + ".levels", std::to_string(levels.get<long long>()) +
                                      " is out of range; levels is stored in one byte, 0 to 255");
    else
        *out = uint8_t(levels.get<long long>());
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
        ReadLevels(r, e, path, &entry.levels);
        block->folders.push_back(entry);
    }
}

// The manifest's registry list holds keys removed as trees, values, and keys removed only
// when empty, which the block keeps in a record of their own: where each came from.
struct RegistryPlaces {
    std::vector<size_t> registry, emptyKeys; // the index in the manifest's list
};

void ReadRegistry(Reader &r, const json &doc, Block *block, RegistryPlaces *places) {
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
        if (!r.Object(e, path, {"root", "key", "value", "ifEmpty", "levels"}))
            continue;
        RegistryEntry entry;
        bool ifEmpty = false;
        if (e.contains("ifEmpty")) {
            if (!e.at("ifEmpty").is_boolean())
                r.Error(path + ".ifEmpty",
                        "expected true or false, found " + TypeName(e.at("ifEmpty")));
            else
                ifEmpty = e.at("ifEmpty").get<bool>();
        }
        uint8_t levels = 0;
        ReadLevels(r, e, path, &levels);
        if (e.contains("levels") && !ifEmpty)
            r.Error(path + ".levels", "only with \"ifEmpty\": true: a key without it is deleted "
                                      "with all its subkeys, and no parent is tried");
        if (e.contains("value") && ifEmpty)
            r.Error(path + ".value", "an \"ifEmpty\" entry names a key, which goes when it holds "
                                     "no subkeys and no values; a value is deleted by an entry "
                                     "without \"ifEmpty\"");
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
        if (ifEmpty) {
            block->emptyKeys.push_back({levels, entry.root, entry.path});
            places->emptyKeys.push_back(i);
        } else {
            block->registry.push_back(entry);
            places->registry.push_back(i);
        }
    }
}

// The checks name entries by their place in the block; the manifest's by theirs.
void NameByManifest(const RegistryPlaces &places, std::vector<Diagnostic>::iterator from,
                    std::vector<Diagnostic>::iterator to) {
    for (auto d = from; d != to; ++d)
        for (auto [prefix, list] :
             {std::pair<std::string, const std::vector<size_t> *>{"registry[", &places.registry},
              {"emptyKeys[", &places.emptyKeys}}) {
            size_t close = d->path.find(']');
            if (d->path.rfind(prefix, 0) != 0 || close == std::string::npos)
                continue;
            size_t index = std::stoul(d->path.substr(prefix.size(), close - prefix.size()));
            if (index < list->size())
                d->path = "registry[" + std::to_string((*list)[index]) + d->path.substr(close);
            break;
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
    if (!r.Object(o, "options",
                  {"program", "document", "wait", "keepTheme", "restartDelete", "silentShared"}))
        if (!o.is_object())
            return;
    if (o.contains("silentShared")) {
        const json &v = o.at("silentShared");
        std::string choice = v.is_string() ? v.get<std::string>() : "";
        if (choice == "remove")
            block->optionFlags |= OPTION_SILENT_SHARED;
        else if (choice != "keep")
            r.Error("options.silentShared",
                    (v.is_string() ? "\"" + choice + "\" is not a choice"
                                   : "expected a string, found " + TypeName(v)) +
                        "; give \"keep\" (the default: /S keeps a shared file whose count "
                        "reached 0) or \"remove\" (/S removes it)");
    }
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
                  {"name", "executionLevel", "version", "publisher", "icon", "language",
                   "languages", "texts", "files", "folders", "registry", "options"}))
        if (!doc.is_object())
            return result;
    for (const auto &d : finder.duplicates)
        if (!(d.first == "options" && (d.second == "program" || d.second == "document")))
            r.Error(Reader::Join(d.first, d.second), "given twice; give each key once");
    ReadTexts(r, doc, &result.block);
    ReadFiles(r, doc, &result.block);
    ReadFolders(r, doc, &result.block);
    RegistryPlaces places;
    ReadRegistry(r, doc, &result.block, &places);
    ReadOptions(r, doc, finder.duplicates, &result.block);
    ReadProgram(r, doc, &result.program);
    if (codePage == CODEPAGE_UTF8)
        result.block.optionFlags |= OPTION_UTF8;
    else
        result.block.codePage = uint32_t(codePage);
    if (UsesFolderTokens(result.block))
        result.block.optionFlags |= OPTION_FOLDER_TOKENS;
    if (result.Errors() == 0) {
        size_t checked = result.diagnostics.size();
        CheckBlock(result.block, codePage, &result.diagnostics, uninstaller);
        CheckPerUserTokens(result.block, result.program.level, &result.diagnostics);
        NameByManifest(places, result.diagnostics.begin() + long(checked),
                       result.diagnostics.end());
    }
    return result;
}

} // namespace pack
