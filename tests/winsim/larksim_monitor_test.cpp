// larksim's usb and monitor commands: a scripted printer on USB001 and the
// monitor's run as a timeline, poll by poll, with its log.
#include <cstdlib>
#include <fstream>
#include <iterator>

#include "machine_fixture.h"
#include "monitor_test_support.h"

namespace {

using WinsimLarksimMonitor = larktest::MachineTest;

TEST_F(WinsimLarksimMonitor, LarksimRunsTheMonitorAsATimeline) {
    larktest::InstallPackageAndPrinter(u"Office Photo", u"USB001");
    winsim::SetSetting("sleep_scale", "0.0001");
    larktest::MakeLogFolder();
    std::string out;
    ASSERT_EQ(larktest::RunLarksim("usb add USB 1", &out), 0) << out;
    const std::string jam = larktest::DeviceId("03", "0E");
    ASSERT_EQ(larktest::RunLarksim("usb script USB001 '" + jam + "' '" +
                                       larktest::DeviceId("03", "00") + "' --fail-from 4",
                                   &out),
              0)
        << out;
    ASSERT_EQ(larktest::RunLarksim("monitor 'Office Photo'", &out), 0) << out;
    EXPECT_NE(out.find("poll  1  S:03000000000000000E (0:e)  Paper Jam in the Printer  -> port"
                       " paper jam, warning  -> box shown\n"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("box: caption \"Office Photo\", style 0x40030"), std::string::npos) << out;
    EXPECT_NE(out.find("poll  4  PrinterStatus: Device id failed  (queue: not read)"),
              std::string::npos)
        << out;
    ASSERT_EQ(larktest::RunLarksim("monitor 'Office Photo' --log", &out), 0) << out;
    EXPECT_NE(out.find("log   PrinterStatus: Device id failed"), std::string::npos) << out;
    EXPECT_NE(out.find("polls: 4, port statuses: 3, boxes: 1"), std::string::npos) << out;
    EXPECT_NE(out.find("exit code 0"), std::string::npos) << out;
    ASSERT_EQ(larktest::RunLarksim("usb unplug USB001", &out), 0) << out;
    EXPECT_FALSE(winsim::UsbDevices()[0].present);
}

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

size_t CountOf(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

// The monitor's roads say what the monitor did: the print road keeps the
// monitor it started, even one that ended before it was looked for; no
// monitor outlives its command unsaid; the counts come from the machine's
// records; the queue is shown only when the monitor's verdict tells it.
TEST_F(WinsimLarksimMonitor, MonitorRoadsSayWhatHappened) {
    larktest::InstallPackageAndPrinter(u"P", u"USB001");
    winsim::SetSetting("sleep_scale", "0.0001");
    larktest::MakeLogFolder();
    const std::string jam = "'" + larktest::DeviceId("03", "0E") + "'";
    const std::string ok = "'" + larktest::DeviceId("03", "00") + "'";
    std::string zeros;
    for (int i = 0; i < 21; ++i) zeros += "0,";
    struct Row {
        const char* name;
        std::vector<std::string> before;
        std::string command;
        std::vector<const char*> says;
        const char* saysNot;
        size_t queueJobs;  // "(queue: jobs)" lines
    } rows[] = {
        {"a monitor that ends before the job is found",
         {"usb add USB 1", "set message_box_delay_ms 1",
          "usb script USB001 " + jam + " --fail-from 3"},
         "print P --job-ms 100",
         {"poll  3  PrinterStatus: Device id failed", "polls: 3, port statuses: 2, boxes: 1"},
         "port statuses: 0",
         0},
        {"print: a box nobody answers, ended at --wait",
         {"set message_box_delay_ms -1", "usb script USB001 " + jam},
         "print P --job-ms 10 --wait 1",
         {"still running after 1 s: ended it", "box: caption \"P\"", "not answered", "poll  1  S:"},
         nullptr,
         0},
        {"monitor: the same",
         {},
         "monitor P --wait 1",
         {"still running after 1 s: ended it", "boxes: 1"},
         "exit code",
         0},
        {"the queue only when the verdict tells it",
         {"set message_box_delay_ms 1", "usb script USB001 " + ok + " --jobs " + zeros + "1,0"},
         "monitor P",
         {"polls: 23", "exit code 0"},
         nullptr,
         1},
        {"--detach leaves it running, and says so",
         {"usb script USB001 " + ok + " --fail-from 1"},
         "monitor P --detach",
         {"left running on purpose"},
         "polls:",
         0},
        {"an unplugged port's script",
         {"usb unplug USB001"},
         "usb script USB001 " + ok,
         {"USB001 is unplugged"},
         nullptr,
         0},
        {"plugged in again", {"usb plug USB001"}, "usb list", {"USB001"}, "(unplugged)", 0},
        {"no log folder: polls from the machine's records",
         {"usb script USB001 " + ok + " --jobs 0"},
         "monitor P",
         {"no debug log", "polls: 22, port statuses: 22"},
         nullptr,
         0},
    };
    for (const Row& row : rows) {
        std::string out, err;
        for (const auto& command : row.before) {
            ASSERT_EQ(larktest::RunLarksim(command, &out, &err), 0) << command << out << err;
        }
        if (std::string(row.name).rfind("no log folder", 0) == 0) {
            ASSERT_EQ(
                std::system(("rm -rf '" + winsim::HostPath(u"C:\\temp\\larkdeb") + "'").c_str()),
                0);
        }
        EXPECT_EQ(larktest::RunLarksim(row.command, &out, &err), 0) << row.name << out << err;
        for (const char* part : row.says) {
            EXPECT_TRUE(Contains(out, part)) << row.name << ": " << part << "\n" << out;
        }
        if (row.saysNot != nullptr) {
            EXPECT_FALSE(Contains(out, row.saysNot)) << row.name << "\n" << out;
        }
        EXPECT_EQ(CountOf(out, "(queue: jobs)"), row.queueJobs) << row.name << "\n" << out;
    }
}

// A monitor that polled for long makes a report of a few cards: a run of
// identical polls is one card with its count.
TEST_F(WinsimLarksimMonitor, ALongRunsReportStaysSmall) {
    larktest::InstallPackageAndPrinter(u"P", u"USB001");
    winsim::SetSetting("sleep_scale", "0");
    std::string out;
    ASSERT_EQ(larktest::RunLarksim("usb add USB 1", &out), 0) << out;
    ASSERT_EQ(larktest::RunLarksim("usb script USB001 '" + larktest::DeviceId("03", "00") +
                                       "' --jobs 1 --fail-from 2001",
                                   &out),
              0)
        << out;
    ASSERT_EQ(larktest::RunLarksim("monitor P --wait 120", &out), 0) << out;
    ASSERT_TRUE(Contains(out, "polls: 2001, port statuses: 2000")) << out;
    const std::string report = root_ + "/report.html";
    ASSERT_EQ(larktest::RunLarksim("report --out '" + report + "'", &out), 0) << out;
    std::ifstream in(report, std::ios::binary);
    const std::string html((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_LT(html.size(), 512u * 1024u);
    EXPECT_LE(CountOf(html, "<li class=\"poll"), 3u);
    EXPECT_TRUE(Contains(html, "1 handle (the USB printer device it opened)"))
        << "what the monitor held at its exit";
    EXPECT_TRUE(Contains(html,
                         "Polls 22\xE2\x80\x93"
                         "2000</p><p class=\"when\">1979 identical polls"))
        << "the run's card";
}

}  // namespace
