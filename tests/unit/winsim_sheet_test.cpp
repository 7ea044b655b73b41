// The stand-in platform's property-sheet road: threads, windows owned by
// threads, the cross-thread SendMessageW rendezvous and the common property
// sheet host driven by a fake driver whose closing thread presses a button.
#include <atomic>
#include <mutex>
#include <thread>

#include "machine_fixture.h"

namespace {

using WinsimSheet = larktest::MachineTest;

std::atomic<DWORD> g_procedureThread{0};

LRESULT CALLBACK Procedure(HWND, UINT message, WPARAM, LPARAM) {
    if (message != WM_LBUTTONDOWN) return 0;
    g_procedureThread = GetCurrentThreadId();
    return 77;
}

HWND MakeWindow(LPCWSTR title, HWND parent = nullptr, int id = 0) {
    WNDCLASSW c = {};
    c.lpfnWndProc = Procedure;
    c.lpszClassName = TEXT("SheetTest");
    RegisterClassW(&c);  // once per process; later calls find it made
    return CreateWindowExW(0, TEXT("SheetTest"), title, parent != nullptr ? WS_CHILD : 0, 10, 20,
                           300, 200, parent, reinterpret_cast<HMENU>(static_cast<ULONG_PTR>(id)),
                           nullptr, nullptr);
}

DWORD WINAPI CountRun(LPVOID parameter) {
    ++*static_cast<std::atomic<int>*>(parameter);
    return 42;
}

TEST_F(WinsimSheet, ThreadsRunOnlyWhenResumedAndReleaseTheirHandles) {
    struct Case {
        const char* name;
        DWORD flags;
        bool resume;
        int runs;
    } cases[] = {
        {"running at once", 0, false, 1},
        {"suspended, then resumed", CREATE_SUSPENDED, true, 1},
        {"suspended, handle closed", CREATE_SUSPENDED, false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::atomic<int> runs{0};
        DWORD id = 0;
        HANDLE thread = CreateThread(nullptr, 0, CountRun, &runs, c.flags, &id);
        ASSERT_NE(thread, nullptr);
        EXPECT_NE(id, 0u);
        EXPECT_EQ(winsim::CurrentCounts().kernelHandles, before_.kernelHandles + 1);
        if (c.flags == CREATE_SUSPENDED) {
            EXPECT_EQ(WaitForSingleObject(thread, 30), static_cast<DWORD>(WAIT_TIMEOUT));
            EXPECT_EQ(runs, 0);
            DWORD code = 0;
            EXPECT_TRUE(GetExitCodeThread(thread, &code));
            EXPECT_EQ(code, static_cast<DWORD>(STILL_ACTIVE));
        }
        if (c.resume) {
            EXPECT_EQ(ResumeThread(thread), 1u);
        }
        if (c.runs == 1) {
            ASSERT_EQ(WaitForSingleObject(thread, 5000), static_cast<DWORD>(WAIT_OBJECT_0));
            EXPECT_EQ(ResumeThread(thread), 0u);
            DWORD code = 0;
            EXPECT_TRUE(GetExitCodeThread(thread, &code));
            EXPECT_EQ(code, 42u);
        }
        EXPECT_TRUE(CloseHandle(thread));
        EXPECT_TRUE(winsim::WaitForProcessThreads(5000));
        EXPECT_EQ(winsim::LiveThreadCount(), 0);
        EXPECT_EQ(runs, c.runs);
        EXPECT_EQ(ResumeThread(thread), static_cast<DWORD>(-1));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    }
    std::atomic<int> runs{0};
    winsim::FailCall("CreateThread", 1, ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_EQ(CreateThread(nullptr, 0, CountRun, &runs, 0, nullptr), nullptr);
    HANDLE thread = CreateThread(nullptr, 0, CountRun, &runs, CREATE_SUSPENDED, nullptr);
    winsim::FailCall("ResumeThread", 1);
    EXPECT_EQ(ResumeThread(thread), static_cast<DWORD>(-1));
    EXPECT_EQ(ResumeThread(thread), 1u);
    EXPECT_EQ(WaitForSingleObject(thread, 5000), static_cast<DWORD>(WAIT_OBJECT_0));
    EXPECT_TRUE(CloseHandle(thread));
}

// What the window's own thread does once another thread has sent it a
// message: the sender waits until then.
enum class OwnerDoes { Pump, Destroy, End };

TEST_F(WinsimSheet, SendMessageFromAnotherThreadWaitsForTheOwner) {
    struct Case {
        const char* name;
        OwnerDoes owner;
        LRESULT answer;
        DWORD error;
    } cases[] = {
        {"owner runs it", OwnerDoes::Pump, 77, 0},
        {"owner destroys the window", OwnerDoes::Destroy, 0, ERROR_INVALID_WINDOW_HANDLE},
        {"owner thread ends", OwnerDoes::End, 0, ERROR_INVALID_WINDOW_HANDLE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        g_procedureThread = 0;
        std::atomic<HWND> window{nullptr};
        std::atomic<bool> returned{false}, returnedEarly{false};
        std::atomic<DWORD> ownerThread{0};
        std::thread owner([&] {
            ownerThread = GetCurrentThreadId();
            window = MakeWindow(TEXT("Rendezvous"));
            std::this_thread::sleep_for(std::chrono::milliseconds(60));
            returnedEarly = returned.load();
            if (c.owner == OwnerDoes::Pump)
                winsim::PumpMessages(5000, [&] { return returned.load(); });
            if (c.owner == OwnerDoes::Destroy) DestroyWindow(window);
        });
        while (window == nullptr) std::this_thread::yield();
        SetLastError(0);
        LRESULT answer = SendMessageW(window, WM_LBUTTONDOWN, 0, 0);
        DWORD error = GetLastError();
        returned = true;
        owner.join();
        EXPECT_FALSE(returnedEarly);
        EXPECT_EQ(answer, c.answer);
        EXPECT_EQ(error, c.error);
        EXPECT_EQ(g_procedureThread, c.owner == OwnerDoes::Pump ? ownerThread.load() : 0u);
        EXPECT_EQ(FindWindowW(nullptr, TEXT("Rendezvous")), nullptr);
        SetLastError(0);
        EXPECT_EQ(SendMessageW(window, WM_LBUTTONDOWN, 0, 0), 0);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
    }
    EXPECT_EQ(winsim::ProcessWindowCount(), 0);
}

TEST_F(WinsimSheet, ChildWindowsTitlesPlacesAndSystemAnswers) {
    HWND frame = MakeWindow(TEXT("Frame"));
    HWND button = MakeWindow(TEXT("OK"), frame, IDOK);
    ASSERT_NE(button, nullptr);
    EXPECT_EQ(CreateWindowExW(0, TEXT("SheetTest"), TEXT("Orphan"), WS_CHILD, 0, 0, 1, 1, nullptr,
                              nullptr, nullptr, nullptr),
              nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_TLW_WITH_WSCHILD));
    EXPECT_EQ(GetParent(button), frame);
    EXPECT_EQ(GetParent(frame), nullptr);
    EXPECT_EQ(GetDlgItem(frame, IDOK), button);
    EXPECT_EQ(GetDlgItem(frame, IDCANCEL), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CONTROL_ID_NOT_FOUND));
    EXPECT_EQ(FindWindowW(nullptr, TEXT("OK")), nullptr);
    ASSERT_TRUE(SetWindowTextW(frame, TEXT("Sheet 12:00:00.250")));
    EXPECT_EQ(FindWindowW(nullptr, TEXT("Frame")), nullptr);
    EXPECT_EQ(FindWindowW(nullptr, TEXT("Sheet 12:00:00.250")), frame);
    WCHAR title[8];
    EXPECT_EQ(GetWindowTextW(frame, title, 8), 7);
    EXPECT_EQ(std::u16string(title), u"Sheet 1");

    winsim::SetSetting("screen_cx", "1600");
    int cx = GetSystemMetrics(SM_CXFULLSCREEN), cy = GetSystemMetrics(SM_CYFULLSCREEN);
    EXPECT_EQ(cx, 1600);
    EXPECT_EQ(cy, 1040);
    ASSERT_TRUE(SetWindowPos(frame, nullptr, cx, cy, 0, 0, SWP_ASYNCWINDOWPOS | SWP_NOSIZE));
    int x, y, w, h;
    ASSERT_TRUE(winsim::WindowPlacement(frame, &x, &y, &w, &h));
    EXPECT_EQ(std::vector<int>({x, y, w, h}), std::vector<int>({1600, 1040, 300, 200}));
    winsim::FailCall("SetWindowPos", 1);
    EXPECT_FALSE(SetWindowPos(frame, nullptr, 0, 0, 50, 50, SWP_ASYNCWINDOWPOS));
    EXPECT_TRUE(SetCursorPos(25, 25));
    POINT cursor{};
    EXPECT_TRUE(GetCursorPos(&cursor));
    EXPECT_EQ(cursor.x + cursor.y, 50);
    EXPECT_EQ(SetFocus(button), nullptr);
    EXPECT_TRUE(DestroyWindow(frame));
    EXPECT_EQ(GetFocus(), nullptr);
    EXPECT_FALSE(IsWindow(button));
    EXPECT_EQ(winsim::ProcessWindowCount(), 0);
    std::vector<std::string> lines;
    for (const winsim::UiEvent& e : winsim::UiEvents()) {
        if (e.kind != "find") lines.push_back(e.description);
    }
    EXPECT_EQ(lines, std::vector<std::string>(
                         {"retitled frame " + std::to_string(reinterpret_cast<ULONG_PTR>(frame)) +
                              " to 'Sheet 12:00:00.250'",
                          "moved frame " + std::to_string(reinterpret_cast<ULONG_PTR>(frame)) +
                              " to (1600,1040) flags 0x4001",
                          "cursor to (25,25)", "focus to control 1"}));

    winsim::SetSetting("clock", "2024-02-29 23:59:58.125");
    SYSTEMTIME now{};
    GetSystemTime(&now);
    EXPECT_EQ(std::vector<int>({now.wYear, now.wMonth, now.wDay, now.wDayOfWeek, now.wHour,
                                now.wSecond, now.wMilliseconds}),
              std::vector<int>({2024, 2, 29, 4, 23, 58, 125}));
    winsim::SetSetting("os_major", "5");
    OSVERSIONINFOW version{};
    EXPECT_FALSE(GetVersionExW(&version));
    version.dwOSVersionInfoSize = sizeof version;
    ASSERT_TRUE(GetVersionExW(&version));
    EXPECT_EQ(version.dwPlatformId, 2u);
    EXPECT_EQ(version.dwMajorVersion, 5u);
}

// The fake driver: adds one page whose SETACTIVE retitles and moves the
// frame, then resumes a closing thread that presses a button from outside.
struct FakeDriver {
    int press = 0;  // control ID the closing thread presses; 0: none
    std::mutex lock;
    std::vector<std::string> calls;  // on the sheet's thread, in order
    DWORD sheetThread = 0;
    LONG addResult = 0;
    std::atomic<bool> applied{false}, appliedBeforeSendReturned{false};
    HANDLE closing = nullptr;
    OPTPARAM param{sizeof(OPTPARAM), 0, 0, const_cast<LPWSTR>(u"Glossy"), 0, 0, {}};
    OPTTYPE type{};
    OPTITEM item{};
    COMPROPSHEETUI page{};

    void Log(const std::string& call) {
        std::lock_guard<std::mutex> guard(lock);
        calls.push_back(call);
    }
};

const WCHAR kUniqueTitle[] = u"Lark 12:00:00.000";

DWORD WINAPI PressButton(LPVOID parameter) {
    auto* driver = static_cast<FakeDriver*>(parameter);
    HWND button = GetDlgItem(FindWindowW(nullptr, kUniqueTitle), driver->press);
    SendMessageW(button, WM_LBUTTONDOWN, 0, 0);
    SendMessageW(button, WM_LBUTTONUP, 0, 0);
    driver->appliedBeforeSendReturned = driver->applied.load();
    return 0;
}

LONG CALLBACK PageCallback(PCPSUICBPARAM param) {
    auto* driver = reinterpret_cast<FakeDriver*>(param->UserData);
    EXPECT_EQ(param->pOptItem, &driver->item);
    EXPECT_EQ(GetCurrentThreadId(), driver->sheetThread);
    if (param->Reason == CPSUICB_REASON_APPLYNOW) {
        driver->Log("APPLYNOW");
        driver->applied = true;
        return CPSUICB_ACTION_ITEMS_APPLIED;
    }
    driver->Log("SETACTIVE");
    HWND frame = GetParent(param->hDlg);
    EXPECT_EQ(FindWindowW(nullptr, TEXT("Photo Properties")), frame);
    SetWindowTextW(frame, kUniqueTitle);
    SetWindowPos(frame, nullptr, GetSystemMetrics(SM_CXFULLSCREEN),
                 GetSystemMetrics(SM_CYFULLSCREEN), 0, 0, SWP_ASYNCWINDOWPOS | SWP_NOSIZE);
    if (driver->press != 0) {
        driver->closing = CreateThread(nullptr, 0, PressButton, driver, CREATE_SUSPENDED, nullptr);
        ResumeThread(driver->closing);
    }
    return CPSUICB_ACTION_NONE;
}

LONG CALLBACK FakeSheets(PPROPSHEETUI_INFO info, LPARAM lParam) {
    auto* driver = reinterpret_cast<FakeDriver*>(info->lParamInit);
    switch (info->Reason) {
        case PROPSHEETUI_REASON_INIT: {
            driver->Log("INIT");
            driver->sheetThread = GetCurrentThreadId();
            driver->type =
                OPTTYPE{sizeof(OPTTYPE), TVOT_COMBOBOX, 0, 1, 0, &driver->param, 0, {}, {}};
            driver->item.cbSize = sizeof(OPTITEM);
            driver->item.pName = const_cast<LPWSTR>(u"Paper");
            driver->item.pOptType = &driver->type;
            COMPROPSHEETUI& page = driver->page;
            page.cbSize = sizeof page;
            page.hInstCaller = reinterpret_cast<HINSTANCE>(driver);
            page.pCallerName = const_cast<LPWSTR>(u"Lark");
            page.UserData = reinterpret_cast<ULONG_PTR>(driver);
            page.pfnCallBack = PageCallback;
            page.pOptItem = &driver->item;
            page.cOptItem = 1;
            page.pDlgPage = CPSUI_PDLGPAGE_TREEVIEWONLY;
            return info->pfnComPropSheet(info->hComPropSheet, CPSFUNC_ADD_PCOMPROPSHEETUIW,
                                         reinterpret_cast<LPARAM>(&page),
                                         reinterpret_cast<LPARAM>(&driver->addResult)) != 0
                       ? 1
                       : -1;
        }
        case PROPSHEETUI_REASON_GET_INFO_HEADER: {
            driver->Log("GET_INFO_HEADER");
            auto* header = reinterpret_cast<PPROPSHEETUI_INFO_HEADER>(lParam);
            header->Flags = PSUIHDRF_NOAPPLYNOW | PSUIHDRF_PROPTITLE;
            header->pTitle = const_cast<LPWSTR>(u"Photo");
            return 1;
        }
        case PROPSHEETUI_REASON_SET_RESULT:
            driver->Log("SET_RESULT " + std::to_string(info->Result));
            EXPECT_EQ(reinterpret_cast<PSETRESULT_INFO>(lParam)->Result,
                      static_cast<LRESULT>(info->Result));
            return 1;
        case PROPSHEETUI_REASON_DESTROY:
            driver->Log("DESTROY");
            return 1;
    }
    return -1;
}

TEST_F(WinsimSheet, HostRunsTheDriversSheetToItsEnd) {
    struct Case {
        const char* name;
        int press;
        bool refuse;
        LONG answer;
        DWORD result;
        std::vector<std::string> calls;
    } cases[] = {
        {"OK pressed from the closing thread",
         IDOK,
         false,
         CPSUI_OK,
         CPSUI_OK,
         {"INIT", "GET_INFO_HEADER", "SETACTIVE", "APPLYNOW", "SET_RESULT 1", "DESTROY"}},
        {"Cancel pressed",
         IDCANCEL,
         false,
         CPSUI_CANCEL,
         CPSUI_CANCEL,
         {"INIT", "GET_INFO_HEADER", "SETACTIVE", "SET_RESULT 0", "DESTROY"}},
        {"nobody closes it",
         0,
         false,
         CPSUI_CANCEL,
         CPSUI_CANCEL,
         {"INIT", "GET_INFO_HEADER", "SETACTIVE", "SET_RESULT 0", "DESTROY"}},
        {"page refused", IDOK, true, ERR_CPSUI_NO_PROPSHEETPAGE, CPSUI_CANCEL, {"INIT", "DESTROY"}},
    };
    winsim::SetSetting("sheet_timeout_ms", "200");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        winsim::SetSetting("sheet_refuse_page", c.refuse ? "1" : "0");
        FakeDriver driver;
        driver.press = c.press;
        DWORD result = 99;
        EXPECT_EQ(
            CommonPropertySheetUIW(nullptr, FakeSheets, reinterpret_cast<LPARAM>(&driver), &result),
            c.answer);
        EXPECT_EQ(result, c.result);
        if (driver.closing != nullptr) {
            EXPECT_EQ(WaitForSingleObject(driver.closing, 5000), static_cast<DWORD>(WAIT_OBJECT_0));
            CloseHandle(driver.closing);
        }
        EXPECT_EQ(driver.calls, c.calls);
        EXPECT_EQ(driver.appliedBeforeSendReturned, c.answer == CPSUI_OK);
        EXPECT_EQ(driver.addResult, c.refuse ? ERR_CPSUI_CREATEPROPPAGE_FAILED : 1);
        EXPECT_EQ(winsim::ProcessWindowCount(), 0);
    }
    std::string timeline;
    for (const winsim::UiEvent& e : winsim::UiEvents()) timeline += e.description + "\n";
    EXPECT_NE(timeline.find("to (1920,1040) flags 0x4001"), std::string::npos) << timeline;
    EXPECT_NE(timeline.find("sent WM_LBUTTONUP to control 1 from thread"), std::string::npos);
    EXPECT_NE(timeline.find("OK (control 1) pressed"), std::string::npos);
    EXPECT_NE(timeline.find("nobody closed the sheet within 200 ms"), std::string::npos);
}

TEST_F(WinsimSheet, DocumentPropertiesNeedsTheDriversModule) {
    winsim::DriverRecord driver;
    driver.name = u"No Module";
    driver.configFile = u"C:\\Windows\\System32\\spool\\drivers\\x64\\3\\missing.dll";
    ASSERT_TRUE(winsim::AddDriver(driver));
    winsim::PrinterRecord printer{u"Photo", u"USB001", u"No Module", {}, 0};
    ASSERT_TRUE(winsim::StorePrinter(printer));
    WCHAR name[] = TEXT("Photo");
    EXPECT_EQ(DocumentPropertiesW(nullptr, nullptr, name, nullptr, nullptr, 0), -1);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
}

}  // namespace
