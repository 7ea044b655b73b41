// larksim report: the machine's roads as one HTML document that needs
// nothing outside itself: styles inline, pictures as inline SVG,
// screenshots as data: URLs, and no script (hover is CSS; what a hover
// shows is in the document for print too). A content security policy
// keeps it from loading anything.
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iterator>
#include <map>

#include "driver_devmode.h"
#include "report.h"

namespace larksim::report {
namespace {

constexpr size_t kHexBytes = 4096;              // of a job shown as hex
constexpr long kMaxScreenshotBytes = 16 << 20;  // a PNG bigger is not embedded

const char kStyle[] = R"css(
:root { color-scheme: light; --ink: #1b1b1b; --muted: #555; --line: #c4c9d2; --panel: #f3f5f8;
  --call: #1f5fa8; --sheet: #6a3fa0; --window: #2e7d32; --send: #a84a00; --dialog: #006d7a;
  --job: #6d4c41; --end: #333; --warn: #c62828; --info: #1f5fa8; }
* { box-sizing: border-box; }
body { margin: 0; color: var(--ink); background: #fff;
  font: 16px/1.45 "DejaVu Sans", system-ui, sans-serif; }
header, main { max-width: 74rem; margin: 0 auto; padding: 0 1rem; }
h1 { font-size: 1.6rem; margin: 1rem 0 .4rem; }
h2 { font-size: 1.35rem; border-top: 3px solid var(--ink); padding-top: .6rem; margin: 2.4rem 0 .3rem; }
h3 { font-size: 1.1rem; margin: 1.6rem 0 .4rem; }
h4 { font-size: 1rem; margin: 1rem 0 .3rem; }
p { margin: .4rem 0; }
code, pre { font-family: "DejaVu Sans Mono", monospace; font-size: .88em; }
code { overflow-wrap: anywhere; background: var(--panel); padding: 0 .2em; border-radius: 3px; }
.facts { color: var(--muted); }
.legend { color: var(--muted); font-size: .9rem; max-width: 48rem; }
ul.keys { list-style: none; padding: 0; display: flex; flex-wrap: wrap; gap: .3rem 1.2rem; font-size: .9rem; }
.key { display: inline-block; width: .8em; height: .8em; border-radius: 50%; margin-right: .3em;
  vertical-align: -.05em; }
.key.call { background: var(--call); } .key.sheet { background: var(--sheet); }
.key.window { background: var(--window); } .key.send { background: var(--send); }
.key.dialog { background: var(--dialog); } .key.job { background: var(--job); }
.key.end { background: var(--end); } .key.warn { background: var(--warn); }
.scroll { overflow-x: auto; border: 1px solid var(--line); border-radius: 4px; max-width: 100%; }
.scroll:focus { outline: 3px solid var(--call); outline-offset: 2px; }
svg.sequence { display: block; font: 13px "DejaVu Sans", sans-serif; }
svg .lane rect { fill: var(--panel); stroke: #8a94a6; }
svg .lane-title { font-weight: bold; text-anchor: middle; fill: var(--ink); }
svg .lane-role { font-size: 11px; text-anchor: middle; fill: var(--muted); }
svg .lifeline { stroke: #9aa3b2; stroke-dasharray: 4 4; }
svg .axis-title { font-size: 11px; text-anchor: end; fill: var(--muted); letter-spacing: .05em; }
svg .axis-title.start { text-anchor: start; }
svg .time { font-size: 11px; text-anchor: end; fill: var(--ink); }
svg .gap { font-size: 11px; text-anchor: end; fill: var(--muted); font-style: italic; }
svg .gap-line { stroke: var(--muted); stroke-dasharray: 2 3; }
svg .leader { stroke: #ccd1d9; stroke-dasharray: 1 3; }
svg .step { fill: var(--ink); }
svg .mark { stroke: #fff; stroke-width: 1.5; }
svg .arrow { stroke-width: 2; }
svg .call .mark, svg .head.call { fill: var(--call); } svg .call .arrow { stroke: var(--call); }
svg .sheet .mark, svg .head.sheet { fill: var(--sheet); } svg .sheet .arrow { stroke: var(--sheet); }
svg .window .mark, svg .head.window { fill: var(--window); } svg .window .arrow { stroke: var(--window); }
svg .send .mark, svg .head.send { fill: var(--send); } svg .send .arrow { stroke: var(--send); }
svg .dialog .mark, svg .head.dialog { fill: var(--dialog); } svg .dialog .arrow { stroke: var(--dialog); }
svg .job .mark, svg .head.job { fill: var(--job); } svg .job .arrow { stroke: var(--job); }
svg .end .mark, svg .head.end { fill: var(--end); } svg .end .arrow { stroke: var(--end); }
svg .warn .mark, svg .head.warn { fill: var(--warn); } svg .warn .arrow { stroke: var(--warn); }
svg .row:hover .step { font-weight: bold; }
svg .span.dialog { fill: #d3eff3; stroke: var(--dialog); }
svg .span.monitor { fill: #fbe6d6; stroke: var(--send); }
svg .span-label { font-size: 11px; fill: var(--ink); }
table { border-collapse: collapse; margin: .4rem 0; }
th, td { border: 1px solid var(--line); padding: .2rem .5rem; text-align: left; vertical-align: top; }
th { background: var(--panel); font-weight: 600; }
caption { text-align: left; font-weight: 600; padding: .2rem 0; }
figure.page { margin: 0; max-width: 16rem; }
figure.page figcaption { font-size: .9rem; color: var(--muted); }
td { overflow-wrap: anywhere; }
table.steps td.time, table.events td.time { white-space: nowrap; text-align: right; }
.showings { display: flex; flex-wrap: wrap; gap: 1rem; }
figure.showing { margin: 0; border: 1px solid var(--line); border-radius: 4px; padding: .5rem;
  max-width: 100%; }
figure.showing img { display: block; max-width: 100%; height: auto; border: 1px solid var(--line); }
figure.showing figcaption { font-weight: 600; }
dl.pairs { display: grid; grid-template-columns: max-content 1fr; gap: .1rem .8rem; margin: .3rem 0; }
dl.pairs dt { color: var(--muted); } dl.pairs dd { margin: 0; overflow-wrap: anywhere; }
.page-picture { display: flex; flex-wrap: wrap; gap: 1rem; align-items: flex-start; }
svg.page .paper { fill: #fff; }
svg.page .edge { fill: none; stroke: var(--ink); stroke-width: 1.5; }
svg.page .imageable { fill: #e3eefb; fill-opacity: .7; stroke: var(--call); stroke-width: 1.5;
  stroke-dasharray: 5 4; }
ol.polls { list-style: none; padding: 0; margin: .4rem 0; display: flex; flex-wrap: wrap; gap: .5rem; }
li.poll { flex: 0 0 10.5rem; border: 1px solid var(--line); border-top: 6px solid #8a94a6;
  border-radius: 4px; padding: .35rem .5rem; font-size: .85rem; }
li.poll.trouble { border-top-color: var(--warn); background: #fff5f5; }
li.poll.info { border-top-color: var(--info); }
li.poll.stopped { border-style: dashed; }
li.poll .n { font-weight: bold; margin: 0; }
li.poll .when { color: var(--muted); margin: 0; }
li.poll dl { margin: .2rem 0 0; }
li.poll dt { font-size: .75rem; color: var(--muted); margin-top: .2rem; }
li.poll dd { margin: 0; overflow-wrap: anywhere; }
mark { background: #ffe082; color: var(--ink); }
.tip { position: relative; border-bottom: 1px dotted var(--ink); cursor: help; }
.tip:focus { outline: 2px solid var(--call); }
.tip-text { display: none; position: absolute; left: 0; top: 1.5em; z-index: 2; width: 17rem;
  background: #fff; color: var(--ink); border: 1px solid var(--ink); padding: .4rem;
  white-space: pre-line; box-shadow: 0 2px 6px rgba(0, 0, 0, .25); }
.tip:hover .tip-text, .tip:focus .tip-text { display: block; }
.box-text { white-space: pre-line; border-left: 4px solid var(--warn); margin: .3rem 0 .3rem 0;
  padding: .2rem .6rem; background: #fff5f5; }
.ended { border-left: 4px solid var(--ink); padding-left: .6rem; }
.held { color: var(--warn); font-weight: 600; }
pre.hex { margin: 0; padding: .5rem; }
pre.log { margin: 0; padding: .5rem; white-space: pre-wrap; overflow-wrap: anywhere; }
@media print {
  body { font-size: 10.5pt; }
  header, main { max-width: none; padding: 0; }
  .scroll { overflow: visible; border: none; }
  svg.sequence { width: 100%; height: auto; }
  section.road { break-before: page; }
  li.poll, figure, tr, .job, .box { break-inside: avoid; }
  details { display: none; }
  .tip { border-bottom: none; }
  .tip-text { display: block; position: static; width: auto; border: none; padding: 0;
    box-shadow: none; font-size: .8rem; }
  a { color: inherit; text-decoration: none; }
  * { -webkit-print-color-adjust: exact; print-color-adjust: exact; }
}
)css";

std::string Clock(int64_t micros) {
    if (micros <= 0) return "unknown time";
    time_t seconds = static_cast<time_t>(micros / 1000000);
    struct tm t {};
    gmtime_r(&seconds, &t);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03d UTC", t.tm_year + 1900,
                  t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec,
                  static_cast<int>(micros / 1000 % 1000));
    return text;
}

std::string Plural(size_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

std::string Code(const std::string& text) { return "<code>" + Escape(text) + "</code>"; }
std::string Code(const std::u16string& text) { return Code(winsim::ToUtf8(text)); }

std::string Base64(const std::string& bytes) {
    static const char kDigits[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    for (size_t i = 0; i < bytes.size(); i += 3) {
        uint32_t n = static_cast<uint8_t>(bytes[i]) << 16;
        if (i + 1 < bytes.size()) n |= static_cast<uint8_t>(bytes[i + 1]) << 8;
        if (i + 2 < bytes.size()) n |= static_cast<uint8_t>(bytes[i + 2]);
        out += kDigits[(n >> 18) & 63];
        out += kDigits[(n >> 12) & 63];
        out += i + 1 < bytes.size() ? kDigits[(n >> 6) & 63] : '=';
        out += i + 2 < bytes.size() ? kDigits[n & 63] : '=';
    }
    return out;
}

struct Picture {
    std::string url;
    uint32_t width = 0, height = 0;
    std::string missing;  // why there is none
};

// The database names the screenshot's path; only a PNG in this machine's
// dialog folder is embedded, found by its name there (the machine may have
// moved since).
Picture Screenshot(const std::string& root, const std::string& path) {
    Picture p;
    std::string name = path.substr(path.rfind('/') + 1);
    if (name.empty() || name == "." || name == "..") {
        p.missing = "no file named";
        return p;
    }
    std::string file = root + "/dialog/" + name;
    struct stat st {};
    if (stat(file.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        p.missing = "the file " + file + " is gone";
        return p;
    }
    if (st.st_size > kMaxScreenshotBytes) {
        p.missing = "the file " + file + " is too big to embed";
        return p;
    }
    std::ifstream in(file, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    static const char kSignature[] = "\x89PNG\r\n\x1a\n";
    if (bytes.size() < 24 || bytes.compare(0, 8, kSignature, 8) != 0 ||
        bytes.compare(12, 4, "IHDR") != 0) {
        p.missing = "the file " + file + " is not a PNG picture";
        return p;
    }
    auto be32 = [&](size_t at) {
        return static_cast<uint32_t>(
            static_cast<uint8_t>(bytes[at]) << 24 | static_cast<uint8_t>(bytes[at + 1]) << 16 |
            static_cast<uint8_t>(bytes[at + 2]) << 8 | static_cast<uint8_t>(bytes[at + 3]));
    };
    p.width = be32(16);
    p.height = be32(20);
    p.url = "data:image/png;base64," + Base64(bytes);
    return p;
}

std::string RoadTitle(const Road& road) {
    std::string printer = road.hasEnd && !road.end.printer.empty()
                              ? "\xE2\x80\x9C" + winsim::ToUtf8(road.end.printer) + "\xE2\x80\x9D"
                              : "";
    const std::string& name = road.end.road;
    switch (road.kind) {
        case Road::Kind::Settings:
            if (!road.hasEnd) return "A property sheet of process " + std::to_string(road.pid);
            if (name == "properties --direct")
                return "Document properties of " + printer + ", without a sheet";
            if (name == "properties --device") return "The printer properties sheet of " + printer;
            if (name == "properties --printers-folder") {
                return "Printing Preferences of " + printer + " from the printers folder";
            }
            return "Printing Preferences of " + printer;
        case Road::Kind::Print:
            return "Printing a document on " + printer;
        case Road::Kind::Monitor: {
            std::string port;
            if (!road.monitors.empty() && !road.monitors.front().statuses.empty()) {
                port = " on " + winsim::ToUtf8(road.monitors.front().statuses.front().port);
            }
            return (road.pid != 0 && !road.monitors.empty() && road.monitors.front().watched
                        ? "A status monitor run"
                        : "A status monitor that no road waited for") +
                   port;
        }
        case Road::Kind::Other:
            break;
    }
    return road.hasEnd ? "larksim " + name + (printer.empty() ? "" : " on " + printer)
                       : "Records of process " + std::to_string(road.pid);
}

const char* Command(const Road& road) {
    switch (road.kind) {
        case Road::Kind::Settings:
            return "larksim properties";
        case Road::Kind::Print:
            return "larksim print";
        case Road::Kind::Monitor:
            return road.monitors.empty() || !road.monitors.front().watched ? "" : "larksim monitor";
        case Road::Kind::Other:
            break;
    }
    return "";
}

class Writer {
public:
    explicit Writer(const Machine& m) : m_(m) {}

    std::string Document() {
        Head();
        for (const Road& road : m_.roads) RoadSection(road);
        if (m_.roads.empty()) {
            out_ +=
                "<p>The machine has recorded no road yet: run <code>larksim properties</code>, "
                "<code>larksim print</code> or <code>larksim monitor</code>, then this report "
                "again.</p>";
        }
        out_ += "</main>\n</body>\n</html>\n";
        return out_;
    }

private:
    // Who the roads ran as, and what the machine refused them for it.
    void Rights() {
        static const char* const kWho[][2] = {
            {"standard", "a standard user"},
            {"admin", "an administrator whose token is not elevated (a standard user's rights)"},
            {"elevated", "an elevated administrator"},
            {"system", "SYSTEM"},
        };
        std::string who = m_.user;
        for (const auto& w : kWho) {
            if (m_.user == w[0]) who = w[1];
        }
        out_ += "<p>The roads run as " + Escape(who) + " (" + Code("user " + m_.user) + "). ";
        if (m_.refusals.empty()) {
            out_ += "No call was refused for the caller's rights.</p>\n";
            return;
        }
        std::map<std::string, size_t> counts;
        for (const auto& r : m_.refusals) {
            ++counts[r.call + " " + winsim::ToUtf8(r.target) + " (" + r.user + ")"];
        }
        out_ += Plural(m_.refusals.size(), "call was", "calls were") +
                " refused with ERROR_ACCESS_DENIED:</p>\n<ul class=\"refusals\">";
        for (const auto& [what, n] : counts) {
            out_ +=
                "<li>" + Code(what) + (n > 1 ? ", " + std::to_string(n) + " times" : "") + "</li>";
        }
        out_ += "</ul>\n";
    }

    void Head() {
        size_t settings = 0, print = 0, monitors = 0;
        for (const Road& r : m_.roads) {
            settings += r.kind == Road::Kind::Settings ? 1 : 0;
            print += r.kind == Road::Kind::Print ? 1 : 0;
            monitors += r.kind == Road::Kind::Monitor ? 1 : 0;
        }
        out_ +=
            "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
            "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; "
            "img-src data:; style-src 'unsafe-inline'\">\n"
            "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
            "<title>What the machine recorded: " +
            Escape(m_.root) + "</title>\n<style>" + kStyle +
            "</style>\n</head>\n<body>\n<header>\n";
        out_ += "<h1>What the machine recorded</h1>\n";
        out_ += "<p class=\"facts\">The winsim machine at " + Code(m_.root) +
                ", its roads oldest first. Written " + Clock(Now()) + ".</p>\n";
        out_ += "<p>" + Plural(m_.roads.size(), "road", "roads") + ": " +
                Plural(settings, "settings road", "settings roads") + ", " +
                Plural(print, "print road", "print roads") + ", " +
                Plural(monitors, "monitor run of its own", "monitor runs of their own") + "; " +
                Plural(m_.showings, "dialog showing", "dialog showings") + ", " +
                Plural(m_.polls, "monitor poll", "monitor polls") + ", " +
                Plural(m_.boxes, "box", "boxes") + ", " + Plural(m_.jobs, "raw job", "raw jobs") +
                ".</p>\n";
        Rights();
        if (!m_.hasRoadRecords) {
            out_ +=
                "<p>This machine's database was made before larksim recorded its roads' ends, "
                "so roads show only what the platform recorded; <code>larksim init</code> "
                "adds the table for the roads to come.</p>\n";
        }
        if (!m_.roads.empty()) {
            out_ += "<nav aria-label=\"Roads\"><ol>";
            for (const Road& r : m_.roads) {
                out_ += "<li><a href=\"#road-" + std::to_string(r.number) + "\">" +
                        Escape(RoadTitle(r)) + "</a> <span class=\"facts\">" +
                        Escape(Clock(r.firstMicros)) + "</span></li>";
            }
            out_ += "</ol></nav>\n";
        }
        out_ +=
            "<p class=\"legend\">In the sequences time runs down, one lane per thread (and one for "
            "the dialog or the status monitor). Every step is a row at least 24 pixels below the "
            "one before; a longer gap adds height with its logarithm, so a 0.1 ms step is a tick "
            "and a 2-second showing is tall. The times at the left are the real ones, from the "
            "road's first record; \xE2\x89\x88 marks a time that is not recorded but follows from "
            "the steps around it. Hover a row for its whole text.</p>\n";
        out_ +=
            "<ul class=\"keys\" aria-label=\"Colours of the marks\">"
            "<li><span class=\"key call\"></span>driver calls and answers</li>"
            "<li><span class=\"key sheet\"></span>the property sheet</li>"
            "<li><span class=\"key window\"></span>windows, looks and port statuses</li>"
            "<li><span class=\"key send\"></span>messages sent, presses</li>"
            "<li><span class=\"key dialog\"></span>the settings dialog</li>"
            "<li><span class=\"key job\"></span>jobs</li>"
            "<li><span class=\"key warn\"></span>warnings and boxes</li>"
            "<li><span class=\"key end\"></span>ends</li></ul>\n";
        out_ += "</header>\n<main>\n";
    }

    static int64_t Now() {
        struct timespec ts {};
        clock_gettime(CLOCK_REALTIME, &ts);
        return static_cast<int64_t>(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
    }

    void RoadSection(const Road& road) {
        std::string id = "road-" + std::to_string(road.number);
        const char* kind = road.kind == Road::Kind::Settings  ? "settings"
                           : road.kind == Road::Kind::Print   ? "print"
                           : road.kind == Road::Kind::Monitor ? "monitor"
                                                              : "other";
        out_ += "<section class=\"road " + std::string(kind) + "\" id=\"" + id +
                "\" aria-labelledby=\"" + id + "-heading\">\n";
        out_ += "<h2 id=\"" + id + "-heading\">Road " + std::to_string(road.number) + ": " +
                Escape(RoadTitle(road)) + "</h2>\n";
        std::string facts;
        std::string command = Command(road);
        if (!command.empty()) facts += Code(command) + " \xC2\xB7 ";
        facts += road.pid != 0 ? "process " + std::to_string(road.pid) : std::string("no process");
        if (road.firstMicros != 0) {
            facts += " \xC2\xB7 from " + Clock(road.firstMicros) + " for " +
                     Elapsed(road.lastMicros - road.firstMicros);
        }
        if (road.hasEnd) facts += " \xC2\xB7 exit code " + std::to_string(road.end.exitCode);
        out_ += "<p class=\"facts\">" + facts + "</p>\n";
        switch (road.kind) {
            case Road::Kind::Settings:
            case Road::Kind::Other:
                SettingsRoad(road, id);
                break;
            case Road::Kind::Print:
                PrintRoad(road, id);
                break;
            case Road::Kind::Monitor:
                for (size_t i = 0; i < road.monitors.size(); ++i) {
                    Monitor(road.monitors[i], id + "-monitor-" + std::to_string(i + 1), "h3");
                }
                break;
        }
        Accounting(road);
        out_ += "</section>\n";
    }

    // A road with nothing but its end has no sequence to draw.
    void Sequence(const Diagram& d, const std::string& heading) {
        if (d.rows.size() < 2) return;
        out_ += "<h3>" + heading + "</h3>\n";
        out_ += "<div class=\"scroll\" tabindex=\"0\" role=\"region\" aria-label=\"" +
                Escape(d.title) + "\">" + DiagramSvg(d) + "</div>\n";
        out_ +=
            "<details><summary>The steps as a table</summary><table class=\"steps\"><thead>"
            "<tr><th scope=\"col\">time</th><th scope=\"col\">lane</th><th scope=\"col\">"
            "what happens</th></tr></thead><tbody>";
        int64_t start = d.rows.front().micros;
        for (const Row& r : d.rows) {
            std::string lane = d.lanes[static_cast<size_t>(r.lane)].title;
            if (r.toLane >= 0 && r.toLane != r.lane) {
                lane += " \xE2\x86\x92 " + d.lanes[static_cast<size_t>(r.toLane)].title;
            }
            out_ += "<tr><td class=\"time\">" + std::string(r.inferred ? "\xE2\x89\x88 " : "") +
                    Elapsed(r.micros - start) + "</td><td>" + Escape(lane) + "</td><td>" +
                    Escape(r.text) + "</td></tr>";
        }
        out_ += "</tbody></table></details>\n";
    }

    void SettingsRoad(const Road& road, const std::string& id) {
        Sequence(SettingsDiagram(road), "The sequence");
        if (!road.showings.empty()) {
            out_ += "<h3>The dialog's showings</h3>\n<div class=\"showings\">";
            for (const Showing& s : road.showings) ShowingFigure(s, id);
            out_ += "</div>\n";
        }
        if (road.hasEnd) {
            out_ += "<h3>What the application got</h3>\n";
            if (road.end.devmode.empty()) {
                out_ +=
                    "<p>No devmode: the road did not end with IDOK, so the application keeps "
                    "its own.</p>\n";
            } else {
                Devmode(road.end.devmode, "The devmode the application got");
            }
            out_ += "<p>The printer data value PrinterSettings at the end: " +
                    (road.end.hasSettings ? Code("\"" + winsim::ToUtf8(road.end.settings) + "\"")
                                          : std::string("none")) +
                    ".</p>\n";
        }
        Jobs(road, id);
    }

    void ShowingFigure(const Showing& s, const std::string& id) {
        const auto& d = s.record;
        std::string n = std::to_string(s.number);
        // A showing that failed in the browser says so in its title, with
        // the reason the browser gave.
        const bool browserFailed = d.outcome == winsim::DialogKind::Fail && !d.answer.empty();
        out_ +=
            "<figure class=\"showing\" id=\"" + id + "-showing-" + n + "\"><figcaption>Showing " +
            n + (browserFailed ? " in the browser, failed: " + Escape(d.answer) : std::string()) +
            " \xC2\xB7 " + Elapsed(d.micros - s.startMicros) + "</figcaption><dl class=\"pairs\">";
        out_ +=
            "<dt>argument</dt><dd>" +
            (d.hasArgument ? Code("\"" + winsim::ToUtf8(d.argument) + "\"") : std::string("none")) +
            "</dd>";
        std::string answer;
        switch (d.outcome) {
            case winsim::DialogKind::Answer:
                answer = Code("\"" + winsim::ToUtf8(d.answer) + "\"");
                break;
            case winsim::DialogKind::Sample:
                answer = Code("\"" + winsim::ToUtf8(d.answer) + "\"") + ": a sample page";
                break;
            case winsim::DialogKind::None:
                answer = "none: closed without an answer";
                break;
            case winsim::DialogKind::NullString:
                answer = "a NULL string";
                break;
            case winsim::DialogKind::Fail: {
                char hr[16];
                std::snprintf(hr, sizeof hr, "0x%08X", static_cast<uint32_t>(d.result));
                answer = std::string("none: the dialog failed with ") + hr;
                break;
            }
        }
        out_ += "<dt>answer</dt><dd>" + answer + "</dd>";
        out_ += "<dt>page</dt><dd>" + Code(d.page) + "</dd>";
        if (!d.options.empty()) out_ += "<dt>options</dt><dd>" + Code(d.options) + "</dd>";
        out_ += "<dt>ended</dt><dd>" + Escape(Clock(d.micros)) + "</dd></dl>";
        if (!d.screenshot.empty()) {
            Picture p = Screenshot(m_.root, d.screenshot);
            if (p.url.empty()) {
                out_ += "<p>No screenshot: " + Escape(p.missing) + ".</p>";
            } else {
                // Shown at the size of the dialog's client area at 100%.
                uint32_t w = std::min<uint32_t>(p.width, 320);
                uint32_t h =
                    p.width != 0
                        ? static_cast<uint32_t>(static_cast<uint64_t>(p.height) * w / p.width)
                        : 0;
                out_ += "<img src=\"" + p.url + "\" width=\"" + std::to_string(w) + "\" height=\"" +
                        std::to_string(h) + "\" alt=\"The settings page of showing " + n +
                        " as the browser left it\">";
            }
        } else {
            out_ += "<p>No screenshot: the dialog was scripted, not shown in the browser.</p>";
        }
        out_ += "</figure>";
    }

    void Devmode(const std::vector<uint8_t>& bytes, const std::string& caption) {
        auto fields = DevmodeFields(bytes);
        if (fields.empty()) {
            out_ += "<p>" + Escape(caption) + ": none.</p>\n";
            return;
        }
        out_ += "<table class=\"devmode\"><caption>" + Escape(caption) + "</caption><tbody>";
        for (const auto& [name, value] : fields) {
            out_ += "<tr><th scope=\"row\">" + Escape(name) + "</th><td>" + Escape(value) +
                    "</td></tr>";
        }
        out_ += "</tbody></table>\n";
    }

    // The page as the devmode lays it out: the sheet and its imageable area.
    void PagePicture(const std::vector<uint8_t>& bytes, const std::string& id) {
        if (bytes.size() < sizeof(DriverDevmode)) return;
        DriverDevmode d;
        std::memcpy(&d, bytes.data(), sizeof d);
        const DevmodePrivate& p = d.priv;
        if (d.dm.dmDriverExtra < kPrivateDevmodeSize || p.PageWidthDots == 0 ||
            p.PageLengthDots == 0 || p.PageWidthDots > 1000000 || p.PageLengthDots > 1000000) {
            return;
        }
        double scale = 200.0 / std::max(p.PageWidthDots, p.PageLengthDots);
        double w = p.PageWidthDots * scale, h = p.PageLengthDots * scale;
        double ix = std::min<double>(p.ImageableLeft, p.PageWidthDots) * scale;
        double iy = std::min<double>(p.ImageableTop, p.PageLengthDots) * scale;
        double iw = std::min<double>(p.ImageableWidthDots, p.PageWidthDots) * scale;
        double ih = std::min<double>(p.ImageableLengthDots, p.PageLengthDots) * scale;
        char svg[1024];
        std::string title = "The page, " + std::to_string(p.PageWidthDots) + " by " +
                            std::to_string(p.PageLengthDots) + " dots, with its imageable area";
        out_ += "<figure class=\"page\">";
        std::snprintf(svg, sizeof svg,
                      "<svg class=\"page\" xmlns=\"http://www.w3.org/2000/svg\" width=\"%.0f\" "
                      "height=\"%.0f\" viewBox=\"-2 -2 %.1f %.1f\" role=\"img\" "
                      "aria-labelledby=\"%s-page-title\"><title id=\"%s-page-title\">%s</title>"
                      "<rect class=\"paper\" x=\"0\" y=\"0\" width=\"%.1f\" height=\"%.1f\"/>"
                      "<rect class=\"imageable\" x=\"%.1f\" y=\"%.1f\" width=\"%.1f\" "
                      "height=\"%.1f\"/><rect class=\"edge\" x=\"0\" y=\"0\" width=\"%.1f\" "
                      "height=\"%.1f\"/></svg>",
                      w + 4, h + 4, w + 4, h + 4, id.c_str(), id.c_str(), Escape(title).c_str(), w,
                      h, ix, iy, iw, ih, w, h);
        out_ += svg;
        out_ += "<figcaption>The page: " + std::to_string(p.PaperWidthMm) + " x " +
                std::to_string(p.PaperLengthMm) + " mm, " + std::to_string(p.PageWidthDots) +
                " x " + std::to_string(p.PageLengthDots) + " dots; its imageable area (dashed) " +
                std::to_string(p.ImageableWidthDots) + " x " +
                std::to_string(p.ImageableLengthDots) + " dots from (" +
                std::to_string(p.ImageableLeft) + ", " + std::to_string(p.ImageableTop) +
                ")</figcaption></figure>";
    }

    void PrintRoad(const Road& road, const std::string& id) {
        Sequence(PrintDiagram(road), "The sequence");
        if (!road.steps.empty()) {
            out_ +=
                "<h3>Document events</h3>\n<table class=\"events\"><thead><tr><th "
                "scope=\"col\">time</th><th scope=\"col\">event</th><th scope=\"col\">"
                "answer</th></tr></thead><tbody>";
            int64_t start = road.steps.front().micros;
            for (const auto& s : road.steps) {
                out_ += "<tr><td class=\"time\">" + Elapsed(s.micros - start) + "</td><td>" +
                        Escape(s.name) + "</td><td>" + DocumentEventName(s.result) + " (" +
                        std::to_string(s.result) + ")</td></tr>";
            }
            out_ += "</tbody></table>\n";
        }
        for (const auto& s : road.steps) {
            if (s.devmode.empty()) continue;
            out_ += "<h3>The devmode handed out by " + Escape(s.name) +
                    "</h3>\n<div class=\"page-picture\">";
            Devmode(s.devmode, "Its fields");
            PagePicture(s.devmode, id);
            out_ += "</div>\n";
        }
        for (size_t i = 0; i < road.monitors.size(); ++i) {
            out_ += "<h3>The status monitor it started</h3>\n";
            Monitor(road.monitors[i], id + "-monitor-" + std::to_string(i + 1), "h4");
        }
        Jobs(road, id);
    }

    static std::string StatusField(const std::string& deviceId) {
        size_t at = deviceId.find(";S:");
        if (at == std::string::npos) return "";
        size_t end = deviceId.find(';', at + 1);
        return deviceId.substr(at + 1, end == std::string::npos ? std::string::npos : end - at - 1);
    }

    // The S field with the status byte (its characters 19 and 20, counted
    // from the semicolon) marked.
    static std::string MarkedField(const std::string& field) {
        if (field.size() < 20) return Escape(field);
        return Escape(field.substr(0, 18)) + "<mark>" + Escape(field.substr(18, 2)) + "</mark>" +
               Escape(field.substr(20));
    }

    static std::string BoxStyle(UINT style) {
        char hex[16];
        std::snprintf(hex, sizeof hex, "0x%X", style);
        std::string names;
        static const char* const kButtons[] = {
            "MB_OK",          "MB_OKCANCEL", "MB_ABORTRETRYIGNORE",
            "MB_YESNOCANCEL", "MB_YESNO",    "MB_RETRYCANCEL"};
        if ((style & 0xF) < 6) names = kButtons[style & 0xF];
        switch (style & 0xF0) {
            case 0x10:
                names += ", MB_ICONHAND";
                break;
            case 0x20:
                names += ", MB_ICONQUESTION";
                break;
            case 0x30:
                names += ", MB_ICONEXCLAMATION";
                break;
            case 0x40:
                names += ", MB_ICONASTERISK";
                break;
        }
        if (style & 0x1000) names += ", MB_SYSTEMMODAL";
        if (style & 0x2000) names += ", MB_TASKMODAL";
        if (style & 0x10000) names += ", MB_SETFOREGROUND";
        if (style & 0x40000) names += ", MB_TOPMOST";
        return std::string(hex) + (names.empty() ? "" : " (" + names + ")");
    }

    void Monitor(const MonitorRun& run, const std::string& id, const char* h) {
        std::string facts = run.pid != 0 ? "the monitor's process " + std::to_string(run.pid)
                                         : std::string("no monitor process seen");
        facts += " \xC2\xB7 " + Plural(run.polls.size(), "poll", "polls") + " \xC2\xB7 " +
                 Plural(run.statuses.size(), "port status", "port statuses") + " \xC2\xB7 " +
                 Plural(run.boxes.size(), "box", "boxes");
        if (run.firstMicros != 0) {
            facts += " \xC2\xB7 from " + Clock(run.firstMicros) + " for " +
                     Elapsed(run.lastMicros - run.firstMicros);
        }
        out_ += "<p class=\"facts\">" + facts + "</p>\n";
        if (!run.startup.empty()) {
            out_ += "<p>Its start: ";
            for (size_t i = 0; i < run.startup.size(); ++i) {
                if (StartsWithExiting(run.startup[i])) continue;
                out_ += (i == 0 ? "" : " \xE2\x86\x92 ") + Code(run.startup[i]);
            }
            out_ += "</p>\n";
        }
        if (!run.polls.empty()) {
            out_ += "<" + std::string(h) + ">Polls</" + h + ">\n<ol class=\"polls\" aria-label=\"" +
                    "Polls of the monitor\">";
            int64_t start = run.firstMicros;
            // A run of identical polls is one card with its count, so a
            // monitor that polled for hours stays a page, not a flood.
            for (size_t i = 0; i < run.polls.size();) {
                size_t j = i + 1;
                while (j < run.polls.size() && SamePoll(run.polls[i], run.polls[j])) ++j;
                PollCard(run.polls[i], id, start, &run.polls[j - 1], j - i);
                i = j;
            }
            out_ += "</ol>\n";
        }
        out_ += "<p class=\"ended\"><strong>Ended</strong> " + Escape(run.ended) + ". ";
        if (run.exited) {
            // What a process still holds at ExitProcess its end releases; the
            // monitor leaves its device handle to that on purpose.
            std::string held = HeldText(run.held, 0);
            // The one handle a monitor that reached its loop holds is its
            // USB printer device, which it never closes itself.
            bool looped = std::find(run.log.begin(), run.log.end(),
                                    "PrinterStatus: Entering while loop") != run.log.end();
            if (run.held.kernelHandles == 1 && (looped || run.log.empty())) {
                for (const char* form : {"1 handle, ", "1 handle"}) {
                    size_t at = held.find(form);
                    bool whole = at != std::string::npos && (at == 0 || held[at - 1] == ' ') &&
                                 (at + std::strlen(form) == held.size() || form[8] == ',');
                    if (!whole) continue;
                    held.replace(at, 8, "1 handle (the USB printer device it opened)");
                    break;
                }
            }
            out_ += "Exit code " + std::to_string(run.exitCode) +
                    "; at its exit the process held " +
                    (held.empty() ? std::string("nothing")
                                  : Escape(held) + ", which the end of the process releases") +
                    ".";
        } else if (run.pid != 0) {
            out_ += "No exit of the process was recorded (ended by a signal, or still running).";
        }
        out_ += "</p>\n";
        if (!run.boxes.empty()) {
            out_ += "<" + std::string(h) + ">Boxes</" + h + ">\n<ol class=\"boxes\">";
            for (const auto& b : run.boxes) {
                int poll = 0;
                for (const auto& p : run.polls) {
                    for (const auto& pb : p.boxes) poll = pb.id == b.id ? p.number : poll;
                }
                out_ += "<li class=\"box\" id=\"" + id + "-box-" + std::to_string(b.id) +
                        "\"><p><strong>" +
                        Escape("\xE2\x80\x9C" + winsim::ToUtf8(b.caption) + "\xE2\x80\x9D") +
                        "</strong>" + (poll != 0 ? " at poll " + std::to_string(poll) : "") +
                        ", style " + BoxStyle(b.style) + ", " +
                        (b.closedMicros != 0
                             ? "answered after " + Elapsed(b.closedMicros - b.shownMicros)
                             : std::string("still open")) +
                        ".</p><p class=\"box-text\">" + Escape(b.text, true) + "</p></li>";
            }
            out_ += "</ol>\n";
        }
        if (!run.log.empty()) {
            out_ += "<details><summary>Its debug log, " + Plural(run.log.size(), "line", "lines") +
                    "</summary><div class=\"scroll\" tabindex=\"0\" role=\"region\" aria-label=\"" +
                    "The monitor's debug log\"><pre class=\"log\">";
            // The first and the last lines of a long log: the middle is the
            // polls' repetition, which the strip above counts.
            constexpr size_t kEnds = 1000;
            for (size_t i = 0; i < run.log.size(); ++i) {
                if (run.log.size() > 2 * kEnds && i == kEnds) {
                    out_ += "\xE2\x80\xA6 " + Plural(run.log.size() - 2 * kEnds, "line", "lines") +
                            " left out \xE2\x80\xA6\n";
                    i = run.log.size() - kEnds;
                }
                out_ += Escape(run.log[i]) + "\n";
            }
            out_ += "</pre></div></details>\n";
        }
    }

    static bool StartsWithExiting(const std::string& line) {
        return line.rfind("PrinterStatus: Exiting", 0) == 0;
    }

    // Polls that one card can stand for: the same answer, verdict and port
    // status, and no box.
    static bool SamePoll(const Poll& a, const Poll& b) {
        return a.deviceId == b.deviceId && a.nibbles == b.nibbles && a.messages == b.messages &&
               a.hasResult == b.hasResult && a.result == b.result && a.hasStatus == b.hasStatus &&
               (!a.hasStatus ||
                (a.status.status == b.status.status && a.status.severity == b.status.severity &&
                 a.status.error == b.status.error && a.status.hasText == b.status.hasText &&
                 a.status.text == b.status.text)) &&
               a.queue == b.queue && (a.number <= 21) == (b.number <= 21) && a.boxes.empty() &&
               b.boxes.empty();
    }

    void PollCard(const Poll& p, const std::string& id, int64_t start, const Poll* last,
                  size_t count) {
        bool trouble = p.hasStatus && (p.status.status != 0 || p.status.error != 0);
        bool info = p.hasStatus && p.status.severity == PORT_STATUS_TYPE_INFO;
        std::string n = std::to_string(p.number);
        std::string title =
            count > 1 ? "Polls " + n + "\xE2\x80\x93" + std::to_string(last->number) : "Poll " + n;
        out_ += std::string("<li class=\"poll") +
                (trouble ? " trouble"
                 : info  ? " info"
                         : "") +
                (p.queue == Poll::Queue::NotRead ? " stopped" : "") + "\" id=\"" + id + "-poll-" +
                n + "\"><p class=\"n\">" + title + "</p>";
        auto when = [&](const Poll& q) {
            return q.hasStatus && start != 0 ? "+" + Elapsed(q.status.micros - start)
                                             : std::string("no time recorded");
        };
        out_ += "<p class=\"when\">" +
                (count > 1 ? Plural(count, "identical poll", "identical polls") + ", " + when(p) +
                                 " to " + when(*last)
                           : when(p)) +
                "</p><dl>";
        std::string field = StatusField(p.deviceId);
        std::string device;
        if (!field.empty()) {
            device = "<code title=\"" + Escape(p.deviceId) + "\">" + MarkedField(field) + "</code>";
            if (p.hasResult) device += " status " + std::to_string(p.result);
        } else if (!p.deviceId.empty()) {
            device = "no S field: " + Code(p.deviceId);
        } else {
            device = "no device ID";
        }
        for (const auto& m : p.messages) device += "<br>" + Escape(m);
        out_ += "<dt>device</dt><dd>" + device + "</dd>";
        if (p.hasStatus && p.status.error != 0) {
            out_ += "<dt>port</dt><dd>refused, error " + std::to_string(p.status.error) +
                    " (ERROR_ACCESS_DENIED): " + PortStatusName(p.status.status) +
                    " did not reach the spooler</dd>";
        } else if (p.hasStatus) {
            out_ += "<dt>port</dt><dd>" + std::string(PortStatusName(p.status.status)) + " (" +
                    std::to_string(p.status.status) + "), " +
                    (p.status.severity == PORT_STATUS_TYPE_INFO      ? "info"
                     : p.status.severity == PORT_STATUS_TYPE_WARNING ? "warning"
                     : p.status.severity == PORT_STATUS_TYPE_ERROR
                         ? "error"
                         : "severity " + std::to_string(p.status.severity)) +
                    (p.status.hasText ? ", " + Code("\"" + winsim::ToUtf8(p.status.text) + "\"")
                                      : std::string()) +
                    "</dd>";
        } else {
            out_ += "<dt>port</dt><dd>not set</dd>";
        }
        std::string queue;
        switch (p.queue) {
            case Poll::Queue::Empty:
                queue = "empty: no more jobs";
                break;
            case Poll::Queue::NotRead:
                queue = "not read";
                break;
            case Poll::Queue::Busy: {
                // The monitor polls on while the status is not 0, through
                // its first 21 polls, and while jobs are queued.
                std::string why;
                if (p.hasResult && p.result != 0) why = "status " + std::to_string(p.result);
                if (p.number <= 21) why += std::string(why.empty() ? "" : ", ") + "first 21 polls";
                queue = why.empty() ? "jobs queued" : "still polling (" + why + ")";
                break;
            }
        }
        out_ += "<dt>queue</dt><dd>" + queue + "</dd>";
        for (const auto& b : p.boxes) {
            std::string tip = id + "-box-" + std::to_string(b.id) + "-tip";
            out_ +=
                "<dt>box</dt><dd><span class=\"tip\" tabindex=\"0\" aria-describedby=\"" + tip +
                "\">shown: " + Escape("\xE2\x80\x9C" + winsim::ToUtf8(b.caption) + "\xE2\x80\x9D") +
                "<span class=\"tip-text\" role=\"tooltip\" id=\"" + tip + "\">" +
                Escape(b.text, true) + "</span></span></dd>";
        }
        if (p.boxWithheld) {
            out_ +=
                "<dt>box</dt><dd>none shown: the window station is not visible (a "
                "service's), so nobody could have closed it</dd>";
        }
        out_ += "</dl></li>";
    }

    void Jobs(const Road& road, const std::string& id) {
        if (road.jobs.empty()) return;
        out_ += "<h3>Raw jobs</h3>\n";
        for (const auto& j : road.jobs) {
            std::string n = std::to_string(j.id);
            out_ += "<div class=\"job\" id=\"" + id + "-job-" + n + "\"><h4>Job " + n + ": " +
                    Escape("\xE2\x80\x9C" + j.document + "\xE2\x80\x9D") + ", " +
                    Escape(j.datatype) + ", " + Plural(j.pages, "page", "pages") + ", " +
                    Plural(j.data.size(), "byte", "bytes") + ", " +
                    (j.ended ? "ended" : "not ended") + "</h4>";
            size_t shown = std::min(j.data.size(), kHexBytes);
            if (shown < j.data.size()) {
                out_ += "<p>The first " + std::to_string(shown) + " of its " +
                        std::to_string(j.data.size()) + " bytes:</p>";
            }
            if (shown != 0) {
                out_ +=
                    "<div class=\"scroll\" tabindex=\"0\" role=\"region\" aria-label=\"The "
                    "bytes of job " +
                    n + "\"><pre class=\"hex\">";
                char cell[24];
                for (size_t at = 0; at < shown; at += 16) {
                    std::snprintf(cell, sizeof cell, "%04zx ", at);
                    std::string text;
                    out_ += cell;
                    for (size_t i = at; i < at + 16; ++i) {
                        if (i < shown) {
                            std::snprintf(cell, sizeof cell, " %02x", j.data[i]);
                            out_ += cell;
                            uint8_t b = j.data[i];
                            text += b >= 0x20 && b < 0x7f ? static_cast<char>(b) : '.';
                        } else {
                            out_ += "   ";
                        }
                    }
                    out_ += "  " + Escape(text) + "\n";
                }
                out_ += "</pre></div>";
                std::string asText(j.data.begin(),
                                   j.data.begin() + static_cast<std::ptrdiff_t>(shown));
                out_ += "<p>As text: " + Code(asText) + "</p>";
            }
            out_ += "</div>\n";
        }
    }

    void Accounting(const Road& road) {
        if (!road.hasEnd) return;
        std::string held = HeldText(road.end.held, road.end.threads);
        out_ += "<p class=\"ended\"><strong>Accounting</strong> at the road's end: the process ";
        out_ += held.empty() ? "held nothing of the platform (handles, blocks, files, strings, "
                               "monikers, threads)."
                             : "held <span class=\"held\">" + Escape(held) + "</span>.";
        out_ += "</p>\n";
    }

    const Machine& m_;
    std::string out_;
};

}  // namespace

std::string ReportHtml(const Machine& machine) { return Writer(machine).Document(); }

}  // namespace larksim::report
