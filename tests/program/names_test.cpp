// Names in every script through the real uninstaller: a legacy block written in a double-byte
// code page, read on a system of that code page, and a UTF-8 block whose names no single
// code page holds, on both families.
#include <gtest/gtest.h>

#include "support.h"

using namespace testing_support;

namespace {

std::wstring Wide(const std::string &utf8) {
    std::wstring text(utf8.size() + 1, L'\0');
    int n = MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, &text[0], (int)text.size());
    text.resize(n > 0 ? n - 1 : 0);
    return text;
}

std::string Narrow(const std::wstring &text, UINT page) {
    std::string bytes(4 * text.size() + 1, '\0');
    int n = WideCharToMultiByte(page, 0, text.c_str(), -1, &bytes[0], (int)bytes.size(), nullptr,
                                nullptr);
    bytes.resize(n > 0 ? n - 1 : 0);
    return bytes;
}

std::string Utf8(const std::wstring &text) {
    return Narrow(text, CP_UTF8);
}

bool Exists(const std::wstring &path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool MakeFolder(const std::wstring &path) {
    return CreateDirectoryW(path.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS;
}

bool MakeFile(const std::wstring &path) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written;
    WriteFile(file, "data", 4, &written, nullptr);
    CloseHandle(file);
    return true;
}

void RemoveTreeWide(const std::wstring &path) {
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((path + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = found.cFileName;
            if (name == L"." || name == L"..")
                continue;
            std::wstring child = path + L"\\" + name;
            SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTreeWide(child);
            else
                DeleteFileW(child.c_str());
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    RemoveDirectoryW(path.c_str());
}

// Runs the program with a wide command line, so that its own path may hold any character;
// 0xDEADBEEF when it did not end in time.
DWORD RunWide(const std::wstring &program, const std::wstring &arguments) {
    std::wstring line = L"\"" + program + L"\" " + arguments;
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    if (!CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process))
        return 0xDEADBEEF;
    DWORD code = 0xDEADBEEF;
    if (WaitForSingleObject(process.hProcess, 60000) == WAIT_OBJECT_0)
        GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return code;
}

std::vector<std::string> Texts() {
    return {"Names",     "Remove?", "Removed.", "Yes",   "Yes to all", "No",
            "No to all", "%s",      "%s",       "%s",    "%s",         "Files",
            "Folders",   "Folders", "Registry", "In use"};
}

bool KeyExists(const std::wstring &key) {
    HKEY opened;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, KEY_READ, &opened) != ERROR_SUCCESS)
        return false;
    RegCloseKey(opened);
    return true;
}

bool ValueExists(const std::wstring &key, const std::wstring &name) {
    HKEY opened;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, KEY_READ, &opened) != ERROR_SUCCESS)
        return false;
    LONG result = RegQueryValueExW(opened, name.c_str(), nullptr, nullptr, nullptr, nullptr);
    RegCloseKey(opened);
    return result == ERROR_SUCCESS;
}

bool MakeValue(const std::wstring &key, const std::wstring &name) {
    HKEY created;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                        &created, nullptr) != ERROR_SUCCESS)
        return false;
    DWORD one = 1;
    LONG result = RegSetValueExW(created, name.c_str(), 0, REG_DWORD, (const BYTE *)&one, 4);
    RegCloseKey(created);
    return result == ERROR_SUCCESS;
}

void RemoveKeyWide(const std::wstring &key) {
    HKEY opened;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, KEY_ALL_ACCESS, &opened) != ERROR_SUCCESS)
        return;
    WCHAR name[256];
    DWORD length = 256;
    std::vector<std::wstring> children;
    for (DWORD i = 0; RegEnumKeyExW(opened, i, name, &length, nullptr, nullptr, nullptr, nullptr) ==
                      ERROR_SUCCESS;
         i++, length = 256)
        children.push_back(name);
    RegCloseKey(opened);
    for (const std::wstring &child : children)
        RemoveKeyWide(key + L"\\" + child);
    RegDeleteKeyW(HKEY_CURRENT_USER, key.c_str());
}

