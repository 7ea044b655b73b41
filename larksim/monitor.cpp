// larksim monitor: runs the printer's status monitor from the driver
// directory as the driver would start it, waits for it, and shows its debug
// log, port statuses and message boxes as one timeline. larksim box: the
// open message boxes of the machine, and answering them.
#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <thread>

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
    if (r.error != 0) {
        std::printf("           port %s: status %u (%s) refused, error %u (ERROR_ACCESS_DENIED)\n",
                    winsim::ToUtf8(r.port).c_str(), r.status, PortStatusName(r.status), r.error);
        return;
    }
    std::printf("           port %s: status %u (%s), severity %u (%s), text %s\n",
                winsim::ToUtf8(r.port).c_str(), r.status, PortStatusName(r.status), r.severity,
                r.severity == PORT_STATUS_TYPE_INFO ? "info" : "warning",
                r.hasText ? ("\"" + Printable(r.text) + "\"").c_str() : "none");
}

void PrintBox(const winsim::MessageBoxRecord& b) {
    std::string answered =
        b.closedMicros != 0
            ? "answered after " + std::to_string((b.closedMicros - b.shownMicros) / 1000) + " ms"
            : std::string("not answered");
    std::printf("           box: caption \"%s\", style 0x%X, text \"%s\", %s\n",
                Printable(b.caption).c_str(), b.style, Printable(b.text).c_str(), answered.c_str());
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

}  // namespace

// One line per poll, printed as the poll ends: the device's status field,
// what the monitor made of it, the port status it set and the box it
// showed, and the queue when the poll tells it. Each SetPortW follows its
// "Setting port status" line; each box follows the port status it came
// after. raw adds the debug log's own lines.
MonitorTimeline::MonitorTimeline(int pid, bool raw) : pid_(pid), raw_(raw) {}

// The port statuses and boxes of the monitor's process so far: a poll's
// records are written before the poll's last log line.
void MonitorTimeline::Refresh() {
    if (pid_ == 0) return;
    statuses_ = OfProcess(winsim::PortStatuses(), pid_);
    boxes_ = OfProcess(winsim::MessageBoxes(), pid_);
}

void MonitorTimeline::BoxesUpTo(int64_t seq) {
    while (nextBox_ < boxes_.size() && boxes_[nextBox_].afterPortStatus <= seq) {
        PrintBox(boxes_[nextBox_++]);
    }
}

// A poll that the monitor ended without reading the queue is shown but not
// counted. The log calls every busy poll one with jobs; the queue is
// known to hold jobs only when neither the status nor the first 21 polls
// kept the monitor going.
void MonitorTimeline::EndPoll(Verdict verdict) {
    bool whole = verdict != Verdict::NotRead;
    if (whole) ++polls_;
    ++requests_;
    Refresh();
    if (!started_) {
        BoxesUpTo(0);
        started_ = true;
    }
    char number[16];
    std::snprintf(number, sizeof number, "%2d", whole ? polls_ : polls_ + 1);
    std::string line = "  poll " + std::string(number);
    if (!poll_.deviceId.empty()) line += "  " + StatusField(poll_.deviceId);
    if (!poll_.nibbles.empty()) line += " (" + poll_.nibbles + ")";
    if (!poll_.messages.empty()) line += "  " + poll_.messages;
    std::vector<winsim::MessageBoxRecord> shown;
    if (poll_.setsStatus && nextStatus_ < statuses_.size()) {
        const winsim::PortStatusRecord& r = statuses_[nextStatus_++];
        if (r.error != 0) {
            line += "  -> port " + std::string(PortStatusName(r.status)) +
                    " refused: SetPortW error " + std::to_string(r.error) +
                    " (ERROR_ACCESS_DENIED)";
        } else {
            line += "  -> port " + std::string(PortStatusName(r.status)) +
                    (r.severity == PORT_STATUS_TYPE_INFO ? ", info" : ", warning");
            if (r.hasText) line += " \"" + Printable(r.text) + "\"";
        }
        while (nextBox_ < boxes_.size() && boxes_[nextBox_].afterPortStatus <= r.seq) {
            shown.push_back(boxes_[nextBox_++]);
        }
    }
    if (!shown.empty()) line += "  -> box shown";
    if (poll_.boxWithheld) line += "  -> no box shown: the window station is not visible";
    if (verdict == Verdict::Empty) {
        line += "  (queue: empty)";
    } else if (verdict == Verdict::Busy && poll_.result == 0 && polls_ > 21) {
        line += "  (queue: jobs)";
    } else if (verdict == Verdict::NotRead) {
        line += "  (queue: not read)";
    }
    std::printf("%s\n", line.c_str());
    for (const auto& b : shown) PrintBox(b);
    std::fflush(stdout);
    poll_ = Poll();
}

