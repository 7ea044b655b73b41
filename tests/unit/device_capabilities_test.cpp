// DrvDeviceCapabilities from the call to the answer, with the package on a
// winsim machine; the shipped package against the shared expectation table.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "../shared/caps_expectations.h"
#include "config_support.h"
#include "default_devmode.h"

extern "C" DWORD WINAPI DrvDeviceCapabilities(HANDLE, PWSTR, WORD, PVOID, PDEVMODEW);

namespace larktest {
namespace {

class DeviceCapabilitiesTest : public MachineTest {
protected:
    void SetUp() override {
        MachineTest::SetUp();
        InstallDriverAndStorePrinter();
        StoreBuiltDefaultDevmode();
    }
    DWORD Ask(WORD index, void* output = nullptr, DEVMODEW* devmode = nullptr) {
        OpenedPrinter printer;
        return DrvDeviceCapabilities(printer.handle, nullptr, index, output, devmode);
    }
};

constexpr BYTE kFill = 0xEE;

// How many bytes a capability writes for the shipped package.
size_t WrittenBytes(larkcaps::Output output) {
    switch (output) {
        case larkcaps::Output::kPaperIds:
            return larkcaps::kPaperCount * sizeof(WORD);
        case larkcaps::Output::kPaperSizes:
            return larkcaps::kPaperCount * sizeof(POINT);
        case larkcaps::Output::kPaperNames:
            return larkcaps::kPaperCount * 64 * sizeof(WCHAR);
        case larkcaps::Output::kBin:
            return sizeof(WORD);
        case larkcaps::Output::kBinName:
            return 24 * sizeof(WCHAR);
        case larkcaps::Output::kMediaReady:
            return (std::strlen(larkcaps::kPapers[0].name) + 1) * sizeof(WCHAR);
        default:
            return 0;
    }
}

TEST_F(DeviceCapabilitiesTest, EveryIndexOfTheShippedPackage) {
    for (const auto& c : larkcaps::kCapabilities) {
        EXPECT_EQ(Ask(c.index), c.result) << c.name << " without a buffer";
        std::vector<BYTE> buffer(8192, kFill);
        EXPECT_EQ(Ask(c.index, buffer.data()), c.result) << c.name << " with a buffer";
        size_t written = WrittenBytes(c.output);
        for (size_t i = written; i < buffer.size(); ++i) {
            ASSERT_EQ(buffer[i], kFill) << c.name << " wrote byte " << i;
        }
        const auto* words = reinterpret_cast<const WORD*>(buffer.data());
        const auto* points = reinterpret_cast<const POINT*>(buffer.data());
        const auto* text = reinterpret_cast<const WCHAR*>(buffer.data());
        for (int r = 0; r < larkcaps::kPaperCount; ++r) {
            const auto& p = larkcaps::kPapers[r];
            if (c.output == larkcaps::Output::kPaperIds) {
                EXPECT_EQ(words[r], p.id) << p.name;
            }
            if (c.output == larkcaps::Output::kPaperSizes) {
                EXPECT_EQ(points[r].x, p.width) << p.name;
                EXPECT_EQ(points[r].y, p.height) << p.name;
            }
            if (c.output == larkcaps::Output::kPaperNames) {
                EXPECT_EQ(Narrow(text + r * 64), p.name);
                for (size_t u = std::strlen(p.name); u < 64; ++u) ASSERT_EQ(text[r * 64 + u], 0);
            }
        }
        if (c.output == larkcaps::Output::kBin) {
            EXPECT_EQ(words[0], DMBIN_AUTO);
        }
        if (c.output == larkcaps::Output::kBinName) {
            EXPECT_EQ(Narrow(text), "Automatic");
            for (size_t u = 9; u < 24; ++u) EXPECT_EQ(text[u], 0) << "bin name unit " << u;
        }
        if (c.output == larkcaps::Output::kMediaReady) {
            EXPECT_EQ(Narrow(text), larkcaps::kPapers[0].name);
        }
    }
}

TEST_F(DeviceCapabilitiesTest, DevmodeInUse) {
    DriverDevmode caller;
    BuildDefaultDevmode(&caller, kPrinter);
    caller.dm.dmFields = 0x1234;
    caller.dm.dmDriverExtra = 77;
    caller.dm.dmDriverVersion = 0x0100;
    EXPECT_EQ(Ask(DC_FIELDS, nullptr, &caller.dm), 0x1234u);
    EXPECT_EQ(Ask(DC_EXTRA, nullptr, &caller.dm), 77u);
    EXPECT_EQ(Ask(DC_DRIVER, nullptr, &caller.dm), 0x0100u);
    // An older, smaller devmode is ignored for the stored one.
    caller.dm.dmSize = 156;
    EXPECT_EQ(Ask(DC_SIZE, nullptr, &caller.dm), 220u);
    EXPECT_EQ(Ask(DC_EXTRA, nullptr, &caller.dm), 2108u);
    EXPECT_EQ(Ask(DC_FIELDS, nullptr, &caller.dm), kDefaultDevmodeFields);
}

TEST_F(DeviceCapabilitiesTest, NoStoredDevmodeAnswersZeroForEveryIndex) {
    ASSERT_TRUE(winsim::SetPrinterDevmode(kPrinter, {}));
    for (const auto& c : larkcaps::kCapabilities) {
        std::vector<BYTE> buffer(8192, kFill);
        EXPECT_EQ(Ask(c.index, buffer.data()), 0u) << c.name;
        EXPECT_EQ(buffer[0], kFill) << c.name;
    }
    // A caller's devmode of the right size still answers.
    DriverDevmode caller;
    BuildDefaultDevmode(&caller, kPrinter);
    EXPECT_EQ(Ask(DC_PAPERS, nullptr, &caller.dm), 4u);
    winsim::FailCall("GetPrinterW", 0);
    StoreBuiltDefaultDevmode();
    EXPECT_EQ(Ask(DC_COPIES), 0u);
}

TEST_F(DeviceCapabilitiesTest, ExtentsFromTheScript) {
    struct {
        const char* name;
        std::string rows;
        DWORD minimum, maximum;
    } cases[] = {
        {"one row", "\"A\", \"4.0;6.0;0;1;\", 0", larkcaps::Pack(1016, 1524),
         larkcaps::Pack(1016, 1524)},
        {"two rows", "\"A\", \"4.0;6.0;0;1;\", 0, \"B\", \"10.0;15.0;1;2;\", 1",
         larkcaps::Pack(1000, 1500), larkcaps::Pack(1016, 1524)},
        {"width and height from different rows",
         "\"A\", \"1.0;50.0;1;1;\", 0, \"B\", \"50.0;1.0;1;2;\", 1", larkcaps::Pack(100, 100),
         larkcaps::Pack(5000, 5000)},
        {"all wider than 16000", "\"A\", \"170.0;171.0;1;1;\", 0", larkcaps::Pack(16000, 16000),
         larkcaps::Pack(17000, 17100)},
    };
    for (const auto& c : cases) {
        WriteDriverFile("settings.js", "var sz0x0409 = { szPaperSizes : [ " + c.rows + " ] };");
        EXPECT_EQ(Ask(DC_MINEXTENT), c.minimum) << c.name;
        EXPECT_EQ(Ask(DC_MAXEXTENT), c.maximum) << c.name;
    }
    RemoveDriverFile("settings.js");
    EXPECT_EQ(Ask(DC_MINEXTENT), larkcaps::Pack(1016, 1524));
    EXPECT_EQ(Ask(DC_MAXEXTENT), larkcaps::Pack(1016, 1524));
    WORD ids[4] = {};
    EXPECT_EQ(Ask(DC_PAPERS, ids), 1u);
    EXPECT_EQ(ids[0], 256);
    WCHAR name[64];
    EXPECT_EQ(Ask(DC_MEDIAREADY, name), 1u);
    EXPECT_EQ(Narrow(name), "Automatic");
}

// Without a printer handle the device name names the printer, opened for
// the call only (the fixture checks that it is closed again).
TEST_F(DeviceCapabilitiesTest, PrinterByDeviceNameWithoutAHandle) {
    std::u16string known = kPrinter, unknown = u"Nobody", empty;
    struct Row {
        const char* name;
        WCHAR* device;
        DWORD papers;
        DWORD size;
    } rows[] = {
        {"the printer's name", known.data(), larkcaps::kPaperCount, 220},
        {"an unknown name", unknown.data(), 0, 0},
        {"an empty name", empty.data(), 0, 0},
        {"no name", nullptr, 0, 0},
    };
    for (const Row& row : rows) {
        WORD ids[16] = {};
        EXPECT_EQ(DrvDeviceCapabilities(nullptr, row.device, DC_PAPERS, ids, nullptr), row.papers)
            << row.name;
        EXPECT_EQ(DrvDeviceCapabilities(nullptr, row.device, DC_SIZE, nullptr, nullptr), row.size)
            << row.name;
        if (row.papers != 0) {
            EXPECT_EQ(ids[1], larkcaps::kPapers[1].id) << row.name;
        }
    }
}

TEST_F(DeviceCapabilitiesTest, AChangedScriptShowsAtTheNextQuery) {
    EXPECT_EQ(Ask(DC_PAPERS), 4u);
    WriteDriverFile("settings.js",
                    "var sz0x0409 = { szPaperSizes : [ \"A\", \"1\", 0, \"B\", \"1\", 1 ] };");
    EXPECT_EQ(Ask(DC_PAPERS), 2u);
}

TEST_F(DeviceCapabilitiesTest, MediaReadyOnAnExhaustedHeap) {
    WCHAR name[64] = {};
    // The first block is the devmode copy; the next, the names.
    winsim::FailCall("HeapAlloc", 4);
    EXPECT_EQ(Ask(DC_MEDIAREADY, name), 1u);
    EXPECT_EQ(Narrow(name), "Automatic");
}

}  // namespace
}  // namespace larktest
