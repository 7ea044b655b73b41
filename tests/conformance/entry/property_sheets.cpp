// The property-sheet entry points under a host of this table's own that
// takes (or refuses) the page with the add call a sheet passes in
// PROPSHEETUI_INFO: the reasons of both entry points, SET_RESULT under the
// output-buffer rule, the hidden page's records and title, a refused page
// leaving nothing, and two sheets initialised at once on two threads.
#include <cstdio>
#include <cstring>
#include <string>

#include "conformance.h"
#include "sheet_support.h"

namespace {

using conformance::kSentinel;

// What the add call saw: the function, whether it was given a result to
// write, and the page's title (read while the page is offered).
struct Added {
    UINT function = 0;
    bool resultGiven = false;
    COMPROPSHEETUI* record = nullptr;
    std::basic_string<WCHAR> title;
    int calls = 0;
    HWND decoy = nullptr;
};
thread_local Added t_added;
thread_local bool t_accept = true;

LRESULT CALLBACK DecoyProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcW(window, message, wParam, lParam);
}

// A sheet of a refused page's title with an OK button, as if the sheet had
// taken it: a closing thread that went on looking would find it, and its
// press (SendMessageW to this thread, which takes no messages) would never
// return.
HWND MakeDecoy(const WCHAR* title) {
    static const WCHAR kClass[] = TEXT("LarkConformanceDecoy");
    WNDCLASSW c = {};
    c.lpfnWndProc = DecoyProcedure;
    c.lpszClassName = kClass;
    RegisterClassW(&c);  // a second row finds it registered
    HWND frame = CreateWindowExW(0, kClass, title, WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr,
                                 nullptr, nullptr, nullptr);
    if (frame != nullptr) {
        CreateWindowExW(0, kClass, TEXT("OK"), WS_CHILD, 0, 0, 75, 23, frame,
                        reinterpret_cast<HMENU>(static_cast<ULONG_PTR>(IDOK)), nullptr, nullptr);
    }
    return frame;
}

LONG_PTR CALLBACK HostAdd(HANDLE, UINT function, LPARAM record, LPARAM result) {
    ++t_added.calls;
    t_added.function = function;
    t_added.resultGiven = result != 0;
    t_added.record = reinterpret_cast<COMPROPSHEETUI*>(record);
    if (t_added.record != nullptr && t_added.record->pOptItem != nullptr &&
        t_added.record->pOptItem[1].UserData != 0) {
        t_added.title = reinterpret_cast<const WCHAR*>(t_added.record->pOptItem[1].UserData);
        if (!t_accept) t_added.decoy = MakeDecoy(t_added.title.c_str());
    }
    return t_accept ? 1 : 0;
}

PROPSHEETUI_INFO Info(WORD reason, void* header) {
    PROPSHEETUI_INFO info = {};
    info.cbSize = sizeof info;
    info.Version = 0x100;
    info.Reason = reason;
    info.pfnComPropSheet = HostAdd;
    info.lParamInit = reinterpret_cast<LPARAM>(header);
    return info;
}

void Reset() {
    t_added = Added{};
    t_accept = true;
}

// The titles "%s %d%d%d%d" makes of the UTC times from..to, a millisecond apart.
bool TitleOfATimeBetween(const std::basic_string<WCHAR>& title, const WCHAR* printer,
                         const SYSTEMTIME& from, const SYSTEMTIME& to) {
    auto ms = [](const SYSTEMTIME& t) {
        return ((t.wHour * 60L + t.wMinute) * 60 + t.wSecond) * 1000 + t.wMilliseconds;
    };
    long last = ms(to) < ms(from) ? ms(to) + 86400000L : ms(to);  // past midnight
    for (long t = ms(from); t <= last; ++t) {
        long at = t % 86400000L;
        char digits[32];
        std::snprintf(digits, sizeof digits, " %ld%ld%ld%ld", at / 3600000, at / 60000 % 60,
                      at / 1000 % 60, at % 1000);
        if (title == printer + conformance::Wide(digits)) return true;
    }
    return false;
}

}  // namespace

