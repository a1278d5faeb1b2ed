// The builder: manifests to bytes, the checks, reading back, and the vanish-pack command.
#include "builder.h"
#include "support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <thread>
#include <map>
#include <algorithm>
#include <cstring>
#include <sys/wait.h>
#include <unistd.h>

using namespace host_support;

namespace {

// 12345 as "12,345", as the tool writes sizes.
std::string Thousands(size_t value) {
    std::string digits = std::to_string(value), out;
    for (size_t i = 0; i < digits.size(); i++)
        out += (i && (digits.size() - i) % 3 == 0 ? "," : "") + digits.substr(i, 1);
    return out;
}

// A program laid out as the linker lays out uninstall.exe: headers, code, data holding the
// marker, the resources (the stub's manifest and icon) and the relocations last, each
// section on its own 4 KiB page and 512-byte boundary. The code holds two absolute
// addresses that the relocations list.
constexpr uint32_t kImageBase = 0x400000, kText = 0x1000, kData = 0x2000, kRsrc = 0x3000,
                   kReloc = 0x4000;
constexpr size_t kPe = 0x40, kOpt = kPe + 24, kSectionTable = kOpt + 0xE0;
constexpr size_t kText0 = 0x200, kFieldAt = 0x400 + 6; // the code's and the data's raw data

Bytes StubResources() {
    std::string xml = ReadText(kSource + "/res/uninstall.manifest");
    std::string text = ReadText(kSource + "/res/uninstall.ico");
    Bytes ico(text.begin(), text.end());
    std::vector<pack::Resource> resources(3);
    resources[0] = {24, 1, 0x409, 0, Bytes(xml.begin(), xml.end())};
    // The program's first image (16 pixels, 16 colours) stands for its icon.
    auto image = ico.begin() + pack::GetU32(ico, 18);
    resources[1] = {3, 1, 0x409, 0, Bytes(image, image + pack::GetU32(ico, 14))};
    // The icon file's header and that image's directory entry, with the image's resource
    // number for its offset.
    Bytes group(ico.begin(), ico.begin() + 20);
    group[4] = 1;
    group[5] = 0;
    group[18] = 1;
    group[19] = 0;
    resources[2] = {14, 800, 0x409, 0, group};
    return pack::WriteResourceTree(resources, kRsrc);
}

Bytes TinyProgram() {
    const Bytes resources = StubResources();
    Bytes text(0x40, 0x90);
    pack::SetU32(text, 0x10, kImageBase + kData + 8);
    pack::SetU32(text, 0x20, kImageBase + kData + 12);
    Bytes data = {'w', 'w', 'g', 'T', ')', 'H', 0, 0, 0, 0, 'd', 'a', 't', 'a', 0, 0};
    Bytes reloc = {0, 0x10, 0, 0, 12, 0, 0, 0, 0x10, 0x30, 0x20, 0x30};
    pack::SetU32(reloc, 0, kText);
    struct {
        const char *name;
        uint32_t address, characteristics;
        const Bytes &data;
    } sections[] = {{".text", kText, 0x60000020, text},
                    {".data", kData, 0xC0000040, data},
                    {".rsrc", kRsrc, 0x40000040, resources},
                    {".reloc", kReloc, 0x42000040, reloc}};
    Bytes image(0x200, 0);
    image[0] = 'M';
    image[1] = 'Z';
    pack::SetU32(image, 0x3C, kPe);
    pack::SetU32(image, kPe, 0x4550);
    image[kPe + 4] = 0x4C; // i386
    image[kPe + 5] = 0x01;
    image[kPe + 6] = 4; // sections
    image[kPe + 20] = 0xE0;
    image[kPe + 22] = 0x02; // an executable
    image[kOpt] = 0x0B;
    image[kOpt + 1] = 0x01;
    pack::SetU32(image, kOpt + 16, kText); // entry point
    pack::SetU32(image, kOpt + 28, kImageBase);
    pack::SetU32(image, kOpt + 32, 0x1000); // section alignment
    pack::SetU32(image, kOpt + 36, 0x200);  // file alignment
    image[kOpt + 68] = 2;                   // GUI
    pack::SetU32(image, kOpt + 60, 0x200);  // headers
    pack::SetU32(image, kOpt + 92, 16);
    uint32_t initialized = 0;
    for (size_t i = 0; i < 4; i++) {
        size_t entry = kSectionTable + 40 * i, raw = image.size();
        std::copy(sections[i].name, sections[i].name + std::strlen(sections[i].name),
                  image.begin() + long(entry));
        pack::SetU32(image, entry + 8, uint32_t(sections[i].data.size()));
        pack::SetU32(image, entry + 12, sections[i].address);
        uint32_t rawSize = uint32_t(sections[i].data.size() + 0x1FF) / 0x200 * 0x200;
        pack::SetU32(image, entry + 16, rawSize);
        pack::SetU32(image, entry + 20, uint32_t(raw));
        pack::SetU32(image, entry + 36, sections[i].characteristics);
        image.insert(image.end(), sections[i].data.begin(), sections[i].data.end());
        image.resize(raw + rawSize);
        if (i)
            initialized += rawSize;
    }
    pack::SetU32(image, kOpt + 4, 0x200);
    pack::SetU32(image, kOpt + 8, initialized);
    pack::SetU32(image, kOpt + 56, kReloc + 0x1000); // image size
    pack::SetU32(image, kOpt + 96 + 8 * 2, kRsrc);
    pack::SetU32(image, kOpt + 96 + 8 * 2 + 4, uint32_t(resources.size()));
    pack::SetU32(image, kOpt + 96 + 8 * 5, kReloc);
    pack::SetU32(image, kOpt + 96 + 8 * 5 + 4, uint32_t(reloc.size()));
    pack::SetU32(image, kFieldAt, uint32_t(image.size()));
    pack::PeFile pe;
    std::string error;
    EXPECT_TRUE(pack::ReadPe(image, &pe, &error)) << error;
    pack::WritePeChecksum(image, pe);
    return image;
}

// The stub as the build leaves it: the field holds the file's own length.
Bytes FreshStub() {
    return TinyProgram();
}
const size_t kProgramEnd = FreshStub().size();

// As a resource editor leaves a file: a resource added, the sections after it moved, and
// whatever followed the sections (a block) dropped; the offset field is not its business.
Bytes EditedByAnotherTool(const Bytes &image) {
    pack::PeFile pe;
    std::vector<pack::Resource> resources;
    std::string error;
    EXPECT_TRUE(pack::ReadPe(image, &pe, &error)) << error;
    EXPECT_TRUE(pack::ReadResources(image, pe, &resources, &error)) << error;
    resources.push_back({10, 1, 0x409, 0, Bytes(3000, 'r')});
    Bytes edited;
    EXPECT_TRUE(pack::ReplaceResources(Bytes(image.begin(), image.begin() + long(pe.sectionsEnd)),
                                       resources, &edited, &error))
        << error;
    return edited;
}

// As a signing tool leaves a file: padded to 8 bytes, a certificate table appended and
// the security directory pointing at it.
Bytes Signed(Bytes image, size_t certificates = 1200) {
    image.resize((image.size() + 7) / 8 * 8);
    size_t at = image.size();
    image.resize(at + certificates, 0x5A);
    pack::SetU32(image, at, uint32_t(certificates)); // WIN_CERTIFICATE: length, revision, type
    pack::SetU32(image, at + 4, 0x00020200);
    pack::SetU32(image, kOpt + 96 + 8 * 4, uint32_t(at));
    pack::SetU32(image, kOpt + 96 + 8 * 4 + 4, uint32_t(certificates));
    pack::PeFile pe;
    std::string error;
    EXPECT_TRUE(pack::ReadPe(image, &pe, &error)) << error;
    pack::WritePeChecksum(image, pe);
    return image;
}

// --- Golden bytes -------------------------------------------------------------------------

uint32_t Le32(const Bytes &bytes, size_t at) {
    return uint32_t(bytes[at]) | uint32_t(bytes[at + 1]) << 8 | uint32_t(bytes[at + 2]) << 16 |
           uint32_t(bytes[at + 3]) << 24;
}

TEST(Manifest, TheFormatExampleBuildsTheHandAssembledBlock) {
    std::string manifest = FencedAfter(kSource + "/docs/format.md", "<!-- example manifest -->");
    ASSERT_FALSE(manifest.empty()) << "docs/format.md lost its example manifest";
    pack::ManifestResult result = Read(manifest);
    ASSERT_EQ(0u, result.diagnostics.size()) << Diagnostics(result);
    // clang-format off
    const std::string texts[] = {"Acme", "Remove Acme?", "Acme is gone.", "&Yes", "Yes to &all", "&No",
        "No to a&ll", "No memory: %s", "Damaged: %s", "%s is read-only. Remove it?",
        "Remove the shared file %s?", "Files", "Folders", "Folders", "Registry", "Close Acme.",
        "Restart to finish."};
    Bytes strings = {1, 0, 17, 0};
    for (const auto &t : texts) {
        strings.push_back(uint8_t(t.size()));
        strings.push_back(0);
        strings.insert(strings.end(), t.begin(), t.end());
    }
    Bytes expected = {0x34, 0x12, 0, 0, uint8_t(strings.size()), 0, 0, 0};
    expected.insert(expected.end(), strings.begin(), strings.end());
    Bytes rest = {
        0x35, 0x12, 0, 0, 18, 0, 0, 0,   1, 0, 0, 0,            // files: one entry
        1, 0, '.',   8, 0, 'a', 'c', 'm', 'e', '.', 'e', 'x', 'e',   0x08,
        0x36, 0x12, 0, 0, 33, 0, 0, 0,   1, 0, 0, 0,            // folders: one entry
        1,   19, 0, '{', 'a', 'p', 'p', 'd', 'a', 't', 'a', '}', '\\', 'A', 'c', 'm', 'e', '\\',
        'l', 'o', 'g', 's',   5, 0, 'a', '.', 'l', 'o', 'g',
        0x37, 0x12, 0, 0, 28, 0, 0, 0,   1, 0, 0, 0,            // registry: one entry
        0x01, 0, 0, 0x80,   18, 0, 'S', 'o', 'f', 't', 'w', 'a', 'r', 'e', '\\', 'A', 'c', 'm', 'e',
        '\\', '\\', 'V', 'e', 'r',
        0x3A, 0x12, 0, 0, 22, 0, 0, 0,          // options: wait, UTF-8, restart, tokens
        0x1D, 0, 0, 0,   12, 0, 0, 0,   0, 0, 0, 0,   'c', 'l', 'e', 'a', 'n', '.', 'e', 'x', 'e', 0,
        0x7F, 0x7F, 0, 0, 0, 0, 0, 0};                         // end
    // clang-format on
    expected.insert(expected.end(), rest.begin(), rest.end());
    EXPECT_EQ(expected, pack::EncodeBlock(result.block));

    std::string error;
    Bytes listed =
        ParseListing(FencedAfter(kSource + "/docs/format.md", "<!-- example block -->"), &error);
    EXPECT_EQ("", error);
    EXPECT_EQ(expected, listed) << "the hex listing in docs/format.md no longer matches the block";

    // In a legacy code page the same ASCII manifest differs by the UTF-8 flag and by the
    // code page record after the texts, which a program that knows neither skips: it reads a
    // UTF-8 block of ASCII names alike. restartDelete false clears the restart flag and
    // nothing else.
    pack::ManifestResult legacy = Read(manifest, 1252);
    ASSERT_EQ(0u, legacy.diagnostics.size()) << Diagnostics(legacy);
    size_t flags = expected.size() - 8 - 22;
    ASSERT_EQ(Bytes({0x3A, 0x12}),
              Bytes(expected.begin() + long(flags) - 8, expected.begin() + long(flags) - 6));
    expected[flags] = 0x19;
    const Bytes codePage = {0x41, 0x12, 0, 0, 4, 0, 0, 0, 0xE4, 0x04, 0, 0}; // 1252
    expected.insert(expected.begin() + 8 + long(strings.size()), codePage.begin(), codePage.end());
    EXPECT_EQ(expected, pack::EncodeBlock(legacy.block));
    std::string noRestart = manifest;
    const std::string wait = "\"wait\": true";
    ASSERT_NE(std::string::npos, noRestart.find(wait));
    noRestart.replace(noRestart.find(wait), wait.size(), wait + ", \"restartDelete\": false");
    expected[flags + codePage.size()] = 0x11;
    EXPECT_EQ(expected, pack::EncodeBlock(Read(noRestart, 1252).block));
}

TEST(Manifest, AUtf8BlockCarriesTheFlagAndTheUtf8Bytes) {
    pack::ManifestResult result = Read(
        R"({"name": "A", "texts": {"caption": "Zürich 😀"}, "folders": [{"folder": "C:\\fzj\\機能"}]})");
    ASSERT_EQ(0u, result.diagnostics.size()) << Diagnostics(result);
    Bytes block = pack::EncodeBlock(result.block);
    // The caption, text 0, right after the table and string counts.
    Bytes caption = {12, 0, 'Z', 0xC3, 0xBC, 'r', 'i', 'c', 'h', ' ', 0xF0, 0x9F, 0x98, 0x80};
    EXPECT_EQ(caption, Bytes(block.begin() + 12, block.begin() + 12 + long(caption.size())));
    // clang-format off
    Bytes rest = {
        0x35, 0x12, 0, 0, 4, 0, 0, 0,   0, 0, 0, 0,             // files: none
        0x36, 0x12, 0, 0, 22, 0, 0, 0,   1, 0, 0, 0,            // folders: one entry
        0,   13, 0, 'C', ':', '\\', 'f', 'z', 'j', '\\', 0xE6, 0xA9, 0x9F, 0xE8, 0x83, 0xBD,
        0, 0,
        0x37, 0x12, 0, 0, 4, 0, 0, 0,   0, 0, 0, 0,             // registry: none
        0x3A, 0x12, 0, 0, 12, 0, 0, 0,                          // options
        0x0C, 0, 0, 0,   0, 0, 0, 0,   0, 0, 0, 0,              // flags: UTF-8, restart
        0x7F, 0x7F, 0, 0, 0, 0, 0, 0};                          // end
    // clang-format on
    size_t strings = 8 + Le32(block, 4);
    EXPECT_EQ(rest, Bytes(block.begin() + long(strings), block.end()));
}

TEST(Manifest, ANameAloneFillsEveryTextWithItsDefault) {
    pack::ManifestResult result = Read(R"({"name": "Acme Notes"})");
    ASSERT_EQ(0u, result.Errors()) << Diagnostics(result);
    EXPECT_EQ(0u, result.Warnings()) << Diagnostics(result);
    ASSERT_EQ(17u, result.block.texts.size());
    EXPECT_EQ("Acme Notes Uninstall", result.block.texts[0]);
    EXPECT_EQ("Remove Acme Notes and all of its components?", result.block.texts[1]);
    EXPECT_EQ("Acme Notes is still running. Close it, then choose Retry.", result.block.texts[15]);
    EXPECT_EQ("Restart your computer to finish removing Acme Notes.", result.block.texts[16]);
    for (size_t n = 0; n < 17; n++) {
        SCOPED_TRACE(n);
        EXPECT_FALSE(result.block.texts[n].empty());
        EXPECT_EQ(std::string::npos, result.block.texts[n].find("{name}"));
    }
    EXPECT_NE(std::string::npos, result.block.texts[9].find("%s"));
    EXPECT_NE(std::string::npos, result.block.texts[10].find("%s"));
}

TEST(Manifest, TextsAndPathsAreWrittenInTheChosenCodePage) {
    struct Case {
        int page;
        const char *utf8;
        std::string bytes;
    } cases[] = {
        {1252, "Möchten Sie Grüße.txt löschen? €",
         "M\xF6"
         "chten Sie Gr\xFC\xDF"
         "e.txt l\xF6schen? \x80"},
        {1250, "Přejete si odebrat",
         "P\xF8"
         "ejete si odebrat"},
        {1251, "Удалить", "\xD3\xE4\xE0\xEB\xE8\xF2\xFC"},
        {437, "Grüße",
         "Gr\x81\xE1"
         "e"},
        {850, "Grüße",
         "Gr\x81\xE1"
         "e"},
        {pack::CODEPAGE_UTF8, "Grüße Удалить 機能 😀 𠀀",
         "Gr\xC3\xBC\xC3\x9F"
         "e \xD0\xA3\xD0\xB4\xD0\xB0\xD0\xBB\xD0\xB8\xD1\x82\xD1\x8C \xE6\xA9\x9F\xE8\x83\xBD "
         "\xF0\x9F\x98\x80 \xF0\xA0\x80\x80"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.page);
        std::string json = std::string(R"({"name": "A", "texts": {"confirm": ")") + c.utf8 +
                           R"("}, "files": [{"folder": ".", "name": ")" + c.utf8 + R"("}]})";
        pack::ManifestResult result = Read(json, c.page);
        ASSERT_EQ(0u, result.Errors()) << Diagnostics(result);
        EXPECT_EQ(c.bytes, result.block.texts[1]);
        EXPECT_EQ(c.bytes, result.block.files[0].name);
        EXPECT_EQ(c.page == pack::CODEPAGE_UTF8,
                  (result.block.optionFlags & pack::OPTION_UTF8) != 0);
    }
}

