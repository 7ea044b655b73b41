// The print-job road of the real larkui.dll under Wine's spooler: DrvConvertDevMode, the
// devmode of a device context built from the stored devmode and printer data values, the
// guard over application records in no-access pages, and STARTDOC starting the real
// larkmon.exe (which logs its early exit: no USB printer stands behind USB001).
#include <cstring>
#include <string>
#include <vector>

#include "driver_devmode.h"
#include "wine_check.h"
#include "wine_harness.h"

namespace {

using ConvertFn = BOOL(WINAPI*)(LPWSTR, PDEVMODEW, PDEVMODEW, PLONG, DWORD);
using EventFn = int(WINAPI*)(HANDLE, HDC, int, ULONG, PVOID, ULONG, PVOID);
using PrinterEventFn = BOOL(WINAPI*)(LPWSTR, INT, DWORD, LPARAM);

const wchar_t kLog[] = L"C:\\temp\\larkdeb\\larksm.txt";

std::vector<BYTE> DriverDefault(ConvertFn convert) {
    LONG count = 0;
    SetLastError(0xdeadbeef);
    CHECK(!convert(const_cast<LPWSTR>(kLarkPrinter), nullptr, nullptr, &count, CDM_DRIVER_DEFAULT));
    CHECK_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    CHECK_EQ(count, 2328L);
    std::vector<BYTE> bytes(2328);
    count = 2327;
    CHECK(!convert(const_cast<LPWSTR>(kLarkPrinter), nullptr,
                   reinterpret_cast<PDEVMODEW>(bytes.data()), &count, CDM_DRIVER_DEFAULT));
    CHECK_EQ(count, 2328L);
    CHECK(convert(const_cast<LPWSTR>(kLarkPrinter), nullptr,
                  reinterpret_cast<PDEVMODEW>(bytes.data()), &count, CDM_DRIVER_DEFAULT));
    auto* d = reinterpret_cast<const DriverDevmode*>(bytes.data());
    CHECK_EQ(d->dm.dmSpecVersion, 0x0401);
    CHECK_EQ(d->dm.dmDriverVersion, 0x4021);
    CHECK_EQ(d->dm.dmSize, 220);
    CHECK_EQ(d->dm.dmDriverExtra, 2108);
    CHECK_EQ(d->priv.Signature2, PrivateSignature);
    CHECK_WSTREQ(d->priv.PrinterName, kLarkPrinter);
    return bytes;
}

void CheckConvert351(ConvertFn convert, std::vector<BYTE>& source) {
    std::vector<BYTE> out(2296, 0xCC);
    LONG count = 2296;
    CHECK(convert(nullptr, reinterpret_cast<PDEVMODEW>(source.data()),
                  reinterpret_cast<PDEVMODEW>(out.data()), &count, CDM_CONVERT351));
    CHECK_EQ(count, 2296L);
    auto* dm = reinterpret_cast<const DEVMODEW*>(out.data());
    CHECK_EQ(dm->dmSize, 188);
    CHECK_EQ(dm->dmSpecVersion, 0x0320);
    CHECK(std::memcmp(out.data() + 188, &PrivateSignature, 4) == 0);
    SetLastError(0xdeadbeef);
    CHECK(!convert(nullptr, nullptr, reinterpret_cast<PDEVMODEW>(out.data()), &count, 3));
    CHECK_EQ(GetLastError(), 0xdeadbeefu);
}

// The driver's default as the printer's stored devmode, through the spooler.
void StoreDevmode(std::vector<BYTE>& devmode) {
    PRINTER_DEFAULTSW defaults = {nullptr, nullptr, PRINTER_ALL_ACCESS};
    HANDLE h = nullptr;
    if (!CHECK(OpenPrinterW(const_cast<LPWSTR>(kLarkPrinter), &h, &defaults))) return;
    DWORD needed = 0;
    GetPrinterW(h, 2, nullptr, 0, &needed);
    std::vector<BYTE> info(needed);
    if (CHECK(GetPrinterW(h, 2, info.data(), needed, &needed))) {
        auto* p2 = reinterpret_cast<PRINTER_INFO_2W*>(info.data());
        p2->pDevMode = reinterpret_cast<PDEVMODEW>(devmode.data());
        p2->pSecurityDescriptor = nullptr;
        CHECK(SetPrinterW(h, 2, info.data(), 0));
    }
    ClosePrinter(h);
}

void CheckDeviceContext(EventFn event, HANDLE printer, std::vector<BYTE> app) {
    auto* dm = reinterpret_cast<PDEVMODEW>(app.data());
    dm->dmFields = DM_PAPERSIZE | DM_ORIENTATION;
    dm->dmPaperSize = 257;  // 5 x 7 in, paper code 1
    dm->dmOrientation = DMORIENT_LANDSCAPE;
    DOCEVENT_CREATEDCPRE pre = {nullptr, const_cast<PWSTR>(kLarkPrinter), dm, FALSE};
    void* record = nullptr;
    CHECK_EQ(event(printer, nullptr, DOCUMENTEVENT_CREATEDCPRE, sizeof pre, &pre, sizeof record,
                   &record),
             DOCUMENTEVENT_SUCCESS);
    if (!CHECK(record != nullptr)) return;
    auto* r = static_cast<const DriverDevmode*>(record);
    CHECK_WSTREQ(r->priv.Settings, L"1000=1;");
    CHECK_EQ(r->priv.PaperWidthMm, 177);
    CHECK_EQ(r->priv.PaperLengthMm, 127);
    CHECK_EQ(r->priv.PageWidthDots, 2100u);
    CHECK_EQ(r->priv.PageLengthDots, 1500u);
    CHECK(GlobalHandle(record) != nullptr);
    CHECK_EQ(
        event(printer, nullptr, DOCUMENTEVENT_CREATEDCPOST, sizeof record, &record, 0, nullptr),
        DOCUMENTEVENT_SUCCESS);
}

// Application records in front of a no-access page: the event fails, hands out nothing.
void CheckGuard(EventFn event, HANDLE printer, const std::vector<BYTE>& own) {
    SYSTEM_INFO si;
    GetSystemInfo(&si);
    auto* pages = static_cast<BYTE*>(
        VirtualAlloc(nullptr, 2 * si.dwPageSize, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    if (!CHECK(pages != nullptr)) return;
    DWORD old = 0;
    CHECK(VirtualProtect(pages + si.dwPageSize, si.dwPageSize, PAGE_NOACCESS, &old));
    BYTE* forbidden = pages + si.dwPageSize;
    // The driver's own record, cut off by the page after its first 1000 bytes.
    std::memcpy(forbidden - 1000, own.data(), 1000);
    struct Row {
        const char* name;
        void* devmode;
    } rows[] = {{"devmode in a no-access page", forbidden},
                {"private part running into a no-access page", forbidden - 1000}};
    for (const Row& row : rows) {
        CHECK_NOTE("guard: %s", row.name);
        DOCEVENT_CREATEDCPRE pre = {nullptr, nullptr, static_cast<PDEVMODEW>(row.devmode), FALSE};
        void* record = reinterpret_cast<void*>(1);
        CHECK_EQ(event(printer, nullptr, DOCUMENTEVENT_CREATEDCPRE, sizeof pre, &pre, sizeof record,
                       &record),
                 DOCUMENTEVENT_FAILURE);
        CHECK(record == nullptr);
    }
    VirtualFree(pages, 0, MEM_RELEASE);
}

std::string ReadLog() {
    std::string text;
    HANDLE f = CreateFileW(kLog, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE) return text;
    char buffer[4096];
    DWORD read = 0;
    while (ReadFile(f, buffer, sizeof buffer, &read, nullptr) && read > 0)
        text.append(buffer, read);
    CloseHandle(f);
    return text;
}

// Waits until the log has grown past start and holds the text; false after the timeout.
bool LogShows(size_t start, const char* text, int ms) {
    for (int waited = 0; waited <= ms; waited += 100) {
        std::string log = ReadLog();
        if (log.size() > start && log.find(text, start) != std::string::npos) return true;
        Sleep(100);
    }
    return false;
}

void CheckMonitorLaunch(EventFn event, HANDLE printer) {
    CreateDirectoryW(L"C:\\temp", nullptr);
    CreateDirectoryW(L"C:\\temp\\larkdeb", nullptr);
    // While a window with the status title exists, STARTDOC starts nothing.
    WNDCLASSW wc = {};
    wc.lpfnWndProc = DefWindowProcW;
    wc.lpszClassName = L"LarkTestStatus";
    RegisterClassW(&wc);
    std::wstring title = std::wstring(kLarkPrinter) + L" - Status";
    HWND window = CreateWindowExW(0, wc.lpszClassName, title.c_str(), 0, 0, 0, 0, 0, nullptr,
                                  nullptr, nullptr, nullptr);
    CHECK(window != nullptr);
    size_t start = ReadLog().size();
    CHECK_EQ(event(printer, nullptr, DOCUMENTEVENT_STARTDOC, 0, nullptr, 0, nullptr),
             DOCUMENTEVENT_SUCCESS);
    CHECK(!LogShows(start, "PrinterStatus: Entering", 2000));
    DestroyWindow(window);
    // Without it, the real larkmon.exe starts and ends early on a port with no device.
    start = ReadLog().size();
    CHECK_EQ(event(printer, nullptr, DOCUMENTEVENT_STARTDOC, 0, nullptr, 0, nullptr),
             DOCUMENTEVENT_SUCCESS);
    CHECK(LogShows(start, "PrinterStatus: Entering", 15000));
    CHECK(LogShows(start, "Unable to open USB port", 15000));
    CHECK_NOTE("monitor log:\n%s", ReadLog().substr(start).c_str());
}

}  // namespace

int main() {
    HMODULE ui = LoadLarkUi(kLarkPrinter);
    if (!CHECK(ui != nullptr)) return WINE_CHECK_SUMMARY();
    auto convert = LarkEntry<ConvertFn>(ui, "DrvConvertDevMode");
    auto event = LarkEntry<EventFn>(ui, "DrvDocumentEvent");
    auto initialize = LarkEntry<PrinterEventFn>(ui, "DrvPrinterEvent");
    if (!CHECK(convert != nullptr && event != nullptr && initialize != nullptr)) {
        return WINE_CHECK_SUMMARY();
    }
    // The printer data values (Resolution, StatusMonitor) as the installation writes them.
    CHECK(initialize(const_cast<LPWSTR>(kLarkPrinter), PRINTER_EVENT_INITIALIZE, 0, 0));
    std::vector<BYTE> own = DriverDefault(convert);
    CheckConvert351(convert, own);
    StoreDevmode(own);
    HANDLE printer = nullptr;
    if (CHECK(OpenPrinterW(const_cast<LPWSTR>(kLarkPrinter), &printer, nullptr))) {
        CheckDeviceContext(event, printer, own);
        CheckGuard(event, printer, own);
        CheckMonitorLaunch(event, printer);
        ClosePrinter(printer);
    }
    FreeLibrary(ui);
    return WINE_CHECK_SUMMARY();
}
