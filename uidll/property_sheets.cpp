// The property-sheet entry points: the document and printer sheets with
// their hidden page, and the direct forms that only fill a devmode.
#include <cstring>

#include "property_sheets.h"

#include "default_devmode.h"
#include "devmode_merge.h"
#include "driver_files.h"
#include "driver_module.h"
#include "hidden_page.h"
#include "module_hold.h"
#include "page_geometry.h"
#include "text.h"

namespace {

constexpr LONG kDevmodeSize = static_cast<LONG>(kDriverDevmodeSize);
constexpr ULONG_PTR kSheetIconId = 64082;
constexpr DWORD kCopyOutModes = DM_UPDATE | DM_COPY;

// How many bytes may be written at pdmOut. The caller's cbOut states the
// buffer's size when it is not 0 (AddPrinterW under Wine states the 220
// bytes it falls back to); Wine's DocumentPropertiesW states the dmSize of
// the devmode already in the buffer instead, so a buffer that holds a
// devmode of that dmSize holds its driver extra too. 0 states nothing: the
// caller was told the record's size and gave a buffer of it.
DWORD WritableBytes(const DEVMODEW* out, DWORD cbOut) {
    if (cbOut == 0) return kDriverDevmodeSize;
    DWORD bytes = cbOut;
    if (cbOut >= offsetof(DEVMODEW, dmFields) && out->dmSize == cbOut) {
        DWORD held = static_cast<DWORD>(out->dmSize) + out->dmDriverExtra;
        if (held > bytes) bytes = held;
    }
    return bytes;
}

// Copies the record out, whole when it fits, else its public part alone,
// so the devmode written never claims more than was written. 1, or -1 when
// not even the public part fits.
LONG CopyDevmodeOut(DEVMODEW* out, DWORD cbOut, const DriverDevmode* record) {
    DWORD room = WritableBytes(out, cbOut);
    DWORD bytes = room >= kDriverDevmodeSize ? kDriverDevmodeSize : kPublicDevmodeSize;
    if (room < bytes) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return -1;
    }
    std::memcpy(out, record, bytes);
    if (out->dmSize > bytes) out->dmSize = static_cast<WORD>(bytes);
    if (static_cast<DWORD>(out->dmSize) + out->dmDriverExtra > bytes) {
        out->dmDriverExtra = static_cast<WORD>(bytes - out->dmSize);
    }
    return 1;
}

// The result becomes CPSUI_CANCEL, in our Result and in the SETRESULT_INFO
// that the sheet passes on to the functions above ours (the spooler's), so
// the application is answered IDCANCEL and keeps the devmode it had.
ULONG_PTR CancelResult(LPARAM lParam) {
    if (auto* passedOn = reinterpret_cast<SETRESULT_INFO*>(lParam)) passedOn->Result = CPSUI_CANCEL;
    return CPSUI_CANCEL;
}

// The copy out at SET_RESULT, whichever way the sheet closed, with two
// exceptions that answer a cancel and copy nothing. A dialog that the user
// closed without an answer (Cancel, Escape, the close box) changed nothing,
// yet the closing thread presses the sheet's OK: IDOK would tell the
// application the user agreed, and the printers folder would keep the
// unchanged devmode as the user's default. And a buffer that could not take
// a whole devmode holds stale bytes, not an answer (the copy left
// ERROR_INSUFFICIENT_BUFFER).
ULONG_PTR SheetResult(const DOCUMENTPROPERTYHEADER* header, const COMPROPSHEETUI* page,
                      LPARAM lParam) {
    if (page != nullptr && LastShowing(page) == ShowingUnanswered) return CancelResult(lParam);
    if ((header->fMode & kCopyOutModes) == 0 || header->pdmOut == nullptr || page == nullptr) {
        return CPSUI_OK;
    }
    const auto* devmode = reinterpret_cast<const DriverDevmode*>(page->UserData);
    if (CopyDevmodeOut(header->pdmOut, header->cbOut, devmode) > 0) return CPSUI_OK;
    return CancelResult(lParam);
}

LONG FillInfoHeader(LPARAM lParam, LPWSTR printerName) {
    auto* header = reinterpret_cast<PROPSHEETUI_INFO_HEADER*>(lParam);
    if (header == nullptr) return -1;
    header->Flags = PSUIHDRF_NOAPPLYNOW | PSUIHDRF_PROPTITLE;
    header->pTitle = printerName;
    header->hInst = DriverModule();
    header->IconID = kSheetIconId;
    return 1;
}