TEST(Manifest, Utf8IsCheckedBothWays) {
    struct Case {
        const char *name;
        std::string bytes;
        const char *error; // empty: well-formed
    } cases[] = {
        {"every length of sequence", "a\xC3\xA9\xE6\xA9\x9F\xF0\x9F\x98\x80", ""},
        {"a lone continuation byte", "ab\x80", "byte 2 (0x80)"},
        {"a sequence cut short", "a\xE6\xA9", "byte 1 (0xE6)"},
        {"an overlong NUL", "a\xC0\x80", "byte 1 (0xC0)"},
        {"an overlong slash", "\xE0\x80\xAF", "byte 0 (0xE0)"},
        {"a surrogate", "x\xED\xA0\x80", "byte 1 (0xED)"},
        {"beyond U+10FFFF", "\xF4\x90\x80\x80", "byte 0 (0xF4)"},
        {"a byte no UTF-8 uses", "\xFF", "byte 0 (0xFF)"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        std::string encoded, decoded, error;
        bool wellFormed = std::string(c.error).empty();
        EXPECT_EQ(wellFormed, pack::EncodeText(c.bytes, pack::CODEPAGE_UTF8, &encoded, &error));
        EXPECT_EQ(wellFormed, pack::DecodeText(c.bytes, pack::CODEPAGE_UTF8, &decoded, &error));
        if (wellFormed) {
            EXPECT_EQ(c.bytes, encoded);
            EXPECT_EQ(c.bytes, decoded);
        } else {
            EXPECT_NE(std::string::npos, error.find(c.error)) << error;
        }
    }
    EXPECT_EQ(9u, pack::Utf16Length("C:\\fzj\\機能"));
    EXPECT_EQ(4u, pack::Utf16Length("\xF0\x9F\x98\x80\xF0\xA0\x80\x80"))
        << "two each beyond U+FFFF";
}

// --- Round trip ---------------------------------------------------------------------------

struct RoundTrip {
    const char *name;
    int page;
    const char *json;
};

const RoundTrip kRoundTrips[] = {
    {"a name alone", 1252, R"({"name": "Acme Notes"})"},
    {"every text, non-ASCII", 1252,
     R"({"texts": {"caption": "Äcme", "confirm": "Möchten Sie Äcme entfernen?", "complete": "Fertig.",
         "yes": "&Ja", "yesToAll": "Ja, &alle", "no": "&Nein", "noToAll": "N&ein, keine",
         "outOfMemory": "Kein Speicher: %s", "damaged": "Beschädigt: %s", "readOnlyQuestion": "",
         "sharedQuestion": "", "statusFiles": "Dateien …", "statusFolders": "Ordner",
         "statusFileFolders": "Programmordner", "statusRegistry": "Registrierung", "inUse": "Äcme läuft.",
         "restartNeeded": "Starten Sie neu, um Äcme ganz zu entfernen."}})"},
    {"Cyrillic in 1251", 1251,
     R"({"name": "Заметки", "files": [{"folder": ".\\данные", "name": "файл.txt"}]})"},
    {"every file flag", 1252,
     R"({"name": "A", "files": [
         {"folder": ".", "name": "a.dll", "flags": ["shared"]},
         {"folder": "C:\\Windows\\Fonts", "name": "a.ttf", "flags": ["font"]},
         {"folder": ".\\bin", "name": "c.dll", "flags": ["comServer", "checkInUse"]},
         {"folder": ".", "name": "all.dll", "flags": ["checkInUse", "comServer", "font", "shared"]},
         {"folder": ".\\empty", "name": ""}]})"},
    {"folder entries", 1252,
     R"({"name": "A", "folders": [
         {"folder": "C:\\Acme\\logs"},
         {"folder": "C:\\Acme\\a\\b\\c\\d", "file": "x.log", "levels": 2},
         {"folder": "D:\\Data\\Acme", "file": "", "levels": 0}]})"},
    {"registry roots and values", 1252,
     R"({"name": "A", "registry": [
         {"root": "HKLM", "key": "Software\\Acme\\Notes"},
         {"root": "HKCU", "key": "Software\\Acme", "value": "Version"},
         {"root": "HKCR", "key": ".acme"},
         {"root": "HKU", "key": ".DEFAULT\\Software\\Acme"},
         {"root": "HKCC", "key": "Software\\Acme"},
         {"root": 2147483650, "key": "Software\\Acme", "value": ""},
         {"root": 305419896, "key": "Software\\Acme\\Odd"}]})"},
    {"every option", 1252,
     R"({"name": "A", "options": {"program": "bin\\cleanup.exe", "document": "https://example.test/bye",
         "wait": true, "keepTheme": true}})"},
    {"options, one flag each", 1252,
     R"({"name": "A", "options": {"keepTheme": true, "document": "C:\\Acme\\bye.htm"}})"},
    {"UTF-8, every field in several scripts", pack::CODEPAGE_UTF8,
     R"({"name": "Заметки 機能", "texts": {"confirm": "Supprimer « Café » ? 😀", "statusFiles": "𠀀…"},
         "files": [{"folder": ".\\шаблоны", "name": "письмо.tpl", "flags": ["shared"]},
                   {"folder": "C:\\fzj\\機能", "name": "😀.txt"}],
         "folders": [{"folder": "D:\\Données\\Ελληνικά", "file": "журнал.log", "levels": 1}],
         "registry": [{"root": "HKCU", "key": "Software\\機能"},
                      {"root": "HKLM", "key": "Software\\Café", "value": "Größe 😀"}],
         "options": {"program": "очистка.exe", "document": "https://example.test/tschüss", "wait": true}})"},
    {"UTF-8, ASCII only", pack::CODEPAGE_UTF8, R"({"name": "Acme Notes"})"},
    {"folder tokens, in any case", pack::CODEPAGE_UTF8,
     R"({"name": "A", "files": [{"folder": "{ProgramFiles}\\Acme", "name": "a.exe"},
         {"folder": "{commonfiles}\\Acme\\機能", "name": ""}, {"folder": "{fonts}", "name": "a.ttf", "flags": ["font"]}],
         "folders": [{"folder": "{COMMONAPPDATA}\\Acme\\cache", "file": "x.db", "levels": 1}],
         "options": {"restartDelete": false}})"},
    {"no restart, legacy", 1252,
     R"({"name": "A", "options": {"wait": true, "restartDelete": false}})"},
    {"several languages", pack::CODEPAGE_UTF8,
     R"({"name": "Acme", "languages": ["de", "ar", "zh-TW"],
         "texts": {"en": {"confirm": "Remove?"}, "de": {"caption": "Acme"}, "1053": {"caption": "Acme",
         "confirm": "Ta bort?", "complete": "Klart.", "yes": "&Ja", "yesToAll": "Ja till &alla",
         "no": "&Nej", "noToAll": "Nej till a&lla", "outOfMemory": "%s", "damaged": "%s",
         "readOnlyQuestion": "%s?", "sharedQuestion": "%s?", "statusFiles": "1", "statusFolders": "2",
         "statusFileFolders": "3", "statusRegistry": "4", "inUse": "5", "restartNeeded": "6"}}})"},
    {"several languages, legacy", 1252,
     R"({"name": "Acme", "language": "fr", "languages": ["de", "es", "nl"]})"},
    {"one table in another language", pack::CODEPAGE_UTF8, R"({"name": "Acme", "language": "ru"})"},
    {"keys removed only when empty, and the silent shared-file choice, legacy", 1252,
     R"({"name": "A", "registry": [{"root": "HKCU", "key": "Software\\Café"},
         {"root": "HKCU", "key": "Software\\Café\\Notes", "ifEmpty": true, "levels": 1},
         {"root": 2147483650, "key": "Software\\Café", "ifEmpty": true}],
         "options": {"silentShared": "remove"}})"},
};

TEST(Manifest, InspectAsJsonBuildsTheSameBlockAgain) {
    for (const RoundTrip &c : kRoundTrips) {
        SCOPED_TRACE(c.name);
        pack::ManifestResult first = Read(c.json, c.page);
        ASSERT_EQ(0u, first.Errors()) << Diagnostics(first);
        Bytes image, block = pack::EncodeBlock(first.block);
        std::string error;
        ASSERT_TRUE(pack::StampCopy(FreshStub(), block, {}, &image, &error)) << error;

        pack::BlockReading reading;
        ASSERT_TRUE(pack::ReadBlock(image, kProgramEnd, &reading)) << reading.damage;
        EXPECT_EQ(image.size(), reading.end);
        EXPECT_TRUE(reading.notes.empty()) << reading.notes.front();
        std::string json;
        std::vector<std::string> notes;
        ASSERT_TRUE(pack::WriteManifest(reading.block, c.page, &json, &error, &notes)) << error;
        EXPECT_TRUE(notes.empty());
        pack::ManifestResult second = Read(json, c.page);
        ASSERT_EQ(0u, second.Errors()) << Diagnostics(second) << json;
        EXPECT_EQ(block, pack::EncodeBlock(second.block)) << json;
    }
}

// --- Errors and warnings -----------------------------------------------------------------

struct Bad {
    const char *json;
    const char *path;    // where it is reported
    const char *message; // a part of the message
    int page = pack::CODEPAGE_UTF8;
};

