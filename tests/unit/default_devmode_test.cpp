// The default devmode, byte for byte, from the package on a winsim machine.
#include <gtest/gtest.h>

#include <cstring>

#include "config_support.h"
#include "default_devmode.h"

namespace larktest {
namespace {

class DefaultDevmodeTest : public MachineTest {
protected:
    void SetUp() override {
        MachineTest::SetUp();
        InstallDriverAndStorePrinter();
    }
    DriverDevmode Build(const char16_t* name) {
        DriverDevmode record;
        std::memset(&record, 0xCD, sizeof record);
        BuildDefaultDevmode(&record, name);
        return record;
    }
};

template <typename T>
T At(const DriverDevmode& d, size_t offset) {
    T value;
    std::memcpy(&value, reinterpret_cast<const BYTE*>(&d) + offset, sizeof value);
    return value;
}

TEST_F(DefaultDevmodeTest, EveryFieldAtItsOffset) {
    DriverDevmode d = Build(kPrinter);
    struct {
        const char* field;
        size_t offset;
        int width;
        int64_t value;
    } fields[] = {
        {"dmSpecVersion", 64, 2, 0x0401},
        {"dmDriverVersion", 66, 2, 0x4021},
        {"dmSize", 68, 2, 220},
        {"dmDriverExtra", 70, 2, 2108},
        {"dmFields", 72, 4, 0x0781DF0F},
        {"dmOrientation", 76, 2, 1},
        {"dmPaperSize", 78, 2, 256},
        {"dmPaperLength", 80, 2, 1524},
        {"dmPaperWidth", 82, 2, 1016},
        {"dmScale", 84, 2, 100},
        {"dmCopies", 86, 2, 1},
        {"dmDefaultSource", 88, 2, 7},
        {"dmPrintQuality", 90, 2, -4},
        {"dmColor", 92, 2, 2},
        {"dmDuplex", 94, 2, 1},
        {"dmYResolution", 96, 2, 0},
        {"dmTTOption", 98, 2, 3},
        {"dmCollate", 100, 2, 0},
        {"dmICMMethod", 188, 4, 1},
        {"dmICMIntent", 192, 4, 3},
        {"dmMediaType", 196, 4, 256},
        {"dmDitherType", 200, 4, 1},
        {"dmReserved1", 204, 4, 0},
        {"dmReserved2", 208, 4, 0},
        {"dmPanningWidth", 212, 4, 0},
        {"dmPanningHeight", 216, 4, 0},
        {"Signature1", 220, 4, 0x87658342},
        {"Signature2", 224, 4, 0x87658342},
    };
    for (const auto& f : fields) {
        int64_t v = f.width == 2 ? static_cast<int64_t>(At<int16_t>(d, f.offset))
                                 : static_cast<int64_t>(At<uint32_t>(d, f.offset));
        EXPECT_EQ(v, f.value) << f.field;
    }
    EXPECT_EQ(Narrow(d.dm.dmDeviceName), "Lark Test");
    EXPECT_EQ(Narrow(d.dm.dmFormName), "Automatic");
    EXPECT_EQ(Narrow(d.priv.PrinterName), "Lark Test");
    EXPECT_EQ(Narrow(d.priv.Settings), "1000=0;");
    const auto* bytes = reinterpret_cast<const BYTE*>(&d);
    struct {
        const char* what;
        size_t from, to;
    } zeros[] = {
        {"dmLogPixels to dmDisplayFrequency", 166, 188},
        {"Reserved", 748, 1264},
        {"page geometry", 2288, 2328},
        {"rest of dmFormName", 102 + 2 * 9, 166},
        {"rest of Settings", 1264 + 2 * 7, 2288},
    };
    for (const auto& z : zeros) {
        for (size_t i = z.from; i < z.to; ++i) ASSERT_EQ(bytes[i], 0) << z.what << " byte " << i;
    }
}

TEST_F(DefaultDevmodeTest, PrinterNames) {
    struct {
        const char* name;
        const char16_t* printer;
        size_t deviceUnits, fullUnits;
    } cases[] = {
        {"no name", nullptr, 0, 0},
        {"40 characters", u"Lark Printer With A Long Long Name 40chr", 31, 40},
        {"300 characters", nullptr, 31, 259},
    };
    std::u16string longName(300, u'p');
    for (const auto& c : cases) {
        const char16_t* printer = c.printer;
        if (std::string(c.name) == "300 characters") printer = longName.c_str();
        DriverDevmode d = Build(printer);
        EXPECT_EQ(std::u16string(d.dm.dmDeviceName).size(), c.deviceUnits) << c.name;
        EXPECT_EQ(std::u16string(d.priv.PrinterName).size(), c.fullUnits) << c.name;
        if (printer != nullptr) {
            EXPECT_EQ(std::u16string(d.priv.PrinterName), std::u16string(printer).substr(0, 259))
                << c.name;
            EXPECT_EQ(std::u16string(d.dm.dmDeviceName), std::u16string(printer).substr(0, 31))
                << c.name;
        }
        // A printer that does not open keeps the fixed defaults.
        EXPECT_EQ(d.dm.dmPaperWidth, 400) << c.name;
        EXPECT_EQ(d.dm.dmPaperLength, 600) << c.name;
        EXPECT_EQ(Narrow(d.priv.Settings), "1000=0;") << c.name;
        EXPECT_EQ(d.priv.Signature2, PrivateSignature) << c.name;
    }
}

TEST_F(DefaultDevmodeTest, SettingsAndPaperFromTheDataFileAndScript) {
    const std::string script =
        "var sz0x0409 = { szPaperSizes : [ \"A\", \"4.0;6.0;0;256;\", 0, \"B\", "
        "\"5.0;7.0;0;257;\", 3, \"C\", \"10.0;15.0;1;258;\", 3, \"D\", \"8.5;11.0;0;\", -3 ] };";
    struct {
        const char* name;
        std::string settingsLine;
        const char* settings;
        short width, length;
    } cases[] = {
        {"paper code 0", "PrinterSettings=1000=0;", "1000=0;", 1016, 1524},
        {"last matching row wins", "PrinterSettings=1000=3;1:0;", "1000=3;1:0;", 1000, 1500},
        {"minus sign skipped", "PrinterSettings=1000=-3;", "1000=-3;", 1000, 1500},
        {"no row carries the code", "PrinterSettings=1000=9;", "1000=9;", 400, 600},
        {"no = : code 0", "PrinterSettings=abc", "abc", 1016, 1524},
        {"no integer: code 0", "PrinterSettings=1000=x;", "1000=x;", 1016, 1524},
        {"no key", "Resolution=300;300;", "1000=0;", 1016, 1524},
        {"600 characters cut to 511, no =: code 0", "PrinterSettings=" + std::string(600, '3'),
         nullptr, 1016, 1524},
    };
    WriteDriverFile("settings.js", script);
    for (const auto& c : cases) {
        WriteDriverFile("larkdata.ini",
                        "[DeviceConfig]\r\n" + c.settingsLine +
                            "\r\n\r\n[InstallConfig]\r\nUIConfigFile=settings.htm\r\n");
        DriverDevmode d = Build(kPrinter);
        std::string expected = c.settings != nullptr ? c.settings : std::string(511, '3');
        EXPECT_EQ(Narrow(d.priv.Settings), expected) << c.name;
        EXPECT_EQ(d.priv.Settings[kSettingsUnits - 1], 0) << c.name;
        EXPECT_EQ(d.dm.dmPaperWidth, c.width) << c.name;
        EXPECT_EQ(d.dm.dmPaperLength, c.length) << c.name;
        EXPECT_EQ(d.dm.dmPaperSize, 256) << c.name;
    }
}

TEST_F(DefaultDevmodeTest, FailuresKeepTheDefaults) {
    struct {
        const char* name;
        const char* function;
        int nth;
        short width, length;
    } cases[] = {
        {"printer does not open", "OpenPrinterW", 1, 400, 600},
        {"no driver information: built-in paper row", "GetPrinterDriverW", 0, 1016, 1524},
        {"data file does not open", "_wfopen", 0, 1016, 1524},
        {"exhausted heap", "HeapAlloc", 0, 1016, 1524},
    };
    for (const auto& c : cases) {
        winsim::FailCall(c.function, c.nth);
        DriverDevmode d = Build(kPrinter);
        winsim::ClearFaults();
        EXPECT_EQ(Narrow(d.priv.Settings), "1000=0;") << c.name;
        EXPECT_EQ(d.dm.dmPaperWidth, c.width) << c.name;
        EXPECT_EQ(d.dm.dmPaperLength, c.length) << c.name;
        EXPECT_EQ(d.priv.Signature1, PrivateSignature) << c.name;
        EXPECT_EQ(d.dm.dmFields, kDefaultDevmodeFields) << c.name;
    }
}

TEST_F(DefaultDevmodeTest, SettingsPaperCode) {
    struct {
        const char* settings;
        int32_t code;
    } cases[] = {
        {"1000=0;", 0},  {"1000=12;9900=1;", 12}, {"1000=-3;", 3},
        {"1000= 7;", 7}, {"1000=;5", 0},          {"", 0},
        {"1000", 0},     {"1000=abc;", 0},
    };
    for (const auto& c : cases) {
        std::u16string s = W(c.settings);
        EXPECT_EQ(SettingsPaperCode(s.c_str()), c.code) << c.settings;
    }
}

}  // namespace
}  // namespace larktest
