// Keys removed only when empty, what /S does with a shared file nobody counts on, and one
// file listed twice under two spellings: the manifest, the record, the checks, inspect.
#include "builder.h"
#include "support.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace host_support;

namespace {

constexpr uint32_t HKCU = 0x80000001u, HKLM = 0x80000002u;

TEST(EmptyKeys, TheRecordIsWrittenAsAgreedAndOnlyWithEntries) {
    pack::ManifestResult result = Read(R"({"name": "A", "registry": [
        {"root": "HKCU", "key": "Software\\Acme\\Notes"},
        {"root": "HKCU", "key": "Software\\Acme\\Notes\\Cache", "ifEmpty": true, "levels": 2},
        {"root": "HKLM", "key": "Software\\Acme", "value": "Path"},
        {"root": 2147483650, "key": "Software\\Acme", "ifEmpty": true}]})");
    ASSERT_EQ(0u, result.diagnostics.size()) << Diagnostics(result);
    const pack::Block &b = result.block;
    ASSERT_EQ(2u, b.registry.size());
    EXPECT_EQ("Software\\Acme\\\\Path", b.registry[1].path);
    ASSERT_EQ(2u, b.emptyKeys.size());
    EXPECT_EQ(2, b.emptyKeys[0].levels);
    EXPECT_EQ(HKCU, b.emptyKeys[0].root);
    EXPECT_EQ(0, b.emptyKeys[1].levels);
    EXPECT_EQ(HKLM, b.emptyKeys[1].root);

    // The record as agreed: a count, then per entry levels, root and a counted key path.
    Bytes expected = {0x42, 0x12, 0, 0, 56,   0,  0, 0, // tag 0x1242, flags, reserved, length
                      2,    0,    0, 0,                 // two entries
                      2,    0x01, 0, 0, 0x80, 25, 0};   // levels 2, HKCU, 25 bytes of path
    const std::string cache = "Software\\Acme\\Notes\\Cache", acme = "Software\\Acme";
    expected.insert(expected.end(), cache.begin(), cache.end());
    for (uint8_t byte : {0, 0x02, 0, 0, 0x80, 13, 0}) // levels 0, HKLM, 13 bytes of path
        expected.push_back(byte);
    expected.insert(expected.end(), acme.begin(), acme.end());
    const Bytes block = pack::EncodeBlock(b);
    const Bytes registry = pack::EncodeRecord(
        pack::MakeRecord(pack::TAG_REGISTRY, pack::RegistryEntriesPayload(b.registry)));
    auto at = std::search(block.begin(), block.end(), registry.begin(), registry.end());
    ASSERT_NE(block.end(), at);
    at += long(registry.size());
    ASSERT_LE(size_t(block.end() - at), block.size());
    ASSERT_GE(size_t(block.end() - at), expected.size() + 2);
    EXPECT_EQ(expected, Bytes(at, at + long(expected.size())))
        << "the empty keys come right after the registry entries";
    EXPECT_EQ(pack::TAG_OPTIONS, pack::GetU16(block, size_t(at - block.begin()) + expected.size()));

    pack::BlockReading reading;
    ASSERT_TRUE(pack::ReadBlock(block, 0, &reading)) << reading.damage;
    EXPECT_TRUE(reading.notes.empty()) << reading.notes.front();
    ASSERT_EQ(2u, reading.block.emptyKeys.size());
    EXPECT_EQ("Software\\Acme\\Notes\\Cache", reading.block.emptyKeys[0].path);
    EXPECT_EQ(2, reading.block.emptyKeys[0].levels);
    std::string shown = pack::DescribeReading(reading, 0);
    EXPECT_NE(std::string::npos,
              shown.find("\nregistry keys removed only when empty (2; each with no subkeys and "
                         "no values left, then up to levels of its parents):\n  [0] HKCU "
                         "\"Software\\Acme\\Notes\\Cache\" levels 2\n  [1] HKLM "
                         "\"Software\\Acme\" levels 0\n"))
        << shown;

    // Without such entries the block has no such record.
    reading = {};
    ASSERT_TRUE(pack::ReadBlock(pack::EncodeBlock(Read(R"({"name": "A"})").block), 0, &reading));
    for (const pack::RecordInfo &r : reading.records)
        EXPECT_NE(pack::TAG_EMPTY_KEYS, r.tag);
    EXPECT_EQ(std::string::npos, pack::DescribeReading(reading, 0).find("only when empty"));
}

