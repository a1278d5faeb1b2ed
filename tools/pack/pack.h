// Writing uninstall data blocks and stamping them onto a copy of the uninstaller.
// Portable C++: no operating-system calls, so the same code serves the host tools and
// the tests that run under Windows.
#ifndef VANISH_PACK_H
#define VANISH_PACK_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace pack {

using Bytes = std::vector<uint8_t>;

constexpr uint16_t TAG_STRINGS = 0x1234;
constexpr uint16_t TAG_FILES = 0x1235;
constexpr uint16_t TAG_FOLDERS = 0x1236;
constexpr uint16_t TAG_REGISTRY = 0x1237;
constexpr uint16_t TAG_OPTIONS = 0x123A;
constexpr uint16_t TAG_END = 0x7F7F;
// Records an older program skips by their length.
// The language of each table of the string-table record: a count, then one Windows language
// identifier (LANGID) per table, table 0's first. Written only when there are several tables;
// table 0 is the default, the one an older program shows.
constexpr uint16_t TAG_LANGUAGES = 0x1240;
// The code page a legacy block's texts are written in (32 bits); never in a UTF-8 block.
constexpr uint16_t TAG_CODEPAGE = 0x1241;
// Registry keys removed only when empty: a count, then per entry its levels (8 bits), root
// (32) and key path (counted). Such a key goes only when it has no subkeys and no values, and
// up to levels of its parents are tried the same way, stopping at a protected key.
constexpr uint16_t TAG_EMPTY_KEYS = 0x1242;

constexpr uint8_t FILE_SHARED = 0x01;
constexpr uint8_t FILE_FONT = 0x02;
constexpr uint8_t FILE_COMSERVER = 0x04;
constexpr uint8_t FILE_CHECKINUSE = 0x08;
constexpr uint32_t OPTION_WAIT = 0x01;
constexpr uint32_t OPTION_KEEPTHEME = 0x02;
// Every text of the block is UTF-8. Without it the texts are in the ANSI code page of the
// system that runs the program.
constexpr uint32_t OPTION_UTF8 = 0x04;
// A file in use at its removal goes at the next restart, and the folders it holds with it.
constexpr uint32_t OPTION_RESTART_DELETE = 0x08;
// The folder of a file or folder entry may begin with a folder token such as
// {programfiles}, which the program resolves on the system it runs on.
constexpr uint32_t OPTION_FOLDER_TOKENS = 0x10;
// Under /S, a shared file whose count reached 0 is removed; without it, /S keeps it.
constexpr uint32_t OPTION_SILENT_SHARED = 0x20;
// Every option bit the program knows.
constexpr uint32_t OPTION_KNOWN = OPTION_WAIT | OPTION_KEEPTHEME | OPTION_UTF8 |
                                  OPTION_RESTART_DELETE | OPTION_FOLDER_TOKENS |
                                  OPTION_SILENT_SHARED;

constexpr char MARKER[] = "wwgT)H"; // six bytes, followed by the 32-bit offset

// The program reads the texts of one file, folder or registry entry, each with a
// terminating zero, into a buffer of this many bytes, and drops an entry that overflows it.
constexpr size_t ENTRY_TEXT_BYTES =
    1556; // two paths of 259 UTF-16 units, 3 bytes each, and their terminators

struct FileEntry {
    std::string folder;
    std::string name;
    uint8_t flags = 0;
};
struct FolderEntry {
    uint8_t levels = 0;
    std::string folder;
    std::string file;
};
struct RegistryEntry {
    uint32_t root = 0;
    std::string path;
};
struct EmptyKeyEntry {
    uint8_t levels = 0; // parents tried after the key
    uint32_t root = 0;
    std::string path; // a key path, never a value
};

// A record as it will be written. The declared length defaults to the payload's size;
// tests set it to anything to write damaged blocks.
struct Record {
    uint16_t tag = 0;
    uint8_t flags = 0;
    uint8_t reserved = 0;
    std::optional<uint32_t> declaredLength;
    Bytes payload;
};

