// DrvPrinterEvent: the six printer data values that initialisation writes,
// with their types, byte counts and contents, from the package's files and
// from varied ones; other events write nothing; every failure is silent.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "adapter.h"
#include "caps_expectations.h"
#include "conformance.h"

namespace {

using EventFn = BOOL(WINAPI*)(LPWSTR, INT, DWORD, LPARAM);

constexpr const char* kDefaultMessage =
    "There is a problem with your printer.\r\nCheck your printer screen for more information.";
const char* const kValueNames[] = {"PrinterSettings", "MaxJpegFileSize", "StatusMonitor",
                                   "Resolution",      "UIConfigFile",    "StatusMessage"};

struct Values {
    const char* settings;  // nullptr: the 100 KB line of 's'
    uint32_t maxJpeg;
    const char* monitor;
    uint32_t resolution;
    const char* uiConfig;
    const char* message;
};
constexpr Values kPackage = {larkcaps::kPrinterSettings, larkcaps::kMaxJpegFileSize,
                             larkcaps::kStatusMonitor,   larkcaps::kResolution,
                             larkcaps::kUiConfigFile,    larkcaps::kStatusMessage};
constexpr Values kDefaults = {"1:0;", 2097152, "", 19661100, "", kDefaultMessage};

struct Variant {
    const char* name;
    const char* dataFile;  // nullptr: the package's; "": none
    std::string dataBytes;
    std::string script;  // empty: the package's settings.js
    const char* fault;   // a platform function that fails at every call, or nullptr
    Values values;
};

std::string Utf16Bytes(const std::string& utf8) {
    std::basic_string<WCHAR> text = conformance::Wide(utf8.c_str());
    return std::string(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(WCHAR));
}

struct Stored {
    DWORD rc = 0, type = 0, needed = 0;
    std::string bytes;  // what the zero-filled buffer holds after the call, up to needed
};

Stored Read(HANDLE printer, const char* name) {
    std::basic_string<WCHAR> wide = conformance::Wide(name);
    std::vector<BYTE> buffer(256 * 1024, 0);
    Stored s;
    s.rc = GetPrinterDataW(printer, wide.data(), &s.type, buffer.data(),
                           static_cast<DWORD>(buffer.size()), &s.needed);
    if (s.rc == ERROR_SUCCESS && s.needed <= buffer.size()) {
        s.bytes.assign(reinterpret_cast<const char*>(buffer.data()), s.needed);
    }
    return s;
}

std::vector<std::string> Names() {
    std::vector<std::string> names;
    conformance::PrinterValueNames(&names);
    return names;
}

// The six in the order of writing, which winsim keeps; Wine's registry
// sorts the names.
std::vector<std::string> ExpectedNames(bool onWine) {
    std::vector<std::string> names(std::begin(kValueNames), std::end(kValueNames));
    if (onWine) std::sort(names.begin(), names.end());
    return names;
}

bool RemoveEveryValue() {
    std::vector<std::string> names;
    bool ok = conformance::PrinterValueNames(&names);
    for (const std::string& name : names) {
        ok = conformance::RemovePrinterValue(conformance::Wide(name.c_str()).c_str()) && ok;
    }
    return ok;
}

struct Opened {
    HANDLE handle = nullptr;
    Opened() { OpenPrinterW(const_cast<LPWSTR>(conformance::kPrinter), &handle, nullptr); }
    ~Opened() {
        if (handle != nullptr) ClosePrinter(handle);
    }
};

const conformance::Where kText = conformance::WineDiffers(
    "Wine's spooler writes the registry from the caller's process with the caller's buffer, "
    "where RegSetValueExW (Windows' as well) counts the zero that follows the counted text: "
    "GetPrinterDataW answers two bytes more, both zero, for a string that is not empty. "
    "Windows' spooler is handed the counted bytes only and stores them as they are");

bool IsNumber(int index) { return index == 1 || index == 3; }

// The UTF-16 bytes of a string value.
std::string TextValue(int index, const Values& v) {
    const char* text = index == 0   ? v.settings
                       : index == 2 ? v.monitor
                       : index == 4 ? v.uiConfig
                                    : v.message;
    return Utf16Bytes(text != nullptr ? text : std::string(100000, 's'));
}

// One value as initialisation stored it.
void CheckValue(conformance::Context& ctx, HANDLE printer, int index, const Values& v) {
    Stored s = Read(printer, kValueNames[index]);
    ROW_EQ(s.rc, static_cast<DWORD>(ERROR_SUCCESS));
    if (IsNumber(index)) {
        uint32_t number = index == 1 ? v.maxJpeg : v.resolution;
        ROW_EQ(s.type, static_cast<DWORD>(REG_DWORD));
        ROW_BYTES(s.bytes, std::string(reinterpret_cast<const char*>(&number), 4));
        return;
    }
    std::string expected = TextValue(index, v);
    if (ctx.WineExpectation()) expected.append(2, '\0');
    ROW_EQ(s.type, static_cast<DWORD>(REG_SZ));
    ROW_EQ(s.needed, expected.size());
    ROW_BYTES(s.bytes, expected);
}

}  // namespace

