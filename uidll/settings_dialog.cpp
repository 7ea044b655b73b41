#include "settings_dialog.h"

#include "driver_files.h"
#include "page_geometry.h"
#include "sample_page.h"
#include "text.h"

namespace {

struct SysFreeStringRelease {
    void operator()(OLECHAR* s) const { SysFreeString(s); }
};
using ScopedBstr = std::unique_ptr<OLECHAR, SysFreeStringRelease>;

// The variant is cleared whatever the page left in it.
struct VariantClearRelease {
    void operator()(VARIANT* v) const { VariantClear(v); }
};
using ScopedVariant = std::unique_ptr<VARIANT, VariantClearRelease>;

// Runs the dialog with the moniker; the showing's HRESULT, 0 when the page
// could not be named.
HRESULT ShowPage(SHOWHTMLDIALOGFN* show, const WCHAR* uiConfigPath, const WCHAR* settings,
                 VARIANT* result) {
    ScopedBstr path(SysAllocString(uiConfigPath));
    IMoniker* moniker = nullptr;
    if (FAILED(CreateURLMoniker(nullptr, path.get(), &moniker)) || moniker == nullptr) return 0;
    VARIANT argument;
    VariantInit(&argument);
    ScopedVariant clearArgument(&argument);
    V_VT(&argument) = VT_BSTR;
    V_BSTR(&argument) = SysAllocString(settings);
    WCHAR options[] = TEXT("help:off");
    HRESULT hr = show(nullptr, moniker, &argument, options, result);
    moniker->Release();
    return hr;
}

// The page opens on the paper the devmode's dmPaperSize names, as the print
// road prints it: an application chooses paper by dmPaperSize, and a page
// opened on the settings string's paper would write that paper back over
// the application's choice at OK.
void OpenOnPaperSize(HANDLE printer, DriverDevmode* devmode) {
    POINT size = {};
    int32_t code = 0;
    if (FindPaperOfId(printer, devmode->dm.dmPaperSize, &size, &code)) {
        RewritePaperItem(devmode->priv.Settings, code);
    }
}

// Stores a settings answer that fits the devmode's field for the printer
// and in the devmode.
int StoreAnswer(DriverDevmode* devmode, HANDLE printer, WCHAR* printerName, const WCHAR* answer) {
    size_t length = TextLength(answer);
    PRINTER_DEFAULTSW admin = {nullptr, nullptr, PRINTER_ACCESS_ADMINISTER};
    // A user without the right to administer the printer still gets the
    // answer in the devmode.
    if (ScopedPrinter adminPrinter = OpenPrinterScoped(printerName, &admin)) {
        SetPrinterDataW(adminPrinter.get(), const_cast<LPWSTR>(TEXT("PrinterSettings")), REG_SZ,
                        reinterpret_cast<LPBYTE>(const_cast<WCHAR*>(answer)),
                        static_cast<DWORD>(length * sizeof(WCHAR)));
    }
    TextCopy(devmode->priv.Settings, kSettingsUnits, answer);
    const WCHAR* key = TextFind(answer, TEXT("9900"));
    if (key == nullptr) return -1;
    const WCHAR* equals = TextFindChar(key, '=');
    int32_t value = 0;
    if (equals != nullptr && ScanInt(equals + 1, &value, nullptr)) {
        devmode->dm.dmPaperSize = static_cast<short>(static_cast<uint16_t>(value));
        // Whoever reads dmPaperWidth and dmPaperLength takes them over
        // dmPaperSize: they must name the same paper.
        POINT size = {};
        int32_t code = 0;
        if (printer != nullptr && FindPaperOfId(printer, devmode->dm.dmPaperSize, &size, &code)) {
            devmode->dm.dmPaperWidth = static_cast<short>(size.x);
            devmode->dm.dmPaperLength = static_cast<short>(size.y);
        }
    }
    return devmode->dm.dmPaperSize;
}

}  // namespace

DialogOutcomeCode DisplayDialogBox(const WCHAR* uiConfigPath, const WCHAR* settings,
                                   HeapBlock<WCHAR>* answer) {
    answer->reset();
    // Loaded at every showing and left loaded: MSHTML may keep threads and
    // windows after a dialog, so unloading it under them is not safe. From
    // the system folder only: a bare name would search the printing
    // application's own folder first, where anybody may have put a DLL.
    HMODULE mshtml = LoadLibraryExW(TEXT("MSHTML.DLL"), nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (mshtml == nullptr) return DialogUnavailable;
    VARIANT result;
    VariantInit(&result);
    ScopedVariant clearResult(&result);
    // Through void*: GetProcAddress answers an address, not a typed function.
    auto* show = reinterpret_cast<SHOWHTMLDIALOGFN*>(
        reinterpret_cast<void*>(GetProcAddress(mshtml, "ShowHTMLDialog")));
    if (show == nullptr) return DialogUnavailable;
    if (FAILED(ShowPage(show, uiConfigPath, settings, &result))) return DialogUnavailable;
    if (V_VT(&result) != VT_BSTR) return DialogNoAnswer;
    const WCHAR* text = V_BSTR(&result) != nullptr ? V_BSTR(&result) : TEXT("");
    size_t length = TextLength(text);
    auto copy = HeapAllocZeroed<WCHAR>((length + 1) * sizeof(WCHAR));
    if (!copy) return DialogNoAnswer;
    TextCopyCount(copy.get(), text, length);
    *answer = std::move(copy);
    return DialogAnswered;
}

int GetUserPref(DriverDevmode* devmode, bool* taken) {
    if (taken != nullptr) *taken = false;
    if (devmode == nullptr) return -1;
    // The devmode's texts are copied terminated: a record from outside may
    // fill its fields to the last unit.
    WCHAR printerName[kPrinterNameUnits];
    TextCopyCount(printerName, devmode->priv.PrinterName, kPrinterNameUnits - 1);
    ScopedPrinter printer = OpenPrinterScoped(printerName, nullptr);
    WCHAR dataFile[kPathUnits] = {};
    WCHAR uiConfigPath[kPathUnits] = {};
    if (printer) {
        QueryDriverFiles(printer.get(), nullptr, dataFile, nullptr, uiConfigPath);
        OpenOnPaperSize(printer.get(), devmode);
    }
    for (;;) {
        WCHAR settings[kSettingsUnits];
        TextCopyCount(settings, devmode->priv.Settings, kSettingsUnits - 1);
        HeapBlock<WCHAR> answer;
        if (DisplayDialogBox(uiConfigPath, settings, &answer) != DialogAnswered) return -1;
        if (!TextStartsWith(answer.get(), TEXT("PrintSamplePage"))) {
            // An answer too long for the devmode's field is refused whole,
            // so the stored value and the devmode never disagree and no item
            // is cut in half.
            if (TextLength(answer.get()) >= kSettingsUnits) return -1;
            if (taken != nullptr) *taken = true;
            return StoreAnswer(devmode, printer.get(), printerName, answer.get());
        }
        answer.reset();
        FILE* data = _wfopen(dataFile, TEXT("r"));
        if (data == nullptr) return -1;
        SendSamplePage(printer.get(), data);
    }
}
