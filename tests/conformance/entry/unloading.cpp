// The driver unloaded while its closing thread may still run: a host of
// this table's own loads a copy of the driver's module by LoadLibraryW and
// holds every reference but the thread's, plays the document sheet (INIT,
// the page's SETACTIVE with the settings dialog closed unanswered, the
// thread's press on an OK button of its own, DESTROY) and lets go of the
// module with the thread at each point it can be at: not yet started,
// waiting inside the driver for its press to be taken, and ended. The
// thread must end, nothing may fault, and the module must be gone after.
#include "conformance.h"
#include "module_copy.h"
#include "sheet_support.h"

namespace {

using conformance::SheetsFn;

const WCHAR kModuleName[] = TEXT("larkunload.dll");
const WCHAR kSheetClass[] = TEXT("LarkUnloadSheet");
constexpr DWORD kWaitMs = 10000;

enum class Point { BeforeItStarts, WhileItWorks, AfterItEnded };

struct Road {
    Point point = Point::BeforeItStarts;
    HMODULE module = nullptr;
    SheetsFn sheets = nullptr;
    PROPSHEETUI_INFO info = {};
    COMPROPSHEETUI* page = nullptr;
    HWND ok = nullptr;
    int presses = 0;  // the closing thread's, each sent from its thread
    bool destroyed = false;
    bool freed = false;  // the host's reference
};
Road* g_road;  // one road at a time, on this thread

LONG_PTR CALLBACK Add(HANDLE, UINT function, LPARAM record, LPARAM) {
    if (function != CPSFUNC_ADD_PCOMPROPSHEETUIW || g_road == nullptr) return 0;
    g_road->page = reinterpret_cast<COMPROPSHEETUI*>(record);
    return 1;
}

void Destroy(Road& road) {
    if (road.destroyed || road.page == nullptr) return;
    road.destroyed = true;
    road.info.Reason = PROPSHEETUI_REASON_DESTROY;
    road.sheets(&road.info, TRUE);
}

void Free(Road& road) {
    if (!road.freed && road.module != nullptr) road.freed = FreeLibrary(road.module) != 0;
}

// The press comes through the closing thread's SendMessageW: the thread
// waits inside the driver's code until this returns.
LRESULT CALLBACK SheetProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_LBUTTONDOWN && g_road != nullptr && window == g_road->ok) {
        ++g_road->presses;
        if (g_road->point == Point::WhileItWorks) {
            // The sheet closes and the host lets go of the driver mid-press.
            Destroy(*g_road);
            Free(*g_road);
        }
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

bool ModuleGone() { return GetModuleHandleW(kModuleName) == nullptr; }

void PlayRoad(conformance::Context& ctx, Point point, const std::basic_string<WCHAR>& path) {
    const long threads = conformance::ThreadCount();
    const long faulted = conformance::HeldCount("threads in unloaded modules");
    Road road;
    road.point = point;
    g_road = &road;
    road.module = LoadLibraryW(path.c_str());
    if (ROW_CHECK(road.module != nullptr)) {
        // Through void*: a module's export has no type of its own.
        road.sheets = reinterpret_cast<SheetsFn>(
            reinterpret_cast<void*>(GetProcAddress(road.module, "DrvDocumentPropertySheets")));
    }
    conformance::OpenedPrinter printer;
    std::basic_string<WCHAR> name = conformance::kPrinter;
    std::string out(4096, conformance::kFill);
    DOCUMENTPROPERTYHEADER header =
        conformance::Header(printer.handle, name.data(), reinterpret_cast<DEVMODEW*>(out.data()),
                            sizeof(DriverDevmode), DM_IN_PROMPT | DM_OUT_BUFFER);
    road.info.cbSize = sizeof road.info;
    road.info.Version = 0x100;
    road.info.Reason = PROPSHEETUI_REASON_INIT;
    road.info.pfnComPropSheet = Add;
    road.info.lParamInit = reinterpret_cast<LPARAM>(&header);
    HWND frame = nullptr;
    if (ROW_CHECK(road.sheets != nullptr) && ROW_EQ(road.sheets(&road.info, 0), 1) &&
        ROW_CHECK(road.page != nullptr)) {
        if (point == Point::BeforeItStarts) {
            // The thread is made and suspended: its own reference carries
            // the module, and the page's DESTROY releases it unstarted.
            Free(road);
            ROW_CHECK(GetModuleHandleW(kModuleName) == road.module);
            Destroy(road);
        } else {
            frame = CreateWindowExW(0, kSheetClass, TEXT("Lark unload sheet"), WS_OVERLAPPEDWINDOW,
                                    100, 100, 300, 200, nullptr, nullptr, nullptr, nullptr);
            road.ok = CreateWindowExW(0, kSheetClass, TEXT("OK"), WS_CHILD, 200, 150, 75, 23, frame,
                                      reinterpret_cast<HMENU>(static_cast<ULONG_PTR>(IDOK)),
                                      nullptr, nullptr);
            HWND pageWindow =
                CreateWindowExW(0, kSheetClass, TEXT(""), WS_CHILD, 0, 0, 300, 140, frame,
                                reinterpret_cast<HMENU>(0x3000), nullptr, nullptr);
            CPSUICBPARAM param = {};
            param.cbSize = sizeof param;
            param.Reason = CPSUICB_REASON_SETACTIVE;
            param.hDlg = pageWindow;
            param.pOptItem = road.page->pOptItem;
            param.cOptItem = road.page->cOptItem;
            param.UserData = road.page->UserData;
            if (ROW_CHECK(frame != nullptr && road.ok != nullptr && pageWindow != nullptr)) {
                ROW_EQ(road.page->pfnCallBack(&param), CPSUICB_ACTION_NONE);
                ROW_CHECK(conformance::PumpMessages(kWaitMs, [&] { return road.presses > 0; }));
            }
            if (point == Point::AfterItEnded) {
                Destroy(road);
                ROW_CHECK(conformance::PumpMessages(
                    kWaitMs, [&] { return conformance::ThreadCount() <= threads; }));
                ROW_CHECK(GetModuleHandleW(kModuleName) == road.module);  // the host's reference
                Free(road);
            }
        }
    }
    Destroy(road);
    Free(road);
    ROW_CHECK(road.freed);
    ROW_CHECK(conformance::PumpMessages(kWaitMs, ModuleGone));
    ROW_CHECK(
        conformance::PumpMessages(kWaitMs, [&] { return conformance::ThreadCount() <= threads; }));
    if (faulted >= 0) ROW_EQ(conformance::HeldCount("threads in unloaded modules"), faulted);
    if (frame != nullptr) DestroyWindow(frame);
    g_road = nullptr;
}

}  // namespace

CONFORMANCE_TABLE(DriverUnloading, "the driver unloaded with its closing thread") {
    const std::basic_string<WCHAR> path =
        conformance::CopyDriverModule("larkunload", "larkunload.dll");
    if (!ctx.Begin("a copy of the driver's module to load") || !ROW_CHECK(!path.empty())) return;
    WNDCLASSW c = {};
    c.lpfnWndProc = SheetProcedure;
    c.lpszClassName = kSheetClass;
    RegisterClassW(&c);  // a second run finds it registered
    const struct {
        const char* name;
        Point point;
    } kRows[] = {
        {"the host's last reference goes before the closing thread starts", Point::BeforeItStarts},
        {"the host's last reference goes while the closing thread presses OK", Point::WhileItWorks},
        {"the last reference goes after the closing thread has ended", Point::AfterItEnded},
    };
    for (const auto& row : kRows) {
        if (ctx.Begin(row.name)) PlayRoad(ctx, row.point, path);
    }
}
