// Writing a block back as a manifest that builds the same block again, laid out as an
// author would write it, with notes where a rebuild lays the block out otherwise. May call
// the vocabulary (manifest.h); never the reader or the checks.
#include "manifest.h"

#include <nlohmann/json.hpp>

#include <algorithm>

namespace pack {

using nlohmann::ordered_json;
using namespace manifest;

namespace {

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

// An object of texts by role, one text a line; texts by language nest one level more.
std::string TextsLayout(const ordered_json &texts, const std::string &indent) {
    std::string out = "{";
    size_t i = 0;
    for (auto it = texts.begin(); it != texts.end(); ++it, ++i)
        out +=
            std::string(i ? "," : "") + "\n" + indent + "  " + ordered_json(it.key()).dump() +
            ": " +
            (it.value().is_object() ? TextsLayout(it.value(), indent + "  ") : Inline(it.value()));
    return out + "\n" + indent + "}";
}

std::string Layout(const ordered_json &doc) {
    std::string out = "{";
    bool first = true;
    for (auto it = doc.begin(); it != doc.end(); ++it, first = false) {
        out += std::string(first ? "" : ",") + "\n  " + ordered_json(it.key()).dump() + ": ";
        const ordered_json &value = it.value();
        if (value.is_object() && it.key() == "texts") {
            out += TextsLayout(value, "  ");
        } else if (value.is_array()) {
            out += "[";
            size_t i = 0;
            for (auto inner = value.begin(); inner != value.end(); ++inner, ++i)
                out += std::string(i ? "," : "") + "\n    " + Inline(inner.value());
            out += "\n  ]";
        } else {
            out += Inline(value);
        }
    }
    return out + "\n}\n";
}

} // namespace

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
    // One table: its texts by role, as a manifest gives them. Several: the default's
    // language and an object of texts by role for each language, in the order of the tables.
    std::vector<const std::vector<std::string> *> tables = {&block.texts};
    for (const auto &table : block.furtherTexts)
        tables.push_back(&table);
    size_t written = 1;
    if (tables.size() > 1 && block.languages.empty())
        notes->push_back(std::to_string(tables.size() - 1) +
                         (tables.size() == 2 ? " further table" : " further tables") +
                         " of texts without a languages record, which the program skips; the "
                         "manifest gives the first table only");
    else if (tables.size() > 1)
        written = std::min(tables.size(), block.languages.size());
    if (written > 1 && written < tables.size())
        notes->push_back("the languages record names " + std::to_string(block.languages.size()) +
                         " languages for " + std::to_string(tables.size()) +
                         " tables of texts; the manifest gives the first " +
                         std::to_string(written));
    auto tableTexts = [&](size_t t, const std::string &path, ordered_json *texts) {
        const std::vector<std::string> &table = *tables[t];
        for (size_t n = 0; n < roles.size(); n++) {
            std::string utf8;
            if (n < table.size() && !decode(path + "." + roles[n].name, table[n], &utf8))
                return false;
            (*texts)[roles[n].name] = utf8;
        }
        std::string which = written > 1 ? path + ": the table" : "the block";
        if (table.size() < roles.size())
            notes->push_back(which + " holds " + std::to_string(table.size()) +
                             " texts; the manifest gives the missing ones as empty texts, as "
                             "the program reads them");
        if (table.size() > roles.size())
            notes->push_back(which + " holds " + std::to_string(table.size()) +
                             " texts; the program uses only the first " +
                             std::to_string(roles.size()) +
                             ", and the manifest leaves the rest out");
        return true;
    };
    ordered_json texts = ordered_json::object();
    if (written == 1) {
        if (!tableTexts(0, "texts", &texts))
            return false;
    } else {
        doc["language"] = LanguageTag(block.languages[0]);
        for (size_t t = 0; t < written; t++) {
            std::string tag = LanguageTag(block.languages[t]), why;
            uint16_t id;
            if (!ParseLanguage(tag, &id, &why) || texts.contains(tag)) {
                notes->push_back("table " + std::to_string(t) + ": language " + tag +
                                 (texts.contains(tag) ? " again" : ", which names no language") +
                                 "; the manifest leaves the table out");
                continue;
            }
            ordered_json table = ordered_json::object();
            if (!tableTexts(t, "texts." + tag, &table))
                return false;
            texts[tag] = table;
        }
    }
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
    // Keys removed only when empty come after the others, in their own order; a rebuild
    // puts them back in their own record.
    for (size_t i = 0; i < block.emptyKeys.size(); i++) {
        const EmptyKeyEntry &e = block.emptyKeys[i];
        ordered_json entry = ordered_json::object();
        entry["root"] = e.root;
        for (const auto &n : rootNames)
            if (n.value == e.root)
                entry["root"] = n.name;
        std::string key;
        if (!decode("registry[" + std::to_string(block.registry.size() + i) + "].key", e.path,
                    &key))
            return false;
        entry["key"] = key;
        entry["ifEmpty"] = true;
        if (e.levels)
            entry["levels"] = e.levels;
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
    if (block.optionFlags & OPTION_SILENT_SHARED)
        options["silentShared"] = "remove";
    // The token flag is not a key: a build sets it when a folder begins with "{".
    const bool tokens = (block.optionFlags & OPTION_FOLDER_TOKENS) != 0;
    if (tokens && !UsesFolderTokens(block))
        notes->push_back("options: the folder-token flag is set, but no folder begins with a "
                         "token; a build from this manifest leaves the flag out");
    if (!tokens && UsesFolderTokens(block))
        notes->push_back("options: a folder begins with \"{\" in a block without the "
                         "folder-token flag, where the program takes it as a relative path; a "
                         "build from this manifest sets the flag and reads it as a token");
    if (block.optionFlags & ~OPTION_KNOWN)
        notes->push_back("options: flag bits beyond wait, keepTheme, UTF-8, restartDelete, "
                         "folder tokens and silentShared, which the program ignores, are left "
                         "out");
    if (!options.empty())
        doc["options"] = options;
    *out = Layout(doc);
    return true;
}

} // namespace pack
