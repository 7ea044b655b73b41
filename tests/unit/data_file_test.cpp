// The whole-file readers of the driver data file, on texts as
// LoadUtf8TextFile hands them over (line ends as LF).
#include <gtest/gtest.h>

#include "config_support.h"
#include "data_file.h"
#include "driver_devmode.h"

namespace larktest {
namespace {

class DataFileTest : public MachineTest {};

struct SettingsCase {
    const char* name;
    std::string text;
    std::string expected;
};

TEST_F(DataFileTest, ReadPrinterSettingsFollowsTheReadingRules) {
    const SettingsCase cases[] = {
        {"no [DeviceConfig] header", "[InstallConfig]\nPrinterSettings=5=5;\n", "1000=0;"},
        {"section without the key", "[DeviceConfig]\nResolution=300;300;\n", "1000=0;"},
        {"nothing after the =", "[DeviceConfig]\nPrinterSettings=\n", ""},
        {"nothing after the = at the end of the text", "[DeviceConfig]\nPrinterSettings=", ""},
        {"leading spaces skipped, trailing kept", "[DeviceConfig]\nPrinterSettings=   1000=2;  \n",
         "1000=2;  "},
        {"two lines joined", "[DeviceConfig]\nPrinterSettings=1000=0;\nX=1\nPrinterSettings=7=1;\n",
         "1000=0;7=1;"},
        {"two keys on one line: the second is skipped",
         "[DeviceConfig]\nPrinterSettings=1=1;\tPrinterSettings=2=2;\n", "1=1;"},
        {"tab ends the value", "[DeviceConfig]\nPrinterSettings=1=1;\tjunk\n", "1=1;"},
        {"key before the section is not read",
         "PrinterSettings=9=9;\n[DeviceConfig]\nPrinterSettings=1=1;\n", "1=1;"},
        {"search runs past the section end", "[DeviceConfig]\n\n[Other]\nPrinterSettings=3=3;\n",
         "3=3;"},
        {"key inside a longer word", "[DeviceConfig]\nMyPrinterSettings=4=4;\n", "4=4;"},
        {"= on a later line", "[DeviceConfig]\nPrinterSettings\n=5=5;\n", "5=5;"},
        {"key without any = is a missing key", "[DeviceConfig]\nPrinterSettings\n", "1000=0;"},
        {"UTF-8 value kept", "[DeviceConfig]\nPrinterSettings=1000=0;n=\xC3\xA9;\n",
         "1000=0;n=\xC3\xA9;"},
        {"CR ends a value", "[DeviceConfig]\nPrinterSettings=1=1;\r\n", "1=1;"},
    };
    for (const auto& c : cases) {
        std::u16string text = W(c.text);
        WCHAR settings[kSettingsUnits];
        ReadPrinterSettings(text.c_str(), settings);
        EXPECT_EQ(Narrow(settings), c.expected) << c.name;
    }
}

TEST_F(DataFileTest, ReadPrinterSettingsCutsAt511Characters) {
    struct {
        const char* name;
        std::string text;
    } cases[] = {
        {"one value of 600", "[DeviceConfig]\nPrinterSettings=" + std::string(600, 'a') + "\n"},
        {"two values of 300", "[DeviceConfig]\nPrinterSettings=" + std::string(300, 'a') +
                                  "\nPrinterSettings=" + std::string(300, 'a') + "\n"},
        {"a 100 KB line", "[DeviceConfig]\nPrinterSettings=" + std::string(100000, 'a')},
    };
    for (const auto& c : cases) {
        std::u16string text = W(c.text);
        WCHAR settings[kSettingsUnits + 8];
        for (auto& u : settings) u = 'Z';
        ReadPrinterSettings(text.c_str(), settings);
        EXPECT_EQ(Narrow(settings), std::string(511, 'a')) << c.name;
        EXPECT_EQ(settings[kSettingsUnits], 'Z') << c.name << ": wrote past the field";
    }
}

struct InstallCase {
    const char* name;
    std::string text;
    int32_t maxJpeg;
    WORD x, y;
    const char* monitor;
    const char* uiConfig;
    const char* settings;  // nullptr: no PrinterSettings value
};

TEST_F(DataFileTest, ReadInstallValuesTakesEachKeyOrKeepsItsStartValue) {
    const std::string package =
        "[DeviceConfig]\nMaxJpegFileSize=2097152\nResolution=300;300;\nPrinterSettings=1000=0;\n"
        "PrintSamplePage=ABC\\x0d\\x0a\n\n[InstallConfig]\nStatusMonitor=larkmon.exe\n"
        "UIConfigFile=settings.htm\n";
    const InstallCase cases[] = {
        {"the example file", package, 2097152, 300, 300, "larkmon.exe", "settings.htm", "1000=0;"},
        {"empty text", "", 2097152, 300, 300, "", "", nullptr},
        {"Resolution=600;", "[DeviceConfig]\nResolution=600;\n", 2097152, 600, 300, "", "",
         nullptr},
        {"Resolution=600;1200;", "[DeviceConfig]\nResolution=600;1200;\n", 2097152, 600, 1200, "",
         "", nullptr},
        {"Resolution without ;", "[DeviceConfig]\nResolution=600 1200\n", 2097152, 600, 300, "", "",
         nullptr},
        {"Resolution low 16 bits", "[DeviceConfig]\nResolution=65837;-1;\n", 2097152, 301, 65535,
         "", "", nullptr},
        {"Resolution not a number", "[DeviceConfig]\nResolution=high;\n", 2097152, 300, 300, "", "",
         nullptr},
        {"MaxJpegFileSize skips line ends", "[DeviceConfig]\nMaxJpegFileSize=\n  -5\n", -5, 300,
         300, "", "", nullptr},
        {"MaxJpegFileSize not a number", "[DeviceConfig]\nMaxJpegFileSize=big\n", 2097152, 300, 300,
         "", "", nullptr},
        {"StatusMonitor first word", "[InstallConfig]\nStatusMonitor= monitor.exe extra\n", 2097152,
         300, 300, "monitor.exe", "", nullptr},
        {"UIConfigFile with a blank", "[InstallConfig]\nUIConfigFile=a b.htm\n", 2097152, 300, 300,
         "", "a", nullptr},
        {"file name cut to 31", "[InstallConfig]\nStatusMonitor=" + std::string(40, 'm') + "\n",
         2097152, 300, 300, "mmmmmmmmmmmmmmmmmmmmmmmmmmmmmmm", "", nullptr},
        {"InstallConfig keys without their section", "StatusMonitor=x.exe\n", 2097152, 300, 300, "",
         "", nullptr},
        {"DeviceConfig keys without their section", "[InstallConfig]\nResolution=600;600;\n",
         2097152, 300, 300, "", "", nullptr},
        {"two PrinterSettings joined",
         "[DeviceConfig]\nPrinterSettings=1:0;\nPrinterSettings=2:1;\n", 2097152, 300, 300, "", "",
         "1:0;2:1;"},
        {"key without =", "[DeviceConfig]\nMaxJpegFileSize\n[InstallConfig]\nStatusMonitor\n",
         2097152, 300, 300, "", "", nullptr},
        {"long joined value kept whole",
         "[DeviceConfig]\nPrinterSettings=" + std::string(1000, 'q') + "\n", 2097152, 300, 300, "",
         "", nullptr},
    };
    for (const auto& c : cases) {
        std::u16string text = W(c.text);
        InstallValues values;
        ASSERT_EQ(ReadInstallValues(text.c_str(), &values), 1) << c.name;
        EXPECT_EQ(values.maxJpegFileSize, c.maxJpeg) << c.name;
        EXPECT_EQ(values.xResolution, c.x) << c.name;
        EXPECT_EQ(values.yResolution, c.y) << c.name;
        EXPECT_EQ(Narrow(values.statusMonitor), c.monitor) << c.name;
        EXPECT_EQ(Narrow(values.uiConfigFile), c.uiConfig) << c.name;
        if (c.settings != nullptr) {
            ASSERT_TRUE(values.settings) << c.name;
            EXPECT_EQ(Narrow(values.settings.get()), c.settings) << c.name;
        } else if (std::string(c.name) == "long joined value kept whole") {
            ASSERT_TRUE(values.settings);
            EXPECT_EQ(Narrow(values.settings.get()), std::string(1000, 'q'));
        } else {
            EXPECT_FALSE(values.settings) << c.name;
        }
    }
}

TEST_F(DataFileTest, ReadInstallValuesOnAnExhaustedHeapKeepsTheDefaultSettings) {
    std::u16string text = W("[DeviceConfig]\nPrinterSettings=1:1;\nResolution=600;600;\n");
    winsim::FailCall("HeapAlloc", 1);
    InstallValues values;
    EXPECT_EQ(ReadInstallValues(text.c_str(), &values), 0);
    EXPECT_FALSE(values.settings);
    EXPECT_EQ(values.xResolution, 600);
}

}  // namespace
}  // namespace larktest
