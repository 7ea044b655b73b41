// The settings road of the real larkui.dll under Wine: the direct forms and
// the prompt through Wine's own DocumentPropertiesW and compstui (which
// refuses the page), then the accepted road under a sheet host of this
// test's own on Wine's real window system, with a test double of
// MSHTML.DLL beside the program, the real closing thread pressing OK across
// threads, PrinterSettings in Wine's spooler and the sample page's bytes in
// a file port. Also AddPrinterW storing the driver's own default devmode.
#include "wine_harness.h"
// wine_harness.h (the platform) first.
#include <tlhelp32.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "driver_devmode.h"
#include "wine_check.h"

namespace {

using SheetsFn = LONG(WINAPI*)(PPROPSHEETUI_INFO, LPARAM);

const wchar_t kFilePrinter[] = L"Lark Photo File";
const wchar_t kFilePort[] = L"C:\\jobs\\sample.prn";
const wchar_t kDialogLog[] = L"C:\\jobs\\dialog.log";
constexpr UINT kSetActive = WM_APP + 1;
constexpr UINT_PTR kTimeout = 1;

SheetsFn g_sheets;

DOCUMENTPROPERTYHEADER Header(HANDLE printer, const wchar_t* name, PDEVMODEW out, DWORD cbOut,
                              DWORD mode) {
    DOCUMENTPROPERTYHEADER header = {};
    header.cbSize = sizeof header;
    header.hPrinter = printer;
    header.pszPrinterName = const_cast<LPWSTR>(name);
    header.pdmOut = out;
    header.cbOut = cbOut;
    header.fMode = mode;
    return header;
}

int ThreadCount() {
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snap == INVALID_HANDLE_VALUE) return -1;
    THREADENTRY32 t = {};
    t.dwSize = sizeof t;
    int n = 0;
    for (BOOL ok = Thread32First(snap, &t); ok; ok = Thread32Next(snap, &t)) {
        if (t.th32OwnerProcessID == GetCurrentProcessId()) ++n;
    }
    CloseHandle(snap);
    return n;
}

// The closing thread ends on its own; true when the count is back.
bool ThreadsBackTo(int count) {
    for (int i = 0; i < 300; ++i) {
        if (ThreadCount() <= count) return true;
        Sleep(10);
    }
    return false;
}

std::vector<BYTE> StoredDevmode(const wchar_t* printer) {
    HANDLE h = nullptr;
    std::vector<BYTE> devmode;
    if (!OpenPrinterW(const_cast<LPWSTR>(printer), &h, nullptr)) return devmode;
    DWORD needed = 0;
    GetPrinterW(h, 2, nullptr, 0, &needed);
    std::vector<BYTE> info(needed);
    if (needed > 0 && GetPrinterW(h, 2, info.data(), needed, &needed)) {
        auto* dm = reinterpret_cast<PRINTER_INFO_2W*>(info.data())->pDevMode;
        if (dm != nullptr) {
            auto* b = reinterpret_cast<const BYTE*>(dm);
            devmode.assign(b, b + dm->dmSize + dm->dmDriverExtra);
        }
    }
    ClosePrinter(h);
    return devmode;
}

