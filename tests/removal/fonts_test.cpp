// Font names from TrueType files and the unregistration of real fonts, on both families.
#include "removal_support.h"

#include <fstream>
#include <functional>
#include <thread>

#include "removal/removal.h"
#include "support.h"

using namespace removal_tests;
using namespace testing_support;

namespace {

const char kFontsKeyNT[] = "Software\\Microsoft\\Windows NT\\CurrentVersion\\Fonts";
const char kFontsKey95[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Fonts";
const char kDejaVu[] = "Z:\\usr\\share\\fonts\\truetype\\dejavu\\DejaVuSans.ttf";

std::string Fixture(const std::string &name) {
    return SourceFolder() + "\\tests\\fixtures\\fonts\\" + name;
}

std::vector<char> ReadAll(const std::string &path) {
    pack::Bytes bytes;
    pack::ReadWholeFile(path, &bytes, nullptr);
    return std::vector<char>(bytes.begin(), bytes.end());
}

bool WriteAll(const std::string &path, const std::vector<char> &bytes, size_t count) {
    return pack::WriteWholeFile(path, pack::Bytes(bytes.begin(), bytes.begin() + count), nullptr);
}

// Reads the name into a buffer of the given size followed by canary bytes.
::testing::AssertionResult FullName(const std::string &path, DWORD size,
                                    const std::string &expected) {
    std::vector<char> buffer(size + 16, '\x5A');
    GetTrueTypeFullName(path.c_str(), buffer.data(), size);
    for (size_t i = size; i < buffer.size(); i++)
        if (buffer[i] != '\x5A')
            return ::testing::AssertionFailure() << "wrote past the buffer at " << i;
    if (std::find(buffer.begin(), buffer.begin() + size, '\0') == buffer.begin() + size)
        return ::testing::AssertionFailure() << "no terminator inside the buffer";
    if (expected != buffer.data())
        return ::testing::AssertionFailure()
               << "read \"" << buffer.data() << "\", expected \"" << expected << "\"";
    return ::testing::AssertionSuccess();
}

class Fonts : public ::testing::Test {
  protected:
    void SetUp() override {
        folder_ = ScratchFolder("fonts");
    }
    void TearDown() override {
        for (const std::string &name : written_) {
            DeleteValue(HKEY_LOCAL_MACHINE, kFontsKeyNT, name);
            DeleteValue(HKEY_LOCAL_MACHINE, kFontsKey95, name);
        }
    }
    std::string Copy(const std::string &from, const std::string &name) {
        std::string to = folder_ + "\\" + name;
        EXPECT_TRUE(CopyFileA(from.c_str(), to.c_str(), FALSE)) << from;
        return to;
    }
    // Lists the value under the keys of both families, as an installer would.
    void List(const std::string &fullName, const std::string &file) {
        std::string name = fullName + " (TrueType)";
        written_.push_back(name);
        ASSERT_TRUE(WriteValue(HKEY_LOCAL_MACHINE, kFontsKeyNT, name, TextValue(file)));
        ASSERT_TRUE(WriteValue(HKEY_LOCAL_MACHINE, kFontsKey95, name, TextValue(file)));
    }
    bool Listed(const char *key, const std::string &fullName) {
        return ReadValue(HKEY_LOCAL_MACHINE, key, fullName + " (TrueType)").present;
    }
    const char *RunningKey() {
        return isNT ? kFontsKeyNT : kFontsKey95;
    }
    const char *OtherKey() {
        return isNT ? kFontsKey95 : kFontsKeyNT;
    }

    std::string folder_;
    std::vector<std::string> written_;
};

TEST_F(Fonts, FullNameFromTheNameTable) {
    static const struct {
        const char *file;
        DWORD size;
        std::string expected;
    } cases[] = {
        // The last Macintosh full name wins; the Windows one after it plays no part.
        {"probe-mac.ttf", 520, "Vanish Probe Bold"},
        {"probe-windows.ttf", 520, ""},
        {"probe-table40.ttf", 520, "Vanish Table Forty"},
        {"probe-table41.ttf", 520, ""},
        {"probe-long508.ttf", 520, std::string(508, 'L')},
        {"probe-long508.ttf", 509, std::string(508, 'L')},
        // A name that does not fit is skipped, not cut; an earlier one then stays.
        {"probe-long508.ttf", 508, ""},
        {"probe-long-last.ttf", 520, std::string(509, 'N')},
        {"probe-long-last.ttf", 509, "Vanish Short"}, // the long one is skipped
        {"missing.ttf", 520, ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.file) + " in " + std::to_string(c.size) + " bytes");
        EXPECT_TRUE(FullName(Fixture(c.file), c.size, c.expected));
    }
}

TEST_F(Fonts, FullNameOfARealFont) {
    if (!FileExists(kDejaVu))
        GTEST_SKIP() << kDejaVu << " is missing; ./run setup installs fonts-dejavu-core";
    EXPECT_TRUE(FullName(kDejaVu, 520, "DejaVu Sans"));
}

// The end of the last byte the reader needs: the table directory up to "name", the name
// records, and the strings of the Macintosh full names.
size_t BytesNeeded(const std::vector<char> &font) {
    auto u16 = [&](size_t at) { return (size_t)(BYTE)font[at] << 8 | (BYTE)font[at + 1]; };
    auto u32 = [&](size_t at) { return u16(at) << 16 | u16(at + 2); };
    size_t needed = 0;
    for (size_t i = 0; i < u16(4); i++) {
        size_t record = 12 + 16 * i;
        if (std::string(&font[record], 4) != "name")
            continue;
        size_t table = u32(record + 8);
        size_t count = u16(table + 2), storage = table + u16(table + 4);
        needed = std::max(record + 16, table + 6 + 12 * count);
        for (size_t r = 0; r < count; r++) {
            size_t at = table + 6 + 12 * r;
            if (u16(at) == 1 && u16(at + 6) == 4)
                needed = std::max(needed, storage + u16(at + 10) + u16(at + 8));
        }
        break;
    }
    return needed;
}

TEST_F(Fonts, TruncatedFilesGiveNoName) {
    std::vector<char> font = ReadAll(Fixture("probe-mac.ttf"));
    ASSERT_GT(font.size(), 100u);
    size_t needed = BytesNeeded(font);
    ASSERT_GT(needed, 12u);
    std::string cut = folder_ + "\\cut.ttf";
    for (size_t length = 0; length <= font.size(); length++) {
        SCOPED_TRACE("cut to " + std::to_string(length) + " of " + std::to_string(font.size()));
        ASSERT_TRUE(WriteAll(cut, font, length));
        EXPECT_TRUE(FullName(cut, 520, length < needed ? "" : "Vanish Probe Bold"));
    }
}

TEST_F(Fonts, TruncatedRealFont) {
    if (!FileExists(kDejaVu))
        GTEST_SKIP() << kDejaVu << " is missing; ./run setup installs fonts-dejavu-core";
    std::vector<char> font = ReadAll(kDejaVu);
    size_t needed = BytesNeeded(font);
    ASSERT_GT(needed, 12u);
    std::string cut = folder_ + "\\cut.ttf";
    ASSERT_TRUE(WriteAll(cut, font, needed - 1));
    EXPECT_TRUE(FullName(cut, 520, ""));
    ASSERT_TRUE(WriteAll(cut, font, needed));
    EXPECT_TRUE(FullName(cut, 520, "DejaVu Sans"));
}

TEST_F(Fonts, UnregisterTakesTheFontOutOfTheSystemAndTheList) {
    struct Case {
        std::string source;
        std::string fullName; // the name the font is listed under
        bool removedFromList;
    };
    std::vector<Case> cases = {
        {Fixture("probe-mac.ttf"), "Vanish Probe Bold", true},
        {Fixture("probe-long508.ttf"), std::string(508, 'L'), true},
        // No Macintosh full name: the font still leaves the system, its value stays.
        {Fixture("probe-windows.ttf"), "Vanish Windows Only", false},
        // 509 bytes leave no room for the suffix: neither the name nor a cut one goes.
        {Fixture("probe-long509.ttf"), std::string(509, 'M'), false},
        // A later full name too long for the suffix is skipped; the earlier one counts.
        {Fixture("probe-long-last.ttf"), "Vanish Short", true},
    };
    if (FileExists(kDejaVu))
        cases.push_back({kDejaVu, "DejaVu Sans", true});
    for (size_t i = 0; i < cases.size(); i++) {
        const Case &c = cases[i];
        SCOPED_TRACE(c.source);
        std::string font = Copy(c.source, "font" + std::to_string(i) + ".ttf");
        ASSERT_GT(AddFontResourceA(font.c_str()), 0);
        List(c.fullName, "font.ttf");
        List("Vanish Probe Early", "font.ttf"); // an earlier full name of the probe
        if (c.fullName.size() > 508)
            List(c.fullName.substr(0, 508), "font.ttf");
        RecordingWindow window;
        ASSERT_TRUE(window.handle());

        UnregisterFont(font.c_str());

        EXPECT_EQ(Listed(RunningKey(), c.fullName), !c.removedFromList);
        EXPECT_TRUE(Listed(OtherKey(), c.fullName));
        EXPECT_TRUE(Listed(RunningKey(), "Vanish Probe Early"));
        if (c.fullName.size() > 508) {
            EXPECT_TRUE(Listed(RunningKey(), c.fullName.substr(0, 508)));
        }
        // Gone from the system: there is nothing left to remove.
        EXPECT_EQ(RemoveFontResourceA(font.c_str()), 0);
        int changes = 0;
        for (auto &message : window.messages)
            changes += message.first == WM_FONTCHANGE;
        EXPECT_EQ(changes, 1);
    }
}

TEST_F(Fonts, MissingFileStillBroadcasts) {
    List("Vanish Probe Bold", "font.ttf");
    RecordingWindow window;
    ASSERT_TRUE(window.handle());
    UnregisterFont((folder_ + "\\missing.ttf").c_str());
    EXPECT_TRUE(Listed(RunningKey(), "Vanish Probe Bold"));
    int changes = 0;
    for (auto &message : window.messages)
        changes += message.first == WM_FONTCHANGE;
    EXPECT_EQ(changes, 1);
}

// Runs the call on a thread of its own and waits for it, up to a bound far beyond its
// work. A call that has not returned by then is reported; unblock, when given, is meant to
// free it, and a thread still stuck after that is ended.
DWORD WINAPI RunWork(LPVOID data) {
    auto *work = (std::function<void()> *)data;
    (*work)();
    delete work;
    return 0;
}

bool ReturnsWithin(DWORD bound, std::function<void()> call, std::function<void()> unblock = {}) {
    auto *work = new std::function<void()>(std::move(call));
    HANDLE thread = CreateThread(nullptr, 0, RunWork, work, 0, nullptr);
    if (!thread) {
        delete work;
        return false;
    }
    bool returned = WaitForSingleObject(thread, bound) == WAIT_OBJECT_0;
    if (!returned) {
        if (unblock)
            unblock();
        if (WaitForSingleObject(thread, 10000) != WAIT_OBJECT_0)
            TerminateThread(thread, 1);
    }
    CloseHandle(thread);
    return returned;
}

// A font entry that names a device or a pipe: the name is read from ordinary disk files
// only, so nothing waits for bytes that never come. A pipe whose server never writes shows
// the fault everywhere; COM1 and AUX show it only where Wine opens a serial port, and NUL
// ends every read at once.
TEST_F(Fonts, DevicesAndPipesGiveNoNameAndNoWait) {
    std::string pipeName = "\\\\.\\pipe\\vanish-font-" + std::to_string(GetCurrentProcessId());
    // Two instances: the name is read twice, once directly and once by UnregisterFont.
    std::vector<HANDLE> servers;
    for (int i = 0; i < 2; i++) {
        HANDLE server =
            CreateNamedPipeA(pipeName.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE | PIPE_WAIT,
                             PIPE_UNLIMITED_INSTANCES, 4096, 4096, 0, nullptr);
        if (server == INVALID_HANDLE_VALUE)
            GTEST_SKIP() << "no named pipe can be made here";
        servers.push_back(server);
    }
    auto closeServers = [&] {
        for (HANDLE &server : servers)
            if (server != INVALID_HANDLE_VALUE) {
                CloseHandle(server);
                server = INVALID_HANDLE_VALUE;
            }
    };
    static const char *const devices[] = {"COM1", "AUX", "NUL"};
    std::vector<std::string> paths(devices, devices + 3);
    paths.push_back(pipeName);
    for (const std::string &path : paths) {
        SCOPED_TRACE(path);
        std::vector<char> name(520, 'x');
        bool isPipe = path == pipeName;
        EXPECT_TRUE(ReturnsWithin(
            60000,
            [&] {
                GetTrueTypeFullName(path.c_str(), name.data(), (DWORD)name.size());
                UnregisterFont(path.c_str());
            },
            isPipe ? std::function<void()>(closeServers) : std::function<void()>()))
            << "the font's name was read from the device";
        EXPECT_EQ(name[0], 0);
    }
    closeServers();
}

// A top-level window of a thread that has stopped taking messages, until released; then
// it handles what was sent to it and goes.
class HungWindow {
  public:
    HungWindow() {
        ready_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        release_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        thread_ = std::thread([this] {
            window_ = CreateWindowExA(0, "STATIC", "hung", WS_OVERLAPPED, 0, 0, 10, 10, nullptr,
                                      nullptr, nullptr, nullptr);
            SetEvent(ready_);
            WaitForSingleObject(release_, INFINITE);
            MSG message;
            while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
                DispatchMessageA(&message);
            if (window_)
                DestroyWindow(window_);
        });
        WaitForSingleObject(ready_, INFINITE);
    }
    ~HungWindow() {
        Release();
        CloseHandle(ready_);
        CloseHandle(release_);
    }
    void Release() {
        SetEvent(release_);
        if (thread_.joinable())
            thread_.join();
    }
    HWND handle() const {
        return window_;
    }

