// SetProgress and DrainMessages: what reaches the bar, and when the queue is drained.
#include "ui_support.h"

#include <commctrl.h>

using namespace testing_support;
using namespace ui_tests;

namespace {

const UINT kMarker = WM_APP + 7;
const int kUntouched = 77; // a position SetProgress never sends in these cases

int markersSeen;

LRESULT CALLBACK SinkProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == kMarker)
        markersSeen++;
    return DefWindowProcA(window, message, wParam, lParam);
}

class Progress : public UiTest {
  protected:
    void SetUp() override {
        UiTest::SetUp();
        WNDCLASSA sinkClass = {};
        sinkClass.lpfnWndProc = SinkProc;
        sinkClass.lpszClassName = "VanishProgressSink";
        RegisterClassA(&sinkClass);
        sink_ = CreateWindowExA(0, "VanishProgressSink", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                nullptr, nullptr);
        ASSERT_NE(nullptr, sink_);
        markersSeen = 0;
    }
    void TearDown() override {
        DestroyWindow(sink_);
        UiTest::TearDown();
    }
    // Calls SetProgress with a marker message waiting; reports whether it was drained.
    bool SetAndSeeDrained(DWORD percent) {
        markersSeen = 0;
        PostMessageA(sink_, kMarker, 0, 0);
        SetProgress(percent);
        MSG left;
        while (PeekMessageA(&left, sink_, kMarker, kMarker, PM_REMOVE))
            ;
        return markersSeen == 1;
    }
    HWND sink_ = nullptr;
};

TEST_F(Progress, SendsAndDrainsOnlyWhenThePercentageChanges) {
    ASSERT_NE(nullptr, OpenProgressDialog());
    ASSERT_NE(nullptr, progressBar);
    static const struct {
        DWORD percent;
        bool sent; // the bar shows shown, and the queue was drained
        int shown;
    } kSteps[] = {
        {0, false, 0}, // a first 0 changes nothing
        {40, true, 40},
        {40, false, 40},          // a repeat
        {150, true, 100},         // clamped
        {100, false, 100},        // the clamped value repeated
        {0xFFFFFFFF, false, 100}, // clamped by unsigned comparison, then a repeat
        {99, true, 99},
        {0, true, 0},
    };
    for (size_t i = 0; i < sizeof kSteps / sizeof kSteps[0]; i++) {
        SCOPED_TRACE(i);
        SendMessageA(progressBar, PBM_SETPOS, kUntouched, 0);
        bool drained = SetAndSeeDrained(kSteps[i].percent);
        EXPECT_EQ(kSteps[i].sent, drained);
        int position = (int)SendMessageA(progressBar, PBM_GETPOS, 0, 0);
        EXPECT_EQ(kSteps[i].sent ? kSteps[i].shown : kUntouched, position);
        EXPECT_EQ((DWORD)kSteps[i].shown, lastPercentage);
    }
}

TEST_F(Progress, WithoutABarStillRecordsAndDrains) {
    EXPECT_TRUE(SetAndSeeDrained(30));
    EXPECT_EQ(30u, lastPercentage);
}

TEST_F(Progress, DrainDropsTheQuitMessageAndDeliversTheRest) {
    PostQuitMessage(3);
    PostMessageA(sink_, kMarker, 0, 0);
    DrainMessages();
    EXPECT_EQ(1, markersSeen);
    MSG left;
    EXPECT_FALSE(PeekMessageA(&left, nullptr, 0, 0, PM_NOREMOVE)) << "the queue is not empty";
}

} // namespace