void DirectForms(HANDLE printer) {
    LPWSTR name = const_cast<LPWSTR>(kLarkPrinter);
    CHECK_EQ(DocumentPropertiesW(nullptr, printer, name, nullptr, nullptr, 0), 2328L);
    std::vector<BYTE> out(4096, 0xAB);
    auto* dm = reinterpret_cast<PDEVMODEW>(out.data());
    std::memset(out.data(), 0, 2328);
    CHECK_EQ(DocumentPropertiesW(nullptr, printer, name, dm, nullptr, DM_OUT_BUFFER),
             static_cast<LONG>(IDOK));
    auto* d = reinterpret_cast<const DriverDevmode*>(out.data());
    CHECK_EQ(d->dm.dmSize, 220);
    CHECK_EQ(d->dm.dmDriverExtra, 2108);
    CHECK_EQ(d->priv.Signature2, PrivateSignature);
    CHECK_WSTREQ(d->priv.PrinterName, kLarkPrinter);
    CHECK_EQ(out[2328], 0xAB);

    std::vector<BYTE> app(out.begin(), out.begin() + 2328);
    auto* in = reinterpret_cast<PDEVMODEW>(app.data());
    in->dmFields = DM_PAPERSIZE | DM_ORIENTATION;
    in->dmPaperSize = 257;  // 5 x 7 in, paper code 1
    in->dmOrientation = DMORIENT_LANDSCAPE;
    std::memset(out.data(), 0, 2328);
    CHECK_EQ(DocumentPropertiesW(nullptr, printer, name, dm, in, DM_IN_BUFFER | DM_OUT_BUFFER),
             static_cast<LONG>(IDOK));
    CHECK_EQ(d->dm.dmPaperSize, 257);
    CHECK_EQ(d->dm.dmOrientation, DMORIENT_LANDSCAPE);
    CHECK_EQ(d->priv.PaperWidthMm, 177);  // landscape
    CHECK_EQ(d->priv.PaperLengthMm, 127);
    CHECK(std::wcsncmp(d->priv.Settings, L"1000=1;", 7) == 0);
    CHECK_EQ(out[2328], 0xAB);

    // Wine states the dmSize already in the buffer as its size: a buffer that holds the
    // driver's devmode from an earlier call is filled whole again.
    reinterpret_cast<DriverDevmode*>(out.data())->priv.Settings[0] = L'x';
    CHECK_EQ(DocumentPropertiesW(nullptr, printer, name, dm, nullptr, DM_OUT_BUFFER),
             static_cast<LONG>(IDOK));
    CHECK(std::wcsncmp(d->priv.Settings, L"1000=0;", 7) == 0);
    CHECK_EQ(out[2328], 0xAB);

    // A caller that states a 220-byte buffer gets the public part alone, self-consistent.
    std::fill(out.begin(), out.end(), 0xAB);
    DOCUMENTPROPERTYHEADER header = Header(printer, name, dm, 220, DM_OUT_BUFFER);
    CHECK_EQ(g_sheets(nullptr, reinterpret_cast<LPARAM>(&header)), 1L);
    CHECK_EQ(dm->dmSize, 220);
    CHECK_EQ(dm->dmDriverExtra, 0);
    CHECK_EQ(out[220], 0xAB);
}

struct Call {
    WORD reason;
    LONG answer;
    ULONG_PTR result;
};
std::vector<Call> g_calls;

LONG WINAPI RecordingSheets(PPROPSHEETUI_INFO info, LPARAM lParam) {
    LONG answer = g_sheets(info, lParam);
    if (info != nullptr) g_calls.push_back({info->Reason, answer, info->Result});
    return answer;
}

// Wine 8's compstui refuses the page the driver adds and goes on to
// DESTROY; the suspended closing thread must end without pressing.
void RefusedPrompt(HANDLE printer) {
    int threads = ThreadCount();
    std::vector<BYTE> out(2328, 0xAB);
    DOCUMENTPROPERTYHEADER header =
        Header(printer, kLarkPrinter, reinterpret_cast<PDEVMODEW>(out.data()), 0,
               DM_IN_PROMPT | DM_OUT_BUFFER);
    DWORD result = 12345;
    LONG r = CommonPropertySheetUIW(nullptr, RecordingSheets, reinterpret_cast<LPARAM>(&header),
                                    &result);
    CHECK_EQ(r, static_cast<LONG>(ERR_CPSUI_NO_PROPSHEETPAGE));
    // Wine asks PROPSHEETUI_REASON_BEFORE_INIT (5) first, which the driver
    // does not handle (-1).
    bool init = false;
    for (const Call& call : g_calls) {
        CHECK_NOTE("reason %u answered %ld, Result %llu", call.reason, call.answer,
                   static_cast<unsigned long long>(call.result));
        if (call.reason != PROPSHEETUI_REASON_INIT) continue;
        init = true;
        CHECK_EQ(call.answer, 1L);
        CHECK_EQ(call.result, 0u);
    }
    CHECK(init);
    if (CHECK(!g_calls.empty())) CHECK_EQ(g_calls.back().reason, PROPSHEETUI_REASON_DESTROY);
    CHECK(ThreadsBackTo(threads));
    CHECK_EQ(out[0], 0xAB);

    r = DocumentPropertiesW(nullptr, printer, const_cast<LPWSTR>(kLarkPrinter),
                            reinterpret_cast<PDEVMODEW>(out.data()), nullptr,
                            DM_IN_PROMPT | DM_OUT_BUFFER);
    CHECK_NOTE("DocumentPropertiesW with DM_IN_PROMPT answered %ld", r);
    CHECK(r != IDOK);
    CHECK(ThreadsBackTo(threads));
}