class Names : public ::testing::Test {
  protected:
    void SetUp() override {
        name_ = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        root_ = Wide(ScratchFolder(name_));
        RemoveTreeWide(root_);
        ASSERT_TRUE(MakeFolder(root_));
        keys_ = Wide("Software\\VanishTests\\" + ProgramName() + "\\" + name_);
        RemoveKeyWide(keys_);
        base_ = name_ + "-" + (Family().empty() ? "any" : Family());
        if (!Family().empty()) {
            EXPECT_TRUE(SetFamilyOf(base_ + ".exe", Family()));
        }
        DeleteFileW(LogPath().c_str());
    }
    void TearDown() override {
        DeleteFileW(LogPath().c_str());
        RemoveTreeWide(root_);
        RemoveKeyWide(keys_);
    }
    // Stamps the block onto the uninstaller at install\<base>.exe.
    std::wstring Stamp(const std::wstring &install, const pack::Block &block) {
        std::wstring exe = install + L"\\" + Wide(base_) + L".exe";
        std::string staged = ScratchFolder(name_ + "-stub") + "\\stub.exe";
        EXPECT_TRUE(WriteStampedUninstaller(pack::EncodeBlock(block), staged));
        EXPECT_TRUE(CopyFileW(Wide(staged).c_str(), exe.c_str(), FALSE));
        RemoveTree(ScratchFolder(name_ + "-stub"));
        return exe;
    }
    std::wstring LogPath() const {
        WCHAR folder[MAX_PATH];
        DWORD n = GetTempPathW(MAX_PATH, folder);
        std::wstring path(folder, n);
        if (!path.empty() && path.back() != L'\\')
            path += L'\\';
        return path + Wide(base_) + L".log";
    }
    std::string ReadLog() const {
        std::string log;
        HANDLE file = CreateFileW(LogPath().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
        if (file == INVALID_HANDLE_VALUE)
            return log;
        char buffer[4096];
        DWORD got;
        while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got)
            log.append(buffer, got);
        CloseHandle(file);
        return log;
    }
    std::string name_, base_;
    std::wstring root_, keys_;
};

// In code pages 932, 936, 949 and 950 the second byte of many characters is 0x5C, the
// backslash. Each folder here ends in such a character; beside it lies the file that a
// reading of that byte as a separator would name instead.
TEST_F(Names, LegacyDoubleByteBlockNamesTheListedFilesNotTheirLookAlikes) {
    if (GetACP() != 932)
        GTEST_SKIP() << "runs where the ANSI code page is 932 (LANG=ja_JP.UTF-8), not " << GetACP();
    const std::wstring folders[] = {L"\u6a5f\u80fd", L"\u30bd", L"\u8868"}; // 機能, ソ, 表
    for (const std::wstring &folder : folders) {
        ASSERT_EQ('\\', Narrow(folder, 932).back()) << "a second byte of 0x5C";
        ASSERT_TRUE(MakeFolder(root_ + L"\\" + folder));
    }
    const std::wstring listed[] = {root_ + L"\\\u6a5f\u80fd\\a.txt", root_ + L"\\\u30bd\\b.txt",
                                   root_ + L"\\\u8868\\x.dat"};
    const std::wstring decoys[] = {root_ + L"\\\u6a5f\u80fda.txt", root_ + L"\\\u30bdb.txt",
                                   root_ + L"\\\u8868x.dat"};
    for (const std::wstring &file : listed)
        ASSERT_TRUE(MakeFile(file));
    for (const std::wstring &file : decoys)
        ASSERT_TRUE(MakeFile(file));
    std::wstring valueKey = keys_ + L"\\\u8868";
    ASSERT_TRUE(MakeValue(valueKey, L"v"));
    ASSERT_TRUE(MakeValue(valueKey, L"w"));

    std::string root = Narrow(root_, 932);
    pack::Block block;
    block.texts = Texts();
    block.files = {{root + Narrow(L"\\\u6a5f\u80fd", 932), "", 0},
                   {root + Narrow(L"\\\u6a5f\u80fd", 932), "a.txt", 0},
                   {root + Narrow(L"\\\u30bd", 932), "", 0},
                   {root + Narrow(L"\\\u30bd", 932), "b.txt", 0}};
    block.folders = {{0, root + Narrow(L"\\\u8868", 932), "x.dat"}};
    block.registry = {{0x80000001, Narrow(valueKey, 932) + "\\\\v"}};
    block.optionFlags = 0; // no UTF-8 flag: the texts are in the system's code page
    std::wstring install = root_ + L"\\app";
    ASSERT_TRUE(MakeFolder(install));
    std::wstring exe = Stamp(install, block);

    EXPECT_EQ(0u, RunWide(exe, L"/S /X"));
    for (const std::wstring &file : listed)
        EXPECT_FALSE(Exists(file)) << Utf8(file);
    for (const std::wstring &folder : folders)
        EXPECT_FALSE(Exists(root_ + L"\\" + folder)) << Utf8(folder);
    for (const std::wstring &file : decoys)
        EXPECT_TRUE(Exists(file)) << "not listed, yet gone: " << Utf8(file);
    EXPECT_FALSE(ValueExists(valueKey, L"v"));
    EXPECT_TRUE(ValueExists(valueKey, L"w"));
}

