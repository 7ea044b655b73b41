// larksim report: the machine's records gathered into roads. Each larksim
// road runs in a process of its own and ends with a road record, so a
// road's records are its process's up to that end; a status monitor's run
// belongs to the print road that waited for it. Records that no road
// claims still appear, as the roads of their processes.
#include <algorithm>
#include <cstdlib>
#include <map>
#include <set>

#include "report.h"

namespace larksim::report {
namespace {

bool StartsWith(const std::string& line, const char* prefix) { return line.rfind(prefix, 0) == 0; }

// A road's time window within its process: after the process's previous
// road end, up to its own.
struct Window {
    int pid = 0;
    int64_t after = INT64_MIN, upTo = INT64_MAX;
    bool Holds(int pidOf, int64_t micros) const {
        return pidOf == pid && micros > after && micros <= upTo;
    }
};

void Widen(int64_t micros, int64_t* first, int64_t* last) {
    if (micros == 0) return;
    if (*first == 0 || micros < *first) *first = micros;
    if (micros > *last) *last = micros;
}

// Why the run ended, from the lines the monitor wrote last.
std::string EndOf(const MonitorRun& run, size_t counted) {
    auto has = [&](const char* line) {
        return std::find(run.log.begin(), run.log.end(), line) != run.log.end();
    };
    std::string polls = std::to_string(counted) + " poll" + (counted == 1 ? "" : "s");
    if (has("There are no more jobs")) {
        return "after " + polls +
               ": the queue was empty and the printer reported no status (\"There are no more "
               "jobs\")";
    }
    if (has("PrinterStatus: Device id failed")) {
        return "after " + polls +
               ": the printer did not answer its device ID request, as when it is unplugged or "
               "switched off (\"PrinterStatus: Device id failed\")";
    }
    if (has("Unable to open printer")) {
        return "at its start: the printer did not open (\"Unable to open printer\")";
    }
    if (has("Printer is not hooked upto a USB port")) {
        return "at its start: the printer is not on a USB port (\"Printer is not hooked upto a "
               "USB port\")";
    }
    if (has("Unable to open USB port")) {
        return "at its start: no USB printing device answers for the port (\"Unable to open USB "
               "port\")";
    }
    if (run.pid == 0 && run.log.empty()) return "no monitor was seen: no window and nothing logged";
    if (run.log.empty()) {
        return run.watched ? "nothing in its debug log (C:\\temp\\larkdeb is missing, or it "
                             "logged nothing)"
                           : "no road waited for it, so its debug log was not kept";
    }
    std::string last;
    for (const auto& line : run.log) {
        if (!line.empty()) last = line;
    }
    if (StartsWith(last, "PrinterStatus: Exiting")) return "after " + polls + " (\"" + last + "\")";
    return "unknown: the log ends with \"" + last +
           "\", without \"PrinterStatus: Exiting....\" (stopped from outside, or still running)";
}

// The polls of the run from its log: each poll begins with the device ID
// line and ends with the monitor's verdict on the queue. Each port status
// of the process belongs to the next poll that logged setting one; each
// box to the poll of the status it came after.
void ReadPolls(MonitorRun& run) {
    size_t nextStatus = 0;
    bool inLoop = false;
    Poll poll;
    bool open = false;
    auto endPoll = [&](Poll::Queue queue) {
        poll.queue = queue;
        poll.number = static_cast<int>(run.polls.size()) + 1;
        run.polls.push_back(poll);
        poll = Poll();
        open = false;
    };
    for (const std::string& line : run.log) {
        if (StartsWith(line, "PrinterStatus: Entering while loop")) {
            inLoop = true;
            run.startup.push_back(line);
        } else if (!inLoop || StartsWith(line, "PrinterStatus: Exiting")) {
            if (open) endPoll(Poll::Queue::NotRead);
            inLoop = false;
            if (!line.empty()) run.startup.push_back(line);
        } else if (StartsWith(line, "CheckStatus: Status nibbles are: ")) {
            poll.nibbles = line.substr(33);
            open = true;
        } else if (StartsWith(line, "CheckStatus: Setting port status to")) {
            if (nextStatus < run.statuses.size()) {
                poll.hasStatus = true;
                poll.status = run.statuses[nextStatus++];
            }
            open = true;
        } else if (StartsWith(line, "PrinterStatus: CheckPrinterStuats returned ")) {
            poll.hasResult = true;
            poll.result = std::strtol(line.c_str() + 43, nullptr, 10);
            open = true;
        } else if (line == "CheckStatus: No message box, the window station is not visible") {
            poll.boxWithheld = true;
            open = true;
        } else if (StartsWith(line, "There are still jobs in the queue")) {
            endPoll(Poll::Queue::Busy);
        } else if (StartsWith(line, "There are no more jobs")) {
            endPoll(Poll::Queue::Empty);
        } else if (StartsWith(line, "Returned from GetPrinter")) {
        } else if (!open && poll.deviceId.empty() && line.find(':') != std::string::npos &&
                   line.find(';') != std::string::npos) {
            poll.deviceId = line;
            open = true;
        } else if (!line.empty()) {
            poll.messages.push_back(line);
            open = true;
        }
    }
    if (open) endPoll(Poll::Queue::NotRead);
    // Without a log (or past its end) each port status stands for a poll.
    for (; nextStatus < run.statuses.size(); ++nextStatus) {
        Poll p;
        p.hasStatus = true;
        p.status = run.statuses[nextStatus];
        p.number = static_cast<int>(run.polls.size()) + 1;
        run.polls.push_back(p);
    }
    for (const auto& box : run.boxes) {
        Poll* owner = nullptr;
        for (auto& p : run.polls) {
            if (p.hasStatus && p.status.seq <= box.afterPortStatus) owner = &p;
        }
        if (owner != nullptr) owner->boxes.push_back(box);
    }
}

MonitorRun ReadRun(int pid, bool watched, const std::vector<std::string>& log,
                   const std::vector<winsim::PortStatusRecord>& statuses,
                   const std::vector<winsim::MessageBoxRecord>& boxes) {
    MonitorRun run;
    run.pid = pid;
    run.watched = watched;
    run.log = log;
    if (pid != 0) {
        run.statuses = OfProcess(statuses, pid);
        run.boxes = OfProcess(boxes, pid);
        run.exited = winsim::ExitCounts(pid, &run.held, &run.exitCode);
    }
    for (const auto& s : run.statuses) Widen(s.micros, &run.firstMicros, &run.lastMicros);
    for (const auto& b : run.boxes) {
        Widen(b.shownMicros, &run.firstMicros, &run.lastMicros);
        Widen(b.closedMicros, &run.firstMicros, &run.lastMicros);
    }
    ReadPolls(run);
    // The same count as the run's header: every poll, the one the monitor
    // ended in included.
    run.ended = EndOf(run, run.polls.size());
    return run;
}

}  // namespace

Machine ReadMachine() {
    Machine m;
    m.root = winsim::MachineRoot();
    m.hasRoadRecords = winsim::HasRoadRecords();
    const auto events = winsim::UiEvents();
    const auto showings = winsim::DialogShowings();
    const auto jobs = winsim::Jobs();
    const auto statuses = winsim::PortStatuses();
    const auto boxes = winsim::MessageBoxes();
    const auto steps = winsim::RoadSteps();
    const auto ends = winsim::RoadEnds();
    const auto runs = winsim::MonitorRuns();
    m.user = winsim::UserKindName(winsim::ProcessUser());
    m.refusals = winsim::Refusals();

    std::vector<Road> roads;
    std::vector<Window> windows;
    std::map<int, int64_t> lastEnd;
    for (const auto& end : ends) {
        Road road;
        road.pid = end.pid;
        road.hasEnd = true;
        road.end = end;
        road.kind = end.road.rfind("properties", 0) == 0 ? Road::Kind::Settings
                    : end.road == "print"                ? Road::Kind::Print
                                                         : Road::Kind::Other;
        Window w;
        w.pid = end.pid;
        if (lastEnd.count(end.pid) != 0) w.after = lastEnd[end.pid];
        w.upTo = end.micros;
        lastEnd[end.pid] = end.micros;
        roads.push_back(road);
        windows.push_back(w);
    }
    // A monitor run belongs to the print road of its process that ended
    // last before it; any other is a road of its own.
    std::set<int> watchedMonitors;
    for (const auto& r : runs) {
        Road* owner = nullptr;
        for (size_t i = 0; i < roads.size(); ++i) {
            if (roads[i].pid == r.pid && roads[i].kind == Road::Kind::Print &&
                roads[i].end.micros <= r.micros) {
                owner = &roads[i];
            }
        }
        if (owner == nullptr) {
            Road road;
            road.kind = Road::Kind::Monitor;
            road.pid = r.pid;
            roads.push_back(road);
            windows.push_back(Window{r.pid, 0, 0});  // claims nothing else
            owner = &roads.back();
        }
        owner->monitors.push_back(ReadRun(r.monitorPid, true, r.log, statuses, boxes));
        if (r.monitorPid != 0) watchedMonitors.insert(r.monitorPid);
    }

    // Everything else by process and window; what no road holds makes a
    // road of its process.
    std::map<int, size_t> leftover;
    auto roadOf = [&](int pid, int64_t micros) -> Road& {
        for (size_t i = 0; i < windows.size(); ++i) {
            if (windows[i].Holds(pid, micros)) return roads[i];
        }
        if (leftover.count(pid) == 0) {
            Road road;
            road.pid = pid;
            roads.push_back(road);
            windows.push_back(Window{pid, 0, 0});
            leftover[pid] = roads.size() - 1;
        }
        return roads[leftover[pid]];
    };
    for (const auto& e : events) roadOf(e.pid, e.micros).events.push_back(e);
    for (const auto& d : showings) {
        Showing s;
        s.number = static_cast<int>(++m.showings);
        s.record = d;
        roadOf(d.pid, d.micros).showings.push_back(s);
    }
    for (const auto& s : steps) roadOf(s.pid, s.micros).steps.push_back(s);
    // A job has no time: the sample showings of the process's roads take its
    // jobs in order, and the last road of the process takes the rest.
    std::map<int, std::vector<winsim::JobRecord>> jobsOf;
    for (const auto& j : jobs) jobsOf[j.pid].push_back(j);
    for (auto& [pid, list] : jobsOf) {
        size_t next = 0;
        Road* last = nullptr;
        for (auto& road : roads) {
            if (road.pid != pid) continue;
            last = &road;
            for (auto& s : road.showings) {
                if (s.record.outcome != winsim::DialogKind::Sample || next >= list.size()) continue;
                s.job = static_cast<int>(road.jobs.size());
                road.jobs.push_back(list[next++]);
            }
        }
        if (last == nullptr) last = &roadOf(pid, INT64_MIN);
        for (; next < list.size(); ++next) last->jobs.push_back(list[next]);
    }
    // Monitors that no road waited for.
    std::set<int> monitorPids;
    for (const auto& s : statuses) monitorPids.insert(s.pid);
    for (const auto& b : boxes) monitorPids.insert(b.pid);
    for (int pid : monitorPids) {
        if (watchedMonitors.count(pid) != 0) continue;
        Road road;
        road.kind = Road::Kind::Monitor;
        road.pid = pid;
        road.monitors.push_back(ReadRun(pid, false, {}, statuses, boxes));
        roads.push_back(road);
    }

    for (auto& road : roads) {
        if (road.kind == Road::Kind::Other && !road.hasEnd) {
            bool sheet = !road.showings.empty();
            for (const auto& e : road.events) sheet = sheet || e.kind.rfind("sheet", 0) == 0;
            if (sheet) road.kind = Road::Kind::Settings;
        }
        for (const auto& e : road.events) Widen(e.micros, &road.firstMicros, &road.lastMicros);
        for (const auto& s : road.steps) Widen(s.micros, &road.firstMicros, &road.lastMicros);
        for (const auto& mr : road.monitors) {
            Widen(mr.firstMicros, &road.firstMicros, &road.lastMicros);
            Widen(mr.lastMicros, &road.firstMicros, &road.lastMicros);
        }
        // A showing began after the road's last record before its end.
        for (size_t i = 0; i < road.showings.size(); ++i) {
            Showing& s = road.showings[i];
            int64_t start = 0;
            for (const auto& e : road.events) {
                if (e.micros < s.record.micros) start = std::max(start, e.micros);
            }
            for (const auto& st : road.steps) {
                if (st.micros < s.record.micros) start = std::max(start, st.micros);
            }
            if (i > 0) start = std::max(start, road.showings[i - 1].record.micros);
            s.startMicros = start != 0 ? start : s.record.micros;
            Widen(s.startMicros, &road.firstMicros, &road.lastMicros);
            Widen(s.record.micros, &road.firstMicros, &road.lastMicros);
        }
        if (road.hasEnd) Widen(road.end.micros, &road.firstMicros, &road.lastMicros);
        m.jobs += road.jobs.size();
        for (const auto& mr : road.monitors) {
            m.polls += mr.polls.size();
            m.boxes += mr.boxes.size();
        }
    }
    // Oldest first; a road without any time goes last.
    std::stable_sort(roads.begin(), roads.end(), [](const Road& a, const Road& b) {
        int64_t x = a.firstMicros != 0 ? a.firstMicros : INT64_MAX;
        int64_t y = b.firstMicros != 0 ? b.firstMicros : INT64_MAX;
        return x < y;
    });
    for (size_t i = 0; i < roads.size(); ++i) roads[i].number = static_cast<int>(i) + 1;
    m.roads = std::move(roads);
    return m;
}

}  // namespace larksim::report
