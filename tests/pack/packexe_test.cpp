// vanish-pack.exe under Wine: it builds an uninstaller that the program reads and acts on.
#include <gtest/gtest.h>

#include "support.h"

using namespace testing_support;

namespace {

std::string PackExe() {
    return BuildFolder() + "\\vanish-pack.exe";
}

std::wstring Wide(const std::string &utf8) {
    int n = MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, nullptr, 0);
    std::wstring out(size_t(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, &out[0], n);
    out.resize(size_t(n - 1));
    return out;
}

bool ExistsWide(const std::wstring &path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool WriteWide(const std::wstring &path) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    CloseHandle(file);
    return true;
}

TEST(PackExe, TheProgramRemovesWhatTheBuiltBlockLists) {
    std::string folder = ScratchFolder("app");
    std::string other = ScratchFolder("other"); // holds the manifest
    ASSERT_TRUE(CreateDirectoryA((folder + "\\data").c_str(), nullptr));
    for (const char *file : {"\\notes.exe", "\\readme.txt", "\\keep.txt", "\\data\\a.ini"})
        ASSERT_TRUE(WriteFileText(folder + file, "x"));
    // A name outside ASCII, written in the system's ANSI code page by the builder.
    const std::string umlaut = "Gr\xC3\xBC\xC3\x9F"
                               "e.txt"; // "Grüße.txt" in UTF-8
    bool ansi1252 = GetACP() == 1252;
    if (ansi1252) {
        ASSERT_TRUE(WriteWide(Wide(folder) + L"\\" + Wide(umlaut)));
    }
    std::string manifest =
        R"({"name": "Acme", "files": [
        {"folder": ".", "name": "notes.exe", "flags": ["checkInUse"]},
        {"folder": ".", "name": "readme.txt"},
        {"folder": ".\\data", "name": ""},
        {"folder": ".\\data", "name": "a.ini"})" +
        std::string(ansi1252 ? R"(, {"folder": ".", "name": ")" + umlaut + R"("})" : "") +
        R"(],
        "options": {"program": "notes.exe", "document": "https://example.test/"}})";
    std::string manifestPath = other + "\\acme.json";
    ASSERT_TRUE(WriteFileText(manifestPath, manifest));
    std::string target = folder + "\\uninstall.exe";

    RunResult build = RunAndAnswer(PackExe(),
                                   "build \"" + manifestPath + "\" --stub \"" + BuildFolder() +
                                       "\\uninstall.exe\" -o \"" + target + "\"",
                                   {});
    ASSERT_TRUE(build.finished);
    ASSERT_EQ(0u, build.exitCode);
    ASSERT_TRUE(FileExists(target));

    // A second build replaces the first output.
    build = RunAndAnswer(PackExe(),
                         "build \"" + manifestPath + "\" --stub \"" + BuildFolder() +
                             "\\uninstall.exe\" -o \"" + target + "\"",
                         {});
    ASSERT_TRUE(build.finished);
    ASSERT_EQ(0u, build.exitCode);

    RunResult run = RunAndAnswer(target, "/X", {});
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(0u, run.exitCode);
    EXPECT_EQ(0u, run.boxes.size());
    for (const char *gone : {"\\notes.exe", "\\readme.txt", "\\data\\a.ini", "\\data"}) {
        SCOPED_TRACE(gone);
        EXPECT_FALSE(FileExists(folder + gone));
    }
    EXPECT_TRUE(FileExists(folder + "\\keep.txt")) << "a file the block does not list";
    EXPECT_TRUE(FileExists(target)) << "a bare run does not remove the uninstaller";
    if (!ansi1252)
        GTEST_SKIP() << "the system's ANSI code page is " << GetACP()
                     << ", not 1252: the umlaut name is not tried";
    EXPECT_FALSE(ExistsWide(Wide(folder) + L"\\" + Wide(umlaut)))
        << "a name written in code page 1252";
}

TEST(PackExe, RefusesWithExitCodesAndLeavesNoFile) {
    std::string folder = ScratchFolder("refused");
    ASSERT_TRUE(WriteFileText(folder + "\\bad.json", "{\"name\": \"Acme\", \"files\": 3}"));
    std::string target = folder + "\\uninstall.exe";
    RunResult run = RunAndAnswer(PackExe(),
                                 "build \"" + folder + "\\bad.json\" --stub \"" + BuildFolder() +
                                     "\\uninstall.exe\" -o \"" + target + "\"",
                                 {});
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(1u, run.exitCode);
    EXPECT_FALSE(FileExists(target));
    run = RunAndAnswer(PackExe(), "build --help", {});
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(0u, run.exitCode);
    run = RunAndAnswer(PackExe(), "build --no-such-option", {});
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(2u, run.exitCode);
}

} // namespace
