// Printer initialisation and device capabilities of the real larkui.dll under Wine's spooler,
// against the same expectation table as the winsim tests.
#include <cstring>
#include <string>
#include <vector>

#include "../shared/caps_expectations.h"
#include "wine_check.h"
#include "wine_harness.h"

namespace {

using EventFn = BOOL(WINAPI*)(LPWSTR, INT, DWORD, LPARAM);
using CapsFn = DWORD(WINAPI*)(HANDLE, PWSTR, WORD, PVOID, PDEVMODEW);
using ConvertFn = BOOL(WINAPI*)(LPWSTR, PDEVMODEW, PDEVMODEW, PLONG, DWORD);

std::wstring Wide(const char* ascii) {
    std::wstring s;
    for (; *ascii != 0; ++ascii) s += static_cast<wchar_t>(static_cast<unsigned char>(*ascii));
    return s;
}

void CheckText(HANDLE printer, const wchar_t* name, const char* expected) {
    BYTE data[1024] = {};
    DWORD type = 0, needed = 0;
    DWORD rc =
        GetPrinterDataW(printer, const_cast<LPWSTR>(name), &type, data, sizeof data - 2, &needed);
    CHECK_NOTE("value %ls", name);
    CHECK_EQ(rc, static_cast<DWORD>(ERROR_SUCCESS));
    CHECK_EQ(type, static_cast<DWORD>(REG_SZ));
    // The driver stores the string without its terminator. Wine's registry then counts the
    // terminator that follows the caller's data in memory ("NT does this", as its RegSetValueExW
    // says), so the stored size may hold one more unit, which is zero.
    DWORD bytes = static_cast<DWORD>(std::strlen(expected) * sizeof(wchar_t));
    CHECK(needed == bytes || (needed == bytes + 2 && data[bytes] == 0 && data[bytes + 1] == 0));
    CHECK_WSTREQ(reinterpret_cast<const wchar_t*>(data), Wide(expected).c_str());
}

void CheckNumber(HANDLE printer, const wchar_t* name, uint32_t expected) {
    DWORD value = 0, type = 0, needed = 0;
    DWORD rc = GetPrinterDataW(printer, const_cast<LPWSTR>(name), &type,
                               reinterpret_cast<LPBYTE>(&value), sizeof value, &needed);
    CHECK_NOTE("value %ls", name);
    CHECK_EQ(rc, static_cast<DWORD>(ERROR_SUCCESS));
    CHECK_EQ(type, static_cast<DWORD>(REG_DWORD));
    CHECK_EQ(needed, 4u);
    CHECK_EQ(value, expected);
}

void CheckPrinterEvent(HMODULE ui, HANDLE printer) {
    auto event = LarkEntry<EventFn>(ui, "DrvPrinterEvent");
    if (!CHECK(event != nullptr)) return;
    CHECK(event(const_cast<LPWSTR>(kLarkPrinter), PRINTER_EVENT_INITIALIZE, 0, 0));
    CheckText(printer, L"PrinterSettings", larkcaps::kPrinterSettings);
    CheckNumber(printer, L"MaxJpegFileSize", larkcaps::kMaxJpegFileSize);
    CheckText(printer, L"StatusMonitor", larkcaps::kStatusMonitor);
    CheckNumber(printer, L"Resolution", larkcaps::kResolution);
    CheckText(printer, L"UIConfigFile", larkcaps::kUiConfigFile);
    CheckText(printer, L"StatusMessage", larkcaps::kStatusMessage);
    // Other events do nothing and still succeed.
    CHECK(event(const_cast<LPWSTR>(kLarkPrinter), PRINTER_EVENT_DELETE, 0, 0));
    CHECK(event(const_cast<LPWSTR>(kLarkPrinter), PRINTER_EVENT_ADD_CONNECTION, 0, 0));
}

void CheckOutput(const larkcaps::Capability& c, const std::vector<BYTE>& buffer) {
    const auto* words = reinterpret_cast<const WORD*>(buffer.data());
    const auto* points = reinterpret_cast<const POINT*>(buffer.data());
    const auto* text = reinterpret_cast<const wchar_t*>(buffer.data());
    for (int r = 0; r < larkcaps::kPaperCount; ++r) {
        const larkcaps::Paper& p = larkcaps::kPapers[r];
        switch (c.output) {
            case larkcaps::Output::kPaperIds:
                CHECK_EQ(words[r], p.id);
                break;
            case larkcaps::Output::kPaperSizes:
                CHECK_EQ(points[r].x, p.width);
                CHECK_EQ(points[r].y, p.height);
                break;
            case larkcaps::Output::kPaperNames:
                CHECK_WSTREQ(text + r * 64, Wide(p.name).c_str());
                break;
            default:
                break;
        }
    }
    if (c.output == larkcaps::Output::kBin) CHECK_EQ(words[0], DMBIN_AUTO);
    if (c.output == larkcaps::Output::kBinName) {
        CHECK_WSTREQ(text, L"Automatic");
        for (int u = 9; u < 24; ++u) CHECK_EQ(text[u], 0);
    }
    if (c.output == larkcaps::Output::kMediaReady) {
        CHECK_WSTREQ(text, Wide(larkcaps::kPapers[0].name).c_str());
    }
}

// The answers that come from the devmode in use rather than from the table.
uint32_t DevmodeAnswer(const DEVMODEW* dm, WORD index, uint32_t table) {
    if (dm == nullptr) return table;
    switch (index) {
        case DC_FIELDS:
            return dm->dmFields;
        case DC_SIZE:
            return dm->dmSize;
        case DC_EXTRA:
            return dm->dmDriverExtra;
        case DC_VERSION:
            return dm->dmSpecVersion;
        case DC_DRIVER:
            return dm->dmDriverVersion;
        default:
            return table;
    }
}

// Every index with and without a buffer. inUse: the devmode the answers come from (the
// caller's, or the stored one), nullptr when there is none and every answer is 0.
void CheckEveryIndex(CapsFn caps, HANDLE printer, DEVMODEW* devmode, const DEVMODEW* inUse) {
    bool expectZero = inUse == nullptr;
    for (const larkcaps::Capability& c : larkcaps::kCapabilities) {
        uint32_t expected = expectZero ? 0u : DevmodeAnswer(inUse, c.index, c.result);
        if (!CHECK_EQ(caps(printer, const_cast<LPWSTR>(kLarkPrinter), c.index, nullptr, devmode),
                      expected)) {
            CHECK_NOTE("  %s, devmode %s", c.name, devmode != nullptr ? "given" : "stored");
        }
        std::vector<BYTE> buffer(8192, 0xEE);
        CHECK_EQ(caps(printer, const_cast<LPWSTR>(kLarkPrinter), c.index, buffer.data(), devmode),
                 expected);
        if (!expectZero) CheckOutput(c, buffer);
    }
}

// The driver's own default devmode, as DrvConvertDevMode gives it.
std::vector<BYTE> DriverDefault(HMODULE ui) {
    auto convert = LarkEntry<ConvertFn>(ui, "DrvConvertDevMode");
    std::vector<BYTE> devmode(2328);
    LONG size = static_cast<LONG>(devmode.size());
    if (convert == nullptr ||
        !convert(const_cast<LPWSTR>(kLarkPrinter), nullptr,
                 reinterpret_cast<PDEVMODEW>(devmode.data()), &size, CDM_DRIVER_DEFAULT)) {
        return {};
    }
    return devmode;
}

void CheckCapabilities(HMODULE ui, HANDLE printer) {
    auto caps = LarkEntry<CapsFn>(ui, "DrvDeviceCapabilities");
    if (!CHECK(caps != nullptr)) return;
    std::vector<BYTE> info(64 * 1024);
    DWORD needed = 0;
    const DEVMODEW* stored = nullptr;
    if (GetPrinterW(printer, 2, info.data(), static_cast<DWORD>(info.size()), &needed)) {
        stored = reinterpret_cast<PRINTER_INFO_2W*>(info.data())->pDevMode;
    }
    // Wine's AddPrinterW stores a devmode of its own when the driver gives it none.
    CHECK_NOTE("stored default devmode: %s, dmDriverVersion 0x%x", stored != nullptr ? "yes" : "no",
               stored != nullptr ? stored->dmDriverVersion : 0);
    CheckEveryIndex(caps, printer, nullptr, stored);

    std::vector<BYTE> devmode = DriverDefault(ui);
    if (!CHECK(!devmode.empty())) return;
    auto* dm = reinterpret_cast<DEVMODEW*>(devmode.data());
    CheckEveryIndex(caps, printer, dm, dm);
    // An older, smaller devmode is not used.
    dm->dmSize = 156;
    CHECK_EQ(caps(printer, nullptr, DC_SIZE, nullptr, dm),
             stored != nullptr ? static_cast<DWORD>(stored->dmSize) : 0u);
}

// What an application asks: Wine's DeviceCapabilitiesW loads the driver and calls it with no
// printer handle and the printer's name as the device name.
void CheckApplicationCapabilities() {
    const wchar_t* port = kLarkUsbPort;
    for (const larkcaps::Capability& c : larkcaps::kCapabilities) {
        if (c.index != DC_PAPERS && c.index != DC_PAPERSIZE && c.index != DC_PAPERNAMES &&
            c.index != DC_SIZE) {
            continue;
        }
        CHECK_NOTE("DeviceCapabilitiesW %s", c.name);
        CHECK_EQ(DeviceCapabilitiesW(kLarkPrinter, port, c.index, nullptr, nullptr),
                 static_cast<int>(c.index == DC_SIZE ? 220 : c.result));
        std::vector<BYTE> buffer(8192, 0xEE);
        CHECK_EQ(DeviceCapabilitiesW(kLarkPrinter, port, c.index,
                                     reinterpret_cast<LPWSTR>(buffer.data()), nullptr),
                 static_cast<int>(c.index == DC_SIZE ? 220 : c.result));
        if (c.index != DC_SIZE) CheckOutput(c, buffer);
    }
}

}  // namespace

int main() {
    HMODULE ui = LoadLarkUi(kLarkPrinter);
    if (!CHECK(ui != nullptr)) return WINE_CHECK_SUMMARY();
    HANDLE printer = nullptr;
    if (CHECK(OpenPrinterW(const_cast<LPWSTR>(kLarkPrinter), &printer, nullptr))) {
        CheckPrinterEvent(ui, printer);
        CheckCapabilities(ui, printer);
        ClosePrinter(printer);
    }
    CheckApplicationCapabilities();
    FreeLibrary(ui);
    return WINE_CHECK_SUMMARY();
}