// Log lines, without their time stamps, after the byte order mark.
std::vector<std::string> LogLines(const std::string &log) {
    std::vector<std::string> lines;
    size_t start = log.rfind("\xEF\xBB\xBF", 0) == 0 ? 3 : 0;
    for (size_t end; (end = log.find("\r\n", start)) != std::string::npos; start = end + 2)
        lines.push_back(Unstamped(log.substr(start, end - start)));
    return lines;
}

bool IsUtf8(const std::string &text) {
    return MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), (int)text.size(),
                               nullptr, 0) > 0;
}

::testing::AssertionResult Logged(const std::vector<std::string> &lines, const std::string &line) {
    for (const std::string &logged : lines)
        if (logged == line)
            return ::testing::AssertionSuccess();
    std::string all;
    for (const std::string &logged : lines)
        all += "\n  " + logged;
    return ::testing::AssertionFailure() << "no line \"" << line << "\" in" << all;
}

// Bytes of a legacy block that are no character of the code page it is read in (932's
// unassigned pair 85 40; a lead byte alone at the end of a folder name) name nothing: the
// entry is dropped, logged with its reason and its bytes as \xNN, and counts as left, on both
// families. The files that the code page's default character would name stay.
TEST_F(Names, LegacyBytesThatAreNoCharacterNameNothing) {
    if (GetACP() != 932)
        GTEST_SKIP() << "runs where the ANSI code page is 932 (LANG=ja_JP.UTF-8), not " << GetACP();
    const std::wstring folder = root_ + L"\\iv2";
    const std::wstring decoys[] = {folder + L"\\\u30fba.txt", folder + L"\\d\u30fb\\x.txt"};
    ASSERT_TRUE(MakeFolder(folder));
    ASSERT_TRUE(MakeFolder(folder + L"\\d\u30fb"));
    for (const std::wstring &file : decoys)
        ASSERT_TRUE(MakeFile(file));
    ASSERT_TRUE(MakeFile(folder + L"\\listed.txt"));
    std::string iv2 = Narrow(folder, 932);
    pack::Block block;
    block.texts = Texts();
    block.files = {{iv2,
                    "\x85\x40"
                    "a.txt",
                    0},
                   {iv2 + "\\d\x81", "x.txt", 0},
                   {iv2, "listed.txt", 0}};
    std::wstring install = root_ + L"\\app";
    ASSERT_TRUE(MakeFolder(install));
    EXPECT_EQ(1u, RunWide(Stamp(install, block), L"/S /X /L"));
    for (const std::wstring &file : decoys)
        EXPECT_TRUE(Exists(file)) << "not listed, yet gone: " << Utf8(file);
    EXPECT_FALSE(Exists(folder + L"\\listed.txt"));
    std::string log = ReadLog();
    EXPECT_TRUE(IsUtf8(log));
    std::vector<std::string> lines = LogLines(log);
    EXPECT_TRUE(Logged(lines, "entry skipped, not in code page 932: " + iv2 + "|\\x85@a.txt"));
    EXPECT_TRUE(Logged(lines, "entry skipped, not in code page 932: " + iv2 + "\\d\\x81|x.txt"));
}

