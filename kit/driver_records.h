// Printer-driver interface records and entry-point prototypes that the
// spooler passes to a driver's UI plug-in, declared once from Microsoft's
// documentation for both builds: MinGW-w64's winddiui.h lacks them, so the
// Windows build takes them from here after the SDK's headers, and winsim's
// winddiui.h, the stand-in's, takes them from here too. They are the driver
// kit's, not the product's: this folder lies below both the platform and
// the product, so the platform depends on nothing of the product's. The
// layout checks hold both to the 64-bit ABI.
#pragma once

#include <cstddef>

#ifndef CDM_CONVERT
#define CDM_CONVERT 0x01
#define CDM_CONVERT351 0x02
#define CDM_DRIVER_DEFAULT 0x04
#endif

typedef struct _DEVQUERYPRINT_INFO {
    WORD cbSize;
    WORD Level;
    HANDLE hPrinter;
    DEVMODEW* pDevMode;
    LPWSTR pszErrorStr;
    DWORD cchErrorStr;
    DWORD cchNeeded;
} DEVQUERYPRINT_INFO, *PDEVQUERYPRINT_INFO;

typedef struct _DOCUMENTPROPERTYHEADER {
    WORD cbSize;
    WORD Reserved;
    HANDLE hPrinter;
    LPWSTR pszPrinterName;
    PDEVMODEW pdmIn;
    PDEVMODEW pdmOut;
    DWORD cbOut;
    DWORD fMode;
} DOCUMENTPROPERTYHEADER, *PDOCUMENTPROPERTYHEADER;

typedef struct _DEVICEPROPERTYHEADER {
    WORD cbSize;
    WORD Flags;
    HANDLE hPrinter;
    LPWSTR pszPrinterName;
} DEVICEPROPERTYHEADER, *PDEVICEPROPERTYHEADER;

static_assert(sizeof(void*) == 8, "the records are pinned for 64-bit builds");
static_assert(sizeof(DOCUMENTPROPERTYHEADER) == 48);
static_assert(offsetof(DOCUMENTPROPERTYHEADER, hPrinter) == 8);
static_assert(offsetof(DOCUMENTPROPERTYHEADER, pszPrinterName) == 16);
static_assert(offsetof(DOCUMENTPROPERTYHEADER, pdmIn) == 24);
static_assert(offsetof(DOCUMENTPROPERTYHEADER, pdmOut) == 32);
static_assert(offsetof(DOCUMENTPROPERTYHEADER, cbOut) == 40);
static_assert(offsetof(DOCUMENTPROPERTYHEADER, fMode) == 44);
static_assert(sizeof(DEVICEPROPERTYHEADER) == 24);
static_assert(offsetof(DEVICEPROPERTYHEADER, hPrinter) == 8);
static_assert(offsetof(DEVICEPROPERTYHEADER, pszPrinterName) == 16);
static_assert(sizeof(DEVQUERYPRINT_INFO) == 40);
static_assert(offsetof(DEVQUERYPRINT_INFO, pDevMode) == 16);
static_assert(offsetof(DEVQUERYPRINT_INFO, cchErrorStr) == 32);

extern "C" {
DWORD WINAPI DrvDeviceCapabilities(HANDLE printer, PWSTR deviceName, WORD capability, PVOID output,
                                   PDEVMODEW devmode);
LONG WINAPI DrvDocumentPropertySheets(PPROPSHEETUI_INFO info, LPARAM lParam);
LONG WINAPI DrvDevicePropertySheets(PPROPSHEETUI_INFO info, LPARAM lParam);
LONG WINAPI DrvDocumentProperties(HWND window, HANDLE printer, PWSTR printerName, PDEVMODEW output,
                                  PDEVMODEW input, DWORD mode);
LONG WINAPI DrvAdvancedDocumentProperties(HWND window, HANDLE printer, PWSTR printerName,
                                          PDEVMODEW output, PDEVMODEW input);
BOOL WINAPI DrvConvertDevMode(LPWSTR printerName, PDEVMODEW in, PDEVMODEW out, PLONG needed,
                              DWORD mode);
BOOL WINAPI DrvUpgradePrinter(DWORD level, LPBYTE info);
BOOL WINAPI DevQueryPrintEx(PDEVQUERYPRINT_INFO info);
}
