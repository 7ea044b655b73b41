// The spooler as the driver relies on it: its two-call queries and their
// errors, printer handles, printer data stored without the terminator and
// read into zero-filled buffers, the driver's directory.
#include <cstring>
#include <vector>

#include "adapter.h"
#include "conformance.h"

namespace {

constexpr DWORD kSentinel = 0xdeadbeef;

struct Opened {
    HANDLE handle = nullptr;
    Opened(const WCHAR* name, DWORD access) {
        PRINTER_DEFAULTSW defaults = {nullptr, nullptr, access};
        OpenPrinterW(const_cast<LPWSTR>(name), &handle, access != 0 ? &defaults : nullptr);
    }
    ~Opened() {
        if (handle != nullptr) ClosePrinter(handle);
    }
};

}  // namespace

CONFORMANCE_TABLE(SpoolerQueries, "spooler two-call queries") {
    Opened printer(conformance::kPrinter, 0);
    struct Row {
        const char* name;
        DWORD level;
        bool driver;  // GetPrinterDriverW, else GetPrinterW
    } rows[] = {
        {"GetPrinterW level 2", 2, false},
        {"GetPrinterDriverW level 3", 3, true},
    };
    for (const Row& row : rows) {
        if (!ctx.Begin(row.name)) continue;
        auto query = [&](LPBYTE buffer, DWORD bytes, DWORD* needed) {
            return row.driver ? GetPrinterDriverW(printer.handle, nullptr, row.level, buffer, bytes,
                                                  needed)
                              : GetPrinterW(printer.handle, row.level, buffer, bytes, needed);
        };
        DWORD needed = 0;
        SetLastError(kSentinel);
        ROW_CHECK(!query(nullptr, 0, &needed));
        ROW_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
        if (!ROW_CHECK(needed > 0)) continue;
        std::vector<BYTE> buffer(2 * needed, 0);
        DWORD again = 0;
        SetLastError(kSentinel);
        ROW_CHECK(!query(buffer.data(), needed - 1, &again));
        ROW_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
        ROW_EQ(again, needed);
        ROW_CHECK(query(buffer.data(), needed, &again));
        ROW_CHECK(query(buffer.data(), 2 * needed, &again));
        if (row.driver) {
            const auto* info = reinterpret_cast<const DRIVER_INFO_3W*>(buffer.data());
            ROW_EQ(info->cVersion, 3u);
            ROW_CHECK(info->pDataFile != nullptr && info->pConfigFile != nullptr);
        } else {
            const auto* info = reinterpret_cast<const PRINTER_INFO_2W*>(buffer.data());
            ROW_TEXT(info->pPrinterName, conformance::kPrinter);
            ROW_TEXT(info->pPortName, "USB001");
            ROW_CHECK(info->pDevMode != nullptr);
        }
    }
    if (ctx.Begin("a closed handle: ERROR_INVALID_HANDLE")) {
        HANDLE h = nullptr;
        ROW_CHECK(OpenPrinterW(const_cast<LPWSTR>(conformance::kPrinter), &h, nullptr));
        ROW_CHECK(ClosePrinter(h));
        DWORD needed = 0;
        SetLastError(kSentinel);
        ROW_CHECK(!GetPrinterW(h, 2, nullptr, 0, &needed));
        ROW_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    }
    if (ctx.Begin("an unknown printer does not open")) {
        HANDLE h = reinterpret_cast<HANDLE>(1);
        SetLastError(kSentinel);
        ROW_CHECK(!OpenPrinterW(const_cast<LPWSTR>(TEXT("No Such Printer")), &h, nullptr));
        ROW_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PRINTER_NAME));
    }
}
