// The status monitor against a USB printer: larkmon.exe started as STARTDOC
// starts it, its device scripted poll by poll (USB001 behind kPrinter,
// USB002 behind kSecondPrinter), every run ended by the device going away
// ("PrinterStatus: Device id failed"), so a run takes as many seconds as it
// has polls. What the monitor reported to the spooler (SetPortW level 3),
// the boxes it showed and its debug log are the rows' evidence.
#include <string>
#include <vector>

#include "print_road.h"
#include "status_window.h"

namespace {

using conformance::BoxCall;
using conformance::MonitorRun;
using conformance::PortStatusCall;

const WCHAR kLog[] = TEXT("C:\\temp\\larkdeb\\larksm.txt");
constexpr DWORD kWaitMs = 60000;
constexpr UINT kBoxStyle = MB_OK | MB_ICONEXCLAMATION | MB_TOPMOST;
// The status message the rows store for kPrinter, and the box's text made
// of it; kSecondPrinter has none, so its box shows the built-in text.
constexpr char kMessage[] = "Check the printer.\\nThen press OK.";
constexpr char kBoxText[] = "Check the printer.\r\nThen press OK.";
constexpr char kDefaultText[] =
    "There is a problem with your printer.\r\nCheck your printer screen for more information.";

// A device ID whose S field has the version, the status byte at positions
// 19-20 and the tail after it.
std::string Id(const char* version, const char* status, const std::string& tail = "") {
    return "MFG:Lark;CMD:JPEG;MDL:Photo;CLS:PRINTER;S:" + std::string(version) + "00000000000000" +
           status + tail + ";";
}

// A supply record of the kind at the level, 8 hex digits.
std::string Supply(int kind, int level, bool present = true) {
    char record[16];
    std::snprintf(record, sizeof record, "%02X%02X0000", (present ? 0x80 : 0) | kind, level);
    return record;
}

// The device on the port answers the IDs, one per poll, and is gone after
// them.
bool Script(const WCHAR* port, const std::vector<std::string>& ids) {
    return conformance::SetUsbScript(port, ids, static_cast<DWORD>(ids.size() + 1));
}

// One monitor from a fresh log to its end; its log.
bool RunOne(const WCHAR* printer, MonitorRun* run, std::string* log) {
    conformance::SetMonitorLogFolder(false);
    conformance::SetMonitorLogFolder(true);
    const int monitor = conformance::StartMonitor(printer);
    const bool ended = monitor != 0 && conformance::WaitMonitor(monitor, kWaitMs, run);
    log->clear();
    conformance::ReadFileBytes(kLog, log);
    return ended;
}

// The log's lines, CR LF taken off.
std::vector<std::string> Lines(const std::string& log) {
    std::vector<std::string> lines;
    size_t at = 0;
    while (at < log.size()) {
        size_t end = log.find('\n', at);
        if (end == std::string::npos) end = log.size();
        std::string line = log.substr(at, end - at);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
        at = end + 1;
    }
    return lines;
}

bool Contains(const std::vector<std::string>& lines, const std::string& line) {
    for (const std::string& l : lines) {
        if (l == line) return true;
    }
    return false;
}

// Each run ends the same way: the device gone, exit code 0, nothing held.
void EndedByTheDevice(conformance::Context& ctx, bool ended, const MonitorRun& run,
                      const std::string& log) {
    ROW_CHECK(ended);
    ROW_EQ(run.exitCode, 0u);
    if (ctx.Counted(run.heldAtExit, "held at the monitor's exit")) ROW_EQ(run.heldAtExit, 0L);
    const std::string end = "PrinterStatus: Device id failed\r\nPrinterStatus: Exiting....\r\n\r\n";
    ROW_CHECK(log.size() >= end.size() &&
              log.compare(log.size() - end.size(), end.size(), end) == 0);
}

struct StatusRow {
    const char* name;
    std::string id;
    DWORD status;
    const char* text;  // nullptr: none
    DWORD severity;
    bool box;  // a box after this poll's port status
};

// The statuses of one run, poll by poll, against the rows.
void CheckPolls(conformance::Context& ctx, const std::vector<StatusRow>& rows,
                const MonitorRun& run, const WCHAR* port, const WCHAR* printer,
                const char* boxText) {
    for (size_t i = 0; i < rows.size(); ++i) {
        const StatusRow& row = rows[i];
        if (!ctx.Begin(row.name)) continue;
        if (!ROW_CHECK(i < run.statuses.size())) continue;
        const PortStatusCall& call = run.statuses[i];
        ROW_CHECK(call.local);
        ROW_TEXT(call.port.c_str(), port);
        ROW_EQ(call.level, 3u);
        ROW_EQ(call.status, row.status);
        ROW_EQ(call.hasText, row.text != nullptr);
        if (row.text != nullptr) ROW_TEXT(call.text.c_str(), row.text);
        ROW_EQ(call.severity, row.severity);
        size_t boxes = 0;
        for (const BoxCall& box : run.boxes) {
            if (box.afterStatuses != i + 1) continue;
            ++boxes;
            ROW_CHECK(!box.owned);
            ROW_TEXT(box.text.c_str(), boxText);
            ROW_TEXT(box.caption.c_str(), printer);
            ROW_EQ(box.style, kBoxStyle);
        }
        ROW_EQ(boxes, row.box ? 1u : 0u);
    }
}

}  // namespace