// One document sheet's life, row after row in this order: INIT, the info
// header, SET_RESULT without and with DM_OUT_BUFFER, an unknown reason,
// DESTROY twice. Then INIT's refusals and the printer sheet's reasons.
CONFORMANCE_TABLE(SheetReasons, "DrvDocumentPropertySheets and DrvDevicePropertySheets reasons") {
    auto sheets = conformance::Entry<conformance::SheetsFn>("DrvDocumentPropertySheets");
    auto device = conformance::Entry<conformance::SheetsFn>("DrvDevicePropertySheets");
    if (!ctx.Begin("the entry points are exported")) return;
    if (!ROW_CHECK(sheets != nullptr && device != nullptr)) return;
    Reset();
    std::basic_string<WCHAR> name = conformance::kPrinter;
    std::string out(4096, conformance::kFill);
    DOCUMENTPROPERTYHEADER header = conformance::Header(
        nullptr, name.data(), reinterpret_cast<DEVMODEW*>(out.data()), 0, DM_IN_BUFFER);
    PROPSHEETUI_INFO info = Info(PROPSHEETUI_REASON_INIT, &header);
    const long threads = conformance::ThreadCount();
    if (ctx.Begin("INIT: the page added, Result 0, the closing thread made suspended")) {
        info.Result = 99;
        ROW_EQ(sheets(&info, 0), 1);
        ROW_EQ(info.Result, 0u);
        ROW_EQ(t_added.calls, 1);
        ROW_EQ(t_added.function, static_cast<UINT>(CPSFUNC_ADD_PCOMPROPSHEETUIW));
        ROW_CHECK(t_added.resultGiven);
        if (ROW_CHECK(info.UserData != 0)) {
            ROW_EQ(info.UserData, reinterpret_cast<ULONG_PTR>(t_added.record));
        }
        ROW_EQ(conformance::ThreadCount(), threads + 1);
        // The thread runs only once resumed: its suspend count was 1. It
        // then looks for a sheet of its title, finds none and ends.
        if (t_added.record != nullptr) {
            auto thread = reinterpret_cast<HANDLE>(t_added.record->pOptItem[0].UserData);
            if (ROW_CHECK(thread != nullptr)) ROW_EQ(ResumeThread(thread), 1u);
        }
    }
    if (ctx.Begin("GET_INFO_HEADER: flags, title, module, icon; the rest left")) {
        PROPSHEETUI_INFO_HEADER infoHeader = {};
        infoHeader.cbSize = sizeof infoHeader;
        auto* owner = reinterpret_cast<HWND>(0x1234);
        infoHeader.hWndParent = owner;
        info.Reason = PROPSHEETUI_REASON_GET_INFO_HEADER;
        ROW_EQ(sheets(&info, reinterpret_cast<LPARAM>(&infoHeader)), 1);
        ROW_EQ(infoHeader.Flags, static_cast<WORD>(PSUIHDRF_NOAPPLYNOW | PSUIHDRF_PROPTITLE));
        ROW_EQ(infoHeader.pTitle, name.data());
        ROW_EQ(infoHeader.IconID, 64082u);
        ROW_CHECK(infoHeader.hInst != nullptr);
        if (t_added.record != nullptr) ROW_EQ(infoHeader.hInst, t_added.record->hInstCaller);
        ROW_EQ(infoHeader.cbSize, static_cast<WORD>(sizeof infoHeader));
        ROW_EQ(infoHeader.hWndParent, owner);
    }
    if (ctx.Begin("SET_RESULT with DM_IN_BUFFER alone copies nothing")) {
        info.Reason = PROPSHEETUI_REASON_SET_RESULT;
        ROW_EQ(sheets(&info, 0), 1);
        ROW_EQ(info.Result, static_cast<ULONG_PTR>(CPSUI_OK));
        ROW_EQ(out[0], conformance::kFill);
    }
    if (ctx.Begin("SET_RESULT with DM_OUT_BUFFER copies the page's devmode")) {
        header.fMode = DM_IN_BUFFER | DM_OUT_BUFFER;
        info.Reason = PROPSHEETUI_REASON_SET_RESULT;
        ROW_EQ(sheets(&info, 0), 1);
        ROW_EQ(info.Result, static_cast<ULONG_PTR>(CPSUI_OK));
        ROW_BYTES(out.substr(0, 2328), conformance::StoredDevmode());
        ROW_EQ(out[2328], conformance::kFill);
    }
    if (ctx.Begin("an unknown reason: -1")) {
        info.Reason = 77;
        ROW_EQ(sheets(&info, 0), -1);
    }
    if (ctx.Begin("DESTROY releases the page and its thread; a second finds none")) {
        info.Reason = PROPSHEETUI_REASON_DESTROY;
        ROW_EQ(sheets(&info, 0), 1);
        ROW_EQ(info.UserData, 0u);
        ROW_EQ(sheets(&info, 0), 1);
        ROW_CHECK(conformance::ThreadsBackTo(threads));
    }
    struct Refusal {
        const char* name;
        const WCHAR* printer;
        bool header;
    } refusals[] = {
        {"INIT without a header: -1", nullptr, false},
        {"INIT with no name and no handle: -1", nullptr, true},
        {"INIT with an empty name: -1", TEXT(""), true},
        {"INIT for an unknown printer: -1", TEXT("Nobody"), true},
    };
    for (const Refusal& row : refusals) {
        if (!ctx.Begin(row.name)) continue;
        Reset();
        std::basic_string<WCHAR> printer = row.printer != nullptr ? row.printer : TEXT("");
        DOCUMENTPROPERTYHEADER refused = conformance::Header(
            nullptr, row.printer != nullptr ? printer.data() : nullptr, nullptr, 0, DM_IN_BUFFER);
        PROPSHEETUI_INFO init = Info(PROPSHEETUI_REASON_INIT, row.header ? &refused : nullptr);
        ROW_EQ(sheets(&init, 0), -1);
        ROW_EQ(t_added.calls, 0);
        ROW_EQ(init.UserData, 0u);
        ROW_EQ(conformance::ThreadCount(), threads);
    }

    DEVICEPROPERTYHEADER deviceHeader = {};
    deviceHeader.cbSize = sizeof deviceHeader;
    deviceHeader.pszPrinterName = name.data();
    if (ctx.Begin("printer sheet without PROPSHEETUI_INFO: -1")) {
        ROW_EQ(device(nullptr, reinterpret_cast<LPARAM>(&deviceHeader)), -1);
    }
    if (ctx.Begin("printer sheet without a header: -1")) {
        PROPSHEETUI_INFO none = Info(PROPSHEETUI_REASON_INIT, nullptr);
        ROW_EQ(device(&none, 0), -1);
    }
    PROPSHEETUI_INFO deviceInfo = Info(PROPSHEETUI_REASON_GET_INFO_HEADER, &deviceHeader);
    if (ctx.Begin("printer sheet GET_INFO_HEADER as the document's")) {
        PROPSHEETUI_INFO_HEADER infoHeader = {};
        infoHeader.cbSize = sizeof infoHeader;
        ROW_EQ(device(&deviceInfo, reinterpret_cast<LPARAM>(&infoHeader)), 1);
        ROW_EQ(infoHeader.Flags, static_cast<WORD>(PSUIHDRF_NOAPPLYNOW | PSUIHDRF_PROPTITLE));
        ROW_EQ(infoHeader.pTitle, name.data());
        ROW_EQ(infoHeader.IconID, 64082u);
        ROW_CHECK(infoHeader.hInst != nullptr);
    }
    if (ctx.Begin("printer sheet SET_RESULT: 1, Result untouched")) {
        deviceInfo.Reason = PROPSHEETUI_REASON_SET_RESULT;
        deviceInfo.Result = 77;
        ROW_EQ(device(&deviceInfo, 0), 1);
        ROW_EQ(deviceInfo.Result, 77u);
    }
    if (ctx.Begin("printer sheet, an unknown reason: -1")) {
        deviceInfo.Reason = 77;
        ROW_EQ(device(&deviceInfo, 0), -1);
    }
}

