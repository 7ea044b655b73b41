// Public printer-driver interface records and prototypes that MinGW-w64's
// winddiui.h lacks, declared once from Microsoft's documentation. The layout
// checks hold them to the 64-bit ABI.
#pragma once

#if defined(_WIN32) && !defined(_MSC_VER)
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

#ifdef _WIN64
static_assert(sizeof(DOCUMENTPROPERTYHEADER) == 48);
static_assert(offsetof(DOCUMENTPROPERTYHEADER, pdmOut) == 32);
static_assert(offsetof(DOCUMENTPROPERTYHEADER, fMode) == 44);
static_assert(sizeof(DEVICEPROPERTYHEADER) == 24);
static_assert(sizeof(DEVQUERYPRINT_INFO) == 40);
#endif

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
#endif