TEST(EmptyKeys, TheFormatPageListsTheRecordOfItsEntry) {
    const std::string doc = kSource + "/docs/format.md";
    std::string error;
    Bytes listed = ParseListing(FencedAfter(doc, "<!-- empty keys record -->"), &error);
    ASSERT_EQ("", error);
    pack::ManifestResult result = Read(R"({"name": "A", "registry": [{"root": "HKCU",
        "key": "Software\\Acme\\Notes", "ifEmpty": true, "levels": 1}]})");
    ASSERT_EQ(0u, result.diagnostics.size()) << Diagnostics(result);
    EXPECT_EQ(pack::EncodeRecord(pack::MakeRecord(pack::TAG_EMPTY_KEYS,
                                                  pack::EmptyKeysPayload(result.block.emptyKeys))),
              listed)
        << "the listing in docs/format.md no longer matches the record";
    EXPECT_NE(
        std::string::npos,
        ReadText(doc).find(R"({"root": "HKCU", "key": "Software\\Acme\\Notes", "ifEmpty": true,
"levels": 1})"));
}

TEST(EmptyKeys, ARecordThatDoesNotHoldItsEntriesIsDamage) {
    pack::Record many = pack::MakeRecord(pack::TAG_EMPTY_KEYS,
                                         pack::EmptyKeysPayload({{1, HKCU, "Software\\Acme"}}));
    many.payload[0] = 3; // three entries in room for one
    pack::Record cut = pack::MakeRecord(pack::TAG_EMPTY_KEYS,
                                        pack::EmptyKeysPayload({{1, HKCU, "Software\\Acme"}}));
    cut.payload.resize(cut.payload.size() - 3);
    struct Case {
        const char *name;
        pack::Record record;
        const char *damage;
    } cases[] = {
        {"an entry count beyond the record", many, "the entry count 3 at byte"},
        {"a path cut short", cut, "entry 0's path at byte"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        pack::BlockReading reading;
        EXPECT_FALSE(pack::ReadBlock(
            pack::EncodeRecords({c.record, pack::MakeRecord(pack::TAG_END, {})}), 0, &reading));
        EXPECT_EQ(8, reading.programCode);
        EXPECT_NE(std::string::npos, reading.damage.find("(empty keys, tag 0x1242)"))
            << reading.damage;
        EXPECT_NE(std::string::npos, reading.damage.find(c.damage)) << reading.damage;
    }
}

TEST(SilentShared, TheChoiceIsAnOptionBitAndComesBack) {
    struct Case {
        const char *options;
        bool bit;
    } cases[] = {
        {"", false},
        {R"(, "options": {"silentShared": "keep"})", false},
        {R"(, "options": {"silentShared": "remove"})", true},
        {R"(, "options": {"silentShared": "remove", "restartDelete": false})", true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.options);
        pack::ManifestResult result = Read(std::string(R"({"name": "A")") + c.options + "}");
        ASSERT_EQ(0u, result.diagnostics.size()) << Diagnostics(result);
        EXPECT_EQ(c.bit, (result.block.optionFlags & pack::OPTION_SILENT_SHARED) != 0);
        pack::BlockReading reading;
        ASSERT_TRUE(pack::ReadBlock(pack::EncodeBlock(result.block), 0, &reading));
        EXPECT_TRUE(reading.notes.empty()) << reading.notes.front();
        EXPECT_NE(std::string::npos,
                  pack::DescribeReading(reading, 0)
                      .find(c.bit ? ", silentShared remove," : ", silentShared keep,"));
        std::string json, error;
        std::vector<std::string> notes;
        ASSERT_TRUE(pack::WriteManifest(reading.block, 1252, &json, &error, &notes)) << error;
        EXPECT_EQ(c.bit, json.find("\"silentShared\": \"remove\"") != std::string::npos) << json;
        EXPECT_EQ(pack::EncodeBlock(result.block), pack::EncodeBlock(Read(json).block)) << json;
    }
}

TEST(EmptyKeys, InspectAsJsonGivesThemBackAmongTheRegistryEntries) {
    pack::ManifestResult first = Read(R"({"name": "A", "registry": [
        {"root": "HKCU", "key": "Software\\Acme\\Notes", "ifEmpty": true, "levels": 1},
        {"root": "HKCU", "key": "Software\\Acme\\Tree"},
        {"root": "HKCU", "key": "Software\\Acme\\Empty", "ifEmpty": true}]})");
    ASSERT_EQ(0u, first.diagnostics.size()) << Diagnostics(first);
    pack::BlockReading reading;
    ASSERT_TRUE(pack::ReadBlock(pack::EncodeBlock(first.block), 0, &reading));
    std::string json, error;
    std::vector<std::string> notes;
    ASSERT_TRUE(pack::WriteManifest(reading.block, 1252, &json, &error, &notes)) << error;
    EXPECT_NE(std::string::npos,
              json.find("    {\"root\": \"HKCU\", \"key\": \"Software\\\\Acme\\\\Tree\"},\n"
                        "    {\"root\": \"HKCU\", \"key\": \"Software\\\\Acme\\\\Notes\", "
                        "\"ifEmpty\": true, \"levels\": 1},\n"
                        "    {\"root\": \"HKCU\", \"key\": \"Software\\\\Acme\\\\Empty\", "
                        "\"ifEmpty\": true}\n"))
        << json;
    EXPECT_EQ(pack::EncodeBlock(first.block), pack::EncodeBlock(Read(json).block));
}