// "%s %d%d%d%d": the numbers run together, so two times can give one title.
SheetTitleReference MakeSheetTitle(const WCHAR* printerName) {
    SheetTitleReference title(CreateSheetTitle());
    if (!title) return title;
    SYSTEMTIME now = {};
    GetSystemTime(&now);
    TextFormat(title->text, kSheetTitleUnits, TEXT("%s %d%d%d%d"),
               printerName != nullptr ? printerName : TEXT(""), now.wHour, now.wMinute, now.wSecond,
               now.wMilliseconds);
    return title;
}

// The sheet-closing thread, suspended, with its own reference on the title
// and, where the loader needs one, its own hold on the driver's module; both
// become the thread's only once it exists. An empty owner when it cannot be
// created.
ScopedClosingThread CreateClosingThread(SheetTitle* title) {
    if (title == nullptr) return ScopedClosingThread();
    SheetTitleReference threadsTitle = AddSheetTitleReference(title);
    ModuleHold hold = HoldDriverModule();
    HANDLE thread = CreateThread(nullptr, 0, AutoCloseSheet, title, CREATE_SUSPENDED, nullptr);
    if (thread == nullptr) return ScopedClosingThread();
    // Read by the thread as it ends; it cannot run before it is resumed.
    title->heldModule = hold.release();
    threadsTitle.release();
    return ScopedClosingThread(thread, scoped::ClosingThreadRelease{title});
}

// A stored devmode of another driver is no devmode of this driver's: Wine
// stores a bare 220-byte record for a printer being added, before the driver
// has given one. Handing that out would lose the private part (the printer
// name the settings dialog opens, the settings string), so the driver's own
// defaults for the printer stand in for it.
bool IsOwnDevmode(const DriverDevmode* record) {
    return record != nullptr && IsDriverPrivatePart(&record->dm);
}

// The dialog stores its answer for, and prints its sample page on, the
// printer that the devmode names. A stored devmode names whatever its writer
// put there (another printer, \\server\queue), so the devmode is made to
// name the printer this sheet was opened for: by its handle, as the merge
// refreshes the name, else by the header's name.
void NameSheetPrinter(DriverDevmode* devmode, const DOCUMENTPROPERTYHEADER* header) {
    if (header->hPrinter != nullptr && RefreshPrinterName(devmode, header->hPrinter)) return;
    const WCHAR* name = header->pszPrinterName != nullptr ? header->pszPrinterName : TEXT("");
    TextCopy(devmode->priv.PrinterName, kPrinterNameUnits, name);
}

LONG InitDocumentSheet(PROPSHEETUI_INFO* info, DOCUMENTPROPERTYHEADER* header) {
    HeapBlock<DriverDevmode> devmode;
    if (header->hPrinter != nullptr) {
        devmode = GetPrinterDefaultDevmode(header->hPrinter);
    } else if (header->pszPrinterName != nullptr && header->pszPrinterName[0] != 0) {
        devmode = GetPrinterDefaultDevmodeByName(header->pszPrinterName);
    } else {
        return -1;
    }
    if (!devmode) return -1;
    if (!IsOwnDevmode(devmode.get())) BuildDefaultDevmode(devmode.get(), header->pszPrinterName);
    if (header->pdmIn != nullptr) MergeDevmode(devmode.get(), header->pdmIn, header->hPrinter);
    NameSheetPrinter(devmode.get(), header);
    SheetTitleReference title = MakeSheetTitle(header->pszPrinterName);
    ScopedClosingThread thread = CreateClosingThread(title.get());
    // The page takes the devmode, the title and the thread; a page the sheet
    // refuses releases them at once.
    BuildHiddenPage(header->hPrinter, header->pszPrinterName, info, DocumentPage,
                    std::move(devmode), std::move(title), std::move(thread));
    info->Result = 0;
    return 1;
}

}  // namespace

