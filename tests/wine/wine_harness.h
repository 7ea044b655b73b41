// What every Wine test shares: the names wine_setup.exe installs, and loading larkui.dll the way
// the spooler does (the driver's config file from the driver directory, entry points by name).
#pragma once

#include "platform.h"
// platform.h first.
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

// An entry point by name, as the spooler finds it: LarkEntry<decltype(&DrvPrinterEvent)>(m, "...").
template <class Fn>
Fn LarkEntry(HMODULE module, const char* name) {
    if (module == nullptr) return nullptr;
    // Through void*: FARPROC's own type differs from every entry point's.
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}
