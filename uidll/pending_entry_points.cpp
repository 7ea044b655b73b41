// Entry points whose handling is not built yet answer as the interface
// defines for an unhandled request.
#include "platform.h"

extern "C" LONG WINAPI DrvDocumentPropertySheets(PPROPSHEETUI_INFO, LPARAM) { return -1; }

extern "C" LONG WINAPI DrvDevicePropertySheets(PPROPSHEETUI_INFO, LPARAM) { return -1; }

extern "C" LONG WINAPI DrvDocumentProperties(HWND, HANDLE, PWSTR, PDEVMODEW, PDEVMODEW, DWORD) {
    return -1;
}

extern "C" LONG WINAPI DrvAdvancedDocumentProperties(HWND, HANDLE, PWSTR, PDEVMODEW output,
                                                     PDEVMODEW) {
    return output == nullptr ? 2328 : 0;
}