TEST(Manifest, EachErrorIsNamedWithItsPlace) {
    const std::string big(65536, 'x');
    const std::string tooLong = R"({"name": "A", "texts": {"confirm": ")" + big + R"("}})";
    const Bad cases[] = {
        {"{\n  \"name\": \"A\",\n  \"files\": [\n    {\"folder\": \".\" \"name\": \"a\"}\n  ]\n}",
         "", "line 4, column 25"},
        {"", "", "line 1, column 1"},
        {R"(["name"])", "", "expected an object"},
        {R"({"name": 5})", "name", "expected a string, found an integer"},
        {R"({"name": "A", "files": {"folder": "."}})", "files", "expected a list"},
        {R"({"name": "A", "files": [{"folder": ".", "name": true}]})", "files[0].name",
         "found true or false"},
        {R"({"name": "A", "files": [{"folder": "."}]})", "files[0].name", "missing"},
        {R"({"name": "A", "files": [{"folder": ".", "name": "a", "flags": "shared"}]})",
         "files[0].flags", "expected a list of flag names"},
        {R"({"name": "A", "folders": [{"folder": "C:\\A", "levels": "2"}]})", "folders[0].levels",
         "expected a whole number"},
        {R"({"name": "A", "options": {"wait": 1}})", "options.wait", "expected true or false"},
        {R"({"name": "A", "registry": [{"root": [], "key": "Software\\A"}]})", "registry[0].root",
         "HKCR, HKCU, HKLM, HKU, HKCC or a number"},
        {R"({"name": "A", "vendor": 2})", "vendor",
         "allowed here: name, executionLevel, version, publisher, icon, language, languages, "
         "texts, files, folders, registry, options"},
        {R"({"name": "A", "executionLevel": "asInvoker"})", "executionLevel",
         "unknown level \"asInvoker\"; give \"admin\""},
        {R"({"name": "A", "executionLevel": true})", "executionLevel", "expected a string"},
        {R"({"name": "A", "version": 2})", "version", "expected a string, found an integer"},
        {R"({"name": "A", "version": "1.2.3.4.5"})", "version", "one to four numbers"},
        {R"({"name": "A", "version": "1.65536"})", "version", "from 0 to 65535"},
        {R"({"name": "A", "version": "1..2"})", "version", "is not a version"},
        {R"({"name": "A", "version": "2.1."})", "version", "is not a version"},
        {R"({"name": "A", "version": "v2"})", "version", "is not a version"},
        {R"({"name": "A", "version": ""})", "version", "is not a version"},
        {R"({"name": "A", "publisher": "Acme Ltd"})", "version", "the publisher is written"},
        {R"({"texts": {"caption": "x", "confirm": "y", "complete": "z", "inUse": "w",
            "restartNeeded": "v"}, "version": "1.0"})",
         "name", "version information names the application"},
        {R"({"name": "A", "icon": ""})", "icon", "empty"},
        {R"({"name": "A", "icon": 7})", "icon", "expected a string"},
        {R"({"name": "A", "files": [{"folder": ".", "name": "a", "size": 3}]})", "files[0].size",
         "allowed here: folder, name, flags"},
        {R"({"name": "A", "options": {"run": "x.exe"}})", "options.run",
         "allowed here: program, document, wait, keepTheme"},
        {R"({"name": "A", "texts": {"title": "x"}})", "texts.title",
         "the roles are caption, confirm"},
        {R"({"name": "A", "files": [{"folder": ".", "name": "a", "flags": ["comserver"]}]})",
         "files[0].flags[0]", "the flags are shared, font, comServer, checkInUse"},
        {R"({"name": "A", "registry": [{"root": "HKEY_LOCAL_MACHINE", "key": "Software\\A"}]})",
         "registry[0].root", "use HKCR, HKCU, HKLM, HKU, HKCC or a number"},
        {R"({"name": "A", "registry": [{"root": -1, "key": "Software\\A"}]})", "registry[0].root",
         "out of range"},
        {R"({"name": "A", "folders": [{"folder": "C:\\A", "levels": 300}]})", "folders[0].levels",
         "0 to 255"},
        {R"({"name": "A", "folders": [{"folder": "C:\\A", "levels": -1}]})", "folders[0].levels",
         "0 to 255"},
        {tooLong.c_str(), "texts.confirm", "more than the 65,535"},
        {R"({"name": "A", "texts": {"confirm": "Entfernen? 中"}})", "texts.confirm", "U+4E2D",
         1252},
        {R"({"name": "A", "files": [{"folder": ".", "name": "😀.txt"}]})", "files[0].name",
         "U+1F600", 1251},
        {R"({"name": "A", "files": [{"folder": ".", "name": "Grüße.txt"}]})", "files[0].name",
         "code page 1251", 1251},
        {R"({"name": "A", "texts": {"caption": "a\u0000b"}})", "texts.caption", "NUL"},
        {R"({"name": "A", "options": {"document": "a\u0000b"}})", "options.document", "NUL", 1252},
        {R"({"name": "A"})", "", "code page 932 is not supported; use UTF-8 or one of 437", 932},
        {R"({"name": "A", "options": {"program": "a.exe", "program": "b.exe"}})", "options.program",
         "one program"},
        {R"({"name": "A", "options": {"document": "a.htm", "document": "b.htm"}})",
         "options.document", "one document"},
        {R"({"name": "A", "name": "B"})", "name", "given twice"},
        {R"({"files": []})", "name", "need the application's name"},
        {R"({"name": ""})", "name", "empty"},
        {R"({"name": "A", "registry": [{"root": "HKCU", "key": "Software\\A", "value": "x\\y"}]})",
         "registry[0].value", "cannot hold a backslash"},
        {R"({"name": "A", "registry": [{"root": "HKCU", "key": "Software\\A\\\\B"}]})",
         "registry[0].key", "reads as a value"},
        {R"({"name": "A", "options": {"restartDelete": "no"}})", "options.restartDelete",
         "expected true or false, found a string"},
        {R"({"name": "A", "files": [{"folder": "{userprofile}\\Acme", "name": "a.txt"}]})",
         "files[0].folder",
         "\"{userprofile}\" is not a folder token; the tokens are {programfiles}, {commonfiles}, "
         "{programs}"},
        {R"({"name": "A", "files": [{"folder": "{programfiles}Acme", "name": "a.txt"}]})",
         "files[0].folder", "\"{programfiles}\" is not followed by a backslash"},
        {R"({"name": "A", "files": [{"folder": "{programfiles\\Acme", "name": "a.txt"}]})",
         "files[0].folder", "holds no \"}\""},
        {R"({"name": "A", "files": [{"folder": "{}", "name": "a.txt"}]})", "files[0].folder",
         "\"{}\" is not a folder token"},
        {R"({"name": "A", "folders": [{"folder": "{temp}\\Acme", "file": "a.log"}]})",
         "folders[0].folder", "the program skips this entry on every system"},
        {R"({"name": "A", "folders": [{"folder": "{program files}"}]})", "folders[0].folder",
         "is not a folder token"},
    };
    for (const Bad &c : cases) {
        SCOPED_TRACE(std::string(c.json).substr(0, 120));
        pack::ManifestResult result = Read(c.json, c.page);
        ASSERT_EQ(1u, result.Errors()) << Diagnostics(result);
        const pack::Diagnostic &d = result.diagnostics[0];
        EXPECT_EQ(pack::Diagnostic::Error, d.kind);
        EXPECT_EQ(c.path, d.path) << d.message;
        EXPECT_NE(std::string::npos, d.message.find(c.message)) << d.message;
    }
}

struct Warned {
    const char *name;
    const char *json;
    int number;
    const char *path;
    int page = pack::CODEPAGE_UTF8;
};

const Warned kWarnings[] = {
    {"file path too long", R"({"name": "A", "files": [{"folder": "C:\\x", "name": "%LONG%"}]})", 1,
     "files[0]"},
    {"relative path too long",
     R"({"name": "A", "files": [{"folder": ".\\%LONG%", "name": "a.txt"}]})", 1, "files[0]"},
    {"folder with its file too long",
     R"({"name": "A", "folders": [{"folder": "C:\\Acme", "file": "%LONG%"}]})", 1, "folders[0]"},
    {"UTF-8 path of 261 UTF-16 units, stored in 518 bytes",
     R"({"name": "A", "files": [{"folder": "C:\\x", "name": "%EMOJI128%"}]})", 1, "files[0]"},
    {"UTF-8 folder of 261 UTF-16 units",
     R"({"name": "A", "folders": [{"folder": "C:\\x\\%EMOJI128%"}]})", 1, "folders[0]"},
    {"UTF-8 key path of 1,800 bytes, beyond the program's entry buffer",
     R"({"name": "A", "registry": [{"root": "HKCU", "key": "Software\\%CJK600%"}]})", 1,
     "registry[0]"},
    {"legacy path of 300 characters",
     R"({"name": "A", "files": [{"folder": "C:\\x", "name": "%LONG%"}]})", 1, "files[0]", 1252},
    {"text over 1,023 bytes", R"({"name": "A", "texts": {"complete": "%LONG%%LONG%%LONG%%LONG%"}})",
     2, "texts.complete"},
    {"two %s", R"({"name": "A", "texts": {"readOnlyQuestion": "%s is read-only: %s"}})", 3,
     "texts.readOnlyQuestion"},
    {"%d beside %s", R"({"name": "A", "texts": {"sharedQuestion": "Remove %s (%d users)?"}})", 3,
     "texts.sharedQuestion"},
    {"lone percent", R"({"name": "A", "texts": {"damaged": "100% broken: %s"}})", 3,
     "texts.damaged"},
    {"%% without %s", R"({"name": "A", "texts": {"outOfMemory": "Out of memory (100%%)."}})", 3,
     "texts.outOfMemory"},
    {"empty caption", R"({"name": "A", "texts": {"caption": ""}})", 4, "texts.caption"},
    {"empty confirmation", R"({"name": "A", "texts": {"confirm": ""}})", 4, "texts.confirm"},
    {"empty completion", R"({"name": "A", "texts": {"complete": ""}})", 4, "texts.complete"},
    {"relative folder without .\\",
     R"({"name": "A", "files": [{"folder": "data", "name": "a.txt"}]})", 5, "files[0].folder"},
    {"dot folder that is not .\\",
     R"({"name": "A", "files": [{"folder": "..\\data", "name": "a.txt"}]})", 5, "files[0].folder"},
    {"forward slash", R"({"name": "A", "files": [{"folder": "./data", "name": "a.txt"}]})", 5,
     "files[0].folder"},
    {"folder entry without a folder",
     R"({"name": "A", "folders": [{"folder": "", "file": "a.log"}]})", 5, "folders[0].folder"},
    {"relative folder entry", R"({"name": "A", "folders": [{"folder": ".\\logs"}]})", 5,
     "folders[0].folder"},
    {"protected key", R"({"name": "A", "registry": [{"root": "HKLM", "key": "Software"}]})", 6,
     "registry[0].key"},
    {"protected key, trailing backslash and case",
     R"({"name": "A", "registry": [{"root": "HKCU", "key": "software\\microsoft\\windows\\currentversion\\"}]})",
     6, "registry[0].key"},
    {"key directly below CurrentVersion",
     R"({"name": "A", "registry": [{"root": "HKLM", "key": "Software\\Microsoft\\Windows\\CurrentVersion\\Run"}]})",
     6, "registry[0].key"},
    {"protected key with leading and doubled backslashes",
     R"({"name": "A", "registry": [{"root": "HKLM", "key": "\\Software\\\\Policies\\"}]})", 6,
     "registry[0].key"},
    {"key below System",
     R"({"name": "A", "registry": [{"root": "HKLM", "key": "System\\CurrentControlSet\\Services\\Acme"}]})",
     6, "registry[0].key"},
    {"class key under HKCR", R"({"name": "A", "registry": [{"root": "HKCR", "key": "CLSID"}]})", 6,
     "registry[0].key"},
    {"class key under Software\\Classes",
     R"({"name": "A", "registry": [{"root": "HKCU", "key": "Software\\Classes\\.exe"}]})", 6,
     "registry[0].key"},
    {"whole root", R"({"name": "A", "registry": [{"root": "HKCU", "key": ""}]})", 6,
     "registry[0].key"},
    {"walk to a drive root", R"({"name": "A", "folders": [{"folder": "C:\\A\\B", "levels": 2}]})",
     7, "folders[0]"},
    {"walk to Program Files",
     R"({"name": "A", "folders": [{"folder": "C:\\Program Files\\Acme\\logs", "levels": 2}]})", 7,
     "folders[0]"},
    {"walk to the Start menu's programs",
     R"({"name": "A", "folders": [{"folder": "C:\\Users\\Ann\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs\\Acme", "levels": 1}]})",
     7, "folders[0]"},
    {"file entry naming a system folder",
     R"({"name": "A", "files": [{"folder": "C:\\Windows", "name": ""}]})", 7, "files[0]"},
    {"duplicate file",
     R"({"name": "A", "files": [{"folder": ".", "name": "a.txt"}, {"folder": ".", "name": "A.TXT"}]})",
     8, "files[1]"},
    {"duplicate folder",
     R"({"name": "A", "folders": [{"folder": "C:\\Acme"}, {"folder": "c:\\acme"}]})", 8,
     "folders[1]"},
    {"duplicate registry",
     R"({"name": "A", "registry": [{"root": "HKCU", "key": "Software\\A"}, {"root": 2147483649, "key": "Software\\A"}]})",
     8, "registry[1]"},
    {"absolute program", R"({"name": "A", "options": {"program": "C:\\Acme\\cleanup.exe"}})", 9,
     "options.program"},
    {"rooted program", R"({"name": "A", "options": {"program": "\\cleanup.exe"}})", 9,
     "options.program"},
    {"legacy text", R"({"name": "A", "texts": {"confirm": "Möchten Sie A entfernen?"}})", 10,
     "texts.confirm", 1252},
    {"legacy file name", R"({"name": "A", "files": [{"folder": ".", "name": "Grüße.txt"}]})", 10,
     "files[0].name", 1252},
    {"legacy folder of a file",
     R"({"name": "A", "files": [{"folder": ".\\данные", "name": "a.txt"}]})", 10, "files[0].folder",
     1251},
    {"legacy folder entry", R"({"name": "A", "folders": [{"folder": "C:\\Données"}]})", 10,
     "folders[0].folder", 850},
    {"legacy file in a folder entry",
     R"({"name": "A", "folders": [{"folder": "C:\\Acme", "file": "über.log"}]})", 10,
     "folders[0].file", 437},
    {"the uninstaller's own file, in any case",
     R"({"name": "A", "files": [{"folder": ".", "name": "Uninstall.EXE"}]})", 11, "files[0]"},
    {"legacy registry key",
     R"({"name": "A", "registry": [{"root": "HKCU", "key": "Software\\Café"}]})", 10,
     "registry[0].key", 1252},
    {"legacy registry value",
     R"({"name": "A", "registry": [{"root": "HKCU", "key": "Software\\A", "value": "Größe"}]})", 10,
     "registry[0].value", 1252},
    {"legacy program", R"({"name": "A", "options": {"program": "čistič.exe"}})", 10,
     "options.program", 1250},
    {"legacy document", R"({"name": "A", "options": {"document": "https://example.test/tschüss"}})",
     10, "options.document", 1252},
    {"path with a token too long",
     R"({"name": "A", "files": [{"folder": "{programfiles}\\%LONG%", "name": "a"}]})", 1,
     "files[0]"},
    {"folder entry with a token too long",
     R"({"name": "A", "folders": [{"folder": "{commonappdata}\\%LONG%"}]})", 1, "folders[0]"},
    {"walk from a token to the token's folder",
     R"({"name": "A", "folders": [{"folder": "{programfiles}\\Acme", "levels": 1}]})", 7,
     "folders[0]"},
    {"file entry naming a token's folder, with a backslash",
     R"({"name": "A", "files": [{"folder": "{CommonDesktop}\\", "name": ""}]})", 7, "files[0]"},
    {"token later in a path",
     R"({"name": "A", "files": [{"folder": "C:\\Acme\\{system}", "name": "a"}]})", 12,
     "files[0].folder"},
    {"second token after the first",
     R"({"name": "A", "folders": [{"folder": "{windows}\\{fonts}"}]})", 12, "folders[0].folder"},
    {"token in a relative path",
     R"({"name": "A", "files": [{"folder": ".\\{appdata}", "name": "a"}]})", 12, "files[0].folder"},
    {"token in a file name",
     R"({"name": "A", "files": [{"folder": ".", "name": "{desktop}.lnk"}]})", 12, "files[0].name"},
    {"token in a folder entry's file",
     R"({"name": "A", "folders": [{"folder": "C:\\Acme", "file": "{Fonts}\\a.ttf"}]})", 12,
     "folders[0].file"},
    {"token in a registry key",
     R"({"name": "A", "registry": [{"root": "HKCU", "key": "Software\\{programfiles}"}]})", 12,
     "registry[0].key"},
    {"token in a registry value",
     R"({"name": "A", "registry": [{"root": "HKCU", "key": "Software\\A", "value": "{AppData}"}]})",
     12, "registry[0].value"},
    {"token in the program", R"({"name": "A", "options": {"program": "{system}\\x.exe"}})", 12,
     "options.program"},
    {"token in the document", R"({"name": "A", "options": {"document": "{documents}\\a.txt"}})", 12,
     "options.document"},
    {"one user's folder in an administrator's uninstaller",
     R"({"name": "A", "files": [{"folder": "{AppData}\\Acme", "name": "a.txt"}]})", 14,
     "files[0].folder"},
    {"one user's folder as a folder entry",
     R"({"name": "A", "executionLevel": "admin", "folders": [{"folder": "{startmenu}\\Acme"}]})",
     14, "folders[0].folder"},
};

