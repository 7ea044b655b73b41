// Asks the printer's driver for its device capabilities as GDI would, and
// prints the answers for a person: paper names, sizes in millimetres and
// inches, ids.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "larksim.h"

namespace larksim {
namespace {

using CapsFn = DWORD (*)(HANDLE, PWSTR, WORD, PVOID, PDEVMODEW);

struct CapName {
    WORD index;
    const char* name;
};

constexpr CapName kNames[] = {
    {1, "DC_FIELDS"},
    {2, "DC_PAPERS"},
    {3, "DC_PAPERSIZE"},
    {4, "DC_MINEXTENT"},
    {5, "DC_MAXEXTENT"},
    {6, "DC_BINS"},
    {7, "DC_DUPLEX"},
    {8, "DC_SIZE"},
    {9, "DC_EXTRA"},
    {10, "DC_VERSION"},
    {11, "DC_DRIVER"},
    {12, "DC_BINNAMES"},
    {13, "DC_ENUMRESOLUTIONS"},
    {14, "DC_FILEDEPENDENCIES"},
    {15, "DC_TRUETYPE"},
    {16, "DC_PAPERNAMES"},
    {17, "DC_ORIENTATION"},
    {18, "DC_COPIES"},
    {19, "DC_BINADJUST"},
    {20, "DC_EMF_COMPLIANT"},
    {21, "DC_DATATYPE_PRODUCED"},
    {22, "DC_COLLATE"},
    {23, "DC_MANUFACTURER"},
    {24, "DC_MODEL"},
    {25, "DC_PERSONALITY"},
    {26, "DC_PRINTRATE"},
    {27, "DC_PRINTRATEUNIT"},
    {28, "DC_PRINTERMEM"},
    {29, "DC_MEDIAREADY"},
    {30, "DC_STAPLE"},
    {31, "DC_PRINTRATEPPM"},
};

std::string NameOf(WORD index) {
    for (const auto& n : kNames) {
        if (n.index == index) return n.name;
    }
    return "index " + std::to_string(index);
}

bool ParseIndex(const std::string& text, WORD* index) {
    for (const auto& n : kNames) {
        if (text == n.name) {
            *index = n.index;
            return true;
        }
    }
    char* end = nullptr;
    long value = std::strtol(text.c_str(), &end, 0);
    if (end == text.c_str() || *end != 0 || value < 0 || value > 0xFFFF) return false;
    *index = static_cast<WORD>(value);
    return true;
}

std::string Size(LONG width, LONG height) {
    char line[96];
    std::snprintf(line, sizeof line, "%.1f x %.1f mm (%.2f x %.2f in)", width / 10.0, height / 10.0,
                  width / 254.0, height / 254.0);
    return line;
}

void PrintDetails(CapsFn caps, HANDLE printer, PWSTR name, WORD index, DWORD count) {
    if (count == static_cast<DWORD>(-1) || count == 0 || count > 4096) return;
    std::vector<BYTE> buffer(count * 128 + 64);
    caps(printer, name, index, buffer.data(), nullptr);
    for (DWORD i = 0; i < count; ++i) {
        switch (index) {
            case DC_PAPERS:
                std::printf("    paper id %u\n", reinterpret_cast<WORD*>(buffer.data())[i]);
                break;
            case DC_PAPERSIZE: {
                const POINT& p = reinterpret_cast<POINT*>(buffer.data())[i];
                std::printf("    %s\n", Size(p.x, p.y).c_str());
                break;
            }
            case DC_PAPERNAMES:
                std::printf("    \"%s\"\n",
                            Text(reinterpret_cast<WCHAR*>(buffer.data()) + i * 64, 64).c_str());
                break;
            case DC_BINS:
                std::printf("    bin %u\n", reinterpret_cast<WORD*>(buffer.data())[i]);
                break;
            case DC_BINNAMES:
                std::printf("    \"%s\"\n",
                            Text(reinterpret_cast<WCHAR*>(buffer.data()) + i * 24, 24).c_str());
                break;
            case DC_MEDIAREADY:
                std::printf("    \"%s\"\n",
                            Text(reinterpret_cast<WCHAR*>(buffer.data()), 64).c_str());
                break;
            default:
                return;
        }
    }
}

void PrintAnswer(CapsFn caps, HANDLE printer, PWSTR name, WORD index) {
    DWORD answer = caps(printer, name, index, nullptr, nullptr);
    std::string label = NameOf(index);
    if (answer == static_cast<DWORD>(-1)) {
        std::printf("%2u %-20s -1 (not answered)\n", index, label.c_str());
        return;
    }
    if (index == DC_MINEXTENT || index == DC_MAXEXTENT) {
        std::printf(
            "%2u %-20s %s\n", index, label.c_str(),
            Size(static_cast<SHORT>(LOWORD(answer)), static_cast<SHORT>(HIWORD(answer))).c_str());
        return;
    }
    std::printf("%2u %-20s %u (0x%X)\n", index, label.c_str(), answer, answer);
    PrintDetails(caps, printer, name, index, answer);
}

}  // namespace

int Caps(const Args& args) {
    Args pos;
    if (!CheckFlags(args, {}, {}, &pos)) return 2;
    if (pos.empty() || pos.size() > 2) return Usage("usage: caps <printer> [DC_name|index]");
    WORD only = 0;
    if (pos.size() == 2 && !ParseIndex(pos[1], &only)) {
        return Usage("unknown capability '" + pos[1] + "'");
    }
    winsim::PrinterRecord record;
    if (!RequirePrinter(pos[0], &record)) return 1;
    winsim::DriverRecord driver;
    if (!winsim::GetDriver(record.driver, &driver)) return Fail("the printer's driver is missing");
    winsim::DriverModule module = winsim::LoadDriverModule(driver.configFile);
    if (module.library == nullptr) return Fail("cannot load the driver: " + module.error);
    auto caps = reinterpret_cast<CapsFn>(winsim::DriverEntry(module, "DrvDeviceCapabilities"));
    std::u16string name = record.name;
    HANDLE printer = nullptr;
    int rc = 0;
    if (caps == nullptr) {
        rc = Fail("the driver has no DrvDeviceCapabilities");
    } else if (!OpenPrinterW(name.data(), &printer, nullptr)) {
        rc = Fail("cannot open the printer");
    } else {
        if (pos.size() == 2) {
            PrintAnswer(caps, printer, name.data(), only);
        } else {
            for (WORD i = 0; i <= 31; ++i) PrintAnswer(caps, printer, name.data(), i);
        }
        ClosePrinter(printer);
    }
    winsim::UnloadDriverModule(module);
    return rc;
}

}  // namespace larksim
