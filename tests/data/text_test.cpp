// The text layer: UTF-8 inside, UTF-16 or the ANSI code page (1252 here) at the system. A
// conversion that is not exact must fail, since a best-fit or stand-in character would name
// another file.
#include <gtest/gtest.h>

#include <string>

#include "../../src/common/common.h"

namespace {

class Text : public ::testing::Test {
  protected:
    void SetUp() override {
        OSVERSIONINFOA version;
        DetectSystemFamily(&version); // as WinMain does
        InitSystemLayer();
    }
};

std::wstring ToWide(const std::string &text, DWORD size, int strict, bool *converted) {
    std::wstring buffer(size, L'#');
    *converted = Utf8ToWide(text.c_str(), &buffer[0], size, strict) != 0;
    return *converted ? std::wstring(buffer.c_str()) : std::wstring();
}

// Sequences that are not UTF-8 are refused by the strict conversion (names) and become
// U+FFFD in the lenient one (texts shown); a character beyond the Basic Multilingual Plane
// takes two units.
TEST_F(Text, Utf8ToWideIsExactOrRefuses) {
    struct Row {
        const char *what;
        std::string utf8;
        std::wstring strict; // empty: refused
        std::wstring lenient;
    };
    const Row rows[] = {
        {"ASCII, Latin, CJK and an emoji", "a\xC3\xA9\xE8\xA1\xA8\xF0\x9F\x98\x80",
         L"a\u00e9\u8868\U0001F600", L"a\u00e9\u8868\U0001F600"},
        {"an overlong backslash", "a\xC1\x9C", L"", L"a\uFFFD\uFFFD"},
        {"an encoded surrogate", "\xED\xA0\x80z", L"", L"\uFFFD\uFFFD\uFFFDz"},
        {"beyond U+10FFFF", "\xF4\x90\x80\x80", L"", L"\uFFFD\uFFFD\uFFFD\uFFFD"},
        {"a sequence cut short", "\xE8\xA1", L"", L"\uFFFD\uFFFD"},
        {"a 932 lead byte and a backslash", "\x8B\x5C", L"", L"\uFFFD\\"},
    };
    for (const Row &row : rows) {
        bool converted;
        std::wstring strict = ToWide(row.utf8, 64, 1, &converted);
        EXPECT_EQ(!row.strict.empty(), converted) << row.what;
        EXPECT_EQ(row.strict, strict) << row.what;
        EXPECT_EQ(row.lenient, ToWide(row.utf8, 64, 0, &converted)) << row.what;
    }
}

// The buffer holds the units and the terminator, or the conversion fails: a cut name is
// another name. A surrogate pair is never split at the end.
TEST_F(Text, ConversionsThatDoNotFitFail) {
    bool converted;
    EXPECT_EQ(L"abc", ToWide("abc", 4, 1, &converted));
    ToWide("abcd", 4, 1, &converted);
    EXPECT_FALSE(converted);
    ToWide("ab\xF0\x9F\x98\x80", 4, 1, &converted);
    EXPECT_FALSE(converted) << "two units and a terminator left no room for the pair";
    EXPECT_EQ(L"ab\U0001F600", ToWide("ab\xF0\x9F\x98\x80", 5, 1, &converted));

    char utf8[8];
    EXPECT_TRUE(WideToUtf8(L"\u8868\u8868", utf8, 7));
    EXPECT_EQ("\xE8\xA1\xA8\xE8\xA1\xA8", std::string(utf8));
    EXPECT_FALSE(WideToUtf8(L"\u8868\u8868", utf8, 6));
    EXPECT_FALSE(WideToUtf8(L"a\xD800z", utf8, 8)) << "a lone surrogate has no UTF-8 form";

    // The longest path the system takes: 259 UTF-16 units, whatever their bytes.
    std::string path;
    while (Utf16Length(path.c_str()) < 259)
        path += "\xE8\xA1\xA8";
    EXPECT_EQ(259u, Utf16Length(path.c_str()));
    EXPECT_EQ(777u, path.size());
    EXPECT_TRUE(FitsSystemPath(path.c_str()));
    EXPECT_LE(path.size() + 1, (size_t)PATH_SIZE);
    EXPECT_FALSE(FitsSystemPath((path + "x").c_str()));
    EXPECT_EQ(0xFFFFFFFFu, Utf16Length("a\xC1\x9C"));
}

// The ANSI code page is 1252 in these tests: what it spells converts exactly and back, the
// rest is refused rather than turned into "?" or a best-fit letter.
TEST_F(Text, AnsiConversionIsExactOrRefused) {
    ASSERT_EQ(1252u, GetACP());
    struct Row {
        std::string utf8;
        const char *ansi; // null: refused
    } const rows[] = {
        {"Caf\xC3\xA9", "Caf\xE9"},
        {"\xE2\x82\xAC 5", "\x80 5"},                            // the euro sign
        {"\xD0\x96\xD1\x83\xD1\x80\xD0\xBD\xD0\xB0\xD0\xBB", 0}, // Cyrillic
        {"\xC4\x81", 0}, // a with macron: best fit would give "a"
        {"\xE8\xA1\xA8", 0},
    };
    for (const Row &row : rows) {
        char ansi[32];
        int converted = Utf8ToAnsi(row.utf8.c_str(), ansi, sizeof ansi, 1);
        EXPECT_EQ(row.ansi != 0, converted != 0) << row.utf8;
        if (row.ansi && converted) {
            EXPECT_EQ(std::string(row.ansi), std::string(ansi));
            char back[32];
            ASSERT_TRUE(AnsiToUtf8(ansi, back, sizeof back));
            EXPECT_EQ(row.utf8, std::string(back));
        }
    }
}

// Names compare as the file system and the registry compare them: A to Z always; beyond
// ASCII by the system's case mapping on the NT family, and by the case rules of the ANSI
// code page (1252 here) on 95/98/Me, where a character the code page cannot hold keeps its
// own value and no best-fit conversion makes a letter beyond ASCII equal one of A to Z.
TEST_F(Text, NamesCompareIgnoringCase) {
    ASSERT_EQ(1252u, GetACP());
    struct Row {
        const char *what, *a, *b;
        bool equal, equalOnNT;
    } const rows[] = {
        {"ASCII", "C:\\Program Files\\App", "c:\\PROGRAM FILES\\app", true, true},
        {"Latin-1 letters",
         "C:\\Donn\xC3\xA9"
         "es",
         "C:\\DONN\xC3\x89"
         "ES",
         true, true},
        {"an upper case beyond Latin-1 that 1252 holds", "\xC3\xBF", "\xC5\xB8", true, true}, // ÿ Ÿ
        {"Cyrillic, which 1252 cannot hold", "\xD0\x96\xD1\x83\xD1\x80", "\xD0\x96\xD0\xA3\xD0\xA0",
         false, true}, // Жур, ЖУР
        {"a with macron, which 1252 cannot hold", "\xC4\x81", "\xC4\x80", false, true}, // ā Ā
        {"a with macron is no a, though its best fit is", "\xC4\x81", "A", false, false},
        {"a micro sign is no M: its capital, Greek Mu, is beyond 1252", "\xC2\xB5", "m", false,
         false},
        {"a trailing backslash", "C:\\App", "C:\\App\\", false, false},
        {"another letter", "C:\\App", "C:\\Apq", false, false},
        {"two CJK characters", "C:\\\xE6\xA9\x9F", "C:\\\xE6\xA9\x9E", false, false},
        {"the same bytes, not UTF-8", "a\xC1", "a\xC1", true, true},
        {"other bytes, not UTF-8", "a\xC1", "a\xC2", false, false},
    };
    for (const Row &row : rows)
        EXPECT_EQ(isNT ? row.equalOnNT : row.equal, NamesEqual(row.a, row.b) != 0) << row.what;
}

} // namespace