// A path of 260 bytes in the code page, 150 characters: too long for the narrow calls of
// 95/98/Me, which count bytes, and logged so; the NT family counts characters and removes it.
TEST_F(Names, LegacyPathTooLongInBytesIsTooLongNotUnspellable) {
    if (GetACP() != 932)
        GTEST_SKIP() << "runs where the ANSI code page is 932 (LANG=ja_JP.UTF-8), not " << GetACP();
    // Two names of double-byte characters, each short enough for the Unix side's 255 bytes
    // of UTF-8, in a folder: 260 bytes in all.
    size_t left = 260 - Narrow(root_, 932).size() - 2 - 4; // two backslashes and ".txt"
    std::wstring folder = root_ + L"\\" + std::wstring(left / 4, L'\u8868'); // 表, two bytes
    std::wstring name = std::wstring((left - 2 * (left / 4)) / 2, L'\u8868');
    name += std::wstring(left % 2, L'a') + L".txt";
    std::wstring path = folder + L"\\" + name;
    ASSERT_EQ(260u, Narrow(path, 932).size());
    ASSERT_TRUE(MakeFolder(folder));
    ASSERT_TRUE(MakeFile(path));
    pack::Block block;
    block.texts = Texts();
    block.files = {{Narrow(folder, 932), Narrow(name, 932), 0}};
    std::wstring install = root_ + L"\\app";
    ASSERT_TRUE(MakeFolder(install));
    bool nt = !(GetVersion() & 0x80000000);
    DWORD code = RunWide(Stamp(install, block), L"/S /X /L");
    std::vector<std::string> lines = LogLines(ReadLog());
    EXPECT_EQ(nt ? 0u : 1u, code) << Logged(lines, "").message();
    EXPECT_EQ(!nt, Exists(path));
    if (!nt) {
        EXPECT_TRUE(
            Logged(lines, "entry skipped, path too long: " + Utf8(folder) + "|" + Utf8(name)));
    }
}

// A UTF-8 block's name that is no UTF-8 names nothing: the entry is dropped and logged as
// malformed, its bytes as \xNN, so that the log stays UTF-8; a registry path the same.
TEST_F(Names, MalformedUtf8NamesNothing) {
    ASSERT_TRUE(MakeFile(root_ + L"\\listed.txt"));
    std::string root = Utf8(root_);
    pack::Block block;
    block.texts = Texts();
    block.files = {{root, "bad\xFF.txt", 0}, {root, "listed.txt", 0}};
    block.registry = {{0x80000001, Utf8(keys_) + "\\\xC3("}};
    block.optionFlags = pack::OPTION_UTF8;
    std::wstring install = root_ + L"\\app";
    ASSERT_TRUE(MakeFolder(install));
    EXPECT_EQ(1u, RunWide(Stamp(install, block), L"/S /X /L"));
    EXPECT_FALSE(Exists(root_ + L"\\listed.txt"));
    std::string log = ReadLog();
    EXPECT_TRUE(IsUtf8(log));
    std::vector<std::string> lines = LogLines(log);
    EXPECT_TRUE(Logged(lines, "entry skipped, malformed UTF-8: " + root + "|bad\\xFF.txt"));
    EXPECT_TRUE(Logged(lines, "entry skipped, malformed UTF-8: HKCU\\" + Utf8(keys_) + "\\\\xC3("));
}

// A legacy block written in 1252 read where the ANSI code page is 1251: with its code page
// record it names Café, as written; without, it is read in 1251 as it always was (Cafй),
// since nothing in it says otherwise.
TEST_F(Names, ALegacyBlockIsReadInTheCodePageItNames) {
    if (GetACP() != 1251)
        GTEST_SKIP() << "runs where the ANSI code page is 1251 (LANG=ru_RU.UTF-8), not "
                     << GetACP();
    const std::wstring cafe = root_ + L"\\Caf\u00e9", cafeCyrillic = root_ + L"\\Caf\u0439";
    // 95/98/Me name files in the ANSI code page alone, and 1251 has no é: there Café cannot
    // be named at all, and is left (error 1113) rather than taken for Cafй.
    bool nt = !(GetVersion() & 0x80000000);
    static const struct {
        unsigned codePage;
        bool latinGone;
    } rows[] = {{1252, true}, {0, false}};
    for (const auto &row : rows) {
        SCOPED_TRACE(row.codePage);
        for (const std::wstring &folder : {cafe, cafeCyrillic}) {
            ASSERT_TRUE(MakeFolder(folder));
            ASSERT_TRUE(MakeFile(folder + L"\\menu.txt"));
        }
        pack::Block block;
        block.texts = Texts();
        block.files = {{Narrow(root_, 1252) + "\\Caf\xE9", "menu.txt", 0}};
        block.codePage = row.codePage;
        std::wstring install = root_ + L"\\app";
        ASSERT_TRUE(MakeFolder(install));
        bool unreachable = row.latinGone && !nt;
        EXPECT_EQ(unreachable ? 1u : 0u, RunWide(Stamp(install, block), L"/S /X"));
        EXPECT_EQ(!row.latinGone || unreachable, Exists(cafe + L"\\menu.txt"));
        EXPECT_EQ(row.latinGone, Exists(cafeCyrillic + L"\\menu.txt"));
    }
}

