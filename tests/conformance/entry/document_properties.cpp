// The direct forms of the document properties, which never show anything:
// DrvDocumentPropertySheets without PROPSHEETUI_INFO under the output-buffer
// rule (a stated buffer gets the whole devmode, or its public part alone,
// or nothing), DrvDocumentProperties, DrvAdvancedDocumentProperties, and
// DocumentPropertiesW through the platform's own spooler.
#include <cstring>
#include <string>

#include "conformance.h"
#include "sheet_support.h"

namespace {

using conformance::kSentinel;
using DocumentPropertiesFn = LONG(WINAPI*)(HWND, HANDLE, PWSTR, PDEVMODEW, PDEVMODEW, DWORD);
using AdvancedFn = LONG(WINAPI*)(HWND, HANDLE, PWSTR, PDEVMODEW, PDEVMODEW);

constexpr size_t kBuffer = 4096;
constexpr DWORD kAnyError = 0xffffffff;

// The application's devmode: the stored one asking for landscape.
std::string LandscapeInput(const std::string& stored) {
    std::string input = stored;
    auto* in = reinterpret_cast<DEVMODEW*>(input.data());
    in->dmFields = DM_ORIENTATION;
    in->dmOrientation = DMORIENT_LANDSCAPE;
    return input;
}

}  // namespace

CONFORMANCE_TABLE(DirectDocumentProperties,
                  "DrvDocumentPropertySheets without a sheet: the output-buffer rule") {
    enum Copy { None, Whole, PublicOnly };
    struct Row {
        const char* name;
        DWORD mode;
        bool handle;
        bool input;       // an application devmode asking for landscape
        DWORD cbOut;      // as the caller states it
        WORD bufferSize;  // dmSize already in the buffer (0: none)
        LONG result;
        DWORD error;  // kAnyError: not looked at
        Copy copy;
        bool merged;
    } rows[] = {
        {"size query", 0, true, false, 0, 0, 2328, kAnyError, None, false},
        {"copy of the printer's devmode", DM_OUT_BUFFER, true, false, 0, 0, 1, kAnyError, Whole,
         false},
        {"by name", DM_OUT_BUFFER, false, false, 0, 0, 1, kAnyError, Whole, false},
        {"input without DM_IN_BUFFER copies nothing", DM_OUT_BUFFER, true, true, 0, 0, 1, kAnyError,
         None, false},
        {"input merged with a handle", DM_IN_BUFFER | DM_OUT_BUFFER, true, true, 0, 0, 1, kAnyError,
         Whole, true},
        {"input without a handle: unmerged", DM_IN_BUFFER | DM_OUT_BUFFER, false, true, 0, 0, 1,
         kAnyError, Whole, false},
        {"stated 2328 bytes, exactly the devmode", DM_OUT_BUFFER, true, false, 2328, 0, 1,
         kAnyError, Whole, false},
        {"stated 4656 bytes, twice the devmode", DM_OUT_BUFFER, true, false, 4656, 0, 1, kAnyError,
         Whole, false},
        {"stated 4000 bytes", DM_OUT_BUFFER, true, false, 4000, 0, 1, kAnyError, Whole, false},
        {"stated 2327 bytes, one short: public part alone", DM_OUT_BUFFER, true, false, 2327, 0, 1,
         kAnyError, PublicOnly, false},
        {"stated 220 bytes: public part alone", DM_OUT_BUFFER, true, false, 220, 0, 1, kAnyError,
         PublicOnly, false},
        {"stated 219 bytes: refused", DM_OUT_BUFFER, true, false, 219, 0, -1,
         ERROR_INSUFFICIENT_BUFFER, None, false},
        {"stated 100 bytes: refused", DM_OUT_BUFFER, true, false, 100, 0, -1,
         ERROR_INSUFFICIENT_BUFFER, None, false},
        {"stated as the dmSize already there, which holds its extra", DM_OUT_BUFFER, true, false,
         220, 220, 1, kAnyError, Whole, false},
    };
    auto sheets = conformance::Entry<conformance::SheetsFn>("DrvDocumentPropertySheets");
    if (!ctx.Begin("the entry point is exported")) return;
    if (!ROW_CHECK(sheets != nullptr)) return;
    if (ctx.Begin("no header: -1")) ROW_EQ(sheets(nullptr, 0), -1);
    const std::string stored = conformance::StoredDevmode();
    if (ctx.Begin("the printer's stored devmode is the driver's")) {
        if (!ROW_EQ(stored.size(), kDriverDevmodeSize)) return;
    }
    std::basic_string<WCHAR> name = conformance::kPrinter;
    for (const Row& row : rows) {
        if (!ctx.Begin(row.name)) continue;
        std::string out(kBuffer, conformance::kFill);
        if (row.bufferSize != 0) {
            std::memcpy(out.data(), stored.data(), stored.size());
            reinterpret_cast<DEVMODEW*>(out.data())->dmOrientation = 7;  // tells copies apart
        }
        const std::string before = out;
        std::string input = LandscapeInput(stored);
        conformance::OpenedPrinter printer;
        DOCUMENTPROPERTYHEADER header =
            conformance::Header(row.handle ? printer.handle : nullptr, name.data(),
                                reinterpret_cast<DEVMODEW*>(out.data()), row.cbOut, row.mode,
                                row.input ? reinterpret_cast<DEVMODEW*>(input.data()) : nullptr);
        SetLastError(kSentinel);
        ROW_EQ(sheets(nullptr, reinterpret_cast<LPARAM>(&header)), row.result);
        if (row.error != kAnyError) ROW_EQ(GetLastError(), row.error);
        ROW_EQ(header.cbOut, 2328u);
        size_t written = row.copy == Whole ? 2328 : row.copy == PublicOnly ? 220 : 0;
        ROW_BYTES(out.substr(written), before.substr(written));
        if (row.copy == None) continue;
        const DriverDevmode* dm = conformance::AsDriverDevmode(out);
        ROW_CHECK(static_cast<size_t>(dm->dm.dmSize + dm->dm.dmDriverExtra) <= written);
        ROW_EQ(dm->dm.dmOrientation, row.merged ? DMORIENT_LANDSCAPE : DMORIENT_PORTRAIT);
        if (row.copy == PublicOnly) {
            ROW_EQ(dm->dm.dmDriverExtra, 0);
            ROW_BYTES(out.substr(0, 68), stored.substr(0, 68));
        }
        if (row.copy == Whole && !row.merged) ROW_BYTES(out.substr(0, 2328), stored);
    }
}

