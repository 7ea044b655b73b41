// The printer's driver files and default devmode through the spooler, with
// the package installed on a winsim machine and its data file rewritten.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "config_support.h"
#include "driver_files.h"

namespace larktest {
namespace {

class DriverFilesTest : public MachineTest {
protected:
    void SetUp() override {
        MachineTest::SetUp();
        InstallDriverAndStorePrinter();
        versionDir_ = winsim::ToUtf8(winsim::DriverDirectory()) + "\\3\\";
    }
    std::string UiConfigPath() {
        OpenedPrinter printer;
        WCHAR path[kPathUnits] = {'x', 0};
        EXPECT_EQ(QueryDriverFiles(printer.handle, nullptr, nullptr, nullptr, path), 1);
        return Narrow(path);
    }
    std::string versionDir_;
};

TEST_F(DriverFilesTest, QueryDriverFilesGivesTheSpoolersPaths) {
    std::u16string name = kPrinter;
    WCHAR data[kPathUnits], help[kPathUnits], ui[kPathUnits];
    ASSERT_EQ(QueryDriverFiles(nullptr, name.c_str(), data, help, ui), 1);
    EXPECT_EQ(Narrow(data), versionDir_ + "larkdata.ini");
    EXPECT_EQ(Narrow(help), versionDir_ + "lark.hlp");
    EXPECT_EQ(Narrow(ui), versionDir_ + "settings.htm");
}

TEST_F(DriverFilesTest, UiConfigPathFollowsTheLineReaderRules) {
    const std::string big(300, 'x');
    struct {
        const char* name;
        std::string file;
        std::string value;  // what follows the version folder
    } cases[] = {
        {"spaces around =", "[InstallConfig]\r\nUIConfigFile = page.htm\r\n", "page.htm"},
        {"trailing blanks stay", "[InstallConfig]\r\nUIConfigFile=page.htm  \r\n", "page.htm  "},
        {"nothing after =", "[InstallConfig]\r\nUIConfigFile=\r\n", ""},
        {"no = at all ends the scan",
         "[InstallConfig]\r\nUIConfigFile\r\n\r\n[InstallConfig]\r\nUIConfigFile=b.htm\r\n", ""},
        {"empty line closes the section",
         "[InstallConfig]\r\nStatusMonitor=m.exe\r\n\r\nUIConfigFile=a.htm\r\n", ""},
        {"a later section is searched",
         "[InstallConfig]\r\nX=1\r\n\r\nUIConfigFile=a.htm\r\n[InstallConfig]\r\nUIConfigFile="
         "b.htm\r\n",
         "b.htm"},
        {"a tab line closes the section",
         "[InstallConfig]\r\n\tX\r\nUIConfigFile=a.htm\r\n\r\n[InstallConfig]\r\nUIConfigFile=c."
         "htm\r\n",
         "c.htm"},
        {"header with text after it", "[InstallConfig] ; setup\r\nUIConfigFile=d.htm\r\n", "d.htm"},
        {"header not in the first column", " [InstallConfig]\r\nUIConfigFile=e.htm\r\n", ""},
        {"a blank inside the value stays", "[InstallConfig]\nUIConfigFile=a b.htm\n", "a b.htm"},
        {"last line without line end", "[InstallConfig]\nUIConfigFile=f.htm", "f.htm"},
        {"header as the last line without line end", "[InstallConfig]", ""},
        {"key inside a longer word", "[InstallConfig]\nMyUIConfigFile=g.htm\n", "g.htm"},
        {"a 300-character line comes in pieces", "[InstallConfig]\n" + big + "UIConfigFile=h.htm\n",
         "h.htm"},
        {"a 255-character line leaves its LF as an empty piece",
         "[InstallConfig]\n" + std::string(255, 'x') + "\nUIConfigFile=i.htm\n", ""},
        {"a 100 KB line before the key",
         "[InstallConfig]\n" + std::string(100000, 'y') + "\nUIConfigFile=j.htm\n", "j.htm"},
        {"value too long for the path", "[InstallConfig]\nUIConfigFile=" + big + "\n", ""},
        {"all NUL bytes", std::string(4096, '\0'), ""},
        {"binary bytes", std::string("[InstallConfig]\n\xFF\xFEUIConfigFile=\xC3\xA9.htm\n"),
         "\xC3\x83\xC2\xA9.htm"},
    };
    for (const auto& c : cases) {
        WriteDriverFile("larkdata.ini", c.file);
        EXPECT_EQ(UiConfigPath(), versionDir_ + c.value) << c.name;
    }
}

TEST_F(DriverFilesTest, UiConfigPathWithoutADataFileIsTheFolderOnly) {
    RemoveDriverFile("larkdata.ini");
    EXPECT_EQ(UiConfigPath(), versionDir_);
}

TEST_F(DriverFilesTest, QueryDriverFilesFailuresLeaveEmptyBuffersAndCloseTheHandle) {
    struct {
        const char* name;
        const char* failing;  // nullptr: no printer name
        int nth;
    } cases[] = {
        {"no handle and no name", nullptr, 0},
        {"printer does not open", "OpenPrinterW", 1},
        {"no driver information", "GetPrinterDriverW", 1},
        {"driver information fetch fails", "GetPrinterDriverW", 2},
        {"exhausted heap", "HeapAlloc", 1},
    };
    for (const auto& c : cases) {
        std::u16string name = kPrinter;
        if (c.failing != nullptr) winsim::FailCall(c.failing, c.nth);
        WCHAR data[kPathUnits] = {'x', 0}, help[kPathUnits] = {'x', 0};
        EXPECT_EQ(QueryDriverFiles(nullptr, c.failing != nullptr ? name.c_str() : nullptr, data,
                                   help, nullptr),
                  0)
            << c.name;
        EXPECT_EQ(data[0], 0) << c.name;
        EXPECT_EQ(help[0], 0) << c.name;
        EXPECT_EQ(winsim::CurrentCounts().printerHandles, before_.printerHandles) << c.name;
        winsim::ClearFaults();
    }
}

TEST_F(DriverFilesTest, LoadUtf8TextFileDecodesTheWholeFile) {
    struct {
        const char* name;
        std::string bytes;
        std::u16string expected;
    } cases[] = {
        {"empty file", "", u""},
        {"CR LF arrives as LF", "a\r\nb\r\n", u"a\nb\n"},
        {"byte-order mark kept", "\xEF\xBB\xBFx", u"\uFEFFx"},
        {"invalid UTF-8 becomes U+FFFD",
         "a\xFF"
         "b",
         u"a\uFFFDb"},
        {"truncated sequence at the end", "a\xE2\x82", u"a\uFFFD"},
        {"all NUL bytes", std::string(1000, '\0'), u""},
        {"a 100 KB line", std::string(100000, 'z'), std::u16string(100000, u'z')},
    };
    for (const auto& c : cases) {
        WriteDriverFile("probe.txt", c.bytes);
        std::u16string path = W(versionDir_ + "probe.txt");
        HeapBlock<WCHAR> text;
        ASSERT_EQ(LoadUtf8TextPath(path.c_str(), &text), 1) << c.name;
        EXPECT_TRUE(std::u16string(text.get()) == c.expected) << c.name;
    }
}

// The loader decodes well-formed runs itself and hands a run with an
// ill-formed sequence to the system: the text must be the one the system
// gives for the whole file, wherever the runs fall against its 16-byte steps.
TEST_F(DriverFilesTest, LoadUtf8TextFileDecodesAsTheSystemDecodesTheWholeFile) {
    const std::string mixed =
        "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x96\xA8 \xEF\xBF\xBE \xD8\xB9\xD8\xB1";
    const std::string illFormed[] = {
        "\xC3\xA9\xE2\x82\xC3\xA9",  // a cut sequence between two whole ones
        "\xC3\xA9\xE0\x80\x80",      // overlong
        "\xED\xA0\x80\xC3\xA9",      // a surrogate
        "\xF4\x90\x80\x80",          // above U+10FFFF
        "\xC0\xAF\xF5\xFE\xFF\x80",  // bytes no sequence starts or continues
        std::string(3000, '\x80'),   // a run longer than the loader's own copy
    };
    std::vector<std::string> files;
    for (size_t shift = 0; shift < 17; ++shift) {
        files.push_back(std::string(shift, 'a') + mixed + std::string(40, 'b') + mixed);
        for (const std::string& bad : illFormed) {
            files.push_back(std::string(shift, 'a') + mixed + bad + "z" + mixed + bad);
        }
    }
    for (size_t k = 0; k < files.size(); ++k) {
        const std::string& bytes = files[k];
        std::u16string expected(bytes.size(), u'\0');
        int units = MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()),
                                        expected.data(), static_cast<int>(expected.size()));
        ASSERT_GT(units, 0) << k;
        expected.resize(static_cast<size_t>(units));
        WriteDriverFile("probe.txt", bytes);
        std::u16string path = W(versionDir_ + "probe.txt");
        HeapBlock<WCHAR> text;
        ASSERT_EQ(LoadUtf8TextPath(path.c_str(), &text), 1) << k;
        EXPECT_TRUE(std::u16string(text.get()) == expected) << "file " << k;
    }
}

