#include "pack.h"

#include <cstring>
#include <fstream>
#include <iterator>

namespace pack {

void PutU8(Bytes &out, uint8_t value) {
    out.push_back(value);
}

void PutU16(Bytes &out, uint16_t value) {
    out.push_back(uint8_t(value));
    out.push_back(uint8_t(value >> 8));
}

void PutU32(Bytes &out, uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8)
        out.push_back(uint8_t(value >> shift));
}

uint16_t GetU16(const Bytes &b, size_t at) {
    return uint16_t(b[at] | b[at + 1] << 8);
}

uint32_t GetU32(const Bytes &b, size_t at) {
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 |
           uint32_t(b[at + 3]) << 24;
}

void SetU32(Bytes &b, size_t at, uint32_t value) {
    for (int i = 0; i < 4; i++)
        b[at + i] = uint8_t(value >> (8 * i));
}

void PutText(Bytes &out, const std::string &text) {
    PutU16(out, uint16_t(text.size()));
    out.insert(out.end(), text.begin(), text.end());
}

Bytes StringTablesPayload(const std::vector<std::vector<std::string>> &tables) {
    Bytes out;
    PutU16(out, uint16_t(tables.size()));
    for (const auto &table : tables) {
        PutU16(out, uint16_t(table.size()));
        for (const auto &text : table)
            PutText(out, text);
    }
    return out;
}

Bytes StringTablePayload(const std::vector<std::string> &texts) {
    return StringTablesPayload({texts});
}

Bytes FileEntriesPayload(const std::vector<FileEntry> &entries) {
    Bytes out;
    PutU32(out, uint32_t(entries.size()));
    for (const auto &e : entries) {
        PutText(out, e.folder);
        PutText(out, e.name);
        PutU8(out, e.flags);
    }
    return out;
}

Bytes FolderEntriesPayload(const std::vector<FolderEntry> &entries) {
    Bytes out;
    PutU32(out, uint32_t(entries.size()));
    for (const auto &e : entries) {
        PutU8(out, e.levels);
        PutText(out, e.folder);
        PutText(out, e.file);
    }
    return out;
}

Bytes RegistryEntriesPayload(const std::vector<RegistryEntry> &entries) {
    Bytes out;
    PutU32(out, uint32_t(entries.size()));
    for (const auto &e : entries) {
        PutU32(out, e.root);
        PutText(out, e.path);
    }
    return out;
}

// The two texts follow the 12 fixed bytes, each NUL-terminated; an empty text gets offset 0.
Bytes OptionsPayload(uint32_t flags, const std::string &program, const std::string &document) {
    Bytes strings;
    uint32_t programOffset = 0, documentOffset = 0;
    if (!program.empty()) {
        programOffset = uint32_t(12 + strings.size());
        strings.insert(strings.end(), program.begin(), program.end());
        strings.push_back(0);
    }
    if (!document.empty()) {
        documentOffset = uint32_t(12 + strings.size());
        strings.insert(strings.end(), document.begin(), document.end());
        strings.push_back(0);
    }
    Bytes out;
    PutU32(out, flags);
    PutU32(out, programOffset);
    PutU32(out, documentOffset);
    out.insert(out.end(), strings.begin(), strings.end());
    return out;
}

Bytes LanguagesPayload(const std::vector<uint16_t> &languages) {
    Bytes out;
    PutU16(out, uint16_t(languages.size()));
    for (uint16_t language : languages)
        PutU16(out, language);
    return out;
}

Bytes CodePagePayload(uint32_t codePage) {
    Bytes out;
    PutU32(out, codePage);
    return out;
}

Bytes EmptyKeysPayload(const std::vector<EmptyKeyEntry> &entries) {
    Bytes out;
    PutU32(out, uint32_t(entries.size()));
    for (const auto &e : entries) {
        PutU8(out, e.levels);
        PutU32(out, e.root);
        PutText(out, e.path);
    }
    return out;
}

Record MakeRecord(uint16_t tag, Bytes payload) {
    Record record;
    record.tag = tag;
    record.payload = std::move(payload);
    return record;
}