// Two printers watched at once: the status table on USB001, the ink rules
// on USB002, one poll per row.
CONFORMANCE_TABLE(MonitorStatuses, "larkmon: each status, the ink rules, the box once per change") {
    if (!conformance::AttachUsbPrinters() ||
        !conformance::AddUsbPrinter(conformance::kSecondPrinter, conformance::kUsbPorts[1])) {
        ctx.Fail("no USB printers on the machine");
        return;
    }
    const WCHAR* usb1 = conformance::kUsbPorts[0];
    const WCHAR* usb2 = conformance::kUsbPorts[1];
    ROW_CHECK(printroad::SetText(TEXT("StatusMessage"), kMessage));
    const DWORD warning = PORT_STATUS_TYPE_WARNING, info = PORT_STATUS_TYPE_INFO;
    const std::vector<StatusRow> statuses = {
        {"00: no status, no box", Id("03", "00"), 0, nullptr, warning, false},
        {"04: \"Printing\", INFO, no box", Id("03", "04"), 0, "Printing", info, false},
        {"08: door open, a box", Id("03", "08"), PORT_STATUS_DOOR_OPEN, nullptr, warning, true},
        {"09 after 08: paper out, a box", Id("03", "09"), PORT_STATUS_PAPER_OUT, nullptr, warning,
         true},
        {"0E: paper jam, a box", Id("03", "0E"), PORT_STATUS_PAPER_JAM, nullptr, warning, true},
        {"0e after 0E: the same status, no second box", Id("03", "0e"), PORT_STATUS_PAPER_JAM,
         nullptr, warning, false},
        {"00 between", Id("03", "00"), 0, nullptr, warning, false},
        {"0E again after a change: a box again", Id("03", "0E"), PORT_STATUS_PAPER_JAM, nullptr,
         warning, true},
        {"01: needs attention, not flagged, no box", Id("03", "01"), PORT_STATUS_USER_INTERVENTION,
         nullptr, warning, false},
        {"FF: clamped to 59, not flagged, no box", Id("03", "FF"), PORT_STATUS_USER_INTERVENTION,
         nullptr, warning, false},
        {"06: flagged, a box", Id("03", "06"), PORT_STATUS_USER_INTERVENTION, nullptr, warning,
         true},
    };
    const char* low = "Ink Levels are Low";
    const std::vector<StatusRow> ink = {
        {"ink: kind 1 at level 2 is low", Id("03", "00", "1" + Supply(1, 2)), 0, low, warning,
         false},
        {"ink: level 1 is not low", Id("03", "00", "1" + Supply(1, 1)), 0, nullptr, warning, false},
        {"ink: kind 3 at level 7 is low", Id("03", "00", "1" + Supply(3, 7)), 0, low, warning,
         false},
        {"ink: kind 10 is low", Id("03", "00", "1" + Supply(10, 2)), 0, low, warning, false},
        {"ink: kind 5 (other) is low", Id("03", "00", "1" + Supply(5, 3)), 0, low, warning, false},
        {"ink: kind 11 has no group", Id("03", "00", "1" + Supply(11, 7)), 0, nullptr, warning,
         false},
        {"ink: a record without its present bit is skipped",
         Id("03", "00", "1" + Supply(1, 2, false)), 0, nullptr, warning, false},
        {"ink: a later record of the group replaces an earlier",
         Id("03", "00", "2" + Supply(2, 3) + Supply(7, 0)), 0, nullptr, warning, false},
        {"ink: version 04 has its count four characters later",
         Id("04", "00", "0000" + std::string("1") + Supply(1, 2)), 0, low, warning, false},
        {"ink: version 00's count is the status's first digit, 0",
         Id("00", "00", "1" + Supply(1, 2)), 0, nullptr, warning, false},
        {"ink: 04 with a supply low replaces \"Printing\"", Id("03", "04", "1" + Supply(1, 2)), 0,
         low, info, false},
        {"ink: 02 with a supply low: a box", Id("03", "02", "1" + Supply(3, 2)), 0, low, warning,
         true},
        {"ink: 02 low again: no second box", Id("03", "02", "1" + Supply(3, 2)), 0, low, warning,
         false},
    };
    std::vector<std::string> ids1, ids2;
    for (const StatusRow& r : statuses) ids1.push_back(r.id);
    for (const StatusRow& r : ink) ids2.push_back(r.id);
    ROW_CHECK(Script(usb1, ids1));
    ROW_CHECK(Script(usb2, ids2));
    ROW_CHECK(conformance::SetMonitorLogFolder(true));
    const int first = conformance::StartMonitor(conformance::kPrinter);
    const int second = conformance::StartMonitor(conformance::kSecondPrinter);
    MonitorRun run1, run2;
    const bool ended1 = first != 0 && conformance::WaitMonitor(first, kWaitMs, &run1);
    const bool ended2 = second != 0 && conformance::WaitMonitor(second, kWaitMs, &run2);
    if (ctx.Begin("two printers at once: each monitor ends with its own device, exit code 0")) {
        ROW_CHECK(ended1 && ended2);
        ROW_EQ(run1.exitCode, 0u);
        ROW_EQ(run2.exitCode, 0u);
        ROW_EQ(run1.statuses.size(), statuses.size());
        ROW_EQ(run2.statuses.size(), ink.size());
    }
    CheckPolls(ctx, statuses, run1, usb1, conformance::kPrinter, kBoxText);
    CheckPolls(ctx, ink, run2, usb2, conformance::kSecondPrinter, kDefaultText);
}

