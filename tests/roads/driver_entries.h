// The driver of the current machine as the spooler loads it: its config
// file through winsim's loader, each entry point by name. lark_road_tests
// links no driver code and reaches the driver this way only, so the roads
// that load the module themselves (DocumentPropertiesW, adding a printer)
// run the very copy the tests call.
#pragma once

#include "platform.h"

namespace larktest {

struct Driver {
    decltype(&::DrvDocumentEvent) DrvDocumentEvent = nullptr;
    decltype(&::DrvDeviceCapabilities) DrvDeviceCapabilities = nullptr;
    decltype(&::DrvDocumentPropertySheets) DrvDocumentPropertySheets = nullptr;
    decltype(&::DrvDevicePropertySheets) DrvDevicePropertySheets = nullptr;
    decltype(&::DrvDocumentProperties) DrvDocumentProperties = nullptr;
    decltype(&::DrvAdvancedDocumentProperties) DrvAdvancedDocumentProperties = nullptr;
    decltype(&::DrvConvertDevMode) DrvConvertDevMode = nullptr;
    decltype(&::DrvPrinterEvent) DrvPrinterEvent = nullptr;
    decltype(&::DrvUpgradePrinter) DrvUpgradePrinter = nullptr;
    decltype(&::DevQueryPrintEx) DevQueryPrintEx = nullptr;
};

// The installed driver's entry points, its module loaded at the first use on
// a machine and unloaded when the test ends. A test fails when it does not load.
const Driver& TheDriver();

}  // namespace larktest
