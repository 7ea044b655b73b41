// The common property sheet host (compstui's CommonPropertySheetUIW), as
// the spooler runs a driver's document or device property sheets:
//
//   INIT: the driver adds its pages through the host's function
//     (CPSFUNC_ADD_PCOMPROPSHEETUIW); a sheet without pages, or whose INIT
//     fails, goes straight to DESTROY.
//   GET_INFO_HEADER: the driver names the sheet (title, instance, icon).
//   The sheet: a top-level frame ("#32770") titled from the header with an
//     OK button (control ID 1), a Cancel button (2) and one child window
//     per page, all made on the calling thread. The first page becomes
//     active: its callback hears CPSUICB_REASON_SETACTIVE. The thread then
//     waits for messages: WM_LBUTTONDOWN and WM_LBUTTONUP on a button,
//     sent from any thread, press it. OK gives every activated page's
//     callback CPSUICB_REASON_APPLYNOW (a page answering
//     CPSUICB_ACTION_NO_APPLY_EXIT keeps the sheet open) and closes the
//     sheet with CPSUI_OK; Cancel closes it with CPSUI_CANCEL; so does the
//     machine setting "sheet_timeout_ms" (10000 unless set), as a user who
//     gives up. The windows are destroyed before the driver hears the end.
//   SET_RESULT (lParam: a SETRESULT_INFO, PROPSHEETUI_INFO.Result: the
//     result), then DESTROY (lParam: TRUE when closed with OK). The host
//     stands for the spooler's own function too, the parent of the driver's:
//     *pResult is the SETRESULT_INFO Result as the driver passed it on when
//     it answered SET_RESULT with 1 or more (a driver may change it, as one
//     that could not hand its devmode out turns CPSUI_OK into CPSUI_CANCEL),
//     and CPSUI_CANCEL when the driver answered less, so the parent never
//     heard the result.
//
// The machine setting "sheet_refuse_page" set to "1" makes the host refuse
// every page. Every step goes to the machine's timeline (winsim::UiEvents).
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <set>
#include <vector>

#include "window_internal.h"

