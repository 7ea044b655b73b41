// larksim print: the whole road of a print job on a machine (the driver
// loaded as the spooler loads it, the devmode it hands out, and the monitor
// it starts with the printer name, which ends early on a port with no
// device), and larksim's refusals of what it cannot run.
#include <gtest/gtest.h>

#include "machine_fixture.h"
#include "monitor_test_support.h"

namespace {

class LarksimPrintTest : public larktest::MachineTest {};

TEST_F(LarksimPrintTest, OneDocumentFromDeviceContextToMonitor) {
    larktest::InstallPackageAndPrinter(u"Lark Road", u"USB001");
    std::string out;
    ASSERT_EQ(larktest::RunLarksim(
                  "print 'Lark Road' --landscape --paper 257 --job-ms 300 --wait 20", &out),
              0)
        << out;
    for (const char* expected : {
             "CREATEDCPRE: DOCUMENTEVENT_SUCCESS",
             "paper size      257   orientation 2",
             "page            177 x 127 mm, 2100 x 1500 dots at 300 x 300 dpi",
             "PrinterName     \"Lark Road\"",
             "Settings        \"1000=1;\"",
             "STARTDOC: DOCUMENTEVENT_SUCCESS",
             "CREATEDCPOST: DOCUMENTEVENT_SUCCESS",
             // The monitor ran: it found no USB printer behind the port.
             "monitor  PrinterStatus: Entering",
             "Unable to open USB port",
         }) {
        EXPECT_NE(out.find(expected), std::string::npos) << expected << "\n" << out;
    }
}

// A service's print: the monitor it starts has the service's window
// station, so the jam it reports earns no box, and the timeline says so.
TEST_F(LarksimPrintTest, AsAServiceTheMonitorShowsNoBox) {
    larktest::InstallPackageAndPrinter(u"Lark Road", u"USB001");
    winsim::SetSetting("sleep_scale", "0.001");
    winsim::UsbDevice device;
    device.deviceIds = {larktest::DeviceId("03", "0E"), larktest::DeviceId("03", "00")};
    ASSERT_NE(winsim::AddUsbDevice(device), 0);
    std::string out;
    ASSERT_EQ(larktest::RunLarksim("print 'Lark Road' --service --job-ms 0 --wait 30", &out), 0)
        << out;
    EXPECT_NE(out.find("-> no box shown: the window station is not visible"), std::string::npos)
        << out;
    EXPECT_NE(out.find("boxes: 0"), std::string::npos) << out;
    EXPECT_TRUE(winsim::MessageBoxes().empty());
}

TEST_F(LarksimPrintTest, UnknownPrinterFails) {
    std::string out;
    EXPECT_NE(larktest::RunLarksim("print Nobody", &out), 0) << out;
}

// Every numeric option of larksim is read strictly: a value that is not a
// whole number, or is out of its range, is refused with exit code 2 and
// nothing is done.
TEST_F(LarksimPrintTest, LarksimRefusesBadNumbers) {
    larktest::InstallPackageAndPrinter(u"Lark Road", u"USB001");
    const char* rows[] = {
        "print 'Lark Road' --paper abc",
        "print 'Lark Road' --paper 99999",
        "print 'Lark Road' --paper -1",
        "print 'Lark Road' --job-ms 1.5",
        "print 'Lark Road' --wait 0",
        "print 'Lark Road' --paper",
        "properties 'Lark Road' --paper 12abc",
        "usb add USB x",
        "usb add USB 4294967296",
        "usb script USB001 --fail-from -1",
        "usb script USB001 --jobs 1,-1",
        "usb script USB001 --jobs 1,,2",
        "set sleep_scale fast",
        "set message_box_delay_ms -2",
        "set language 0x409",
        "set os_major 5x",
        "set window_station desktop",
        "caps 'Lark Road' 70000",
    };
    for (const char* row : rows) {
        std::string out;
        EXPECT_EQ(larktest::RunLarksim(row, &out), 2) << row << "\n" << out;
        EXPECT_EQ(winsim::Jobs().size(), 0u) << row;
    }
    EXPECT_EQ(winsim::GetSetting("sleep_scale", ""), "");
}

}  // namespace