TEST_F(DriverFilesTest, LoadUtf8TextFileOnAnExhaustedHeapFailsAndCloses) {
    WriteDriverFile("probe.txt", "abc");
    std::u16string path = W(versionDir_ + "probe.txt");
    // The text and the file's bytes share one block.
    winsim::FailCall("HeapAlloc", 1);
    HeapBlock<WCHAR> text;
    EXPECT_EQ(LoadUtf8TextPath(path.c_str(), &text), 0);
    EXPECT_FALSE(text);
    winsim::ClearFaults();
    EXPECT_EQ(LoadUtf8TextFile(nullptr, nullptr), 0);
}

TEST_F(DriverFilesTest, DefaultDevmodeCopiesNoMoreThanTheStoredRecord) {
    struct {
        const char* name;
        size_t storedBytes;
        WORD dmSize, dmDriverExtra;
        size_t expectedCopied;
    } cases[] = {
        {"a full record", 2328, 220, 2108, 2328},
        {"a longer record is cut", 3000, 220, 2780, 2328},
        {"a public devmode only", 220, 220, 0, 220},
        {"declared shorter than stored", 2328, 156, 0, 156},
        {"declared longer than stored", 300, 220, 2108, 300},
    };
    for (const auto& c : cases) {
        std::vector<uint8_t> stored(c.storedBytes, 0xAB);
        DEVMODEW header{};
        header.dmSize = c.dmSize;
        header.dmDriverExtra = c.dmDriverExtra;
        std::memcpy(stored.data() + 64, reinterpret_cast<BYTE*>(&header) + 64, 8);
        ASSERT_TRUE(winsim::SetPrinterDevmode(kPrinter, stored));
        OpenedPrinter printer;
        HeapBlock<DriverDevmode> copy = GetPrinterDefaultDevmode(printer.handle);
        ASSERT_TRUE(copy) << c.name;
        const auto* bytes = reinterpret_cast<const uint8_t*>(copy.get());
        for (size_t i = 72; i < kDriverDevmodeSize; ++i) {
            ASSERT_EQ(bytes[i], i < c.expectedCopied ? 0xAB : 0) << c.name << " byte " << i;
        }
    }
}

