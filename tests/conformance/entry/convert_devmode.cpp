// DrvConvertDevMode: its three modes and their error sequence (no count,
// size query, one byte short, exact size, double size), the count and the
// last error each leaves, nothing written past the record, and records that
// claim more memory than they have.
#include <cstring>
#include <vector>

#include "adapter.h"
#include "conformance.h"
#include "driver_devmode.h"

namespace {

using ConvertFn = BOOL(WINAPI*)(LPWSTR, PDEVMODEW, PDEVMODEW, PLONG, DWORD);

constexpr DWORD kSentinel = 0xdeadbeef;
constexpr DWORD kAnyError = 0xffffffff;

struct Row {
    const char* name;
    DWORD mode;
    bool withOut;
    bool withIn;
    LONG count;
    BOOL result;
    DWORD error;  // kSentinel: left alone; kAnyError: not looked at
    LONG countAfter;
};

const Row kRows[] = {
    {"convert, size query", CDM_CONVERT, false, true, 0, FALSE, ERROR_INSUFFICIENT_BUFFER, 2328},
    {"convert, one byte short", CDM_CONVERT, true, true, 2327, FALSE, ERROR_INSUFFICIENT_BUFFER,
     2328},
    {"convert, negative count", CDM_CONVERT, true, true, -1, FALSE, ERROR_INSUFFICIENT_BUFFER,
     2328},
    {"convert, exact size", CDM_CONVERT, true, true, 2328, TRUE, kAnyError, 2328},
    {"convert, double size", CDM_CONVERT, true, true, 4656, TRUE, kAnyError, 2328},
    {"default, size query", CDM_DRIVER_DEFAULT, false, false, 0, FALSE, ERROR_INSUFFICIENT_BUFFER,
     2328},
    {"default, one byte short", CDM_DRIVER_DEFAULT, true, false, 2327, FALSE,
     ERROR_INSUFFICIENT_BUFFER, 2328},
    {"default, exact size", CDM_DRIVER_DEFAULT, true, false, 2328, TRUE, kAnyError, 2328},
    {"default, double size", CDM_DRIVER_DEFAULT, true, false, 4656, TRUE, kAnyError, 2328},
    {"351, size query", CDM_CONVERT351, false, true, 0, FALSE, ERROR_INSUFFICIENT_BUFFER, 2296},
    {"351, one byte short", CDM_CONVERT351, true, true, 2295, FALSE, ERROR_INSUFFICIENT_BUFFER,
     2296},
    {"351, exact size", CDM_CONVERT351, true, true, 2296, TRUE, kAnyError, 2296},
    {"351, no source: count left alone", CDM_CONVERT351, true, false, 3000, FALSE,
     ERROR_INVALID_PARAMETER, 3000},
    {"mode 3: nothing touched", 3, true, true, 2328, FALSE, kSentinel, 2328},
};

}  // namespace

