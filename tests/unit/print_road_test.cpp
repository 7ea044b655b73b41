// The whole road of a print job through larksim print: the driver loaded as
// the spooler loads it, the devmode it hands out, and the monitor it starts
// with the printer name (which ends early on a port with no device).
#include <gtest/gtest.h>

#include "machine_fixture.h"

namespace {

class PrintRoadTest : public larktest::MachineTest {};

TEST_F(PrintRoadTest, OneDocumentFromDeviceContextToMonitor) {
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
             "log   PrinterStatus: Entering",
             "Unable to open USB port",
         }) {
        EXPECT_NE(out.find(expected), std::string::npos) << expected << "\n" << out;
    }
}

TEST_F(PrintRoadTest, UnknownPrinterFails) {
    std::string out;
    EXPECT_NE(larktest::RunLarksim("print Nobody", &out), 0) << out;
}

}  // namespace
