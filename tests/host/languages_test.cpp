// Several languages in one block: the shipped translations, how a manifest names its
// tables, lint's warning for a text a language lacks, and the records read back.
#include "builder.h"
#include "support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

using namespace host_support;

namespace {

const uint16_t EN = 0x0409, DE = 0x0407, FR = 0x040C, JA = 0x0411, KO = 0x0412, SV = 0x041D,
               ZH_TW = 0x0404;

std::string Fill(std::string text, const std::string &name) {
    for (size_t at; (at = text.find("{name}")) != std::string::npos;)
        text.replace(at, 6, name);
    return text;
}

size_t Count(const std::string &text, const std::string &part) {
    size_t count = 0;
    for (size_t at = 0; (at = text.find(part, at)) != std::string::npos; at += part.size())
        count++;
    return count;
}

// The UTF-8 character after a button label's one "&": its access key.
std::string AccessKey(const std::string &label) {
    size_t at = label.find('&');
    if (at == std::string::npos || at + 1 >= label.size())
        return "";
    size_t size = 1;
    while (at + 1 + size < label.size() && (uint8_t(label[at + 1 + size]) & 0xC0) == 0x80)
        size++;
    std::string key = label.substr(at + 1, size);
    if (key.size() == 1)
        key[0] = char(std::tolower(uint8_t(key[0])));
    return key;
}

TEST(Languages, EveryShippedTranslationIsWholeAndShapedLikeTheEnglish) {
    const std::set<std::string> issued = {"en", "de", "fr",    "es",    "it", "pt-BR", "nl",
                                          "pl", "cs", "ru",    "uk",    "tr", "el",    "he",
                                          "ar", "ja", "zh-CN", "zh-TW", "ko"};
    std::set<std::string> shipped;
    const auto &roles = pack::Roles();
    const pack::ShippedLanguage &english = pack::ShippedLanguages().front();
    ASSERT_STREQ("en", english.tag) << "English, the roles' defaults, comes first";
    for (const pack::ShippedLanguage &language : pack::ShippedLanguages()) {
        SCOPED_TRACE(language.tag);
        shipped.insert(language.tag);
        uint16_t id = 0;
        std::string error;
        ASSERT_TRUE(pack::ParseLanguage(language.tag, &id, &error)) << error;
        EXPECT_EQ(language.id, id);
        EXPECT_EQ(language.tag, pack::LanguageTag(language.id));
        EXPECT_EQ(&language, pack::FindShippedLanguage(language.id));
        std::set<std::string> keys;
        for (size_t n = 0; n < roles.size(); n++) {
            SCOPED_TRACE(roles[n].name);
            const char *text = pack::ShippedText(language, n);
            ASSERT_NE(nullptr, text);
            std::string t = text, en = roles[n].defaultText;
            ASSERT_FALSE(t.empty());
            EXPECT_EQ(std::string::npos, t.find_first_of("\t\n"));
            EXPECT_NE(' ', t.front());
            EXPECT_NE(' ', t.back());
            EXPECT_EQ(Count(en, "{name}") > 0, Count(t, "{name}") > 0)
                << "the name stands where the English shows it";
            EXPECT_EQ(Count(en, "%s"), Count(t, "%s"));
            EXPECT_EQ(Count(en, "%"), Count(t, "%")) << "no other conversion";
            if (n >= 3 && n <= 6) {
                EXPECT_EQ(1u, Count(t, "&")) << t;
                std::string key = AccessKey(t);
                EXPECT_TRUE(!key.empty() && key != " ") << t;
                EXPECT_TRUE(keys.insert(key).second) << "access key " << key << " twice";
            }
            if (&language != &english && (n <= 2 || n >= 7)) {
                EXPECT_NE(en, t) << "left in English";
            }
        }
        // A manifest in this language alone reads without a warning (no text too long, no
        // stray "%", nothing empty), with the name filled in.
        std::string json =
            std::string(R"({"name": "Acme Notes", "language": ")") + language.tag + "\"}";
        pack::ManifestResult result = Read(json);
        EXPECT_EQ(0u, result.diagnostics.size()) << Diagnostics(result);
        for (size_t n = 0; n < roles.size() && n < result.block.texts.size(); n++)
            EXPECT_EQ(Fill(pack::ShippedText(language, n), "Acme Notes"), result.block.texts[n]);
        // Every character exists in the language's own ANSI code page, so a legacy block for
        // systems in that language builds. vanish-pack has no double-byte code pages (932,
        // 936, 949, 950): those languages need a UTF-8 block.
        if (pack::IsSupportedCodePage(language.ansiCodePage)) {
            pack::ManifestResult legacy = Read(json, language.ansiCodePage);
            EXPECT_EQ(0u, legacy.Errors()) << Diagnostics(legacy);
        }
        for (const std::string &other : {std::string(language.otherTags)}) {
            size_t start = 0;
            while (start < other.size()) {
                size_t end = other.find(' ', start);
                std::string tag = other.substr(start, end - start);
                ASSERT_TRUE(pack::ParseLanguage(tag, &id, &error)) << tag << ": " << error;
                EXPECT_EQ(language.id, id) << tag;
                start = end == std::string::npos ? other.size() : end + 1;
            }
        }
    }
    EXPECT_EQ(issued, shipped);
}

struct Expected {
    size_t table, role;
    const char *text;
};

TEST(Languages, TheTablesFollowTheManifest) {
    struct Case {
        const char *name;
        const char *json;
        std::vector<uint16_t> languages; // empty: one table, no languages record
        std::vector<Expected> texts;
    } cases[] = {
        {"English alone, as before",
         R"({"name": "Acme"})",
         {},
         {{0, 1, "Remove Acme and all of its components?"}}},
        {"another default language, one table",
         R"({"name": "Acme", "language": "de"})",
         {},
         {{0, 0, "Deinstallation von Acme"}, {0, 3, "&Ja"}}},
        {"shipped languages pulled in",
         R"({"name": "Acme", "languages": ["de", "ja"]})",
         {EN, DE, JA},
         {{0, 2, "Acme was removed from your computer."},
          {1, 1, "Möchten Sie Acme und alle zugehörigen Komponenten entfernen?"},
          {2, 0, "Acme のアンインストール"}}},
        {"texts by role are the default language's",
         R"({"name": "Acme", "languages": ["fr"], "texts": {"confirm": "Remove Acme now?"}})",
         {EN, FR},
         {{0, 1, "Remove Acme now?"},
          {1, 1, "Voulez-vous supprimer Acme et tous ses composants\u00A0?"}}},
        {"the author's text overrides the shipped one, role by role",
         R"({"name": "Acme", "texts": {"de": {"confirm": "Acme entfernen?"}, "en": {"complete": "Gone."}}})",
         {EN, DE},
         {{0, 2, "Gone."},
          {0, 1, "Remove Acme and all of its components?"},
          {1, 1, "Acme entfernen?"},
          {1, 0, "Deinstallation von Acme"}}},
        {"tags in any case, other tags and numbers",
         R"({"name": "Acme", "language": "DE-de", "languages": [1036, "zh_hant"]})",
         {DE, FR, ZH_TW},
         {{0, 5, "&Nein"}, {1, 5, "&Non"}, {2, 5, "否(&N)"}}},
        {"an LCID with a sort order names its language",
         R"({"name": "Acme", "language": "0x10407", "languages": ["1033"]})",
         {DE, EN},
         {}},
        {"further languages in the list's order, then those only texts name, as written",
         R"({"name": "Acme", "languages": ["ja"], "texts": {"ko": {}, "de": {}}})",
         {EN, JA, KO, DE},
         {{3, 3, "&Ja"}}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        pack::ManifestResult result = Read(c.json);
        ASSERT_EQ(0u, result.diagnostics.size()) << Diagnostics(result);
        const pack::Block &b = result.block;
        EXPECT_EQ(c.languages, b.languages);
        ASSERT_EQ(c.languages.empty() ? 0u : c.languages.size() - 1, b.furtherTexts.size());
        for (const auto &texts : b.furtherTexts)
            EXPECT_EQ(b.texts.size(), texts.size());
        for (const Expected &e : c.texts)
            EXPECT_EQ(e.text, (e.table ? b.furtherTexts[e.table - 1] : b.texts)[e.role])
                << "table " << e.table << " role " << e.role;
        // A block of one table is laid out as before languages: no languages record.
        pack::BlockReading reading;
        ASSERT_TRUE(pack::ReadBlock(pack::EncodeBlock(b), 0, &reading)) << reading.damage;
        EXPECT_EQ(
            c.languages.size() > 1,
            std::any_of(reading.records.begin(), reading.records.end(),
                        [](const pack::RecordInfo &r) { return r.tag == pack::TAG_LANGUAGES; }));
        EXPECT_EQ(c.languages, reading.block.languages);
        EXPECT_TRUE(reading.notes.empty()) << reading.notes.front();
    }
}

TEST(Languages, EachErrorNamesTheLanguageAndItsPlace) {
    struct Bad {
        const char *json;
        const char *path;
        const char *message;
        int page = pack::CODEPAGE_UTF8;
    } cases[] = {
        {R"({"name": "A", "language": "xx"})", "language",
         "\"xx\" is not a language vanish-pack knows by name; give one of en, de, fr"},
        {R"({"name": "A", "language": "pt"})", "language", "\"pt-BR\" is Brazil's"},
        {R"({"name": "A", "languages": ["zh"]})", "languages[0]", "\"zh-CN\" is Simplified"},
        {R"({"name": "A", "language": 0})", "language", "not a Windows language identifier"},
        {R"({"name": "A", "language": "0x1000000"})", "language", "is not a language"},
        {R"({"name": "A", "language": true})", "language", "found true or false"},
        {R"({"name": "A", "languages": "de"})", "languages", "expected a list of languages"},
        {R"({"name": "A", "languages": ["en"]})", "languages[0]", "is the default language"},
        {R"({"name": "A", "languages": ["de", "DE-de"]})", "languages[1]",
         "names the same language as languages[0]"},
        {R"({"name": "A", "texts": {"de": {}, "1031": {}}})", "texts.1031",
         "names the same language as texts.de"},
        {R"({"name": "A", "texts": {"de": {"confirm": "x"}, "caption": "y"}})", "texts",
         "mixes texts by role with texts by language"},
        {R"({"name": "A", "texts": {"de": {"title": "x"}}})", "texts.de.title",
         "unknown role; the roles are caption"},
        {R"({"name": "A", "texts": {"de": {"confirm": 3}}})", "texts.de.confirm",
         "expected a string"},
        {R"({"name": "A", "languages": ["0x041D"]})", "languages[0]",
         "vanish-pack ships no texts in language 0x041D; give them under texts.0x041D"},
        {R"({"name": "A", "language": 1053, "texts": {"caption": "Avinstallera A"}})", "texts",
         "ships no texts in language 0x041D, the default language; give all of its texts "
         "(missing: confirm, complete, yes,"},
        {R"({"languages": ["de"], "texts": {"caption": "A", "confirm": "A?", "complete": "A.",
             "inUse": "A!", "restartNeeded": "A..."}})",
         "name", "the default texts of caption, confirm, complete, inUse, restartNeeded need"},
        {R"({"name": "A", "languages": ["ja"]})", "languages[0]",
         "the shipped Japanese texts cannot be written in code page 1252 (caption: character 3",
         1252},
        {R"({"name": "A", "languages": ["de", "ru"]})", "languages[1]",
         "the shipped Russian texts cannot be written in code page 1250", 1250},
        {R"({"name": "A", "texts": {"en": {}, "de": {"confirm": "A 中?"}}})", "texts.de.confirm",
         "U+4E2D", 1252},
    };
    for (const Bad &c : cases) {
        SCOPED_TRACE(c.json);
        pack::ManifestResult result = Read(c.json, c.page);
        ASSERT_EQ(1u, result.Errors()) << Diagnostics(result);
        const pack::Diagnostic &d = result.diagnostics[0];
        EXPECT_EQ(c.path, d.path) << d.message;
        EXPECT_NE(std::string::npos, d.message.find(c.message)) << d.message;
    }
}