CONFORMANCE_TABLE(DocumentPropertiesEntries,
                  "DrvDocumentProperties and DrvAdvancedDocumentProperties") {
    auto document = conformance::Entry<DocumentPropertiesFn>("DrvDocumentProperties");
    auto advanced = conformance::Entry<AdvancedFn>("DrvAdvancedDocumentProperties");
    if (!ctx.Begin("the entry points are exported")) return;
    if (!ROW_CHECK(document != nullptr && advanced != nullptr)) return;
    enum Entry { Document, Advanced };
    struct Row {
        const char* name;
        Entry entry;
        DWORD mode;
        bool output;
        LONG result;
        bool copied;  // the stored devmode, whole
    } rows[] = {
        {"mode 0: the size", Document, 0, true, 2328, false},
        {"no output: the size", Document, DM_OUT_BUFFER, false, 2328, false},
        {"DM_PROMPT with DM_COPY: IDCANCEL, nothing copied", Document, DM_PROMPT | DM_COPY, true,
         IDCANCEL, false},
        {"DM_COPY: IDOK, the stored devmode", Document, DM_COPY, true, IDOK, true},
        {"advanced, no output: the size", Advanced, 0, false, 2328, false},
        {"advanced with an output: 0, nothing changed", Advanced, 0, true, 0, false},
    };
    const std::string stored = conformance::StoredDevmode();
    std::basic_string<WCHAR> name = conformance::kPrinter;
    for (const Row& row : rows) {
        if (!ctx.Begin(row.name)) continue;
        std::string out(kBuffer, conformance::kFill);
        const std::string before = out;
        std::string input = LandscapeInput(stored);
        auto* dm = row.output ? reinterpret_cast<DEVMODEW*>(out.data()) : nullptr;
        auto* in = reinterpret_cast<DEVMODEW*>(input.data());
        conformance::OpenedPrinter printer;
        LONG result = row.entry == Document
                          ? document(nullptr, printer.handle, name.data(), dm, nullptr, row.mode)
                          : advanced(nullptr, printer.handle, name.data(), dm, in);
        ROW_EQ(result, row.result);
        if (row.copied) {
            ROW_BYTES(out.substr(0, 2328), stored);
            ROW_BYTES(out.substr(2328), before.substr(2328));
        } else {
            ROW_BYTES(out, before);
        }
    }
}