// The uninstaller's own file, listed in its block in other letters, is the self-removal's
// to take on both families: 95/98/Me compare names with their code page's case rules, as
// their own calls do. Ωmega and ωMEGA are one name where the ANSI code page is 1253.
TEST_F(Names, OwnFileNamedInOtherLettersIsLeftToTheSelfRemoval) {
    if (GetACP() != 1253)
        GTEST_SKIP() << "runs where the ANSI code page is 1253 (LANG=el_GR.UTF-8), not "
                     << GetACP();
    std::wstring family = Wide(Family().empty() ? "any" : Family());
    base_ = Utf8(L"\u03a9mega-" + family); // Ωmega-win98: the log is named after it too
    if (!Family().empty()) {
        ASSERT_TRUE(SetFamilyOf(Narrow(Wide(base_) + L".exe", CP_ACP), Family()));
    }
    std::wstring listed = L"\u03c9MEGA-" + family + L".exe"; // ωMEGA-win98.exe
    CharUpperBuffW(&listed[6], (DWORD)family.size());
    pack::Block block;
    block.texts = Texts();
    block.files = {{".", Utf8(listed), 0}, {".", "", 0}};
    block.optionFlags = pack::OPTION_UTF8;
    std::wstring install = root_ + L"\\app";
    ASSERT_TRUE(MakeFolder(install));
    std::wstring exe = Stamp(install, block);
    DeleteFileW(LogPath().c_str());

    EXPECT_EQ(0u, RunWide(exe, L"/S /L"));
    std::string log = ReadLog();
    EXPECT_NE(std::string::npos,
              log.find("file left to the self-removal: " + Utf8(install + L"\\" + listed) + "\r\n"))
        << log;
    EXPECT_EQ(std::string::npos, log.find("in use")) << log;
    DeleteFileW(LogPath().c_str());
}

// Cyrillic, CJK, a character beyond the Basic Multilingual Plane and accented Latin in one
// block, on a system whose ANSI code page is 1252.
struct WorldApplication {
    std::wstring install, journal, data, dataFile, table, tableFile, cache, cacheFile;
    std::wstring appKey, commonKey;
};

WorldApplication MakeWorld(const std::wstring &root, const std::wstring &keys,
                           const std::wstring &installName, pack::Block *block) {
    WorldApplication app;
    app.install = root + L"\\" + installName;
    app.journal = app.install + L"\\\u0416\u0443\u0440\u043d\u0430\u043b.txt"; // Журнал
    app.data = app.install + L"\\donn\u00e9es";                                // données
    app.dataFile = app.data + L"\\na\u00efve.txt";                             // naïve
    app.table = app.install + L"\\\u8868 \U0001F600";                          // 表 😀
    app.tableFile = app.table + L"\\\u30bd.dat";                               // ソ
    app.cache = root + L"\\\u041a\u044d\u0448";                                // Кэш
    app.cacheFile = app.cache + L"\\caf\u00e9.bin";                            // café
    app.appKey = keys + L"\\\u041f\u0440\u0438\u043b\u043e\u0436\u0435\u043d\u0438\u0435";
    app.commonKey = keys + L"\\\u5171\u901a"; // 共通
    for (const std::wstring *folder : {&app.install, &app.data, &app.table, &app.cache})
        EXPECT_TRUE(MakeFolder(*folder));
    for (const std::wstring *file : {&app.journal, &app.dataFile, &app.tableFile, &app.cacheFile})
        EXPECT_TRUE(MakeFile(*file));
    EXPECT_TRUE(MakeValue(app.appKey + L"\\\u8a2d\u5b9a", L"x"));                   // 設定
    EXPECT_TRUE(MakeValue(app.commonKey, L"\u0412\u0435\u0440\u0441\u0438\u044f")); // Версия
    EXPECT_TRUE(MakeValue(app.commonKey, L"other"));

    block->texts = Texts();
    block->files = {{".", "", 0},
                    {".\\" + Utf8(L"donn\u00e9es"), "", 0},
                    {".\\" + Utf8(L"donn\u00e9es"), Utf8(L"na\u00efve.txt"), 0},
                    {".", Utf8(L"\u0416\u0443\u0440\u043d\u0430\u043b.txt"), 0},
                    {".\\" + Utf8(L"\u8868 \U0001F600"), "", 0},
                    {".\\" + Utf8(L"\u8868 \U0001F600"), Utf8(L"\u30bd.dat"), 0}};
    block->folders = {{0, Utf8(app.cache), Utf8(L"caf\u00e9.bin")}};
    block->registry = {
        {0x80000001, Utf8(app.appKey)},
        {0x80000001, Utf8(app.commonKey) + "\\\\" + Utf8(L"\u0412\u0435\u0440\u0441\u0438\u044f")}};
    block->optionFlags = pack::OPTION_UTF8;
    return app;
}