// The sheet host of this test: a frame with an OK button and the page as
// children, SETACTIVE from its message loop, APPLYNOW on OK.
struct Host {
    COMPROPSHEETUI* page = nullptr;
    HWND frame = nullptr;
    HWND pageWindow = nullptr;
    bool applied = false;
    LONG setActive = -1;
    LONG applyNow = -1;
} g_host;

LONG_PTR CALLBACK HostAdd(HANDLE, UINT function, LPARAM record, LPARAM result) {
    if (function != CPSFUNC_ADD_PCOMPROPSHEETUIW) return 0;
    g_host.page = reinterpret_cast<COMPROPSHEETUI*>(record);
    if (result != 0) *reinterpret_cast<LONG_PTR*>(result) = 1;
    return 1;
}

LONG PageCallback(WORD reason) {
    CPSUICBPARAM param = {};
    param.cbSize = sizeof param;
    param.Reason = reason;
    param.hDlg = g_host.pageWindow;
    param.pOptItem = g_host.page->pOptItem;
    param.cOptItem = g_host.page->cOptItem;
    param.pCurItem = g_host.page->pOptItem;
    param.UserData = g_host.page->UserData;
    return g_host.page->pfnCallBack(&param);
}

LRESULT CALLBACK FrameProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case kSetActive:
            g_host.setActive = PageCallback(CPSUICB_REASON_SETACTIVE);
            return 0;
        case WM_COMMAND:
            if (LOWORD(wParam) == IDOK && HIWORD(wParam) == BN_CLICKED) {
                g_host.applyNow = PageCallback(CPSUICB_REASON_APPLYNOW);
                g_host.applied = true;
                DestroyWindow(window);
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

void RunSheet(const wchar_t* title) {
    WNDCLASSW c = {};
    c.lpfnWndProc = FrameProc;
    c.hInstance = GetModuleHandleW(nullptr);
    c.lpszClassName = L"LarkTestSheet";
    RegisterClassW(&c);
    g_host.frame = CreateWindowExW(0, c.lpszClassName, title, WS_OVERLAPPEDWINDOW, 100, 100, 400,
                                   300, nullptr, nullptr, c.hInstance, nullptr);
    if (!CHECK(g_host.frame != nullptr)) return;
    HWND ok =
        CreateWindowExW(0, L"BUTTON", L"OK", WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON, 200, 240, 80,
                        24, g_host.frame, reinterpret_cast<HMENU>(IDOK), c.hInstance, nullptr);
    g_host.pageWindow =
        CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE, 0, 0, 400, 200, g_host.frame,
                        reinterpret_cast<HMENU>(100), c.hInstance, nullptr);
    CHECK(ok != nullptr && g_host.pageWindow != nullptr);
    ShowWindow(g_host.frame, SW_SHOWNORMAL);
    SetTimer(g_host.frame, kTimeout, 15000, nullptr);
    PostMessageW(g_host.frame, kSetActive, 0, 0);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

bool AddFilePort() {
    CreateDirectoryW(L"C:\\jobs", nullptr);
    DWORD status = 0;
    return XcvAddLocalPort(kFilePort, &status);
}

// AddPrinterW asks the driver for its devmode's size and then the devmode
// (DrvDocumentPropertySheets without a sheet) and stores it.
HANDLE AddFilePrinter() {
    HANDLE printer = AddLarkPrinter(kFilePrinter, kFilePort);
    if (!CHECK(printer != nullptr)) return nullptr;
    std::vector<BYTE> stored = StoredDevmode(kFilePrinter);
    if (stored.size() >= sizeof(DEVMODEW)) {
        auto* dm = reinterpret_cast<const DEVMODEW*>(stored.data());
        CHECK_NOTE("stored: '%ls' spec 0x%x driver 0x%x size %u extra %u", dm->dmDeviceName,
                   dm->dmSpecVersion, dm->dmDriverVersion, dm->dmSize, dm->dmDriverExtra);
    }
    if (CHECK_EQ(stored.size(), static_cast<size_t>(2328))) {
        auto* d = reinterpret_cast<const DriverDevmode*>(stored.data());
        CHECK_EQ(d->dm.dmDriverVersion, 0x4021);
        CHECK_EQ(d->priv.Signature2, PrivateSignature);
        CHECK_WSTREQ(d->priv.PrinterName, kFilePrinter);
        CHECK_WSTREQ(d->priv.Settings, L"1000=0;");
    }
    return printer;
}

std::string ReadFile(const wchar_t* path) {
    std::string bytes;
    FILE* f = _wfopen(path, L"rb");
    if (f == nullptr) return bytes;
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) bytes.append(buffer, n);
    std::fclose(f);
    return bytes;
}

