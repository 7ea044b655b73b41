// The real larkui.dll loads from the driver directory under Wine's spooler and answers.
#include "wine_check.h"
#include "wine_harness.h"

namespace {

const char* const kExports[] = {
    "DrvDocumentEvent",        "DrvDeviceCapabilities", "DrvDocumentPropertySheets",
    "DrvDevicePropertySheets", "DrvDocumentProperties", "DrvAdvancedDocumentProperties",
    "DrvConvertDevMode",       "DrvPrinterEvent",       "DrvUpgradePrinter",
    "DevQueryPrintEx",
};

// The config file is the driver directory's copy, not the staged package's.
void CheckDriverFiles() {
    std::string block = QueryDriver3(kLarkPrinter);
    const DRIVER_INFO_3W* info = Driver3(block);
    if (!CHECK(info != nullptr)) return;
    CHECK_WSTREQ(info->pName, kLarkDriverName);
    CHECK_EQ(info->cVersion, 3u);

    WCHAR directory[MAX_PATH] = {};
    DWORD needed = 0;
    CHECK(GetPrinterDriverDirectoryW(nullptr, nullptr, 1, reinterpret_cast<LPBYTE>(directory),
                                     sizeof(directory), &needed));
    std::wstring expected = std::wstring(directory) + L"\\3\\larkui.dll";
    CHECK(_wcsicmp(info->pConfigFile, expected.c_str()) == 0);
    CHECK_NOTE("config file: %ls", info->pConfigFile);
    CHECK(GetFileAttributesW(info->pConfigFile) != INVALID_FILE_ATTRIBUTES);
}

void CheckEntryPoints() {
    HMODULE module = LoadLarkUi(kLarkPrinter);
    if (!CHECK(module != nullptr)) return;
    for (const char* name : kExports) {
        if (!CHECK(GetProcAddress(module, name) != nullptr)) CHECK_NOTE("missing export %s", name);
    }

    auto query = LarkEntry<BOOL(WINAPI*)(PDEVQUERYPRINT_INFO)>(module, "DevQueryPrintEx");
    auto upgrade = LarkEntry<BOOL(WINAPI*)(DWORD, LPBYTE)>(module, "DrvUpgradePrinter");
    HANDLE printer = nullptr;
    if (query != nullptr &&
        CHECK(OpenPrinterW(const_cast<LPWSTR>(kLarkPrinter), &printer, nullptr))) {
        WCHAR error[64] = {};
        DEVQUERYPRINT_INFO info = {};
        info.cbSize = sizeof(info);
        info.Level = 1;
        info.hPrinter = printer;
        info.pszErrorStr = error;
        info.cchErrorStr = 64;
        CHECK_EQ(query(&info), TRUE);
        ClosePrinter(printer);
    }
    if (upgrade != nullptr) {
        // Level 1's record is the printer name and the old driver directory.
        LPWSTR upgrade_info[2] = {const_cast<LPWSTR>(kLarkPrinter), nullptr};
        CHECK_EQ(upgrade(1, reinterpret_cast<LPBYTE>(upgrade_info)), TRUE);
    }
    CHECK(FreeLibrary(module));
}

// Both printers are there, on the ports the monitor tests expect.
void CheckPrinters() {
    struct Row {
        const wchar_t* printer;
        const wchar_t* port;
    };
    for (const Row& row : {Row{kLarkPrinter, kLarkUsbPort}, Row{kLarkLptPrinter, kLarkLptPort}}) {
        HANDLE handle = nullptr;
        if (!CHECK(OpenPrinterW(const_cast<LPWSTR>(row.printer), &handle, nullptr))) continue;
        DWORD needed = 0;
        GetPrinterW(handle, 2, nullptr, 0, &needed);
        std::string block(needed, '\0');
        if (CHECK(needed >= sizeof(PRINTER_INFO_2W)) &&
            CHECK(
                GetPrinterW(handle, 2, reinterpret_cast<LPBYTE>(block.data()), needed, &needed))) {
            const auto* info = reinterpret_cast<const PRINTER_INFO_2W*>(block.data());
            CHECK_WSTREQ(info->pPortName, row.port);
            CHECK_WSTREQ(info->pDriverName, kLarkDriverName);
            // wine_setup stored the driver's own default devmode (220 + 2108 bytes).
            if (CHECK(info->pDevMode != nullptr)) {
                CHECK_EQ(info->pDevMode->dmSize, 220);
                CHECK_EQ(info->pDevMode->dmSize + info->pDevMode->dmDriverExtra, 2328);
            }
        }
        ClosePrinter(handle);
    }
}

}  // namespace

int main() {
    CheckDriverFiles();
    CheckPrinters();
    CheckEntryPoints();
    return WINE_CHECK_SUMMARY();
}