void MonitorTimeline::Feed(const std::string& line) {
    log_.push_back(line);
    if (raw_) std::printf("  log   %s\n", line.c_str());
    if (StartsWith(line, "PrinterStatus: Entering while loop")) {
        inLoop_ = true;
    } else if (!inLoop_ || StartsWith(line, "PrinterStatus: Exiting")) {
        if (inLoop_ && (!poll_.deviceId.empty() || !poll_.messages.empty())) {
            EndPoll(Verdict::NotRead);
        }
        if (!raw_ && !line.empty()) std::printf("  monitor  %s\n", line.c_str());
    } else if (StartsWith(line, "CheckStatus: Status nibbles are: ")) {
        poll_.nibbles = line.substr(33);
    } else if (StartsWith(line, "CheckStatus: Setting port status to")) {
        poll_.setsStatus = true;
    } else if (line == "CheckStatus: No message box, the window station is not visible") {
        poll_.boxWithheld = true;
    } else if (StartsWith(line, "PrinterStatus: CheckPrinterStuats returned ")) {
        poll_.result = std::strtol(line.c_str() + 43, nullptr, 10);
    } else if (StartsWith(line, "There are still jobs in the queue")) {
        EndPoll(Verdict::Busy);
    } else if (StartsWith(line, "There are no more jobs")) {
        EndPoll(Verdict::Empty);
    } else if (StartsWith(line, "Returned from GetPrinter")) {
    } else if (poll_.deviceId.empty() && line.find(':') != std::string::npos &&
               line.find(';') != std::string::npos) {
        poll_.deviceId = line;
    } else if (!line.empty()) {
        poll_.messages += (poll_.messages.empty() ? "" : "; ") + line;
    }
    std::fflush(stdout);
}

// The polls are the device ID requests the monitor made, from the
// machine's record of its calls; a monitor ended from outside has none,
// and its log counts them.
void MonitorTimeline::Finish() {
    winsim::RecordMonitorRun(pid_, log_);
    // A poll under way when the monitor was ended from outside.
    if (inLoop_ && (!poll_.deviceId.empty() || !poll_.messages.empty() || poll_.setsStatus)) {
        EndPoll(Verdict::NotRead);
    }
    Refresh();
    if (!started_) BoxesUpTo(0);
    // The statuses no poll line took (no log): a run of equal ones is one
    // line with its count.
    while (nextStatus_ < statuses_.size()) {
        const winsim::PortStatusRecord& first = statuses_[nextStatus_];
        size_t same = 1;
        while (nextStatus_ + same < statuses_.size()) {
            const winsim::PortStatusRecord& next = statuses_[nextStatus_ + same];
            bool boxed = nextBox_ < boxes_.size() && boxes_[nextBox_].afterPortStatus < next.seq;
            if (boxed || next.error != first.error || next.status != first.status ||
                next.severity != first.severity || next.hasText != first.hasText ||
                next.text != first.text || next.port != first.port) {
                break;
            }
            ++same;
        }
        PrintPortStatus(first);
        if (same > 1) std::printf("           (the same %zu times in a row)\n", same);
        nextStatus_ += same;
        BoxesUpTo(statuses_[nextStatus_ - 1].seq);
    }
    BoxesUpTo(INT64_MAX);
    long polls = requests_;
    if (pid_ != 0) {
        auto calls = winsim::ExitCallCounts(pid_);
        if (auto requests = calls.find("DeviceIoControl"); requests != calls.end()) {
            polls = requests->second;
        }
    }
    size_t refused = 0;
    for (const auto& s : statuses_) refused += s.error != 0 ? 1 : 0;
    std::printf("polls: %ld, port statuses: %zu, boxes: %zu", polls, statuses_.size() - refused,
                boxes_.size());
    if (refused != 0) std::printf(", port statuses refused: %zu", refused);
    std::printf("\n");
}

