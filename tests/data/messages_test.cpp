// Message texts: lookup, one-argument formatting and the message box.
#include <gtest/gtest.h>

#include "data/data.h"
#include "support.h"

using namespace testing_support;

namespace {

// Installs the texts as the string table for the life of the object.
class Texts : public TextTable {
  public:
    explicit Texts(const std::vector<std::string> &texts) : TextTable(texts) {
        Install();
    }
};

TEST(MessageTexts, LookUpWithinTheTable) {
    EXPECT_STREQ("", GetMessageText(0)) << "no table loaded";
    std::vector<std::string> sixteen;
    for (int i = 0; i < 16; i++)
        sixteen.push_back("text " + std::to_string(i));
    Texts texts(sixteen);
    EXPECT_STREQ("text 0", GetMessageText(0));
    EXPECT_STREQ("text 15", GetMessageText(15));
    for (int outside : {16, 17, 1000, -1, -16}) {
        SCOPED_TRACE(outside);
        const char *text = GetMessageText(outside);
        ASSERT_NE(nullptr, text);
        EXPECT_STREQ("", text);
    }
}

TEST(MessageTexts, FormatWithOnePath) {
    const std::string longText(1500, 'x');
    struct Case {
        const char *text;
        const char *expected;
    } cases[] = {
        {"Remove %s now?", "Remove C:\\App\\a b.dll now?"},
        {"%s", "C:\\App\\a b.dll"},
        {"100%% of %s", "100% of C:\\App\\a b.dll"},
        {"50% off, 5%1 more", "50% off, 5%1 more"}, // no "%s": copied as it stands
        {"%%s stays", "%s stays"},                  // a format without a conversion
        {"%s and %s", "%s and %s"},                 // a second argument was never passed
        {"%d files in %s", "%d files in %s"},
        {"no argument here", "no argument here"},
        {"", ""},
    };
    Texts texts({"caption", "", "", "", "", "", "", "", "", "", ""});
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        Texts one({c.text});
        char buffer[TEXT_SIZE];
        FormatMessageText(buffer, 0, "C:\\App\\a b.dll");
        EXPECT_STREQ(c.expected, buffer);
    }
}

// Long texts and long paths are cut to the 1024-byte buffer; the byte after it survives.
TEST(MessageTexts, CutToTheBuffer) {
    const std::string longPath(2000, 'p');
    struct Case {
        std::string text;
        std::string expected;
    } cases[] = {
        {std::string(1500, 'x'), std::string(1023, 'x')},
        {std::string(1023, 'y'), std::string(1023, 'y')},
        {"Path: %s", "Path: " + std::string(1017, 'p')},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text.substr(0, 10));
        Texts one({c.text});
        std::vector<char> buffer(TEXT_SIZE + 1, '#');
        FormatMessageText(buffer.data(), 0, longPath.c_str());
        EXPECT_EQ(c.expected, std::string(buffer.data()));
        EXPECT_EQ('#', buffer[TEXT_SIZE]) << "wrote past the buffer";
    }
}

TEST(MessageTexts, ShowMessageUsesTextZeroAsCaption) {
    if (Emulated())
        GTEST_SKIP() << "under a user-mode emulator Wine's X11 driver ends a program that "
                        "opens and closes boxes of its own this fast (BadWindow); the real "
                        "uninstaller's boxes are read and answered in program_tests";
    Texts texts({"Vanish Setup", "Remove it?"});
    BoxWatcher watcher(GetCurrentProcessId(), {Action::Press(IDCANCEL)});
    int answer = ShowMessage(GetMessageText(1), MB_OKCANCEL | MB_ICONINFORMATION);
    auto boxes = watcher.Stop();
    EXPECT_EQ(IDCANCEL, answer);
    ASSERT_EQ(1u, boxes.size());
    EXPECT_EQ("Vanish Setup", boxes[0].caption);
    EXPECT_EQ("Remove it?", boxes[0].text);
}

} // namespace
