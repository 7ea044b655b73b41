// DrvDocumentEvent STARTDOC: the status monitor starts from the driver's
// folder with the printer name as its whole command line, unless a window
// with the printer's status window title belongs to a process of that
// program, or the StatusMonitor value names no program of the driver's own;
// every road answers DOCUMENTEVENT_SUCCESS. The monitor is the real
// larkmon.exe of the package: its debug log says that it ran, with which
// printer, and that it ended early (no USB printer stands behind USB001,
// and LPT1: is not a USB port).
#include <cstdio>
#include <string>

#include "print_road.h"
#include "status_window.h"

namespace {

using printroad::EventFn;

const WCHAR kLog[] = TEXT("C:\\temp\\larkdeb\\larksm.txt");
constexpr char kStarted[] = "PrinterStatus: Entering";
constexpr char kNoUsbPrinter[] = "Unable to open USB port";
constexpr char kNotUsb[] = "Printer is not hooked upto a USB port";

std::vector<std::string> LogLines() {
    std::vector<std::string> lines;
    std::string text;
    if (!conformance::ReadFileBytes(kLog, &text)) return lines;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos) break;  // a line still being written
        std::string line = text.substr(at, end - at);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
        at = end + 1;
    }
    return lines;
}

long Count(const std::vector<std::string>& lines, size_t from, const char* line) {
    long n = 0;
    for (size_t i = from; i < lines.size(); ++i) n += lines[i] == line ? 1 : 0;
    return n;
}

// Waits until the log holds the line past its first `from` lines; the log
// as it then is (the line missing after 20 s).
std::vector<std::string> LogShows(size_t from, const char* line) {
    std::vector<std::string> lines;
    for (int waited = 0; waited < 20000; waited += 20) {
        lines = LogLines();
        if (Count(lines, from, line) > 0) break;
        Sleep(20);
    }
    return lines;
}

std::string DriverFileBytes(const char* name) {
    std::basic_string<WCHAR> path = conformance::DriverFolder() + conformance::Wide(name);
    std::string bytes;
    conformance::ReadFileBytes(path.c_str(), &bytes);
    return bytes;
}

struct Launch {
    EventFn event;
    long createsBefore;
    size_t from;
};

// A monitor that an earlier row started has logged its end before it exits,
// and its status window lives until then: a row starts once it is gone, so
// its STARTDOC does not find it.
void WaitForNoMonitor() {
    for (const WCHAR* printer : {conformance::kPrinter, conformance::kLptPrinter}) {
        WCHAR title[kStatusWindowTitleUnits];
        FormatStatusWindowTitle(title, printer);
        for (int waited = 0; waited < 20000 && FindWindowW(nullptr, title) != nullptr;
             waited += 20) {
            Sleep(20);
        }
    }
}

Launch BeginLaunch(EventFn event) {
    WaitForNoMonitor();
    return {event, conformance::CallCount("CreateProcessW"), LogLines().size()};
}

int StartDoc(EventFn event, const WCHAR* printerName = conformance::kPrinter) {
    printroad::Printer printer(printerName);
    return event(printer.handle, nullptr, DOCUMENTEVENT_STARTDOC, 0, nullptr, 0, nullptr);
}

// Shows that a row's STARTDOC started nothing: a monitor started after it
// runs and ends, and by then the log holds that one start and no other (a
// monitor an earlier call had started would have started first).
void StartedNothing(conformance::Context& ctx, const Launch& launch, long creates) {
    if (ctx.Counted(launch.createsBefore, "processes started")) {
        ROW_EQ(conformance::CallCount("CreateProcessW"), launch.createsBefore + creates);
    }
    ROW_EQ(StartDoc(launch.event), DOCUMENTEVENT_SUCCESS);
    std::vector<std::string> lines = LogShows(launch.from, kNoUsbPrinter);
    ROW_EQ(Count(lines, launch.from, kStarted), 1);
}

}  // namespace

