// The builder's library: JSON manifests, code pages, the checks, stamping and reading back.
// Portable C++17 over pack.h; an installer written in C++ can link it directly.
#ifndef VANISH_BUILDER_H
#define VANISH_BUILDER_H

#include "pack.h"

#include <string>
#include <vector>

namespace pack {

// What the texts and paths are written in: UTF-8 (a block with OPTION_UTF8, read the same
// on every system), or one of the single-byte ANSI and OEM code pages of a legacy block,
// read in the ANSI code page of the system that runs it. Bytes 0x00-0x7F are ASCII in all.
constexpr int CODEPAGE_UTF8 = 65001; // the system's own number for UTF-8
bool IsSupportedCodePage(int page);
std::string SupportedCodePages(); // the single-byte ones: "437, 850, 1250, ..."
// UTF-8 and UTF-16 both ways; false with error where the input is ill-formed.
bool Utf8ToUtf16(const std::string &utf8, std::u16string *utf16, std::string *error);
bool Utf16ToUtf8(const std::u16string &utf16, std::string *utf8, std::string *error);
// UTF-8 to the page's bytes; false with error naming the character that does not fit, or
// the byte where ill-formed UTF-8 starts. U+0000 never fits.
bool EncodeText(const std::string &utf8, int page, std::string *bytes, std::string *error);
// The page's bytes to UTF-8; false with error naming a byte the code page leaves undefined,
// or the byte where ill-formed UTF-8 starts.
bool DecodeText(const std::string &bytes, int page, std::string *utf8, std::string *error);
// The length of a well-formed UTF-8 text in UTF-16 units, as the system measures a path:
// a character beyond U+FFFF counts twice.
size_t Utf16Length(const std::string &utf8);

// The message texts by role, in message-number order.
struct Role {
    const char *name;
    const char *defaultText; // "{name}" stands for the application's name
    bool formatted;          // shown through the one-argument formatting, with a path
};
const std::vector<Role> &Roles();

// The languages whose texts vanish-pack ships, English (the roles' defaults) first.
struct ShippedLanguage {
    const char *tag;       // BCP-47, as a manifest names it: "de", "pt-BR", "zh-TW"
    uint16_t id;           // the Windows language identifier (LANGID)
    int ansiCodePage;      // the ANSI code page of systems in that language
    const char *name;      // in English, for messages
    const char *otherTags; // further tags for the same identifier, separated by spaces
    const char *texts[17]; // one per role, "{name}" for the application's name; English's
                           // are null: its texts are the roles' defaults
};
const std::vector<ShippedLanguage> &ShippedLanguages();
const ShippedLanguage *FindShippedLanguage(uint16_t id); // null when not shipped
// A shipped language's text of a role, "{name}" unfilled.
const char *ShippedText(const ShippedLanguage &language, size_t role);
// A language as a manifest names it: a shipped language's tag or one of its other tags, in
// any case ("de", "DE-de", "zh-Hant"), or a number, a LANGID or an LCID (whose sort order is
// set aside): 1031, "1031" or "0x0407". False with error saying what is accepted.
bool ParseLanguage(const std::string &text, uint16_t *id, std::string *error);
bool LanguageFromNumber(long long value, uint16_t *id, std::string *error);
// How a manifest names a language: the shipped tag, or the identifier as "0x041D".
std::string LanguageTag(uint16_t id);

struct Diagnostic {
    enum Kind { Error, Warning } kind = Error;
    int number = 0;   // warnings: W1 to W13; errors: 0
    std::string path; // JSON path such as files[2].flags[0]; empty: the whole manifest
    std::string message;
};
// "FILE: error at PATH: MESSAGE" / "FILE: warning W3 at PATH: MESSAGE"
std::string FormatDiagnostic(const std::string &file, const Diagnostic &diagnostic);

// Folder tokens. The folder of a file or folder entry may begin with a token, a name in
// braces that is the whole first part of the path ("{programfiles}" or
// "{programfiles}\Acme"); the program resolves it on the system it runs on when the block
// has OPTION_FOLDER_TOKENS, and skips the entry when it cannot (an unknown name, a folder
// that system does not have).
const std::vector<std::string> &FolderTokens(); // the names, in small letters
std::string FolderTokenList();                  // "{programfiles}, {commonfiles}, ..."
enum class TokenForm {
    None,      // the path does not begin with "{"
    Known,     // a token the program knows, alone or before a backslash
    Malformed, // a "{" the program cannot read as a token
    Unknown    // a name the program does not know
};
// What a path begins with; why says what is wrong with a malformed or unknown token.
TokenForm ReadFolderToken(const std::string &path, std::string *why = nullptr);

// Folders the program protects on every machine, recognised by their shape since the tool
// cannot know the target machine: drive roots, every folder token alone, the Windows and
// Program Files trees' top folders, user profiles, and the shell folders by their usual last
// names. why says which.
bool IsProtectedFolderShape(const std::string &path, std::string *why);

// What the manifest says about the program itself.
enum class ExecutionLevel { Admin, User, Highest };
const char *ExecutionLevelName(ExecutionLevel level); // "admin", "user", "highest"
bool ParseExecutionLevel(const std::string &name, ExecutionLevel *level);
struct ProgramInfo {
    ExecutionLevel level = ExecutionLevel::Admin;
    bool hasVersion = false; // version information is written only with a version
    uint16_t version[4] = {0, 0, 0, 0};
    std::string versionText, name, publisher; // UTF-8
    std::string icon;                         // the .ico file, as the manifest names it
};

struct ManifestResult {
    Block block;
    ProgramInfo program;
    std::vector<Diagnostic> diagnostics;
    size_t Errors() const;
    size_t Warnings() const;
};
// Parses, checks and encodes a UTF-8 JSON manifest into a block in codePage: CODEPAGE_UTF8
// gives a UTF-8 block (OPTION_UTF8 set), a single-byte code page a legacy block. The block
// is usable when Errors() is 0. The text may also be UTF-16 with its byte order mark.
// uninstaller is the name the uninstaller has in the install folder (W11).
ManifestResult ReadManifest(const std::string &json, int codePage,
                            const std::string &uninstaller = "uninstall.exe");
// The checks alone, on a block as written. OPTION_UTF8 in its flags says how its texts are
// measured; codePage names the code page of a block without it, for the messages.
void CheckBlock(const Block &block, int codePage, std::vector<Diagnostic> *diagnostics,
                const std::string &uninstaller = "uninstall.exe");
// W14, on what the manifest says of the program: per-user folder tokens in an uninstaller
// that asks for administrator rights.
void CheckPerUserTokens(const Block &block, ExecutionLevel level,
                        std::vector<Diagnostic> *diagnostics);

// A manifest that builds the same block again, with the same code page: the texts of a
// block with OPTION_UTF8 are read as UTF-8, those of any other block in codePage. Returns
// false with error when a text cannot be written as JSON; notes tell where a rebuild lays
// the block out otherwise (texts missing from the table, flags the program does not know).
// program, when given, adds the execution level (unless admin), and the name, version and
// publisher of version information.
bool WriteManifest(const Block &block, int codePage, std::string *json, std::string *error,
                   std::vector<std::string> *notes, const ProgramInfo *program = nullptr);

// --- The program's file ----------------------------------------------------------------------

// A 32-bit PE file as far as the builder reads it.
constexpr size_t PE_RESOURCE = 2, PE_SECURITY = 4, PE_RELOCATION = 5; // data directories
struct PeSection {
    std::string name;
    uint32_t virtualSize = 0, virtualAddress = 0, rawSize = 0, rawOffset = 0, characteristics = 0;
};
struct PeFile {
    size_t optionalHeader = 0, sectionTable = 0; // file offsets
    uint16_t characteristics = 0;                // of the file header: 0x2000 a DLL
    uint32_t fileAlignment = 0, sectionAlignment = 0, sizeOfImage = 0, sizeOfHeaders = 0,
             checksum = 0;
    std::vector<std::pair<uint32_t, uint32_t>> directories; // 16 of (address, size)
    std::vector<PeSection> sections;                        // in table order
    size_t sectionsEnd = 0; // the end of the last section's raw data: where the program ends
};
bool ReadPe(const Bytes &image, PeFile *pe, std::string *error);
int PeSectionOf(const PeFile &pe, uint32_t rva); // index, or -1
// The names a 32-bit PE file exports by name, from its export directory (none when it has
// none); false with error when a part of the directory lies outside the file.
bool ReadPeExports(const Bytes &image, const PeFile &pe, std::vector<std::string> *names,
                   std::string *error);
uint32_t PeChecksum(const Bytes &image, const PeFile &pe);
void WritePeChecksum(Bytes &image, const PeFile &pe);
// What is wrong with a file's layout: sections that leave gaps or overlap, the image size,
// data directories outside their section, the certificate table, the checksum.
std::vector<std::string> CheckPeLayout(const Bytes &image);

// Resources by number: type, name, language.
struct Resource {
    uint16_t type = 0, name = 0, language = 0;
    uint32_t codePage = 0;
    Bytes data;
};
bool ReadResources(const Bytes &image, const PeFile &pe, std::vector<Resource> *resources,
                   std::string *error);
Bytes WriteResourceTree(std::vector<Resource> resources, uint32_t rva);
// A copy of a program (its sections and nothing after them) with a new resource section in
// place of the old one. The sections after it, only the relocations, move to make room.
bool ReplaceResources(const Bytes &program, const std::vector<Resource> &resources, Bytes *out,
                      std::string *error);

// The application manifest a built program carries: common controls 6, the execution level,
// the systems it knows from Vista on, and DPI awareness. The stub's own asks for common
// controls alone: its resources stay within a smaller page of the file.
std::string ProgramManifest(ExecutionLevel level);
bool ParseVersion(const std::string &text, uint16_t version[4]); // "1" to "1.2.3.4"
Bytes VersionResource(const ProgramInfo &info);
struct IconImage {
    uint8_t width = 0, height = 0, colours = 0;
    uint16_t planes = 0, bitCount = 0;
    Bytes data; // a bitmap or PNG image, as the resource holds it
};
bool ReadIconFile(const Bytes &ico, std::vector<IconImage> *images, std::string *error);
// Writes the manifest's choices into a program's resources: the application manifest
// always, the version information when there is a version (none otherwise), the icon when
// one is given.
bool ApplyProgramInfo(std::vector<Resource> &resources, const ProgramInfo &info,
                      const std::vector<IconImage> *icon, std::string *error);
// The level, version, name and publisher back from a built program; false, with a note,
// when its manifest is not one ProgramManifest writes (the stub's own, for one).
bool ReadProgramInfo(const Bytes &image, ProgramInfo *info, std::vector<std::string> *notes);

// --- Stamping -------------------------------------------------------------------------------

// A stub is what the build linked: the offset field holds the end of its last section's raw
// data, and nothing follows but a block (stamped) and a signature's certificate table.
enum class StubState { Fresh, Stamped, Unprepared };
struct StubInfo {
    uint32_t offset = 0;   // the offset field
    size_t programEnd = 0; // the end of the last section's raw data
    size_t blockEnd = 0;   // where the block ends: the certificate table, or the file's end
    uint32_t signatureOffset = 0, signatureSize = 0; // the certificate table; 0 if unsigned
};
// Unprepared, with error saying why and what to do: not a program, no single marker, a
// field of 0, or a file changed by another tool since the build.
StubState ReadStubState(const Bytes &image, StubInfo *info, std::string *error);
struct StampOptions {
    bool restamp = false;                         // replace the block of a stamped file
    bool stripSignature = false;                  // remove a signature rather than refuse the file
    const ProgramInfo *program = nullptr;         // null: keep the stub's own resources
    const std::vector<IconImage> *icon = nullptr; // null: keep the stub's icon
};
// A copy of the stub with the program's resources written, the block appended, the field
// set and the checksum made right. A stamped or signed stub is refused unless the options
// say to replace the block or remove the signature.
bool StampCopy(const Bytes &stub, const Bytes &block, const StampOptions &options, Bytes *out,
               std::string *error);
// Sets the field of a freshly linked program to its own length, and its checksum; refuses
// anything after its sections.
bool FinalizeImage(Bytes &image, std::string *error);

// Writes a temporary file beside path, then renames it over path: a failed write leaves
// no file behind and an existing file unchanged.
bool WriteFileAtomically(const std::string &path, const Bytes &data, std::string *error);

// The file entries of a staged install tree, as UTF-8, under the folder it is installed to:
// the install folder (".", the default, and ".\sub" below it), a folder below it
// (".\data"), a full path, or a path that begins with a folder token
// ("{programfiles}\Acme"). Each folder's own entry (an empty name) comes before its files
// and subfolders, so the program, which handles file entries from the last to the first,
// empties the deepest folders first and removes each folder after its contents; the top
// folder has an entry of its own unless it is the install folder, which the self-removal
// takes. The uninstaller's own file in the top folder is left out: the program cannot
// delete it while it runs, and its self-removal takes it afterwards.
struct ScanOptions {
    std::string uninstaller = "uninstall.exe"; // left out of the top folder
    std::string under = ".";                   // the folder the tree is installed to
    // A name in the tree must be well-formed UTF-8, or it is refused by name; with a code page
    // here, such a name is read in it instead. Windows hands names over as UTF-16.
    int nameCodePage = 0;
    // Flags from what each file is: font for .ttf, .otf, .fon and .ttc; comServer for a
    // program file that exports DllUnregisterServer; shared, only with confirmShared, for a DLL
    // in a tree installed under {system} or {commonfiles}.
    bool inferFlags = true;
    bool confirmShared = false;
};
// notes receives a line for each name read in nameCodePage, each flag inferred (and each
// shared flag left for confirmShared), and a top folder given no entry since the program
// protects it.
bool ScanTree(const std::string &root, const ScanOptions &options, std::vector<FileEntry> *entries,
              std::vector<std::string> *notes, std::string *error);
bool ScanTree(const std::string &root, std::vector<FileEntry> *entries, std::string *error,
              const std::string &uninstaller = "uninstall.exe", const std::string &under = ".");

// The code page a legacy block's texts are shown in: the one given (--codepage), else the
// one its code page record names, else 1252.
int ShownCodePage(const Block &block, int given);
// The readable report of inspect: which kind of block it is, and its texts as UTF-8 when
// it has OPTION_UTF8, in ShownCodePage(block, given) otherwise; every table of texts under
// its language.
std::string DescribeReading(const BlockReading &reading, int given);

} // namespace pack

#endif
