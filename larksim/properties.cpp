// larksim properties: plays Printing Preferences as an application opens
// it (DocumentPropertiesW with DM_IN_PROMPT), or the printer's own sheet,
// or the direct forms, and shows the road as one timeline: the sheet's
// reasons and page, the dialog's showings and answers, sample jobs, the
// closing thread's looks and presses, and what the application got back.
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

#include "driver_devmode.h"
#include "larksim.h"
#include "winsim/road_records.h"

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

std::string Hex(HRESULT value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(value));
    return text;
}

struct Mark {
    int64_t uiSeq = 0;
    size_t showings = 0;
    size_t jobs = 0;
    size_t refusals = 0;
};

Mark Now(const std::u16string& printer) {
    Mark m;
    m.refusals = winsim::Refusals().size();
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
                // The devmode's field holds 511 characters; the driver
                // refuses a longer answer whole.
                if (d.answer.size() >= kSettingsUnits) {
                    text += " -> refused by the driver: " + std::to_string(d.answer.size()) +
                            " characters, more than the " + std::to_string(kSettingsUnits - 1) +
                            " the devmode holds, so the settings stay as they were";
                }
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
                text += "failed with error " + Hex(d.result) + ": no answer" +
                        (d.answer.empty() ? std::string()
                                          : " (in the browser: " + winsim::ToUtf8(d.answer) + ")");
                break;
        }
        lines.push_back({d.micros, text});
    }
    // What the user's rights kept from the spooler: a handle for
    // administration refused keeps the answer out of PrinterSettings.
    const auto refusals = winsim::Refusals();
    for (size_t i = mark.refusals; i < refusals.size(); ++i) {
        const auto& r = refusals[i];
        std::string text = r.call + " refused (user " + r.user + "): error " +
                           std::to_string(r.error) + " (ERROR_ACCESS_DENIED)";
        if (r.call == "OpenPrinterW") text += ", so PrinterSettings is not stored";
        lines.push_back({r.micros, text});
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

// The scripted outcomes of this command's --answer, --sample and --cancel,
// in the order given.
std::vector<winsim::DialogOutcome> OwnAnswers(const Args& args) {
    std::vector<winsim::DialogOutcome> own;
    for (size_t i = 0; i < args.size(); ++i) {
        winsim::DialogOutcome o;
        if (args[i] == "--answer") {
            o.kind = winsim::DialogKind::Answer;
            o.text = winsim::ToUtf16(args[++i]);
        } else if (args[i] == "--sample") {
            o.kind = winsim::DialogKind::Sample;
        } else if (args[i] == "--cancel") {
            o.kind = winsim::DialogKind::None;
        } else {
            if (args[i] == "--paper" || args[i] == "--user" || args[i] == "--in" ||
                args[i] == "--out") {
                ++i;  // a value, not a flag
            }
            continue;
        }
        own.push_back(o);
    }
    return own;
}

// A command's own answers and user actions are for its own showings: what
// `dialog answer|sample|user` queued before waits aside while the command
// runs and is put back after it, and what the command's showings left of
// its own is dropped, and said, so it never takes over a later command.
class OwnQueue {
public:
    OwnQueue(std::vector<winsim::DialogOutcome> answers, std::vector<std::string> actions)
        : answers_(std::move(answers)), actions_(std::move(actions)) {
        if (!answers_.empty()) {
            asideAnswers_ = winsim::QueuedDialogOutcomes();
            winsim::ClearDialogQueue();
            for (const auto& o : answers_) winsim::QueueDialogOutcome(o);
        }
        if (!actions_.empty()) {
            asideActions_ = winsim::QueuedDialogUserActions();
            winsim::ClearDialogUserActions();
            for (const auto& a : actions_) winsim::QueueDialogUserAction(a);
        }
    }
    // After the road: failed tells that a browser showing failed, which
    // ends that showing and drops the user actions after the one it got to.
    void Finish(bool failed) {
        std::vector<std::string> actionsLeft = winsim::QueuedDialogUserActions();
        if (failed && !actionsLeft.empty()) {
            const std::vector<std::string>& played = actions_.empty() ? asideActions_ : actions_;
            size_t reached =
                played.size() >= actionsLeft.size() ? played.size() - actionsLeft.size() : 0;
            if (reached > 0) {
                std::printf("(the showing failed at user action %zu, '%s': ", reached,
                            played[reached - 1].c_str());
            } else {
                std::printf("(the showing failed before its first user action: ");
            }
            std::printf("%zu user action(s) after it dropped: %s)\n", actionsLeft.size(),
                        Joined(actionsLeft).c_str());
            winsim::ClearDialogUserActions();
            actionsLeft.clear();
            if (actions_.empty()) asideActions_.clear();
        }
        if (!answers_.empty()) {
            auto left = winsim::QueuedDialogOutcomes();
            if (!left.empty()) {
                std::printf(
                    "(%zu of this command's %zu answer(s) not taken by a showing: dropped)\n",
                    left.size(), answers_.size());
            }
            winsim::ClearDialogQueue();
            for (const auto& o : asideAnswers_) winsim::QueueDialogOutcome(o);
        }
        if (!actions_.empty()) {
            if (!actionsLeft.empty()) {
                std::printf("(%zu of this command's %zu user action(s) not played: dropped: %s)\n",
                            actionsLeft.size(), actions_.size(), Joined(actionsLeft).c_str());
            }
            winsim::ClearDialogUserActions();
            for (const auto& a : asideActions_) winsim::QueueDialogUserAction(a);
        }
        size_t answersQueued = winsim::QueuedDialogOutcomes().size();
        size_t actionsQueued = winsim::QueuedDialogUserActions().size();
        if (answersQueued != 0) {
            std::printf("(%zu answer(s) queued with `larksim dialog` wait for the next command)\n",
                        answersQueued);
        }
        if (actionsQueued != 0) {
            std::printf(
                "(%zu user action(s) queued with `larksim dialog user` wait for the next "
                "command)\n",
                actionsQueued);
        }
    }

private:
    static std::string Joined(const std::vector<std::string>& actions) {
        std::string text;
        for (const auto& a : actions) text += (text.empty() ? "'" : ", '") + a + "'";
        return text;
    }
    std::vector<winsim::DialogOutcome> answers_;
    std::vector<std::string> actions_;
    std::vector<winsim::DialogOutcome> asideAnswers_;
    std::vector<std::string> asideActions_;
};

// What DocumentPropertiesW's answer gave the application, in words: a
// failed call leaves its buffer as it was, and a showing that failed or
// was refused changes no setting.
void SayWhatTheApplicationGot(LONG result, const Mark& mark) {
    if (result < 0) {
        std::printf(
            "the application got no devmode: DocumentPropertiesW failed, so its buffer holds what"
            " it held before (zeros here)\n");
        return;
    }
    const auto showings = winsim::DialogShowings();
    size_t shown = showings.size() > mark.showings ? showings.size() - mark.showings : 0;
    if (shown == 0) {
        std::printf("no settings dialog was shown: the application got its devmode unchanged\n");
        return;
    }
    const winsim::DialogShowing& last = showings.back();
    if (last.outcome == winsim::DialogKind::Fail) {
        std::printf(
            "the settings dialog failed (error %s), so nothing was chosen: the application got"
            " the devmode it started from\n",
            Hex(last.result).c_str());
    } else if (last.outcome == winsim::DialogKind::Answer && last.answer.size() >= kSettingsUnits) {
        std::printf(
            "the driver refused the answer as too long: the application got the devmode it"
            " started from\n");
    } else if (last.outcome != winsim::DialogKind::Answer) {
        std::printf(
            "the dialog answered no settings: the application got the devmode it"
            " started from\n");
    }
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

int DirectForms(std::u16string name, HANDLE printer, std::vector<uint8_t>& application,
                std::vector<uint8_t>* merged) {
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
    if (r == IDOK) *merged = out;
    return r == IDOK ? 0 : 1;
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

// The devmode an application kept from an earlier run: a whole record, or
// nothing (the reason set).
bool ReadDevmodeFile(const std::string& path, std::vector<uint8_t>* devmode, std::string* why) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        *why = "cannot read " + path + (stat(path.c_str(), &st) == 0 ? ": not a file" : "");
        return false;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        *why = "cannot read " + path;
        return false;
    }
    // A devmode is a few kilobytes: anything far larger is no devmode.
    constexpr size_t kLargest = 1 << 20;
    devmode->resize(kLargest + 1);
    in.read(reinterpret_cast<char*>(devmode->data()), static_cast<std::streamsize>(kLargest + 1));
    if (in.bad()) {
        *why = "cannot read " + path;
        return false;
    }
    devmode->resize(static_cast<size_t>(in.gcount()));
    if (devmode->size() > kLargest) {
        *why = path + " holds no devmode (more than " + std::to_string(kLargest) + " bytes)";
        return false;
    }
    const auto* dm = reinterpret_cast<const DEVMODEW*>(devmode->data());
    if (devmode->size() < sizeof(DEVMODEW) || dm->dmSize < offsetof(DEVMODEW, dmFields) ||
        static_cast<size_t>(dm->dmSize) + dm->dmDriverExtra > devmode->size()) {
        *why = path + " holds no whole devmode (" + std::to_string(devmode->size()) + " bytes)";
        return false;
    }
    return true;
}

bool WriteDevmodeFile(const std::string& path, const std::vector<uint8_t>& devmode) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(devmode.data()),
              static_cast<std::streamsize>(devmode.size()));
    out.close();
    return static_cast<bool>(out);
}

