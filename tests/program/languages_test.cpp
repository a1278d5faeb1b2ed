// Several languages in one block, through the real uninstaller: each user reads the table of
// their own language, else of its primary language, else the first; texts written right to
// left get mirrored dialogs and boxes. Each CTest entry runs this program in one locale.
#include "unattended.h"

#include <algorithm>

using namespace unattended;

namespace {

// The confirmation text of each table; the rest of each table is the sample's.
const char kEnglish[] = "Remove Sample?";
const char kGerman[] = "Sample entfernen?";
const char kJapanese[] = "\xE3\x82\xB5\xE3\x83\xB3\xE3\x83\x97\xE3\x83\xAB\xE3\x82\x92\xE5\x89"
                         "\x8A\xE9\x99\xA4\xE3\x81\x97\xE3\x81\xBE\xE3\x81\x99\xE3\x81\x8B?";
const char kArabic[] = "\xD9\x87\xD9\x84 \xD8\xAA\xD8\xB1\xD9\x8A\xD8\xAF \xD8\xA5\xD8\xB2\xD8\xA7"
                       "\xD9\x84\xD8\xA9 Sample\xD8\x9F";
const char kHebrew[] = "\xD7\x9C\xD7\x94\xD7\xA1\xD7\x99\xD7\xA8 \xD7\x90\xD7\xAA Sample?";

std::vector<std::string> Table(const char *confirmation) {
    std::vector<std::string> texts = Texts();
    texts[1] = confirmation;
    return texts;
}

// The locale this program runs in, as its CTest entry sets it: Wine takes a program's
// language from LANG when it starts, and the uninstallers started from here share it.
std::string Locale() {
    char value[64] = "";
    GetEnvironmentVariableA("LANG", value, sizeof value);
    return value;
}

// A text as a box shows it to this program, which reads boxes in the ANSI code page.
std::string AsShown(const char *utf8) {
    WCHAR wide[256];
    char shown[512];
    int n = MultiByteToWideChar(CP_UTF8, 0, utf8, -1, wide, 256);
    return n > 0 && WideCharToMultiByte(CP_ACP, 0, wide, -1, shown, sizeof shown, nullptr,
                                        nullptr) > 0
               ? shown
               : "";
}

class Languages : public Unattended {
  protected:
    pack::Block FiveLanguages() const {
        pack::Block block;
        block.texts = Table(kEnglish);
        block.furtherTexts = {Table(kGerman), Table(kJapanese), Table(kArabic), Table(kHebrew)};
        block.languages = {0x0409, 0x0407, 0x0411, 0x0401, 0x040D};
        block.optionFlags = pack::OPTION_UTF8;
        return block;
    }
    // The uninstaller started in the locale, its first box answered; the box and its
    // extended style.
    RunResult Show(const pack::Block &block, const std::string &switches, Action answer,
                   DWORD *exStyle, DWORD *textExStyle = nullptr) {
        EXPECT_TRUE(WriteStampedUninstaller(pack::EncodeBlock(block), exe_));
        return RunAndAnswer(exe_, switches, {answer}, 60000, Action::Press(IDCANCEL),
                            [&](HWND box, const Box &) {
                                *exStyle = (DWORD)GetWindowLongA(box, GWL_EXSTYLE);
                                HWND text = GetDlgItem(box, 1000);
                                if (textExStyle && text)
                                    *textExStyle = (DWORD)GetWindowLongA(text, GWL_EXSTYLE);
                            });
    }
};

// The table of the user's language, of its primary language (Austrian German reads German),
// or the first (French, which no table has); a block without the languages record shows its
// first table to everyone, as a program that knows only one table does. Boxes in Arabic and
// Hebrew lay out from the right; the others do not.
TEST_F(Languages, EachUserReadsTheirOwnLanguage) {
    static const struct {
        const char *locale;
        const char *expected;
        bool rightToLeft;
    } rows[] = {
        {"en_US.UTF-8", kEnglish, false}, {"de_DE.UTF-8", kGerman, false},
        {"de_AT.UTF-8", kGerman, false},  {"ja_JP.UTF-8", kJapanese, false},
        {"ar_SA.UTF-8", kArabic, true},   {"he_IL.UTF-8", kHebrew, true},
        {"fr_FR.UTF-8", kEnglish, false},
    };
    const auto *row = std::find_if(std::begin(rows), std::end(rows),
                                   [](const auto &r) { return Locale() == r.locale; });
    if (row == std::end(rows))
        GTEST_SKIP() << "no row for the locale \"" << Locale() << "\"";
    pack::Block unnamed = FiveLanguages();
    unnamed.languages.clear();
    for (bool named : {true, false}) {
        SCOPED_TRACE(named ? "with the languages record" : "without the languages record");
        DWORD exStyle = 0;
        RunResult run =
            Show(named ? FiveLanguages() : unnamed, "", Action::Press(IDCANCEL), &exStyle);
        ASSERT_TRUE(run.finished);
        ASSERT_EQ(1u, run.boxes.size());
        EXPECT_EQ(AsShown(named ? row->expected : kEnglish), run.boxes[0].text);
        // Without the record the texts are the first table's, whose direction the block does
        // not say: how the system lays out its boxes then is its own affair.
        if (named) {
            EXPECT_EQ(row->rightToLeft, (exStyle & WS_EX_LAYOUTRTL) != 0) << std::hex << exStyle;
        }
    }
}

// The read-only query in Hebrew is mirrored and its question reads right to left; in
// English it is laid out as before.
TEST_F(Languages, RightToLeftDialogsAreMirrored) {
    const std::string file = app_ + "\\notes.txt";
    static const struct {
        const char *locale;
        bool rightToLeft;
    } rows[] = {{"he_IL.UTF-8", true}, {"en_US.UTF-8", false}};
    for (const auto &row : rows) {
        if (Locale() != row.locale)
            continue;
        ASSERT_TRUE(WriteFileText(file, "notes"));
        SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_READONLY);
        pack::Block block = FiveLanguages();
        block.files = {{app_, "notes.txt", 0}};
        DWORD exStyle = 0, textExStyle = 0;
        RunResult run = Show(block, "/Q /X", Action::Press(IDYES), &exStyle, &textExStyle);
        ASSERT_TRUE(run.finished);
        ASSERT_EQ(1u, run.boxes.size()) << "the read-only query";
        EXPECT_FALSE(FileExists(file));
        EXPECT_EQ(row.rightToLeft, (exStyle & WS_EX_LAYOUTRTL) != 0) << std::hex << exStyle;
        EXPECT_EQ(row.rightToLeft, (textExStyle & WS_EX_RTLREADING) != 0)
            << std::hex << textExStyle;
    }
}

} // namespace