void PutU8(Bytes &out, uint8_t value);
void PutU16(Bytes &out, uint16_t value);
void PutU32(Bytes &out, uint32_t value);
void PutText(Bytes &out, const std::string &text); // 16-bit count, then the bytes
// Little-endian values in place; the caller has checked that they lie inside b.
uint16_t GetU16(const Bytes &b, size_t at);
uint32_t GetU32(const Bytes &b, size_t at);
void SetU32(Bytes &b, size_t at, uint32_t value);

// Payloads.
Bytes StringTablePayload(const std::vector<std::string> &texts);
Bytes StringTablesPayload(const std::vector<std::vector<std::string>> &tables);
Bytes FileEntriesPayload(const std::vector<FileEntry> &entries);
Bytes FolderEntriesPayload(const std::vector<FolderEntry> &entries);
Bytes RegistryEntriesPayload(const std::vector<RegistryEntry> &entries);
Bytes OptionsPayload(uint32_t flags, const std::string &program, const std::string &document);
Bytes LanguagesPayload(const std::vector<uint16_t> &languages);
Bytes CodePagePayload(uint32_t codePage);
Bytes EmptyKeysPayload(const std::vector<EmptyKeyEntry> &entries);

// Records and whole blocks.
Record MakeRecord(uint16_t tag, Bytes payload);
Bytes EncodeRecord(const Record &record);
Bytes EncodeRecords(const std::vector<Record> &records); // no end record is added

// A well-formed block: strings, languages and code page (when they have content), files,
// folders, registry, empty keys (when there are some), options, end.
struct Block {
    std::vector<std::string> texts;                     // table 0: the default language's
    std::vector<std::vector<std::string>> furtherTexts; // tables 1 and on, one per language
    std::vector<uint16_t> languages; // one LANGID per table, table 0's first; written only
                                     // with further tables
    uint32_t codePage = 0;           // a legacy block's code page; 0: no record
    std::vector<FileEntry> files;
    std::vector<FolderEntry> folders;
    std::vector<RegistryEntry> registry;
    std::vector<EmptyKeyEntry> emptyKeys;
    uint32_t optionFlags = 0;
    std::string program;
    std::string document;
};
Bytes EncodeBlock(const Block &block);

// The locator. FindMarker returns how often the six marker bytes occur and, through
// position, where the first occurrence starts.
size_t FindMarker(const Bytes &image, size_t *position);
bool ReadOffset(const Bytes &image, uint32_t *offset, std::string *error);
bool WriteOffset(Bytes &image, uint32_t offset, std::string *error);
// Sets the offset field to the image's length and appends the block there.
bool Stamp(Bytes &image, const Bytes &block, std::string *error);

// Reading a block back the way the program's loader reads it, without trusting any count.
struct RecordInfo {
    size_t offset = 0; // of the header, in the file
    uint16_t tag = 0;
    uint8_t flags = 0;
    uint32_t length = 0;
};
struct BlockReading {
    Block block;                     // the texts of every table, the entries in order, the options
    bool hasOptions = false;         // a complete options record (12 bytes or more) was read
    std::vector<RecordInfo> records; // every header read, in order
    std::vector<std::string>
        notes;           // where the program reads it otherwise than a plain rebuild would
    size_t end = 0;      // the byte after the end record (when read whole)
    std::string damage;  // empty when the stream reads whole up to its end record
    int programCode = 0; // the message number the program shows for the damage (8 or 1)
};
// Reads the stream starting at offset. Returns false with damage set (which record, which
// byte, what was expected) when the program would refuse it.
bool ReadBlock(const Bytes &image, size_t offset, BlockReading *reading);
const char *RecordName(uint16_t tag);

bool ReadWholeFile(const std::string &path, Bytes *data, std::string *error);
bool WriteWholeFile(const std::string &path, const Bytes &data, std::string *error);

} // namespace pack

#endif