std::string Repeat(const std::string &text, size_t count) {
    std::string out;
    while (count--)
        out += text;
    return out;
}

// Long names: %LONG% 300 ASCII letters; %E250% 250 "é" (500 bytes as UTF-8);
// %CJK200% 200 CJK characters (600 bytes), %CJK600% 600 (1,800 bytes); %EMOJI128% 128 U+1F600 (256
// UTF-16 units, 512 bytes).
std::string Expand(const char *json) {
    const std::pair<std::string, std::string> names[] = {{"%LONG%", std::string(300, 'n')},
                                                         {"%E250%", Repeat("é", 250)},
                                                         {"%CJK200%", Repeat("機", 200)},
                                                         {"%CJK600%", Repeat("機", 600)},
                                                         {"%EMOJI128%", Repeat("😀", 128)}};
    std::string text = json;
    for (const auto &name : names)
        for (size_t at; (at = text.find(name.first)) != std::string::npos;)
            text.replace(at, name.first.size(), name.second);
    return text;
}

TEST(Manifest, EachWarningHasItsNumberAndPath) {
    for (const Warned &c : kWarnings) {
        SCOPED_TRACE(c.name);
        pack::ManifestResult result = Read(Expand(c.json), c.page);
        ASSERT_EQ(0u, result.Errors()) << Diagnostics(result);
        ASSERT_EQ(1u, result.Warnings()) << Diagnostics(result);
        EXPECT_EQ(c.number, result.diagnostics[0].number) << Diagnostics(result);
        EXPECT_EQ(c.path, result.diagnostics[0].path);
    }
}

TEST(Manifest, OrdinaryEntriesDrawNoWarning) {
    std::vector<const char *> quiet = {
        R"j({"name": "A", "texts": {"readOnlyQuestion": "%s is read-only (100%% sure?)", "statusFiles": "50%"}})j",
        R"({"name": "A", "registry": [{"root": "HKLM", "key": "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Acme"},
            {"root": "HKLM", "key": "Software\\Microsoft\\Windows\\CurrentVersion\\Run", "value": "Acme"},
            {"root": "HKCU", "key": "Software\\Classes\\.acme"}, {"root": "HKCR", "key": "Acme.Document"}]})",
        R"({"name": "A", "folders": [{"folder": "C:\\Program Files\\Acme\\logs", "levels": 1},
            {"folder": "C:\\Users\\Ann\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs\\Acme"}]})",
        R"({"name": "A", "files": [{"folder": "\\\\server\\share\\acme", "name": "a.txt"}],
            "options": {"program": "bin\\cleanup.exe"}})",
        // 255 UTF-16 units in 506 bytes: within both limits.
        R"({"name": "A", "files": [{"folder": "C:\\x", "name": "%E250%"}]})",
        // Any script is fine in a UTF-8 block.
        // Every token, in several cases, in an uninstaller for one user (whose own folders the
        // per-user tokens name); a brace that names no token is a name like any other.
        R"({"name": "A", "executionLevel": "user", "files": [{"folder": "{programfiles}\\Acme", "name": "a.exe"},
            {"folder": "{CommonFiles}\\Acme", "name": "a.dll", "flags": ["shared"]},
            {"folder": "{programs}\\Acme", "name": "a.lnk"}, {"folder": "{commonprograms}\\Acme", "name": "b.lnk"},
            {"folder": "{startmenu}", "name": "a.lnk"}, {"folder": "{commonstartmenu}", "name": "b.lnk"},
            {"folder": "{desktop}", "name": "a.lnk"}, {"folder": "{commondesktop}", "name": "b.lnk"},
            {"folder": "{startup}", "name": "a.lnk"}, {"folder": "{commonstartup}", "name": "b.lnk"},
            {"folder": "{appdata}\\Acme", "name": ""}, {"folder": "{localappdata}\\Acme", "name": ""},
            {"folder": "{documents}\\Acme Notes", "name": "n.txt"}, {"folder": "{FONTS}", "name": "a.ttf", "flags": ["font"]},
            {"folder": "{windows}", "name": "acme.ini"}, {"folder": "{system}", "name": "acme.dll", "flags": ["shared"]},
            {"folder": "C:\\Acme\\{build 7}", "name": "{x}.txt"}],
            "folders": [{"folder": "{commonappdata}\\Acme\\cache", "file": "i.db", "levels": 1}],
            "registry": [{"root": "HKCR", "key": "CLSID\\{0B5E2C19-0000-4000-8000-000000000001}"}]})",
        R"({"name": "Заметки", "texts": {"confirm": "機能を削除しますか？"},
            "files": [{"folder": ".\\données", "name": "😀.txt"}],
            "registry": [{"root": "HKCU", "key": "Software\\Café", "value": "Größe"}],
            "options": {"program": "очистка.exe", "document": "https://example.test/tschüss"}})",
    };
    const std::string notepad =
        "\xEF\xBB\xBF{\"name\": \"A\"} // a byte order mark, as Notepad writes, and a comment\n";
    quiet.push_back(notepad.c_str());
    for (const char *json : quiet) {
        SCOPED_TRACE(json);
        pack::ManifestResult result = Read(Expand(json));
        EXPECT_EQ(0u, result.diagnostics.size()) << Diagnostics(result);
    }
}

TEST(Manifest, TheExamplesAreSilent) {
    std::string files[] = {ReadText(kSource + "/examples/sample.json"),
                           FencedAfter(kSource + "/docs/manifest.md", "<!-- complete example -->"),
                           FencedAfter(kSource + "/docs/manifest.md", "<!-- languages example -->"),
                           FencedAfter(kSource + "/README.md", "<!-- languages example -->")};
    for (const std::string &json : files) {
        ASSERT_FALSE(json.empty());
        pack::ManifestResult result = Read(json);
        EXPECT_EQ(0u, result.diagnostics.size()) << Diagnostics(result);
    }
}

TEST(Manifest, Utf16IsReadAndOtherEncodingsAreNamed) {
    const std::string json =
        R"({"name": "Zürich 😀", "files": [{"folder": ".", "name": "機能.txt"}]})";
    std::u16string units;
    std::string error;
    ASSERT_TRUE(pack::Utf8ToUtf16(json, &units, &error)) << error;
    std::string little, big;
    for (char16_t u : units) {
        little += {char(u & 0xFF), char(u >> 8)};
        big += {char(u >> 8), char(u & 0xFF)};
    }
    const std::string leMark = "\xFF\xFE", beMark = "\xFE\xFF";
    struct Case {
        const char *name;
        std::string text;
        const char *refusal; // empty: read as the UTF-8 manifest
    } cases[] = {
        {"UTF-16 little-endian, as Windows PowerShell 5 writes", leMark + little, ""},
        {"UTF-16 big-endian", beMark + big, ""},
        {"UTF-8 with a byte order mark", "\xEF\xBB\xBF" + json, ""},
        {"UTF-16 little-endian without a mark", little,
         "UTF-16 little-endian without a byte order mark"},
        {"UTF-16 big-endian without a mark", big, "UTF-16 big-endian without a byte order mark"},
        {"UTF-32 little-endian", std::string("\xFF\xFE\0\0{\0\0\0", 8), "the file is UTF-32"},
        {"UTF-32 big-endian", std::string("\0\0\xFE\xFF\0\0\0{", 8), "the file is UTF-32"},
        {"a cut UTF-16 file", leMark + little.substr(0, 7), "odd number of bytes"},
        {"half a surrogate pair", leMark + std::string("{\0\"\0\x3D\xD8\"\0", 8),
         "a lone surrogate (0xD83D)"},
    };
    const Bytes expected = pack::EncodeBlock(Read(json).block);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        pack::ManifestResult result = Read(c.text);
        if (*c.refusal) {
            ASSERT_EQ(1u, result.Errors()) << Diagnostics(result);
            EXPECT_NE(std::string::npos, result.diagnostics[0].message.find(c.refusal))
                << Diagnostics(result);
        } else {
            ASSERT_EQ(0u, result.diagnostics.size()) << Diagnostics(result);
            EXPECT_EQ(expected, pack::EncodeBlock(result.block));
            EXPECT_EQ("Zürich 😀", result.program.name);
        }
    }
}

TEST(Manifest, TheProgramsKeysAreReadWithTheirDefaults) {
    struct Case {
        const char *json;
        pack::ExecutionLevel level;
        bool hasVersion;
        std::vector<uint16_t> version;
    } cases[] = {
        {R"({"name": "A"})", pack::ExecutionLevel::Admin, false, {0, 0, 0, 0}},
        {R"({"name": "A", "executionLevel": "admin", "version": "7"})",
         pack::ExecutionLevel::Admin,
         true,
         {7, 0, 0, 0}},
        {R"({"name": "A", "executionLevel": "user", "version": "2.1"})",
         pack::ExecutionLevel::User,
         true,
         {2, 1, 0, 0}},
        {R"({"name": "A", "executionLevel": "highest", "version": "65535.0.00.7"})",
         pack::ExecutionLevel::Highest,
         true,
         {65535, 0, 0, 7}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.json);
        pack::ManifestResult result = Read(c.json);
        ASSERT_EQ(0u, result.diagnostics.size()) << Diagnostics(result);
        EXPECT_EQ(c.level, result.program.level);
        EXPECT_EQ(c.hasVersion, result.program.hasVersion);
        EXPECT_EQ(c.version,
                  std::vector<uint16_t>(result.program.version, result.program.version + 4));
    }
}

TEST(Manifest, TheUninstallersOwnFileIsNamedByItsInstalledName) {
    const char *json = R"({"name": "A", "files": [{"folder": ".", "name": "remove.exe"},
        {"folder": ".", "name": "uninstall.exe"}, {"folder": ".\\old", "name": "remove.exe"}]})";
    pack::ManifestResult result = pack::ReadManifest(json, pack::CODEPAGE_UTF8, "Remove.exe");
    ASSERT_EQ(1u, result.diagnostics.size()) << Diagnostics(result);
    EXPECT_EQ(11, result.diagnostics[0].number);
    EXPECT_EQ("files[0]", result.diagnostics[0].path);
}

// --- Restart and folder tokens -----------------------------------------------------------

TEST(Manifest, TheRestartAndTokenFlagsFollowTheManifest) {
    const uint32_t utf8 = pack::OPTION_UTF8, restart = pack::OPTION_RESTART_DELETE,
                   tokens = pack::OPTION_FOLDER_TOKENS;
    struct Case {
        const char *name;
        const char *json;
        uint32_t flags;
        int page = pack::CODEPAGE_UTF8;
    } cases[] = {
        {"by default", R"({"name": "A"})", utf8 | restart},
        {"restartDelete true", R"({"name": "A", "options": {"restartDelete": true}})",
         utf8 | restart},
        {"restartDelete false", R"({"name": "A", "options": {"restartDelete": false}})", utf8},
        {"restartDelete false beside wait",
         R"({"name": "A", "options": {"wait": true, "restartDelete": false}})",
         utf8 | pack::OPTION_WAIT},
        {"a file entry's folder with a token",
         R"({"name": "A", "files": [{"folder": "{programfiles}\\Acme", "name": "a.exe"}]})",
         utf8 | restart | tokens},
        {"a folder entry with a token, no restart",
         R"({"name": "A", "folders": [{"folder": "{commonappdata}\\Acme"}],
             "options": {"restartDelete": false}})",
         utf8 | tokens},
        {"a legacy block with a token",
         R"({"name": "A", "files": [{"folder": "{system}", "name": "acme.dll"}]})",
         restart | tokens, 1252},
        {"braces that begin no folder",
         R"({"name": "A", "files": [{"folder": ".", "name": "{x}.txt"},
             {"folder": "C:\\Acme\\{build 7}", "name": "a"}], "folders": [{"folder": "C:\\{x}"}]})",
         utf8 | restart},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        pack::ManifestResult result = Read(c.json, c.page);
        ASSERT_EQ(0u, result.diagnostics.size()) << Diagnostics(result);
        EXPECT_EQ(c.flags, result.block.optionFlags);
    }
}

