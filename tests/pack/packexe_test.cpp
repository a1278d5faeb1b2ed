// vanish-pack.exe under Wine: it builds an uninstaller that the program reads and acts on,
// and that the system loads as the program it is: its version information, icon,
// relocations and checksum read back through the system's own calls.
#include <gtest/gtest.h>

#include "builder.h"
#include "support.h"

#include <imagehlp.h>
#include <shlobj.h>

#include <algorithm>
#include <iterator>

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

struct ToolRun {
    bool finished = false;
    DWORD exitCode = 0;
    std::string output; // what it wrote to its standard output and error, together
};

// Runs vanish-pack.exe with its output in a file, for the messages of a refusal.
ToolRun RunPack(const std::string &arguments) {
    ToolRun run;
    // A file of its own for each run: Wine may close the last run's handle on it a moment
    // after that process has ended, so the folder is made once and no file is reused.
    static const std::string folder = ScratchFolder("tool-output");
    static int runs = 0;
    std::string outputFile = folder + "\\output" + std::to_string(++runs) + ".txt";
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE output = CreateFileA(outputFile.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                                CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (output == INVALID_HANDLE_VALUE)
        return run;
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = startup.hStdError = output;
    PROCESS_INFORMATION process;
    std::string command = "\"" + PackExe() + "\" " + arguments;
    if (CreateProcessA(nullptr, &command[0], nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                       nullptr, &startup, &process)) {
        run.finished = WaitForSingleObject(process.hProcess, 120000) == WAIT_OBJECT_0;
        GetExitCodeProcess(process.hProcess, &run.exitCode);
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
    }
    CloseHandle(output);
    run.output = ReadFileText(outputFile);
    return run;
}

// vanish-pack build of a manifest on the build's own uninstall.exe.
ToolRun BuildFromStub(const std::string &manifest, const std::string &output) {
    return RunPack("build \"" + manifest + "\" --stub \"" + BuildFolder() +
                   "\\uninstall.exe\" -o \"" + output + "\"");
}

pack::Bytes ReadBytes(const std::string &path) {
    std::string text = ReadFileText(path);
    return pack::Bytes(text.begin(), text.end());
}

std::string JsonPath(std::string path) {
    for (size_t at = 0; (at = path.find('\\', at)) != std::string::npos; at += 2)
        path.insert(at, "\\");
    return path;
}

// A version text of the first (U.S. English, UTF-16) table, as any program reads it.
std::string VersionText(const std::vector<char> &info, const char *key) {
    char *text = nullptr;
    UINT length = 0;
    std::string path = std::string("\\StringFileInfo\\040904B0\\") + key;
    if (!VerQueryValueA(info.data(), path.c_str(), (void **)&text, &length) || !text)
        return "(none)";
    return std::string(text);
}

// The built program as the system sees it: its layout by the project's own reader, its
// checksum by the system's, its version information, and the icon the shell would show.
void ExpectAWellFormedProgram(const std::string &exe, size_t iconImages) {
    pack::Bytes image = ReadBytes(exe);
    std::vector<std::string> faults = pack::CheckPeLayout(image);
    EXPECT_TRUE(faults.empty()) << faults.front();
    DWORD header = 0, computed = 0;
    EXPECT_EQ(DWORD(CHECKSUM_SUCCESS), MapFileAndCheckSumA(exe.c_str(), &header, &computed));
    EXPECT_NE(0u, header);
    EXPECT_EQ(computed, header);

    DWORD ignored = 0, size = GetFileVersionInfoSizeA(exe.c_str(), &ignored);
    ASSERT_NE(0u, size);
    std::vector<char> info(size);
    ASSERT_TRUE(GetFileVersionInfoA(exe.c_str(), 0, size, info.data()));
    EXPECT_EQ("Uninstall Acme Notes", VersionText(info, "FileDescription"));
    EXPECT_EQ("Acme Notes", VersionText(info, "ProductName"));
    EXPECT_EQ("Acme Ltd", VersionText(info, "CompanyName"));
    EXPECT_EQ("2.1.0.7", VersionText(info, "FileVersion"));
    EXPECT_EQ("2.1.0.7", VersionText(info, "ProductVersion"));
    VS_FIXEDFILEINFO *fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(info.data(), "\\", (void **)&fixed, &length));
    EXPECT_EQ(0x00020001u, fixed->dwFileVersionMS);
    EXPECT_EQ(0x00000007u, fixed->dwFileVersionLS);
    EXPECT_EQ(DWORD(VFT_APP), fixed->dwFileType);

    HMODULE module = LoadLibraryExA(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(nullptr, module);
    HRSRC group = FindResourceA(module, MAKEINTRESOURCEA(800), (LPCSTR)RT_GROUP_ICON);
    ASSERT_NE(nullptr, group);
    BYTE *directory = (BYTE *)LockResource(LoadResource(module, group));
    ASSERT_NE(nullptr, directory);
    EXPECT_EQ(iconImages, size_t(directory[4] | directory[5] << 8));
    // The image the shell picks for a 48-pixel icon, made into an icon of that size.
    int id = LookupIconIdFromDirectoryEx(directory, TRUE, 48, 48, LR_DEFAULTCOLOR);
    HRSRC one = FindResourceA(module, MAKEINTRESOURCEA(id), (LPCSTR)RT_ICON);
    ASSERT_NE(nullptr, one);
    HICON icon = CreateIconFromResourceEx((BYTE *)LockResource(LoadResource(module, one)),
                                          SizeofResource(module, one), TRUE, 0x00030000, 48, 48,
                                          LR_DEFAULTCOLOR);
    ASSERT_NE(nullptr, icon);
    ICONINFO parts;
    ASSERT_TRUE(GetIconInfo(icon, &parts));
    BITMAP bitmap;
    ASSERT_TRUE(GetObjectA(parts.hbmColor, sizeof bitmap, &bitmap));
    EXPECT_EQ(48, bitmap.bmWidth);
    DeleteObject(parts.hbmColor);
    DeleteObject(parts.hbmMask);
    DestroyIcon(icon);
    FreeLibrary(module);
}

// With each execution level the built uninstaller loads and removes what its block lists,
// silently, on both families. The first line of its log names the system's own version:
// the manifest's supported systems reached the loader (without them Windows 10 reads 6.2).
TEST(PackExe, EachExecutionLevelBuildsAProgramThatLoadsAndRuns) {
    const std::string icon = SourceFolder() + "\\tests\\fixtures\\icons\\author.ico";
    const char *const levels[] = {"admin", "user", "highest"};
    for (const char *level : levels) {
        SCOPED_TRACE(level);
        std::string folder = ScratchFolder(std::string("level-") + level);
        std::string base = "uninstall-" + std::string(level) + "-" + Family();
        if (!Family().empty()) {
            EXPECT_TRUE(SetFamilyOf(base + ".exe", Family()));
        }
        std::string exe = folder + "\\" + base + ".exe";
        ASSERT_TRUE(WriteFileText(folder + "\\notes.txt", "x"));
        std::string manifest = ScratchFolder(std::string("manifest-") + level) + "\\acme.json";
        ASSERT_TRUE(
            WriteFileText(manifest, std::string(R"({"name": "Acme Notes", "version": "2.1.0.7",
                "publisher": "Acme Ltd", "executionLevel": ")") +
                                        level + R"(", "icon": ")" + JsonPath(icon) + R"(",
                "files": [{"folder": ".", "name": "notes.txt"}]})"));
        ToolRun build = BuildFromStub(manifest, exe);
        ASSERT_TRUE(build.finished);
        ASSERT_EQ(0u, build.exitCode) << build.output;
        EXPECT_NE(std::string::npos, build.output.find(std::string("runs as ") + level))
            << build.output;
        ExpectAWellFormedProgram(exe, 3);

        char temporary[MAX_PATH];
        ASSERT_NE(0u, GetTempPathA(sizeof temporary, temporary));
        std::string log = std::string(temporary) + base + ".log";
        DeleteFileA(log.c_str());
        RunResult run = RunAndAnswer(exe, "/S /X /L", {});
        ASSERT_TRUE(run.finished);
        EXPECT_EQ(0u, run.exitCode);
        EXPECT_EQ(0u, run.boxes.size());
        EXPECT_FALSE(FileExists(folder + "\\notes.txt"));
        std::string first = ReadFileText(log);
        first = first.substr(0, first.find('\n'));
        EXPECT_NE(std::string::npos,
                  first.find(Family() == "win98" ? ", Windows 4.10." : ", Windows 10.0."))
            << first;
    }
}

// The places a program's relocations name, read from its file.
std::vector<uint32_t> RelocatedPlaces(const pack::Bytes &image, const pack::PeFile &pe) {
    std::vector<uint32_t> places;
    auto [address, size] = pe.directories[pack::PE_RELOCATION];
    int section = pack::PeSectionOf(pe, address);
    if (section < 0)
        return places;
    size_t at = pe.sections[size_t(section)].rawOffset +
                (address - pe.sections[size_t(section)].virtualAddress);
    for (size_t end = at + size; at + 8 <= end;) {
        uint32_t page = *(const uint32_t *)&image[at], bytes = *(const uint32_t *)&image[at + 4];
        if (bytes < 8)
            break;
        for (size_t entry = at + 8; entry + 2 <= at + bytes; entry += 2) {
            uint16_t value = *(const uint16_t *)&image[entry];
            if (value >> 12 == IMAGE_REL_BASED_HIGHLOW)
                places.push_back(page + (value & 0xFFF));
        }
        at += bytes;
    }
    return places;
}

// Loads a copy of a program away from the address it was linked for (this test program
// holds that address) and gives its code as loaded, with the stub's relocations undone:
// the stub's own code when the copy's relocations are right. Wine applies relocations
// only to a DLL it loads, so the copy is marked as one; nothing else in it changes.
std::vector<BYTE> CodeWithStubRelocationsUndone(const std::string &exe, const std::string &copy,
                                                const pack::PeSection &code,
                                                const std::vector<uint32_t> &places) {
    pack::Bytes image = ReadBytes(exe);
    size_t characteristics = *(const uint32_t *)&image[0x3C] + 22;
    image[characteristics + 1] |= IMAGE_FILE_DLL >> 8;
    std::string error;
    if (!pack::WriteWholeFile(copy, image, &error))
        return {};
    HMODULE loaded = LoadLibraryExA(copy.c_str(), nullptr, DONT_RESOLVE_DLL_REFERENCES);
    if (!loaded)
        return {};
    const BYTE *base = (const BYTE *)loaded;
    const uint32_t delta = uint32_t((ULONG_PTR)base - 0x400000);
    std::vector<BYTE> out(base + code.virtualAddress,
                          base + code.virtualAddress + code.virtualSize);
    for (uint32_t place : places)
        if (place >= code.virtualAddress && place + 4 <= code.virtualAddress + code.virtualSize)
            *(uint32_t *)&out[place - code.virtualAddress] -= delta;
    FreeLibrary(loaded);
    return out;
}

// The relocations moved behind a grown resource section still fix the code at every place
// the stub's own relocations name. A copy whose relocation directory still points where
// the stub had them, now inside the resources, is caught the same way. The icon is larger
// than the program's own by more than a page.
TEST(PackExe, MovedRelocationsStillFixTheCode) {
    std::string folder = ScratchFolder("relocations");
    std::string manifest = folder + "\\acme.json", exe = folder + "\\uninstall.exe";
    ASSERT_TRUE(WriteFileText(
        manifest, R"({"name": "Acme Notes", "version": "2.1.0.7", "publisher": "Acme Ltd",
            "icon": ")" +
                      JsonPath(SourceFolder() + "\\tests\\fixtures\\icons\\large.ico") + R"("})"));
    ToolRun build = BuildFromStub(manifest, exe);
    ASSERT_EQ(0u, build.exitCode) << build.output;
    pack::Bytes stub = ReadBytes(BuildFolder() + "\\uninstall.exe"), built = ReadBytes(exe);
    pack::PeFile stubPe, builtPe;
    std::string error;
    ASSERT_TRUE(pack::ReadPe(stub, &stubPe, &error)) << error;
    ASSERT_TRUE(pack::ReadPe(built, &builtPe, &error)) << error;
    const uint32_t oldPlace = stubPe.directories[pack::PE_RELOCATION].first;
    ASSERT_NE(oldPlace, builtPe.directories[pack::PE_RELOCATION].first)
        << "the icon grows the resources past a page, so the relocations move";
    std::vector<uint32_t> places = RelocatedPlaces(stub, stubPe);
    ASSERT_GT(places.size(), 100u);
    const pack::PeSection &code = stubPe.sections[0];
    ASSERT_EQ(".text", code.name);
    std::vector<BYTE> original(stub.begin() + code.rawOffset,
                               stub.begin() + code.rawOffset + code.virtualSize);

    std::vector<BYTE> loaded =
        CodeWithStubRelocationsUndone(exe, folder + "\\as-dll.dll", code, places);
    ASSERT_EQ(original.size(), loaded.size()) << "the copy did not load";
    EXPECT_TRUE(original == loaded) << "the loaded code differs from the stub's";

    pack::Bytes stale = built;
    *(uint32_t *)&stale[builtPe.optionalHeader + 96 + 8 * pack::PE_RELOCATION] = oldPlace;
    ASSERT_TRUE(pack::WriteWholeFile(folder + "\\stale.exe", stale, &error));
    loaded =
        CodeWithStubRelocationsUndone(folder + "\\stale.exe", folder + "\\stale.dll", code, places);
    EXPECT_FALSE(original == loaded) << "relocations read from the resources went unnoticed";
}

// A stub or an uninstaller that a resource editor changed (here the system's own
// UpdateResource) is refused with what to do, and nothing is written.
TEST(PackExe, FilesChangedByAnotherToolAreRefused) {
    std::string folder = ScratchFolder("edited");
    std::string manifest = folder + "\\acme.json", stub = folder + "\\edited-stub.exe";
    ASSERT_TRUE(WriteFileText(manifest, R"({"name": "Acme Notes", "version": "1.0"})"));
    ASSERT_TRUE(CopyFileA((BuildFolder() + "\\uninstall.exe").c_str(), stub.c_str(), FALSE));
    std::string built = folder + "\\built.exe";
    ToolRun run = BuildFromStub(manifest, built);
    ASSERT_EQ(0u, run.exitCode) << run.output;
    std::vector<char> data(3000, 'r');
    for (const std::string &file : {stub, built}) {
        HANDLE update = BeginUpdateResourceA(file.c_str(), FALSE);
        ASSERT_NE(nullptr, update);
        ASSERT_TRUE(UpdateResourceA(update, (LPCSTR)RT_RCDATA, MAKEINTRESOURCEA(1), 0x409,
                                    data.data(), DWORD(data.size())));
        ASSERT_TRUE(EndUpdateResourceA(update, FALSE));
    }
    struct Case {
        const char *name;
        std::string arguments;
    } cases[] = {
        {"build on an edited stub",
         "build \"" + manifest + "\" --stub \"" + stub + "\" -o \"" + folder + "\\out.exe\""},
        {"restamp of an edited uninstaller", "build \"" + manifest + "\" --stub \"" + built +
                                                 "\" --restamp -o \"" + folder + "\\out.exe\""},
        {"inspect of an edited uninstaller", "inspect \"" + built + "\""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        run = RunPack(c.arguments);
        ASSERT_TRUE(run.finished);
        EXPECT_EQ(1u, run.exitCode);
        EXPECT_NE(std::string::npos, run.output.find("changed by another tool after it was built"))
            << run.output;
        EXPECT_NE(std::string::npos, run.output.find("build again from the uninstall.exe"))
            << run.output;
        EXPECT_FALSE(FileExists(folder + "\\out.exe"));
    }
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

// Every folder token the builder accepts is one the program resolves, on the system it runs
// on, to the folder the system names: a file under each, in any case, goes, and so does the
// folder made for it, in a silent run that ends with 0.
TEST(PackExe, EveryFolderTokenReachesTheFolderTheSystemNames) {
    const int windowsFolder = -1, systemFolder = -2;
    const std::pair<const char *, int> sources[] = {
        {"programfiles", 0x26},     {"commonfiles", 0x2B},   {"programs", 0x02},
        {"commonprograms", 0x17},   {"startmenu", 0x0B},     {"commonstartmenu", 0x16},
        {"desktop", 0x10},          {"commondesktop", 0x19}, {"startup", 0x07},
        {"commonstartup", 0x18},    {"appdata", 0x1A},       {"localappdata", 0x1C},
        {"commonappdata", 0x23},    {"documents", 0x05},     {"fonts", 0x14},
        {"windows", windowsFolder}, {"system", systemFolder}};
    ASSERT_EQ(pack::FolderTokens().size(), std::size(sources)) << "a token without its source";
    const std::string below = "vanish-pack-tokens-" + (Family().empty() ? "any" : Family());
    std::string entries;
    std::vector<std::string> placed;
    for (size_t i = 0; i < std::size(sources); i++) {
        auto [token, source] = sources[i];
        SCOPED_TRACE(token);
        ASSERT_NE(pack::FolderTokens().end(),
                  std::find(pack::FolderTokens().begin(), pack::FolderTokens().end(), token));
        // Made where the system says it is, as on a system in use (a new Wine prefix lacks
        // some of the all-users folders).
        char folder[MAX_PATH] = "";
        bool named = source == windowsFolder ? GetWindowsDirectoryA(folder, MAX_PATH) != 0
                     : source == systemFolder
                         ? GetSystemDirectoryA(folder, MAX_PATH) != 0
                         : SHGetSpecialFolderPathA(nullptr, folder, source, TRUE) != FALSE;
        ASSERT_TRUE(named) << "this system names no folder for the token";
        std::string mine = std::string(folder) + "\\" + below;
        RemoveTree(mine);
        ASSERT_TRUE(CreateDirectoryA(mine.c_str(), nullptr)) << mine;
        ASSERT_TRUE(WriteFileText(mine + "\\" + token + ".txt", "x"));
        placed.push_back(mine);
        // Every other token upper-case: the program reads the name in any case.
        std::string written = token;
        if (i % 2)
            for (char &c : written)
                c = char(c - 'a' + 'A');
        entries += std::string(entries.empty() ? "" : ",\n") + R"({"folder": "{)" + written +
                   "}\\\\" + below + R"(", "name": ")" + token + R"(.txt"})";
    }
    std::string folder = ScratchFolder("tokens");
    std::string manifest = folder + "\\acme.json";
    ASSERT_TRUE(WriteFileText(manifest, R"({"name": "Acme", "files": [)" + entries + "]}"));
    std::string base = "uninstall-tokens-" + (Family().empty() ? "any" : Family());
    if (!Family().empty()) {
        EXPECT_TRUE(SetFamilyOf(base + ".exe", Family()));
    }
    std::string exe = folder + "\\" + base + ".exe";
    ToolRun build = BuildFromStub(manifest, exe);
    ASSERT_TRUE(build.finished);
    ASSERT_EQ(0u, build.exitCode) << build.output;

    RunResult run = RunAndAnswer(exe, "/S /X", {});
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(0u, run.exitCode);
    for (const std::string &mine : placed) {
        SCOPED_TRACE(mine);
        EXPECT_FALSE(FileExists(mine)) << "the file, then its folder, go";
        RemoveTree(mine);
    }
}

// The scan tree of the two tests below. The scratch folder's own clean-up goes by ANSI names,
// which these are not: this one clears its own, before and after.
const std::string kScanned = "\xE6\xA9\x9F\xE8\x83\xBD \xF0\x9F\x98\x80.txt"; // 機能 😀.txt
const std::wstring kLone = std::wstring(L"bad") + wchar_t(0xD800) + L".txt";

void ClearScanTree(const std::string &tree) {
    for (const std::wstring &file :
         {Wide(kScanned), kLone, std::wstring(L"server.dll"), std::wstring(L"Acme.ttf")})
        DeleteFileW((Wide(tree) + L"\\" + file).c_str());
    RemoveDirectoryW(Wide(tree).c_str());
}

// scan on Windows: names arrive as UTF-16 and are written as UTF-8 whatever the ANSI code
// page is, and the COM server the build made is found by its export table.
TEST(PackExe, ScanWritesNamesInAnyScriptAndInfersFlagsFromRealFiles) {
    const std::string folder = ScratchFolder("scan"), tree = folder + "\\tree";
    ClearScanTree(tree);
    ASSERT_TRUE(CreateDirectoryA(tree.c_str(), nullptr));
    ASSERT_TRUE(WriteWide(Wide(tree) + L"\\" + Wide(kScanned)));
    ASSERT_TRUE(CopyFileA((BuildFolder() + "\\tests\\fixtures\\comserver.dll").c_str(),
                          (tree + "\\server.dll").c_str(), FALSE));
    ASSERT_TRUE(WriteFileText(tree + "\\Acme.ttf", "not read"));
    std::string manifest = folder + "\\m.json";
    ToolRun run =
        RunPack("scan \"" + tree + "\" --as {system} --shared --name Acme -o \"" + manifest + "\"");
    ClearScanTree(tree);
    ASSERT_TRUE(run.finished);
    ASSERT_EQ(0u, run.exitCode) << run.output;
    std::string json = ReadFileText(manifest);
    const std::vector<std::string> entries = {
        "{\"folder\": \"{system}\", \"name\": \"Acme.ttf\", \"flags\": [\"font\"]}",
        "{\"folder\": \"{system}\", \"name\": \"server.dll\", \"flags\": [\"shared\", "
        "\"comServer\"]}",
        "{\"folder\": \"{system}\", \"name\": \"" + kScanned + "\"}"};
    for (const std::string &entry : entries)
        EXPECT_NE(std::string::npos, json.find(entry)) << entry << "\n" << json;
    EXPECT_NE(std::string::npos,
              run.output.find("{system}\\server.dll: comServer (it exports DllUnregisterServer)"))
        << run.output;
}

// A name with an unpaired surrogate, which no UTF-8 can hold, is refused by its path.
TEST(PackExe, ScanRefusesANameWithAnUnpairedSurrogate) {
    const std::string tree = ScratchFolder("surrogate") + "\\tree";
    ClearScanTree(tree);
    ASSERT_TRUE(CreateDirectoryA(tree.c_str(), nullptr));
    WIN32_FIND_DATAW found;
    HANDLE search = INVALID_HANDLE_VALUE;
    if (WriteWide(Wide(tree) + L"\\" + kLone))
        search = FindFirstFileW((Wide(tree) + L"\\bad*").c_str(), &found);
    bool kept = search != INVALID_HANDLE_VALUE && kLone == found.cFileName;
    if (search != INVALID_HANDLE_VALUE)
        FindClose(search);
    if (!kept) {
        ClearScanTree(tree);
        GTEST_SKIP() << "this file system keeps no name with an unpaired surrogate";
    }
    ToolRun run = RunPack("scan \"" + tree + "\" --name Acme");
    ClearScanTree(tree);
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(1u, run.exitCode);
    EXPECT_NE(std::string::npos, run.output.find("\\bad\\uD800.txt: a name with")) << run.output;
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
