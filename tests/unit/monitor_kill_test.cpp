// The monitor killed at random points of its run, as a user ends it from
// the task list: the debug log keeps only whole lines, the status window
// goes with the process, and the next document starts a new monitor.
// LARK_KILL_RUNS sets the number of kills (tools/stress runs more).
#include <signal.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>

#include "config_support.h"
#include "monitor_test_support.h"

namespace larktest {
namespace {

constexpr const char16_t* kPhoto = u"Office Photo";

int Kills() {
    const char* text = std::getenv("LARK_KILL_RUNS");
    int kills = text != nullptr ? std::atoi(text) : 0;
    return kills > 0 ? kills : 12;
}

// The monitor's window for the printer, and the process that owns it.
int MonitorPid() {
    for (const auto& w : winsim::TopLevelWindows()) {
        if (w.title == u"Office Photo - Status") return w.pid;
    }
    return 0;
}

bool WaitFor(const std::function<bool()>& done, int ms) {
    for (int i = 0; i < ms; ++i) {
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return done();
}

// Every line the monitor writes, whole: one of its fixed lines, a line
// with a number or status after a fixed start, or a device ID it read.
bool KnownLine(const std::string& line, const std::vector<std::string>& ids) {
    for (const char* fixed : {"PrinterStatus: Entering", "PrinterStatus: Getting USB Port",
                              "PrinterStatus: Entering while loop", "Returned from GetPrinter",
                              "There are still jobs in the queue", "There are no more jobs",
                              "PrinterStatus: Exiting....", "", "PrinterStatus: Device id failed",
                              // the status rows' own lines
                              "Front cover open", "Printer is Out of Paper",
                              "Paper Jam in the Printer", "Printer needs attention"}) {
        if (line == fixed) return true;
    }
    for (const char* start : {"PrinterStatus: CheckPrinterStuats returned ", "CheckStatus: "}) {
        if (line.rfind(start, 0) == 0 && line.size() > std::string(start).size()) return true;
    }
    return std::find(ids.begin(), ids.end(), line) != ids.end();
}

class MonitorKillTest : public MachineTest {};

TEST_F(MonitorKillTest, KilledMidRunLeavesWholeLinesAndTheNextDocumentStartsAnew) {
    InstallPackageAndPrinter(kPhoto, u"USB001");
    winsim::SetSetting("sleep_scale", "0.005");
    MakeLogFolder();
    const std::vector<std::string> ids = {DeviceId("03", "0E"), DeviceId("03", "04"),
                                          DeviceId("03", "00")};
    winsim::UsbDevice device;
    device.deviceIds = ids;
    ASSERT_NE(winsim::AddUsbDevice(device), 0);
    OpenedPrinter printer(kPhoto);

    std::mt19937 random(std::random_device{}());
    // A whole run lasts some 150 ms at this sleep scale; most kills land in it.
    std::uniform_int_distribution<int> delayMicros(0, 120000);
    const int kills = Kills();
    int alive = 0, previous = 0;
    for (int i = 0; i < kills; ++i) {
        SCOPED_TRACE("kill " + std::to_string(i + 1));
        const long created = winsim::CallCount("CreateProcessW");
        ASSERT_EQ(DrvDocumentEvent(printer.handle, nullptr, DOCUMENTEVENT_STARTDOC, 0, nullptr, 0,
                                   nullptr),
                  DOCUMENTEVENT_SUCCESS);
        ASSERT_EQ(winsim::CallCount("CreateProcessW"), created + 1) << "no new monitor";
        int pid = 0;
        // The window appears once the new process has made it.
        ASSERT_TRUE(WaitFor(
            [&] {
                pid = MonitorPid();
                return pid != 0;
            },
            5000))
            << "the new monitor made no window";
        EXPECT_NE(pid, previous);
        previous = pid;
        std::this_thread::sleep_for(std::chrono::microseconds(delayMicros(random)));
        alive += winsim::ProcessAlive(pid) ? 1 : 0;
        kill(pid, SIGKILL);
        // winsim reaps the driver's processes; the window goes with it.
        ASSERT_TRUE(WaitFor([&] { return !winsim::ProcessAlive(pid); }, 5000));
        EXPECT_TRUE(WaitFor([] { return MonitorPid() == 0; }, 2000)) << "the window outlived it";

        std::ifstream in(LogPath(), std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        const std::string log = text.str();
        ASSERT_FALSE(log.empty());
        EXPECT_EQ(log.substr(log.size() - 2), "\r\n") << "a cut line ends the log";
        std::istringstream lines(log);
        for (std::string line; std::getline(lines, line);) {
            ASSERT_FALSE(line.empty() || line.back() != '\r') << "a line without its end";
            line.pop_back();
            EXPECT_TRUE(KnownLine(line, ids)) << "'" << line << "'";
        }
    }
    std::printf("kill: %d monitors killed, %d while running\n", kills, alive);
    EXPECT_GT(alive, 0);
}

}  // namespace
}  // namespace larktest
