// The settings road under Wine. Wine's compstui refuses the driver's page,
// so this host plays compstui's part as Windows' does: INIT with its add
// function, GET_INFO_HEADER, a real frame window titled from the header
// with an OK button of control ID 1 and the page as its child, SETACTIVE
// from the frame's message loop, APPLYNOW and the close on OK, then
// SET_RESULT with the result to pass on and DESTROY. The printer is added
// for the road with AddPrinterW on a file port, so the sample pages' bytes
// can be read back; MSHTML.DLL is the test double beside this program
// (WINEDLLOVERRIDES=mshtml=n,b), answering from LARK_DIALOG_SCRIPT and
// logging each showing and the port file's job to LARK_DIALOG_LOG.
#include <cstdio>
#include <string>

#include "adapter.h"
#include "conformance.h"
#include "wine_harness.h"

namespace conformance {
namespace {

using SheetsFn = LONG(WINAPI*)(PPROPSHEETUI_INFO, LPARAM);

const wchar_t kFilePrinter[] = L"Lark Photo File";
const wchar_t kJobsFolder[] = L"C:\\jobs";
const wchar_t kFilePort[] = L"C:\\jobs\\sample.prn";
const wchar_t kDialogLog[] = L"C:\\jobs\\dialog.log";
const wchar_t kFrameClass[] = L"LarkConformanceSheet";
constexpr UINT kSetActive = WM_APP + 1;
constexpr UINT_PTR kGiveUp = 1;
constexpr UINT kGiveUpMs = 15000;  // as a user who gives up on a sheet nobody closes

struct Host {
    COMPROPSHEETUI* page = nullptr;
    HWND frame = nullptr;
    HWND pageWindow = nullptr;
    WNDPROC buttonProcedure = nullptr;
    bool applied = false;
    RoadResult* result = nullptr;
};
Host g_host;  // one road at a time, on this thread

LONG_PTR CALLBACK HostAdd(HANDLE, UINT function, LPARAM record, LPARAM result) {
    if (function != CPSFUNC_ADD_PCOMPROPSHEETUIW || record == 0) return 0;
    g_host.page = reinterpret_cast<COMPROPSHEETUI*>(record);
    if (result != 0) *reinterpret_cast<LONG*>(result) = 1;
    return 1;
}

LONG CallPage(WORD reason) {
    CPSUICBPARAM param = {};
    param.cbSize = sizeof param;
    param.Reason = reason;
    param.hDlg = g_host.pageWindow;
    param.pOptItem = g_host.page->pOptItem;
    param.cOptItem = g_host.page->cOptItem;
    param.Flags = g_host.page->Flags;
    param.pCurItem = g_host.page->pOptItem;
    param.UserData = g_host.page->UserData;
    return g_host.page->pfnCallBack != nullptr ? g_host.page->pfnCallBack(&param)
                                               : CPSUICB_ACTION_NONE;
}

// The OK button, told apart from a press on this thread: the closing
// thread's messages come through SendMessageW from another thread.
LRESULT CALLBACK OkButton(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_LBUTTONDOWN && InSendMessage())
        g_host.result->pressedFromAnotherThread = true;
    return CallWindowProcW(g_host.buttonProcedure, window, message, wParam, lParam);
}

LRESULT CALLBACK FrameProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    RoadResult& result = *g_host.result;
    switch (message) {
        case kSetActive: {
            RECT before = {}, after = {};
            GetWindowRect(window, &before);
            LONG answer = CallPage(CPSUICB_REASON_SETACTIVE);
            if (result.setActive == -1) result.setActive = answer;
            wchar_t title[1100] = {};
            GetWindowTextW(window, title, 1100);
            result.sheetTitle = title;
            GetWindowRect(window, &after);
            if (after.left != before.left || after.top != before.top) {
                result.moved = true;
                result.movedX = after.left;
                result.movedY = after.top;
            }
            return 0;
        }
        case WM_COMMAND:
            if (LOWORD(wParam) == IDOK && HIWORD(wParam) == BN_CLICKED) {
                LONG answer = CallPage(CPSUICB_REASON_APPLYNOW);
                if (result.applyNow == -1) result.applyNow = answer;
                if (answer != CPSUICB_ACTION_NO_APPLY_EXIT) {
                    g_host.applied = true;
                    DestroyWindow(window);
                }
            }
            return 0;
        case WM_TIMER:
            DestroyWindow(window);
            return 0;
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
        default:
            return DefWindowProcW(window, message, wParam, lParam);
    }
}

