// The command line: the tail after the program name, and the switch parse.
#include <gtest/gtest.h>

#include "driver/driver.h"

namespace {

TEST(CommandLine, TailFollowsTheProgramName) {
    struct Case {
        const char *line;
        const char *tail;
    } cases[] = {
        {"uninstall.exe /Q", "/Q"},
        {"\"C:\\Program Files\\App\\uninstall.exe\" /X", "/X"},
        {"\"C:\\a b\\u.exe\"/Q", "/Q"},
        {"u.exe\t \t/Q", "/Q"},
        {"u.exe", ""},
        {"\"unterminated /Q", ""},
        {"", ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.line);
        EXPECT_STREQ(c.tail, SkipProgramName(c.line));
    }
}

TEST(CommandLine, SwitchesSetQuietAndBareMode) {
    struct Case {
        const char *tail;
        int quiet;
        int bare;
    } cases[] = {
        {"", 0, 0},
        {"/Q", 1, 0},
        {"/q", 1, 0},
        {"-Q", 1, 0},
        {"/Quiet", 1, 0},
        {"/x", 1, 1},
        {"/Q/X", 1, 1},
        {"/Q -X", 1, 1},
        {"/X/Q", 1, 1},
        {"   /Q", 1, 0},
        {"app.exe /Q", 0, 0}, // the parse stops at the first
                              // word that is no switch
        {"/Z /Q", 1, 0},      // other letters are skipped
        {"/Q /", 1, 0},       // a lone "/" at the end selects nothing more
        {"-", 0, 0},
        {"/Q\t/X", 1, 1}, // a tab is no separator, but "/" starts the next switch
        {"/Q\tX", 1, 0},
        {"/Qx", 1, 0}, // the rest of a word is ignored
        {"Q", 0, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.tail);
        quietMode = bareMode = 0;
        ParseCommandLine(c.tail);
        EXPECT_EQ(c.quiet, quietMode);
        EXPECT_EQ(c.bare, bareMode);
    }
    quietMode = bareMode = 0;
}

// /S is quiet with fixed answers and no boxes; /L writes a log. Both combine with the others
// as /Q does, and the older switches leave both off.
TEST(CommandLine, SwitchesSetSilentAndLogMode) {
    struct Case {
        const char *tail;
        int quiet, bare, silent, log;
    } cases[] = {
        {"/S", 1, 0, 1, 0},
        {"-s", 1, 0, 1, 0},
        {"/Silent", 1, 0, 1, 0},
        {"/S/X", 1, 1, 1, 0},
        {"/X /S", 1, 1, 1, 0},
        {"/L", 0, 0, 0, 1},
        {"-log", 0, 0, 0, 1},
        {"/S/L", 1, 0, 1, 1},
        {"/Q /L", 1, 0, 0, 1},
        {"/L/X", 1, 1, 0, 1},
        {"/Sx", 1, 0, 1, 0},        // the rest of a word is ignored
        {"app.exe /S", 0, 0, 0, 0}, // the parse still stops at a word that is no switch
        {"/Z /S", 1, 0, 1, 0},
        {"S L", 0, 0, 0, 0},
        // Without the new letters nothing of them is set.
        {"", 0, 0, 0, 0},
        {"/Q", 1, 0, 0, 0},
        {"/Quiet /X", 1, 1, 0, 0},
        {"/Q\t/X", 1, 1, 0, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.tail);
        quietMode = bareMode = silentMode = logMode = 0;
        ParseCommandLine(c.tail);
        EXPECT_EQ(c.quiet, quietMode);
        EXPECT_EQ(c.bare, bareMode);
        EXPECT_EQ(c.silent, silentMode);
        EXPECT_EQ(c.log, logMode);
    }
    quietMode = bareMode = silentMode = logMode = 0;
}

} // namespace
