// What the user-interface tests share: the program's resources, a string table of sample
// texts, and a fixture that starts and ends each test in the state of a fresh run.
#ifndef VANISH_UI_TEST_SUPPORT_H
#define VANISH_UI_TEST_SUPPORT_H

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support.h"
#include "ui/ui.h"

namespace ui_tests {

// The sample texts, numbered as the program expects them.
extern const std::vector<std::string> kTexts;

// Each test starts as a run does: resources, visual styles and common controls
// initialised, a hidden owner window, no dialog, no font, no percentage sent yet.
class UiTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;
    HWND OpenProgressDialog(DLGPROC procedure = ProgressDialogProc);
    void UseTexts(const std::vector<std::string> &texts);

    testing_support::TextTable table_{kTexts};
};

} // namespace ui_tests

#endif
