// What the document-properties, property-sheet and settings-road tables
// share: the printer opened, its stored devmode, the driver's threads.
#pragma once

#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "adapter.h"
#include "driver_devmode.h"

namespace conformance {

using SheetsFn = LONG(WINAPI*)(PPROPSHEETUI_INFO, LPARAM);

inline constexpr DWORD kSentinel = 0xdeadbeef;
inline constexpr char kFill = static_cast<char>(0xAB);

struct OpenedPrinter {
    HANDLE handle = nullptr;
    OpenedPrinter() { OpenPrinterW(const_cast<LPWSTR>(kPrinter), &handle, nullptr); }
    ~OpenedPrinter() {
        if (handle != nullptr) ClosePrinter(handle);
    }
    OpenedPrinter(const OpenedPrinter&) = delete;
    OpenedPrinter& operator=(const OpenedPrinter&) = delete;
};

// A document-properties header as the spooler fills it.
inline DOCUMENTPROPERTYHEADER Header(HANDLE printer, WCHAR* name, DEVMODEW* out, DWORD cbOut,
                                     DWORD mode, DEVMODEW* in = nullptr) {
    DOCUMENTPROPERTYHEADER header = {};
    header.cbSize = sizeof header;
    header.hPrinter = printer;
    header.pszPrinterName = name;
    header.pdmIn = in;
    header.pdmOut = out;
    header.cbOut = cbOut;
    header.fMode = mode;
    return header;
}

// kPrinter's default devmode as GetPrinterW level 2 hands it out.
inline std::string StoredDevmode() {
    OpenedPrinter printer;
    DWORD needed = 0;
    GetPrinterW(printer.handle, 2, nullptr, 0, &needed);
    std::string block(needed, '\0');
    if (needed < sizeof(PRINTER_INFO_2W) ||
        !GetPrinterW(printer.handle, 2, reinterpret_cast<LPBYTE>(block.data()), needed, &needed)) {
        return "";
    }
    const DEVMODEW* dm = reinterpret_cast<const PRINTER_INFO_2W*>(block.data())->pDevMode;
    if (dm == nullptr) return "";
    const char* bytes = reinterpret_cast<const char*>(dm);
    return std::string(bytes, bytes + dm->dmSize + dm->dmDriverExtra);
}

inline const DriverDevmode* AsDriverDevmode(const std::string& bytes) {
    return reinterpret_cast<const DriverDevmode*>(bytes.data());
}

// What this process holds of one kind; -1 where the platform does not
// count it.
inline long HeldCount(const char* what) {
    std::vector<Holding> now;
    Holdings(&now);
    for (const Holding& h : now) {
        if (std::strcmp(h.what, what) == 0) return h.count;
    }
    return -1;
}

// The threads this process holds (both platforms count them).
inline long ThreadCount() { return HeldCount("threads"); }

// A closing thread ends on its own (a cancelled one at once, a pressing
// one after its last press): true when the count is back within 5 s.
inline bool ThreadsBackTo(long count) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (ThreadCount() > count) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        Sleep(5);
    }
    return true;
}

}  // namespace conformance