std::wstring StoredSettings(HANDLE printer) {
    wchar_t value[600] = {};
    DWORD type = 0, needed = 0;
    if (GetPrinterDataW(printer, const_cast<LPWSTR>(L"PrinterSettings"), &type,
                        reinterpret_cast<LPBYTE>(value), sizeof value - 2,
                        &needed) != ERROR_SUCCESS) {
        return L"(none)";
    }
    CHECK_EQ(type, static_cast<DWORD>(REG_SZ));
    // Wine's registry hands a REG_SZ back with a terminator it added.
    CHECK(needed == 2 * std::wcslen(value) || needed == 2 * std::wcslen(value) + 2);
    return value;
}

void AcceptedRoad() {
    if (!CHECK(AddFilePort())) return;
    HANDLE printer = AddFilePrinter();
    if (printer == nullptr) return;
    DeleteFileW(kDialogLog);
    SetEnvironmentVariableW(L"LARK_DIALOG_LOG", kDialogLog);
    SetEnvironmentVariableW(L"LARK_DIALOG_SCRIPT", L"sample|answer:1000=1;9900=257;");
    int threads = ThreadCount();
    std::vector<BYTE> out(4096, 0xAB);
    DOCUMENTPROPERTYHEADER header =
        Header(printer, kFilePrinter, reinterpret_cast<PDEVMODEW>(out.data()), 2328,
               DM_IN_PROMPT | DM_OUT_BUFFER);
    PROPSHEETUI_INFO info = {};
    info.cbSize = sizeof info;
    info.Version = 0x100;
    info.pfnComPropSheet = HostAdd;
    info.lParamInit = reinterpret_cast<LPARAM>(&header);
    info.Reason = PROPSHEETUI_REASON_INIT;
    CHECK_EQ(g_sheets(&info, 0), 1L);
    CHECK_EQ(info.Result, 0u);
    if (!CHECK(g_host.page != nullptr && info.UserData != 0)) return;
    PROPSHEETUI_INFO_HEADER infoHeader = {};
    infoHeader.cbSize = sizeof infoHeader;
    info.Reason = PROPSHEETUI_REASON_GET_INFO_HEADER;
    CHECK_EQ(g_sheets(&info, reinterpret_cast<LPARAM>(&infoHeader)), 1L);
    RunSheet(infoHeader.pTitle != nullptr ? infoHeader.pTitle : L"");
    CHECK(g_host.applied);
    CHECK_EQ(g_host.setActive, static_cast<LONG>(CPSUICB_ACTION_NONE));
    CHECK_EQ(g_host.applyNow, static_cast<LONG>(CPSUICB_ACTION_ITEMS_APPLIED));
    info.Reason = PROPSHEETUI_REASON_SET_RESULT;
    CHECK_EQ(g_sheets(&info, 0), 1L);
    info.Reason = PROPSHEETUI_REASON_DESTROY;
    CHECK_EQ(g_sheets(&info, 0), 1L);
    CHECK(ThreadsBackTo(threads));

    auto* d = reinterpret_cast<const DriverDevmode*>(out.data());
    CHECK_EQ(d->dm.dmPaperSize, 257);
    CHECK_WSTREQ(d->priv.Settings, L"1000=1;9900=257;");
    CHECK_EQ(out[2328], 0xAB);
    CHECK(StoredSettings(printer) == L"1000=1;9900=257;");
    std::string log = ReadFile(kDialogLog);
    CHECK_NOTE("dialog log: %s", log.c_str());
    CHECK(log.find("settings.htm|1000=0;|help:off\n") != std::string::npos);
    CHECK(log.find("settings.htm|1000=0;|help:off\n", log.find('\n') + 1) != std::string::npos);
    CHECK(ReadFile(kFilePort) == "LARK-SAMPLE\r\n");
    DeletePrinter(printer);
    ClosePrinter(printer);
}

