// What every Wine test shares: the names wine_setup.exe installs, and loading larkui.dll the way
// the spooler does (the driver's config file from the driver directory, entry points by name).
#pragma once

#include "platform.h"
// platform.h first.
#include <cwchar>
#include <string>

inline constexpr const wchar_t* kLarkDriverName = L"Lark Photo Printer";
inline constexpr const wchar_t* kLarkPrinter = L"Lark Photo";  // on kLarkUsbPort
inline constexpr const wchar_t* kLarkUsbPort = L"USB001";
inline constexpr const wchar_t* kLarkLptPrinter = L"Lark Photo LPT";  // on kLarkLptPort
inline constexpr const wchar_t* kLarkLptPort = L"LPT1:";

// The printer's DRIVER_INFO_3W (GetPrinterDriverW level 3) as a zero-filled block; empty when the
// printer cannot be opened or queried. Read it through Driver3().
inline std::string QueryDriver3(const wchar_t* printer) {
    HANDLE handle = nullptr;
    if (!OpenPrinterW(const_cast<LPWSTR>(printer), &handle, nullptr)) return {};
    DWORD needed = 0;
    GetPrinterDriverW(handle, nullptr, 3, nullptr, 0, &needed);
    std::string block;
    if (needed > 0) {
        block.assign(needed, '\0');
        if (!GetPrinterDriverW(handle, nullptr, 3, reinterpret_cast<LPBYTE>(block.data()), needed,
                               &needed)) {
            block.clear();
        }
    }
    ClosePrinter(handle);
    return block;
}

inline const DRIVER_INFO_3W* Driver3(const std::string& block) {
    return block.size() >= sizeof(DRIVER_INFO_3W)
               ? reinterpret_cast<const DRIVER_INFO_3W*>(block.data())
               : nullptr;
}

// Loads the printer's config file (larkui.dll in the driver directory); nullptr on failure.
inline HMODULE LoadLarkUi(const wchar_t* printer = kLarkPrinter) {
    std::string block = QueryDriver3(printer);
    const DRIVER_INFO_3W* info = Driver3(block);
    if (info == nullptr || info->pConfigFile == nullptr) return nullptr;
    return LoadLibraryW(info->pConfigFile);
}

// Adds a local port through the local port monitor's transceiver ("AddPort"), the
// programmatic road Windows offers too (AddPortW would need the monitor's dialog). An
// existing port counts as added. status: the monitor's answer.
inline bool XcvAddLocalPort(const wchar_t* port, DWORD* status) {
    *status = 0;
    HANDLE xcv = nullptr;
    PRINTER_DEFAULTSW defaults = {nullptr, nullptr, SERVER_ACCESS_ADMINISTER};
    if (!OpenPrinterW(const_cast<LPWSTR>(L",XcvMonitor Local Port"), &xcv, &defaults)) {
        return false;
    }
    DWORD needed = 0;
    const DWORD bytes = static_cast<DWORD>((std::wcslen(port) + 1) * sizeof(wchar_t));
    BOOL ok = XcvDataW(xcv, L"AddPort", reinterpret_cast<PBYTE>(const_cast<wchar_t*>(port)), bytes,
                       nullptr, 0, &needed, status);
    ClosePrinter(xcv);
    return ok && (*status == ERROR_SUCCESS || *status == ERROR_ALREADY_EXISTS);
}

// AddPrinterW of a local printer of the Lark driver on the port (print processor winprint,
// RAW); the new printer's handle, or nullptr with the last error.
inline HANDLE AddLarkPrinter(const wchar_t* name, const wchar_t* port) {
    PRINTER_INFO_2W info = {};
    info.pPrinterName = const_cast<LPWSTR>(name);
    info.pPortName = const_cast<LPWSTR>(port);
    info.pDriverName = const_cast<LPWSTR>(kLarkDriverName);
    info.pPrintProcessor = const_cast<LPWSTR>(L"winprint");
    info.pDatatype = const_cast<LPWSTR>(L"RAW");
    info.Attributes = PRINTER_ATTRIBUTE_LOCAL;
    return AddPrinterW(nullptr, 2, reinterpret_cast<LPBYTE>(&info));
}

// An entry point by name, as the spooler finds it: LarkEntry<decltype(&DrvPrinterEvent)>(m, "...").
template <class Fn>
Fn LarkEntry(HMODULE module, const char* name) {
    if (module == nullptr) return nullptr;
    // Through void*: FARPROC's own type differs from every entry point's.
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}