  private:
    HANDLE ready_, release_;
    HWND window_ = nullptr;
    std::thread thread_;
};

// One window that takes no messages must not stop the removal: the change is still sent,
// and a window that answers still sees it once.
TEST_F(Fonts, AHungWindowDoesNotStopTheBroadcast) {
    HungWindow hung;
    ASSERT_TRUE(hung.handle());
    RecordingWindow window;
    ASSERT_TRUE(window.handle());
    std::string missing = folder_ + "\\missing.ttf";
    HANDLE done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::thread worker([&] {
        UnregisterFont(missing.c_str());
        SetEvent(done);
    });
    // This thread owns the answering window: it takes messages while it waits.
    DWORD deadline = GetTickCount() + 60000;
    bool returned = false;
    while (!returned && (LONG)(deadline - GetTickCount()) > 0) {
        DWORD wait =
            MsgWaitForMultipleObjects(1, &done, FALSE, deadline - GetTickCount(), QS_ALLINPUT);
        returned = wait == WAIT_OBJECT_0;
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageA(&message);
    }
    EXPECT_TRUE(returned) << "UnregisterFont waited for the hung window";
    hung.Release(); // frees a broadcast that waits for it
    while (WaitForSingleObject(done, 0) != WAIT_OBJECT_0) {
        MsgWaitForMultipleObjects(1, &done, FALSE, 1000, QS_ALLINPUT);
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageA(&message);
    }
    worker.join();
    CloseHandle(done);
    int changes = 0;
    for (auto &message : window.messages)
        changes += message.first == WM_FONTCHANGE;
    EXPECT_EQ(changes, 1);
}

} // namespace