// A manifest in Swedish (no shipped texts) that gives every text but those named.
std::string SwedishLacking(const std::set<std::string> &left, const std::string &empty) {
    std::string texts;
    for (const pack::Role &role : pack::Roles()) {
        if (left.count(role.name))
            continue;
        std::string text = role.name == empty ? "" : std::string("sv ") + role.name;
        if (role.formatted)
            text += " %s";
        texts += std::string(texts.empty() ? "" : ", ") + "\"" + role.name + "\": \"" + text + "\"";
    }
    return R"({"name": "Acme", "texts": {"en": {"confirm": "Remove Acme?"},
        "de": {"confirm": "Acme entfernen?"}, "0x041D": {)" +
           texts + "}}}";
}

TEST_F(Scratch, LintNamesEachTextALanguageLacks) {
    WriteText(Path("m.json"), SwedishLacking({"inUse", "restartNeeded"}, "complete"));
    fs::current_path(dir_);
    ToolRun run = Tool("lint m.json");
    EXPECT_EQ(0, run.code);
    const std::string lacks =
        ", which the default language has; vanish-pack writes the default language's text there\n";
    EXPECT_EQ("vanish-pack: m.json: warning W13 at texts.0x041D.inUse: language 0x041D lacks the "
              "text inUse" +
                  lacks +
                  "vanish-pack: m.json: warning W13 at texts.0x041D.restartNeeded: language "
                  "0x041D lacks the text restartNeeded" +
                  lacks +
                  "vanish-pack: m.json: warning W13 at texts.0x041D.complete: language 0x041D "
                  "leaves empty the text complete, which the default language has\n",
              run.err)
        << "German, whose other texts are shipped, lacks nothing";
    EXPECT_EQ("vanish-pack: m.json: no errors, 3 warnings\n", run.out);
    EXPECT_EQ(1, Tool("lint --strict m.json").code);

    pack::ManifestResult result = Read(ReadText(Path("m.json")));
    ASSERT_EQ(2u, result.block.furtherTexts.size());
    const std::vector<std::string> &english = result.block.texts,
                                   &swedish = result.block.furtherTexts[1];
    EXPECT_EQ(english[15], swedish[15]) << "the default's text stands in for the one it lacks";
    EXPECT_EQ("", swedish[2]);
    EXPECT_EQ("sv caption", swedish[0]);

    // A language that gives every text draws nothing.
    WriteText(Path("whole.json"), SwedishLacking({}, ""));
    run = Tool("lint whole.json");
    EXPECT_EQ(0, run.code);
    EXPECT_EQ("", run.err);
}

