// winsim's control side: the counts of what a process holds while it holds
// it, the machine settings that stand for the system's answers, the window
// timeline, and platform calls made to fail.
#include <atomic>
#include <cstdio>

#include "machine_fixture.h"
#include "scoped.h"
#include "spooler_query.h"

namespace {

using WinsimControl = larktest::MachineTest;

DWORD WINAPI Count(LPVOID parameter) {
    ++*static_cast<std::atomic<int>*>(parameter);
    return 42;
}

LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM w, LPARAM l) {
    return DefWindowProcW(window, message, w, l);
}

HWND MakeWindow(LPCWSTR title, HWND parent = nullptr, int id = 0) {
    WNDCLASSW c = {};
    c.lpfnWndProc = Procedure;
    c.lpszClassName = TEXT("ControlTest");
    RegisterClassW(&c);  // once per process; later calls find it made
    return CreateWindowExW(0, TEXT("ControlTest"), title, parent != nullptr ? WS_CHILD : 0, 10, 20,
                           300, 200, parent, reinterpret_cast<HMENU>(static_cast<ULONG_PTR>(id)),
                           nullptr, nullptr);
}

TEST_F(WinsimControl, HandlesAreCountedWhileHeld) {
    larktest::InstallPackageAndPrinter(u"Photo", u"USB001");
    WCHAR name[] = TEXT("Photo");
    HANDLE printer = nullptr;
    ASSERT_TRUE(OpenPrinterW(name, &printer, nullptr));
    EXPECT_EQ(winsim::CurrentCounts().printerHandles, before_.printerHandles + 1);
    ClosePrinter(printer);

    std::atomic<int> runs{0};
    HANDLE thread = CreateThread(nullptr, 0, Count, &runs, CREATE_SUSPENDED, nullptr);
    ASSERT_NE(thread, nullptr);
    EXPECT_EQ(winsim::CurrentCounts().kernelHandles, before_.kernelHandles + 1);
    EXPECT_EQ(winsim::LiveThreadCount(), 1) << "a suspended thread counts until it runs";
    EXPECT_EQ(ResumeThread(thread), 1u);
    EXPECT_TRUE(winsim::WaitForProcessThreads(5000));
    EXPECT_EQ(winsim::LiveThreadCount(), 0);
    EXPECT_TRUE(CloseHandle(thread));

    winsim::UsbDevice d;
    ASSERT_NE(winsim::AddUsbDevice(d), 0);
    const std::u16string path = winsim::UsbDevices()[0].devicePath;
    HANDLE device = CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(device, INVALID_HANDLE_VALUE);
    EXPECT_EQ(winsim::CurrentCounts().kernelHandles, before_.kernelHandles + 1);
    EXPECT_TRUE(CloseHandle(device));

    HWND frame = MakeWindow(TEXT("Frame"));
    MakeWindow(TEXT("OK"), frame, IDOK);
    EXPECT_EQ(winsim::ProcessWindowCount(), 2);
    EXPECT_TRUE(DestroyWindow(frame));
    EXPECT_EQ(winsim::ProcessWindowCount(), 0);
}

TEST_F(WinsimControl, MachineSettingsAnswerForTheSystem) {
    winsim::SetSetting("screen_cx", "1600");
    EXPECT_EQ(GetSystemMetrics(SM_CXFULLSCREEN), 1600);
    EXPECT_EQ(GetSystemMetrics(SM_CYFULLSCREEN), 1040);

    winsim::SetSetting("clock", "2024-02-29 23:59:58.125");
    SYSTEMTIME now{};
    GetSystemTime(&now);
    EXPECT_EQ(std::vector<int>({now.wYear, now.wMonth, now.wDay, now.wDayOfWeek, now.wHour,
                                now.wSecond, now.wMilliseconds}),
              std::vector<int>({2024, 2, 29, 4, 23, 58, 125}));

    winsim::SetSetting("os_major", "5");
    OSVERSIONINFOW version{};
    version.dwOSVersionInfoSize = sizeof version;
    ASSERT_TRUE(GetVersionExW(&version));
    EXPECT_EQ(version.dwPlatformId, 2u);
    EXPECT_EQ(version.dwMajorVersion, 5u);
}

