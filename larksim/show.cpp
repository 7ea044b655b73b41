// Shows a printer as the spooler holds it: its printer data values decoded
// and a summary of its stored default devmode.
#include <cstdio>
#include <cstring>

#include "driver_devmode.h"
#include "larksim.h"

namespace larksim {
namespace {

std::string DecodeValue(const winsim::PrinterDataValue& v) {
    char line[64];
    if (v.type == REG_DWORD && v.data.size() == 4) {
        uint32_t d;
        std::memcpy(&d, v.data.data(), 4);
        std::snprintf(line, sizeof line, "REG_DWORD %u (0x%08X, high %u, low %u)", d, d, d >> 16,
                      d & 0xFFFF);
        return line;
    }
    if (v.type == REG_SZ) {
        std::u16string text(v.data.size() / 2, u'\0');
        std::memcpy(text.data(), v.data.data(), text.size() * 2);
        std::snprintf(line, sizeof line, "REG_SZ, %zu bytes: ", v.data.size());
        return line + ("\"" + Printable(winsim::ToUtf8(text)) + "\"");
    }
    std::snprintf(line, sizeof line, "type %u, %zu bytes", v.type, v.data.size());
    return line;
}

std::string Field(const WCHAR* text, size_t units) {
    std::u16string s;
    for (size_t i = 0; i < units && text[i] != 0; ++i) s += text[i];
    return winsim::ToUtf8(s);
}

void ShowDevmode(const char* what, const std::vector<uint8_t>& bytes) {
    if (bytes.empty()) {
        std::printf("%s: none stored\n", what);
        return;
    }
    DriverDevmode d{};
    std::memcpy(&d, bytes.data(), std::min(bytes.size(), sizeof d));
    const DEVMODEW& dm = d.dm;
    std::printf("%s: %zu bytes\n", what, bytes.size());
    std::printf("  dmDeviceName    \"%s\"\n", Field(dm.dmDeviceName, 32).c_str());
    std::printf("  version         spec 0x%04X, driver 0x%04X, size %u + extra %u\n",
                dm.dmSpecVersion, dm.dmDriverVersion, dm.dmSize, dm.dmDriverExtra);
    std::printf("  dmFields        0x%08X\n", dm.dmFields);
    std::printf("  orientation     %d   paper size %d   paper %d x %d (0.1 mm)\n", dm.dmOrientation,
                dm.dmPaperSize, dm.dmPaperWidth, dm.dmPaperLength);
    std::printf(
        "  copies          %d   scale %d   quality %d   color %d   duplex %d   collate %d\n",
        dm.dmCopies, dm.dmScale, dm.dmPrintQuality, dm.dmColor, dm.dmDuplex, dm.dmCollate);
    std::printf("  form            \"%s\"\n", Field(dm.dmFormName, 32).c_str());
    if (bytes.size() < sizeof d) return;
    bool ours = d.priv.Signature1 == PrivateSignature && d.priv.Signature2 == PrivateSignature;
    std::printf("  signatures      0x%08X 0x%08X%s\n", d.priv.Signature1, d.priv.Signature2,
                ours ? "" : " (not the driver's)");
    std::printf("  PrinterName     \"%s\"\n", Field(d.priv.PrinterName, 260).c_str());
    std::printf("  Settings        \"%s\"\n", Field(d.priv.Settings, 512).c_str());
    std::printf("  page            %d x %d mm, %u x %u dots at %d x %d dpi\n", d.priv.PaperWidthMm,
                d.priv.PaperLengthMm, d.priv.PageWidthDots, d.priv.PageLengthDots,
                d.priv.XResolution, d.priv.YResolution);
}

}  // namespace

int Show(const Args& args) {
    Args pos;
    if (!CheckFlags(args, {}, {}, &pos)) return 2;
    if (pos.size() != 1) return Usage("usage: show <printer>");
    winsim::PrinterRecord printer;
    if (!RequirePrinter(pos[0], &printer)) return 1;
    std::printf(
        "printer \"%s\"\n  port            %s\n  driver          %s\n  jobs            %u\n",
        pos[0].c_str(), winsim::ToUtf8(printer.port).c_str(),
        winsim::ToUtf8(printer.driver).c_str(), printer.jobs);
    auto values = winsim::PrinterData(printer.name);
    std::printf("printer data values: %zu\n", values.size());
    for (const auto& v : values) {
        std::printf("  %-16s %s\n", winsim::ToUtf8(v.name).c_str(), DecodeValue(v).c_str());
    }
    // GetPrinterW level 2 answers the user's own when there is one.
    const std::vector<uint8_t> own = winsim::UserDevmode(printer.name);
    if (!own.empty()) {
        ShowDevmode("default devmode (the user's, from Printing Preferences)", own);
        ShowDevmode("the printer's global default devmode", printer.devmode);
    } else {
        ShowDevmode("default devmode", printer.devmode);
    }
    return 0;
}

}  // namespace larksim
