// What the tables of the print road share: DrvDocumentEvent called as GDI
// calls it on a printer handle, the driver's default record, and the
// printer's stored devmode and data values changed as a row needs them.
#pragma once

#include <cstring>
#include <string>

#include "adapter.h"
#include "conformance.h"
#include "driver_devmode.h"

namespace printroad {

using EventFn = int(WINAPI*)(HANDLE, HDC, int, ULONG, PVOID, ULONG, PVOID);
using ConvertFn = BOOL(WINAPI*)(LPWSTR, PDEVMODEW, PDEVMODEW, PLONG, DWORD);

constexpr DWORD kSentinel = 0xdeadbeef;

struct Printer {
    HANDLE handle = nullptr;
    explicit Printer(const WCHAR* name = conformance::kPrinter, DWORD access = 0) {
        PRINTER_DEFAULTSW defaults = {nullptr, nullptr, access};
        OpenPrinterW(const_cast<LPWSTR>(name), &handle, access != 0 ? &defaults : nullptr);
    }
    ~Printer() {
        if (handle != nullptr) ClosePrinter(handle);
    }
    Printer(const Printer&) = delete;
    Printer& operator=(const Printer&) = delete;
};

// The driver's default record for the printer (DrvConvertDevMode
// CDM_DRIVER_DEFAULT): what the spooler stores when it adds one.
inline bool DriverDefault(const WCHAR* printer, DriverDevmode* record) {
    auto convert = conformance::Entry<ConvertFn>("DrvConvertDevMode");
    std::memset(record, 0, sizeof *record);
    LONG count = sizeof *record;
    return convert != nullptr &&
           convert(const_cast<LPWSTR>(printer), nullptr, &record->dm, &count, CDM_DRIVER_DEFAULT);
}

// A record of another printer of the same driver: its own extension, its
// own name.
inline DriverDevmode OtherPrinterRecord() {
    DriverDevmode record;
    DriverDefault(TEXT("Other Printer"), &record);
    return record;
}

// CREATEDCPRE with the application's devmode, as GDI passes it.
inline int CreatePre(EventFn event, HANDLE printer, DEVMODEW* devmode, void* out) {
    DOCEVENT_CREATEDCPRE pre = {nullptr, const_cast<LPWSTR>(conformance::kPrinter), devmode, FALSE};
    return event(printer, nullptr, DOCUMENTEVENT_CREATEDCPRE, sizeof pre, &pre, sizeof(void*), out);
}

inline int Post(EventFn event, HANDLE printer, void* record) {
    return event(printer, nullptr, DOCUMENTEVENT_CREATEDCPOST, sizeof record, &record, 0, nullptr);
}

// The record CREATEDCPRE hands out for the devmode, copied, then freed at
// CREATEDCPOST; false when the PRE event did not succeed.
inline bool RecordFor(EventFn event, DEVMODEW* devmode, DriverDevmode* record) {
    Printer printer;
    void* out = nullptr;
    if (CreatePre(event, printer.handle, devmode, &out) != DOCUMENTEVENT_SUCCESS ||
        out == nullptr) {
        return false;
    }
    std::memcpy(record, out, sizeof *record);
    return Post(event, printer.handle, out) == DOCUMENTEVENT_SUCCESS;
}

// The devmode that GetPrinterW level 2 of kPrinter answers from now on (the
// user's own, SetPrinterW level 9); ResetPrinter takes it away again.
inline bool StoreDevmode(DriverDevmode* record) {
    Printer printer(conformance::kPrinter, PRINTER_ACCESS_ADMINISTER);
    PRINTER_INFO_9W info = {&record->dm};
    return printer.handle != nullptr &&
           SetPrinterW(printer.handle, 9, reinterpret_cast<LPBYTE>(&info), 0);
}

// A printer data value of kPrinter, written as the installation writes it.
inline bool SetValue(const WCHAR* name, DWORD type, const void* data, DWORD bytes) {
    Printer printer(conformance::kPrinter, PRINTER_ACCESS_ADMINISTER);
    return printer.handle != nullptr &&
           SetPrinterDataW(printer.handle, const_cast<LPWSTR>(name), type,
                           static_cast<LPBYTE>(const_cast<void*>(data)), bytes) == ERROR_SUCCESS;
}

inline bool SetResolution(uint32_t value) {
    return SetValue(TEXT("Resolution"), REG_DWORD, &value, sizeof value);
}

// Strings without their terminator, as the spooler stores them.
inline bool SetText(const WCHAR* name, const char* utf8) {
    std::basic_string<WCHAR> text = conformance::Wide(utf8);
    return SetValue(name, REG_SZ, text.data(), static_cast<DWORD>(text.size() * sizeof(WCHAR)));
}

// How many bytes of a record differ from another's.
inline size_t Differences(const void* a, const void* b, size_t bytes) {
    size_t n = 0;
    for (size_t i = 0; i < bytes; ++i) {
        if (static_cast<const BYTE*>(a)[i] != static_cast<const BYTE*>(b)[i]) ++n;
    }
    return n;
}

}  // namespace printroad
