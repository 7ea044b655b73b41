// The sheet-closing thread against real windows of this process: its
// search, its presses across threads and the NT5 extra steps.
#include <gtest/gtest.h>

#include "config_support.h"
#include "hidden_page.h"
#include "text.h"

namespace larktest {
namespace {

HWND g_frame;
bool g_closeOnPress;

LRESULT CALLBACK FrameProc(HWND, UINT, WPARAM, LPARAM) { return 0; }

// The OK button: a press (button up) closes the sheet when the row says so.
LRESULT CALLBACK ButtonProc(HWND, UINT message, WPARAM, LPARAM) {
    if (message == WM_LBUTTONUP && g_closeOnPress && g_frame != nullptr) {
        DestroyWindow(g_frame);
        g_frame = nullptr;
    }
    return 0;
}

void RegisterOnce(const char16_t* name, WNDPROC procedure) {
    WNDCLASSW c = {};
    c.lpfnWndProc = procedure;
    c.lpszClassName = name;
    RegisterClassW(&c);  // a second test finds it registered
}

struct Seen {
    long looks = 0;
    int presses = 0;  // button-down sends
    int moves = 0;
    int cursor = 0;
};

Seen Since(int64_t mark, long looksBefore) {
    Seen s;
    s.looks = winsim::CallCount("FindWindowW") - looksBefore;
    for (const auto& e : winsim::UiEvents()) {
        if (e.seq <= mark) continue;
        if (e.kind == "send" && e.values[0] == WM_LBUTTONDOWN) ++s.presses;
        if (e.kind == "move") ++s.moves;
        if (e.kind == "cursor") ++s.cursor;
    }
    return s;
}

class ClosingThreadTest : public MachineTest {};

TEST_F(ClosingThreadTest, SearchAndPresses) {
    RegisterOnce(u"LarkTestFrame", FrameProc);
    RegisterOnce(u"LarkTestButton", ButtonProc);
    winsim::SetSetting("sleep_scale", "0.001");
    struct Row {
        const char* name;
        bool window;
        bool okControl;
        bool closes;
        const char* major;  // os_major setting
        bool versionFails;
        long looks;
        int presses;
        int moves;
    } rows[] = {
        {"found at the first look, closed by the first press", true, true, true, "10", false, 1, 1,
         0},
        {"never found: 100 looks", false, false, false, "10", false, 100, 0, 0},
        {"no OK control: no press", true, false, false, "10", false, 1, 0, 0},
        {"a sheet that stays: 10 presses", true, true, false, "10", false, 1, 10, 0},
        {"NT5: every press moves the sheet and the cursor", true, true, false, "5", false, 1, 10,
         10},
        {"NT6: presses only", true, true, false, "6", false, 1, 10, 0},
        {"version query failing: presses only", true, true, false, "5", true, 1, 10, 0},
    };
    for (const Row& row : rows) {
        winsim::SetSetting("os_major", row.major);
        winsim::ClearFaults();
        if (row.versionFails) winsim::FailCall("GetVersionExW", 0);
        g_closeOnPress = row.closes;
        SheetTitle* title = CreateSheetTitle();
        ASSERT_NE(title, nullptr);
        TextCopy(title->text, kSheetTitleUnits, u"Lark Test 1234");
        g_frame = nullptr;
        HWND button = nullptr;
        if (row.window) {
            g_frame = CreateWindowExW(0, u"LarkTestFrame", title->text, WS_OVERLAPPEDWINDOW, 10, 10,
                                      400, 300, nullptr, nullptr, nullptr, nullptr);
            ASSERT_NE(g_frame, nullptr) << row.name;
            if (row.okControl) {
                button = CreateWindowExW(0, u"LarkTestButton", u"OK", WS_CHILD, 0, 0, 80, 20,
                                         g_frame, reinterpret_cast<HMENU>(IDOK), nullptr, nullptr);
                ASSERT_NE(button, nullptr) << row.name;
            }
        }
        auto events = winsim::UiEvents();
        int64_t mark = events.empty() ? 0 : events.back().seq;
        long looks = winsim::CallCount("FindWindowW");
        HANDLE thread = CreateThread(nullptr, 0, AutoCloseSheet, title, 0, nullptr);
        ASSERT_NE(thread, nullptr) << row.name;
        EXPECT_TRUE(winsim::PumpMessages(5000, [&] {
            return WaitForSingleObject(thread, 0) == WAIT_OBJECT_0;
        })) << row.name;
        CloseHandle(thread);
        Seen seen = Since(mark, looks);
        EXPECT_EQ(seen.looks, row.looks) << row.name;
        EXPECT_EQ(seen.presses, row.presses) << row.name;
        EXPECT_EQ(seen.moves, row.moves) << row.name;
        EXPECT_EQ(seen.cursor, row.moves * 2) << row.name;
        if (g_frame != nullptr) DestroyWindow(g_frame);
        g_frame = nullptr;
    }
    EXPECT_EQ(winsim::ProcessWindowCount(), 0);
}

}  // namespace
}  // namespace larktest
