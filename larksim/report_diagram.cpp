// larksim report: a road as a sequence diagram, one lane per thread (and
// one for the dialog, or for the status monitor), time running down, drawn
// as SVG. Real gaps keep their weight without hiding the short steps: each
// row lies a least height below the one before, and a gap adds height with
// the logarithm of its length, so a 2-second showing is tall and a 0.1 ms
// reason is a tick. The times at the axis are the real ones.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>

#include "report.h"

namespace larksim::report {
namespace {

constexpr double kHeader = 62;     // lane titles
constexpr double kMinStep = 24;    // between two rows, whatever their gap
constexpr double kGapScale = 56;   // per decade of milliseconds
constexpr double kAxisWidth = 96;  // time labels
constexpr double kLaneWidth = 116;
constexpr double kTextWidth = 620;
constexpr size_t kTextChars = 78;  // of a row's line in the picture; the table has it whole
constexpr const char* kKinds[] = {"call",   "sheet", "window", "send",
                                  "dialog", "job",   "end",    "warn"};

std::string Number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", value);
    return text;
}

std::string Quoted(const std::u16string& text) { return "\"" + winsim::ToUtf8(text) + "\""; }

std::string Plural(size_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

// Lanes by thread, in order of need.
struct Lanes {
    std::vector<Lane> list;
    std::map<DWORD, int> byThread;
    int Of(DWORD thread, const std::string& role = "") {
        auto it = byThread.find(thread);
        if (it != byThread.end()) {
            if (list[it->second].role.empty()) list[it->second].role = role;
            return it->second;
        }
        list.push_back({"thread " + std::to_string(thread), role});
        return byThread[thread] = static_cast<int>(list.size()) - 1;
    }
    int Add(const std::string& title, const std::string& role) {
        list.push_back({title, role});
        return static_cast<int>(list.size()) - 1;
    }
};

const char* EventKind(const std::string& kind) {
    if (kind == "sheet-call" || kind == "page-callback") return "call";
    if (kind == "send" || kind == "press") return "send";
    if (kind == "find" || kind == "retitle" || kind == "move" || kind == "cursor" ||
        kind == "focus") {
        return "window";
    }
    if (kind == "sheet-timeout" || kind == "send-failed" || kind == "page-refused" ||
        kind == "threads-at-unload") {
        return "warn";
    }
    return "sheet";
}

std::string Outcome(const winsim::DialogShowing& d) {
    char hr[16];
    std::snprintf(hr, sizeof hr, "0x%08X", static_cast<uint32_t>(d.result));
    switch (d.outcome) {
        case winsim::DialogKind::Answer:
            return "answered " + Quoted(d.answer);
        case winsim::DialogKind::Sample:
            return "asked for a sample page (" + Quoted(d.answer) + ")";
        case winsim::DialogKind::None:
            return "closed without an answer";
        case winsim::DialogKind::NullString:
            return "answered a NULL string";
        case winsim::DialogKind::Fail:
            return std::string("failed with ") + hr +
                   (d.answer.empty() ? std::string()
                                     : " in the browser: " + winsim::ToUtf8(d.answer));
    }
    return "";
}

void EndRow(const Road& road, int lane, std::vector<Row>& rows) {
    if (!road.hasEnd) return;
    std::string held = HeldText(road.end.held, road.end.threads);
    std::string text = "road ends, exit code " + std::to_string(road.end.exitCode);
    if (!road.end.devmode.empty()) {
        text += "; the application keeps the devmode";
        for (const auto& [name, value] : DevmodeFields(road.end.devmode)) {
            if (name == "paper size" || name == "orientation") text += ", " + name + " " + value;
        }
    }
    text += "; " +
            (held.empty() ? std::string("the process holds nothing") : "the process holds " + held);
    rows.push_back({road.end.micros, lane, -1, text, held.empty() ? "end" : "warn", false});
}

std::string StepText(const winsim::RoadStep& s) {
    std::string text =
        s.name + " answered " + std::to_string(s.result) + " (" + DocumentEventName(s.result) + ")";
    if (!s.devmode.empty()) {
        text += ": devmode";
        for (const auto& [name, value] : DevmodeFields(s.devmode)) {
            if (name == "paper size" || name == "orientation") text += ", " + name + " " + value;
        }
    }
    return text;
}

void Sort(Diagram& d) {
    std::stable_sort(d.rows.begin(), d.rows.end(),
                     [](const Row& a, const Row& b) { return a.micros < b.micros; });
}

// Spans are kept by the times of their ends and found again after the sort.
struct PendingSpan {
    int lane;
    int64_t first, last;
    std::string label, kind;
    std::string firstText, lastText;
};

void PlaceSpans(Diagram& d, const std::vector<PendingSpan>& pending) {
    for (const auto& p : pending) {
        Span s{p.lane, d.rows.size(), d.rows.size(), p.label, p.kind};
        for (size_t i = 0; i < d.rows.size(); ++i) {
            if (d.rows[i].micros == p.first && d.rows[i].text == p.firstText) s.first = i;
            if (d.rows[i].micros == p.last && d.rows[i].text == p.lastText) s.last = i;
        }
        if (s.first < d.rows.size() && s.last < d.rows.size() && s.last >= s.first) {
            d.spans.push_back(s);
        }
    }
}

// The road's end row, the rows in time order, the lanes and the spans, and
// the diagram's title ("<what> <number> as a sequence: ...").
void Finish(Diagram& d, const Road& road, int endLane, const Lanes& lanes,
            const std::vector<PendingSpan>& spans, const char* what) {
    EndRow(road, endLane, d.rows);
    Sort(d);
    d.lanes = lanes.list;
    PlaceSpans(d, spans);
    d.title = std::string(what) + " " + std::to_string(road.number) +
              " as a sequence: " + Plural(d.lanes.size(), "lane", "lanes") + ", " +
              Plural(d.rows.size(), "step", "steps");
}

}  // namespace

Diagram SettingsDiagram(const Road& road) {
    Diagram d;
    d.id = "road-" + std::to_string(road.number) + "-sequence";
    Lanes lanes;
    // The sheet's thread runs the reasons; the thread that looks for the
    // sheet is the closing thread.
    DWORD sheetThread = 0;
    for (const auto& e : road.events) {
        if (sheetThread == 0 && e.kind == "sheet-call") sheetThread = e.thread;
    }
    if (sheetThread == 0 && !road.steps.empty()) sheetThread = road.steps.front().thread;
    if (sheetThread == 0 && !road.events.empty()) sheetThread = road.events.front().thread;
    int sheet = lanes.Of(sheetThread, "application, sheet");
    if (sheetThread == 0) lanes.list[sheet] = {"application", ""};
    int dialog = road.showings.empty() ? -1 : lanes.Add("dialog", "settings page");
    for (const auto& e : road.events) {
        if (e.kind == "find" && e.thread != sheetThread) lanes.Of(e.thread, "closing thread");
    }
    for (const auto& e : road.events) lanes.Of(e.thread);

    // Looks in a row for the same title make one row: how many, and what
    // the last one found.
    int looks = 0;
    const winsim::UiEvent* lastFind = nullptr;
    for (const auto& e : road.events) {
        int lane = lanes.Of(e.thread);
        if (e.kind == "find") {
            bool again = lastFind != nullptr && lastFind->thread == e.thread &&
                         lastFind->text == e.text && !d.rows.empty();
            looks = again ? looks + 1 : 1;
            std::string text = "looked " + Plural(looks, "time", "times") + " for " +
                               Quoted(e.text) + ": " +
                               (e.values[0] != 0 ? "found window " + std::to_string(e.values[0])
                                                 : std::string("not found"));
            if (again) {
                d.rows.back().text = text;
            } else {
                d.rows.push_back({e.micros, lane, -1, text, "window", false});
            }
            lastFind = &e;
            continue;
        }
        lastFind = nullptr;
        Row row{e.micros, lane, -1, e.description, EventKind(e.kind), false};
        if (e.kind == "send") {
            DWORD from = static_cast<DWORD>(e.values[2]), to = static_cast<DWORD>(e.values[3]);
            if (from != 0 && to != 0 && from != to) {
                row.lane = lanes.Of(from);
                row.toLane = lanes.Of(to);
                row.text +=
                    " (thread " + std::to_string(from) + " to thread " + std::to_string(to) + ")";
            }
        }
        d.rows.push_back(row);
    }

    std::vector<PendingSpan> spans;
    for (const auto& s : road.showings) {
        // The showing runs on the thread whose page callback returns after it.
        int caller = sheet;
        for (const auto& e : road.events) {
            if (e.kind == "page-callback" && e.micros >= s.record.micros) {
                caller = lanes.Of(e.thread);
                break;
            }
        }
        std::string n = std::to_string(s.number);
        std::string startText = "shows the settings page (showing " + n + ") with " +
                                (s.record.hasArgument ? Quoted(s.record.argument) : "no argument");
        std::string endText = "showing " + n + " " + Outcome(s.record) + " after " +
                              Elapsed(s.record.micros - s.startMicros);
        d.rows.push_back(
            {s.startMicros, caller, dialog, startText, "dialog", s.startMicros != s.record.micros});
        d.rows.push_back({s.record.micros, dialog, caller, endText, "dialog", false});
        spans.push_back(
            {dialog, s.startMicros, s.record.micros, "showing " + n, "dialog", startText, endText});
        if (s.job >= 0) {
            const winsim::JobRecord& j = road.jobs[static_cast<size_t>(s.job)];
            d.rows.push_back({s.record.micros, caller, -1,
                              "prints the sample page: job " + std::to_string(j.id) + " \"" +
                                  j.document + "\", " + Plural(j.pages, "page", "pages") + ", " +
                                  Plural(j.data.size(), "byte", "bytes") + " " + j.datatype,
                              "job", true});
        }
    }
    for (const auto& st : road.steps) {
        d.rows.push_back({st.micros, lanes.Of(st.thread), -1, StepText(st), "call", false});
    }
    Finish(d, road, sheet, lanes, spans, "Settings road");
    return d;
}

Diagram PrintDiagram(const Road& road) {
    Diagram d;
    d.id = "road-" + std::to_string(road.number) + "-sequence";
    Lanes lanes;
    DWORD app = !road.steps.empty()    ? road.steps.front().thread
                : !road.events.empty() ? road.events.front().thread
                                       : 0;
    int application = lanes.Of(app, "application");
    std::vector<int> monitorLanes;
    for (const auto& m : road.monitors) {
        monitorLanes.push_back(lanes.Add(
            m.pid != 0 ? "process " + std::to_string(m.pid) : "no process", "status monitor"));
    }
    for (const auto& st : road.steps) {
        d.rows.push_back({st.micros, lanes.Of(st.thread), -1, StepText(st), "call", false});
    }
    for (const auto& e : road.events) {
        Row row{e.micros, lanes.Of(e.thread), -1, e.description, EventKind(e.kind), false};
        // Finding no status window, the driver starts the monitor.
        if (e.kind == "find" && e.values[0] == 0 && !monitorLanes.empty()) {
            row.toLane = monitorLanes.front();
            row.text += ": the driver starts the status monitor";
        }
        d.rows.push_back(row);
    }
    std::vector<PendingSpan> spans;
    for (size_t i = 0; i < road.monitors.size(); ++i) {
        const MonitorRun& m = road.monitors[i];
        int lane = monitorLanes[i];
        if (m.firstMicros == 0) continue;
        std::string first = "first port status of the monitor";
        std::string last = "the monitor's last record: " + Plural(m.polls.size(), "poll", "polls") +
                           ", " + Plural(m.boxes.size(), "box", "boxes");
        // A status that changes gets a row; the strip below has every poll.
        const winsim::PortStatusRecord* before = nullptr;
        for (const auto& s : m.statuses) {
            bool changed = before == nullptr || before->status != s.status ||
                           before->severity != s.severity || before->text != s.text ||
                           before->error != s.error;
            if (changed) {
                d.rows.push_back({s.micros, lane, -1,
                                  std::string(s.error != 0 ? "port status refused (error " +
                                                                 std::to_string(s.error) + "): "
                                                           : "port status ") +
                                      PortStatusName(s.status) + ", " +
                                      (s.severity == PORT_STATUS_TYPE_INFO ? "info" : "warning") +
                                      (s.hasText ? " " + Quoted(s.text) : std::string()),
                                  s.status != 0 || s.error != 0 ? "warn" : "window", false});
            }
            before = &s;
        }
        for (const auto& b : m.boxes) {
            d.rows.push_back(
                {b.shownMicros, lane, -1, "shows a box: " + Quoted(b.caption), "warn", false});
            if (b.closedMicros != 0) {
                d.rows.push_back(
                    {b.closedMicros, lane, -1,
                     "the box is answered after " + Elapsed(b.closedMicros - b.shownMicros), "warn",
                     false});
            }
        }
        if (!d.rows.empty() && d.rows.back().micros == m.lastMicros) {
            d.rows.back().text += "; " + last;
            last = d.rows.back().text;
        } else {
            d.rows.push_back({m.lastMicros, lane, -1, last, "end", false});
        }
        Sort(d);
        for (const auto& r : d.rows) {
            if (r.lane == lane && r.micros == m.firstMicros) {
                first = r.text;
                break;
            }
        }
        spans.push_back({lane, m.firstMicros, m.lastMicros, "monitor", "monitor", first, last});
    }
    Finish(d, road, application, lanes, spans, "Print road");
    return d;
}

std::string DiagramSvg(const Diagram& d) {
    if (d.rows.empty()) return "";
    std::vector<double> y(d.rows.size());
    double at = kHeader + 18;
    for (size_t i = 0; i < d.rows.size(); ++i) {
        if (i > 0) {
            double gapMs = std::max<int64_t>(0, d.rows[i].micros - d.rows[i - 1].micros) / 1000.0;
            at += kMinStep + kGapScale * std::log10(1.0 + gapMs);
        }
        y[i] = at;
    }
    const double textX = kAxisWidth + kLaneWidth * static_cast<double>(d.lanes.size()) + 16;
    const double width = textX + kTextWidth;
    const double height = at + 22;
    auto laneX = [&](int lane) { return kAxisWidth + kLaneWidth * (lane + 0.5); };
    const int64_t start = d.rows.front().micros;

    std::string svg = "<svg class=\"sequence\" xmlns=\"http://www.w3.org/2000/svg\" width=\"" +
                      Number(width) + "\" height=\"" + Number(height) + "\" viewBox=\"0 0 " +
                      Number(width) + " " + Number(height) + "\" role=\"img\" aria-labelledby=\"" +
                      d.id + "-title\">";
    svg += "<title id=\"" + d.id + "-title\">" + Escape(d.title) + "</title>";
    // An arrow's head takes its colour from its kind: a marker does not
    // inherit from the line that uses it.
    svg += "<defs>";
    for (const char* kind : kKinds) {
        svg += "<marker id=\"" + d.id + "-arrow-" + kind +
               "\" viewBox=\"0 0 10 10\" refX=\"9\" refY=\"5\" markerWidth=\"8\" markerHeight=\"8\""
               " orient=\"auto-start-reverse\"><path d=\"M0,0 L10,5 L0,10 z\" class=\"head " +
               kind + "\"/></marker>";
    }
    svg += "</defs>";
    // Lanes: a title box and a lifeline each.
    for (size_t i = 0; i < d.lanes.size(); ++i) {
        double x = laneX(static_cast<int>(i));
        svg += "<g class=\"lane\"><rect x=\"" + Number(x - kLaneWidth / 2 + 6) +
               "\" y=\"6\" width=\"" + Number(kLaneWidth - 12) + "\" height=\"" +
               Number(kHeader - 14) + "\" rx=\"5\"/><text x=\"" + Number(x) +
               "\" y=\"26\" class=\"lane-title\">" + Escape(d.lanes[i].title) + "</text>";
        if (!d.lanes[i].role.empty()) {
            svg += "<text x=\"" + Number(x) + "\" y=\"43\" class=\"lane-role\">" +
                   Escape(d.lanes[i].role) + "</text>";
        }
        svg += "<line x1=\"" + Number(x) + "\" y1=\"" + Number(kHeader - 8) + "\" x2=\"" +
               Number(x) + "\" y2=\"" + Number(height - 6) + "\" class=\"lifeline\"/></g>";
    }
    svg += "<text x=\"" + Number(kAxisWidth - 8) + "\" y=\"26\" class=\"axis-title\">time</text>";
    svg +=
        "<text x=\"" + Number(textX) + "\" y=\"26\" class=\"axis-title start\">what happens</text>";
    // Spans under the marks.
    for (const auto& s : d.spans) {
        double x = laneX(s.lane);
        double top = y[s.first], bottom = std::max(y[s.last], top + 4);
        svg += "<rect class=\"span " + s.kind + "\" x=\"" + Number(x - 8) + "\" y=\"" +
               Number(top) + "\" width=\"16\" height=\"" + Number(bottom - top) + "\" rx=\"4\">" +
               "<title>" + Escape(s.label) + ", " +
               Escape(Elapsed(d.rows[s.last].micros - d.rows[s.first].micros)) + "</title></rect>";
        if (bottom - top > 60) {
            svg += "<text class=\"span-label\" transform=\"translate(" + Number(x + 20) + " " +
                   Number((top + bottom) / 2) + ") rotate(90)\">" + Escape(s.label) + ", " +
                   Escape(Elapsed(d.rows[s.last].micros - d.rows[s.first].micros)) + "</text>";
        }
    }
    for (size_t i = 0; i < d.rows.size(); ++i) {
        const Row& r = d.rows[i];
        double yy = y[i];
        // A gap worth a look is labelled with its length halfway.
        if (i > 0 && y[i] - y[i - 1] > kMinStep + 30) {
            svg += "<text x=\"" + Number(kAxisWidth - 8) + "\" y=\"" +
                   Number((y[i] + y[i - 1]) / 2 + 4) + "\" class=\"gap\">" +
                   Escape(Elapsed(r.micros - d.rows[i - 1].micros)) + " later</text>";
            svg += "<line x1=\"" + Number(kAxisWidth - 3) + "\" y1=\"" + Number(y[i - 1] + 8) +
                   "\" x2=\"" + Number(kAxisWidth - 3) + "\" y2=\"" + Number(y[i] - 8) +
                   "\" class=\"gap-line\"/>";
        }
        std::string line = r.text;
        if (line.size() > kTextChars) {
            size_t cut = kTextChars;
            while (cut > 0 && (static_cast<unsigned char>(line[cut]) & 0xC0) == 0x80) --cut;
            line = line.substr(0, cut) + "\xE2\x80\xA6";
        }
        double from = laneX(r.lane);
        svg += "<g class=\"row " + r.kind + "\"><title>" + Escape(r.text) + "</title>";
        svg += "<text x=\"" + Number(kAxisWidth - 8) + "\" y=\"" + Number(yy + 4) +
               "\" class=\"time\">" + (r.inferred ? "\xE2\x89\x88 " : "") +
               Escape(Elapsed(r.micros - start)) + "</text>";
        double reach = from;
        if (r.toLane >= 0 && r.toLane != r.lane) {
            double to = laneX(r.toLane);
            double end = to + (to > from ? -7 : 7);
            svg += "<line x1=\"" + Number(from) + "\" y1=\"" + Number(yy) + "\" x2=\"" +
                   Number(end) + "\" y2=\"" + Number(yy) + "\" class=\"arrow\" marker-end=\"url(#" +
                   d.id + "-arrow-" + r.kind + ")\"/>";
            reach = std::max(from, to);
        }
        svg += "<circle cx=\"" + Number(from) + "\" cy=\"" + Number(yy) +
               "\" r=\"5\" class=\"mark\"/>";
        svg += "<line x1=\"" + Number(reach + 9) + "\" y1=\"" + Number(yy) + "\" x2=\"" +
               Number(textX - 6) + "\" y2=\"" + Number(yy) + "\" class=\"leader\"/>";
        svg += "<text x=\"" + Number(textX) + "\" y=\"" + Number(yy + 4) + "\" class=\"step\">" +
               Escape(line) + "</text></g>";
    }
    svg += "</svg>";
    return svg;
}

}  // namespace larksim::report