Bytes EncodeRecord(const Record &record) {
    Bytes out;
    PutU16(out, record.tag);
    PutU8(out, record.flags);
    PutU8(out, record.reserved);
    PutU32(out, record.declaredLength.value_or(uint32_t(record.payload.size())));
    out.insert(out.end(), record.payload.begin(), record.payload.end());
    return out;
}

Bytes EncodeRecords(const std::vector<Record> &records) {
    Bytes out;
    for (const auto &record : records) {
        Bytes one = EncodeRecord(record);
        out.insert(out.end(), one.begin(), one.end());
    }
    return out;
}

// The records an older program skips come only when they say something, so that a block
// without them is laid out exactly as before they existed.
Bytes EncodeBlock(const Block &block) {
    std::vector<std::vector<std::string>> tables = {block.texts};
    tables.insert(tables.end(), block.furtherTexts.begin(), block.furtherTexts.end());
    std::vector<Record> records = {MakeRecord(TAG_STRINGS, StringTablesPayload(tables))};
    if (tables.size() > 1)
        records.push_back(MakeRecord(TAG_LANGUAGES, LanguagesPayload(block.languages)));
    if (block.codePage)
        records.push_back(MakeRecord(TAG_CODEPAGE, CodePagePayload(block.codePage)));
    records.push_back(MakeRecord(TAG_FILES, FileEntriesPayload(block.files)));
    records.push_back(MakeRecord(TAG_FOLDERS, FolderEntriesPayload(block.folders)));
    records.push_back(MakeRecord(TAG_REGISTRY, RegistryEntriesPayload(block.registry)));
    if (!block.emptyKeys.empty())
        records.push_back(MakeRecord(TAG_EMPTY_KEYS, EmptyKeysPayload(block.emptyKeys)));
    records.push_back(
        MakeRecord(TAG_OPTIONS, OptionsPayload(block.optionFlags, block.program, block.document)));
    records.push_back(MakeRecord(TAG_END, {}));
    return EncodeRecords(records);
}

size_t FindMarker(const Bytes &image, size_t *position) {
    const size_t markerSize = sizeof MARKER - 1;
    size_t count = 0;
    for (size_t i = 0; i + markerSize <= image.size(); i++) {
        if (std::memcmp(&image[i], MARKER, markerSize) == 0) {
            if (count++ == 0 && position)
                *position = i;
        }
    }
    return count;
}

static bool LocateField(const Bytes &image, size_t *field, std::string *error) {
    size_t position = 0;
    size_t count = FindMarker(image, &position);
    if (count != 1) {
        if (error)
            *error = "the marker occurs " + std::to_string(count) + " times, not once";
        return false;
    }
    *field = position + sizeof MARKER - 1;
    if (*field + 4 > image.size()) {
        if (error)
            *error = "the offset field runs past the end of the file";
        return false;
    }
    return true;
}

bool ReadOffset(const Bytes &image, uint32_t *offset, std::string *error) {
    size_t field;
    if (!LocateField(image, &field, error))
        return false;
    *offset = uint32_t(image[field]) | uint32_t(image[field + 1]) << 8 |
              uint32_t(image[field + 2]) << 16 | uint32_t(image[field + 3]) << 24;
    return true;
}

bool WriteOffset(Bytes &image, uint32_t offset, std::string *error) {
    size_t field;
    if (!LocateField(image, &field, error))
        return false;
    for (int i = 0; i < 4; i++)
        image[field + i] = uint8_t(offset >> (8 * i));
    return true;
}

bool Stamp(Bytes &image, const Bytes &block, std::string *error) {
    if (!WriteOffset(image, uint32_t(image.size()), error))
        return false;
    image.insert(image.end(), block.begin(), block.end());
    return true;
}

bool ReadWholeFile(const std::string &path, Bytes *data, std::string *error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        if (error)
            *error = "cannot open " + path;
        return false;
    }
    data->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

bool WriteWholeFile(const std::string &path, const Bytes &data, std::string *error) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(data.data()), std::streamsize(data.size()));
    if (!out) {
        if (error)
            *error = "cannot write " + path;
        return false;
    }
    return true;
}

} // namespace pack
