// DrvPrinterEvent: the six printer data values, in order and in their
// encodings, from the package's files and from varied ones.
#include <gtest/gtest.h>

#include <cstring>

#include "../shared/caps_expectations.h"
#include "config_support.h"

extern "C" BOOL WINAPI DrvPrinterEvent(LPWSTR, INT, DWORD, LPARAM);

namespace larktest {
namespace {

const char* const kDefaultMessage =
    "There is a problem with your printer.\r\nCheck your printer screen for more information.";

class PrinterEventTest : public MachineTest {
protected:
    void SetUp() override {
        MachineTest::SetUp();
        InstallDriverAndStorePrinter();
    }
    BOOL Initialize(int event = PRINTER_EVENT_INITIALIZE) {
        std::u16string name = kPrinter;
        return DrvPrinterEvent(name.data(), event, 0, 0);
    }
};

struct Expected {
    const char* settings;
    uint32_t maxJpeg;
    const char* monitor;
    uint32_t resolution;
    const char* uiConfig;
    const char* message;
};

std::vector<uint8_t> Utf16Bytes(const std::string& utf8) {
    std::u16string s = W(utf8);
    std::vector<uint8_t> bytes(s.size() * 2);
    if (!s.empty()) std::memcpy(bytes.data(), s.data(), bytes.size());
    return bytes;
}

std::vector<uint8_t> DwordBytes(uint32_t v) {
    std::vector<uint8_t> bytes(4);
    std::memcpy(bytes.data(), &v, 4);
    return bytes;
}

void ExpectValues(const Expected& e, const char* name) {
    auto values = winsim::PrinterData(kPrinter);
    ASSERT_EQ(values.size(), 6u) << name;
    struct {
        const char16_t* name;
        DWORD type;
        std::vector<uint8_t> data;
    } expected[] = {
        {u"PrinterSettings", REG_SZ,
         Utf16Bytes(e.settings != nullptr ? e.settings : std::string(100000, 's'))},
        {u"MaxJpegFileSize", REG_DWORD, DwordBytes(e.maxJpeg)},
        {u"StatusMonitor", REG_SZ, Utf16Bytes(e.monitor)},
        {u"Resolution", REG_DWORD, DwordBytes(e.resolution)},
        {u"UIConfigFile", REG_SZ, Utf16Bytes(e.uiConfig)},
        {u"StatusMessage", REG_SZ, Utf16Bytes(e.message)},
    };
    for (size_t i = 0; i < 6; ++i) {
        EXPECT_TRUE(values[i].name == expected[i].name) << name << ": value " << i;
        EXPECT_EQ(values[i].type, expected[i].type)
            << name << ": " << winsim::ToUtf8(values[i].name);
        EXPECT_EQ(values[i].data, expected[i].data)
            << name << ": " << winsim::ToUtf8(values[i].name);
    }
}

TEST_F(PrinterEventTest, ThePackageGivesItsValues) {
    EXPECT_TRUE(Initialize());
    ExpectValues({larkcaps::kPrinterSettings, larkcaps::kMaxJpegFileSize, larkcaps::kStatusMonitor,
                  larkcaps::kResolution, larkcaps::kUiConfigFile, larkcaps::kStatusMessage},
                 "package");
}

TEST_F(PrinterEventTest, OtherEventsWriteNothing) {
    for (int event : {0, 1, 2, 4, 5, 6, 7, 100, -1}) {
        EXPECT_TRUE(Initialize(event)) << event;
        EXPECT_TRUE(winsim::PrinterData(kPrinter).empty()) << event;
    }
}

TEST_F(PrinterEventTest, DataFileVariants) {
    struct {
        const char* name;
        std::string dataFile;  // empty: no data file
        Expected expected;
    } cases[] = {
        {"no data file", "", {"1:0;", 2097152, "", 19661100, "", kDefaultMessage}},
        {"Resolution=600;1200;",
         "[DeviceConfig]\r\nResolution=600;1200;\r\n",
         {"1:0;", 2097152, "", 39322800, "", kDefaultMessage}},
        {"two PrinterSettings lines",
         "[DeviceConfig]\r\nPrinterSettings=1000=1;\r\nPrinterSettings=9900=2;\r\n",
         {"1000=1;9900=2;", 2097152, "", 19661100, "", kDefaultMessage}},
        {"no [DeviceConfig]",
         "[InstallConfig]\r\nStatusMonitor=mon.exe\r\nUIConfigFile=settings.htm\r\n",
         {"1:0;", 2097152, "mon.exe", 19661100, "settings.htm", larkcaps::kStatusMessage}},
        {"no [InstallConfig]: no script either",
         "[DeviceConfig]\r\nMaxJpegFileSize=1000\r\n",
         {"1:0;", 1000, "", 19661100, "", kDefaultMessage}},
        {"empty StatusMonitor and PrinterSettings",
         "[DeviceConfig]\r\nPrinterSettings=\r\n\r\n[InstallConfig]\r\nStatusMonitor=\r\n",
         {"", 2097152, "", 19661100, "", kDefaultMessage}},
        {"all NUL bytes",
         std::string(512, '\0'),
         {"1:0;", 2097152, "", 19661100, "", kDefaultMessage}},
        {"a 100 KB line and a key without =",
         "[DeviceConfig]\r\nPrinterSettings=" + std::string(100000, 's') +
             "\r\nResolution\r\n\r\n[InstallConfig]\r\nUIConfigFile",
         {nullptr, 2097152, "", 19661100, "", kDefaultMessage}},
        {"long names cut to 31",
         "[InstallConfig]\r\nStatusMonitor=" + std::string(40, 'm') + "\r\n",
         {"1:0;", 2097152, "mmmmmmmmmmmmmmmmmmmmmmmmmmmmmmm", 19661100, "", kDefaultMessage}},
    };
    for (const auto& c : cases) {
        if (c.dataFile.empty()) {
            RemoveDriverFile("larkdata.ini");
        } else {
            WriteDriverFile("larkdata.ini", c.dataFile);
        }
        EXPECT_TRUE(Initialize()) << c.name;
        ExpectValues(c.expected, c.name);
    }
}

TEST_F(PrinterEventTest, StatusMessageFromTheScript) {
    WriteDriverFile("settings.js",
                    "var sz0x0409 = { szPaperSizes : [ \"A\", \"1\", 0 ], szStatusMsg : "
                    "\"Paper out.\\nLoad paper.\" };");
    EXPECT_TRUE(Initialize());
    auto values = winsim::PrinterData(kPrinter);
    ASSERT_EQ(values.size(), 6u);
    EXPECT_EQ(values[5].data, Utf16Bytes("Paper out.\\nLoad paper."));
}

TEST_F(PrinterEventTest, FailuresAreSilent) {
    winsim::FailCall("OpenPrinterW", 2);  // the administrator handle
    EXPECT_TRUE(Initialize());
    EXPECT_TRUE(winsim::PrinterData(kPrinter).empty());
    winsim::ClearFaults();

    winsim::FailCall("GetPrinterDriverW", 0);
    EXPECT_TRUE(Initialize());
    ExpectValues({"1:0;", 2097152, "", 19661100, "", kDefaultMessage}, "no driver information");
    winsim::ClearFaults();

    // A failing write does not stop the later ones.
    winsim::FailCall("SetPrinterDataW", 1);
    std::u16string other = u"Other";
    winsim::PrinterRecord printer{other, u"USB002", u"Lark Photo Printer", {}, 0};
    ASSERT_TRUE(winsim::StorePrinter(printer));
    EXPECT_TRUE(DrvPrinterEvent(other.data(), PRINTER_EVENT_INITIALIZE, 0, 0));
    auto values = winsim::PrinterData(other);
    ASSERT_EQ(values.size(), 5u);
    EXPECT_TRUE(values[0].name == u"MaxJpegFileSize");
    winsim::ClearFaults();

    EXPECT_TRUE(DrvPrinterEvent(nullptr, PRINTER_EVENT_INITIALIZE, 0, 0));
    winsim::FailCall("HeapAlloc", 0);
    EXPECT_TRUE(Initialize());
}

TEST_F(PrinterEventTest, LarksimAddPrinterInitialises) {
    std::string out;
    ASSERT_EQ(RunLarksim("add-printer 'Lark Added' --port USB003", &out), 0) << out;
    auto values = winsim::PrinterData(u"Lark Added");
    ASSERT_EQ(values.size(), 6u);
    EXPECT_EQ(values[5].data, Utf16Bytes(larkcaps::kStatusMessage));
    ASSERT_EQ(RunLarksim("show 'Lark Added'", &out), 0) << out;
    EXPECT_NE(out.find("UIConfigFile     REG_SZ, 24 bytes: \"settings.htm\""), std::string::npos)
        << out;
    ASSERT_EQ(RunLarksim("caps 'Lark Added' DC_PAPERNAMES", &out), 0) << out;
    EXPECT_NE(out.find("\"10 x 15 cm\""), std::string::npos) << out;
}

}  // namespace
}  // namespace larktest