TEST(Manifest, FolderTokensAreReadAsTheProgramReadsThem) {
    using Form = pack::TokenForm;
    struct Case {
        const char *path;
        Form form;
    } cases[] = {
        {"", Form::None},
        {"C:\\Acme", Form::None},
        {".\\{programfiles}", Form::None},
        {"{programfiles}", Form::Known},
        {"{PROGRAMFILES}\\Acme", Form::Known},
        {"{ProgramFiles}\\", Form::Known},
        {"{programfiles}Acme", Form::Malformed},
        {"{programfiles}/Acme", Form::Malformed},
        {"{programfiles", Form::Malformed},
        {"{", Form::Malformed},
        {"{}", Form::Unknown},
        {"{}\\Acme", Form::Unknown},
        {"{program files}", Form::Unknown},
        {"{programfiles }", Form::Unknown},
        {"{a{programfiles}", Form::Unknown},
        {"{programfilesx86}\\Acme", Form::Unknown},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.path);
        std::string why;
        EXPECT_EQ(c.form, pack::ReadFolderToken(c.path, &why));
        EXPECT_EQ(c.form == Form::Malformed || c.form == Form::Unknown, !why.empty()) << why;
    }
    // Every token is documented with what it resolves to.
    const std::string manifestDoc = ReadText(kSource + "/docs/manifest.md");
    ASSERT_EQ(17u, pack::FolderTokens().size());
    for (const std::string &name : pack::FolderTokens()) {
        SCOPED_TRACE(name);
        EXPECT_EQ(Form::Known, pack::ReadFolderToken("{" + name + "}\\Acme"));
        EXPECT_NE(std::string::npos, manifestDoc.find("| `{" + name + "}` |"));
    }
}

TEST(Manifest, InspectAsJsonTellsWhereARebuildSetsTheFlagsOtherwise) {
    struct Case {
        const char *name;
        uint32_t flags;
        const char *folder;
        const char *inJson; // a part of the manifest; empty: none
        const char *note;   // a part of the one note; empty: no note
    } cases[] = {
        {"restart off", pack::OPTION_UTF8, ".", "\"restartDelete\": false", ""},
        {"restart on", pack::OPTION_UTF8 | pack::OPTION_RESTART_DELETE, ".", "", ""},
        {"a token with its flag",
         pack::OPTION_UTF8 | pack::OPTION_RESTART_DELETE | pack::OPTION_FOLDER_TOKENS,
         "{programfiles}\\A", "\"{programfiles}\\\\A\"", ""},
        {"the flag without a token",
         pack::OPTION_UTF8 | pack::OPTION_RESTART_DELETE | pack::OPTION_FOLDER_TOKENS, "C:\\A", "",
         "no folder begins with a token; a build from this manifest leaves the flag out"},
        {"a token without the flag", pack::OPTION_UTF8 | pack::OPTION_RESTART_DELETE,
         "{programfiles}\\A", "",
         "a build from this manifest sets the flag and reads it as a token"},
        {"an unknown bit", pack::OPTION_UTF8 | pack::OPTION_RESTART_DELETE | 0x40, ".", "",
         "flag bits beyond wait, keepTheme, UTF-8, restartDelete, folder tokens and "
         "silentShared"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        pack::Block block = Read(R"({"name": "A"})").block;
        block.optionFlags = c.flags;
        block.files.push_back({c.folder, "a.txt", 0});
        std::string json, error;
        std::vector<std::string> notes;
        ASSERT_TRUE(pack::WriteManifest(block, 1252, &json, &error, &notes)) << error;
        if (*c.inJson) {
            EXPECT_NE(std::string::npos, json.find(c.inJson)) << json;
        }
        EXPECT_EQ(std::string::npos, json.find("\"restartDelete\": true")) << "true is the default";
        if (*c.note) {
            ASSERT_EQ(1u, notes.size());
            EXPECT_NE(std::string::npos, notes[0].find(c.note)) << notes[0];
        } else {
            EXPECT_EQ(0u, notes.size()) << notes.front();
        }
    }
}

TEST(Inspect, NamesEntriesTheProgramSkipsForTheirToken) {
    pack::Block block = Read(R"({"name": "A"})").block;
    block.files.push_back({"{temp}\\Acme", "a.txt", 0});
    block.folders.push_back({0, "{programfiles}Acme", ""});
    block.files.push_back({"{programfiles}\\Acme", "b.txt", 0});
    const std::string skipped[] = {
        "note: file entry 0's folder: \"{temp}\" is not a folder token",
        "note: folder entry 0's folder: \"{programfiles}\" is not followed by a backslash"};
    for (uint32_t tokens : {0u, pack::OPTION_FOLDER_TOKENS}) {
        SCOPED_TRACE(tokens);
        block.optionFlags = pack::OPTION_UTF8 | pack::OPTION_RESTART_DELETE | tokens;
        Bytes image;
        std::string error;
        ASSERT_TRUE(pack::StampCopy(FreshStub(), pack::EncodeBlock(block), {}, &image, &error));
        pack::BlockReading reading;
        ASSERT_TRUE(pack::ReadBlock(image, kProgramEnd, &reading)) << reading.damage;
        std::string shown = pack::DescribeReading(reading, 1252);
        EXPECT_NE(std::string::npos, shown.find(std::string("restartDelete yes, folder tokens ") +
                                                (tokens ? "yes" : "no")))
            << shown;
        for (const std::string &note : skipped)
            EXPECT_EQ(tokens != 0, shown.find(note) != std::string::npos) << shown;
        // The entry with a token the program knows draws no note.
        size_t notes = 0;
        for (size_t at = 0;
             (at = shown.find("; the program skips the entry\n", at)) != std::string::npos; at++)
            notes++;
        EXPECT_EQ(tokens ? 2u : 0u, notes) << shown;
    }
}

// --- Reading damaged blocks ---------------------------------------------------------------

Bytes SmallStamped() {
    pack::ManifestResult result =
        Read(FencedAfter(kSource + "/docs/format.md", "<!-- example manifest -->"));
    Bytes image;
    std::string error;
    EXPECT_TRUE(pack::StampCopy(FreshStub(), pack::EncodeBlock(result.block), {}, &image, &error));
    return image;
}

TEST(Inspect, EveryCutIsReportedWithItsRecordAndByte) {
    Bytes image = SmallStamped();
    ASSERT_GT(image.size(), 100u);
    for (size_t cut = kProgramEnd; cut < image.size(); cut++) {
        SCOPED_TRACE(cut);
        Bytes part(image.begin(), image.begin() + long(cut));
        pack::BlockReading reading;
        ASSERT_FALSE(pack::ReadBlock(part, kProgramEnd, &reading));
        EXPECT_NE(std::string::npos, reading.damage.find("byte ")) << reading.damage;
        EXPECT_TRUE(reading.damage.find("record ") != std::string::npos ||
                    reading.damage.find("without an end record") != std::string::npos)
            << reading.damage;
        // A cut options payload is refused with message 1, everything else with 8.
        EXPECT_EQ(reading.damage.find("(options") != std::string::npos ? 1 : 8,
                  reading.programCode);
    }
}

TEST(Inspect, NamesTheFieldThatRunsPastItsRecord) {
    Bytes image = SmallStamped();
    // The files record starts at 0xec into the block; its name length (at +7 into the
    // payload) grows to 200.
    size_t files = kProgramEnd + 0xec;
    image[files + 8 + 7] = 200;
    pack::BlockReading reading;
    ASSERT_FALSE(pack::ReadBlock(image, kProgramEnd, &reading));
    auto at = [](size_t offset) {
        char text[48];
        std::snprintf(text, sizeof text, "byte %zu (0x%zX)", offset, offset);
        return std::string(text);
    };
    EXPECT_EQ("record 2 (file entries, tag 0x1235) at " + at(files) + ": entry 0's name at " +
                  at(files + 17) + " needs 200 bytes, the record has 9 left",
              reading.damage);
    image = SmallStamped();
    image[kProgramEnd + 0x153 + 2] = 1; // the options header's refusal flag
    ASSERT_FALSE(pack::ReadBlock(image, kProgramEnd, &reading));
    EXPECT_EQ(1, reading.programCode);
    EXPECT_NE(std::string::npos, reading.damage.find("record 5 (options")) << reading.damage;
}

TEST(Inspect, RandomDamageNeverCrashes) {
    Bytes original = SmallStamped();
    std::mt19937 random(12345);
    size_t refused = 0, read = 0;
    for (int round = 0; round < 20000; round++) {
        Bytes image = original;
        int changes = 1 + int(random() % 4);
        for (int i = 0; i < changes; i++)
            image[kProgramEnd + random() % (image.size() - kProgramEnd)] = uint8_t(random());
        if (random() % 4 == 0)
            image.resize(kProgramEnd + random() % (image.size() - kProgramEnd));
        pack::BlockReading reading;
        if (pack::ReadBlock(image, kProgramEnd, &reading)) {
            read++;
            std::string json, error;
            std::vector<std::string> notes;
            pack::DescribeReading(reading, 1252);
            if (pack::WriteManifest(reading.block, 1252, &json, &error, &notes))
                EXPECT_FALSE(json.empty());
            else
                EXPECT_FALSE(error.empty());
        } else {
            refused++;
            EXPECT_NE(std::string::npos, reading.damage.find("byte")) << reading.damage;
            EXPECT_TRUE(reading.programCode == 8 || reading.programCode == 1);
        }
    }
    EXPECT_GT(refused, 1000u);
    EXPECT_GT(read, 1000u);
}

// --- Stamping -----------------------------------------------------------------------------

TEST(Stamp, ARestampReplacesTheOldBlock) {
    Bytes first, second, again;
    std::string error;
    Bytes blockA = pack::EncodeBlock(Read(R"({"name": "A"})").block);
    Bytes blockB = pack::EncodeBlock(Read(R"({"name": "Bee Longer"})").block);
    pack::StampOptions restamp;
    restamp.restamp = true;
    ASSERT_TRUE(pack::StampCopy(FreshStub(), blockA, {}, &first, &error));
    EXPECT_FALSE(pack::StampCopy(first, blockB, {}, &second, &error));
    EXPECT_NE(std::string::npos, error.find("already stamped")) << error;
    ASSERT_TRUE(pack::StampCopy(first, blockB, restamp, &again, &error)) << error;
    ASSERT_TRUE(pack::StampCopy(FreshStub(), blockB, {}, &second, &error));
    EXPECT_EQ(second, again);

    Bytes stamped = first;
    EXPECT_FALSE(pack::FinalizeImage(stamped, &error));
    EXPECT_EQ(first, stamped) << "finalize leaves a stamped file as it was";
    Bytes fresh = FreshStub();
    pack::SetU32(fresh, kFieldAt, 0); // as linked: the field holds 0
    ASSERT_TRUE(pack::FinalizeImage(fresh, &error)) << error;
    EXPECT_EQ(FreshStub(), fresh);
    ASSERT_TRUE(pack::FinalizeImage(fresh, &error)) << "finalizing twice changes nothing";
    EXPECT_EQ(FreshStub(), fresh);
}

// --- The program's file ---------------------------------------------------------------------

Bytes ReadBytes(const std::string &path) {
    std::string text = ReadText(path);
    return Bytes(text.begin(), text.end());
}

Bytes RawData(const Bytes &image, const pack::PeSection &s) {
    return Bytes(image.begin() + s.rawOffset, image.begin() + s.rawOffset + s.rawSize);
}

// inspect tells a built program's level by its manifest's bytes, and says what it finds
// otherwise.
TEST(Program, TheManifestIsReadBackOnlyWhenTheBuildWroteIt) {
    const std::string highest = pack::ProgramManifest(pack::ExecutionLevel::Highest);
    std::string edited = highest;
    edited.replace(edited.find(">true<"), 6, ">false<");
    struct Case {
        const char *name;
        const char *manifest; // null: the stub's own; empty: none at all
        bool known;
        const char *note;
    } cases[] = {
        {"the stub's own", nullptr, false, "names no execution level, as the stub's own"},
        {"a build's", highest.c_str(), true, ""},
        {"a build's, edited", edited.c_str(), false, "not one vanish-pack writes"},
        {"none", "", false, "it has no application manifest"},
    };
    const Bytes stub = FreshStub();
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Bytes image = stub;
        if (c.manifest) {
            pack::PeFile pe;
            std::vector<pack::Resource> resources;
            std::string error;
            ASSERT_TRUE(pack::ReadPe(stub, &pe, &error)) << error;
            ASSERT_TRUE(pack::ReadResources(stub, pe, &resources, &error)) << error;
            resources.erase(std::remove_if(resources.begin(), resources.end(),
                                           [](const pack::Resource &r) { return r.type == 24; }),
                            resources.end());
            if (*c.manifest)
                resources.push_back(
                    {24, 1, 0x409, 0, Bytes(c.manifest, c.manifest + std::strlen(c.manifest))});
            ASSERT_TRUE(pack::ReplaceResources(stub, resources, &image, &error)) << error;
        }
        pack::ProgramInfo info;
        std::vector<std::string> notes;
        EXPECT_EQ(c.known, pack::ReadProgramInfo(image, &info, &notes));
        if (c.known) {
            EXPECT_EQ(pack::ExecutionLevel::Highest, info.level);
            EXPECT_TRUE(notes.empty()) << notes.front();
        } else {
            ASSERT_EQ(1u, notes.size());
            EXPECT_NE(std::string::npos, notes[0].find(c.note)) << notes[0];
        }
    }
}

