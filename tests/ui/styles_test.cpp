// Visual styles: the theme library comes from the System folder only, and limiting the
// styles leaves them to window frames.
#include "ui_support.h"

#include <tlhelp32.h>

using namespace testing_support;
using namespace ui_tests;

namespace {

typedef DWORD(WINAPI *GetThemeAppPropertiesProc)();
typedef void(WINAPI *SetThemeAppPropertiesProc)(DWORD);
const DWORD kAllowFrames = 1;   // STAP_ALLOW_NONCLIENT
const DWORD kAllowControls = 2; // STAP_ALLOW_CONTROLS

std::string SystemFolder() {
    char path[MAX_PATH];
    UINT n = GetSystemDirectoryA(path, MAX_PATH);
    return std::string(path, n);
}

std::string FolderOf(HMODULE module) {
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(module, path, MAX_PATH);
    std::string name(path, n);
    return name.substr(0, name.find_last_of('\\'));
}

class VisualStyles : public UiTest {
  protected:
    void SetUp() override {
        UiTest::SetUp();
        if (!themeLibrary)
            GTEST_SKIP() << "this system has no uxtheme.dll in its System folder";
        getProperties_ = (GetThemeAppPropertiesProc)(void (*)())GetProcAddress(
            themeLibrary, "GetThemeAppProperties");
        if (getProperties_)
            saved_ = getProperties_();
    }
    void TearDown() override {
        if (themeLibrary && getProperties_) {
            SetThemeAppPropertiesProc set = (SetThemeAppPropertiesProc)(void (*)())GetProcAddress(
                themeLibrary, "SetThemeAppProperties");
            set(saved_);
        }
        UiTest::TearDown();
    }
    GetThemeAppPropertiesProc getProperties_ = nullptr;
    DWORD saved_ = 0;
};

TEST_F(VisualStyles, ThemeLibraryComesFromTheSystemFolder) {
    EXPECT_EQ(0, lstrcmpiA(SystemFolder().c_str(), FolderOf(themeLibrary).c_str()))
        << FolderOf(themeLibrary);
    EXPECT_EQ(GetProcAddress(themeLibrary, "SetThemeAppProperties"), setThemeAppProperties);
    EXPECT_NE(nullptr, setThemeAppProperties);

    ReleaseUiResources();
    EXPECT_EQ(nullptr, themeLibrary);
    EXPECT_EQ(nullptr, setThemeAppProperties);
}

TEST_F(VisualStyles, LimitingLeavesStylesToFramesOnly) {
    ASSERT_NE(nullptr, getProperties_);
    SetThemeAppPropertiesProc set = (SetThemeAppPropertiesProc)(void (*)())setThemeAppProperties;
    set(kAllowFrames | kAllowControls);
    LimitVisualStyles();
    EXPECT_EQ(kAllowFrames, getProperties_());
}

TEST_F(VisualStyles, WithoutTheLibraryNothingChanges) {
    ASSERT_NE(nullptr, getProperties_);
    SetThemeAppPropertiesProc set = (SetThemeAppPropertiesProc)(void (*)())setThemeAppProperties;
    set(kAllowFrames | kAllowControls);
    HMODULE loaded = themeLibrary;
    FARPROC entry = setThemeAppProperties;
    themeLibrary = nullptr; // as on a system without uxtheme.dll
    setThemeAppProperties = nullptr;
    LimitVisualStyles();
    ReleaseUiResources();
    themeLibrary = loaded;
    setThemeAppProperties = entry;
    EXPECT_EQ(kAllowFrames | kAllowControls, getProperties_());
}

// Every module loaded in a process: full file names.
std::vector<std::string> ModulesOf(DWORD processId) {
    std::vector<std::string> names;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, processId);
    if (snapshot == INVALID_HANDLE_VALUE)
        return names;
    MODULEENTRY32 module = {};
    module.dwSize = sizeof module;
    for (BOOL more = Module32First(snapshot, &module); more; more = Module32Next(snapshot, &module))
        names.push_back(module.szExePath);
    CloseHandle(snapshot);
    return names;
}