// Shows the sheet until it closes: CPSUI_OK when OK applied it.
LONG RunSheet(const std::wstring& title) {
    static ATOM registered = 0;
    HINSTANCE instance = GetModuleHandleW(nullptr);
    if (registered == 0) {
        WNDCLASSW c = {};
        c.lpfnWndProc = FrameProcedure;
        c.hInstance = instance;
        c.lpszClassName = kFrameClass;
        registered = RegisterClassW(&c);
    }
    g_host.applied = false;
    g_host.frame = CreateWindowExW(0, kFrameClass, title.c_str(), WS_OVERLAPPEDWINDOW, 100, 100,
                                   480, 560, nullptr, nullptr, instance, nullptr);
    if (g_host.frame == nullptr) return ERR_CPSUI_CREATEPROPPAGE_FAILED;
    HWND ok =
        CreateWindowExW(0, L"BUTTON", L"OK", WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON, 220, 500, 75,
                        23, g_host.frame, reinterpret_cast<HMENU>(IDOK), instance, nullptr);
    g_host.pageWindow =
        CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE, 8, 30, 464, 460, g_host.frame,
                        reinterpret_cast<HMENU>(0x3000), instance, nullptr);
    if (ok == nullptr || g_host.pageWindow == nullptr) {
        DestroyWindow(g_host.frame);
        return ERR_CPSUI_CREATEPROPPAGE_FAILED;
    }
    g_host.buttonProcedure = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(ok, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(OkButton)));
    ShowWindow(g_host.frame, SW_SHOWNORMAL);
    SetTimer(g_host.frame, kGiveUp, kGiveUpMs, nullptr);
    PostMessageW(g_host.frame, kSetActive, 0, 0);
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return g_host.applied ? CPSUI_OK : CPSUI_CANCEL;
}

LONG CallDriver(SheetsFn sheets, PROPSHEETUI_INFO* info, WORD reason, LPARAM lParam) {
    info->Reason = reason;
    LONG answer = sheets(info, lParam);
    g_host.result->calls.push_back({reason, answer, info->Result});
    return answer;
}

// compstui's part, answered as DocumentPropertiesW answers: IDOK when the
// result passed on is CPSUI_OK, IDCANCEL otherwise, -1 without a sheet.
LONG PlaySheet(SheetsFn sheets, DOCUMENTPROPERTYHEADER* header) {
    PROPSHEETUI_INFO info = {};
    info.cbSize = sizeof info;
    info.Version = PROPSHEETUI_INFO_VERSION;
    info.Flags = PSUIINFO_UNICODE;
    info.hComPropSheet = reinterpret_cast<HANDLE>(&g_host);
    info.pfnComPropSheet = HostAdd;
    info.lParamInit = reinterpret_cast<LPARAM>(header);
    g_host.page = nullptr;
    LONG result = ERR_CPSUI_GETLASTERROR;
    LONG_PTR passedOn = CPSUI_CANCEL;
    LONG init = CallDriver(sheets, &info, PROPSHEETUI_REASON_INIT, 0);
    if (g_host.page == nullptr) {
        result = ERR_CPSUI_NO_PROPSHEETPAGE;
    } else if (init > 0) {
        PROPSHEETUI_INFO_HEADER infoHeader = {};
        infoHeader.cbSize = sizeof infoHeader;
        if (CallDriver(sheets, &info, PROPSHEETUI_REASON_GET_INFO_HEADER,
                       reinterpret_cast<LPARAM>(&infoHeader)) > 0) {
            std::wstring title = infoHeader.pTitle != nullptr ? infoHeader.pTitle : L"";
            if ((infoHeader.Flags & PSUIHDRF_PROPTITLE) != 0) title += L" Properties";
            result = RunSheet(title);
        }
    }
    if (result >= 0) {
        SETRESULT_INFO set = {};
        set.cbSize = sizeof set;
        set.hSetResult = reinterpret_cast<HANDLE>(&g_host);
        set.Result = result;
        info.Result = static_cast<ULONG_PTR>(result);
        if (CallDriver(sheets, &info, PROPSHEETUI_REASON_SET_RESULT,
                       reinterpret_cast<LPARAM>(&set)) >= 1) {
            passedOn = set.Result;
        }
    }
    CallDriver(sheets, &info, PROPSHEETUI_REASON_DESTROY, result == CPSUI_OK ? TRUE : FALSE);
    g_host.page = nullptr;
    if (result < 0) return -1;
    return passedOn == CPSUI_OK ? IDOK : IDCANCEL;
}

