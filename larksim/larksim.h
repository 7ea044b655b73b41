// larksim: sets up a winsim machine and drives the driver's roads on it.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "winsim/control.h"

namespace larksim {

using Args = std::vector<std::string>;

// Every command returns the process exit code; 2 for a usage error.
int Init(const Args& args);
int InstallDriver(const Args& args);
int AddPrinter(const Args& args);
int Show(const Args& args);
int Set(const Args& args);
int Usb(const Args& args);
int Monitor(const Args& args);
int Box(const Args& args);
int Caps(const Args& args);
int Print(const Args& args);
int Jobs(const Args& args);
int Dialog(const Args& args);
int Properties(const Args& args);
int Report(const Args& args);

// Prints the message to stderr and returns 2 (usage) or 1 (failure).
int Usage(const std::string& message);
int Fail(const std::string& message);
// Holds args to a command's options: a word beginning with "--" that is
// not one of them, or an option in withValue without its value, is refused
// (usage printed, false). The other words go to *positional.
bool CheckFlags(const Args& args, const std::vector<std::string>& withValue,
                const std::vector<std::string>& switches, Args* positional);
bool Has(const Args& args, const std::string& flag);
// False (usage printed) when more than one of the flags is given.
bool Exclusive(const Args& args, const std::vector<std::string>& flags);
// The value after --name in args, or fallback.
std::string Option(const Args& args, const std::string& name, const std::string& fallback);
// The positional arguments (not options or their values).
Args Positional(const Args& args, const std::vector<std::string>& optionsWithValues);
// A UTF-16 field of at most max units, ending at its first zero, as UTF-8.
std::string Text(const WCHAR* units, size_t max);
// Text with CR and LF shown as \r and \n, to keep a value on one line.
std::string Printable(const std::string& text);
std::string Printable(const std::u16string& text);
// The application's devmode: the printer's stored one with the fields the
// user chose (orientation, paper id when paper >= 0) flagged.
std::vector<uint8_t> ApplicationDevmode(const winsim::PrinterRecord& printer, bool landscape,
                                        int paper);
// Flags the user's choices on a devmode of at least a DEVMODEW's size,
// leaving its other fields and flags alone.
void ChooseOnDevmode(std::vector<uint8_t>* devmode, bool landscape, int paper);
// The value of a numeric option, strictly parsed: *value keeps its start
// value when the option is absent; false (usage printed) when the value is
// not a whole number within [min, max].
bool NumberOption(const Args& args, const std::string& name, long min, long max, long* value);
// A whole decimal number within [min, max], nothing else in the text.
bool ParseNumber(const std::string& text, long min, long max, long* value);
// The same for a positional argument; prints the usage message on failure.
bool NumberArgument(const std::string& what, const std::string& text, long min, long max,
                    long* value);
// The scripted user of the dialog in the browser: an action is
// "select:<paper name>", "click:<button name>", "key:<key>", "access:<letter>"
// (Alt and an access key) or "close".
bool CheckUserAction(const std::string& action, std::string* error);
// The action of every --user in args, in order; false (usage printed) when
// one is not an action.
bool UserActions(const Args& args, std::vector<std::string>* actions);
// The lines of a log file from a byte offset, CR LF ends taken off.
std::vector<std::string> NewLogLines(const std::string& path, long from);
// The monitor's run as one line per poll with its port statuses and boxes,
// each poll as it ends; raw adds the debug log's own lines. Finish prints
// what no poll took and the summary, and records the run.
class MonitorTimeline {
public:
    MonitorTimeline(int pid, bool raw);
    void Feed(const std::string& line);
    void Finish();

private:
    enum class Verdict { NotRead, Busy, Empty };
    struct Poll {
        std::string deviceId, nibbles, messages;
        bool setsStatus = false;
        bool boxWithheld = false;  // a box was due where nobody could see it
        long result = 0;
    };
    void Refresh();
    void BoxesUpTo(int64_t seq);
    void EndPoll(Verdict verdict);
    int pid_;
    bool raw_;
    std::vector<std::string> log_;
    std::vector<winsim::PortStatusRecord> statuses_;
    std::vector<winsim::MessageBoxRecord> boxes_;
    size_t nextStatus_ = 0, nextBox_ = 0;
    int polls_ = 0;     // polls that read the queue
    int requests_ = 0;  // device ID requests the log shows
    bool inLoop_ = false, started_ = false;
    Poll poll_;
};
void PrintMonitorTimeline(const std::vector<std::string>& log, int pid, bool raw);
// The lines a log file gains, from a byte offset on, CR LF ends taken off;
// a line not yet ended waits for its end.
class LogFollower {
public:
    LogFollower(std::string path, long from)
        : path_(std::move(path)), offset_(from < 0 ? 0 : from) {}
    std::vector<std::string> Read();

private:
    std::string path_;
    long offset_;
    std::string partial_;
};
// Feeds the monitor's log to the timeline until ended() says the process
// has ended, or waitSeconds have passed: then the monitor is ended when it
// is ours (this command started it) or left running, and that is said
// (false).
bool FollowMonitor(int pid, LogFollower& log, MonitorTimeline& timeline, int waitSeconds,
                   const std::function<bool()>& ended, bool ours);
// A document event's answer by its name (DOCUMENTEVENT_SUCCESS ...).
const char* DocumentEventName(int64_t result);
// A port status code by its name ("paper jam"), "other" for one not named.
const char* PortStatusName(DWORD status);
// The records of one process of the machine.
template <typename T>
std::vector<T> OfProcess(const std::vector<T>& all, int pid) {
    std::vector<T> mine;
    for (const T& r : all) {
        if (r.pid == pid) mine.push_back(r);
    }
    return mine;
}
// Exits with a message when the printer is not on the machine.
bool RequirePrinter(const std::string& name, winsim::PrinterRecord* record);

}  // namespace larksim