CONFORMANCE_TABLE(ConvertDevModeModes, "DrvConvertDevMode modes and sizes") {
    auto convert = conformance::Entry<ConvertFn>("DrvConvertDevMode");
    if (!ctx.Begin("the entry point is exported")) return;
    if (!ROW_CHECK(convert != nullptr)) return;
    if (ctx.Begin("no count: ERROR_INVALID_PARAMETER")) {
        SetLastError(kSentinel);
        ROW_CHECK(!convert(nullptr, nullptr, nullptr, nullptr, CDM_CONVERT));
        ROW_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    }
    std::basic_string<WCHAR> printer = conformance::kPrinter;
    for (const Row& row : kRows) {
        if (!ctx.Begin(row.name)) continue;
        std::vector<BYTE> in(2328, 0), out(8192, 0xCC);
        auto* source = reinterpret_cast<DEVMODEW*>(in.data());
        source->dmSize = 220;
        source->dmSpecVersion = 0x0401;
        source->dmDriverVersion = 0x4021;
        source->dmDriverExtra = 2108;
        std::memcpy(in.data() + 220, &PrivateSignature, 4);
        LONG count = row.count;
        SetLastError(kSentinel);
        BOOL result = convert(printer.data(), row.withIn ? source : nullptr,
                              row.withOut ? reinterpret_cast<DEVMODEW*>(out.data()) : nullptr,
                              &count, row.mode);
        ROW_EQ(result, row.result);
        if (row.error != kAnyError) ROW_EQ(GetLastError(), row.error);
        ROW_EQ(count, row.countAfter);
        if (!result) continue;
        const auto* dm = reinterpret_cast<const DEVMODEW*>(out.data());
        ROW_EQ(dm->dmDriverVersion, kDriverVersion);
        ROW_EQ(dm->dmDriverExtra, kPrivateDevmodeSize);
        ROW_EQ(out[static_cast<size_t>(count)], 0xCC);
        if (row.mode == CDM_CONVERT351) {
            ROW_EQ(dm->dmSize, 188);
            ROW_EQ(dm->dmSpecVersion, 0x0320);
            ROW_CHECK(std::memcmp(out.data() + 188, &PrivateSignature, 4) == 0);
        } else {
            ROW_EQ(dm->dmSize, 220);
            ROW_EQ(dm->dmSpecVersion, 0x0401);
            const auto* d = reinterpret_cast<const DriverDevmode*>(out.data());
            ROW_EQ(d->priv.Signature1, PrivateSignature);
            ROW_EQ(d->priv.Signature2, PrivateSignature);
            ROW_TEXT(d->priv.PrinterName, conformance::kPrinter);
        }
    }
    if (ctx.Begin("an unknown printer: the built-in default with its name")) {
        std::vector<BYTE> out(2328, 0);
        LONG count = 2328;
        std::basic_string<WCHAR> nobody = TEXT("Nobody");
        ROW_CHECK(convert(nobody.data(), nullptr, reinterpret_cast<DEVMODEW*>(out.data()), &count,
                          CDM_DRIVER_DEFAULT));
        ROW_EQ(count, 2328);
        const auto* d = reinterpret_cast<const DriverDevmode*>(out.data());
        ROW_EQ(d->priv.Signature2, PrivateSignature);
        ROW_TEXT(d->priv.PrinterName, "Nobody");
        ROW_TEXT(d->priv.Settings, "1000=0;");
    }
    // Records that claim more than the memory behind them, in front of a
    // no-access page.
    if (ctx.Begin("351 of a private part running into a no-access page: "
                  "ERROR_INVALID_PARAMETER, the buffer untouched")) {
        conformance::NoAccessPages pages;
        if (ROW_CHECK(pages.first != nullptr)) {
            auto* dm = reinterpret_cast<DEVMODEW*>(pages.Tail(600));
            std::memset(dm, 0, 600);
            dm->dmSize = 220;
            dm->dmSpecVersion = 0x0401;
            dm->dmDriverExtra = 2108;
            std::vector<BYTE> out(2296, 0xCC);
            LONG count = 2296;
            SetLastError(kSentinel);
            ROW_CHECK(!convert(nullptr, dm, reinterpret_cast<DEVMODEW*>(out.data()), &count,
                               CDM_CONVERT351));
            ROW_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
            // Written only after a whole conversion.
            ROW_EQ(out[0], 0xCC);
        }
    }
    if (ctx.Begin("default into a buffer shorter than its count: ERROR_INVALID_PARAMETER")) {
        conformance::NoAccessPages pages;
        if (ROW_CHECK(pages.first != nullptr)) {
            LONG count = 2328;
            SetLastError(kSentinel);
            ROW_CHECK(!convert(nullptr, nullptr, reinterpret_cast<DEVMODEW*>(pages.Tail(1000)),
                               &count, CDM_DRIVER_DEFAULT));
            ROW_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
        }
    }
}