// A DLL that writes a mark file when it is loaded stands in for a uxtheme.dll that someone
// placed beside the uninstaller.
class PlantedThemeLibrary : public ::testing::Test {
  protected:
    void SetUp() override {
        if (Emulated())
            GTEST_SKIP() << "under a user-mode emulator Wine's own start-up loads other "
                            "modules than the ones this probe compares";
        root_ = ScratchFolder("planted");
        app_ = root_ + "\\app";
        mark_ = root_ + "\\loaded.txt";
        ASSERT_TRUE(CreateDirectoryA(app_.c_str(), nullptr));
        std::string fixtures = BuildFolder() + "\\tests\\ui\\";
        ASSERT_TRUE(
            CopyFileA((fixtures + "planted.dll").c_str(), (app_ + "\\uxtheme.dll").c_str(), FALSE));
        ASSERT_TRUE(
            CopyFileA((fixtures + "loadprobe.exe").c_str(), (app_ + "\\" + probe_).c_str(), FALSE));
        SetEnvironmentVariableA("VANISH_PLANTED_MARK", mark_.c_str());
        // Wine prefers its own uxtheme.dll to one beside a program unless its settings ask
        // for the native one; Windows loads the one beside the program, so the two
        // programs run here are set to do as Windows does.
        for (const std::string &program : {probe_, uninstaller_}) {
            HKEY key;
            ASSERT_EQ(ERROR_SUCCESS,
                      RegCreateKeyExA(HKEY_CURRENT_USER, OverridesKey(program).c_str(), 0, nullptr,
                                      0, KEY_SET_VALUE, nullptr, &key, nullptr));
            RegSetValueExA(key, "uxtheme", 0, REG_SZ, (const BYTE *)"native,builtin", 15);
            RegCloseKey(key);
        }
    }
    void TearDown() override {
        SetEnvironmentVariableA("VANISH_PLANTED_MARK", nullptr);
        for (const std::string &program : {probe_, uninstaller_}) {
            RegDeleteKeyA(HKEY_CURRENT_USER, OverridesKey(program).c_str());
            RegDeleteKeyA(HKEY_CURRENT_USER, AppKey(program).c_str());
        }
    }
    static std::string AppKey(const std::string &program) {
        return std::string("Software\\Wine\\AppDefaults\\") + program;
    }
    static std::string OverridesKey(const std::string &program) {
        return AppKey(program) + "\\DllOverrides";
    }
    // Names of their own per test program, since the settings go by name and the test runs
    // once per system family, possibly at the same time.
    std::string probe_ = "loadprobe_" + ProgramName() + ".exe";
    std::string uninstaller_ = "uninstall_" + ProgramName() + ".exe";
    std::string root_, app_, mark_;
};

TEST_F(PlantedThemeLibrary, UninstallerLoadsOnlyTheSystemCopy) {
    // A program that loads "uxtheme.dll" by bare name picks up the planted copy here;
    // otherwise the check below would prove nothing.
    RunResult probe = RunAndAnswer(app_ + "\\" + probe_, "uxtheme.dll", {}, 30000);
    ASSERT_TRUE(probe.finished);
    if (!FileExists(mark_))
        GTEST_SKIP() << "this system does not load a DLL planted beside a program (probe "
                     << probe.exitCode << ")";
    ASSERT_TRUE(DeleteFileA(mark_.c_str()));

    // While each box of a confirmed run is up (before and after the progress dialog), the
    // uninstaller has loaded uxtheme.dll from the System folder only. The mark cannot tell
    // here: under Wine, the system DLLs load "uxtheme.dll" by bare name and free it again
    // while they start, before the uninstaller's first instruction.
    pack::Block block;
    block.texts = kTexts;
    std::string program = app_ + "\\" + uninstaller_;
    ASSERT_TRUE(WriteStampedUninstaller(pack::EncodeBlock(block), program));
    std::vector<std::vector<std::string>> seen;
    auto readModules = [&](HWND box, const Box &) {
        DWORD processId = 0;
        GetWindowThreadProcessId(box, &processId);
        seen.push_back(ModulesOf(processId));
    };
    RunResult run = RunAndAnswer(program, "", {Action::Press(IDOK), Action::Press(IDOK)}, 30000,
                                 Action::Press(IDCANCEL), readModules);
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(0u, run.exitCode);
    ASSERT_EQ(2u, run.boxes.size());
    EXPECT_EQ(kTexts[2], run.boxes[1].text) << "the run did not complete";
    ASSERT_EQ(2u, seen.size());
    std::string planted = app_ + "\\uxtheme.dll";
    std::string system = SystemFolder() + "\\uxtheme.dll";
    for (size_t i = 0; i < seen.size(); i++) {
        SCOPED_TRACE(i == 0 ? "confirmation" : "completion");
        bool fromSystem = false;
        for (const std::string &module : seen[i]) {
            EXPECT_NE(0, lstrcmpiA(planted.c_str(), module.c_str())) << "the planted DLL is loaded";
            fromSystem = fromSystem || !lstrcmpiA(system.c_str(), module.c_str());
        }
        EXPECT_TRUE(fromSystem) << "no uxtheme.dll from the System folder";
    }
}

} // namespace
