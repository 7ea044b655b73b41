// The settings road as an application plays it, with a scripted dialog:
// the page becomes active, the sheet is retitled and moved out of view, the
// dialog is shown with the settings string (again after each sample page),
// the answer goes to PrinterSettings and the devmode, the closing thread
// presses OK from its own thread, SET_RESULT copies the devmode out and
// DESTROY ends the page. Then the dialog's answers, each through this road,
// and the platform's own sheet host.
#include <cstring>
#include <string>
#include <vector>

#include "conformance.h"
#include "sheet_support.h"

namespace {

const std::string kSample = "LARK-SAMPLE\r\n";  // the package's sample page

// "%s %d%d%d%d" of the printer's name and a time: the name, a space, digits.
bool IsUniqueTitle(const std::basic_string<WCHAR>& title, const std::basic_string<WCHAR>& printer) {
    if (title.compare(0, printer.size() + 1, printer + TEXT(" ")) != 0) return false;
    size_t digits = title.size() - printer.size() - 1;
    for (size_t i = printer.size() + 1; i < title.size(); ++i) {
        if (title[i] < '0' || title[i] > '9') return false;
    }
    return digits >= 4 && digits <= 9;
}

// A printer's PrinterSettings value as stored, empty when it has none.
std::string SettingsOf(const std::basic_string<WCHAR>& printer) {
    HANDLE handle = nullptr;
    if (!OpenPrinterW(const_cast<LPWSTR>(printer.c_str()), &handle, nullptr)) return "";
    std::string value(1100, '\0');
    DWORD type = 0, needed = 0;
    DWORD status = GetPrinterDataW(handle, const_cast<LPWSTR>(TEXT("PrinterSettings")), &type,
                                   reinterpret_cast<LPBYTE>(value.data()),
                                   static_cast<DWORD>(value.size()), &needed);
    ClosePrinter(handle);
    value.resize(status == ERROR_SUCCESS ? needed : 0);
    return value;
}

bool Play(conformance::Context& ctx, const conformance::RoadScript& script,
          conformance::RoadResult* road) {
    bool played = conformance::PlaySettingsRoad(script, road);
    return ROW_CHECK(played);
}

// Every showing: the package's page with the settings string as it stood,
// "help:off", no parent window; MSHTML.DLL loaded for each.
void CheckShowings(conformance::Context& ctx, const conformance::RoadResult& road, size_t count,
                   const char* argument) {
    ROW_EQ(road.showings.size(), count);
    const std::basic_string<WCHAR> page = conformance::DriverFolder() + TEXT("settings.htm");
    for (const conformance::RoadShowing& s : road.showings) {
        ROW_TEXT(s.page.c_str(), page.c_str());
        ROW_CHECK(s.hasArgument);
        ROW_TEXT(s.argument.c_str(), argument);
        ROW_TEXT(s.options.c_str(), "help:off");
        ROW_CHECK(s.parentless);
    }
    if (ctx.Counted(road.dialogLoads, "MSHTML.DLL loads"))
        ROW_EQ(road.dialogLoads, static_cast<long>(count));
}

void CheckCalls(conformance::Context& ctx, const conformance::RoadResult& road, ULONG_PTR result) {
    const conformance::SheetCall expected[] = {
        {PROPSHEETUI_REASON_INIT, 1, 0},
        {PROPSHEETUI_REASON_GET_INFO_HEADER, 1, 0},
        {PROPSHEETUI_REASON_SET_RESULT, 1, result},
        {PROPSHEETUI_REASON_DESTROY, 1, result},
    };
    if (!ROW_EQ(road.calls.size(), 4u)) return;
    for (size_t i = 0; i < 4; ++i) {
        ROW_EQ(road.calls[i].reason, expected[i].reason);
        ROW_EQ(road.calls[i].answer, expected[i].answer);
        if (i != 1) ROW_EQ(road.calls[i].result, expected[i].result);
    }
}

}  // namespace

