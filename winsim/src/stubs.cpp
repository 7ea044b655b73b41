// Platform calls whose machine-wide state is not kept yet: they answer as a
// machine without such objects would.
#include "internal.h"

WINSIM_API HGDIOBJ WINAPI GetStockObject(int) {
    static int brush;
    return &brush;
}

WINSIM_API BOOL WINAPI CreateProcessW(LPCWSTR, LPWSTR, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES,
                                      BOOL, DWORD, LPVOID, LPCWSTR, LPSTARTUPINFOW,
                                      LPPROCESS_INFORMATION info) {
    if (info != nullptr) *info = PROCESS_INFORMATION{};
    SetLastError(ERROR_FILE_NOT_FOUND);
    return FALSE;
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

WINSIM_API HANDLE WINAPI CreateFileW(LPCWSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD,
                                     HANDLE) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
}

WINSIM_API BOOL WINAPI DeviceIoControl(HANDLE, DWORD, LPVOID, DWORD, LPVOID, DWORD, LPDWORD,
                                       LPVOID) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
}

WINSIM_API ATOM WINAPI RegisterClassW(const WNDCLASSW*) { return 1; }
WINSIM_API HWND WINAPI CreateWindowExW(DWORD, LPCWSTR, LPCWSTR, DWORD, int, int, int, int, HWND,
                                       HMENU, HINSTANCE, LPVOID) {
    return nullptr;
}
WINSIM_API BOOL WINAPI DestroyWindow(HWND) { return FALSE; }
WINSIM_API BOOL WINAPI ShowWindow(HWND, int) { return FALSE; }
WINSIM_API BOOL WINAPI UpdateWindow(HWND) { return FALSE; }
WINSIM_API HICON WINAPI LoadIconW(HINSTANCE, LPCWSTR) { return nullptr; }
WINSIM_API HCURSOR WINAPI LoadCursorW(HINSTANCE, LPCWSTR) { return nullptr; }
WINSIM_API LRESULT WINAPI DefWindowProcW(HWND, UINT, WPARAM, LPARAM) { return 0; }
WINSIM_API void WINAPI PostQuitMessage(int) {}
WINSIM_API HWND WINAPI FindWindowW(LPCWSTR, LPCWSTR) { return nullptr; }
WINSIM_API int WINAPI MessageBoxW(HWND, LPCWSTR, LPCWSTR, UINT) { return IDOK; }

WINSIM_API BOOL WINAPI SetPortW(LPWSTR, LPWSTR, DWORD, LPBYTE) {
    SetLastError(ERROR_UNKNOWN_PORT);
    return FALSE;
}
WINSIM_API DWORD WINAPI StartDocPrinterA(HANDLE, DWORD, LPBYTE) {
    SetLastError(ERROR_INVALID_HANDLE);
    return 0;
}
WINSIM_API BOOL WINAPI StartPagePrinter(HANDLE) { return FALSE; }
WINSIM_API BOOL WINAPI WritePrinter(HANDLE, LPVOID, DWORD, LPDWORD) { return FALSE; }
WINSIM_API BOOL WINAPI EndPagePrinter(HANDLE) { return FALSE; }
WINSIM_API BOOL WINAPI EndDocPrinter(HANDLE) { return FALSE; }

WINSIM_API HDEVINFO WINAPI SetupDiGetClassDevsW(const GUID*, LPCWSTR, HWND, DWORD) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
}
WINSIM_API BOOL WINAPI SetupDiEnumDeviceInterfaces(HDEVINFO, PSP_DEVINFO_DATA, const GUID*, DWORD,
                                                   PSP_DEVICE_INTERFACE_DATA) {
    SetLastError(ERROR_NO_MORE_ITEMS);
    return FALSE;
}
WINSIM_API HKEY WINAPI SetupDiOpenDeviceInterfaceRegKey(HDEVINFO, PSP_DEVICE_INTERFACE_DATA, DWORD,
                                                        REGSAM) {
    return reinterpret_cast<HKEY>(INVALID_HANDLE_VALUE);
}
WINSIM_API BOOL WINAPI SetupDiGetDeviceInterfaceDetailW(HDEVINFO, PSP_DEVICE_INTERFACE_DATA,
                                                        PSP_DEVICE_INTERFACE_DETAIL_DATA_W, DWORD,
                                                        LPDWORD, PSP_DEVINFO_DATA) {
    return FALSE;
}
WINSIM_API BOOL WINAPI SetupDiDestroyDeviceInfoList(HDEVINFO) { return FALSE; }
WINSIM_API LSTATUS WINAPI RegQueryValueExW(HKEY, LPCWSTR, LPDWORD, LPDWORD, LPBYTE, LPDWORD) {
    return ERROR_FILE_NOT_FOUND;
}
WINSIM_API LSTATUS WINAPI RegCloseKey(HKEY) { return ERROR_INVALID_HANDLE; }
