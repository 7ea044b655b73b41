#include "driver_entries.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "config_support.h"
#include "driver_devmode.h"

namespace larktest {
namespace {

struct Loaded {
    std::string root;
    winsim::DriverModule module;
    Driver entries;
};
Loaded g_loaded;

void Unload() {
    winsim::UnloadDriverModule(g_loaded.module);
    g_loaded = Loaded{};
}

// The module goes with its machine, after the test's own checks.
class UnloadAfterEachTest : public ::testing::EmptyTestEventListener {
    void OnTestEnd(const ::testing::TestInfo&) override { Unload(); }
};

const bool g_listening = [] {
    ::testing::UnitTest::GetInstance()->listeners().Append(new UnloadAfterEachTest);
    return true;
}();

template <class Fn>
void Take(Fn* entry, const char* name) {
    // Through void*: a module's export has no type of its own.
    *entry = reinterpret_cast<Fn>(winsim::DriverEntry(g_loaded.module, name));
    EXPECT_NE(*entry, nullptr) << name << " is not exported";
}

}  // namespace

const Driver& TheDriver() {
    if (g_loaded.module.library != nullptr && g_loaded.root == winsim::MachineRoot()) {
        return g_loaded.entries;
    }
    Unload();
    winsim::DriverRecord driver;
    EXPECT_TRUE(winsim::GetDriver(u"Lark Photo Printer", &driver)) << "no driver installed";
    g_loaded.module = winsim::LoadDriverModule(driver.configFile);
    EXPECT_NE(g_loaded.module.library, nullptr) << g_loaded.module.error;
    if (g_loaded.module.library == nullptr) return g_loaded.entries;
    g_loaded.root = winsim::MachineRoot();
    Driver& d = g_loaded.entries;
    Take(&d.DrvDocumentEvent, "DrvDocumentEvent");
    Take(&d.DrvDeviceCapabilities, "DrvDeviceCapabilities");
    Take(&d.DrvDocumentPropertySheets, "DrvDocumentPropertySheets");
    Take(&d.DrvDevicePropertySheets, "DrvDevicePropertySheets");
    Take(&d.DrvDocumentProperties, "DrvDocumentProperties");
    Take(&d.DrvAdvancedDocumentProperties, "DrvAdvancedDocumentProperties");
    Take(&d.DrvConvertDevMode, "DrvConvertDevMode");
    Take(&d.DrvPrinterEvent, "DrvPrinterEvent");
    Take(&d.DrvUpgradePrinter, "DrvUpgradePrinter");
    Take(&d.DevQueryPrintEx, "DevQueryPrintEx");
    return d;
}

// The driver's default devmode as the spooler stores it for a new printer.
void StoreBuiltDefaultDevmode() {
    const Driver& driver = TheDriver();
    ASSERT_NE(driver.DrvConvertDevMode, nullptr);
    std::vector<uint8_t> bytes(kDriverDevmodeSize);
    std::u16string name = kPrinter;
    LONG size = static_cast<LONG>(bytes.size());
    ASSERT_TRUE(driver.DrvConvertDevMode(name.data(), nullptr,
                                         reinterpret_cast<DEVMODEW*>(bytes.data()), &size,
                                         CDM_DRIVER_DEFAULT));
    ASSERT_TRUE(winsim::SetPrinterDevmode(kPrinter, bytes));
}

}  // namespace larktest