// SET_RESULT copies out under the output-buffer rule: only a whole devmode
// written is an answer. A stated buffer that cannot take even the public
// part gets nothing, and the result turns into CPSUI_CANCEL, in Result and
// in the SETRESULT_INFO passed on to the sheet's caller, with
// ERROR_INSUFFICIENT_BUFFER; the public part alone is still an answer.
CONFORMANCE_TABLE(SetResultOutputBuffer, "SET_RESULT and the output-buffer rule") {
    auto sheets = conformance::Entry<conformance::SheetsFn>("DrvDocumentPropertySheets");
    if (!ctx.Begin("the entry point is exported")) return;
    if (!ROW_CHECK(sheets != nullptr)) return;
    struct Row {
        const char* name;
        DWORD cbOut;
        WORD staleDmSize;  // dmSize of whatever the buffer held, no extra (0: the fill)
        ULONG_PTR result;
        size_t written;
        DWORD error;
    } rows[] = {
        {"told the size: whole", 0, 0, CPSUI_OK, 2328, kSentinel},
        {"stated 2328: whole", 2328, 0, CPSUI_OK, 2328, kSentinel},
        {"stated 4656: whole", 4656, 0, CPSUI_OK, 2328, kSentinel},
        {"stated 2327: public part", 2327, 0, CPSUI_OK, 220, kSentinel},
        {"stated 220: public part", 220, 0, CPSUI_OK, 220, kSentinel},
        {"stated 220 with a stale dmSize 220: public part", 220, 220, CPSUI_OK, 220, kSentinel},
        {"stated 219: nothing", 219, 0, CPSUI_CANCEL, 0, ERROR_INSUFFICIENT_BUFFER},
        {"stated 150 with a stale dmSize 150", 150, 150, CPSUI_CANCEL, 0,
         ERROR_INSUFFICIENT_BUFFER},
    };
    std::basic_string<WCHAR> name = conformance::kPrinter;
    const long threads = conformance::ThreadCount();
    for (const Row& row : rows) {
        if (!ctx.Begin(row.name)) continue;
        Reset();
        std::string out(4096, conformance::kFill);
        auto* stale = reinterpret_cast<DEVMODEW*>(out.data());
        if (row.staleDmSize != 0) {
            stale->dmSize = row.staleDmSize;
            stale->dmDriverExtra = 0;
        }
        const std::string before = out;
        DOCUMENTPROPERTYHEADER header = conformance::Header(nullptr, name.data(), stale, row.cbOut,
                                                            DM_IN_PROMPT | DM_OUT_BUFFER);
        PROPSHEETUI_INFO info = Info(PROPSHEETUI_REASON_INIT, &header);
        if (!ROW_EQ(sheets(&info, 0), 1)) continue;
        SETRESULT_INFO passed = {};
        passed.cbSize = sizeof passed;
        passed.Result = CPSUI_OK;
        info.Reason = PROPSHEETUI_REASON_SET_RESULT;
        SetLastError(kSentinel);
        ROW_EQ(sheets(&info, reinterpret_cast<LPARAM>(&passed)), 1);
        ROW_EQ(GetLastError(), row.error);
        ROW_EQ(info.Result, row.result);
        ROW_EQ(static_cast<ULONG_PTR>(passed.Result), row.result);
        ROW_BYTES(out.substr(row.written), before.substr(row.written));
        if (row.written != 0) {
            ROW_EQ(static_cast<size_t>(stale->dmSize + stale->dmDriverExtra), row.written);
            ROW_BYTES(out.substr(0, 68), conformance::StoredDevmode().substr(0, 68));
        }
        info.Reason = PROPSHEETUI_REASON_DESTROY;
        ROW_EQ(sheets(&info, 0), 1);
        ROW_CHECK(conformance::ThreadsBackTo(threads));
    }
}