TEST_F(DriverFilesTest, DefaultDevmodeOwnerRecord) {
    std::vector<uint8_t> stored(2328, 0);
    stored[68] = 220;  // dmSize
    ASSERT_TRUE(winsim::SetPrinterDevmode(kPrinter, stored));
    std::u16string name = kPrinter;
    PrinterDefaultDevmode* record = CreatePrinterDefaultDevmodeByName(name.c_str());
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->owns, 1u);
    ASSERT_NE(record->devmode, nullptr);
    EXPECT_EQ(reinterpret_cast<BYTE*>(record->privatePart),
              reinterpret_cast<BYTE*>(record->devmode) + 220);
    ReleasePrinterDefaultDevmode(record);

    ASSERT_TRUE(winsim::SetPrinterDevmode(kPrinter, {}));
    record = CreatePrinterDefaultDevmodeByName(name.c_str());
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->owns, 0u);
    EXPECT_EQ(record->devmode, nullptr);
    EXPECT_EQ(record->privatePart, nullptr);
    ReleasePrinterDefaultDevmode(record);

    struct {
        const char* name;
        WORD dmSize;
        bool handedOut;
    } cases[] = {
        {"private part outside the copy", 0xFFFF, false},
        {"one byte past fitting", 221, false},
        {"odd size would misalign the private part", 219, false},
        {"size not a multiple of four", 218, false},
        {"aligned shorter size", 188, true},
        {"zero size", 0, true},
    };
    for (const auto& c : cases) {
        stored[68] = static_cast<uint8_t>(c.dmSize & 0xFF);
        stored[69] = static_cast<uint8_t>(c.dmSize >> 8);
        ASSERT_TRUE(winsim::SetPrinterDevmode(kPrinter, stored));
        record = CreatePrinterDefaultDevmodeByName(name.c_str());
        ASSERT_NE(record, nullptr) << c.name;
        EXPECT_EQ(record->owns, 1u) << c.name;
        if (!c.handedOut) {
            EXPECT_EQ(record->privatePart, nullptr) << c.name;
        } else {
            EXPECT_EQ(reinterpret_cast<BYTE*>(record->privatePart),
                      reinterpret_cast<BYTE*>(record->devmode) + c.dmSize)
                << c.name;
        }
        ReleasePrinterDefaultDevmode(record);
    }
}

TEST_F(DriverFilesTest, DefaultDevmodeFailuresGiveNothing) {
    ASSERT_TRUE(winsim::SetPrinterDevmode(kPrinter, std::vector<uint8_t>(2328, 1)));
    std::u16string name = kPrinter;
    for (auto [function, nth] :
         {std::pair{"HeapAlloc", 1}, std::pair{"HeapAlloc", 2}, std::pair{"GetPrinterW", 1},
          std::pair{"GetPrinterW", 2}, std::pair{"OpenPrinterW", 1}}) {
        winsim::FailCall(function, nth);
        EXPECT_FALSE(GetPrinterDefaultDevmodeByName(name.c_str())) << function << nth;
        winsim::ClearFaults();
    }
    EXPECT_FALSE(GetPrinterDefaultDevmodeByName(u"No Such Printer"));
}

}  // namespace
}  // namespace larktest