// Through the platform's spooler, which asks the driver for the devmode's
// size and then fills the caller's buffer through the direct form. Windows
// (and winsim) states the size it was told as cbOut; Wine's states the
// dmSize already in the buffer.
CONFORMANCE_TABLE(DocumentPropertiesThroughTheSpooler, "DocumentPropertiesW without a prompt") {
    const std::string stored = conformance::StoredDevmode();
    std::basic_string<WCHAR> name = conformance::kPrinter;
    conformance::OpenedPrinter printer;
    auto call = [&](std::string* out, std::string* input, DWORD mode) {
        return DocumentPropertiesW(
            nullptr, printer.handle, name.data(),
            out != nullptr ? reinterpret_cast<DEVMODEW*>(out->data()) : nullptr,
            input != nullptr ? reinterpret_cast<DEVMODEW*>(input->data()) : nullptr, mode);
    };
    if (ctx.Begin("size query: 2328")) ROW_EQ(call(nullptr, nullptr, 0), 2328);
    // A zeroed devmode in a larger buffer, as an application allocates it.
    std::string out(kBuffer, conformance::kFill);
    std::memset(out.data(), 0, 2328);
    if (ctx.Begin("DM_OUT_BUFFER into a zeroed buffer: the stored devmode")) {
        ROW_EQ(call(&out, nullptr, DM_OUT_BUFFER), IDOK);
        ROW_BYTES(out.substr(0, 2328), stored);
        ROW_EQ(out[2328], conformance::kFill);
        const DriverDevmode* d = conformance::AsDriverDevmode(out);
        ROW_EQ(d->dm.dmSize, 220);
        ROW_EQ(d->dm.dmDriverExtra, 2108);
        ROW_EQ(d->priv.Signature2, PrivateSignature);
        ROW_TEXT(d->priv.PrinterName, conformance::kPrinter);
    }
    if (ctx.Begin("DM_IN_BUFFER merges the application's paper and orientation")) {
        std::string input = stored;
        auto* in = reinterpret_cast<DEVMODEW*>(input.data());
        in->dmFields = DM_PAPERSIZE | DM_ORIENTATION;
        in->dmPaperSize = 257;  // 5 x 7 in, paper code 1
        in->dmOrientation = DMORIENT_LANDSCAPE;
        std::memset(out.data(), 0, 2328);
        ROW_EQ(call(&out, &input, DM_IN_BUFFER | DM_OUT_BUFFER), IDOK);
        const DriverDevmode* d = conformance::AsDriverDevmode(out);
        ROW_EQ(d->dm.dmPaperSize, 257);
        ROW_EQ(d->dm.dmOrientation, DMORIENT_LANDSCAPE);
        ROW_EQ(d->priv.PaperWidthMm, 177);  // landscape
        ROW_EQ(d->priv.PaperLengthMm, 127);
        ROW_TEXT(d->priv.Settings, "1000=1;");
        ROW_EQ(out[2328], conformance::kFill);
    }
    // Wine states 220, the dmSize there; the driver's extra stands behind it.
    if (ctx.Begin("a buffer holding the driver's devmode is filled whole again")) {
        std::memcpy(out.data(), stored.data(), 2328);
        reinterpret_cast<DriverDevmode*>(out.data())->priv.Settings[0] = 'x';
        ROW_EQ(call(&out, nullptr, DM_OUT_BUFFER), IDOK);
        ROW_BYTES(out.substr(0, 2328), stored);
        ROW_EQ(out[2328], conformance::kFill);
    }
    if (ctx.Begin(
            "a buffer with a stale dmSize of 150",
            conformance::WineDiffers("Wine's DocumentPropertiesW states the stale dmSize "
                                     "as the buffer's size, which cannot take the devmode"))) {
        std::string stale(kBuffer, conformance::kFill);
        auto* dm = reinterpret_cast<DEVMODEW*>(stale.data());
        dm->dmSize = 150;
        dm->dmDriverExtra = 0;
        const std::string before = stale;
        LONG answer = call(&stale, nullptr, DM_OUT_BUFFER);
        ROW_NOTE("answered %ld", static_cast<long>(answer));
        if (ctx.WineExpectation()) {
            ROW_EQ(answer, -1);
            ROW_BYTES(stale, before);
        } else {
            ROW_EQ(answer, IDOK);
            ROW_BYTES(stale.substr(0, 2328), stored);
            ROW_BYTES(stale.substr(2328), before.substr(2328));
        }
    }
}