TEST(EmptyKeys, EachErrorIsNamedWithItsPlace) {
    struct Bad {
        const char *json;
        const char *path;
        const char *message;
    } cases[] = {
        {R"({"name": "A", "registry": [{"root": "HKCU", "key": "Software\\A", "value": "x",
             "ifEmpty": true}]})",
         "registry[0].value", "an \"ifEmpty\" entry names a key"},
        {R"({"name": "A", "registry": [{"root": "HKCU", "key": "Software\\A", "levels": 1}]})",
         "registry[0].levels", "only with \"ifEmpty\": true"},
        {R"({"name": "A", "registry": [{"root": "HKCU", "key": "Software\\A", "ifEmpty": true,
             "levels": 256}]})",
         "registry[0].levels", "0 to 255"},
        {R"({"name": "A", "registry": [{"root": "HKCU", "key": "Software\\A", "ifEmpty": 1}]})",
         "registry[0].ifEmpty", "expected true or false, found an integer"},
        {R"({"name": "A", "registry": [{"root": "HKCU", "key": "Software\\A\\\\B",
             "ifEmpty": true}]})",
         "registry[0].key", "reads as a value"},
        {R"({"name": "A", "options": {"silentShared": "delete"}})", "options.silentShared",
         "\"delete\" is not a choice; give \"keep\""},
        {R"({"name": "A", "options": {"silentShared": true}})", "options.silentShared",
         "expected a string, found true or false"},
    };
    for (const Bad &c : cases) {
        SCOPED_TRACE(c.json);
        pack::ManifestResult result = Read(c.json);
        ASSERT_EQ(1u, result.Errors()) << Diagnostics(result);
        EXPECT_EQ(c.path, result.diagnostics[0].path) << result.diagnostics[0].message;
        EXPECT_NE(std::string::npos, result.diagnostics[0].message.find(c.message))
            << result.diagnostics[0].message;
    }
}

struct Warned {
    const char *name;
    const char *json;
    int number;
    const char *path;    // in the manifest's own numbering
    const char *message; // a part of it
    int page = pack::CODEPAGE_UTF8;
};

TEST(EmptyKeys, TheChecksNameEntriesAsTheManifestNumbersThem) {
    const Warned cases[] = {
        {"a protected key as the start",
         R"({"name": "A", "registry": [{"root": "HKCU", "key": "Software\\A"},
             {"root": "HKLM", "key": "Software\\Microsoft", "ifEmpty": true, "levels": 3}]})",
         6, "registry[1].key", "a key the program protects, which it never removes"},
        {"a whole root",
         R"({"name": "A", "registry": [{"root": "HKCU", "key": "\\", "ifEmpty": true}]})", 6,
         "registry[0].key", "names a whole root"},
        {"the same key twice, spelled otherwise",
         R"({"name": "A", "registry": [{"root": "HKCU", "key": "Software\\Acme", "ifEmpty": true},
             {"root": "HKCU", "key": "Software\\Acme\\Notes"},
             {"root": "HKCU", "key": "software\\\\acme\\", "ifEmpty": true}]})",
         8, "registry[2]", "an earlier entry removed only when empty"},
        {"a token in the key",
         R"({"name": "A", "registry": [{"root": "HKCU", "key": "Software\\A"},
             {"root": "HKCU", "key": "{appdata}\\Acme", "ifEmpty": true}]})",
         12, "registry[1].key", "takes no folder tokens"},
        {"a key path beyond the program's entry buffer",
         R"({"name": "A", "registry": [{"root": "HKCU", "key": "Software\\%CJK600%", "ifEmpty": true}]})",
         1, "registry[0]", "it drops this entry"},
        {"outside ASCII in a legacy block",
         R"({"name": "A", "registry": [{"root": "HKCU", "key": "Software\\Café", "ifEmpty": true}]})",
         10, "registry[0].key", "not ASCII", 1252},
    };
    for (const Warned &c : cases) {
        SCOPED_TRACE(c.name);
        std::string json = c.json, cjk;
        for (int i = 0; i < 600; i++)
            cjk += "機";
        if (json.find("%CJK600%") != std::string::npos)
            json.replace(json.find("%CJK600%"), 8, cjk);
        pack::ManifestResult result = Read(json, c.page);
        ASSERT_EQ(0u, result.Errors()) << Diagnostics(result);
        ASSERT_EQ(1u, result.Warnings()) << Diagnostics(result);
        EXPECT_EQ(c.number, result.diagnostics[0].number);
        EXPECT_EQ(c.path, result.diagnostics[0].path);
        EXPECT_NE(std::string::npos, result.diagnostics[0].message.find(c.message))
            << result.diagnostics[0].message;
    }
    // A walk that reaches a protected key stops there, as it should: no warning.
    pack::ManifestResult quiet = Read(R"({"name": "A", "registry": [
        {"root": "HKCU", "key": "Software\\Acme\\Notes\\Cache", "ifEmpty": true, "levels": 9},
        {"root": "HKLM", "key": "Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\acme.exe",
         "ifEmpty": true, "levels": 1}]})");
    EXPECT_EQ(0u, quiet.diagnostics.size()) << Diagnostics(quiet);
}