// The page both entry points add: its COMPROPSHEETUI, the two items, the
// option type and its parameters, and what each variant keeps in them.
CONFORMANCE_TABLE(HiddenPageRecords, "the hidden page's records and title") {
    auto document = conformance::Entry<conformance::SheetsFn>("DrvDocumentPropertySheets");
    auto device = conformance::Entry<conformance::SheetsFn>("DrvDevicePropertySheets");
    if (!ctx.Begin("the entry points are exported")) return;
    if (!ROW_CHECK(document != nullptr && device != nullptr)) return;
    std::basic_string<WCHAR> name = conformance::kPrinter;
    const std::basic_string<WCHAR> helpFile = conformance::DriverFolder() + TEXT("lark.hlp");
    const long threads = conformance::ThreadCount();
    enum Variant { DocumentPage, DevicePage };
    for (Variant variant : {DocumentPage, DevicePage}) {
        if (!ctx.Begin(variant == DocumentPage ? "document page" : "printer page")) continue;
        Reset();
        conformance::OpenedPrinter printer;
        DOCUMENTPROPERTYHEADER header =
            conformance::Header(printer.handle, name.data(), nullptr, 0, 0);
        DEVICEPROPERTYHEADER deviceHeader = {};
        deviceHeader.cbSize = sizeof deviceHeader;
        deviceHeader.hPrinter = printer.handle;
        deviceHeader.pszPrinterName = name.data();
        PROPSHEETUI_INFO info =
            Info(PROPSHEETUI_REASON_INIT,
                 variant == DocumentPage ? static_cast<void*>(&header) : &deviceHeader);
        auto entry = variant == DocumentPage ? document : device;
        SYSTEMTIME from = {}, to = {};
        GetSystemTime(&from);
        if (!ROW_EQ(entry(&info, 0), 1)) continue;
        GetSystemTime(&to);
        if (!ROW_CHECK(t_added.record != nullptr)) continue;
        const COMPROPSHEETUI& ui = *t_added.record;
        ROW_EQ(ui.cbSize, 128);
        ROW_EQ(ui.Flags, static_cast<WORD>(CPSUIF_UPDATE_PERMISSION));
        ROW_CHECK(ui.hInstCaller != nullptr);
        ROW_EQ(ui.pCallerName, name.data());
        ROW_EQ(ui.pOptItemName, name.data());
        ROW_TEXT(ui.pHelpFile, helpFile.c_str());
        ROW_EQ(ui.pDlgPage, CPSUI_PDLGPAGE_TREEVIEWONLY);
        ROW_EQ(ui.cOptItem, 1);
        ROW_EQ(ui.cDlgPage, 0);
        ROW_EQ(ui.IconID, 0u);
        ROW_EQ(ui.CallerVersion, 0x100);
        ROW_EQ(ui.OptItemVersion, 0x100);
        ROW_CHECK(ui.pfnCallBack != nullptr);
        const OPTITEM* items = ui.pOptItem;
        if (!ROW_CHECK(items != nullptr)) continue;
        for (int i = 0; i < 2; ++i) {
            ROW_EQ(items[i].cbSize, 88);
            ROW_EQ(items[i].Level, i);
            ROW_EQ(items[i].DlgPageIdx, 0);
            ROW_EQ(items[i].Flags, static_cast<DWORD>(OPTIF_DISABLED));
            ROW_EQ(items[i].UserItemID, 42);
            ROW_EQ(items[i].HelpIndex, 0u);
            ROW_EQ(items[i].DMPubID, 0);
            ROW_CHECK(items[i].pExtChkBox == nullptr);
        }
        ROW_EQ(reinterpret_cast<ULONG_PTR>(items[0].pName), 64852u);
        ROW_EQ(reinterpret_cast<ULONG_PTR>(items[1].pName), 64798u);
        ROW_EQ(items[0].Sel, 64076);
        ROW_EQ(items[1].Sel, 64079);
        ROW_CHECK(items[0].pOptType == nullptr);
        const OPTTYPE* type = items[1].pOptType;
        if (!ROW_CHECK(type != nullptr)) continue;
        ROW_EQ(type->cbSize, 48);
        ROW_EQ(type->Type, TVOT_COMBOBOX);
        ROW_EQ(type->Flags, 0);
        ROW_EQ(type->Count, 1);
        ROW_EQ(type->Style, 0);
        for (int i = 0; i < 2; ++i) {
            ROW_EQ(type->pOptParam[i].cbSize, 48);
            ROW_EQ(type->pOptParam[i].Flags, OPTPF_DISABLED);
        }
        ROW_TEXT(type->pOptParam[0].pData, "Yes");
        ROW_TEXT(type->pOptParam[1].pData, "No");
        // The callback acknowledges applying and nothing else it is not asked.
        CPSUICBPARAM param = {};
        param.cbSize = sizeof param;
        param.Reason = CPSUICB_REASON_APPLYNOW;
        param.pOptItem = ui.pOptItem;
        param.UserData = ui.UserData;
        ROW_EQ(ui.pfnCallBack(&param), CPSUICB_ACTION_ITEMS_APPLIED);
        param.Reason = CPSUICB_REASON_KILLACTIVE;
        ROW_EQ(ui.pfnCallBack(&param), CPSUICB_ACTION_NONE);
        if (variant == DocumentPage) {
            ROW_CHECK(items[0].UserData != 0);  // the closing thread
            ROW_TEXT(reinterpret_cast<const WCHAR*>(items[1].UserData), t_added.title.c_str());
            ROW_CHECK(TitleOfATimeBetween(t_added.title, name.c_str(), from, to));
            ROW_NOTE("title \"%s\"", conformance::Narrow(t_added.title.c_str()).c_str());
            const auto* devmode = reinterpret_cast<const DriverDevmode*>(ui.UserData);
            ROW_EQ(devmode->dm.dmSize, 220);
            ROW_TEXT(devmode->priv.PrinterName, conformance::kPrinter);
        } else {
            ROW_EQ(items[0].UserData, 0u);
            ROW_EQ(items[1].UserData, 0u);
            const auto* copy = reinterpret_cast<const WCHAR*>(ui.UserData);
            ROW_TEXT(copy, conformance::kPrinter);
            ROW_CHECK(copy != name.data());
            param.Reason = CPSUICB_REASON_SETACTIVE;  // no dialog on the printer's page
            ROW_EQ(ui.pfnCallBack(&param), CPSUICB_ACTION_NONE);
        }
        info.Reason = PROPSHEETUI_REASON_DESTROY;
        ROW_EQ(entry(&info, 0), 1);
        ROW_EQ(info.UserData, 0u);
    }
    if (ctx.Begin("the pages' threads end with their pages")) {
        ROW_CHECK(conformance::ThreadsBackTo(threads));
    }
    for (Variant variant : {DocumentPage, DevicePage}) {
        if (!ctx.Begin(variant == DocumentPage ? "a refused document page leaves nothing"
                                               : "a refused printer page leaves nothing")) {
            continue;
        }
        Reset();
        t_accept = false;
        DOCUMENTPROPERTYHEADER header = conformance::Header(nullptr, name.data(), nullptr, 0, 0);
        DEVICEPROPERTYHEADER deviceHeader = {};
        deviceHeader.cbSize = sizeof deviceHeader;
        deviceHeader.pszPrinterName = name.data();
        PROPSHEETUI_INFO info =
            Info(PROPSHEETUI_REASON_INIT,
                 variant == DocumentPage ? static_cast<void*>(&header) : &deviceHeader);
        auto entry = variant == DocumentPage ? document : device;
        ROW_EQ(entry(&info, 0), 1);
        ROW_EQ(info.Result, 0u);
        ROW_EQ(info.UserData, 0u);
        ROW_EQ(t_added.calls, 1);
        // The suspended thread is released and ends without looking for its
        // sheet, though a window of its title is there.
        if (variant == DocumentPage && ROW_CHECK(t_added.decoy != nullptr)) {
            ROW_EQ(FindWindowW(nullptr, t_added.title.c_str()), t_added.decoy);
        }
        ROW_CHECK(conformance::ThreadsBackTo(threads));
        if (t_added.decoy != nullptr) DestroyWindow(t_added.decoy);
        info.Reason = PROPSHEETUI_REASON_DESTROY;
        ROW_EQ(entry(&info, 0), 1);
    }
}

