// Helpers of the print-job tests: writing a printer data value as the
// driver's installation does.
#pragma once

#include <string>

#include "config_support.h"

namespace larktest {

inline void SetPrinterValue(const std::u16string& value, DWORD type, const void* data,
                            DWORD bytes) {
    std::u16string printer = kPrinter;
    PRINTER_DEFAULTSW defaults = {nullptr, nullptr, PRINTER_ACCESS_ADMINISTER};
    HANDLE h = nullptr;
    ASSERT_TRUE(OpenPrinterW(printer.data(), &h, &defaults));
    std::u16string name = value;
    EXPECT_EQ(
        SetPrinterDataW(h, name.data(), type, static_cast<LPBYTE>(const_cast<void*>(data)), bytes),
        static_cast<DWORD>(ERROR_SUCCESS));
    ClosePrinter(h);
}

inline void SetResolutionValue(uint32_t value) {
    SetPrinterValue(u"Resolution", REG_DWORD, &value, 4);
}

// Stored as the spooler stores strings: UTF-16 without the terminator.
inline void SetStringValue(const std::u16string& value, const std::u16string& text) {
    SetPrinterValue(value, REG_SZ, text.data(), static_cast<DWORD>(text.size() * 2));
}

}  // namespace larktest