TEST(Duplicates, OneFileUnderTwoSpellingsIsListedTwice) {
    struct Case {
        const char *first, *second; // the folder and name of two file entries: "folder|name"
        bool same;
    } cases[] = {
        {".|a.txt", ".|A.TXT", true},
        {".|a.txt", ".\\|a.txt", true},
        {".\\data|a.txt", ".\\data\\\\|a.txt", true},
        {".\\data|a.txt", ".\\Data\\.|a.txt", true},
        {".\\data|a.txt", ".\\x\\..\\data|a.txt", true},
        {".\\data|a.txt", "./data|a.txt", true},
        {".\\data|a.txt", ".\\data.|a.txt. ", true},
        {"{ProgramFiles}\\Acme|a.dll", "{programfiles}\\acme\\|a.dll", true},
        {"C:\\Acme|", "c:\\acme\\|", true},
        {"\\\\server\\share|a.txt", "\\\\SERVER\\share\\|a.txt", true},
        {".|a.txt", ".\\data|a.txt", false},
        {".|a.txt", ".|a.txt.bak", false},
        {"{programfiles}\\Acme|a.dll", "{commonfiles}\\Acme|a.dll", false},
        {".\\data|a.txt", ".\\data2|a.txt", false},
    };
    auto entry = [](const std::string &spelled) {
        size_t bar = spelled.find('|');
        return pack::FileEntry{spelled.substr(0, bar), spelled.substr(bar + 1), 0};
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.first) + " / " + c.second);
        pack::Block block = Read(R"({"name": "A"})").block;
        block.optionFlags |= pack::OPTION_FOLDER_TOKENS;
        block.files = {entry(c.first), entry(c.second)};
        std::vector<pack::Diagnostic> found;
        pack::CheckBlock(block, pack::CODEPAGE_UTF8, &found);
        size_t duplicates = size_t(std::count_if(
            found.begin(), found.end(), [](const pack::Diagnostic &d) { return d.number == 8; }));
        EXPECT_EQ(c.same ? 1u : 0u, duplicates);
        if (c.same && duplicates) {
            auto d = std::find_if(found.begin(), found.end(),
                                  [](const pack::Diagnostic &d) { return d.number == 8; });
            EXPECT_EQ("files[1]", d->path);
            EXPECT_NE(std::string::npos, d->message.find("as files[0]")) << d->message;
        }
    }
    // A shared file listed twice: the warning says what it costs.
    pack::ManifestResult shared = Read(
        R"({"name": "A", "files": [{"folder": "{commonfiles}\\Acme", "name": "ui.dll", "flags": ["shared"]},
            {"folder": "{CommonFiles}\\Acme\\", "name": "UI.dll", "flags": ["shared"]}]})");
    ASSERT_EQ(1u, shared.diagnostics.size()) << Diagnostics(shared);
    EXPECT_EQ("warning W8 at files[1]: the same file as files[0] under another spelling "
              "(\"{commonfiles}\\Acme\" and \"{CommonFiles}\\Acme\\\"); a shared file listed "
              "twice has its count lowered twice in one run, so it may go while another "
              "program still counts on it",
              pack::FormatDiagnostic("", shared.diagnostics[0]));
}

} // namespace
