// winsim's common property sheet host (CommonPropertySheetUIW) driven by a
// fake driver whose closing thread presses a button, as its timeline shows
// it, and winsim's DocumentPropertiesW without the driver's module.
#include <atomic>
#include <mutex>
#include <thread>

#include "machine_fixture.h"

namespace {

using WinsimSheet = larktest::MachineTest;

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