CONFORMANCE_TABLE(MonitorDeviceIds, "larkmon: device IDs at the edges") {
    if (!conformance::AttachUsbPrinters()) {
        ctx.Fail("no USB printers on the machine");
        return;
    }
    const WCHAR* usb1 = conformance::kUsbPorts[0];
    const std::string door = Id("03", "08");
    struct Row {
        const char* name;
        std::string id;
        // What the first poll logs as the ID, and whether it set a status;
        // nullptr: the request itself failed.
        const char* logged;
        bool setsStatus;
        conformance::Where where;
    };
    const std::string long600 = door + std::string(600 - door.size(), 'x');
    const std::string long512 = door + std::string(512 - door.size(), 'x');
    const std::string long511 = door + std::string(511 - door.size(), 'x');
    const std::string withZero = std::string("MFG:Lark;\0", 10) + door;
    const Row rows[] = {
        {"an ID of 600 bytes: the request fails, the monitor ends", long600, nullptr, false,
         conformance::kBoth},
        {"an ID of exactly 512 bytes: no room for its terminator, the request fails", long512,
         nullptr, false, conformance::kBoth},
        {"an ID of 511 bytes: read whole, its S field decoded", long511, "", true,
         conformance::kBoth},
        {"an empty ID: an empty log line, no status", "", "", false, conformance::kBoth},
        {"an ID without an S field: no status set", "MFG:Lark;CMD:JPEG;", "", false,
         conformance::kBoth},
        {"a zero byte before the S field ends the text there", withZero, "MFG:Lark;", false,
         conformance::kBoth},
    };
    for (const Row& row : rows) {
        if (!ctx.Begin(row.name, row.where)) continue;
        ROW_CHECK(Script(usb1, {row.id}));
        MonitorRun run;
        std::string log;
        const bool ended = RunOne(conformance::kPrinter, &run, &log);
        EndedByTheDevice(ctx, ended, run, log);
        std::vector<std::string> lines = Lines(log);
        if (row.logged == nullptr) {
            // Straight from the loop's start to its end: no ID was read.
            ROW_CHECK(lines.size() >= 4 && lines[2] == "PrinterStatus: Entering while loop" &&
                      lines[3] == "PrinterStatus: Device id failed");
            ROW_EQ(run.statuses.size(), 0u);
            continue;
        }
        // The first poll's line: the text up to its first zero byte.
        const std::string expected = *row.logged != 0 ? std::string(row.logged) : row.id;
        ROW_CHECK(lines.size() > 3);
        if (lines.size() > 3) ROW_BYTES(lines[3], expected);
        ROW_EQ(run.statuses.size(), row.setsStatus ? 1u : 0u);
        if (!run.statuses.empty()) ROW_EQ(run.statuses[0].status, DWORD{PORT_STATUS_DOOR_OPEN});
        ROW_CHECK(Contains(lines, row.setsStatus ? "PrinterStatus: CheckPrinterStuats returned 8"
                                                 : "PrinterStatus: CheckPrinterStuats returned 0"));
    }
}

