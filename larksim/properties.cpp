// larksim properties: plays Printing Preferences as an application opens
// it (DocumentPropertiesW with DM_IN_PROMPT), or the printer's own sheet,
// or the direct forms, and shows the road as one timeline: the sheet's
// reasons and page, the dialog's showings and answers, sample jobs, the
// closing thread's looks and presses, and what the application got back.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "driver_devmode.h"
#include "larksim.h"

namespace larksim {
namespace {

using DevicePropertySheetsFn = LONG(WINAPI*)(PPROPSHEETUI_INFO, LPARAM);

void PrintDevmode(const char* what, const std::vector<uint8_t>& bytes) {
    if (bytes.size() < sizeof(DEVMODEW)) {
        std::printf("%s: none\n", what);
        return;
    }
    const auto* d = reinterpret_cast<const DriverDevmode*>(bytes.data());
    std::printf("%s: dmSize %u + dmDriverExtra %u, paper size %d, orientation %d\n", what,
                d->dm.dmSize, d->dm.dmDriverExtra, d->dm.dmPaperSize, d->dm.dmOrientation);
    if (bytes.size() >= sizeof(DriverDevmode) && d->dm.dmDriverExtra >= kPrivateDevmodeSize) {
        std::printf("  settings \"%s\"\n",
                    Printable(Text(d->priv.Settings, kSettingsUnits)).c_str());
    }
}

void PrintStoredSettings(const std::u16string& printer) {
    for (const auto& v : winsim::PrinterData(printer)) {
        if (v.name != u"PrinterSettings") continue;
        std::u16string s(v.data.size() / 2, u'\0');
        if (!s.empty()) std::memcpy(s.data(), v.data.data(), s.size() * 2);
        std::printf("printer data PrinterSettings: \"%s\" (%zu bytes)\n", Printable(s).c_str(),
                    v.data.size());
        return;
    }
    std::printf("printer data PrinterSettings: none\n");
}

struct Mark {
    int64_t uiSeq = 0;
    size_t showings = 0;
    size_t jobs = 0;
};

Mark Now(const std::u16string& printer) {
    Mark m;
    auto events = winsim::UiEvents();
    if (!events.empty()) m.uiSeq = events.back().seq;
    m.showings = winsim::DialogShowings().size();
    m.jobs = winsim::Jobs(printer).size();
    return m;
}

// Sheet events and dialog showings since the mark, in time order; each
// sample request shows the job it printed.
void PrintTimeline(const Mark& mark, const std::u16string& printer) {
    struct Line {
        int64_t micros;
        std::string text;
    };
    std::vector<Line> lines;
    // A search's looks make one line: how many, and what the last one found.
    int looks = 0;
    const winsim::UiEvent* lastFind = nullptr;
    const auto events = winsim::UiEvents();
    for (const auto& e : events) {
        if (e.seq <= mark.uiSeq) continue;
        std::string who = "[thread " + std::to_string(e.thread) + "] ";
        if (e.kind == "find") {
            bool again = lastFind != nullptr && !lines.empty() && lastFind->thread == e.thread &&
                         lastFind->text == e.text;
            looks = again ? looks + 1 : 1;
            std::string text = who + "looked " + std::to_string(looks) + " time" +
                               (looks == 1 ? "" : "s") + " for '" + winsim::ToUtf8(e.text) + "': " +
                               (e.values[0] != 0 ? "found window " + std::to_string(e.values[0])
                                                 : std::string("not found"));
            if (again) {
                lines.back().text = text;
            } else {
                lines.push_back({e.micros, text});
            }
            lastFind = &e;
            continue;
        }
        lastFind = nullptr;
        lines.push_back({e.micros, who + e.description});
    }
    auto showings = winsim::DialogShowings();
    auto jobs = winsim::Jobs(printer);
    size_t job = mark.jobs;
    for (size_t i = mark.showings; i < showings.size(); ++i) {
        const auto& d = showings[i];
        std::string text = "dialog shown with \"" + Printable(d.argument) + "\": ";
        switch (d.outcome) {
            case winsim::DialogKind::Answer:
                text += "answered \"" + Printable(d.answer) + "\"";
                break;
            case winsim::DialogKind::Sample:
                text += "sample page requested";
                if (job < jobs.size()) {
                    const auto& j = jobs[job++];
                    text += " -> job " + std::to_string(j.id) + " \"" + j.document + "\" " +
                            std::to_string(j.pages) + " page, " + std::to_string(j.data.size()) +
                            " bytes";
                } else {
                    text += " -> no job";
                }
                break;
            case winsim::DialogKind::None:
                text += "closed without an answer";
                break;
            case winsim::DialogKind::NullString:
                text += "answered a NULL string";
                break;
            case winsim::DialogKind::Fail:
                text += "failed";
                break;
        }
        lines.push_back({d.micros, text});
    }
    std::stable_sort(lines.begin(), lines.end(),
                     [](const Line& a, const Line& b) { return a.micros < b.micros; });
    int64_t start = lines.empty() ? 0 : lines.front().micros;
    for (const Line& l : lines) {
        std::printf("  %8.1f ms  %s\n", static_cast<double>(l.micros - start) / 1000.0,
                    l.text.c_str());
    }
}

void PrintAccounting(const winsim::Counts& before) {
    winsim::Counts c = winsim::CurrentCounts();
    long printers = c.printerHandles - before.printerHandles;
    long handles = c.kernelHandles - before.kernelHandles;
    long heap = c.heapBlocks - before.heapBlocks;
    long files = c.openFiles - before.openFiles;
    long strings = c.bstrs - before.bstrs;
    long monikers = c.monikers - before.monikers;
    long threads = winsim::LiveThreadCount();
    bool clean = printers == 0 && handles == 0 && heap == 0 && files == 0 && strings == 0 &&
                 monikers == 0 && threads == 0;
    std::printf(
        "accounting: %s (printer handles %ld, handles %ld, heap blocks %ld, files %ld,"
        " strings %ld, monikers %ld, threads %ld)\n",
        clean ? "nothing held" : "HELD", printers, handles, heap, files, strings, monikers,
        threads);
}

// Queues the scripted user's answers in the order given.
bool QueueAnswers(const Args& args) {
    for (size_t i = 0; i < args.size(); ++i) {
        winsim::DialogOutcome o;
        if (args[i] == "--answer") {
            if (i + 1 >= args.size()) return Usage("--answer needs the answer text") == 0;
            o.kind = winsim::DialogKind::Answer;
            o.text = winsim::ToUtf16(args[++i]);
        } else if (args[i] == "--sample") {
            o.kind = winsim::DialogKind::Sample;
        } else if (args[i] == "--cancel") {
            o.kind = winsim::DialogKind::None;
        } else {
            continue;
        }
        winsim::QueueDialogOutcome(o);
    }
    return true;
}

const char* ResultName(LONG result) {
    switch (result) {
        case IDOK:
            return "IDOK";
        case IDCANCEL:
            return "IDCANCEL";
        default:
            return "";
    }
}

int DirectForms(std::u16string name, HANDLE printer, std::vector<uint8_t>& application) {
    LONG size = DocumentPropertiesW(nullptr, printer, name.data(), nullptr, nullptr, 0);
    std::printf("size query (mode 0): %d\n", size);
    if (size <= 0) return 1;
    std::vector<uint8_t> out(static_cast<size_t>(size));
    auto* dm = reinterpret_cast<DEVMODEW*>(out.data());
    LONG r = DocumentPropertiesW(nullptr, printer, name.data(), dm, nullptr, DM_OUT_BUFFER);
    std::printf("DM_OUT_BUFFER: %d %s\n", r, ResultName(r));
    PrintDevmode("  the printer's devmode", out);
    std::fill(out.begin(), out.end(), 0);
    r = DocumentPropertiesW(nullptr, printer, name.data(), dm,
                            reinterpret_cast<DEVMODEW*>(application.data()),
                            DM_IN_BUFFER | DM_OUT_BUFFER);
    std::printf("DM_IN_BUFFER|DM_OUT_BUFFER with the application's devmode: %d %s\n", r,
                ResultName(r));
    PrintDevmode("  merged", out);
    return 0;
}

int DeviceSheet(std::u16string name, HANDLE printer, const winsim::DriverRecord& driver) {
    winsim::DriverModule module = winsim::LoadDriverModule(driver.configFile);
    if (module.library == nullptr) return Fail("cannot load the driver: " + module.error);
    auto sheets = reinterpret_cast<DevicePropertySheetsFn>(
        winsim::DriverEntry(module, "DrvDevicePropertySheets"));
    DEVICEPROPERTYHEADER header = {};
    header.cbSize = sizeof header;
    header.hPrinter = printer;
    header.pszPrinterName = name.data();
    DWORD result = 0;
    LONG r = sheets != nullptr ? CommonPropertySheetUIW(nullptr, sheets,
                                                        reinterpret_cast<LPARAM>(&header), &result)
                               : -1;
    std::printf("CommonPropertySheetUIW (printer properties): %d, result %s\n", r,
                result == CPSUI_OK ? "CPSUI_OK" : "CPSUI_CANCEL");
    winsim::UnloadDriverModule(module);
    return 0;
}

}  // namespace

int Properties(const Args& args) {
    Args pos = Positional(args, {"--answer", "--paper", "--user"});
    if (pos.size() != 1) {
        return Usage(
            "properties <printer> [--device | --direct] [--refuse-page] [--answer <text> |"
            " --sample | --cancel]... [--browser | --show] [--user <action>]... [--landscape]"
            " [--paper <id>]");
    }
    winsim::PrinterRecord record;
    if (!RequirePrinter(pos[0], &record)) return 1;
    winsim::DriverRecord driver;
    if (!winsim::GetDriver(record.driver, &driver)) return Fail("the printer has no driver");
    auto has = [&](const char* flag) {
        return std::find(args.begin(), args.end(), flag) != args.end();
    };
    long paper = -1;
    if (!NumberOption(args, "--paper", 0, 32767, &paper)) return 2;
    std::vector<uint8_t> application =
        ApplicationDevmode(record, has("--landscape"), static_cast<int>(paper));
    const bool withInput = has("--landscape") || paper >= 0;

    const std::string refuseBefore = winsim::GetSetting("sheet_refuse_page", "");
    if (has("--refuse-page")) winsim::SetSetting("sheet_refuse_page", "1");
    const std::string timeoutBefore = winsim::GetSetting("sheet_timeout_ms", "");
    // Nobody closes the printer's sheet: it ends as a user would cancel it.
    if (has("--device") && timeoutBefore.empty()) winsim::SetSetting("sheet_timeout_ms", "300");
    winsim::ClearDialogQueue();
    if (!QueueAnswers(args)) return 2;
    // The page itself in the browser for this run, acted on by --user.
    const std::string dialogModeBefore = winsim::GetSetting("dialog_mode", "");
    winsim::ClearDialogUserActions();
    if (!QueueUserActions(args)) return 2;

    std::u16string name = record.name;
    winsim::Counts before = winsim::CurrentCounts();
    HANDLE printer = nullptr;
    if (!OpenPrinterW(name.data(), &printer, nullptr)) return Fail("the printer does not open");
    if (has("--browser")) winsim::SetSetting("dialog_mode", "browser");
    if (has("--show")) winsim::SetSetting("dialog_mode", "show");
    Mark mark = Now(name);
    int exitCode = 0;
    if (has("--direct")) {
        exitCode = DirectForms(name, printer, application);
    } else if (has("--device")) {
        exitCode = DeviceSheet(name, printer, driver);
    } else {
        LONG size = DocumentPropertiesW(nullptr, printer, name.data(), nullptr, nullptr, 0);
        std::vector<uint8_t> out(size > 0 ? static_cast<size_t>(size) : 0);
        DWORD mode = DM_IN_PROMPT | DM_OUT_BUFFER | (withInput ? DM_IN_BUFFER : 0);
        std::printf(
            "Printing Preferences of \"%s\": DocumentPropertiesW(DM_IN_PROMPT%s|"
            "DM_OUT_BUFFER), buffer of %d bytes\n",
            pos[0].c_str(), withInput ? "|DM_IN_BUFFER" : "", size);
        LONG r =
            out.empty()
                ? -1
                : DocumentPropertiesW(
                      nullptr, printer, name.data(), reinterpret_cast<DEVMODEW*>(out.data()),
                      withInput ? reinterpret_cast<DEVMODEW*>(application.data()) : nullptr, mode);
        winsim::WaitForProcessThreads(10000);
        PrintTimeline(mark, name);
        std::printf("DocumentPropertiesW answered %d %s\n", r, ResultName(r));
        PrintDevmode("devmode the application got", out);
        exitCode = r < 0 ? 1 : 0;
    }
    if (has("--direct") || has("--device")) {
        winsim::WaitForProcessThreads(10000);
        PrintTimeline(mark, name);
    }
    PrintStoredSettings(name);
    ClosePrinter(printer);
    PrintAccounting(before);
    winsim::SetSetting("sheet_refuse_page", refuseBefore);
    winsim::SetSetting("sheet_timeout_ms", timeoutBefore);
    winsim::SetSetting("dialog_mode", dialogModeBefore);
    auto unplayed = winsim::QueuedDialogUserActions();
    if (!unplayed.empty()) std::printf("(%zu user action(s) not played)\n", unplayed.size());
    winsim::ClearDialogUserActions();
    auto left = winsim::QueuedDialogOutcomes();
    if (!left.empty()) std::printf("(%zu scripted answer(s) not used)\n", left.size());
    winsim::ClearDialogQueue();
    return exitCode;
}

}  // namespace larksim
