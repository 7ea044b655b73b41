// The real larkmon process on a winsim machine, started from the driver
// directory as the driver starts it, with its polls sped up by the machine's
// sleep scale: its log, the port statuses it set and the boxes it showed.
#include <signal.h>
#include <sys/wait.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

#include "machine_fixture.h"
#include "monitor_test_support.h"

namespace {

using larktest::DeviceId;

const std::string kIdle = DeviceId("03", "00");

class MonitorRunTest : public larktest::MachineTest {
public:
    void SetUp() override {
        MachineTest::SetUp();
        larktest::InstallPackageAndPrinter(u"Office Photo", u"USB001");
        winsim::SetSetting("sleep_scale", "0.0001");
        larktest::MakeLogFolder();
    }
    void AddDevice(const std::vector<std::string>& ids, int failFrom = 0,
                   const std::vector<DWORD>& jobs = {}, bool present = true) {
        winsim::UsbDevice d;
        d.deviceIds = ids;
        d.failFrom = failFrom;
        d.jobs = jobs;
        d.present = present;
        ASSERT_NE(winsim::AddUsbDevice(d), 0);
    }
    // Starts the monitor and returns its pid; Wait collects its exit code.
    int Start(const std::u16string& commandLine = u"Office Photo") {
        int pid = 0;
        EXPECT_TRUE(winsim::StartProgram(winsim::DriverDirectory() + u"\\3\\larkmon.exe",
                                         commandLine, &pid));
        return pid;
    }
    int Wait(int pid) {
        int status = 0;
        for (int i = 0; i < 2000; ++i) {
            if (waitpid(pid, &status, WNOHANG) == pid) {
                ExpectNothingHeld(pid);
                return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        ADD_FAILURE() << "the monitor did not end";
        return -1;
    }
    // The monitor ends with ExitProcess on every road; by then it has
    // released all it took but the device, which the end of the process
    // closes.
    static void ExpectNothingHeld(int pid) {
        winsim::Counts held;
        UINT code = 1;
        ASSERT_TRUE(winsim::ExitCounts(pid, &held, &code)) << "no ExitProcess";
        EXPECT_EQ(code, 0u);
        EXPECT_EQ(held.printerHandles, 0);
        EXPECT_LE(held.kernelHandles, 1);
        EXPECT_EQ(held.registryKeys, 0);
        EXPECT_EQ(held.deviceInfoLists, 0);
        EXPECT_EQ(held.heapBlocks, 0);
        EXPECT_EQ(held.globalBlocks, 0);
        EXPECT_EQ(held.localBlocks, 0);
        EXPECT_EQ(held.openFiles, 0);
    }
    int Run(const std::u16string& commandLine = u"Office Photo") {
        return Wait(Start(commandLine));
    }
    static size_t Count(const std::vector<std::string>& lines, const std::string& text) {
        size_t n = 0;
        for (const auto& l : lines) n += l == text ? 1 : 0;
        return n;
    }
    static size_t Polls(const std::vector<std::string>& lines) {
        size_t n = 0;
        for (const auto& l : lines)
            n += l.rfind("PrinterStatus: CheckPrinterStuats returned", 0) == 0;
        return n;
    }
};

// The whole log of an idle printer with an empty queue: exactly 22 polls.
TEST_F(MonitorRunTest, NormalRunLogsEveryLineInOrder) {
    AddDevice({kIdle});
    EXPECT_EQ(Run(), 0);
    std::vector<std::string> expected = {"PrinterStatus: Entering",
                                         "PrinterStatus: Getting USB Port",
                                         "PrinterStatus: Entering while loop"};
    for (int k = 0; k < 22; ++k) {
        expected.push_back(kIdle);
        expected.push_back("CheckStatus: Status nibbles are: 0:0");
        expected.push_back("CheckStatus: Setting port status to 0");
        expected.push_back("PrinterStatus: CheckPrinterStuats returned 0");
        expected.push_back("Returned from GetPrinter");
        expected.push_back(k < 21 ? "There are still jobs in the queue" : "There are no more jobs");
    }
    expected.push_back("PrinterStatus: Exiting....");
    expected.push_back("");
    EXPECT_EQ(larktest::LogLines(), expected);
    auto statuses = winsim::PortStatuses();
    ASSERT_EQ(statuses.size(), 22u);
    EXPECT_EQ(statuses[0].port, u"USB001");
    EXPECT_TRUE(winsim::MessageBoxes().empty());
}

struct RunCase {
    const char* name;
    std::vector<std::string> ids;
    int failFrom;
    std::vector<DWORD> jobs;
    size_t polls;
    size_t boxes;
    const char* lastBeforeExit;  // the line before "PrinterStatus: Exiting....\n"
};

std::vector<std::string> Repeat(const std::string& id, size_t n, const std::string& then) {
    std::vector<std::string> ids(n, id);
    ids.push_back(then);
    return ids;
}

// n polls with the given job count, then an empty queue.
std::vector<DWORD> JobsThenEmpty(size_t n, DWORD jobs) {
    std::vector<DWORD> counts(n, jobs);
    counts.push_back(0);
    return counts;
}

TEST_F(MonitorRunTest, PollsUntilQuietAndEmpty) {
    const std::string printing = DeviceId("03", "04"), jam = DeviceId("03", "0E");
    const RunCase cases[] = {
        {"idle and empty", {kIdle}, 0, {}, 22, 0, "There are no more jobs"},
        {"printing keeps it alive",
         Repeat(printing, 30, kIdle),
         0,
         {},
         31,
         0,
         "There are no more jobs"},
        {"jobs keep it alive", {kIdle}, 0, JobsThenEmpty(25, 2), 26, 0, "There are no more jobs"},
        {"jobs then empty", {kIdle}, 0, {3, 3, 1, 0}, 22, 0, "There are no more jobs"},
        {"jam three polls one box", {jam, jam, jam, kIdle}, 0, {}, 22, 1, "There are no more jobs"},
        {"jam, idle, jam two boxes",
         {jam, kIdle, jam, kIdle},
         0,
         {},
         22,
         2,
         "There are no more jobs"},
        {"no S field counts as 0", {"MFG:Lark;CMD:JPEG;"}, 0, {}, 22, 0, "There are no more jobs"},
        {"unplugged mid-run", {kIdle}, 5, {}, 4, 0, "PrinterStatus: Device id failed"},
        {"fails at once", {kIdle}, 1, {}, 0, 0, "PrinterStatus: Device id failed"},
        {"status FF keeps it alive",
         Repeat(DeviceId("03", "FF"), 24, kIdle),
         0,
         {},
         25,
         0,
         "There are no more jobs"},
    };
    for (const RunCase& c : cases) {
        std::remove(larktest::LogPath().c_str());
        winsim::SetUsbScript(u"USB001", {}, 0);
        if (winsim::UsbDevices().empty()) AddDevice({});
        winsim::SetUsbScript(u"USB001", c.ids, c.failFrom);
        winsim::SetUsbJobs(u"USB001", c.jobs);
        winsim::SetPrinterJobs(u"Office Photo", 0);
        const size_t boxesBefore = winsim::MessageBoxes().size();
        EXPECT_EQ(Run(), 0) << c.name;
        auto log = larktest::LogLines();
        EXPECT_EQ(Polls(log), c.polls) << c.name;
        EXPECT_EQ(winsim::MessageBoxes().size() - boxesBefore, c.boxes) << c.name;
        ASSERT_GE(log.size(), 3u) << c.name;
        EXPECT_EQ(log[log.size() - 3], c.lastBeforeExit) << c.name;
        EXPECT_EQ(log[log.size() - 2], "PrinterStatus: Exiting....") << c.name;
        EXPECT_EQ(log.back(), "") << c.name;
    }
}

// While a box is open the monitor's window is found by its title; once the
// monitor has ended it is gone.
TEST_F(MonitorRunTest, WindowMarksTheRunningMonitor) {
    winsim::SetSetting("message_box_delay_ms", "-1");
    AddDevice({DeviceId("03", "0E"), kIdle});
    const int pid = Start();
    std::vector<winsim::MessageBoxRecord> boxes;
    for (int i = 0; i < 500 && boxes.empty(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        boxes = winsim::MessageBoxes();
    }
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_NE(FindWindowW(TEXT("PrinterStatus"), TEXT("Office Photo - Status")), nullptr);
    EXPECT_NE(FindWindowW(nullptr, TEXT("office photo - status")), nullptr);
    auto windows = winsim::TopLevelWindows();
    ASSERT_EQ(windows.size(), 1u);
    EXPECT_FALSE(windows[0].visible);
    // The box holds the polls.
    const size_t polls = Polls(larktest::LogLines());
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(Polls(larktest::LogLines()), polls);
    ASSERT_TRUE(winsim::CloseMessageBox(boxes[0].id));
    EXPECT_EQ(Wait(pid), 0);
    EXPECT_EQ(FindWindowW(TEXT("PrinterStatus"), TEXT("Office Photo - Status")), nullptr);
    EXPECT_TRUE(winsim::TopLevelWindows().empty());
}

struct EarlyEndCase {
    const char* name;
    std::function<void(MonitorRunTest*)> setup;
    std::u16string commandLine;
    std::vector<std::string> log;
};

TEST_F(MonitorRunTest, EarlyEnds) {
    const EarlyEndCase cases[] = {
        {"non-USB port",
         [](MonitorRunTest*) {
             ASSERT_EQ(larktest::RunLarksim("add-printer 'Lpt Photo' --port LPT1:"), 0);
         },
         u"Lpt Photo",
         {"PrinterStatus: Entering", "Printer is not hooked upto a USB port"}},
        {"lower-case usb port",
         [](MonitorRunTest*) {
             ASSERT_EQ(larktest::RunLarksim("add-printer 'Lower Photo' --port usb001"), 0);
         },
         u"Lower Photo",
         {"PrinterStatus: Entering", "Printer is not hooked upto a USB port"}},
        {"no USB device",
         [](MonitorRunTest*) {},
         u"Office Photo",
         {"PrinterStatus: Entering", "PrinterStatus: Getting USB Port", "Unable to open USB port"}},
        {"device unplugged before start",
         [](MonitorRunTest* t) { t->AddDevice({kIdle}, 0, {}, false); },
         u"Office Photo",
         {"PrinterStatus: Entering", "PrinterStatus: Getting USB Port", "Unable to open USB port"}},
        {"program path on the command line",
         [](MonitorRunTest*) {},
         u"\"C:\\Windows\\System32\\spool\\drivers\\x64\\3\\larkmon.exe\" Office Photo",
         {"PrinterStatus: Entering", "Unable to open printer"}},
        {"quoted name",
         [](MonitorRunTest*) {},
         u"\"Office Photo\"",
         {"PrinterStatus: Entering", "Unable to open printer"}},
        {"name longer than the window title holds",
         [](MonitorRunTest*) {},
         std::u16string(300, u'P'),
         {"PrinterStatus: Entering", "Unable to open printer"}},
        {"empty command line",
         [](MonitorRunTest*) {},
         u"",
         {"PrinterStatus: Entering", "Unable to open printer"}},
        // Failures of the platform inside the monitor.
        {"printer information size query fails",
         [](MonitorRunTest*) { setenv("WINSIM_FAULTS", "GetPrinterW:1", 1); },
         u"Office Photo",
         {"PrinterStatus: Entering"}},
        {"printer information read fails",
         [](MonitorRunTest*) { setenv("WINSIM_FAULTS", "GetPrinterW:2", 1); },
         u"Office Photo",
         {"PrinterStatus: Entering"}},
        {"USB interface list fails",
         [](MonitorRunTest* t) {
             t->AddDevice({kIdle});
             setenv("WINSIM_FAULTS", "SetupDiGetClassDevsW:1", 1);
         },
         u"Office Photo",
         {"PrinterStatus: Entering", "PrinterStatus: Getting USB Port", "Unable to open USB port"}},
    };
    for (const EarlyEndCase& c : cases) {
        larktest::NewMachine();
        larktest::InstallPackageAndPrinter(u"Office Photo", u"USB001");
        winsim::SetSetting("sleep_scale", "0.0001");
        larktest::MakeLogFolder();
        c.setup(this);
        EXPECT_EQ(Run(c.commandLine), 0) << c.name;
        unsetenv("WINSIM_FAULTS");
        EXPECT_EQ(larktest::LogLines(), c.log) << c.name;
        EXPECT_TRUE(winsim::PortStatuses().empty()) << c.name;
    }
}

TEST_F(MonitorRunTest, MissingLogFolderChangesNothingButTheLog) {
    std::string command = "rm -rf '" + winsim::MachineRoot() + "/drive_c/temp/larkdeb'";
    ASSERT_EQ(system(command.c_str()), 0);
    AddDevice({DeviceId("03", "0E"), kIdle});
    EXPECT_EQ(Run(), 0);
    EXPECT_FALSE(larktest::LogExists());
    EXPECT_EQ(winsim::PortStatuses().size(), 22u);
    EXPECT_EQ(winsim::MessageBoxes().size(), 1u);
}

TEST_F(MonitorRunTest, TwoRunsAppendToOneLog) {
    AddDevice({kIdle});
    EXPECT_EQ(Run(), 0);
    const size_t first = larktest::LogLines().size();
    EXPECT_EQ(Run(), 0);
    auto log = larktest::LogLines();
    ASSERT_EQ(log.size(), 2 * first);
    EXPECT_EQ(log[first], "PrinterStatus: Entering");
}

// Raw bytes that are no text are logged as they came and decoded without
// harm (an ID too long for the reply buffer fails the request: a
// conformance row on both platforms).
TEST_F(MonitorRunTest, UntrustedDeviceIds) {
    std::string binary = "\x01\x02\xFF;S:\xFF\xFE";
    AddDevice({binary, kIdle});
    EXPECT_EQ(Run(), 0);
    auto log = larktest::LogLines();
    ASSERT_GT(log.size(), 4u);
    EXPECT_EQ(log[3], binary);
    EXPECT_EQ(Polls(log), 22u);
}

}  // namespace

namespace {

// A program broadcasting to every top-level window (as a settings change
// does) while the monitor polls is answered between two polls: the
// broadcast returns while the monitor still polls, which a later poll's
// port status proves. A job kept in the queue holds the monitor polling;
// the deadline only keeps a monitor that never answers from hanging the
// suite.
TEST_F(MonitorRunTest, BroadcastReturnsWhileTheMonitorStillPolls) {
    AddDevice({kIdle});
    winsim::SetPrinterJobs(u"Office Photo", 1);
    const int pid = Start();
    auto statusesOf = [pid] {
        size_t n = 0;
        for (const auto& s : winsim::PortStatuses()) n += s.pid == pid ? 1 : 0;
        return n;
    };
    for (int i = 0; i < 1000 && statusesOf() == 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_GT(statusesOf(), 0u) << "the monitor never polled";
    std::atomic<bool> returned{false};
    LRESULT answer = 0;
    std::thread sender([&] {
        answer =
            SendMessageW(HWND_BROADCAST, WM_SETTINGCHANGE, 0, reinterpret_cast<LPARAM>(u"Policy"));
        returned = true;
    });
    for (int i = 0; i < 2000 && !returned; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    const bool answeredInTime = returned;
    const size_t atReturn = statusesOf();
    for (int i = 0; i < 1000 && answeredInTime && statusesOf() == atReturn; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    const bool polledAfter = statusesOf() > atReturn;
    // Another process closing the window would hide the running monitor
    // from the next STARTDOC: the window stays.
    HWND window = FindWindowW(nullptr, u"Office Photo - Status");
    EXPECT_NE(window, nullptr);
    if (window != nullptr) SendMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(FindWindowW(nullptr, u"Office Photo - Status"), window) << "closed from outside";
    winsim::SetPrinterJobs(u"Office Photo", 0);
    sender.join();
    EXPECT_TRUE(answeredInTime) << "the broadcast waited for the monitor's whole run";
    EXPECT_TRUE(polledAfter) << "the monitor did not poll after the broadcast returned";
    EXPECT_EQ(answer, 1);
    EXPECT_EQ(Wait(pid), 0);
    // The same lines per poll as ever: nothing logged for the messages.
    auto log = larktest::LogLines();
    EXPECT_EQ(Count(log, "Returned from GetPrinter"), Polls(log));
    EXPECT_EQ(Count(log, "CheckStatus: Setting port status to 0"), Polls(log));
}

// Where nobody can see a box (a service's window station), none is shown:
// the monitor logs that and polls on; where a person can, the box as ever.
// A monitor started by a service inherits the service's station.
TEST_F(MonitorRunTest, BoxOnlyWhereAPersonCanSeeIt) {
    const char kNoBox[] = "CheckStatus: No message box, the window station is not visible";
    struct Case {
        const char* name;
        const char* setting;    // the machine's window_station
        const char* inherited;  // WINSIM_WINDOW_STATION of the starter, nullptr: none
        size_t boxes, noBoxLines;
    } cases[] = {
        {"the machine's station is a service's", "service", nullptr, 0, 1},
        {"started by a service on an interactive machine", "interactive", "service", 0, 1},
        {"interactive", "interactive", nullptr, 1, 0},
    };
    AddDevice({DeviceId("03", "0E"), kIdle});
    for (const Case& c : cases) {
        std::remove(larktest::LogPath().c_str());
        winsim::SetSetting("window_station", c.setting);
        if (c.inherited != nullptr) setenv("WINSIM_WINDOW_STATION", c.inherited, 1);
        // A box that were shown in a service's station would never close.
        winsim::SetSetting("message_box_delay_ms", "0");
        const size_t boxesBefore = winsim::MessageBoxes().size();
        const int pid = Start();
        unsetenv("WINSIM_WINDOW_STATION");
        EXPECT_EQ(Wait(pid), 0) << c.name;
        auto log = larktest::LogLines();
        EXPECT_EQ(winsim::MessageBoxes().size() - boxesBefore, c.boxes) << c.name;
        EXPECT_EQ(Count(log, kNoBox), c.noBoxLines) << c.name;
        EXPECT_EQ(Polls(log), 22u) << c.name;
    }
    winsim::SetSetting("window_station", "");
}

}  // namespace