// The record's own bytes: dmSize + dmDriverExtra of a buffer that holds it.
std::vector<uint8_t> Whole(const std::vector<uint8_t>& buffer) {
    if (buffer.size() < sizeof(DEVMODEW)) return {};
    const auto* dm = reinterpret_cast<const DEVMODEW*>(buffer.data());
    size_t size = std::min(buffer.size(), static_cast<size_t>(dm->dmSize) + dm->dmDriverExtra);
    return std::vector<uint8_t>(buffer.begin(), buffer.begin() + static_cast<long>(size));
}

// Why the driver's settings page cannot be shown, or empty: the page that
// the data file's UIConfigFile names must lie in the driver's folder.
std::string SettingsPageMissing(const winsim::DriverRecord& driver) {
    std::ifstream data(winsim::HostPath(driver.dataFile));
    if (!data) return "the driver has no data file at " + winsim::ToUtf8(driver.dataFile);
    std::string line, page;
    bool inSection = false;
    while (std::getline(data, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.rfind("[InstallConfig]", 0) == 0) {
            inSection = true;
        } else if (line.empty() || static_cast<unsigned char>(line[0]) < 0x20) {
            inSection = false;
        } else if (inSection && line.find("UIConfigFile") != std::string::npos) {
            size_t eq = line.find('=');
            if (eq != std::string::npos) {
                page = line.substr(eq + 1);
                page.erase(0, page.find_first_not_of(" \t"));
            }
            break;
        }
    }
    if (page.empty()) return "the driver's data file names no settings page (UIConfigFile)";
    std::u16string folder = driver.dataFile.substr(0, driver.dataFile.rfind(u'\\') + 1);
    std::u16string path = folder + winsim::ToUtf16(page);
    struct stat st {};
    if (stat(winsim::HostPath(path).c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        return "the driver's settings page " + winsim::ToUtf8(path) + " is missing";
    }
    return "";
}

// The printers folder's Printing Preferences: the printer's default devmode
// goes in, and what the user chose is kept as the user's own default
// (SetPrinterW level 9, the per-user devmode, which any user may set and
// GetPrinterW level 2 answers from then on), so the next opening of the
// preferences and the next document start from it.
int PrintersFolder(std::u16string name, HANDLE printer, const Mark& mark,
                   std::vector<uint8_t>* kept) {
    DWORD needed = 0;
    GetPrinterW(printer, 2, nullptr, 0, &needed);
    std::vector<uint8_t> info(needed);
    std::vector<uint8_t> current;
    if (needed != 0 && GetPrinterW(printer, 2, info.data(), needed, &needed)) {
        auto* p2 = reinterpret_cast<PRINTER_INFO_2W*>(info.data());
        if (p2->pDevMode != nullptr) {
            const auto* bytes = reinterpret_cast<const uint8_t*>(p2->pDevMode);
            current.assign(bytes, bytes + p2->pDevMode->dmSize + p2->pDevMode->dmDriverExtra);
        }
    }
    if (current.empty()) return Fail("the printer has no default devmode to start from");
    LONG size = DocumentPropertiesW(nullptr, printer, name.data(), nullptr, nullptr, 0);
    std::vector<uint8_t> out(size > 0 ? static_cast<size_t>(size) : 0);
    std::printf(
        "Printing Preferences of \"%s\" from the printers folder: DocumentPropertiesW("
        "DM_IN_PROMPT|DM_IN_BUFFER|DM_OUT_BUFFER) with the printer's default devmode, buffer of "
        "%d bytes\n",
        winsim::ToUtf8(name).c_str(), size);
    LONG r = out.empty() ? -1
                         : DocumentPropertiesW(nullptr, printer, name.data(),
                                               reinterpret_cast<DEVMODEW*>(out.data()),
                                               reinterpret_cast<DEVMODEW*>(current.data()),
                                               DM_IN_PROMPT | DM_IN_BUFFER | DM_OUT_BUFFER);
    winsim::WaitForProcessThreads(10000);
    PrintTimeline(mark, name);
    std::printf("DocumentPropertiesW answered %d %s\n", r, ResultName(r));
    SayWhatTheApplicationGot(r, mark);
    if (r != IDOK) {
        std::printf("the printer's default devmode stays as it was\n");
        return out.empty() ? 1 : 0;
    }
    PrintDevmode("devmode the preferences answered", out);
    PRINTER_INFO_9W user = {reinterpret_cast<DEVMODEW*>(out.data())};
    if (!SetPrinterW(printer, 9, reinterpret_cast<LPBYTE>(&user), 0)) {
        return Fail("SetPrinterW level 9 failed, error " + std::to_string(GetLastError()));
    }
    std::printf("kept as the user's default devmode: SetPrinterW level 9\n");
    *kept = Whole(out);
    return 0;
}

}  // namespace