std::wstring FromUtf8(const std::string& text) {
    std::wstring wide(text.size() + 1, L'\0');
    int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(),
                                static_cast<int>(wide.size()));
    wide.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return wide;
}

std::string FromHex(const std::string& hex) {
    std::string bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) {
        bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    }
    return bytes;
}

// The double's log: "show|<parent>|<page>|<options>|arg:<argument>" (or
// "|noarg") per showing, "job|<hex>" for a job it found in the port file.
void ReadDialogLog(RoadResult* result) {
    std::string log;
    ReadFileBytes(kDialogLog, &log);
    size_t start = 0;
    while (start < log.size()) {
        size_t end = log.find('\n', start);
        if (end == std::string::npos) end = log.size();
        std::string line = log.substr(start, end - start);
        start = end + 1;
        if (line.rfind("job|", 0) == 0) {
            result->sampleJobs.push_back(FromHex(line.substr(4)));
            continue;
        }
        if (line.rfind("show|", 0) != 0) continue;
        size_t parent = 5, page = line.find('|', parent) + 1;
        size_t options = line.find('|', page) + 1;
        size_t argument = line.find('|', options) + 1;
        if (page == 0 || options == 0 || argument == 0) continue;
        RoadShowing showing;
        showing.parentless = line.substr(parent, page - 1 - parent) == "0";
        std::wstring name = FromUtf8(line.substr(page, options - 1 - page));
        // urlmon's URL moniker of a DOS path names itself "file://C:\...".
        if (name.rfind(L"file://", 0) == 0) name.erase(0, 7);
        showing.page = name;
        showing.options = FromUtf8(line.substr(options, argument - 1 - options));
        showing.hasArgument = line.compare(argument, 4, "arg:") == 0;
        if (showing.hasArgument) showing.argument = FromUtf8(line.substr(argument + 4));
        result->showings.push_back(showing);
    }
}

std::string StoredDevmode(HANDLE printer) {
    DWORD needed = 0;
    GetPrinterW(printer, 2, nullptr, 0, &needed);
    std::string block(needed, '\0');
    if (needed < sizeof(PRINTER_INFO_2W) ||
        !GetPrinterW(printer, 2, reinterpret_cast<LPBYTE>(block.data()), needed, &needed)) {
        return "";
    }
    const DEVMODEW* dm = reinterpret_cast<const PRINTER_INFO_2W*>(block.data())->pDevMode;
    if (dm == nullptr) return "";
    const char* bytes = reinterpret_cast<const char*>(dm);
    return std::string(bytes, bytes + dm->dmSize + dm->dmDriverExtra);
}

bool StoredSettings(HANDLE printer, std::wstring* text) {
    wchar_t value[600] = {};
    DWORD type = 0, needed = 0;
    if (GetPrinterDataW(printer, const_cast<LPWSTR>(L"PrinterSettings"), &type,
                        reinterpret_cast<LPBYTE>(value), sizeof value - sizeof(wchar_t),
                        &needed) != ERROR_SUCCESS) {
        return false;
    }
    *text = value;
    return true;
}

bool ThreadsBackTo(long count) {
    for (int wait = 0; wait < 1000; ++wait) {
        std::vector<Holding> now;
        Holdings(&now);
        if (now.empty() || now[0].count <= count) return true;
        Sleep(5);
    }
    return false;
}