TEST(Program, RewrittenResourcesLeaveAWellFormedFile) {
    struct Case {
        const char *name;
        const char *json;
        const char *icon; // empty: the stub's icon stays
        size_t images;
    } cases[] = {
        {"admin, the default", R"({"name": "A"})", "", 1},
        {"user, with version information",
         R"({"name": "Zürich Notes", "executionLevel": "user", "version": "2.1",
             "publisher": "Acme 😀 Ltd"})",
         "", 1},
        {"highest, with the program's own icon of five images",
         R"({"name": "A", "executionLevel": "highest"})", "/res/uninstall.ico", 5},
        // 6 KiB of images: the resources grow by pages and the relocations move with them.
        {"an icon that moves the relocations", R"({"name": "A", "version": "1"})",
         "/tests/fixtures/icons/author.ico", 3},
    };
    const Bytes stub = FreshStub();
    pack::PeFile before;
    std::string error;
    ASSERT_TRUE(pack::ReadPe(stub, &before, &error)) << error;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        pack::ManifestResult result = Read(c.json);
        ASSERT_EQ(0u, result.Errors()) << Diagnostics(result);
        std::vector<pack::IconImage> icon;
        if (*c.icon) {
            ASSERT_TRUE(pack::ReadIconFile(ReadBytes(kSource + c.icon), &icon, &error)) << error;
        }
        pack::StampOptions options;
        options.program = &result.program;
        options.icon = *c.icon ? &icon : nullptr;
        Bytes block = pack::EncodeBlock(result.block), built;
        ASSERT_TRUE(pack::StampCopy(stub, block, options, &built, &error)) << error;

        std::vector<std::string> faults = pack::CheckPeLayout(built);
        EXPECT_TRUE(faults.empty()) << faults.front();
        pack::PeFile pe;
        ASSERT_TRUE(pack::ReadPe(built, &pe, &error)) << error;
        pack::StubInfo info;
        ASSERT_EQ(pack::StubState::Stamped, pack::ReadStubState(built, &info, &error)) << error;
        EXPECT_EQ(pe.sectionsEnd, info.offset);
        // Code and data stay where they were, byte for byte but the offset field; the
        // relocations are the same bytes on the first page after the resources, and their
        // directory follows them.
        Bytes data = RawData(built, pe.sections[1]);
        pack::SetU32(data, kFieldAt - pe.sections[1].rawOffset, uint32_t(kProgramEnd));
        EXPECT_EQ(RawData(stub, before.sections[0]), RawData(built, pe.sections[0]));
        EXPECT_EQ(RawData(stub, before.sections[1]), data);
        const pack::PeSection &rsrc = pe.sections[2], &reloc = pe.sections[3];
        EXPECT_EQ(kRsrc, rsrc.virtualAddress);
        EXPECT_EQ((rsrc.virtualAddress + rsrc.virtualSize + 0xFFF) / 0x1000 * 0x1000,
                  reloc.virtualAddress);
        EXPECT_EQ(RawData(stub, before.sections[3]), RawData(built, reloc));
        EXPECT_EQ(
            std::make_pair(reloc.virtualAddress, before.directories[pack::PE_RELOCATION].second),
            pe.directories[pack::PE_RELOCATION]);
        EXPECT_EQ(reloc.virtualAddress + 0x1000, pe.sizeOfImage);
        if (c.images == 3) {
            EXPECT_GE(reloc.virtualAddress, kReloc + 0x1000) << "the icon moves them by pages";
        }

        std::vector<pack::Resource> resources;
        ASSERT_TRUE(pack::ReadResources(built, pe, &resources, &error)) << error;
        std::map<uint16_t, std::vector<const pack::Resource *>> byType;
        for (const auto &r : resources)
            byType[r.type].push_back(&r);
        std::string xml = pack::ProgramManifest(result.program.level);
        ASSERT_EQ(1u, byType[24].size());
        EXPECT_EQ(Bytes(xml.begin(), xml.end()), byType[24][0]->data);
        EXPECT_EQ(result.program.hasVersion ? 1u : 0u, byType[16].size());
        EXPECT_EQ(c.images, byType[3].size());
        ASSERT_EQ(1u, byType[14].size());
        EXPECT_EQ(800, byType[14][0]->name);

        pack::BlockReading reading;
        ASSERT_TRUE(pack::ReadBlock(built, info.offset, &reading)) << reading.damage;
        EXPECT_EQ(built.size(), reading.end);
        EXPECT_EQ(block, pack::EncodeBlock(reading.block));
        pack::ProgramInfo back;
        std::vector<std::string> notes;
        ASSERT_TRUE(pack::ReadProgramInfo(built, &back, &notes));
        EXPECT_EQ(result.program.level, back.level);
        EXPECT_EQ(result.program.hasVersion, back.hasVersion);
        if (result.program.hasVersion) {
            EXPECT_EQ(result.program.name, back.name);
            EXPECT_EQ(result.program.publisher, back.publisher);
            EXPECT_EQ(result.program.versionText, back.versionText);
            EXPECT_TRUE(std::equal(back.version, back.version + 4, result.program.version));
        }
    }
}

TEST(Program, TheLayoutCheckFindsEachFault) {
    Bytes good;
    std::string error;
    pack::ManifestResult result = Read(R"({"name": "A"})");
    pack::StampOptions options;
    options.program = &result.program;
    ASSERT_TRUE(
        pack::StampCopy(FreshStub(), pack::EncodeBlock(result.block), options, &good, &error));
    ASSERT_TRUE(pack::CheckPeLayout(good).empty()) << pack::CheckPeLayout(good).front();
    pack::PeFile pe;
    ASSERT_TRUE(pack::ReadPe(good, &pe, &error));
    const size_t relocEntry = kSectionTable + 40 * 3;
    struct Case {
        const char *name;
        size_t at;
        uint32_t value;
        const char *fault;
    } cases[] = {
        {"image size", kOpt + 56, pe.sizeOfImage + 0x1000, "the image size is"},
        {"checksum", kOpt + 64, pe.checksum + 1, "the checksum is"},
        {"a gap before the relocations", relocEntry + 12, pe.sections[3].virtualAddress + 0x1000,
         "not where the one before it ends"},
        {"raw data off the file alignment", relocEntry + 20, pe.sections[3].rawOffset + 4,
         "not aligned"},
        {"resources larger than their section", kOpt + 96 + 8 * 2 + 4, 0x10000,
         "resource directory"},
        {"a certificate table inside the sections", kOpt + 96 + 8 * 4, 0x400, "certificate table"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Bytes damaged = good;
        pack::SetU32(damaged, c.at, c.value);
        if (c.at == kOpt + 96 + 8 * 4)
            pack::SetU32(damaged, c.at + 4, 16);
        std::vector<std::string> faults = pack::CheckPeLayout(damaged);
        ASSERT_FALSE(faults.empty());
        EXPECT_TRUE(std::any_of(faults.begin(), faults.end(), [&](const std::string &f) {
            return f.find(c.fault) != std::string::npos;
        })) << faults.front();
    }
}

// A block appended to a signed stub by a tool of the installer's own, the field pointing
// after the certificate table: the program reads it, the signature does not cover it.
Bytes AppendedAfterSigning(const Bytes &block) {
    Bytes image = Signed(FreshStub());
    pack::SetU32(image, kFieldAt, uint32_t(image.size()));
    image.insert(image.end(), block.begin(), block.end());
    return image;
}

TEST(Program, EveryStateOfAStubIsToldApartAndOnlyAPreparedOneBuilds) {
    std::string error;
    Bytes block = pack::EncodeBlock(Read(R"({"name": "A"})").block), stamped;
    ASSERT_TRUE(pack::StampCopy(FreshStub(), block, {}, &stamped, &error)) << error;
    Bytes zero = FreshStub();
    pack::SetU32(zero, kFieldAt, 0);
    Bytes trailing = Signed(FreshStub());
    trailing.push_back('x');
    // A build from each stub the program accepts, given both options, is the same bytes as
    // one from the fresh stub: the old block and the signature are gone without a trace.
    pack::ManifestResult next =
        Read(R"({"name": "B", "version": "4.2", "executionLevel": "user"})");
    Bytes nextBlock = pack::EncodeBlock(next.block), expected;
    pack::StampOptions plain, both;
    plain.program = both.program = &next.program;
    both.restamp = both.stripSignature = true;
    ASSERT_TRUE(pack::StampCopy(FreshStub(), nextBlock, plain, &expected, &error)) << error;
    struct Case {
        const char *name;
        Bytes image;
        pack::StubState state;
        const char *refusal; // of a build without options; empty: it builds
        bool signedFile;
    } cases[] = {
        {"fresh", FreshStub(), pack::StubState::Fresh, "", false},
        {"stamped", stamped, pack::StubState::Stamped, "already stamped", false},
        {"signed stub", Signed(FreshStub()), pack::StubState::Fresh, "sign after building", true},
        {"signed uninstaller", Signed(stamped), pack::StubState::Stamped, "sign after building",
         true},
        {"stub changed by a resource editor", EditedByAnotherTool(FreshStub()),
         pack::StubState::Unprepared, "changed by another tool after it was built", false},
        {"uninstaller changed by a resource editor", EditedByAnotherTool(stamped),
         pack::StubState::Unprepared, "changed by another tool after it was built", false},
        {"field of 0", zero, pack::StubState::Unprepared, "offset field is 0", false},
        {"bytes after the certificate table", trailing, pack::StubState::Unprepared,
         "follow its certificate table", true},
        {"block appended after signing", AppendedAfterSigning(block), pack::StubState::Stamped,
         "sign after building", true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        pack::StubInfo info;
        error.clear();
        EXPECT_EQ(c.state, pack::ReadStubState(c.image, &info, &error)) << error;
        EXPECT_EQ(c.signedFile, info.signatureSize != 0);
        Bytes built;
        bool plainBuilds = pack::StampCopy(c.image, nextBlock, plain, &built, &error);
        if (*c.refusal) {
            EXPECT_FALSE(plainBuilds);
            EXPECT_NE(std::string::npos, error.find(c.refusal)) << error;
        } else {
            EXPECT_TRUE(plainBuilds) << error;
        }
        bool bothBuild = pack::StampCopy(c.image, nextBlock, both, &built, &error);
        EXPECT_EQ(c.state != pack::StubState::Unprepared, bothBuild) << error;
        if (bothBuild) {
            EXPECT_EQ(expected, built);
        }
    }
}

// --- Scan ---------------------------------------------------------------------------------

// What the program does with file entries relative to the install folder: phase 1 from the
// last entry to the first (a file is deleted, an empty name removes its folder if empty),
// then phase 3 walks up from each file's folder while removals succeed.
void RemoveAsTheProgramDoes(const fs::path &install, const std::vector<pack::FileEntry> &entries) {
    auto resolve = [&](const pack::FileEntry &e) {
        std::string relative = e.folder.size() > 2 ? e.folder.substr(2) : "";
        for (char &c : relative)
            if (c == '\\')
                c = '/';
        return relative.empty() ? install : install / relative;
    };
    std::error_code code;
    for (size_t i = entries.size(); i-- > 0;) {
        fs::path folder = resolve(entries[i]);
        if (entries[i].name.empty()) {
            if (folder != install && fs::is_empty(folder, code))
                fs::remove(folder, code);
        } else {
            fs::remove(folder / entries[i].name, code);
        }
    }
    for (const auto &e : entries) {
        for (fs::path folder = resolve(e); folder != install; folder = folder.parent_path())
            if (!fs::is_directory(folder, code) || !fs::is_empty(folder, code) ||
                !fs::remove(folder, code))
                break;
    }
}

TEST_F(Scratch, ScanListsATreeSoThatTheProgramEmptiesIt) {
    for (const char *folder : {"data", "data/deep/deeper", "empty", "logs/old/empty"})
        fs::create_directories(dir_ / folder);
    for (const char *file :
         {"app.exe", "readme.txt", "data/a.ini", "data/deep/b.bin", "data/deep/deeper/c.bin",
          "logs/today.log", "Grüße.txt", "Uninstall.exe", "data/uninstall.exe"})
        WriteText(Path(file), "x");
    std::vector<pack::FileEntry> entries;
    std::string error;
    ASSERT_TRUE(pack::ScanTree(dir_.string(), &entries, &error)) << error;
    std::vector<std::string> listed;
    for (const auto &e : entries)
        listed.push_back(e.folder + "|" + e.name);
    std::vector<std::string> expected = {".|Grüße.txt",
                                         ".|app.exe",
                                         ".|readme.txt",
                                         ".\\data|",
                                         ".\\data|a.ini",
                                         ".\\data|uninstall.exe",
                                         ".\\data\\deep|",
                                         ".\\data\\deep|b.bin",
                                         ".\\data\\deep\\deeper|",
                                         ".\\data\\deep\\deeper|c.bin",
                                         ".\\empty|",
                                         ".\\logs|",
                                         ".\\logs|today.log",
                                         ".\\logs\\old|",
                                         ".\\logs\\old\\empty|"};
    EXPECT_EQ(expected, listed);

    RemoveAsTheProgramDoes(dir_, entries);
    // What stays is the uninstaller itself, for its self-removal.
    ASSERT_EQ(1u, size_t(std::distance(fs::directory_iterator(dir_), fs::directory_iterator())));
    EXPECT_EQ("Uninstall.exe", fs::directory_iterator(dir_)->path().filename());
}

// --- The command ---------------------------------------------------------------------------

TEST(Command, HelpOnTheToolAndEveryCommand) {
    for (const char *arguments :
         {"--help", "-h", "build --help", "inspect --help", "lint --help", "scan --help"}) {
        SCOPED_TRACE(arguments);
        ToolRun run = Tool(arguments);
        EXPECT_EQ(0, run.code);
        EXPECT_NE(std::string::npos, run.out.find("Usage:"));
        EXPECT_EQ("", run.err);
        EXPECT_EQ(std::string::npos, run.out.find("finalize"))
            << "finalize is the build's, not the authors'";
    }
}

TEST(Command, UsageErrorsAreOneLineWithExitCode2) {
    for (const char *arguments :
         {"", "bogus", "build", "build a.json", "build a.json --stub s.exe -o o.exe --fast",
          "inspect", "lint a.json b.json", "scan", "lint a.json --codepage x"}) {
        SCOPED_TRACE(arguments);
        ToolRun run = Tool(arguments);
        EXPECT_EQ(2, run.code);
        EXPECT_EQ(1u, Lines(run.err)) << run.err;
        EXPECT_NE(std::string::npos, run.err.find("--help")) << run.err;
        EXPECT_EQ("", run.out);
    }
}

std::string Hash(const std::string &path) {
    return ReadText(path);
}

TEST_F(Scratch, RefusedInputsLeaveNoFileAndChangeNothing) {
    Bytes stub = FreshStub();
    WriteText(Path("stub.exe"), std::string(stub.begin(), stub.end()));
    Bytes two = stub, none = stub;
    std::copy(pack::MARKER, pack::MARKER + 6, two.begin() + kText0 + 0x30); // in the code
    none[kFieldAt - 1] = 'h';
    Bytes edited = EditedByAnotherTool(stub), signedStub = Signed(stub);
    for (auto [name, bytes] : {std::pair<const char *, Bytes *>{"two.exe", &two},
                               {"none.exe", &none},
                               {"edited.exe", &edited},
                               {"signed.exe", &signedStub}})
        WriteText(Path(name), std::string(bytes->begin(), bytes->end()));
    WriteText(Path("text.exe"), "MZ but no program");
    WriteText(Path("good.json"), R"({"name": "Acme"})");
    WriteText(Path("bad.json"), "{\"name\": \"Acme\",\n \"files\": [}\n");
    WriteText(Path("types.json"), R"({"name": "Acme", "files": [{"folder": ".", "name": 3}]})");
    WriteText(Path("chars.json"), R"({"name": "Acme 中文"})");
    WriteText(Path("afile"), "x");
    struct Case {
        const char *name;
        std::string arguments;
        const char *says;
    } cases[] = {
        {"bad JSON", "bad.json --stub stub.exe -o out.exe", "line 2, column 12"},
        {"wrong type", "types.json --stub stub.exe -o out.exe", "files[0].name"},
        {"unencodable", "chars.json --stub stub.exe -o out.exe --codepage 1252", "U+4E2D"},
        {"no marker", "good.json --stub none.exe -o out.exe", "marker occurs 0 times"},
        {"two markers", "good.json --stub two.exe -o out.exe", "marker occurs 2 times"},
        {"not a program", "good.json --stub text.exe -o out.exe", "not a 32-bit Windows program"},
        {"changed by a resource editor", "good.json --stub edited.exe -o out.exe",
         "changed by another tool after it was built"},
        {"signed", "good.json --stub signed.exe -o out.exe",
         "sign after building, or give --strip-signature"},
        {"missing manifest", "missing.json --stub stub.exe -o out.exe", "cannot open"},
        {"missing stub", "good.json --stub missing.exe -o out.exe", "cannot open"},
        {"output folder missing", "good.json --stub stub.exe -o nowhere/out.exe", "cannot create"},
        {"output folder is a file", "good.json --stub stub.exe -o afile/out.exe", "cannot create"},
        {"output is a folder", "good.json --stub stub.exe -o " + dir_.string(), "cannot replace"},
        {"output is the stub", "good.json --stub stub.exe -o ./stub.exe",
         "would replace the input stub.exe"},
        {"output is the manifest", "good.json --stub stub.exe -o " + Path("good.json"),
         "would replace the input"},
        {"unknown code page", "good.json --stub stub.exe -o out.exe --codepage 932",
         "not supported"},
    };
    std::map<std::string, std::string> before;
    for (const auto &entry : fs::directory_iterator(dir_))
        before[entry.path().filename().string()] = Hash(entry.path().string());
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        fs::current_path(dir_);
        ToolRun run = Tool("build " + c.arguments);
        EXPECT_EQ(1, run.code) << run.err;
        EXPECT_NE(std::string::npos, run.err.find(c.says)) << run.err;
        EXPECT_EQ(0u, run.out.size()) << run.out;
        std::map<std::string, std::string> after;
        for (const auto &entry : fs::directory_iterator(dir_))
            after[entry.path().filename().string()] = Hash(entry.path().string());
        EXPECT_EQ(before, after) << "a refused build leaves the folder as it was";
    }
}

TEST_F(Scratch, BuildWritesOneSummaryLineAndInspectReadsItBack) {
    Bytes stub = FreshStub();
    WriteText(Path("stub.exe"), std::string(stub.begin(), stub.end()));
    WriteText(Path("m.json"), R"({"name": "Acme", "files": [{"folder": ".", "name": "a.exe"}],
        "registry": [{"root": "HKCU", "key": "Software\\Acme"}]})");
    fs::current_path(dir_);
    WriteText(Path("out.exe"), "an older build");
    ToolRun run = Tool("build m.json --stub stub.exe -o out.exe");
    ASSERT_EQ(0, run.code) << run.err;
    EXPECT_EQ("", run.err);
    std::string built = ReadText(Path("out.exe"));
    pack::StubInfo info;
    std::string error;
    ASSERT_EQ(pack::StubState::Stamped,
              pack::ReadStubState(Bytes(built.begin(), built.end()), &info, &error))
        << error;
    EXPECT_EQ(info.offset + 653u, built.size()) << "the block follows the program";
    EXPECT_EQ(
        "vanish-pack: built out.exe: 17 texts, 1 file entry, 0 folder entries, 1 registry entry; "
        "runs as admin; block 653 bytes, file " +
            Thousands(built.size()) + " bytes\n",
        run.out);
    EXPECT_EQ(3u, size_t(std::distance(fs::directory_iterator(dir_), fs::directory_iterator())))
        << "no temporary file is left";

    run = Tool("build m.json --stub out.exe -o again.exe");
    EXPECT_EQ(1, run.code);
    EXPECT_NE(std::string::npos, run.err.find("--restamp")) << run.err;
    EXPECT_FALSE(fs::exists(Path("again.exe")));
    run = Tool("build m.json --stub out.exe -o again.exe --restamp");
    ASSERT_EQ(0, run.code) << run.err;
    EXPECT_EQ(ReadText(Path("out.exe")), ReadText(Path("again.exe")));

    run = Tool("inspect out.exe");
    ASSERT_EQ(0, run.code) << run.err;
    EXPECT_NE(std::string::npos, run.out.find("[0] folder \".\" name \"a.exe\"")) << run.out;
    EXPECT_NE(std::string::npos, run.out.find("HKCU \"Software\\Acme\" (a key and its subkeys)"))
        << run.out;
    EXPECT_NE(std::string::npos,
              run.out.find("\n  16 restartNeeded      \"Restart your computer to "
                           "finish removing Acme.\"\n"))
        << run.out;
    EXPECT_NE(std::string::npos,
              run.out.find("\noptions: wait no, keepTheme no, restartDelete yes, folder tokens "
                           "no, silentShared keep, program none, document none\n"))
        << run.out;
    run = Tool("inspect --json out.exe");
    ASSERT_EQ(0, run.code) << run.err;
    WriteText(Path("back.json"), run.out);
    ASSERT_EQ(0, Tool("build back.json --stub stub.exe -o back.exe").code);
    EXPECT_EQ(ReadText(Path("out.exe")), ReadText(Path("back.exe")));

    run = Tool("finalize out.exe");
    EXPECT_EQ(1, run.code);
    EXPECT_NE(std::string::npos, run.err.find("stamped")) << run.err;
    EXPECT_EQ(ReadText(Path("again.exe")), ReadText(Path("out.exe")));
}