// Each variant's rows read what one initialisation wrote on a printer
// without values; the printer is put back after each variant.
CONFORMANCE_TABLE(PrinterEventValues, "DrvPrinterEvent printer data values") {
    auto event = conformance::Entry<EventFn>("DrvPrinterEvent");
    if (!ctx.Begin("the entry point is exported")) return;
    if (!ROW_CHECK(event != nullptr)) return;
    std::basic_string<WCHAR> printerName = conformance::kPrinter;
    const Variant variants[] = {
        {"the package", nullptr, "", "", nullptr, kPackage},
        {"no data file", "", "", "", nullptr, kDefaults},
        {"Resolution=600;1200;",
         "larkdata.ini",
         "[DeviceConfig]\r\nResolution=600;1200;\r\n",
         "",
         nullptr,
         {"1:0;", 2097152, "", 39322800, "", kDefaultMessage}},
        {"two PrinterSettings lines",
         "larkdata.ini",
         "[DeviceConfig]\r\nPrinterSettings=1000=1;\r\nPrinterSettings=9900=2;\r\n",
         "",
         nullptr,
         {"1000=1;9900=2;", 2097152, "", 19661100, "", kDefaultMessage}},
        {"no [DeviceConfig]",
         "larkdata.ini",
         "[InstallConfig]\r\nStatusMonitor=mon.exe\r\nUIConfigFile=settings.htm\r\n",
         "",
         nullptr,
         {"1:0;", 2097152, "mon.exe", 19661100, "settings.htm", larkcaps::kStatusMessage}},
        {"no [InstallConfig]: no script either",
         "larkdata.ini",
         "[DeviceConfig]\r\nMaxJpegFileSize=1000\r\n",
         "",
         nullptr,
         {"1:0;", 1000, "", 19661100, "", kDefaultMessage}},
        {"empty StatusMonitor and PrinterSettings",
         "larkdata.ini",
         "[DeviceConfig]\r\nPrinterSettings=\r\n\r\n[InstallConfig]\r\nStatusMonitor=\r\n",
         "",
         nullptr,
         {"", 2097152, "", 19661100, "", kDefaultMessage}},
        {"a data file of NUL bytes", "larkdata.ini", std::string(512, '\0'), "", nullptr,
         kDefaults},
        {"a 100 KB line and keys without =",
         "larkdata.ini",
         "[DeviceConfig]\r\nPrinterSettings=" + std::string(100000, 's') +
             "\r\nResolution\r\n\r\n[InstallConfig]\r\nUIConfigFile",
         "",
         nullptr,
         {nullptr, 2097152, "", 19661100, "", kDefaultMessage}},
        {"long names cut to 31",
         "larkdata.ini",
         "[InstallConfig]\r\nStatusMonitor=" + std::string(40, 'm') + "\r\n",
         "",
         nullptr,
         {"1:0;", 2097152, "mmmmmmmmmmmmmmmmmmmmmmmmmmmmmmm", 19661100, "", kDefaultMessage}},
        {"the status message from the script",
         nullptr,
         "",
         "var sz0x0409 = { szPaperSizes : [ \"A\", \"1\", 0 ], szStatusMsg : "
         "\"Paper out.\\nLoad paper.\" };",
         nullptr,
         {larkcaps::kPrinterSettings, larkcaps::kMaxJpegFileSize, larkcaps::kStatusMonitor,
          larkcaps::kResolution, larkcaps::kUiConfigFile, "Paper out.\\nLoad paper."}},
        {"no driver information", nullptr, "", "", "GetPrinterDriverW", kDefaults},
    };
    for (const Variant& v : variants) {
        const conformance::Where where =
            v.fault != nullptr
                ? conformance::WinsimOnly("fails the call by winsim's fault injection")
                : conformance::kBoth;
        bool runs = !(ctx.OnWine() && where.winsimOnly != nullptr);
        BOOL result = FALSE;
        if (runs) {
            bool ready = RemoveEveryValue();
            if (v.dataFile != nullptr && v.dataFile[0] == 0) {
                ready = conformance::RemoveDriverFile("larkdata.ini") && ready;
            } else if (v.dataFile != nullptr) {
                ready = conformance::WriteDriverFile(v.dataFile, v.dataBytes) && ready;
            }
            if (!v.script.empty())
                ready = conformance::WriteDriverFile("settings.js", v.script) && ready;
            if (v.fault != nullptr)
                ready = conformance::FailCall(v.fault, 0, ERROR_GEN_FAILURE) && ready;
            if (!ready) ctx.Fail(std::string(v.name) + ": the printer cannot be set up");
            result = event(printerName.data(), PRINTER_EVENT_INITIALIZE, 0, 0);
        }
        std::string row = std::string(v.name) + ": TRUE, the six values in order and no other";
        if (ctx.Begin(row.c_str(), where)) {
            ROW_EQ(result, TRUE);
            ROW_CHECK(Names() == ExpectedNames(ctx.OnWine()));
        }
        Opened printer;
        for (int i = 0; i < 6; ++i) {
            row = std::string(v.name) + ": " + kValueNames[i];
            bool text = !IsNumber(i) && !TextValue(i, v.values).empty();
            conformance::Where rowWhere = where.winsimOnly == nullptr && text ? kText : where;
            if (!ctx.Begin(row.c_str(), rowWhere)) continue;
            CheckValue(ctx, printer.handle, i, v.values);
        }
        if (runs) conformance::ResetPrinter();
    }
}