CONFORMANCE_TABLE(SettingsRoad, "the settings road with a scripted dialog") {
    if (ctx.Begin("a sample page, then an answer: the whole road")) {
        conformance::RoadScript script;
        script.outcomes = {"sample", "answer:1000=1;9900=257;"};
        conformance::RoadResult road;
        if (Play(ctx, script, &road)) {
            // The printer as the spooler added it: the driver's default devmode.
            if (ROW_EQ(road.storedBefore.size(), kDriverDevmodeSize)) {
                const DriverDevmode* stored = conformance::AsDriverDevmode(road.storedBefore);
                ROW_EQ(stored->dm.dmDriverVersion, kDriverVersion);
                ROW_EQ(stored->priv.Signature2, PrivateSignature);
                ROW_TEXT(stored->priv.PrinterName, road.printer.c_str());
                ROW_TEXT(stored->priv.Settings, "1000=0;");
            }
            ROW_EQ(road.answer, IDOK);
            CheckCalls(ctx, road, CPSUI_OK);
            ROW_EQ(road.setActive, CPSUICB_ACTION_NONE);
            ROW_EQ(road.applyNow, CPSUICB_ACTION_ITEMS_APPLIED);
            ROW_CHECK(IsUniqueTitle(road.sheetTitle, road.printer));
            ROW_NOTE("sheet titled \"%s\"", conformance::Narrow(road.sheetTitle.c_str()).c_str());
            if (ROW_CHECK(road.moved)) {
                ROW_EQ(road.movedX, static_cast<long>(GetSystemMetrics(SM_CXFULLSCREEN)));
                ROW_EQ(road.movedY, static_cast<long>(GetSystemMetrics(SM_CYFULLSCREEN)));
            }
            ROW_CHECK(road.pressedFromAnotherThread);
            CheckShowings(ctx, road, 2, "1000=0;");
            if (ROW_EQ(road.sampleJobs.size(), 1u)) ROW_BYTES(road.sampleJobs[0], kSample);
            ROW_CHECK(road.hasSettings);
            ROW_TEXT(road.settings.c_str(), "1000=1;9900=257;");
            const DriverDevmode* out = conformance::AsDriverDevmode(road.buffer);
            ROW_EQ(out->dm.dmSize, 220);
            ROW_EQ(out->dm.dmDriverExtra, 2108);
            ROW_EQ(out->dm.dmPaperSize, 257);
            ROW_TEXT(out->priv.Settings, "1000=1;9900=257;");
            ROW_TEXT(out->priv.PrinterName, road.printer.c_str());
            ROW_BYTES(road.buffer.substr(2328),
                      std::string(road.buffer.size() - 2328, conformance::kFill));
        }
        conformance::ResetPrinter();
    }
    if (ctx.Begin("a stored devmode naming another printer: the answer and the sample job "
                  "reach the sheet's printer")) {
        const std::basic_string<WCHAR> other = conformance::kLptPrinter;
        const std::string otherBefore = SettingsOf(other);
        conformance::RoadScript script;
        script.outcomes = {"sample", "answer:1000=1;9900=257;"};
        script.storedNames = other;
        conformance::RoadResult road;
        if (Play(ctx, script, &road)) {
            ROW_EQ(road.answer, IDOK);
            ROW_CHECK(road.hasSettings);
            ROW_TEXT(road.settings.c_str(), "1000=1;9900=257;");
            if (ROW_EQ(road.sampleJobs.size(), 1u)) ROW_BYTES(road.sampleJobs[0], kSample);
            ROW_TEXT(conformance::AsDriverDevmode(road.buffer)->priv.PrinterName,
                     road.printer.c_str());
            ROW_BYTES(SettingsOf(other), otherBefore);
        }
        conformance::ResetPrinter();
    }
    struct Stated {
        const char* name;
        DWORD cbOut;
        LONG answer;
        ULONG_PTR result;
        size_t written;
    } stated[] = {
        {"a buffer stated at 2328 bytes: the devmode whole", 2328, IDOK, CPSUI_OK, 2328},
        {"a buffer stated at 220 bytes: the public part, IDOK", 220, IDOK, CPSUI_OK, 220},
        {"a buffer stated at 219 bytes: nothing written, IDCANCEL", 219, IDCANCEL, CPSUI_CANCEL, 0},
    };
    for (const Stated& row : stated) {
        if (!ctx.Begin(row.name)) continue;
        conformance::RoadScript script;
        script.outcomes = {"answer:1000=1;9900=257;"};
        script.cbOut = row.cbOut;
        conformance::RoadResult road;
        if (Play(ctx, script, &road)) {
            ROW_EQ(road.answer, row.answer);
            CheckCalls(ctx, road, row.result);
            // The answer is stored whatever the buffer could take.
            ROW_TEXT(road.settings.c_str(), "1000=1;9900=257;");
            ROW_BYTES(road.buffer.substr(row.written),
                      std::string(road.buffer.size() - row.written, conformance::kFill));
            const DriverDevmode* out = conformance::AsDriverDevmode(road.buffer);
            if (row.written != 0) {
                ROW_EQ(static_cast<size_t>(out->dm.dmSize + out->dm.dmDriverExtra), row.written);
                ROW_EQ(out->dm.dmPaperSize, 257);
            }
        }
        conformance::ResetPrinter();
    }
    if (ctx.Begin("CreateThread failing: the sheet left in view, closed by the user",
                  conformance::WinsimOnly("needs winsim's fault injection"))) {
        conformance::RoadScript script;
        script.outcomes = {"answer:1000=1;9900=257;"};
        script.closingThreadFails = true;
        conformance::RoadResult road;
        if (Play(ctx, script, &road)) {
            ROW_EQ(road.answer, IDCANCEL);
            ROW_CHECK(IsUniqueTitle(road.sheetTitle, road.printer));
            ROW_CHECK(!road.moved);
            ROW_CHECK(!road.pressedFromAnotherThread);
            CheckShowings(ctx, road, 1, "1000=0;");
            ROW_TEXT(road.settings.c_str(), "1000=1;9900=257;");
            // SET_RESULT copies out however the sheet closed.
            ROW_TEXT(conformance::AsDriverDevmode(road.buffer)->priv.Settings, "1000=1;9900=257;");
        }
        conformance::ResetPrinter();
    }

    // The platform's own compstui and DocumentPropertiesW, with the dialog
    // closed without an answer.
    static conformance::SheetsFn s_sheets;
    static std::vector<conformance::SheetCall> s_calls;
    s_sheets = conformance::Entry<conformance::SheetsFn>("DrvDocumentPropertySheets");
    auto recording = [](PPROPSHEETUI_INFO info, LPARAM lParam) -> LONG {
        LONG answer = s_sheets(info, lParam);
        if (info != nullptr) s_calls.push_back({info->Reason, answer, info->Result});
        return answer;
    };
    std::basic_string<WCHAR> name = conformance::kPrinter;
    const long threads = conformance::ThreadCount();
    if (ctx.Begin(
            "the platform's compstui runs the driver's sheet",
            conformance::WineDiffers("Wine 8's compstui refuses the driver's page (the add "
                                     "answers 0) and ends with ERR_CPSUI_NO_PROPSHEETPAGE"))) {
        s_calls.clear();
        std::string out(2328, conformance::kFill);
        conformance::OpenedPrinter printer;
        DOCUMENTPROPERTYHEADER header = conformance::Header(printer.handle, name.data(),
                                                            reinterpret_cast<DEVMODEW*>(out.data()),
                                                            0, DM_IN_PROMPT | DM_OUT_BUFFER);
        DWORD result = 12345;
        LONG shown =
            CommonPropertySheetUIW(nullptr, recording, reinterpret_cast<LPARAM>(&header), &result);
        bool init = false;
        for (const conformance::SheetCall& call : s_calls) {
            ROW_NOTE("reason %u answered %ld, Result %lu", call.reason,
                     static_cast<long>(call.answer), static_cast<unsigned long>(call.result));
            if (call.reason != PROPSHEETUI_REASON_INIT) continue;
            init = true;
            ROW_EQ(call.answer, 1);
            ROW_EQ(call.result, 0u);
        }
        ROW_CHECK(init);
        if (ROW_CHECK(!s_calls.empty())) ROW_EQ(s_calls.back().reason, PROPSHEETUI_REASON_DESTROY);
        ROW_CHECK(conformance::ThreadsBackTo(threads));
        if (ctx.WineExpectation()) {
            ROW_EQ(shown, ERR_CPSUI_NO_PROPSHEETPAGE);
            ROW_BYTES(out, std::string(out.size(), conformance::kFill));
        } else {
            // The closing thread pressed OK; the dialog took no answer, so
            // the result passed on is a cancel and nothing is copied out.
            ROW_EQ(shown, CPSUI_OK);
            ROW_EQ(result, static_cast<DWORD>(CPSUI_CANCEL));
            ROW_BYTES(out, std::string(out.size(), conformance::kFill));
        }
        conformance::ResetPrinter();
    }
    if (ctx.Begin("DocumentPropertiesW with DM_IN_PROMPT",
                  conformance::WineDiffers("Wine 8's compstui refuses the driver's page; "
                                           "DocumentPropertiesW passes its error on"))) {
        std::string out(2328, conformance::kFill);
        LONG answer = DocumentPropertiesW(nullptr, nullptr, name.data(),
                                          reinterpret_cast<DEVMODEW*>(out.data()), nullptr,
                                          DM_IN_PROMPT | DM_OUT_BUFFER);
        ROW_NOTE("answered %ld", static_cast<long>(answer));
        ROW_CHECK(conformance::ThreadsBackTo(threads));
        if (ctx.WineExpectation()) {
            ROW_EQ(answer, ERR_CPSUI_NO_PROPSHEETPAGE);
            ROW_BYTES(out, std::string(out.size(), conformance::kFill));
        } else {
            ROW_EQ(answer, IDCANCEL);
            ROW_BYTES(out, std::string(out.size(), conformance::kFill));
        }
        conformance::ResetPrinter();
    }
}

