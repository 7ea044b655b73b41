// Page geometry: the dots arithmetic, the settings string's paper item, and
// whole records against the shipped paper table and the printer's
// resolution.
#include "page_geometry.h"

#include "config_support.h"
#include "default_devmode.h"
#include "printjob_support.h"
#include "text.h"

namespace {

using larktest::Narrow;

TEST(PageGeometry, DotsArithmetic) {
    struct Row {
        const char* name;
        uint16_t tenths, dpi;
        uint32_t dots;
    } rows[] = {
        {"4 in at 300", 1016, 300, 1200},
        {"6 in at 300", 1524, 300, 1800},
        {"4 in at 600", 1016, 600, 2400},
        {"remainder dropped", 1000, 300, 1181},
        {"product past 2^31 wraps as 32-bit signed, low 16 bits kept", 65535, 65535, 65020},
    };
    for (const Row& r : rows) EXPECT_EQ(DotsOf(r.tenths, r.dpi), r.dots) << r.name;
}

TEST(PageGeometry, PaperItemRewrite) {
    std::u16string longTail(520, u'x');
    struct Row {
        const char* name;
        std::u16string before;
        int32_t code;
        std::u16string after;
    } rows[] = {
        {"default item", u"1000=0;", 2, u"1000=2;"},
        {"other key replaced, rest kept", u"2000=5;9900=1;", 1, u"1000=1;9900=1;"},
        {"semicolon at position 15 still found", u"1000=0123456789;a", 3, u"1000=3;a"},
        {"semicolon at position 16 not looked for", u"1000=01234567890;a", 3,
         u"1000=01234567890;a"},
        {"semicolon at position 20 left alone", u"1000=012345678901234;", 3,
         u"1000=012345678901234;"},
        {"no semicolon", u"1000=0", 3, u"1000=0"},
        {"empty", u"", 3, u""},
        {"negative code", u"1000=0;", -7, u"1000=-7;"},
        {"long tail cut to 511 units", u"1000=0;" + longTail, 12,
         (u"1000=12;" + longTail).substr(0, 511)},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        WCHAR settings[kSettingsUnits] = {};
        for (size_t i = 0; i < r.before.size() && i < kSettingsUnits - 1; ++i) {
            settings[i] = r.before[i];
        }
        RewritePaperItem(settings, r.code);
        EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(settings)), r.after);
        EXPECT_EQ(settings[kSettingsUnits - 1], 0);
    }
}

class PageGeometryTest : public larktest::MachineTest {
protected:
    void SetUp() override {
        MachineTest::SetUp();
        larktest::InstallDriverAndStorePrinter();
        BuildDefaultDevmode(&record_, larktest::kPrinter);
    }
    DriverDevmode record_;
};

struct GeometryRow {
    const char* name;
    short paperSize, orientation;
    uint32_t resolution;  // 0: no "Resolution" value
    int32_t widthMm, lengthMm;
    uint32_t widthDots, lengthDots;
    int32_t xDpi, yDpi;
    const char* settings;
};

// In order: the printer starts without a "Resolution" value.
const GeometryRow kGeometryRows[] = {
    {"no Resolution value: 300 by 300", 258, 1, 0, 100, 150, 1181, 1771, 300, 300, "1000=2;"},
    {"4 x 6 in portrait", 256, 1, 300 << 16 | 300, 101, 152, 1200, 1800, 300, 300, "1000=0;"},
    {"4 x 6 in landscape", 256, 2, 300 << 16 | 300, 152, 101, 1800, 1200, 300, 300, "1000=0;"},
    {"600 by 300 dpi", 256, 1, 600 << 16 | 300, 101, 152, 2400, 1800, 600, 300, "1000=0;"},
    {"600 by 300 dpi landscape swaps the resolutions", 256, 2, 600 << 16 | 300, 152, 101, 1800,
     2400, 300, 600, "1000=0;"},
    {"second row by paper id", 257, 1, 300 << 16 | 300, 127, 177, 1500, 2100, 300, 300, "1000=1;"},
    {"unknown paper id takes the first row", 999, 1, 300 << 16 | 300, 101, 152, 1200, 1800, 300,
     300, "1000=0;"},
};

TEST_F(PageGeometryTest, WholeRecords) {
    for (const GeometryRow& row : kGeometryRows) {
        SCOPED_TRACE(row.name);
        if (row.resolution != 0) larktest::SetResolutionValue(row.resolution);
        DriverDevmode r = record_;
        r.dm.dmPaperSize = row.paperSize;
        r.dm.dmOrientation = row.orientation;
        {
            larktest::OpenedPrinter printer;
            EXPECT_EQ(ApplyPageGeometry(printer.handle, &r), 1);
        }
        const DevmodePrivate& p = r.priv;
        EXPECT_EQ(p.PaperWidthMm, row.widthMm);
        EXPECT_EQ(p.PaperLengthMm, row.lengthMm);
        EXPECT_EQ(p.PageWidthDots, row.widthDots);
        EXPECT_EQ(p.PageLengthDots, row.lengthDots);
        EXPECT_EQ(p.ImageableWidthDots, row.widthDots);
        EXPECT_EQ(p.ImageableLengthDots, row.lengthDots);
        EXPECT_EQ(p.ImageableLeft, 0u);
        EXPECT_EQ(p.ImageableTop, 0u);
        EXPECT_EQ(p.XResolution, row.xDpi);
        EXPECT_EQ(p.YResolution, row.yDpi);
        EXPECT_EQ(Narrow(p.Settings), row.settings);
    }
}

TEST_F(PageGeometryTest, WithoutPrinterFourBySixAndSettingsKept) {
    TextCopy(record_.priv.Settings, kSettingsUnits, TEXT("2000=5;"));
    EXPECT_EQ(ApplyPageGeometry(nullptr, &record_), 1);
    EXPECT_EQ(record_.priv.PageWidthDots, 1200u);
    EXPECT_EQ(record_.priv.PageLengthDots, 1800u);
    EXPECT_EQ(Narrow(record_.priv.Settings), "2000=5;");
}

}  // namespace