TEST_F(Scratch, TheProgramsChoicesAreBuiltInAndInspectShowsThem) {
    Bytes stub = FreshStub();
    WriteText(Path("stub.exe"), std::string(stub.begin(), stub.end()));
    fs::create_directories(dir_ / "art");
    fs::create_directories(dir_ / "manifests");
    fs::copy_file(kSource + "/tests/fixtures/icons/author.ico", Path("art/acme.ico"));
    WriteText(Path("art/broken.ico"), "not an icon at all");
    const std::string keys = R"("name": "Acme Notes", "executionLevel": "user", "version": "3.2.1",
        "publisher": "Acme Ltd", "files": [{"folder": ".", "name": "a.exe"}])";
    WriteText(Path("manifests/plain.json"), "{" + keys + "}");
    // The icon's path is relative to the manifest's folder, not the current one.
    WriteText(Path("manifests/icon.json"), "{" + keys + R"(, "icon": "../art/acme.ico"})");
    WriteText(Path("manifests/broken.json"), "{" + keys + R"(, "icon": "../art/broken.ico"})");
    fs::current_path(dir_);

    ToolRun run = Tool("build manifests/icon.json --stub stub.exe -o icon.exe");
    ASSERT_EQ(0, run.code) << run.err;
    EXPECT_NE(std::string::npos, run.out.find("; runs as user, version 3.2.1; block")) << run.out;
    run = Tool("inspect icon.exe");
    ASSERT_EQ(0, run.code) << run.err;
    EXPECT_NE(std::string::npos, run.out.find("\nprogram: runs as \"user\"\n"
                                              "version information: Acme Notes 3.2.1, Acme Ltd\n"))
        << run.out;
    EXPECT_EQ(std::string::npos, run.out.find("\nnote:")) << run.out;
    EXPECT_EQ(std::string::npos, run.out.find("signature")) << run.out;

    // inspect --json gives the keys back (the icon is not a text: it cannot come back).
    ASSERT_EQ(0, Tool("build manifests/plain.json --stub stub.exe -o plain.exe").code);
    run = Tool("inspect --json plain.exe");
    ASSERT_EQ(0, run.code) << run.err;
    WriteText(Path("back.json"), run.out);
    EXPECT_EQ(0u, run.out.find("{\n  \"name\": \"Acme Notes\",\n  \"executionLevel\": \"user\",\n"
                               "  \"version\": \"3.2.1\",\n  \"publisher\": \"Acme Ltd\",\n"))
        << run.out;
    ASSERT_EQ(0, Tool("build back.json --stub stub.exe -o back.exe").code);
    EXPECT_EQ(ReadText(Path("plain.exe")), ReadText(Path("back.exe")));

    for (const char *command : {"lint manifests/broken.json",
                                "build manifests/broken.json --stub stub.exe -o broken.exe"}) {
        SCOPED_TRACE(command);
        run = Tool(command);
        EXPECT_EQ(1, run.code);
        EXPECT_NE(std::string::npos, run.err.find("error at icon: ")) << run.err;
        EXPECT_NE(std::string::npos, run.err.find("not an icon file (.ico)")) << run.err;
    }
    EXPECT_FALSE(fs::exists(Path("broken.exe")));
}

TEST_F(Scratch, SignedFilesAreReportedAndRebuiltOnlyWhenToldToStrip) {
    Bytes stub = FreshStub();
    WriteText(Path("stub.exe"), std::string(stub.begin(), stub.end()));
    WriteText(Path("m.json"), R"({"name": "Acme"})");
    fs::current_path(dir_);
    ASSERT_EQ(0, Tool("build m.json --stub stub.exe -o plain.exe").code);
    std::string plain = ReadText(Path("plain.exe"));
    Bytes signedBuild = Signed(Bytes(plain.begin(), plain.end())), signedStub = Signed(stub);
    WriteText(Path("signed.exe"), std::string(signedBuild.begin(), signedBuild.end()));
    WriteText(Path("signed-stub.exe"), std::string(signedStub.begin(), signedStub.end()));
    pack::StubInfo info;
    std::string error;
    ASSERT_EQ(pack::StubState::Stamped, pack::ReadStubState(signedBuild, &info, &error));

    ToolRun run = Tool("inspect signed.exe");
    ASSERT_EQ(0, run.code) << run.err;
    EXPECT_NE(std::string::npos, run.out.find("\nsignature: 1,200 bytes of certificates at byte " +
                                              Thousands(info.signatureOffset) +
                                              "; the block lies inside what it signs\n"))
        << run.out;
    run = Tool("inspect signed-stub.exe");
    EXPECT_EQ(1, run.code);
    EXPECT_NE(std::string::npos, run.err.find("not stamped: a signed stub")) << run.err;
    Bytes appended = AppendedAfterSigning(pack::EncodeBlock(Read(R"({"name": "Acme"})").block));
    WriteText(Path("appended.exe"), std::string(appended.begin(), appended.end()));
    run = Tool("inspect appended.exe");
    EXPECT_EQ(0, run.code) << run.err;
    EXPECT_NE(std::string::npos, run.out.find("; the block lies outside what it signs")) << run.out;

    struct Case {
        const char *arguments;
        const char *refusal; // empty: builds the same bytes as plain.exe
    } cases[] = {
        {"--stub signed-stub.exe", "sign after building, or give --strip-signature"},
        {"--stub signed.exe --restamp", "sign after building, or give --strip-signature"},
        {"--stub signed.exe --strip-signature", "already stamped"},
        {"--stub signed-stub.exe --strip-signature", ""},
        {"--stub signed.exe --restamp --strip-signature", ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.arguments);
        fs::remove(Path("out.exe"));
        run = Tool(std::string("build m.json -o out.exe ") + c.arguments);
        if (*c.refusal) {
            EXPECT_EQ(1, run.code);
            EXPECT_NE(std::string::npos, run.err.find(c.refusal)) << run.err;
            EXPECT_FALSE(fs::exists(Path("out.exe")));
        } else {
            EXPECT_EQ(0, run.code) << run.err;
            EXPECT_EQ(plain, ReadText(Path("out.exe")));
        }
    }
}

