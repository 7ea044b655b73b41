// larksim monitor: runs the printer's status monitor from the driver
// directory as the driver would start it, waits for it, and shows its debug
// log, port statuses and message boxes as one timeline. larksim box: the
// open message boxes of the machine, and answering them.
#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "larksim.h"
#include "winsim/road_records.h"

namespace larksim {
namespace {

const char16_t kLogPath[] = u"C:\\temp\\larkdeb\\larksm.txt";

// The monitor's file name from the printer data value StatusMonitor, as
// the driver takes it; larkmon.exe when the value is missing or empty.
std::u16string MonitorFile(const std::u16string& printer) {
    for (const winsim::PrinterDataValue& v : winsim::PrinterData(printer)) {
        if (v.name != u"StatusMonitor" || v.data.size() < 2) continue;
        std::u16string name(v.data.size() / 2, u'\0');
        for (size_t i = 0; i < name.size(); ++i) {
            name[i] = static_cast<char16_t>(v.data[2 * i] | (v.data[2 * i + 1] << 8));
        }
        while (!name.empty() && name.back() == 0) name.pop_back();
        if (!name.empty()) return name;
    }
    return u"larkmon.exe";
}

long FileSize(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? static_cast<long>(st.st_size) : -1;
}

}  // namespace

std::vector<std::string> NewLogLines(const std::string& path, long from) {
    std::ifstream in(path, std::ios::binary);
    std::vector<std::string> lines;
    if (!in) return lines;
    in.seekg(from < 0 ? 0 : from);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

namespace {

void PrintPortStatus(const winsim::PortStatusRecord& r) {
    std::printf("           port %s: status %u (%s), severity %u (%s), text %s\n",
                winsim::ToUtf8(r.port).c_str(), r.status, PortStatusName(r.status), r.severity,
                r.severity == PORT_STATUS_TYPE_INFO ? "info" : "warning",
                r.hasText ? ("\"" + Printable(r.text) + "\"").c_str() : "none");
}

void PrintBox(const winsim::MessageBoxRecord& b) {
    std::printf(
        "           box: caption \"%s\", style 0x%X, text \"%s\", answered after %lld ms\n",
        Printable(b.caption).c_str(), b.style, Printable(b.text).c_str(),
        static_cast<long long>(b.closedMicros != 0 ? (b.closedMicros - b.shownMicros) / 1000 : -1));
}

// The S field of a device ID, or the whole text when it has none.
std::string StatusField(const std::string& id) {
    size_t at = id.rfind("S:", 0) == 0 ? 0 : id.find(";S:");
    if (at == std::string::npos) return id;
    if (at != 0) ++at;
    size_t end = id.find(';', at);
    return id.substr(at, end == std::string::npos ? std::string::npos : end - at);
}

bool StartsWith(const std::string& line, const char* prefix) { return line.rfind(prefix, 0) == 0; }

struct Poll {
    std::string deviceId, nibbles, messages;
    bool setsStatus = false;
    bool boxWithheld = false;  // a box was due where nobody could see it
    std::string queue;
};

}  // namespace

// One line per poll: the device's status field, what the monitor made of
// it, the port status it set and the box it showed, and the queue it saw.
// Each SetPortW follows its "Setting port status" line; each box follows
// the port status it came after. raw adds the debug log's own lines.
void PrintMonitorTimeline(const std::vector<std::string>& log, int pid, bool raw) {
    winsim::RecordMonitorRun(pid, log);
    auto statuses = OfProcess(winsim::PortStatuses(), pid);
    auto boxes = OfProcess(winsim::MessageBoxes(), pid);
    size_t nextStatus = 0, nextBox = 0;
    auto boxesUpTo = [&](int64_t seq) {
        while (nextBox < boxes.size() && boxes[nextBox].afterPortStatus <= seq) {
            PrintBox(boxes[nextBox++]);
        }
    };
    boxesUpTo(0);
    int polls = 0;
    bool inLoop = false;
    Poll poll;
    // A poll that the monitor ended without reading the queue is shown but
    // not counted.
    auto endPoll = [&](const std::string& queue) {
        bool whole = queue != "not read";
        if (whole) ++polls;
        char number[16];
        std::snprintf(number, sizeof number, "%2d", whole ? polls : polls + 1);
        std::string line = "  poll " + std::string(number);
        if (!poll.deviceId.empty()) line += "  " + StatusField(poll.deviceId);
        if (!poll.nibbles.empty()) line += " (" + poll.nibbles + ")";
        if (!poll.messages.empty()) line += "  " + poll.messages;
        std::vector<winsim::MessageBoxRecord> shown;
        if (poll.setsStatus && nextStatus < statuses.size()) {
            const winsim::PortStatusRecord& r = statuses[nextStatus++];
            line += "  -> port " + std::string(PortStatusName(r.status)) +
                    (r.severity == PORT_STATUS_TYPE_INFO ? ", info" : ", warning");
            if (r.hasText) line += " \"" + Printable(r.text) + "\"";
            while (nextBox < boxes.size() && boxes[nextBox].afterPortStatus <= r.seq) {
                shown.push_back(boxes[nextBox++]);
            }
        }
        if (!shown.empty()) line += "  -> box shown";
        if (poll.boxWithheld) line += "  -> no box shown: the window station is not visible";
        std::printf("%s  (queue: %s)\n", line.c_str(), queue.c_str());
        for (const auto& b : shown) PrintBox(b);
        poll = Poll();
    };
    for (const std::string& line : log) {
        if (raw) std::printf("  log   %s\n", line.c_str());
        if (StartsWith(line, "PrinterStatus: Entering while loop")) {
            inLoop = true;
        } else if (!inLoop || StartsWith(line, "PrinterStatus: Exiting")) {
            if (inLoop && (!poll.deviceId.empty() || !poll.messages.empty())) {
                endPoll("not read");
            }
            if (!raw && !line.empty()) std::printf("  monitor  %s\n", line.c_str());
        } else if (StartsWith(line, "CheckStatus: Status nibbles are: ")) {
            poll.nibbles = line.substr(33);
        } else if (StartsWith(line, "CheckStatus: Setting port status to")) {
            poll.setsStatus = true;
        } else if (line == "CheckStatus: No message box, the window station is not visible") {
            poll.boxWithheld = true;
        } else if (StartsWith(line, "There are still jobs in the queue")) {
            endPoll("jobs");
        } else if (StartsWith(line, "There are no more jobs")) {
            endPoll("empty");
        } else if (StartsWith(line, "PrinterStatus: CheckPrinterStuats returned") ||
                   StartsWith(line, "Returned from GetPrinter")) {
        } else if (poll.deviceId.empty() && line.find(':') != std::string::npos &&
                   line.find(';') != std::string::npos) {
            poll.deviceId = line;
        } else if (!line.empty()) {
            poll.messages += (poll.messages.empty() ? "" : "; ") + line;
        }
    }
    while (nextStatus < statuses.size()) {
        PrintPortStatus(statuses[nextStatus]);
        boxesUpTo(statuses[nextStatus++].seq);
    }
    boxesUpTo(INT64_MAX);
    std::printf("polls: %d, port statuses: %zu, boxes: %zu\n", polls, statuses.size(),
                boxes.size());
}

namespace {}  // namespace

int Monitor(const Args& args) {
    Args pos;
    if (!CheckFlags(args, {}, {"--log"}, &pos)) return 2;
    if (pos.size() != 1) return Usage("monitor <printer> [--log]");
    winsim::PrinterRecord printer;
    if (!RequirePrinter(pos[0], &printer)) return 1;
    winsim::DriverRecord driver;
    DWORD version = winsim::GetDriver(printer.driver, &driver) ? driver.version : 3;
    std::u16string program = winsim::DriverDirectory() + u"\\" +
                             winsim::ToUtf16(std::to_string(version)) + u"\\" +
                             MonitorFile(printer.name);
    const std::string logPath = winsim::HostPath(kLogPath);
    const long logStart = FileSize(logPath);
    int pid = 0;
    if (!winsim::StartProgram(program, winsim::ToUtf16(pos[0]), &pid)) {
        return Fail("cannot start " + winsim::ToUtf8(program));
    }
    std::printf("started %s \"%s\" (pid %d)\n", winsim::ToUtf8(program).c_str(), pos[0].c_str(),
                pid);
    int status = 0;
    waitpid(pid, &status, 0);
    if (FileSize(logPath) < 0) std::printf("  (no debug log: C:\\temp\\larkdeb is missing)\n");
    PrintMonitorTimeline(NewLogLines(logPath, logStart), pid, Has(args, "--log"));
    if (WIFEXITED(status)) {
        std::printf("exit code %d\n", WEXITSTATUS(status));
        return WEXITSTATUS(status) == 0 ? 0 : 1;
    }
    std::printf("ended by signal %d\n", WTERMSIG(status));
    return 1;
}

int Box(const Args& args) {
    if (!CheckFlags(args, {}, {}, nullptr)) return 2;
    if (args.empty() || (args[0] == "list" && args.size() == 1)) {
        for (const winsim::MessageBoxRecord& b : winsim::MessageBoxes()) {
            std::printf("%lld pid %d %s ", static_cast<long long>(b.id), b.pid,
                        b.closedMicros != 0 ? "answered" : "open");
            PrintBox(b);
        }
        return 0;
    }
    if (args[0] == "close" && args.size() == 2) {
        bool any = false;
        for (const winsim::MessageBoxRecord& b : winsim::MessageBoxes()) {
            if (b.closedMicros == 0 && (args[1] == "all" || std::to_string(b.id) == args[1])) {
                any = winsim::CloseMessageBox(b.id) || any;
            }
        }
        return any ? 0 : Fail("no open box " + args[1]);
    }
    return Usage("box [list] | box close <id|all>");
}

}  // namespace larksim
