// The removal log: its name in the temporary folder, lines written whole and flushed, texts
// written byte for byte and cut rather than overrun.
#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "data/data.h"
#include "support.h"

using testing_support::ReadFileText;

namespace {

std::string TempFolder() {
    char path[MAX_PATH];
    DWORD n = GetTempPathA(MAX_PATH, path);
    std::string folder(path, n);
    if (!folder.empty() && folder.back() != '\\')
        folder += '\\';
    return folder;
}

// This test program's own name without its extension: the log is named after it.
std::string OwnBase() {
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string name(path, n);
    name = name.substr(name.find_last_of('\\') + 1);
    return name.substr(0, name.rfind('.'));
}

// A log as the program writes it begins with the UTF-8 byte order mark, and each of its
// lines with a time stamp: the text after the mark with the stamps taken out, or a note of
// what is missing.
std::string ReadLog(const std::string &path) {
    std::string text = ReadFileText(path);
    if (text.rfind("\xEF\xBB\xBF", 0) != 0)
        return "no byte order mark: " + text;
    std::string out;
    for (size_t start = 3; start < text.size();) {
        size_t end = text.find("\r\n", start);
        end = end == std::string::npos ? text.size() : end + 2;
        bool stamped = false;
        out += testing_support::Unstamped(text.substr(start, end - start), &stamped);
        if (!stamped)
            return "a line without its time stamp: " + text.substr(start, end - start);
        start = end;
    }
    return out;
}

// The log in the temporary folder, as the program opens it there without a log path.
int OpenRemovalLog() {
    return ::OpenRemovalLog(TempFolder().c_str(), [](const char *path) {
        return SysCreateFile(path, GENERIC_WRITE, FILE_SHARE_READ, CREATE_NEW);
    });
}

std::string LogName(int n) {
    return TempFolder() + OwnBase() + (n ? "." + std::to_string(n) : std::string()) + ".log";
}

class Log : public ::testing::Test {
  protected:
    void SetUp() override {
        CloseRemovalLog();
        for (int n = 0; n < 5; n++)
            DeleteFileA(LogName(n).c_str());
    }
    void TearDown() override {
        CloseRemovalLog();
        for (int n = 0; n < 5; n++)
            DeleteFileA(LogName(n).c_str());
        for (DWORD &count : itemCounts)
            count = 0;
    }
};

TEST_F(Log, NamedAfterTheProgramWithTheNextFreeNumber) {
    ASSERT_TRUE(OpenRemovalLog());
    ReportItem(ITEM_NOTED, "first", "one");
    CloseRemovalLog();
    ASSERT_TRUE(OpenRemovalLog());
    ReportItem(ITEM_NOTED, "second", "two");
    CloseRemovalLog();
    // A name taken by something that is not a log is skipped too, and left as it was.
    { std::ofstream(LogName(2), std::ios::binary) << "not ours"; }
    ASSERT_TRUE(OpenRemovalLog());
    ReportItem(ITEM_NOTED, "third", "three");
    CloseRemovalLog();
    EXPECT_EQ("first: one\r\n", ReadLog(LogName(0)));
    EXPECT_EQ("second: two\r\n", ReadLog(LogName(1)));
    EXPECT_EQ("not ours", ReadFileText(LogName(2)));
    EXPECT_EQ("third: three\r\n", ReadLog(LogName(3)));
}

// Each line is on disk as soon as it is finished, readable by others while the log is open.
TEST_F(Log, EachLineIsOnDiskOnceFinished) {
    ASSERT_TRUE(OpenRemovalLog());
    ReportItem(ITEM_REMOVED, "file deleted", "C:\\a");
    EXPECT_EQ("file deleted: C:\\a\r\n", ReadLog(LogName(0)));
    ASSERT_TRUE(LogStart("half"));
    LogText(" a line");
    EXPECT_EQ("file deleted: C:\\a\r\n", ReadLog(LogName(0)))
        << "an unfinished line is not written";
    LogFinish();
    EXPECT_EQ("file deleted: C:\\a\r\nhalf a line\r\n", ReadLog(LogName(0)));
}

TEST_F(Log, TextsAreWrittenAsTheyAreNeverAsFormats) {
    ASSERT_TRUE(OpenRemovalLog());
    ReportItem(ITEM_NOTED, "file deleted", "C:\\100%s %d %n %%\\x.txt");
    ReportItem(ITEM_NOTED, "file deleted", "C:\\line\r\nend, 0 removed\tx");
    ReportItemCode(ITEM_LEFT, "file left, error", 4294967295u, "C:\\b");
    ReportKey(ITEM_REMOVED, "value deleted", 0, 0x80000001, "Software\\A\\\\V");
    ReportKey(ITEM_LEFT, "key left", 5, 0x80000002, "Software\\B");
    ReportKey(ITEM_LEFT, "key protected", 0, 0x12AB, "X");
    ASSERT_TRUE(LogStart("exit "));
    LogSigned(-1);
    LogText(" ");
    LogSigned(0);
    LogFinish();
    ReportItem(ITEM_NOTED, "cancelled", nullptr);
    CloseRemovalLog();
    EXPECT_EQ("file deleted: C:\\100%s %d %n %%\\x.txt\r\n"
              "file deleted: C:\\line??end, 0 removed?x\r\n" // no stored name starts a line
              "file left, error 4294967295: C:\\b\r\n"
              "value deleted: HKCU\\Software\\A\\\\V\r\n"
              "key left, error 5: HKLM\\Software\\B\r\n"
              "key protected: 0x12AB\\X\r\n"
              "exit -1 0\r\n"
              "cancelled\r\n",
              ReadLog(LogName(0)));
    EXPECT_EQ(1u, itemCounts[ITEM_REMOVED]);
    EXPECT_EQ(3u, itemCounts[ITEM_LEFT]);
    EXPECT_EQ(3u, itemCounts[ITEM_NOTED]);
}

// A line longer than the line buffer ends in "..." within 1,024 bytes; the next line is
// whole again. 1,019 bytes of text fit exactly.
TEST_F(Log, LongLinesAreCutNotOverrun) {
    ASSERT_TRUE(OpenRemovalLog());
    std::string fits(1019 - 6, 'f');
    std::string longer(1019 - 6 + 1, 'g');
    ReportItem(ITEM_NOTED, "what", fits.c_str());
    ReportItem(ITEM_NOTED, "what", longer.c_str());
    ReportItem(ITEM_NOTED, "what", std::string(5000, 'h').c_str());
    ReportItem(ITEM_NOTED, "after", "x");
    CloseRemovalLog();
    std::string expected = "what: " + fits + "\r\n" + "what: " + longer.substr(0, 1013) +
                           "...\r\n" + "what: " + std::string(1013, 'h') + "...\r\n" +
                           "after: x\r\n";
    std::string log = ReadLog(LogName(0));
    EXPECT_EQ(expected.size(), log.size());
    EXPECT_EQ(expected, log);
}

TEST_F(Log, NothingIsWrittenWithoutAnOpenLog) {
    EXPECT_FALSE(LogStart("x"));
    LogText("y");
    LogFinish();
    ReportItem(ITEM_LEFT, "file left", "C:\\a");
    EXPECT_EQ(1u, itemCounts[ITEM_LEFT]) << "the outcome still counts";
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(LogName(0).c_str()));
}