namespace {

using winsim::detail::RecordUiEvent;

struct Page {
    PCOMPROPSHEETUI record = nullptr;
    HWND window = nullptr;
    bool activated = false;
};

struct Sheet {
    std::vector<Page> pages;
    HWND frame = nullptr;
    std::map<int, bool> buttonDown;  // by control ID
    bool closed = false;
    LONG result = CPSUI_CANCEL;
};

std::mutex g_lock;
std::set<const Sheet*> g_sheets;  // running, so a stale hComPropSheet is refused
std::map<HWND, Sheet*> g_frames;

Sheet* SheetOfFrame(HWND frame) {
    std::lock_guard<std::mutex> guard(g_lock);
    auto it = g_frames.find(frame);
    return it == g_frames.end() ? nullptr : it->second;
}

__attribute__((format(printf, 1, 2))) std::string Format(const char* format, ...) {
    char text[200];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(text, sizeof text, format, arguments);
    va_end(arguments);
    return text;
}

const char* ReasonName(WORD reason) {
    static const char* const names[] = {"INIT", "GET_INFO_HEADER", "DESTROY", "SET_RESULT",
                                        "GET_ICON"};
    return reason < 5 ? names[reason] : "?";
}

std::string CallbackReasonName(WORD reason) {
    if (reason == CPSUICB_REASON_SETACTIVE) return "SETACTIVE";
    if (reason == CPSUICB_REASON_APPLYNOW) return "APPLYNOW";
    return Format("reason %d", reason);
}

// A resource ID in place of a text reads as no text here.
std::u16string Text(LPCWSTR text) {
    return reinterpret_cast<ULONG_PTR>(text) < 0x10000 ? std::u16string() : std::u16string(text);
}

LONG CallDriver(PFNPROPSHEETUI driver, PROPSHEETUI_INFO* info, WORD reason, LPARAM lParam) {
    info->Reason = reason;
    LONG answer = driver(info, lParam);
    RecordUiEvent("sheet-call", nullptr, winsim::ToUtf16(ReasonName(reason)),
                  {reason, answer, static_cast<int64_t>(info->Result)},
                  std::string("driver ") + ReasonName(reason) +
                      Format(" answered %d, Result %llu", answer,
                             static_cast<unsigned long long>(info->Result)));
    return answer;
}

// The page's callback, if it has one; CPSUICB_ACTION_NONE otherwise.
LONG CallPage(const Page& page, size_t index, WORD reason) {
    PCOMPROPSHEETUI record = page.record;
    if (record->pfnCallBack == nullptr) return CPSUICB_ACTION_NONE;
    CPSUICBPARAM param{};
    param.cbSize = sizeof param;
    param.Reason = reason;
    param.hDlg = page.window;
    param.pOptItem = record->pOptItem;
    param.cOptItem = record->cOptItem;
    param.Flags = record->Flags;
    param.pCurItem = record->pOptItem;
    param.OldSel = record->pOptItem != nullptr ? record->pOptItem->Sel : 0;
    param.UserData = record->UserData;
    LONG answer = record->pfnCallBack(&param);
    RecordUiEvent("page-callback", page.window, u"",
                  {reason, answer, static_cast<int64_t>(index + 1)},
                  Format("page %zu ", index + 1) + CallbackReasonName(reason) +
                      Format(" answered %d", answer));
    return answer;
}

void Close(Sheet& sheet, LONG result) {
    sheet.closed = true;
    sheet.result = result;
}

void ApplyAndClose(Sheet& sheet) {
    for (size_t i = 0; i < sheet.pages.size(); ++i) {
        if (!sheet.pages[i].activated) continue;
        if (CallPage(sheet.pages[i], i, CPSUICB_REASON_APPLYNOW) == CPSUICB_ACTION_NO_APPLY_EXIT)
            return;
    }
    Close(sheet, CPSUI_OK);
}

LRESULT CALLBACK FrameProcedure(HWND frame, UINT message, WPARAM wParam, LPARAM) {
    Sheet* sheet = SheetOfFrame(frame);
    if (sheet == nullptr || sheet->closed) return 0;
    if (message == WM_COMMAND && HIWORD(wParam) == BN_CLICKED) {
        if (LOWORD(wParam) == IDOK) ApplyAndClose(*sheet);
        if (LOWORD(wParam) == IDCANCEL) Close(*sheet, CPSUI_CANCEL);
    } else if (message == WM_CLOSE) {
        Close(*sheet, CPSUI_CANCEL);
    }
    return 0;
}

// A press is a button-down followed by a button-up on the same button; the
// button then tells the frame, as a button's BN_CLICKED does.
LRESULT CALLBACK ButtonProcedure(HWND button, UINT message, WPARAM, LPARAM) {
    if (message != WM_LBUTTONDOWN && message != WM_LBUTTONUP) return 0;
    winsim::detail::WindowInfo info;
    if (!winsim::detail::LookUpWindow(button, &info)) return 0;
    Sheet* sheet = SheetOfFrame(info.parent);
    if (sheet == nullptr) return 0;
    bool& down = sheet->buttonDown[info.controlId];
    if (message == WM_LBUTTONDOWN) {
        down = true;
        return 0;
    }
    if (!down) return 0;
    down = false;
    RecordUiEvent("press", button, info.title, {info.controlId},
                  winsim::ToUtf8(info.title) + Format(" (control %d) pressed", info.controlId));
    SendMessageW(info.parent, WM_COMMAND, static_cast<WPARAM>(info.controlId) | (BN_CLICKED << 16),
                 reinterpret_cast<LPARAM>(button));
    return 0;
}

LRESULT CALLBACK PageProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcW(window, message, wParam, lParam);
}

// The host's function for the driver; only pages given as COMPROPSHEETUI
// records are taken. Each record is checked as the real host checks it.
LONG CheckPage(const COMPROPSHEETUI* page) {
    if (page == nullptr || page->cbSize != sizeof(COMPROPSHEETUI)) return ERR_CPSUI_INVALID_PDATA;
    if (page->hInstCaller == nullptr) return ERR_CPSUI_NULL_HINST;
    if (page->pCallerName == nullptr) return ERR_CPSUI_NULL_CALLERNAME;
    if (page->cOptItem == 0) return ERR_CPSUI_ZERO_OPTITEM;
    if (page->pOptItem == nullptr) return ERR_CPSUI_NULL_POPTITEM;
    for (WORD i = 0; i < page->cOptItem; ++i) {
        const OPTITEM& item = page->pOptItem[i];
        if (item.cbSize != sizeof(OPTITEM)) return ERR_CPSUI_INVALID_OPTITEM_CBSIZE;
        if (item.pName == nullptr) return ERR_CPSUI_NULL_OPTITEMNAME;
        const OPTTYPE* type = item.pOptType;
        if (type == nullptr) continue;  // a heading
        if (type->cbSize != sizeof(OPTTYPE)) return ERR_CPSUI_INVALID_OPTTYPE_CBSIZE;
        if (type->Count == 0) return ERR_CPSUI_INVALID_OPTTYPE_COUNT;
        if (type->pOptParam == nullptr) return ERR_CPSUI_NULL_POPTPARAM;
        for (WORD p = 0; p < type->Count; ++p) {
            if (type->pOptParam[p].cbSize != sizeof(OPTPARAM))
                return ERR_CPSUI_INVALID_OPTPARAM_CBSIZE;
        }
    }
    return 0;
}