TEST_F(WinsimControl, TheTimelineHoldsTheSheetsWindowCalls) {
    HWND frame = MakeWindow(TEXT("Frame"));
    HWND button = MakeWindow(TEXT("OK"), frame, IDOK);
    ASSERT_TRUE(SetWindowTextW(frame, TEXT("Sheet 12:00:00.250")));
    ASSERT_TRUE(SetWindowPos(frame, nullptr, 1600, 1040, 0, 0, SWP_ASYNCWINDOWPOS | SWP_NOSIZE));
    RECT r{};
    ASSERT_TRUE(GetWindowRect(frame, &r));
    EXPECT_EQ(std::vector<LONG>({r.left, r.top, r.right - r.left, r.bottom - r.top}),
              std::vector<LONG>({1600, 1040, 300, 200}));
    EXPECT_TRUE(SetCursorPos(25, 25));
    EXPECT_EQ(SetFocus(button), nullptr);
    EXPECT_TRUE(DestroyWindow(frame));
    std::vector<std::string> lines;
    for (const winsim::UiEvent& e : winsim::UiEvents()) {
        if (e.kind != "find") lines.push_back(e.description);
    }
    const std::string id = std::to_string(reinterpret_cast<ULONG_PTR>(frame));
    EXPECT_EQ(lines, std::vector<std::string>({"retitled frame " + id + " to 'Sheet 12:00:00.250'",
                                               "moved frame " + id + " to (1600,1040) flags 0x4001",
                                               "cursor to (25,25)", "focus to control 1"}));
}

TEST_F(WinsimControl, TheNthCallFailsWithTheGivenError) {
    winsim::FailCall("_wfopen", 1);
    EXPECT_EQ(_wfopen(TEXT("c:\\temp\\x.txt"), TEXT("a")), nullptr);
    FILE* f = _wfopen(TEXT("c:\\temp\\x.txt"), TEXT("a"));
    ASSERT_NE(f, nullptr);
    fclose(f);

    larktest::InstallPackageAndPrinter(u"Photo", u"USB001");
    WCHAR name[] = TEXT("Photo");
    winsim::FailCall("OpenPrinterW", 2, ERROR_ACCESS_DENIED);
    ScopedPrinter first = OpenPrinterScoped(name, nullptr);
    EXPECT_TRUE(first);
    ScopedPrinter second = OpenPrinterScoped(name, nullptr);
    EXPECT_FALSE(second);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    ScopedPrinter third = OpenPrinterScoped(name, nullptr);
    EXPECT_TRUE(third);
    winsim::FailCall("HeapAlloc", 0);
    EXPECT_FALSE(QueryPrinterInfo2(first.get()).data) << "every call fails";
    winsim::ClearFaults();

    std::atomic<int> runs{0};
    winsim::FailCall("CreateThread", 1, ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_EQ(CreateThread(nullptr, 0, Count, &runs, 0, nullptr), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
    HANDLE thread = CreateThread(nullptr, 0, Count, &runs, CREATE_SUSPENDED, nullptr);
    winsim::FailCall("ResumeThread", 1);
    EXPECT_EQ(ResumeThread(thread), static_cast<DWORD>(-1));
    EXPECT_EQ(ResumeThread(thread), 1u);
    EXPECT_EQ(WaitForSingleObject(thread, 5000), static_cast<DWORD>(WAIT_OBJECT_0));
    EXPECT_TRUE(CloseHandle(thread));

    HWND frame = MakeWindow(TEXT("Frame"));
    winsim::FailCall("SetWindowPos", 1);
    EXPECT_FALSE(SetWindowPos(frame, nullptr, 0, 0, 50, 50, SWP_ASYNCWINDOWPOS));
    EXPECT_TRUE(SetWindowPos(frame, nullptr, 0, 0, 50, 50, SWP_ASYNCWINDOWPOS));
    DestroyWindow(frame);
}

}  // namespace