CONFORMANCE_TABLE(MonitorRoads,
                  "larkmon: its log, its port check, an unplugged printer, a second monitor") {
    if (!conformance::AttachUsbPrinters()) {
        ctx.Fail("no USB printers on the machine");
        return;
    }
    const WCHAR* usb1 = conformance::kUsbPorts[0];
    if (ctx.Begin("a run of one poll, the log byte for byte")) {
        const std::string id = Id("03", "08");
        ROW_CHECK(Script(usb1, {id}));
        MonitorRun run;
        std::string log;
        const bool ended = RunOne(conformance::kPrinter, &run, &log);
        EndedByTheDevice(ctx, ended, run, log);
        ROW_BYTES(log,
                  "PrinterStatus: Entering\r\n"
                  "PrinterStatus: Getting USB Port\r\n"
                  "PrinterStatus: Entering while loop\r\n" +
                      id +
                      "\r\n"
                      "CheckStatus: Status nibbles are: 0:8\r\n"
                      "Front cover open\r\n"
                      "CheckStatus: Setting port status to 8\r\n"
                      "PrinterStatus: CheckPrinterStuats returned 8\r\n"
                      "Returned from GetPrinter\r\n"
                      "There are still jobs in the queue\r\n"
                      "PrinterStatus: Device id failed\r\n"
                      "PrinterStatus: Exiting....\r\n\r\n");
    }
    if (ctx.Begin("a printer not on a USB port: no device is asked, nothing reported")) {
        MonitorRun run;
        std::string log;
        ROW_CHECK(RunOne(conformance::kLptPrinter, &run, &log));
        ROW_EQ(run.exitCode, 0u);
        ROW_BYTES(log, std::string("PrinterStatus: Entering\r\n"
                                   "Printer is not hooked upto a USB port\r\n"));
        ROW_EQ(run.statuses.size(), 0u);
    }
    if (ctx.Begin("an unplugged printer, its interface still listed with the port's name: "
                  "\"Unable to open USB port\"")) {
        ROW_CHECK(
            conformance::AddUsbPrinter(conformance::kUnpluggedPrinter, conformance::kUsbPorts[2]));
        MonitorRun run;
        std::string log;
        ROW_CHECK(RunOne(conformance::kUnpluggedPrinter, &run, &log));
        ROW_EQ(run.exitCode, 0u);
        if (ctx.Counted(run.heldAtExit, "held at the monitor's exit")) ROW_EQ(run.heldAtExit, 0L);
        ROW_BYTES(log, std::string("PrinterStatus: Entering\r\n"
                                   "PrinterStatus: Getting USB Port\r\n"
                                   "Unable to open USB port\r\n"));
        ROW_EQ(run.statuses.size(), 0u);
    }
    if (ctx.Begin("a second monitor for the same printer beside the first: the first's window is "
                  "there, the second does not look for it and polls its own handle")) {
        ROW_CHECK(Script(usb1, {Id("03", "00"), Id("03", "00"), Id("03", "00")}));
        ROW_CHECK(conformance::SetMonitorLogFolder(true));
        const int first = conformance::StartMonitor(conformance::kPrinter);
        WCHAR title[kStatusWindowTitleUnits];
        FormatStatusWindowTitle(title, conformance::kPrinter);
        bool shown = false;
        for (int waited = 0; !shown && waited < 20000; waited += 10) {
            shown = FindWindowW(nullptr, title) != nullptr;
            if (!shown) Sleep(10);
        }
        ROW_CHECK(shown);
        const int second = conformance::StartMonitor(conformance::kPrinter);
        MonitorRun run1, run2;
        ROW_CHECK(first != 0 && conformance::WaitMonitor(first, kWaitMs, &run1));
        ROW_CHECK(second != 0 && conformance::WaitMonitor(second, kWaitMs, &run2));
        ROW_EQ(run1.exitCode, 0u);
        ROW_EQ(run2.exitCode, 0u);
        ROW_EQ(run1.statuses.size(), 3u);
        ROW_EQ(run2.statuses.size(), 3u);
        ROW_CHECK(FindWindowW(nullptr, title) == nullptr);
    }
}