// Anyone who may write to the temporary folder can make all thousand numbered names ahead.
// The log then takes a name nobody could make ahead, a random hexadecimal number in place
// of the count, new each time; the numbered files stay as they were.
TEST_F(Log, TakesAnUnguessableNameWhenEveryNumberedOneIsTaken) {
    std::string folder = testing_support::ScratchFolder("log-names-taken");
    std::vector<std::string> saved;
    for (const char *variable : {"TMP", "TEMP"}) {
        char value[MAX_PATH] = {};
        DWORD n = GetEnvironmentVariableA(variable, value, MAX_PATH);
        saved.push_back(n && n < MAX_PATH ? value : "");
        SetEnvironmentVariableA(variable, folder.c_str());
    }
    std::set<std::string> taken;
    for (int n = 0; n < 1000; n++) {
        std::string name = OwnBase() + (n ? "." + std::to_string(n) : std::string()) + ".log";
        ASSERT_TRUE(testing_support::WriteFileText(folder + "\\" + name, "")) << name;
        taken.insert(name);
    }
    std::vector<int> opened;
    for (const char *line : {"first", "second"}) {
        opened.push_back(OpenRemovalLog());
        ReportItem(ITEM_NOTED, line, "x");
        CloseRemovalLog();
    }
    SetEnvironmentVariableA("TMP", saved[0].empty() ? nullptr : saved[0].c_str());
    SetEnvironmentVariableA("TEMP", saved[1].empty() ? nullptr : saved[1].c_str());
    EXPECT_EQ((std::vector<int>{1, 1}), opened);

    std::vector<std::string> logs;
    for (const std::string &name : testing_support::ListFolder(folder))
        if (!taken.count(name))
            logs.push_back(name);
        else
            EXPECT_EQ("", ReadFileText(folder + "\\" + name)) << name << " was written";
    ASSERT_EQ(2u, logs.size());
    std::set<std::string> lines;
    for (const std::string &name : logs) {
        std::string prefix = OwnBase() + ".", suffix = ".log";
        ASSERT_GT(name.size(), prefix.size() + suffix.size()) << name;
        EXPECT_EQ(prefix, name.substr(0, prefix.size()));
        EXPECT_EQ(suffix, name.substr(name.size() - suffix.size()));
        std::string middle =
            name.substr(prefix.size(), name.size() - prefix.size() - suffix.size());
        EXPECT_EQ(std::string::npos, middle.find_first_not_of("0123456789ABCDEF")) << name;
        lines.insert(ReadLog(folder + "\\" + name));
    }
    EXPECT_EQ((std::set<std::string>{"first: x\r\n", "second: x\r\n"}), lines);
}

} // namespace