// A buffer that could not take a whole devmode is no answer: with the
// cbOut that Wine's DocumentPropertiesW states for an uninitialised buffer
// (its stale dmSize, here 150), SET_RESULT writes nothing and answers
// CPSUI_CANCEL, in Result and in the SETRESULT_INFO it passes on, with
// ERROR_INSUFFICIENT_BUFFER; a stated 220 bytes is the public part, OK.
void SetResultOverAStatedBuffer(HANDLE printer) {
    struct Row {
        const char* name;
        DWORD cbOut;
        ULONG_PTR result;
        DWORD error;
        size_t written;
    } rows[] = {
        {"stale dmSize 150 stated", 150, CPSUI_CANCEL, ERROR_INSUFFICIENT_BUFFER, 0},
        {"220 stated: the public part", 220, CPSUI_OK, 0xdeadbeef, 220},
    };
    for (const Row& row : rows) {
        CHECK_NOTE("row: %s", row.name);
        int threads = ThreadCount();
        std::vector<BYTE> out(4096, 0xAB);
        auto* stale = reinterpret_cast<PDEVMODEW>(out.data());
        stale->dmSize = static_cast<WORD>(row.cbOut);
        stale->dmDriverExtra = 0;
        const std::vector<BYTE> before = out;
        DOCUMENTPROPERTYHEADER header =
            Header(printer, kLarkPrinter, stale, row.cbOut, DM_IN_PROMPT | DM_OUT_BUFFER);
        PROPSHEETUI_INFO info = {};
        info.cbSize = sizeof info;
        info.Version = 0x100;
        info.pfnComPropSheet = HostAdd;
        info.lParamInit = reinterpret_cast<LPARAM>(&header);
        info.Reason = PROPSHEETUI_REASON_INIT;
        if (!CHECK_EQ(g_sheets(&info, 0), 1L)) continue;
        SETRESULT_INFO passed = {sizeof passed, 0, nullptr, CPSUI_OK};
        info.Reason = PROPSHEETUI_REASON_SET_RESULT;
        SetLastError(0xdeadbeef);
        CHECK_EQ(g_sheets(&info, reinterpret_cast<LPARAM>(&passed)), 1L);
        CHECK_EQ(GetLastError(), row.error);
        CHECK_EQ(info.Result, row.result);
        CHECK_EQ(static_cast<ULONG_PTR>(passed.Result), row.result);
        CHECK(std::equal(out.begin() + row.written, out.end(), before.begin() + row.written));
        info.Reason = PROPSHEETUI_REASON_DESTROY;
        CHECK_EQ(g_sheets(&info, 0), 1L);
        g_host.page = nullptr;
        CHECK(ThreadsBackTo(threads));
    }
}

}  // namespace

int main() {
    HMODULE ui = LoadLarkUi();
    g_sheets = LarkEntry<SheetsFn>(ui, "DrvDocumentPropertySheets");
    if (!CHECK(g_sheets != nullptr)) return WINE_CHECK_SUMMARY();
    HANDLE printer = nullptr;
    if (CHECK(OpenPrinterW(const_cast<LPWSTR>(kLarkPrinter), &printer, nullptr))) {
        DirectForms(printer);
        RefusedPrompt(printer);
        SetResultOverAStatedBuffer(printer);
        ClosePrinter(printer);
    }
    AcceptedRoad();
    FreeLibrary(ui);
    return WINE_CHECK_SUMMARY();
}
