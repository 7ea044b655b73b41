// Platform calls whose machine-wide state is not kept yet: they answer as a
// machine without such objects would.
#include "internal.h"

WINSIM_API HGDIOBJ WINAPI GetStockObject(int) {
    static int brush;
    return &brush;
}

WINSIM_API HANDLE WINAPI CreateThread(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE, LPVOID,
                                      DWORD, LPDWORD) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
}

WINSIM_API DWORD WINAPI ResumeThread(HANDLE) {
    SetLastError(ERROR_INVALID_HANDLE);
    return static_cast<DWORD>(-1);
}

WINSIM_API DWORD WINAPI WaitForSingleObject(HANDLE, DWORD) { return static_cast<DWORD>(-1); }

WINSIM_API DWORD WINAPI StartDocPrinterA(HANDLE, DWORD, LPBYTE) {
    SetLastError(ERROR_INVALID_HANDLE);
    return 0;
}
WINSIM_API BOOL WINAPI StartPagePrinter(HANDLE) { return FALSE; }
WINSIM_API BOOL WINAPI WritePrinter(HANDLE, LPVOID, DWORD, LPDWORD) { return FALSE; }
WINSIM_API BOOL WINAPI EndPagePrinter(HANDLE) { return FALSE; }
WINSIM_API BOOL WINAPI EndDocPrinter(HANDLE) { return FALSE; }
