// The in-use loop of the main sequence, through the real uninstaller: a marked file held
// open by this test keeps the run waiting for as long as Retry is answered.
#include "removal_support.h"

#include "support.h"

#include <functional>

using namespace removal_tests;
using namespace testing_support;

namespace {

class InUseLoop : public ::testing::Test {
  protected:
    void SetUp() override {
        folder_ = ScratchFolder(::testing::UnitTest::GetInstance()->current_test_info()->name());
        held_ = folder_ + "\\held.dat";
        other_ = folder_ + "\\other.dat";
        ASSERT_TRUE(WriteFileText(held_, "held"));
        ASSERT_TRUE(WriteFileText(other_, "other"));
        pack::Block block;
        block.texts = kTexts;
        block.files = {{".", "held.dat", pack::FILE_CHECKINUSE}, {".", "other.dat", 0}};
        program_ = folder_ + "\\uninstall.exe";
        ASSERT_TRUE(WriteStampedUninstaller(pack::EncodeBlock(block), program_));
        handle_ = CreateFileA(held_.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(handle_, INVALID_HANDLE_VALUE);
    }
    void TearDown() override {
        Release();
    }
    void Release() {
        if (handle_ != INVALID_HANDLE_VALUE)
            CloseHandle(handle_);
        handle_ = INVALID_HANDLE_VALUE;
    }

    std::string folder_, held_, other_, program_;
    HANDLE handle_ = INVALID_HANDLE_VALUE;
};

TEST_F(InUseLoop, RetryAsksAgainUntilTheFileIsFree) {
    int inUseBoxes = 0;
    RunResult run = RunAndAnswer(
        program_, "",
        {Action::Press(IDOK), Action::Press(IDRETRY), Action::Press(IDRETRY), Action::Press(IDOK)},
        30000, Action::Press(IDCANCEL), [&](HWND, const Box &box) {
            if (box.text == "Files in use" && ++inUseBoxes == 2)
                Release(); // the second Retry finds the file free
        });
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, 0u);
    std::vector<std::string> texts;
    for (const Box &box : run.boxes)
        texts.push_back(box.text);
    EXPECT_EQ(texts, (std::vector<std::string>{"Remove the application?", "Files in use",
                                               "Files in use", "Done."}));
    EXPECT_FALSE(FileExists(held_));
    EXPECT_FALSE(FileExists(other_));
}

TEST_F(InUseLoop, CancelRemovesNothing) {
    RunResult run = RunAndAnswer(program_, "", {Action::Press(IDOK), Action::Press(IDCANCEL)});
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, 0u);
    std::vector<std::string> texts;
    for (const Box &box : run.boxes)
        texts.push_back(box.text);
    EXPECT_EQ(texts, (std::vector<std::string>{"Remove the application?", "Files in use"}));
    Release();
    EXPECT_TRUE(FileExists(held_));
    EXPECT_TRUE(FileExists(other_));
}

} // namespace
