// DrvDeviceCapabilities: every capability index with and without a buffer
// for each devmode that can be in use, the paper answers from written
// scripts, and the printer named without a handle as Wine's
// DeviceCapabilitiesW names it. Expected answers: caps_expectations.h.
#include <cstring>
#include <string>
#include <vector>

#include "adapter.h"
#include "caps_expectations.h"
#include "conformance.h"

namespace {

using CapsFn = DWORD(WINAPI*)(HANDLE, PWSTR, WORD, PVOID, PDEVMODEW);
using ConvertFn = BOOL(WINAPI*)(LPWSTR, PDEVMODEW, PDEVMODEW, PLONG, DWORD);

constexpr BYTE kFill = 0xEE;
constexpr size_t kBufferBytes = 8192;

struct Opened {
    HANDLE handle = nullptr;
    Opened() { OpenPrinterW(const_cast<LPWSTR>(conformance::kPrinter), &handle, nullptr); }
    ~Opened() {
        if (handle != nullptr) ClosePrinter(handle);
    }
};

// How many bytes a capability writes for the shipped package.
size_t WrittenBytes(larkcaps::Output output) {
    switch (output) {
        case larkcaps::Output::kPaperIds:
            return larkcaps::kPaperCount * sizeof(WORD);
        case larkcaps::Output::kPaperSizes:
            return larkcaps::kPaperCount * sizeof(POINT);
        case larkcaps::Output::kPaperNames:
            return larkcaps::kPaperCount * 64 * sizeof(WCHAR);
        case larkcaps::Output::kBin:
            return sizeof(WORD);
        case larkcaps::Output::kBinName:
            return 24 * sizeof(WCHAR);
        case larkcaps::Output::kMediaReady:
            return (std::strlen(larkcaps::kPapers[0].name) + 1) * sizeof(WCHAR);
        default:
            return 0;
    }
}

bool Untouched(const std::vector<BYTE>& buffer, size_t from) {
    for (size_t i = from; i < buffer.size(); ++i) {
        if (buffer[i] != kFill) return false;
    }
    return true;
}

// What the capability wrote for the shipped package, and nothing past it.
void CheckOutput(conformance::Context& ctx, larkcaps::Output output,
                 const std::vector<BYTE>& buffer) {
    ROW_CHECK(Untouched(buffer, WrittenBytes(output)));
    const auto* words = reinterpret_cast<const WORD*>(buffer.data());
    const auto* points = reinterpret_cast<const POINT*>(buffer.data());
    const auto* text = reinterpret_cast<const WCHAR*>(buffer.data());
    for (int r = 0; r < larkcaps::kPaperCount; ++r) {
        const larkcaps::Paper& p = larkcaps::kPapers[r];
        if (output == larkcaps::Output::kPaperIds) ROW_EQ(words[r], p.id);
        if (output == larkcaps::Output::kPaperSizes) {
            ROW_EQ(points[r].x, p.width);
            ROW_EQ(points[r].y, p.height);
        }
        if (output == larkcaps::Output::kPaperNames) {
            ROW_TEXT(text + r * 64, p.name);
            for (size_t u = std::strlen(p.name); u < 64; ++u) {
                if (!ROW_EQ(text[r * 64 + u], 0)) break;
            }
        }
    }
    if (output == larkcaps::Output::kBin) ROW_EQ(words[0], DMBIN_AUTO);
    if (output == larkcaps::Output::kBinName) {
        ROW_TEXT(text, "Automatic");
        for (size_t u = 9; u < 24; ++u) ROW_EQ(text[u], 0);
    }
    if (output == larkcaps::Output::kMediaReady) ROW_TEXT(text, larkcaps::kPapers[0].name);
}

// The driver's default devmode with the caller's devmode fields.
std::vector<BYTE> CallerDevmode(WORD dmSize) {
    auto convert = conformance::Entry<ConvertFn>("DrvConvertDevMode");
    std::vector<BYTE> devmode(4096, 0);
    LONG size = static_cast<LONG>(devmode.size());
    std::basic_string<WCHAR> name = conformance::kPrinter;
    if (convert == nullptr ||
        !convert(name.data(), nullptr, reinterpret_cast<PDEVMODEW>(devmode.data()), &size,
                 CDM_DRIVER_DEFAULT)) {
        return {};
    }
    auto* dm = reinterpret_cast<DEVMODEW*>(devmode.data());
    dm->dmSize = dmSize;
    dm->dmFields = larkcaps::kCallerDevmode.fields;
    dm->dmSpecVersion = larkcaps::kCallerDevmode.specVersion;
    dm->dmDriverVersion = larkcaps::kCallerDevmode.driverVersion;
    dm->dmDriverExtra = larkcaps::kCallerDevmode.driverExtra;
    return devmode;
}

enum class Expect { kStored, kCaller, kNoneStored };
struct DevmodeCase {
    const char* name;
    WORD callerSize;  // 0: no caller's devmode
    bool storedRemoved;
    Expect expect;
    conformance::Where where;
};

const DevmodeCase kDevmodeCases[] = {
    {"stored devmode", 0, false, Expect::kStored, conformance::kBoth},
    {"caller's devmode", 220, false, Expect::kCaller, conformance::kBoth},
    {"caller's older devmode ignored", 156, false, Expect::kStored, conformance::kBoth},
    {"no stored devmode", 0, true, Expect::kNoneStored,
     conformance::WineDiffers("Wine's GetPrinterW answers a bare DEVMODEW of its own (dmSize 220, "
                              "every other field 0) for a printer without a stored devmode, and "
                              "the driver answers from it")},
    {"no stored devmode, caller's devmode", 220, true, Expect::kCaller, conformance::kBoth},
};

}  // namespace