TEST_F(Names, Utf8BlockRemovesNamesInEveryScript) {
    if (Family() != "win10")
        GTEST_SKIP() << "the NT family; the 95/98/Me family has its own case below";
    pack::Block block;
    // The install folder itself holds names outside the ANSI and OEM code pages.
    WorldApplication app = MakeWorld(
        root_, keys_, L"\u041f\u0440\u043e\u0433 \u6a5f\u80fd \U0001F600 Caf\u00e9", &block);
    std::wstring exe = Stamp(app.install, block);
    DeleteFileW(LogPath().c_str());

    EXPECT_EQ(0u, RunWide(exe, L"/S /L"));
    for (const std::wstring *gone : {&app.journal, &app.dataFile, &app.data, &app.tableFile,
                                     &app.table, &app.cacheFile, &app.cache})
        EXPECT_FALSE(Exists(*gone)) << Utf8(*gone);
    EXPECT_FALSE(KeyExists(app.appKey));
    EXPECT_FALSE(ValueExists(app.commonKey, L"\u0412\u0435\u0440\u0441\u0438\u044f"));
    EXPECT_TRUE(ValueExists(app.commonKey, L"other"));

    std::string log = ReadLog();
    EXPECT_EQ(0u, log.rfind("\xEF\xBB\xBF", 0)) << "the log begins with a byte order mark";
    EXPECT_NE(std::string::npos, log.find("file deleted: " + Utf8(app.journal) + "\r\n")) << log;
    EXPECT_NE(std::string::npos, log.find("folder removed: " + Utf8(app.table) + "\r\n")) << log;
    EXPECT_NE(std::string::npos, log.find(", NT family: " + Utf8(app.install) + "\\\r\n")) << log;
    DeleteFileW(LogPath().c_str());

    // The self-removal takes the uninstaller and then its folder, whatever their names.
    EXPECT_TRUE(WaitUntil([&] { return !Exists(app.install); }, 60000))
        << "still there: " << Utf8(Exists(exe) ? exe : app.install);
}

// The older family calls the system in its ANSI code page: what 1252 can spell goes, the
// rest is not tried, stays, is logged and makes the silent exit code 1.
TEST_F(Names, Utf8BlockOnTheOlderFamilyLeavesWhatTheCodePageCannotSpell) {
    if (Family() != "win98")
        GTEST_SKIP() << "the 95/98/Me family";
    if (GetACP() != 1252)
        GTEST_SKIP() << "runs where the ANSI code page is 1252, not " << GetACP();
    pack::Block block;
    WorldApplication app = MakeWorld(root_, keys_, L"Caf\u00e9 na\u00efve", &block);
    std::wstring exe = Stamp(app.install, block);
    DeleteFileW(LogPath().c_str());

    EXPECT_EQ(1u, RunWide(exe, L"/S /X /L"));
    for (const std::wstring *gone : {&app.dataFile, &app.data})
        EXPECT_FALSE(Exists(*gone)) << "1252 holds it: " << Utf8(*gone);
    for (const std::wstring *kept : {&app.journal, &app.tableFile, &app.table, &app.cacheFile})
        EXPECT_TRUE(Exists(*kept)) << "1252 cannot spell it: " << Utf8(*kept);
    EXPECT_TRUE(KeyExists(app.appKey));
    EXPECT_TRUE(ValueExists(app.commonKey, L"\u0412\u0435\u0440\u0441\u0438\u044f"));

    std::string log = ReadLog();
    EXPECT_NE(std::string::npos,
              log.find("file left, error 1113 (a name this system's code page cannot hold): " +
                       Utf8(app.journal) + "\r\n"))
        << log;
    EXPECT_NE(std::string::npos, log.find("file deleted: " + Utf8(app.dataFile) + "\r\n")) << log;
    DeleteFileW(LogPath().c_str());
}

} // namespace