// The dialog's answers, each through the whole road: the devmode the
// application gets, the stored PrinterSettings, the sample pages printed
// and the showings.
CONFORMANCE_TABLE(SettingsDialogAnswers, "the settings dialog's answers") {
    const std::string long511 = "answer:" + std::string(511, 's');
    const std::string long512 = "answer:" + std::string(512, 's');
    struct Row {
        const char* name;
        std::vector<std::string> outcomes;
        const char* stored;  // nullptr: no PrinterSettings value
        std::string settings;
        short paper;
        size_t jobs;
    } rows[] = {
        {"pairs 1000=1 and 9900=26",
         {"answer:1000=1;9900=26;"},
         "1000=1;9900=26;",
         "1000=1;9900=26;",
         26,
         0},
        {"three samples, then an answer",
         {"sample", "sample", "sample", "answer:1000=2;9900=258;"},
         "1000=2;9900=258;",
         "1000=2;9900=258;",
         258,
         3},
        {"sample request with more text",
         {"answer:PrintSamplePage now", "answer:1000=3;"},
         "1000=3;",
         "1000=3;",
         256,
         1},
        {"other letter case is a setting",
         {"answer:printSamplePage"},
         "printSamplePage",
         "printSamplePage",
         256,
         0},
        {"empty answer", {"answer:"}, "", "", 256, 0},
        {"NULL string counts as empty", {"null"}, "", "", 256, 0},
        {"9900 inside a value takes the next pair",
         {"answer:1000=9900;5=7;"},
         "1000=9900;5=7;",
         "1000=9900;5=7;",
         7,
         0},
        {"9900 with an empty value", {"answer:9900=;"}, "9900=;", "9900=;", 256, 0},
        {"9900 of -1", {"answer:9900=-1;"}, "9900=-1;", "9900=-1;", -1, 0},
        {"low 16 bits", {"answer:9900=70000;"}, "9900=70000;", "9900=70000;", 4464, 0},
        {"511 characters fit", {long511}, long511.c_str() + 7, long511.substr(7), 256, 0},
        {"512 characters are refused whole", {long512}, nullptr, "", 0, 0},
        {"closed without an answer", {"none"}, nullptr, "", 0, 0},
        {"the dialog fails", {"fail"}, nullptr, "", 0, 0},
        {"sample, then cancel", {"sample", "none"}, nullptr, "", 0, 1},
    };
    for (const Row& row : rows) {
        if (!ctx.Begin(row.name)) continue;
        conformance::RoadScript script;
        script.outcomes = row.outcomes;
        conformance::RoadResult road;
        if (Play(ctx, script, &road)) {
            // The closing thread presses OK whatever the dialog answered; a
            // showing that took no answer ends the road as a cancel, with
            // nothing copied to the application.
            const DriverDevmode* out = conformance::AsDriverDevmode(road.buffer);
            if (row.stored != nullptr) {
                ROW_EQ(road.answer, IDOK);
                ROW_TEXT(out->priv.Settings, row.settings.c_str());
                ROW_EQ(out->dm.dmPaperSize, row.paper);
            } else {
                ROW_EQ(road.answer, IDCANCEL);
                ROW_BYTES(road.buffer, std::string(road.buffer.size(), conformance::kFill));
            }
            ROW_EQ(road.hasSettings, row.stored != nullptr);
            if (road.hasSettings && row.stored != nullptr) {
                ROW_TEXT(road.settings.c_str(), row.stored);
            }
            if (ROW_EQ(road.sampleJobs.size(), row.jobs)) {
                for (const std::string& job : road.sampleJobs) ROW_BYTES(job, kSample);
            }
            CheckShowings(ctx, road, row.outcomes.size(), "1000=0;");
        }
        conformance::ResetPrinter();
    }
}