void PrintMonitorTimeline(const std::vector<std::string>& log, int pid, bool raw) {
    MonitorTimeline timeline(pid, raw);
    for (const auto& line : log) timeline.Feed(line);
    timeline.Finish();
}

std::vector<std::string> LogFollower::Read() {
    std::vector<std::string> lines;
    std::ifstream in(path_, std::ios::binary);
    if (!in) return lines;
    in.seekg(offset_ < 0 ? 0 : offset_);
    std::string chunk((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    offset_ += static_cast<long>(chunk.size());
    partial_ += chunk;
    size_t start = 0;
    for (size_t nl; (nl = partial_.find('\n', start)) != std::string::npos; start = nl + 1) {
        std::string line = partial_.substr(start, nl - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    partial_.erase(0, start);
    return lines;
}

bool FollowMonitor(int pid, LogFollower& log, MonitorTimeline& timeline, int waitSeconds,
                   const std::function<bool()>& ended, bool ours) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(waitSeconds);
    bool done = false;
    while (!done) {
        done = ended();
        for (const auto& line : log.Read()) timeline.Feed(line);
        if (done) break;
        if (std::chrono::steady_clock::now() >= deadline && !ours) {
            std::printf(
                "(the monitor of pid %d, not this command's, was still running after %d s:"
                " left running)\n",
                pid, waitSeconds);
            return false;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            kill(pid, SIGKILL);
            while (!ended()) std::this_thread::sleep_for(std::chrono::milliseconds(10));
            for (const auto& line : log.Read()) timeline.Feed(line);
            std::printf(
                "(the monitor was still running after %d s: ended it; --wait sets the"
                " time, --detach leaves it running)\n",
                waitSeconds);
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
}

namespace {}  // namespace

int Monitor(const Args& args) {
    Args pos;
    if (!CheckFlags(args, {"--wait"}, {"--log", "--detach"}, &pos)) return 2;
    if (pos.size() != 1) return Usage("monitor <printer> [--wait <s>] [--detach] [--log]");
    if (!Exclusive(args, {"--wait", "--detach"})) return 2;
    long waitSeconds = 60;
    if (!NumberOption(args, "--wait", 1, 3600, &waitSeconds)) return 2;
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
    if (Has(args, "--detach")) {
        std::printf("(left running on purpose, --detach: `larksim box list` shows its boxes)\n");
        return 0;
    }
    struct stat folder {};
    if (stat(winsim::HostPath(u"C:\\temp\\larkdeb").c_str(), &folder) != 0) {
        std::printf("  (no debug log: C:\\temp\\larkdeb is missing)\n");
    }
    std::fflush(stdout);
    int status = 0;
    LogFollower log(logPath, logStart);
    MonitorTimeline timeline(pid, Has(args, "--log"));
    bool exited = FollowMonitor(
        pid, log, timeline, static_cast<int>(waitSeconds),
        [&] { return waitpid(pid, &status, WNOHANG) == pid; }, true);
    timeline.Finish();
    if (!exited) return 0;
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
