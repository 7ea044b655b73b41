// larksim report: the machine's records gathered into roads (settings,
// print, monitor), the sequence diagrams drawn from them, and the HTML
// document that holds it all.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "larksim.h"
#include "winsim/control.h"
#include "winsim/road_records.h"

namespace larksim::report {

struct Showing {
    int number = 0;  // counted over the machine, from 1
    winsim::DialogShowing record;
    // The showing records only its end: it began after the road's record
    // before it.
    int64_t startMicros = 0;
    int job = -1;  // the sample job it printed, an index into Road::jobs
};

// One poll of the status monitor, from its debug log and the port status
// and boxes of its process.
struct Poll {
    int number = 0;
    std::string deviceId;
    std::string nibbles;                // "0:e", CheckStatus's decoding
    std::vector<std::string> messages;  // the monitor's other lines of the poll
    bool hasResult = false;
    long result = 0;  // the status byte CheckStatus returned
    bool hasStatus = false;
    winsim::PortStatusRecord status;
    std::vector<winsim::MessageBoxRecord> boxes;
    bool boxWithheld = false;  // a box was due, but the window station was not visible
    enum class Queue { NotRead, Busy, Empty } queue = Queue::NotRead;
};

struct MonitorRun {
    int pid = 0;           // the monitor's process, 0 when none was seen
    bool watched = false;  // a road waited for it and kept its log
    std::vector<std::string> log;
    std::vector<std::string> startup;  // log lines before the loop and after it
    std::vector<Poll> polls;
    std::vector<winsim::PortStatusRecord> statuses;  // every one of the process
    std::vector<winsim::MessageBoxRecord> boxes;     // every one of the process
    std::string ended;                               // where and why it ended
    bool exited = false;
    winsim::Counts held;
    UINT exitCode = 0;
    int64_t firstMicros = 0, lastMicros = 0;  // 0 when no record has a time
};

struct Road {
    enum class Kind { Settings, Print, Monitor, Other } kind = Kind::Other;
    int number = 0;
    int pid = 0;
    bool hasEnd = false;
    winsim::RoadEnd end;
    std::vector<winsim::UiEvent> events;
    std::vector<Showing> showings;
    std::vector<winsim::JobRecord> jobs;
    std::vector<winsim::RoadStep> steps;
    std::vector<MonitorRun> monitors;
    int64_t firstMicros = 0, lastMicros = 0;
};

struct Machine {
    std::string root;
    bool hasRoadRecords = false;
    std::vector<Road> roads;  // oldest first
    size_t showings = 0, polls = 0, boxes = 0, jobs = 0;
    std::string user;                             // the machine setting "user", as the roads ran
    std::vector<winsim::RefusalRecord> refusals;  // calls refused for the caller's rights
};

// Everything the machine recorded, as roads.
Machine ReadMachine();

// A sequence diagram: lanes side by side, time running down. Each row is
// one step at its real time; rows keep a least height apart, and a longer
// gap adds height with the logarithm of its length.
struct Lane {
    std::string title, role;
};
struct Row {
    int64_t micros = 0;
    int lane = 0;
    int toLane = -1;  // an arrow from lane to toLane
    std::string text;
    std::string kind;       // the mark's class: call, sheet, window, send, dialog, job, end, warn
    bool inferred = false;  // the time is not recorded but follows from the rows around
};
struct Span {
    int lane = 0;
    size_t first = 0, last = 0;  // rows
    std::string label, kind;
};
struct Diagram {
    std::string id, title;
    std::vector<Lane> lanes;
    std::vector<Row> rows;
    std::vector<Span> spans;
};
Diagram SettingsDiagram(const Road& road);
Diagram PrintDiagram(const Road& road);
std::string DiagramSvg(const Diagram& diagram);

// The whole document.
std::string ReportHtml(const Machine& machine);

// Text for HTML: & < > " ' escaped, bytes that are not UTF-8 as U+FFFD,
// other control characters as \xHH (CR and LF as \r and \n unless
// keepLines).
std::string Escape(const std::string& text, bool keepLines = false);
std::string Escape(const std::u16string& text, bool keepLines = false);
// Milliseconds since a start, "12.3 ms" or "2.07 s".
std::string Elapsed(int64_t micros);
// A devmode's fields as name and value pairs (empty when it is too short).
std::vector<std::pair<std::string, std::string>> DevmodeFields(const std::vector<uint8_t>& bytes);
// What a process holds, "2 heap blocks, 1 files"; empty for nothing.
std::string HeldText(const winsim::Counts& held, long threads);

}  // namespace larksim::report