// The page opens on the paper that the devmode's dmPaperSize names, as the
// print road prints it, and the paper the answer chooses brings its width
// and length with it: an application's devmode (DM_PAPERSIZE) through the
// whole road.
CONFORMANCE_TABLE(SettingsRoadPaper, "the settings road and the devmode's paper") {
    struct Row {
        const char* name;
        short paper;  // the application's dmPaperSize; 0: no application devmode
        const char* outcome;
        const char* argument;  // what the page is shown
        short size, width, length;
    } rows[] = {
        {"a paper id of no row: the page opens on the settings' paper", 999,
         "answer:1000=2;9900=258;", "1000=0;", 258, 1000, 1500},
        {"the application's 3.5 x 5 kept at OK", 259, "answer:1000=3;9900=259;", "1000=3;", 259,
         889, 1270},
        {"the user's 5 x 7 over the application's 3.5 x 5", 259, "answer:1000=1;9900=257;",
         "1000=3;", 257, 1270, 1778},
        {"no application devmode: a paper size of no row leaves width and length", 0,
         "answer:1000=1;9900=26;", "1000=0;", 26, 1016, 1524},
    };
    for (const Row& row : rows) {
        if (!ctx.Begin(row.name)) continue;
        conformance::RoadScript script;
        script.outcomes = {row.outcome};
        script.paper = row.paper;
        conformance::RoadResult road;
        if (Play(ctx, script, &road)) {
            ROW_EQ(road.answer, IDOK);
            CheckShowings(ctx, road, 1, row.argument);
            const DriverDevmode* out = conformance::AsDriverDevmode(road.buffer);
            ROW_EQ(out->dm.dmPaperSize, row.size);
            ROW_EQ(out->dm.dmPaperWidth, row.width);
            ROW_EQ(out->dm.dmPaperLength, row.length);
            ROW_TEXT(out->priv.Settings, row.outcome + 7);
        }
        conformance::ResetPrinter();
    }
}