LONG FillDocumentProperties(DOCUMENTPROPERTYHEADER* header) {
    DWORD statedBytes = header->cbOut;
    header->cbOut = kDriverDevmodeSize;
    if (header->fMode == 0 || header->pdmOut == nullptr) return kDevmodeSize;
    ScopedPrinterDefaultDevmode stored;
    HeapBlock<DriverDevmode> byName;
    DriverDevmode* record = nullptr;
    if (header->hPrinter != nullptr) {
        stored.reset(CreatePrinterDefaultDevmode(header->hPrinter));
        if (stored && stored->owns != 0) record = stored->devmode;
    } else if (header->pszPrinterName != nullptr) {
        byName = GetPrinterDefaultDevmodeByName(header->pszPrinterName);
        record = byName.get();
    }
    DriverDevmode defaults;
    if (!IsOwnDevmode(record)) {
        BuildDefaultDevmode(&defaults, header->pszPrinterName);
        record = &defaults;
    }
    if (header->pdmIn == nullptr) return CopyDevmodeOut(header->pdmOut, statedBytes, record);
    if ((header->fMode & DM_IN_BUFFER) == 0) return 1;
    if (header->hPrinter != nullptr) {
        MergeDevmode(record, header->pdmIn, header->hPrinter);
        ApplyPageGeometry(header->hPrinter, record);
    }
    return CopyDevmodeOut(header->pdmOut, statedBytes, record);
}

extern "C" LONG WINAPI DrvDocumentPropertySheets(PPROPSHEETUI_INFO info, LPARAM lParam) {
    auto* header =
        reinterpret_cast<DOCUMENTPROPERTYHEADER*>(info != nullptr ? info->lParamInit : lParam);
    if (header == nullptr) return -1;
    if (info == nullptr) return FillDocumentProperties(header);
    auto* page = reinterpret_cast<COMPROPSHEETUI*>(info->UserData);
    switch (info->Reason) {
        case PROPSHEETUI_REASON_INIT:
            return InitDocumentSheet(info, header);
        case PROPSHEETUI_REASON_GET_INFO_HEADER:
            return FillInfoHeader(lParam, header->pszPrinterName);
        case PROPSHEETUI_REASON_DESTROY:
            ReleaseHiddenPage(page, DocumentPage);
            info->UserData = 0;
            return 1;
        case PROPSHEETUI_REASON_SET_RESULT:
            info->Result = SheetResult(header, page, lParam);
            return 1;
        default:
            return -1;
    }
}

extern "C" LONG WINAPI DrvDevicePropertySheets(PPROPSHEETUI_INFO info, LPARAM lParam) {
    if (info == nullptr || info->lParamInit == 0) return -1;
    auto* header = reinterpret_cast<DEVICEPROPERTYHEADER*>(info->lParamInit);
    switch (info->Reason) {
        case PROPSHEETUI_REASON_INIT:
            BuildHiddenPage(header->hPrinter, header->pszPrinterName, info, DevicePage, {}, {}, {});
            info->Result = 0;
            return 1;
        case PROPSHEETUI_REASON_GET_INFO_HEADER:
            return FillInfoHeader(lParam, header->pszPrinterName);
        case PROPSHEETUI_REASON_DESTROY:
            ReleaseHiddenPage(reinterpret_cast<COMPROPSHEETUI*>(info->UserData), DevicePage);
            info->UserData = 0;
            return 1;
        case PROPSHEETUI_REASON_SET_RESULT:
            return 1;
        default:
            return -1;
    }
}

extern "C" LONG WINAPI DrvDocumentProperties(HWND, HANDLE printer, PWSTR printerName,
                                             PDEVMODEW output, PDEVMODEW input, DWORD mode) {
    if (mode == 0 || output == nullptr) return kDevmodeSize;
    DOCUMENTPROPERTYHEADER header = {};
    header.cbSize = sizeof header;
    header.hPrinter = printer;
    header.pszPrinterName = printerName;
    header.pdmIn = input;
    header.pdmOut = output;
    header.fMode = mode;
    if ((mode & DM_PROMPT) != 0) return IDCANCEL;
    LONG result = FillDocumentProperties(&header);
    if (result > 0) return IDOK;
    return result == 0 ? IDCANCEL : result;
}

extern "C" LONG WINAPI DrvAdvancedDocumentProperties(HWND, HANDLE, PWSTR, PDEVMODEW output,
                                                     PDEVMODEW) {
    return output == nullptr ? kDevmodeSize : 0;
}