CONFORMANCE_TABLE(PrinterEventOthers, "DrvPrinterEvent other events and failures") {
    auto event = conformance::Entry<EventFn>("DrvPrinterEvent");
    if (!ctx.Begin("the entry point is exported")) return;
    if (!ROW_CHECK(event != nullptr)) return;
    std::basic_string<WCHAR> printerName = conformance::kPrinter;
    struct Other {
        const char* name;
        int event;
    } others[] = {
        {"event 0", 0},
        {"PRINTER_EVENT_ADD_CONNECTION", PRINTER_EVENT_ADD_CONNECTION},
        {"PRINTER_EVENT_DELETE_CONNECTION", PRINTER_EVENT_DELETE_CONNECTION},
        {"PRINTER_EVENT_DELETE", PRINTER_EVENT_DELETE},
        {"PRINTER_EVENT_CACHE_REFRESH", 5},
        {"PRINTER_EVENT_CACHE_DELETE", 6},
        {"PRINTER_EVENT_ATTRIBUTES_CHANGED", 7},
        {"event 100", 100},
        {"event -1", -1},
    };
    // These rows share a printer without values, put back after them.
    if (!RemoveEveryValue()) ctx.Fail("the printer's values cannot be removed");
    for (const Other& o : others) {
        std::string row = std::string(o.name) + ": TRUE, nothing written";
        if (!ctx.Begin(row.c_str())) continue;
        ROW_EQ(event(printerName.data(), o.event, 0, 0), TRUE);
        ROW_CHECK(Names().empty());
    }
    conformance::ResetPrinter();

    if (ctx.Begin("no printer name: TRUE")) {
        ROW_EQ(event(nullptr, PRINTER_EVENT_INITIALIZE, 0, 0), TRUE);
    }
    const conformance::Where faults =
        conformance::WinsimOnly("fails platform calls by winsim's fault injection");
    if (ctx.Begin("the administrator handle does not open: TRUE, nothing written", faults)) {
        RemoveEveryValue();
        // The first handle is the one that finds the data file.
        conformance::FailCall("OpenPrinterW", 2, ERROR_ACCESS_DENIED);
        ROW_EQ(event(printerName.data(), PRINTER_EVENT_INITIALIZE, 0, 0), TRUE);
        ROW_CHECK(Names().empty());
        conformance::ResetPrinter();
    }
    // Which value a failed write loses shows the order of the writes.
    for (int k = 0; k < 6; ++k) {
        std::string row = std::string("SetPrinterDataW of ") + kValueNames[k] +
                          " fails: the values before and after it written";
        if (!ctx.Begin(row.c_str(), faults)) continue;
        RemoveEveryValue();
        conformance::FailCall("SetPrinterDataW", k + 1, ERROR_GEN_FAILURE);
        ROW_EQ(event(printerName.data(), PRINTER_EVENT_INITIALIZE, 0, 0), TRUE);
        std::vector<std::string> expected = ExpectedNames(false);
        expected.erase(expected.begin() + k);
        ROW_CHECK(Names() == expected);
        conformance::ResetPrinter();
    }
    if (ctx.Begin("an exhausted heap: TRUE", faults)) {
        conformance::FailCall("HeapAlloc", 0, ERROR_NOT_ENOUGH_MEMORY);
        ROW_EQ(event(printerName.data(), PRINTER_EVENT_INITIALIZE, 0, 0), TRUE);
        conformance::ResetPrinter();
    }
}