TEST(Languages, CheckBlockNamesTablesWithoutTheirLanguage) {
    pack::Block block = Read(R"({"name": "A", "languages": ["de"]})").block;
    struct Case {
        const char *name;
        std::vector<uint16_t> languages;
        const char *error; // empty: none
    } cases[] = {
        {"one language a table", {EN, DE}, ""},
        {"none", {}, "2 tables of texts but 0 languages"},
        {"one too many", {EN, DE, FR}, "2 tables of texts but 3 languages"},
        {"the same twice", {DE, DE}, "tables 0 and 1 have the same language, de"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        block.languages = c.languages;
        std::vector<pack::Diagnostic> found;
        pack::CheckBlock(block, pack::CODEPAGE_UTF8, &found);
        std::string all;
        for (const auto &d : found)
            all += pack::FormatDiagnostic("", d) + "\n";
        if (*c.error) {
            ASSERT_EQ(1u, found.size()) << all;
            EXPECT_EQ(pack::Diagnostic::Error, found[0].kind);
            EXPECT_NE(std::string::npos, found[0].message.find(c.error)) << all;
        } else {
            EXPECT_EQ(0u, found.size()) << all;
        }
    }
}

// --- The records read back ------------------------------------------------------------------

pack::Record Strings(const std::vector<std::vector<std::string>> &tables) {
    return pack::MakeRecord(pack::TAG_STRINGS, pack::StringTablesPayload(tables));
}

pack::Record Languages(const std::vector<uint16_t> &ids) {
    return pack::MakeRecord(pack::TAG_LANGUAGES, pack::LanguagesPayload(ids));
}

pack::Record Options(uint32_t flags) {
    return pack::MakeRecord(pack::TAG_OPTIONS, pack::OptionsPayload(flags, "", ""));
}

TEST(Languages, TheRecordsAreReadAsWrittenAndOddOnesNamed) {
    const std::vector<std::vector<std::string>> two = {{"Acme", "Remove?"}, {"Acme", "Entfernen?"}};
    pack::Record cutLanguages = Languages({EN, DE});
    cutLanguages.payload[0] = 5; // five languages in room for two
    pack::Record cutTable = Strings(two);
    cutTable.payload.resize(cutTable.payload.size() - 4); // table 1's last text cut
    pack::Record shortPage = pack::MakeRecord(pack::TAG_CODEPAGE, {0xE4, 0x04});
    struct Case {
        const char *name;
        std::vector<pack::Record> records;
        const char *outcome; // a part of the one note or of the damage; empty: neither
        bool damaged = false;
    } cases[] = {
        {"two tables and their languages", {Strings(two), Languages({EN, DE}), Options(4)}, ""},
        {"the languages first", {Languages({EN, DE}), Strings(two), Options(4)}, ""},
        {"a legacy block's code page",
         {Strings(two), Languages({EN, DE}),
          pack::MakeRecord(pack::TAG_CODEPAGE, pack::CodePagePayload(1252)), Options(0)},
         ""},
        {"no languages record",
         {Strings(two), Options(4)},
         "1 further table without a languages record, which the program skips"},
        {"more languages than tables",
         {Strings(two), Languages({EN, DE, FR}), Options(4)},
         "the languages record names 3 languages for 2 tables of texts"},
        {"a language twice",
         {Strings(two), Languages({DE, DE}), Options(4)},
         "names language 0x0407 for tables 0 and 1"},
        {"languages beside one table",
         {Strings({two[0]}), Languages({EN}), Options(4)},
         "a languages record beside a single table of texts"},
        {"a code page in a UTF-8 block",
         {Strings(two), Languages({EN, DE}),
          pack::MakeRecord(pack::TAG_CODEPAGE, pack::CodePagePayload(1251)), Options(4)},
         "a code page record (1251) in a block marked UTF-8"},
        {"a language count beyond the record",
         {Strings(two), cutLanguages, Options(4)},
         "the language count 5 at byte",
         true},
        {"a further table cut short",
         {cutTable, Languages({EN, DE}), Options(4)},
         "table 1's text 1",
         true},
        {"a code page cut short",
         {Strings(two), shortPage, Options(0)},
         "the code page at byte",
         true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<pack::Record> records = c.records;
        records.push_back(pack::MakeRecord(pack::TAG_END, {}));
        pack::BlockReading reading;
        bool read = pack::ReadBlock(pack::EncodeRecords(records), 0, &reading);
        EXPECT_EQ(!c.damaged, read) << reading.damage;
        if (c.damaged) {
            EXPECT_EQ(8, reading.programCode);
            EXPECT_NE(std::string::npos, reading.damage.find(c.outcome)) << reading.damage;
            continue;
        }
        if (*c.outcome) {
            ASSERT_EQ(1u, reading.notes.size());
            EXPECT_NE(std::string::npos, reading.notes[0].find(c.outcome)) << reading.notes[0];
        } else {
            EXPECT_TRUE(reading.notes.empty()) << reading.notes.front();
            EXPECT_EQ(two[0], reading.block.texts);
            ASSERT_EQ(1u, reading.block.furtherTexts.size());
            EXPECT_EQ(two[1], reading.block.furtherTexts[0]);
            EXPECT_EQ(std::vector<uint16_t>({EN, DE}), reading.block.languages);
        }
    }
}

TEST(Languages, InspectShowsEveryTableAndWritesAManifestThatBuildsItAgain) {
    const std::string swedish = SwedishLacking({}, "");
    for (int page : {pack::CODEPAGE_UTF8, 1252}) {
        SCOPED_TRACE(page);
        const std::string json =
            page == 1252 ? R"({"name": "Acme", "language": "fr", "languages": ["de", 3082]})"
                         : swedish;
        pack::ManifestResult first = Read(json, page);
        ASSERT_EQ(0u, first.Errors()) << Diagnostics(first);
        Bytes block = pack::EncodeBlock(first.block);
        pack::BlockReading reading;
        ASSERT_TRUE(pack::ReadBlock(block, 0, &reading)) << reading.damage;
        std::string shown = pack::DescribeReading(reading, 0);
        for (const char *line :
             page == 1252
                 ? std::vector<
                       const char *>{"\ntexts, table 0, language fr, 0x040C, French, the "
                                     "default (17):\n   0 caption            "
                                     "\"Désinstallation de Acme\"\n",
                                     "\ntexts, table 1, language de, 0x0407, German (17):\n",
                                     "\ntexts, table 2, language es, 0x0C0A, Spanish (17):\n",
                                     "written in code page 1252 by its code page record; "
                                     "shown in code page 1252, as its code page record "
                                     "says\n"}
                 : std::vector<const char *>{"\ntexts, table 0, language en, 0x0409, English, the "
                                             "default (17):\n",
                                             "\ntexts, table 2, language 0x041D (17):\n   0 "
                                             "caption            \"sv caption\"\n"})
            EXPECT_NE(std::string::npos, shown.find(line)) << line << "\n" << shown;
        std::string written, error;
        std::vector<std::string> notes;
        ASSERT_TRUE(pack::WriteManifest(reading.block, page, &written, &error, &notes)) << error;
        EXPECT_TRUE(notes.empty()) << notes.front();
        pack::ManifestResult second = Read(written, page);
        ASSERT_EQ(0u, second.Errors()) << Diagnostics(second) << written;
        EXPECT_EQ(block, pack::EncodeBlock(second.block)) << written;
    }
}

TEST(Languages, TheFormatExampleBuildsTheListedBlock) {
    const std::string doc = kSource + "/docs/format.md";
    std::string manifest = FencedAfter(doc, "<!-- languages manifest -->");
    ASSERT_FALSE(manifest.empty()) << "docs/format.md lost its example of several languages";
    pack::ManifestResult result = Read(manifest, 1252);
    ASSERT_EQ(0u, result.Errors()) << Diagnostics(result);
    std::string error;
    Bytes listed = ParseListing(FencedAfter(doc, "<!-- languages block -->"), &error);
    EXPECT_EQ("", error);
    EXPECT_EQ(pack::EncodeBlock(result.block), listed)
        << "the hex listing in docs/format.md no longer matches the block";
    pack::BlockReading reading;
    ASSERT_TRUE(pack::ReadBlock(listed, 0, &reading)) << reading.damage;
    EXPECT_EQ(std::vector<uint16_t>({EN, DE}), reading.block.languages);
    EXPECT_EQ(1252u, reading.block.codePage);
}

} // namespace