// Two sheets of one printer initialised at once on two threads: each page
// gets the closing thread and the title its own INIT made.
CONFORMANCE_TABLE(TwoSheetsAtOnce, "two document sheets initialised at once") {
    auto sheets = conformance::Entry<conformance::SheetsFn>("DrvDocumentPropertySheets");
    if (!ctx.Begin("two INITs on two threads") || !ROW_CHECK(sheets != nullptr)) return;
    static conformance::SheetsFn s_sheets;
    s_sheets = sheets;
    std::basic_string<WCHAR> name = conformance::kPrinter;
    struct Sheet {
        DOCUMENTPROPERTYHEADER header = {};
        PROPSHEETUI_INFO info = {};
        LONG answer = 0;
        COMPROPSHEETUI* added = nullptr;
    } sheet[2];
    for (Sheet& s : sheet) {
        s.header = conformance::Header(nullptr, name.data(), nullptr, 0, 0);
        s.info = Info(PROPSHEETUI_REASON_INIT, &s.header);
    }
    auto init = [](LPVOID p) -> DWORD {
        auto* s = static_cast<Sheet*>(p);
        Reset();
        s->answer = s_sheets(&s->info, 0);
        s->added = t_added.record;
        return 0;
    };
    const long threads = conformance::ThreadCount();
    HANDLE started[2] = {};
    for (int i = 0; i < 2; ++i) {
        started[i] = CreateThread(nullptr, 0, init, &sheet[i], 0, nullptr);
        ROW_CHECK(started[i] != nullptr);
    }
    for (HANDLE t : started) {
        if (t == nullptr) continue;
        ROW_EQ(WaitForSingleObject(t, 5000), static_cast<DWORD>(WAIT_OBJECT_0));
        CloseHandle(t);
    }
    const OPTITEM* items[2] = {};
    for (int i = 0; i < 2; ++i) {
        ROW_EQ(sheet[i].answer, 1);
        if (!ROW_CHECK(sheet[i].info.UserData != 0)) return;
        ROW_EQ(sheet[i].info.UserData, reinterpret_cast<ULONG_PTR>(sheet[i].added));
        items[i] = sheet[i].added->pOptItem;
        ROW_CHECK(items[i][0].UserData != 0);
    }
    ROW_CHECK(items[0][0].UserData != items[1][0].UserData);  // a thread each
    ROW_CHECK(items[0][1].UserData != items[1][1].UserData);  // a title each
    ROW_EQ(conformance::ThreadCount(), threads + 2);
    for (Sheet& s : sheet) {
        s.info.Reason = PROPSHEETUI_REASON_DESTROY;
        ROW_EQ(sheets(&s.info, 0), 1);
    }
    ROW_CHECK(conformance::ThreadsBackTo(threads));
}