// The rows of a devmode case run after its set-up (the stored devmode
// taken away) and before the printer is put back.
CONFORMANCE_TABLE(DeviceCapabilitiesIndexes, "DrvDeviceCapabilities indexes") {
    auto caps = conformance::Entry<CapsFn>("DrvDeviceCapabilities");
    if (!ctx.Begin("the entry point is exported")) return;
    if (!ROW_CHECK(caps != nullptr)) return;
    Opened printer;
    for (const DevmodeCase& dc : kDevmodeCases) {
        std::vector<BYTE> caller;
        if (dc.callerSize != 0) {
            caller = CallerDevmode(dc.callerSize);
            if (caller.empty()) ctx.Fail("no default devmode from DrvConvertDevMode");
        }
        if (dc.storedRemoved && !conformance::RemovePrinterDevmode()) {
            ctx.Fail("the stored devmode cannot be taken away");
        }
        auto* dm = caller.empty() ? nullptr : reinterpret_cast<DEVMODEW*>(caller.data());
        for (const larkcaps::Capability& c : larkcaps::kCapabilities) {
            std::string row = std::string(c.name) + ", " + dc.name;
            if (!ctx.Begin(row.c_str(), dc.where)) continue;
            bool nothing = dc.expect == Expect::kNoneStored && !ctx.WineExpectation();
            DWORD expected = dc.expect == Expect::kCaller   ? c.callerResult
                             : dc.expect == Expect::kStored ? c.result
                             : nothing                      ? 0u
                                                            : c.wineOwnResult;
            ROW_EQ(caps(printer.handle, nullptr, c.index, nullptr, dm), expected);
            std::vector<BYTE> buffer(kBufferBytes, kFill);
            ROW_EQ(caps(printer.handle, nullptr, c.index, buffer.data(), dm), expected);
            if (nothing) {
                ROW_CHECK(Untouched(buffer, 0));
            } else {
                CheckOutput(ctx, c.output, buffer);
            }
        }
        if (dc.storedRemoved) conformance::ResetPrinter();
    }
    if (ctx.Begin("the stored devmode cannot be fetched: 0 for every index",
                  conformance::WinsimOnly("fails GetPrinterW by winsim's fault injection"))) {
        for (const larkcaps::Capability& c : larkcaps::kCapabilities) {
            std::vector<BYTE> buffer(kBufferBytes, kFill);
            conformance::FailCall("GetPrinterW", 1, ERROR_GEN_FAILURE);
            ROW_EQ(caps(printer.handle, nullptr, c.index, nullptr, nullptr), 0u);
            conformance::FailCall("GetPrinterW", 1, ERROR_GEN_FAILURE);
            ROW_EQ(caps(printer.handle, nullptr, c.index, buffer.data(), nullptr), 0u);
            ROW_CHECK(Untouched(buffer, 0));
        }
    }
}