CONFORMANCE_TABLE(MonitorLaunch, "DrvDocumentEvent STARTDOC and the status monitor") {
    auto event = conformance::Entry<EventFn>("DrvDocumentEvent");
    if (!ctx.Begin("the entry point is exported and the monitor's log folder made")) return;
    ROW_CHECK(conformance::SetMonitorLogFolder(true));
    if (!ROW_CHECK(event != nullptr)) return;

    if (ctx.Begin("no status window: larkmon.exe starts with the printer name, ends without a "
                  "USB printer")) {
        Launch launch = BeginLaunch(event);
        ROW_EQ(StartDoc(event), DOCUMENTEVENT_SUCCESS);
        std::vector<std::string> lines = LogShows(launch.from, kNoUsbPrinter);
        ROW_EQ(Count(lines, launch.from, kStarted), 1);
        ROW_EQ(Count(lines, launch.from, kNoUsbPrinter), 1);
        if (ctx.Counted(launch.createsBefore, "processes started")) {
            ROW_EQ(conformance::CallCount("CreateProcessW"), launch.createsBefore + 1);
        }
    }
    if (ctx.Begin("the LPT1: printer: its monitor opens it by the whole command line")) {
        Launch launch = BeginLaunch(event);
        ROW_EQ(StartDoc(event, conformance::kLptPrinter), DOCUMENTEVENT_SUCCESS);
        std::vector<std::string> lines = LogShows(launch.from, kNotUsb);
        ROW_EQ(Count(lines, launch.from, kStarted), 1);
        ROW_EQ(Count(lines, launch.from, kNotUsb), 1);
    }
    if (ctx.Begin("windows of another program titled with the status window title: the "
                  "monitor starts all the same")) {
        Launch launch = BeginLaunch(event);
        WNDCLASSW wc = {};
        wc.lpfnWndProc = DefWindowProcW;
        wc.lpszClassName = TEXT("LarkTestStatus");
        RegisterClassW(&wc);
        WCHAR title[kStatusWindowTitleUnits];
        FormatStatusWindowTitle(title, conformance::kPrinter);
        HWND windows[3] = {};
        for (HWND& window : windows) {
            window = CreateWindowExW(0, wc.lpszClassName, title, 0, 0, 0, 0, 0, nullptr, nullptr,
                                     nullptr, nullptr);
            ROW_CHECK(window != nullptr);
        }
        ROW_EQ(StartDoc(event), DOCUMENTEVENT_SUCCESS);
        std::vector<std::string> lines = LogShows(launch.from, kNoUsbPrinter);
        ROW_EQ(Count(lines, launch.from, kStarted), 1);
        if (ctx.Counted(launch.createsBefore, "processes started")) {
            ROW_EQ(conformance::CallCount("CreateProcessW"), launch.createsBefore + 1);
        }
        for (HWND window : windows) {
            if (window != nullptr) DestroyWindow(window);
        }
    }
    if (ctx.Begin("the window of a monitor that still polls: nothing more starts",
                  conformance::WinsimOnly(
                      "no USB printer stands behind USB001 under Wine, so a real monitor ends "
                      "within milliseconds and no second STARTDOC can find its window"))) {
        Launch launch = BeginLaunch(event);
        ROW_CHECK(conformance::SetPollingPrinter(true));
        ROW_EQ(StartDoc(event), DOCUMENTEVENT_SUCCESS);
        WCHAR title[kStatusWindowTitleUnits];
        FormatStatusWindowTitle(title, conformance::kPrinter);
        bool shown = false;
        for (int waited = 0; waited < 20000 && !shown; waited += 20) {
            shown = FindWindowW(nullptr, title) != nullptr;
            if (!shown) Sleep(20);
        }
        ROW_CHECK(shown);
        ROW_EQ(StartDoc(event), DOCUMENTEVENT_SUCCESS);
        ROW_EQ(StartDoc(event), DOCUMENTEVENT_SUCCESS);
        ROW_EQ(conformance::CallCount("CreateProcessW"), launch.createsBefore + 1);
        ROW_CHECK(conformance::SetPollingPrinter(false));
    }
    // Copies of the monitor under other names: one that the driver starts
    // when it reads the name, one that would start if it read too much.
    const std::string monitor = DriverFileBytes("larkmon.exe");
    if (ctx.Begin("a StatusMonitor name of 16 characters is read: that program starts",
                  conformance::WineDiffers(
                      "Wine's spooler calls RegSetValueExW with the caller's own buffer, "
                      "which (as on Windows) counts the zero found after the counted text; "
                      "Windows' spooler is handed the counted bytes only. So the 32 bytes of "
                      "a 16-character name need 34 and the name is not read: nothing starts"))) {
        Launch launch = BeginLaunch(event);
        ROW_CHECK(!monitor.empty() && conformance::WriteDriverFile("larkmonitor1.exe", monitor));
        ROW_CHECK(conformance::ListDriverFile("larkmonitor1.exe"));
        ROW_CHECK(printroad::SetText(TEXT("StatusMonitor"), "larkmonitor1.exe"));
        ROW_EQ(StartDoc(event), DOCUMENTEVENT_SUCCESS);
        if (ctx.WineExpectation()) {
            ROW_CHECK(conformance::ResetPrinter());
            StartedNothing(ctx, launch, 0);
        } else {
            std::vector<std::string> lines = LogShows(launch.from, kNoUsbPrinter);
            ROW_EQ(Count(lines, launch.from, kStarted), 1);
            ROW_CHECK(conformance::ResetPrinter());
        }
    }
    // Each row's copies of the monitor lie in the driver's folder; only the
    // names listed are the driver's own files.
    const struct {
        const char* name;
        const char* value;   // nullptr: no StatusMonitor value
        const char* copy;    // a copy of the monitor in the driver's folder
        const char* listed;  // a file the driver lists as its own
        long creates;        // CreateProcessW calls
    } values[] = {
        {"a StatusMonitor value with a folder in it, though it names a listed copy of the "
         "monitor: nothing starts",
         "..\\3\\lm.exe", "lm.exe", "lm.exe", 0},
        {"a StatusMonitor name of another extension, listed and in the folder: nothing starts",
         "lm.com", "lm.com", "lm.com", 0},
        {"a StatusMonitor name the driver does not list, though in its folder: nothing starts",
         "lmx.exe", "lmx.exe", nullptr, 0},
        {"no StatusMonitor value: nothing starts", nullptr, "larkmonitor12.exe",
         "larkmonitor12.exe", 0},
        {"a StatusMonitor name of 17 characters is not read: nothing starts", "larkmonitor12.exe",
         "larkmonitor12.exe", "larkmonitor12.exe", 0},
        {"a StatusMonitor program that is listed but missing: its start fails silently",
         "nomon.exe", nullptr, "nomon.exe", 1},
    };
    for (const auto& row : values) {
        if (!ctx.Begin(row.name)) continue;
        Launch launch = BeginLaunch(event);
        if (row.copy != nullptr) {
            ROW_CHECK(!monitor.empty() && conformance::WriteDriverFile(row.copy, monitor));
        }
        if (row.listed != nullptr) ROW_CHECK(conformance::ListDriverFile(row.listed));
        if (row.value == nullptr) {
            ROW_CHECK(conformance::RemovePrinterValue(TEXT("StatusMonitor")));
        } else {
            ROW_CHECK(printroad::SetText(TEXT("StatusMonitor"), row.value));
        }
        ROW_EQ(StartDoc(event), DOCUMENTEVENT_SUCCESS);
        ROW_CHECK(conformance::ResetPrinter());
        StartedNothing(ctx, launch, row.creates);
    }
    if (ctx.Begin("a listed StatusMonitor name in the driver's folder: that program starts")) {
        Launch launch = BeginLaunch(event);
        ROW_CHECK(!monitor.empty() && conformance::WriteDriverFile("lm.exe", monitor));
        ROW_CHECK(conformance::ListDriverFile("lm.exe"));
        ROW_CHECK(printroad::SetText(TEXT("StatusMonitor"), "lm.exe"));
        ROW_EQ(StartDoc(event), DOCUMENTEVENT_SUCCESS);
        std::vector<std::string> lines = LogShows(launch.from, kNoUsbPrinter);
        ROW_EQ(Count(lines, launch.from, kStarted), 1);
        ROW_CHECK(conformance::ResetPrinter());
    }
    // The driver directory as the spooler answers it: longer than the old
    // 256-byte request held, longer than the buffer, or not there at all
    // (where the old launch completed \3\larkmon.exe with the current drive).
    const std::basic_string<WCHAR> deep =
        TEXT("C:\\Windows\\System32\\spool\\drivers\\") + std::basic_string<WCHAR>(150, 'd');
    const std::basic_string<WCHAR> tooDeep =
        TEXT("C:\\Windows\\System32\\spool\\drivers\\") + std::basic_string<WCHAR>(240, 'd');
    const char* fixed =
        "Wine's driver directory is its prefix's own, and its spooler calls fail "
        "only through winsim's fault injection";
    if (ctx.Begin("a driver directory of 184 characters: the monitor starts from it",
                  conformance::WinsimOnly(fixed))) {
        Launch launch = BeginLaunch(event);
        ROW_CHECK(conformance::SetDriverDirectory(deep.c_str()));
        ROW_EQ(StartDoc(event), DOCUMENTEVENT_SUCCESS);
        std::vector<std::string> lines = LogShows(launch.from, kNoUsbPrinter);
        ROW_EQ(Count(lines, launch.from, kStarted), 1);
        ROW_CHECK(conformance::ResetPrinter());
    }
    const struct {
        const char* name;
        const WCHAR* directory;  // nullptr: the query fails
    } directories[] = {
        {"a driver directory longer than its 256-unit buffer: nothing starts", tooDeep.c_str()},
        {"the driver directory query fails: nothing starts, not \\3\\larkmon.exe on the current "
         "drive",
         nullptr},
    };
    for (const auto& row : directories) {
        if (!ctx.Begin(row.name, conformance::WinsimOnly(fixed))) continue;
        Launch launch = BeginLaunch(event);
        if (row.directory != nullptr) {
            ROW_CHECK(conformance::SetDriverDirectory(row.directory));
        } else {
            conformance::FailCall("GetPrinterDriverDirectoryW", 1, ERROR_GEN_FAILURE);
        }
        ROW_EQ(StartDoc(event), DOCUMENTEVENT_SUCCESS);
        ROW_CHECK(conformance::ResetPrinter());
        StartedNothing(ctx, launch, 0);
    }
    if (ctx.Begin("no printer handle, so no printer information: nothing starts")) {
        Launch launch = BeginLaunch(event);
        ROW_EQ(event(nullptr, nullptr, DOCUMENTEVENT_STARTDOC, 0, nullptr, 0, nullptr),
               DOCUMENTEVENT_SUCCESS);
        StartedNothing(ctx, launch, 0);
    }
    if (ctx.Begin("GetPrinterW fails: nothing starts",
                  conformance::WinsimOnly("GetPrinterW fails only through winsim's fault "
                                          "injection"))) {
        Launch launch = BeginLaunch(event);
        printroad::Printer printer;
        conformance::FailCall("GetPrinterW", 1, ERROR_GEN_FAILURE);
        ROW_EQ(event(printer.handle, nullptr, DOCUMENTEVENT_STARTDOC, 0, nullptr, 0, nullptr),
               DOCUMENTEVENT_SUCCESS);
        ROW_CHECK(conformance::ResetPrinter());
        StartedNothing(ctx, launch, 0);
    }
    if (ctx.Begin("the monitor's log folder removed again")) {
        ROW_CHECK(conformance::SetMonitorLogFolder(false));
    }
}