TEST_F(Scratch, BothKindsOfBlockComeBackFromInspectAsTheSameBytes) {
    Bytes stub = FreshStub();
    WriteText(Path("stub.exe"), std::string(stub.begin(), stub.end()));
    fs::current_path(dir_);
    const std::string fixtures = kSource + "/tests/fixtures/manifests/";
    struct Case {
        const char *manifest;
        std::string build;   // the option of build, and of the rebuild; empty: the default
        std::string inspect; // the option of inspect
        bool legacy;
    } cases[] = {
        {"worldwide.json", "", "", false},
        {"worldwide.json", "--codepage utf-8", "", false},
        {"worldwide.json", "--codepage UTF8", "--codepage 1251", false},
        {"worldwide.json", "--codepage 65001", "", false},
        {"western.json", "", "", false},
        {"western.json", "--codepage 1252", "", true}, // inspect reads 1252 by default
        {"western.json", "--codepage 850", "--codepage 850", true},
        {"cyrillic.json", "--codepage 1251", "--codepage 1251", true},
        {"languages.json", "", "", false},
        {"languages.json", "--codepage 1252", "", true}, // inspect reads the code page record
    };
    std::map<std::string, std::string> utf8Builds; // the first UTF-8 build of each manifest
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.manifest) + " " + c.build);
        ToolRun run =
            Tool("build " + fixtures + c.manifest + " --stub stub.exe -o out.exe " + c.build);
        ASSERT_EQ(0, run.code) << run.err;
        std::string built = ReadText(Path("out.exe"));
        if (!c.legacy) {
            utf8Builds.insert({c.manifest, built});
            EXPECT_EQ(utf8Builds[c.manifest], built) << "every spelling of UTF-8 builds the same";
        }
        run = Tool("inspect out.exe " + c.inspect);
        ASSERT_EQ(0, run.code) << run.err;
        EXPECT_EQ(0u, run.out.find("out.exe: ")) << run.out;
        EXPECT_NE(std::string::npos,
                  run.out.find(c.legacy ? "\ntexts: legacy" : "\ntexts: UTF-8 ("))
            << run.out;

        run = Tool("inspect --json out.exe " + c.inspect);
        ASSERT_EQ(0, run.code) << run.err;
        WriteText(Path("back.json"), run.out);
        EXPECT_EQ(c.legacy,
                  run.err.find("build this manifest with " + c.build) != std::string::npos)
            << run.err;
        ASSERT_EQ(0, Tool("build back.json --stub stub.exe -o back.exe " + c.build).code);
        EXPECT_EQ(built, ReadText(Path("back.exe")));
        if (c.legacy) {
            ASSERT_EQ(0, Tool("build back.json --stub stub.exe -o utf8.exe").code);
            EXPECT_NE(built, ReadText(Path("utf8.exe")))
                << "without --codepage the rebuild is a UTF-8 block";
        }
    }
    // Every table under its language; a legacy block in the code page its record names.
    ASSERT_EQ(0, Tool("build " + fixtures +
                      "languages.json --stub stub.exe -o out.exe --codepage "
                      "1252")
                     .code);
    ToolRun shown = Tool("inspect out.exe");
    for (const char *line :
         {"written in code page 1252 by its code page record; shown in code page 1252, as its "
          "code page record says\n",
          "\ntexts, table 0, language en, 0x0409, English, the default (17):\n",
          "\ntexts, table 1, language fr, 0x040C, French (17):\n",
          "\ntexts, table 2, language es, 0x0C0A, Spanish (17):\n",
          "\ntexts, table 3, language de, 0x0407, German (17):\n   0 caption            "
          "\"Deinstallation von Café Notes\"\n   1 confirm            \"Möchten Sie Café Notes "
          "und Ihre Notizvorlagen entfernen?\"\n"})
        EXPECT_NE(std::string::npos, shown.out.find(line)) << line << shown.out;
    // The texts as they are, whatever --codepage says for a legacy block.
    ASSERT_EQ(0, Tool("build " + fixtures + "worldwide.json --stub stub.exe -o out.exe").code);
    ToolRun run = Tool("inspect out.exe --codepage 1251");
    EXPECT_NE(std::string::npos, run.out.find("name \"𠀀𠀁.dat\"")) << run.out;
    EXPECT_NE(std::string::npos, run.out.find("HKLM \"Software\\Café Заметки\\\\Größe 😀\""))
        << run.out;
    run = Tool("inspect out.exe --codepage utf-8");
    EXPECT_EQ(2, run.code);
    EXPECT_NE(std::string::npos, run.err.find("read as UTF-8 by its flag")) << run.err;
}

TEST_F(Scratch, InspectShowsTextsThatAreNotUtf8InAUtf8Block) {
    pack::ManifestResult result =
        Read(R"({"name": "A", "files": [{"folder": ".", "name": "機能.txt"}]})");
    ASSERT_EQ(0u, result.Errors());
    result.block.files[0].name[1] = '\xFF'; // inside the first character
    Bytes image;
    std::string error;
    ASSERT_TRUE(pack::StampCopy(FreshStub(), pack::EncodeBlock(result.block), {}, &image, &error));
    WriteText(Path("odd.exe"), std::string(image.begin(), image.end()));
    fs::current_path(dir_);
    ToolRun run = Tool("inspect odd.exe");
    EXPECT_EQ(0, run.code) << run.err;
    EXPECT_NE(std::string::npos, run.out.find("name \"\\xE6\\xFF\\x9F能.txt\"")) << run.out;
    EXPECT_NE(std::string::npos,
              run.out.find("note: file entry 0's name: ill-formed UTF-8 at byte 0 (0xE6)"))
        << run.out;
    run = Tool("inspect --json odd.exe");
    EXPECT_EQ(1, run.code);
    EXPECT_EQ("", run.out);
    EXPECT_NE(std::string::npos, run.err.find("files[0].name: ill-formed UTF-8 at byte 0 (0xE6)"))
        << run.err;
}

TEST_F(Scratch, LintWarnsOfEveryTextOutsideAsciiInALegacyBlock) {
    fs::current_path(dir_);
    const std::string western = kSource + "/tests/fixtures/manifests/western.json";
    ToolRun run = Tool("lint " + western);
    EXPECT_EQ(0, run.code);
    EXPECT_EQ("", run.err) << "a UTF-8 block holds any text";
    run = Tool("lint " + western + " --codepage 1252");
    EXPECT_EQ(0, run.code);
    // Every non-ASCII text of the fixture, the defaults with its name included.
    const char *const paths[] = {
        "texts.caption",        "texts.confirm",   "texts.complete",      "texts.readOnlyQuestion",
        "texts.sharedQuestion", "texts.inUse",     "texts.restartNeeded", "files[0].name",
        "files[1].folder",      "files[2].folder", "files[2].name",       "files[3].name",
        "folders[0].folder",    "folders[0].file", "registry[0].key",     "registry[1].key",
        "registry[1].value",    "registry[2].key", "options.program",     "options.document"};
    std::string expected;
    for (const char *path : paths)
        expected += "vanish-pack: " + western + ": warning W10 at " + path +
                    ": not ASCII, written in code page 1252: it reads right only where the "
                    "system's ANSI code page is 1252 (without --codepage the block is UTF-8 and "
                    "reads right everywhere)\n";
    EXPECT_EQ(expected, run.err);
    EXPECT_EQ(1, Tool("lint " + western + " --codepage 1252 --strict").code);
}

TEST_F(Scratch, InspectRefusesEveryCutWithOneLine) {
    Bytes image = SmallStamped();
    fs::current_path(dir_);
    // Two runs of the tool at once, each on a file of its own: the whole image once, then cut
    // shorter a byte at a time, every other length each.
    auto cuts = [&](int half) {
        std::string name = "cut" + std::to_string(half) + ".exe";
        WriteText(Path(name), std::string(image.begin(), image.end()));
        for (size_t cut = image.size(); cut-- > 0;) {
            if (cut % 2 != size_t(half))
                continue;
            SCOPED_TRACE(cut);
            fs::resize_file(Path(name), cut);
            ToolRun run = ToolDirect({"inspect", name}, half);
            EXPECT_EQ(1, run.code);
            EXPECT_EQ(1u, Lines(run.err)) << run.err;
            if (cut > kProgramEnd) {
                EXPECT_NE(std::string::npos, run.err.find("damaged: ")) << run.err;
            }
        }
    };
    std::thread other(cuts, 1);
    cuts(0);
    other.join();
}

TEST_F(Scratch, LintCountsAndStrictRefusesWarnings) {
    WriteText(
        Path("w.json"),
        R"({"name": "A", "texts": {"caption": ""}, "registry": [{"root": "HKLM", "key": "Software"}]})");
    fs::current_path(dir_);
    ToolRun run = Tool("lint w.json");
    EXPECT_EQ(0, run.code);
    EXPECT_EQ("vanish-pack: w.json: warning W4 at texts.caption: empty; the box shows no caption\n"
              "vanish-pack: w.json: warning W6 at registry[0].key: \"Software\" is a key the "
              "program protects and "
              "refuses to delete; name the application's own key below it\n",
              run.err);
    EXPECT_EQ("vanish-pack: w.json: no errors, 2 warnings\n", run.out);
    run = Tool("lint --strict w.json");
    EXPECT_EQ(1, run.code);
    EXPECT_EQ(3u, Lines(run.err)) << run.err;
    run = Tool("lint " + kSource + "/examples/sample.json --strict");
    EXPECT_EQ(0, run.code) << run.err;
    EXPECT_EQ("", run.err);
}

TEST_F(Scratch, ScanWritesAManifestThatBuilds) {
    fs::create_directories(dir_ / "tree/sub");
    WriteText(Path("tree/a.txt"), "a");
    WriteText(Path("tree/sub/b.txt"), "b");
    WriteText(Path("tree/remove.exe"), "the uninstaller, under the name the installer gives it");
    fs::current_path(dir_);
    ToolRun run = Tool("scan tree --name Acme -o m.json --stub dist/remove.exe");
    ASSERT_EQ(0, run.code) << run.err;
    pack::ManifestResult result = Read(ReadText(Path("m.json")));
    ASSERT_EQ(0u, result.diagnostics.size()) << Diagnostics(result);
    ASSERT_EQ(3u, result.block.files.size());
    EXPECT_EQ(".\\sub", result.block.files[1].folder);
    EXPECT_EQ("", result.block.files[1].name);
    EXPECT_EQ(1, Tool("scan missing").code);
    // Without --stub the uninstaller is uninstall.exe, and lint warns of a manifest that
    // lists the one given.
    run = Tool("scan tree --name Acme -o all.json");
    ASSERT_EQ(0, run.code) << run.err;
    run = Tool("lint all.json --stub remove.exe");
    EXPECT_EQ(0, run.code);
    EXPECT_NE(std::string::npos, run.err.find("warning W11 at files[1]: \"remove.exe\" is the "
                                              "uninstaller itself"))
        << run.err;
}

TEST_F(Scratch, ScanWritesEveryPathUnderTheFolderGivenWithAs) {
    fs::create_directories(dir_ / "sub");
    WriteText(Path("a.txt"), "a");
    WriteText(Path("sub/b.txt"), "b");
    WriteText(Path("uninstall.exe"), "the uninstaller");
    struct Case {
        const char *as;
        std::vector<std::string> listed; // empty: refused
        const char *refusal = "";
    } cases[] = {
        {".", {".|a.txt", ".\\sub|", ".\\sub|b.txt"}},
        {".\\data", {".\\data|", ".\\data|a.txt", ".\\data\\sub|", ".\\data\\sub|b.txt"}},
        {"{programfiles}\\Acme",
         {"{programfiles}\\Acme|", "{programfiles}\\Acme|a.txt", "{programfiles}\\Acme\\sub|",
          "{programfiles}\\Acme\\sub|b.txt"}},
        {"{ProgramFiles}/Acme/",
         {"{ProgramFiles}\\Acme|", "{ProgramFiles}\\Acme|a.txt", "{ProgramFiles}\\Acme\\sub|",
          "{ProgramFiles}\\Acme\\sub|b.txt"}},
        // A folder the program never removes gets no entry of its own.
        {"{commonfiles}",
         {"{commonfiles}|a.txt", "{commonfiles}\\sub|", "{commonfiles}\\sub|b.txt"}},
        {"D:\\", {"D:\\|a.txt", "D:\\sub|", "D:\\sub|b.txt"}},
        {"\\\\server\\apps\\Acme",
         {"\\\\server\\apps\\Acme|", "\\\\server\\apps\\Acme|a.txt", "\\\\server\\apps\\Acme\\sub|",
          "\\\\server\\apps\\Acme\\sub|b.txt"}},
        {"{temp}\\Acme", {}, "\"{temp}\" is not a folder token"},
        {"{programfiles}Acme", {}, "is not followed by a backslash"},
        {"Acme", {}, "is not a folder the program can name"},
        {"..\\Acme", {}, "is not a folder the program can name"},
        {"", {}, "is not a folder the program can name"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.as);
        std::vector<pack::FileEntry> entries;
        std::string error;
        bool scanned = pack::ScanTree(dir_.string(), &entries, &error, "uninstall.exe", c.as);
        ASSERT_EQ(!c.listed.empty(), scanned) << error;
        if (!scanned) {
            EXPECT_NE(std::string::npos, error.find(c.refusal)) << error;
            continue;
        }
        std::vector<std::string> listed;
        for (const auto &e : entries)
            listed.push_back(e.folder + "|" + e.name);
        EXPECT_EQ(c.listed, listed);
    }

    // The command writes a manifest that builds with the token flag and lints clean.
    fs::current_path(dir_);
    ToolRun run = Tool("scan . --name Acme --as '{programfiles}\\Acme' -o m.json");
    ASSERT_EQ(0, run.code) << run.err;
    pack::ManifestResult result = Read(ReadText(Path("m.json")));
    ASSERT_EQ(0u, result.diagnostics.size()) << Diagnostics(result);
    EXPECT_NE(0u, result.block.optionFlags & pack::OPTION_FOLDER_TOKENS);
    ASSERT_EQ(4u, result.block.files.size());
    EXPECT_EQ("{programfiles}\\Acme\\sub", result.block.files[2].folder);
    run = Tool("scan . --as '{programs}Acme'");
    EXPECT_EQ(1, run.code);
    EXPECT_EQ(1u, Lines(run.err)) << run.err;
    EXPECT_EQ("", run.out);
}

} // namespace