int Properties(const Args& args) {
    const char* usage =
        "properties <printer> [--device | --direct | --printers-folder] [--refuse-page]"
        " [--answer <text> | --sample | --cancel]... [--browser | --show] [--user <action>]..."
        " [--landscape] [--paper <id>] [--in <file>] [--out <file>]";
    Args pos;
    if (!CheckFlags(args, {"--answer", "--paper", "--user", "--in", "--out"},
                    {"--device", "--direct", "--printers-folder", "--refuse-page", "--sample",
                     "--cancel", "--browser", "--show", "--landscape"},
                    &pos)) {
        return 2;
    }
    if (pos.size() != 1) return Usage(usage);
    if (!Exclusive(args, {"--device", "--direct", "--printers-folder"}) ||
        !Exclusive(args, {"--browser", "--show"})) {
        return 2;
    }
    const bool direct = Has(args, "--direct"), device = Has(args, "--device"),
               folder = Has(args, "--printers-folder");
    // What a road has no use for is refused, not ignored.
    auto refuse = [&](const char* road, const std::vector<std::string>& flags) {
        for (const auto& f : flags) {
            if (Has(args, f)) return Usage(f + " has no meaning with " + road) == 0;
        }
        return true;
    };
    const std::vector<std::string> dialogFlags = {"--answer", "--sample",  "--cancel",
                                                  "--user",   "--browser", "--show"};
    if (direct && !refuse("--direct (no dialog is shown)", dialogFlags)) return 2;
    if (direct && !refuse("--direct", {"--refuse-page"})) return 2;
    if (device && !refuse("--device (the printer's sheet shows no dialog)", dialogFlags)) return 2;
    if (device && !refuse("--device", {"--landscape", "--paper", "--in", "--out"})) return 2;
    if (folder && !refuse("--printers-folder (it starts from the printer's own devmode)",
                          {"--landscape", "--paper", "--in"})) {
        return 2;
    }
    long paper = -1;
    if (!NumberOption(args, "--paper", 0, 32767, &paper)) return 2;
    std::vector<std::string> actions;
    if (!UserActions(args, &actions)) return 2;

    winsim::PrinterRecord record;
    if (!RequirePrinter(pos[0], &record)) return 1;
    winsim::DriverRecord driver;
    if (!winsim::GetDriver(record.driver, &driver)) return Fail("the printer has no driver");
    // A road asked for that cannot run here ends before it starts, with why.
    const bool showsDialog = !direct && !device;
    std::string mode = winsim::GetSetting("dialog_mode", "");
    if (Has(args, "--browser")) mode = "browser";
    if (Has(args, "--show")) mode = "show";
    const bool inBrowser = showsDialog && (mode == "browser" || mode == "show");
    // In the browser the page itself answers, acted on by the user; the
    // scripted answers are for the scripted dialog alone.
    if (showsDialog && !inBrowser && Has(args, "--user")) {
        return Usage(
            "--user acts on the page in the browser: give --browser or --show (or set"
            " dialog_mode browser)");
    }
    if (inBrowser) {
        for (const char* scripted : {"--answer", "--sample", "--cancel"}) {
            if (Has(args, scripted)) {
                return Usage(std::string(scripted) +
                             " scripts the dialog, which the browser does not take: the page"
                             " answers there, acted on by --user");
            }
        }
    }
    if (inBrowser) {
        std::string missing = winsim::BrowserDialogMissing();
        if (!missing.empty())
            return Fail("the settings page cannot run in the browser: " + missing);
        if (mode == "show" && std::getenv("DISPLAY") == nullptr &&
            std::getenv("WAYLAND_DISPLAY") == nullptr) {
            return Fail("--show needs a display (set DISPLAY, or run under xvfb-run)");
        }
    }
    if (showsDialog) {
        std::string missing = SettingsPageMissing(driver);
        if (!missing.empty()) return Fail("Printing Preferences cannot run: " + missing);
    }
    std::vector<uint8_t> application;
    if (Has(args, "--in")) {
        std::string why;
        if (!ReadDevmodeFile(Option(args, "--in", ""), &application, &why)) return Fail(why);
        ChooseOnDevmode(&application, Has(args, "--landscape"), static_cast<int>(paper));
    } else {
        application = ApplicationDevmode(record, Has(args, "--landscape"), static_cast<int>(paper));
    }
    const bool withInput = Has(args, "--in") || Has(args, "--landscape") || paper >= 0;

    const std::string refuseBefore = winsim::GetSetting("sheet_refuse_page", "");
    if (Has(args, "--refuse-page")) winsim::SetSetting("sheet_refuse_page", "1");
    const std::string timeoutBefore = winsim::GetSetting("sheet_timeout_ms", "");
    // Nobody closes the printer's sheet: it ends as a user would cancel it.
    if (device && timeoutBefore.empty()) winsim::SetSetting("sheet_timeout_ms", "300");
    OwnQueue queue(OwnAnswers(args), actions);
    // The page itself in the browser for this run, acted on by --user.
    const std::string dialogModeBefore = winsim::GetSetting("dialog_mode", "");

    std::u16string name = record.name;
    winsim::Counts before = winsim::CurrentCounts();
    HANDLE printer = nullptr;
    if (!OpenPrinterW(name.data(), &printer, nullptr)) return Fail("the printer does not open");
    if (Has(args, "--browser")) winsim::SetSetting("dialog_mode", "browser");
    if (Has(args, "--show")) winsim::SetSetting("dialog_mode", "show");
    Mark mark = Now(name);
    int exitCode = 0;
    std::vector<uint8_t> answered;  // the devmode the application keeps
    if (direct) {
        exitCode = DirectForms(name, printer, application, &answered);
        answered = Whole(answered);
    } else if (device) {
        exitCode = DeviceSheet(name, printer, driver);
    } else if (folder) {
        exitCode = PrintersFolder(name, printer, mark, &answered);
    } else {
        LONG size = DocumentPropertiesW(nullptr, printer, name.data(), nullptr, nullptr, 0);
        std::vector<uint8_t> out(size > 0 ? static_cast<size_t>(size) : 0);
        DWORD dmMode = DM_IN_PROMPT | DM_OUT_BUFFER | (withInput ? DM_IN_BUFFER : 0);
        std::printf(
            "Printing Preferences of \"%s\": DocumentPropertiesW(DM_IN_PROMPT%s|"
            "DM_OUT_BUFFER), buffer of %d bytes\n",
            pos[0].c_str(), withInput ? "|DM_IN_BUFFER" : "", size);
        LONG r = out.empty()
                     ? -1
                     : DocumentPropertiesW(
                           nullptr, printer, name.data(), reinterpret_cast<DEVMODEW*>(out.data()),
                           withInput ? reinterpret_cast<DEVMODEW*>(application.data()) : nullptr,
                           dmMode);
        winsim::WaitForProcessThreads(10000);
        PrintTimeline(mark, name);
        std::printf("DocumentPropertiesW answered %d %s\n", r, ResultName(r));
        SayWhatTheApplicationGot(r, mark);
        if (r == IDOK) PrintDevmode("devmode the application got", out);
        if (r == IDOK) answered = Whole(out);
        // The road ran: a refused page or a failed showing is its outcome.
        exitCode = out.empty() ? 1 : 0;
    }
    if (direct || device) {
        winsim::WaitForProcessThreads(10000);
        PrintTimeline(mark, name);
    }
    PrintStoredSettings(name);
    ClosePrinter(printer);
    PrintAccounting(before);
    winsim::SetSetting("sheet_refuse_page", refuseBefore);
    winsim::SetSetting("sheet_timeout_ms", timeoutBefore);
    winsim::SetSetting("dialog_mode", dialogModeBefore);
    if (Has(args, "--out")) {
        const std::string path = Option(args, "--out", "");
        if (answered.empty()) {
            std::printf("(no devmode answered: %s not written, the application keeps its own)\n",
                        path.c_str());
        } else if (!WriteDevmodeFile(path, answered)) {
            exitCode = Fail("cannot write " + path);
        } else {
            std::printf("devmode kept in %s (%zu bytes)\n", path.c_str(), answered.size());
        }
    }
    bool browserFailed = false;
    if (inBrowser) {
        auto showings = winsim::DialogShowings();
        for (size_t i = mark.showings; i < showings.size(); ++i) {
            browserFailed = browserFailed || showings[i].outcome == winsim::DialogKind::Fail;
        }
    }
    queue.Finish(browserFailed);
    // A showing the browser could not play (a user action that names no
    // paper or button, a page that does not load) is a road that did not
    // run; winsim has said why.
    if (browserFailed) {
        winsim::RecordRoadEnd("properties", name, 1, answered);
        return Fail("the settings dialog could not be played in the browser");
    }
    winsim::RecordRoadEnd(direct   ? "properties --direct"
                          : device ? "properties --device"
                          : folder ? "properties --printers-folder"
                                   : "properties",
                          name, exitCode, answered);
    return exitCode;
}

}  // namespace larksim
