// Reads an uninstall data block back exactly as the program's loader does: the same
// refusals (with the record, the byte and what was expected), the same entries kept.
#include "pack.h"

#include <algorithm>
#include <cstdio>

namespace pack {

namespace {

std::string At(size_t offset) {
    char text[48];
    std::snprintf(text, sizeof text, "byte %zu (0x%zX)", offset, offset);
    return text;
}

// A cursor over [position, limit) of the image. Every read checks its room first.
struct Cursor {
    const Bytes &image;
    size_t position;
    size_t limit;
    std::string *failure;
    std::string where; // the record, for messages

    bool Need(size_t count, const std::string &what) {
        if (count <= limit - position)
            return true;
        *failure = where + ": " + what + " at " + At(position) + " needs " + std::to_string(count) +
                   " bytes, the record has " + std::to_string(limit - position) + " left";
        return false;
    }
    bool U8(uint8_t *value, const std::string &what) {
        if (!Need(1, what))
            return false;
        *value = image[position++];
        return true;
    }
    bool U16(uint16_t *value, const std::string &what) {
        if (!Need(2, what))
            return false;
        *value = GetU16(image, position);
        position += 2;
        return true;
    }
    bool U32(uint32_t *value, const std::string &what) {
        if (!Need(4, what))
            return false;
        *value = GetU32(image, position);
        position += 4;
        return true;
    }
    bool Text(std::string *text, const std::string &what) {
        uint16_t count;
        if (!U16(&count, what + "'s length"))
            return false;
        if (!Need(count, what))
            return false;
        text->assign(image.begin() + long(position), image.begin() + long(position + count));
        position += count;
        return true;
    }
};

// The options record's offsets, as the program resolves them: an offset that leaves the
// record, or a text without its terminator inside it, counts as none.
std::string OptionText(const Bytes &payload, uint32_t offset, bool *valid) {
    *valid = true;
    if (offset == 0)
        return "";
    if (offset >= payload.size()) {
        *valid = false;
        return "";
    }
    for (size_t i = offset; i < payload.size(); i++)
        if (payload[i] == 0)
            return std::string(payload.begin() + long(offset), payload.begin() + long(i));
    *valid = false;
    return "";
}

} // namespace

const char *RecordName(uint16_t tag) {
    switch (tag) {
    case TAG_STRINGS:
        return "message texts";
    case TAG_FILES:
        return "file entries";
    case TAG_FOLDERS:
        return "folder entries";
    case TAG_REGISTRY:
        return "registry entries";
    case TAG_OPTIONS:
        return "options";
    case TAG_LANGUAGES:
        return "languages";
    case TAG_CODEPAGE:
        return "code page";
    case TAG_EMPTY_KEYS:
        return "empty keys";
    case TAG_END:
        return "end";
    default:
        return "unknown";
    }
}

bool ReadBlock(const Bytes &image, size_t offset, BlockReading *reading) {
    *reading = BlockReading();
    std::string &damage = reading->damage;
    size_t position = offset;
    if (offset > image.size()) {
        damage = "the block's offset " + std::to_string(offset) +
                 " lies past the end of the file (" + std::to_string(image.size()) + " bytes)";
        reading->programCode = 8;
        return false;
    }
    bool stringsSeen = false, languagesSeen = false;
    std::string stringsWhere; // the record that gave the texts, for notes about its tables
    for (size_t number = 1;; number++) {
        size_t left = image.size() - position;
        if (left < 8) {
            if (left == 0)
                damage =
                    "the stream ends at " + At(position) + " without an end record (tag 0x7F7F)";
            else
                damage = "record " + std::to_string(number) + " at " + At(position) +
                         ": its 8-byte header is cut short, the file has " + std::to_string(left) +
                         " bytes left";
            reading->programCode = 8;
            return false;
        }
        RecordInfo info;
        info.offset = position;
        info.tag = uint16_t(image[position] | image[position + 1] << 8);
        info.flags = image[position + 2];
        info.length = GetU32(image, position + 4);
        reading->records.push_back(info);
        size_t payload = position + 8;
        size_t inFile = image.size() - payload;
        char tagText[8];
        std::snprintf(tagText, sizeof tagText, "0x%04X", info.tag);
        std::string where = "record " + std::to_string(number) + " (" + RecordName(info.tag) +
                            ", tag " + tagText + ") at " + At(position);
        if (info.tag == TAG_END) {
            reading->end = payload + (info.length > inFile ? inFile : info.length);
            if (info.length != 0)
                reading->notes.push_back(where + ": the end record carries a payload of " +
                                         std::to_string(info.length) + " bytes, which is ignored");
            break;
        }
        if (info.length == 0) {
            position = payload;
            continue;
        }
        if (info.length > inFile) {
            damage = where + ": its payload of " + std::to_string(info.length) +
                     " bytes runs past the end of the file, which has " + std::to_string(inFile) +
                     " bytes left";
            reading->programCode = info.tag == TAG_OPTIONS ? 1 : 8;
            return false;
        }
        Cursor c{image, payload, payload + info.length, &damage, where};
        Block &block = reading->block;
        switch (info.tag) {
        case TAG_STRINGS: {
            uint16_t tables;
            if (!c.U16(&tables, "the table count"))
                return reading->programCode = 8, false;
            std::vector<std::vector<std::string>> read;
            for (size_t t = 0; t < tables; t++) {
                // Table 0's fields keep the names they had when it was the only table read.
                std::string table = t ? "table " + std::to_string(t) + "'s " : "";
                uint16_t count;
                if (!c.U16(&count, table.empty() ? "the string count" : table + "string count"))
                    return reading->programCode = 8, false;
                if (count > (c.limit - c.position) / 2) {
                    damage = where + ": " + (t ? table : "the ") + "string count " +
                             std::to_string(count) + " at " + At(c.position - 2) +
                             " is more than the record can hold";
                    return reading->programCode = 8, false;
                }
                if (t == 0 && count == 0)
                    break;
                std::vector<std::string> texts(count);
                for (size_t i = 0; i < count; i++)
                    if (!c.Text(&texts[i], table + "text " + std::to_string(i)))
                        return reading->programCode = 8, false;
                read.push_back(texts);
            }
            if (tables == 0)
                break;
            if (read.empty()) {
                reading->notes.push_back(where +
                                         ": an empty first table, which keeps the texts before it");
                break;
            }
            if (stringsSeen)
                reading->notes.push_back(where +
                                         ": a second table of texts, which replaces the first");
            stringsSeen = true;
            stringsWhere = where;
            block.texts = read[0];
            block.furtherTexts.assign(read.begin() + 1, read.end());
            break;
        }
        case TAG_LANGUAGES: {
            uint16_t count;
            if (!c.U16(&count, "the language count"))
                return reading->programCode = 8, false;
            if (count > (c.limit - c.position) / 2) {
                damage = where + ": the language count " + std::to_string(count) + " at " +
                         At(c.position - 2) + " is more than the record can hold";
                return reading->programCode = 8, false;
            }
            std::vector<uint16_t> languages(count);
            for (size_t i = 0; i < count; i++)
                if (!c.U16(&languages[i], "language " + std::to_string(i)))
                    return reading->programCode = 8, false;
            if (languagesSeen)
                reading->notes.push_back(where + ": a second languages record, which replaces "
                                                 "the first");
            languagesSeen = true;
            block.languages = languages;
            break;
        }
        case TAG_CODEPAGE: {
            uint32_t page;
            if (!c.U32(&page, "the code page"))
                return reading->programCode = 8, false;
            block.codePage = page;
            break;
        }
        case TAG_EMPTY_KEYS: {
            uint32_t count;
            if (!c.U32(&count, "the entry count"))
                return reading->programCode = 8, false;
            if (count > (c.limit - c.position) / 7) { // levels, root and an empty path
                damage = where + ": the entry count " + std::to_string(count) + " at " +
                         At(c.position - 4) + " is more than the record can hold";
                return reading->programCode = 8, false;
            }
            for (uint32_t i = 0; i < count; i++) {
                std::string e = "entry " + std::to_string(i);
                EmptyKeyEntry k;
                if (!c.U8(&k.levels, e + "'s levels") || !c.U32(&k.root, e + "'s root") ||
                    !c.Text(&k.path, e + "'s path"))
                    return reading->programCode = 8, false;
                block.emptyKeys.push_back(k);
            }
            break;
        }
        case TAG_FILES:
        case TAG_FOLDERS:
        case TAG_REGISTRY: {
            // The smallest entry of each kind: its fixed fields and empty texts.
            size_t smallest = info.tag == TAG_FILES ? 5 : info.tag == TAG_FOLDERS ? 5 : 6;
            uint32_t count;
            if (!c.U32(&count, "the entry count"))
                return reading->programCode = 8, false;
            if (count > (c.limit - c.position) / smallest) {
                damage = where + ": the entry count " + std::to_string(count) + " at " +
                         At(c.position - 4) + " is more than the record can hold";
                return reading->programCode = 8, false;
            }
            for (uint32_t i = 0; i < count; i++) {
                std::string e = "entry " + std::to_string(i);
                size_t entryAt = c.position;
                size_t textBytes = 0;
                if (info.tag == TAG_FILES) {
                    FileEntry f;
                    if (!c.Text(&f.folder, e + "'s folder") || !c.Text(&f.name, e + "'s name") ||
                        !c.U8(&f.flags, e + "'s flags"))
                        return reading->programCode = 8, false;
                    textBytes = f.folder.size() + f.name.size() + 2;
                    block.files.push_back(f);
                } else if (info.tag == TAG_FOLDERS) {
                    FolderEntry f;
                    if (!c.U8(&f.levels, e + "'s levels") || !c.Text(&f.folder, e + "'s folder") ||
                        !c.Text(&f.file, e + "'s file"))
                        return reading->programCode = 8, false;
                    textBytes = f.folder.size() + f.file.size() + 2;
                    block.folders.push_back(f);
                } else {
                    RegistryEntry r;
                    if (!c.U32(&r.root, e + "'s root") || !c.Text(&r.path, e + "'s path"))
                        return reading->programCode = 8, false;
                    textBytes = r.path.size() + 1;
                    block.registry.push_back(r);
                }
                if (textBytes > ENTRY_TEXT_BYTES)
                    reading->notes.push_back(
                        where + ": " + e + " at " + At(entryAt) + " has texts of " +
                        std::to_string(textBytes) +
                        " bytes with their terminators, more than the program's " +
                        std::to_string(ENTRY_TEXT_BYTES) + "; the program drops it");
            }
            break;
        }
        case TAG_OPTIONS: {
            if (info.flags & 1) {
                damage = where + ": flag bit 0 of the header at " + At(position + 2) +
                         " is set, so the program refuses the options record (message 1)";
                return reading->programCode = 1, false;
            }
            Bytes options(image.begin() + long(payload),
                          image.begin() + long(payload + info.length));
            block.optionFlags = 0;
            block.program.clear();
            block.document.clear();
            reading->hasOptions = options.size() >= 12;
            if (!reading->hasOptions) {
                reading->notes.push_back(
                    where + ": an options record of " + std::to_string(options.size()) +
                    " bytes, shorter than its 12 fixed bytes; the program reads no flags, "
                    "program or document");
                break;
            }
            block.optionFlags = GetU32(options, 0);
            bool valid;
            block.program = OptionText(options, GetU32(options, 4), &valid);
            if (!valid)
                reading->notes.push_back(where + ": the program offset " +
                                         std::to_string(GetU32(options, 4)) +
                                         " points outside the record or at an unterminated text; "
                                         "the program runs none");
            block.document = OptionText(options, GetU32(options, 8), &valid);
            if (!valid)
                reading->notes.push_back(where + ": the document offset " +
                                         std::to_string(GetU32(options, 8)) +
                                         " points outside the record or at an unterminated text; "
                                         "the program opens none");
            if (block.optionFlags & ~OPTION_KNOWN)
                reading->notes.push_back(where +
                                         ": option flags beyond wait, keepTheme, UTF-8, "
                                         "restartDelete, folder tokens and silentShared are "
                                         "set; the program ignores them");
            break;
        }
        default:
            reading->notes.push_back(where + ": an unknown tag, skipped by its length");
            break;
        }
        position = payload + info.length;
    }
    const Block &block = reading->block;
    const size_t tables = 1 + block.furtherTexts.size();
    if (tables > 1 && block.languages.empty())
        reading->notes.push_back(stringsWhere + ": " + std::to_string(tables - 1) +
                                 (tables == 2 ? " further table" : " further tables") +
                                 " without a languages record, which the program skips");
    else if (tables > 1 && block.languages.size() != tables)
        reading->notes.push_back(
            "the languages record names " + std::to_string(block.languages.size()) +
            " languages for " + std::to_string(tables) +
            " tables of texts; the program takes a table's language by its place");
    else if (tables == 1 && !block.languages.empty())
        reading->notes.push_back("a languages record beside a single table of texts; the "
                                 "program shows that table in every language");
    for (size_t i = 0; i < block.languages.size(); i++)
        for (size_t j = 0; j < i; j++)
            if (block.languages[i] == block.languages[j]) {
                char id[8];
                std::snprintf(id, sizeof id, "0x%04X", unsigned(block.languages[i]));
                reading->notes.push_back("the languages record names language " + std::string(id) +
                                         " for tables " + std::to_string(j) + " and " +
                                         std::to_string(i));
                break;
            }
    if (block.codePage && (block.optionFlags & OPTION_UTF8))
        reading->notes.push_back("a code page record (" + std::to_string(block.codePage) +
                                 ") in a block marked UTF-8, whose texts are UTF-8 whatever it "
                                 "says");
    if (std::none_of(reading->records.begin(), reading->records.end(),
                     [](const RecordInfo &r) { return r.tag == TAG_OPTIONS; }))
        reading->notes.push_back(
            "no options record: the program runs with no flags, no program and no document");
    return true;
}

} // namespace pack