LONG_PTR CALLBACK HostFunction(HANDLE hComPropSheet, UINT function, LPARAM lParam1,
                               LPARAM lParam2) {
    auto* sheet = static_cast<Sheet*>(hComPropSheet);
    {
        std::lock_guard<std::mutex> guard(g_lock);
        if (g_sheets.count(sheet) == 0) {
            SetLastError(ERROR_INVALID_HANDLE);
            return 0;
        }
    }
    if (function != CPSFUNC_ADD_PCOMPROPSHEETUIW) {
        RecordUiEvent("page-refused", nullptr, u"", {ERR_CPSUI_FUNCTION_NOT_IMPLEMENTED, function},
                      Format("host function %u not supported", function));
        return 0;
    }
    auto* page = reinterpret_cast<PCOMPROPSHEETUI>(lParam1);
    auto* result = reinterpret_cast<LONG*>(lParam2);
    LONG error = CheckPage(page);
    if (error == 0 && winsim::GetSetting("sheet_refuse_page", "") == "1")
        error = ERR_CPSUI_CREATEPROPPAGE_FAILED;
    if (error != 0) {
        if (result != nullptr) *result = error;
        RecordUiEvent("page-refused", nullptr, u"", {error},
                      Format("page refused with error %d", error));
        return 0;
    }
    sheet->pages.push_back(Page{page});
    if (result != nullptr) *result = 1;  // pages added
    std::u16string caller = Text(page->pCallerName);
    RecordUiEvent("page-added", nullptr, caller,
                  {static_cast<int64_t>(sheet->pages.size()), page->cOptItem, page->Flags},
                  Format("page %zu added: '", sheet->pages.size()) + winsim::ToUtf8(caller) +
                      Format("' with %d item(s), flags 0x%x", page->cOptItem, page->Flags) +
                      (page->pfnCallBack != nullptr ? "" : ", no callback"));
    return static_cast<LONG_PTR>(sheet->pages.size());
}

// Shows the sheet until it closes; answers its CPSUI result, or an error.
LONG RunSheet(Sheet& sheet, const std::u16string& title) {
    HWND frame = winsim::detail::CreateWindowWithProcedure(
        FrameProcedure, u"#32770", title, WS_OVERLAPPEDWINDOW, 100, 100, 480, 560, nullptr, 0);
    if (frame == nullptr) return ERR_CPSUI_CREATEPROPPAGE_FAILED;
    sheet.frame = frame;
    {
        std::lock_guard<std::mutex> guard(g_lock);
        g_frames[frame] = &sheet;
    }
    const DWORD child = WS_CHILD | WS_VISIBLE;
    bool made = winsim::detail::CreateWindowWithProcedure(ButtonProcedure, u"Button", u"OK", child,
                                                          220, 500, 75, 23, frame, IDOK) &&
                winsim::detail::CreateWindowWithProcedure(ButtonProcedure, u"Button", u"Cancel",
                                                          child, 300, 500, 75, 23, frame, IDCANCEL);
    for (size_t i = 0; made && i < sheet.pages.size(); ++i) {
        // Page IDs keep clear of the buttons'.
        sheet.pages[i].window = winsim::detail::CreateWindowWithProcedure(
            PageProcedure, u"#32770", Text(sheet.pages[i].record->pCallerName),
            i == 0 ? child : WS_CHILD, 8, 30, 464, 460, frame, 0x3000 + static_cast<int>(i));
        made = sheet.pages[i].window != nullptr;
    }
    LONG result = ERR_CPSUI_CREATEPROPPAGE_FAILED;
    if (made) {
        ShowWindow(frame, SW_SHOWNORMAL);
        RecordUiEvent("sheet-shown", frame, title, {static_cast<int64_t>(sheet.pages.size())},
                      "sheet shown as " + winsim::detail::WindowLabel(frame) + " '" +
                          winsim::ToUtf8(title) + "'");
        sheet.pages[0].activated = true;
        CallPage(sheet.pages[0], 0, CPSUICB_REASON_SETACTIVE);
        long timeout =
            std::strtol(winsim::GetSetting("sheet_timeout_ms", "10000").c_str(), nullptr, 10);
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout);
        if (!winsim::detail::PumpMessagesUntil([&] { return sheet.closed; }, deadline)) {
            RecordUiEvent("sheet-timeout", frame, u"", {timeout},
                          Format("nobody closed the sheet within %ld ms: cancelled", timeout));
            Close(sheet, CPSUI_CANCEL);
        }
        result = sheet.result;
    }
    DestroyWindow(frame);
    {
        std::lock_guard<std::mutex> guard(g_lock);
        g_frames.erase(frame);
    }
    RecordUiEvent("sheet-closed", frame, u"", {result},
                  result == CPSUI_OK       ? std::string("sheet closed with CPSUI_OK")
                  : result == CPSUI_CANCEL ? std::string("sheet closed with CPSUI_CANCEL")
                                           : Format("sheet not shown: error %d", result));
    return result;
}

}  // namespace