void DeletePort(const wchar_t* port) {
    HANDLE xcv = nullptr;
    PRINTER_DEFAULTSW defaults = {nullptr, nullptr, SERVER_ACCESS_ADMINISTER};
    if (!OpenPrinterW(const_cast<LPWSTR>(L",XcvMonitor Local Port"), &xcv, &defaults)) return;
    DWORD needed = 0, status = 0;
    const DWORD bytes = static_cast<DWORD>((std::wcslen(port) + 1) * sizeof(wchar_t));
    XcvDataW(xcv, L"DeletePort", reinterpret_cast<PBYTE>(const_cast<wchar_t*>(port)), bytes,
             nullptr, 0, &needed, &status);
    ClosePrinter(xcv);
}

}  // namespace

bool PlaySettingsRoad(const RoadScript& script, RoadResult* result) {
    *result = RoadResult{};
    if (script.closingThreadFails) return false;  // no fault injection here
    auto sheets = Entry<SheetsFn>("DrvDocumentPropertySheets");
    if (sheets == nullptr) return false;
    std::wstring items;
    for (const std::string& item : script.outcomes) {
        if (!items.empty()) items += L'|';
        items += FromUtf8(item);
    }
    CreateDirectoryW(kJobsFolder, nullptr);
    DeleteFileW(kDialogLog);
    DeleteFileW(kFilePort);
    DWORD status = 0;
    if (!XcvAddLocalPort(kFilePort, &status)) return false;
    std::vector<Holding> before;
    Holdings(&before);
    HANDLE printer = AddLarkPrinter(kFilePrinter, kFilePort);
    if (printer == nullptr) {
        DeletePort(kFilePort);
        return false;
    }
    result->printer = kFilePrinter;
    result->storedBefore = StoredDevmode(printer);
    if (!script.storedNames.empty() &&
        !StoreDevmodeNaming(printer, result->storedBefore, script.storedNames)) {
        DeletePrinter(printer);
        ClosePrinter(printer);
        DeletePort(kFilePort);
        return false;
    }
    std::string application = ApplicationPaper(result->storedBefore, script.paper);
    SetEnvironmentVariableW(L"LARK_DIALOG_SCRIPT", items.c_str());
    SetEnvironmentVariableW(L"LARK_DIALOG_LOG", kDialogLog);
    SetEnvironmentVariableW(L"LARK_DIALOG_PORT_FILE", kFilePort);

    std::string buffer(script.buffer, static_cast<char>(kRoadFill));
    auto* out = reinterpret_cast<DEVMODEW*>(buffer.data());
    DOCUMENTPROPERTYHEADER header = {};
    header.cbSize = sizeof header;
    header.hPrinter = printer;
    header.pszPrinterName = const_cast<LPWSTR>(kFilePrinter);
    header.pdmOut = out;
    // Wine's DocumentPropertiesW states the dmSize already in the buffer.
    header.cbOut = script.cbOut != 0 || buffer.size() < offsetof(DEVMODEW, dmDriverExtra)
                       ? script.cbOut
                       : out->dmSize;
    header.fMode = DM_IN_PROMPT | DM_OUT_BUFFER;
    if (script.paper != 0) {
        header.pdmIn = reinterpret_cast<DEVMODEW*>(application.data());
        header.fMode |= DM_IN_BUFFER;
    }
    g_host.result = result;
    result->answer = PlaySheet(sheets, &header);
    g_host.result = nullptr;
    bool ended = ThreadsBackTo(before.empty() ? 0 : before[0].count);
    result->buffer = buffer;

    ReadDialogLog(result);
    std::string last;
    if (ReadFileBytes(kFilePort, &last)) result->sampleJobs.push_back(last);
    result->hasSettings = StoredSettings(printer, &result->settings);

    SetEnvironmentVariableW(L"LARK_DIALOG_SCRIPT", nullptr);
    SetEnvironmentVariableW(L"LARK_DIALOG_LOG", nullptr);
    SetEnvironmentVariableW(L"LARK_DIALOG_PORT_FILE", nullptr);
    DeletePrinter(printer);
    ClosePrinter(printer);
    DeleteFileW(kDialogLog);
    DeleteFileW(kFilePort);
    DeletePort(kFilePort);
    RemoveDirectoryW(kJobsFolder);
    return ended;
}

}  // namespace conformance
