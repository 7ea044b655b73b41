// larksim's usb and monitor commands: a scripted printer on USB001 and the
// monitor's run as a timeline, poll by poll, with its log.
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
                       " paper jam, warning  -> box shown  (queue: jobs)"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("box: caption \"Office Photo\", style 0x40030"), std::string::npos) << out;
    EXPECT_NE(out.find("poll  4  PrinterStatus: Device id failed  (queue: not read)"),
              std::string::npos)
        << out;
    ASSERT_EQ(larktest::RunLarksim("monitor 'Office Photo' --log", &out), 0) << out;
    EXPECT_NE(out.find("log   PrinterStatus: Device id failed"), std::string::npos) << out;
    EXPECT_NE(out.find("polls: 3, port statuses: 3, boxes: 1"), std::string::npos) << out;
    EXPECT_NE(out.find("exit code 0"), std::string::npos) << out;
    ASSERT_EQ(larktest::RunLarksim("usb unplug USB001", &out), 0) << out;
    EXPECT_FALSE(winsim::UsbDevices()[0].present);
}

}  // namespace