WINSIM_API LONG WINAPI CommonPropertySheetUIW(HWND owner, PFNPROPSHEETUI driver, LPARAM lParam,
                                              LPDWORD pResult) {
    if (pResult != nullptr) *pResult = CPSUI_CANCEL;
    if (winsim::detail::Faulted("CommonPropertySheetUIW")) return ERR_CPSUI_GETLASTERROR;
    if (driver == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return ERR_CPSUI_GETLASTERROR;
    }
    Sheet sheet;
    {
        std::lock_guard<std::mutex> guard(g_lock);
        g_sheets.insert(&sheet);
    }
    PROPSHEETUI_INFO info{};
    info.cbSize = sizeof info;
    info.Version = PROPSHEETUI_INFO_VERSION;
    info.Flags = PSUIINFO_UNICODE;
    info.hComPropSheet = &sheet;
    info.pfnComPropSheet = HostFunction;
    info.lParamInit = lParam;

    // A sheet without pages ends so whatever INIT answered: a driver whose
    // page was refused may answer either way.
    LONG result = ERR_CPSUI_GETLASTERROR;
    LRESULT final = CPSUI_CANCEL;
    LONG init = CallDriver(driver, &info, PROPSHEETUI_REASON_INIT, lParam);
    if (sheet.pages.empty()) {
        result = ERR_CPSUI_NO_PROPSHEETPAGE;
    } else if (init > 0) {
        PROPSHEETUI_INFO_HEADER header{};
        header.cbSize = sizeof header;
        header.hWndParent = owner;
        if (CallDriver(driver, &info, PROPSHEETUI_REASON_GET_INFO_HEADER,
                       reinterpret_cast<LPARAM>(&header)) > 0) {
            std::u16string title = Text(header.pTitle);
            if ((header.Flags & PSUIHDRF_PROPTITLE) != 0) title += u" Properties";
            RecordUiEvent(
                "sheet-header", nullptr, title,
                {header.Flags, static_cast<int64_t>(reinterpret_cast<ULONG_PTR>(header.hInst)),
                 static_cast<int64_t>(header.IconID)},
                "header: title '" + winsim::ToUtf8(title) +
                    Format("', flags 0x%x, icon %llu, instance %s", header.Flags,
                           static_cast<unsigned long long>(header.IconID),
                           header.hInst != nullptr ? "set" : "null"));
            result = RunSheet(sheet, title);
        }
    }
    if (result >= 0) {
        SETRESULT_INFO set{};
        set.cbSize = sizeof set;
        set.hSetResult = &sheet;
        set.Result = result;
        info.Result = static_cast<ULONG_PTR>(result);
        if (CallDriver(driver, &info, PROPSHEETUI_REASON_SET_RESULT,
                       reinterpret_cast<LPARAM>(&set)) >= 1) {
            final = set.Result;
        }
    }
    CallDriver(driver, &info, PROPSHEETUI_REASON_DESTROY, result == CPSUI_OK ? TRUE : FALSE);
    {
        std::lock_guard<std::mutex> guard(g_lock);
        g_sheets.erase(&sheet);
    }
    if (result >= 0 && pResult != nullptr) *pResult = static_cast<DWORD>(final);
    return result;
}
