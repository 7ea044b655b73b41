// Page geometry without a printer handle, which no device context has (the
// geometry of device contexts is a table of the conformance suite, through
// CREATEDCPRE and RESETDCPRE).
#include "page_geometry.h"

#include "config_support.h"
#include "default_devmode.h"
#include "text.h"

namespace {

using larktest::Narrow;

class PageGeometryTest : public larktest::MachineTest {
protected:
    void SetUp() override {
        MachineTest::SetUp();
        larktest::InstallDriverAndStorePrinter();
        BuildDefaultDevmode(&record_, larktest::kPrinter);
    }
    DriverDevmode record_;
};

TEST_F(PageGeometryTest, WithoutPrinterFourBySixAndSettingsKept) {
    TextCopy(record_.priv.Settings, kSettingsUnits, TEXT("2000=5;"));
    EXPECT_EQ(ApplyPageGeometry(nullptr, &record_), 1);
    EXPECT_EQ(record_.priv.PageWidthDots, 1200u);
    EXPECT_EQ(record_.priv.PageLengthDots, 1800u);
    EXPECT_EQ(Narrow(record_.priv.Settings), "2000=5;");
}

}  // namespace
