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

struct Diagnostic {
    enum Kind { Error, Warning } kind = Error;
    int number = 0;   // warnings: W1 to W10; errors: 0
    std::string path; // JSON path such as files[2].flags[0]; empty: the whole manifest
    std::string message;
};
// "FILE: error at PATH: MESSAGE" / "FILE: warning W3 at PATH: MESSAGE"
std::string FormatDiagnostic(const std::string &file, const Diagnostic &diagnostic);

struct ManifestResult {
    Block block;
    std::vector<Diagnostic> diagnostics;
    size_t Errors() const;
    size_t Warnings() const;
};
// Parses, checks and encodes a UTF-8 JSON manifest into a block in codePage: CODEPAGE_UTF8
// gives a UTF-8 block (OPTION_UTF8 set), a single-byte code page a legacy block. The block
// is usable when Errors() is 0.
ManifestResult ReadManifest(const std::string &json, int codePage);
// The checks alone, on a block as written. OPTION_UTF8 in its flags says how its texts are
// measured; codePage names the code page of a block without it, for the messages.
void CheckBlock(const Block &block, int codePage, std::vector<Diagnostic> *diagnostics);

// A manifest that builds the same block again, with the same code page: the texts of a
// block with OPTION_UTF8 are read as UTF-8, those of any other block in codePage. Returns
// false with error when a text cannot be written as JSON; notes tell where a rebuild lays
// the block out otherwise (texts missing from the table, flags the program does not know).
bool WriteManifest(const Block &block, int codePage, std::string *json, std::string *error,
                   std::vector<std::string> *notes);

// Stamping. A stub is fresh when its offset field holds its own length; stamped when the
// field points inside the file, at a block appended after the program.
enum class StubState { Fresh, Stamped, Unprepared };
StubState ReadStubState(const Bytes &image, uint32_t *offset, std::string *error);
// A copy of the stub with the block appended and the field set. A stamped stub is refused
// unless restamp, which cuts the old block off first.
bool StampCopy(const Bytes &stub, const Bytes &block, bool restamp, Bytes *out, std::string *error);
// Sets the field of a freshly linked program to its own length; refuses a stamped file.
bool FinalizeImage(Bytes &image, std::string *error);

// Writes a temporary file beside path, then renames it over path: a failed write leaves
// no file behind and an existing file unchanged.
bool WriteFileAtomically(const std::string &path, const Bytes &data, std::string *error);

// The file entries of a staged install tree, relative to it (".", ".\sub"), as UTF-8.
// Each folder's own entry (an empty name) comes before its files and subfolders, so the
// program, which handles file entries from the last to the first, empties the deepest
// folders first and removes each folder after its contents.
bool ScanTree(const std::string &root, std::vector<FileEntry> *entries, std::string *error);

// The readable report of inspect: which kind of block it is, and its texts as UTF-8 when
// it has OPTION_UTF8, in codePage otherwise.
std::string DescribeReading(const BlockReading &reading, int codePage);

} // namespace pack

#endif