CONFORMANCE_TABLE(DeviceCapabilitiesScripts, "DrvDeviceCapabilities paper answers from scripts") {
    auto caps = conformance::Entry<CapsFn>("DrvDeviceCapabilities");
    if (!ctx.Begin("the entry point is exported")) return;
    if (!ROW_CHECK(caps != nullptr)) return;
    Opened printer;
    auto ask = [&](WORD index, void* output = nullptr) {
        return caps(printer.handle, nullptr, index, output, nullptr);
    };
    using larkcaps::Pack;
    struct Extents {
        const char* name;
        std::string rows;
        DWORD minimum, maximum;
    } extents[] = {
        {"extents of one row", "\"A\", \"4.0;6.0;0;1;\", 0", Pack(1016, 1524), Pack(1016, 1524)},
        {"extents of two rows", "\"A\", \"4.0;6.0;0;1;\", 0, \"B\", \"10.0;15.0;1;2;\", 1",
         Pack(1000, 1500), Pack(1016, 1524)},
        {"extents: width and height from different rows",
         "\"A\", \"1.0;50.0;1;1;\", 0, \"B\", \"50.0;1.0;1;2;\", 1", Pack(100, 100),
         Pack(5000, 5000)},
        {"extents: every row wider than 16000", "\"A\", \"170.0;171.0;1;1;\", 0",
         Pack(16000, 16000), Pack(17000, 17100)},
    };
    for (const Extents& e : extents) {
        if (!ctx.Begin(e.name)) continue;
        ROW_CHECK(conformance::WriteDriverFile(
            "settings.js", "var sz0x0409 = { szPaperSizes : [ " + e.rows + " ] };"));
        ROW_EQ(ask(DC_MINEXTENT), e.minimum);
        ROW_EQ(ask(DC_MAXEXTENT), e.maximum);
        conformance::ResetPrinter();
    }
    if (ctx.Begin("no script: the one default row")) {
        ROW_CHECK(conformance::RemoveDriverFile("settings.js"));
        ROW_EQ(ask(DC_MINEXTENT), Pack(1016, 1524));
        ROW_EQ(ask(DC_MAXEXTENT), Pack(1016, 1524));
        WORD ids[4] = {};
        ROW_EQ(ask(DC_PAPERS, ids), 1u);
        ROW_EQ(ids[0], 256);
        POINT sizes[4] = {};
        ROW_EQ(ask(DC_PAPERSIZE, sizes), 1u);
        ROW_EQ(sizes[0].x, 1016);
        ROW_EQ(sizes[0].y, 1524);
        WCHAR names[4][64] = {};
        ROW_EQ(ask(DC_PAPERNAMES, names), 1u);
        ROW_TEXT(names[0], "Automatic");
        WCHAR name[64] = {};
        ROW_EQ(ask(DC_MEDIAREADY, name), 1u);
        ROW_TEXT(name, "Automatic");
        conformance::ResetPrinter();
    }
    if (ctx.Begin("a changed script shows at the next query")) {
        ROW_EQ(ask(DC_PAPERS), 4u);
        ROW_CHECK(conformance::WriteDriverFile(
            "settings.js",
            "var sz0x0409 = { szPaperSizes : [ \"A\", \"1\", 0, \"B\", \"1\", 1 ] };"));
        ROW_EQ(ask(DC_PAPERS), 2u);
        conformance::ResetPrinter();
    }
    if (ctx.Begin("DC_MEDIAREADY on an exhausted heap: the default name",
                  conformance::WinsimOnly("fails HeapAlloc by winsim's fault injection"))) {
        WCHAR name[64] = {};
        // The devmode copy, the spooler's block and the copy's record come
        // first; the fourth block is the names'.
        conformance::FailCall("HeapAlloc", 4, ERROR_NOT_ENOUGH_MEMORY);
        ROW_EQ(ask(DC_MEDIAREADY, name), 1u);
        ROW_TEXT(name, "Automatic");
        conformance::ResetPrinter();
    }
}

// Wine's DeviceCapabilitiesW loads the driver and calls it with no printer
// handle, the printer's name as the device name; the entry point opens the
// printer by it for the call (the runner holds it to closing it again).
CONFORMANCE_TABLE(DeviceCapabilitiesByName, "DrvDeviceCapabilities without a printer handle") {
    auto caps = conformance::Entry<CapsFn>("DrvDeviceCapabilities");
    if (!ctx.Begin("the entry point is exported")) return;
    if (!ROW_CHECK(caps != nullptr)) return;
    std::basic_string<WCHAR> known = conformance::kPrinter, unknown = TEXT("Nobody"), empty;
    struct Row {
        const char* name;
        WCHAR* device;
        DWORD papers;
        DWORD size;
    } rows[] = {
        {"the printer's name", known.data(), larkcaps::kPaperCount, 220},
        {"an unknown name: 0", unknown.data(), 0, 0},
        {"an empty name: 0", empty.data(), 0, 0},
        {"no name: 0", nullptr, 0, 0},
    };
    for (const Row& row : rows) {
        if (!ctx.Begin(row.name)) continue;
        WORD ids[16] = {};
        ROW_EQ(caps(nullptr, row.device, DC_PAPERS, ids, nullptr), row.papers);
        ROW_EQ(caps(nullptr, row.device, DC_SIZE, nullptr, nullptr), row.size);
        if (row.papers != 0) ROW_EQ(ids[1], larkcaps::kPapers[1].id);
    }
    // An application's DeviceCapabilitiesW reaches the entry point through
    // the spooler, which opens the printer by its name.
    for (const larkcaps::Capability& c : larkcaps::kCapabilities) {
        if (c.index != DC_PAPERS && c.index != DC_PAPERSIZE && c.index != DC_PAPERNAMES &&
            c.index != DC_SIZE) {
            continue;
        }
        std::string row = std::string("DeviceCapabilitiesW ") + c.name;
        if (!ctx.Begin(row.c_str())) continue;
        auto ask = [&](void* output) -> DWORD {
            return static_cast<DWORD>(DeviceCapabilitiesW(conformance::kPrinter, TEXT("USB001"),
                                                          c.index, static_cast<LPWSTR>(output),
                                                          nullptr));
        };
        ROW_EQ(ask(nullptr), c.result);
        std::vector<BYTE> buffer(kBufferBytes, kFill);
        ROW_EQ(ask(buffer.data()), c.result);
        CheckOutput(ctx, c.output, buffer);
    }
}
