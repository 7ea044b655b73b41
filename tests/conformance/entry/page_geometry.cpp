// The page geometry of every device context as CREATEDCPRE and RESETDCPRE
// hand it out: the paper chosen by the application's dmPaperSize from the
// paper table, the orientation, the printer's Resolution value, the dots
// arithmetic, and the rewrite of the settings string's paper item.
#include <string>

#include "print_road.h"

namespace {

using printroad::EventFn;

// A script whose rows have codes beyond the shipped ones, and a paper whose
// sizes are the largest 16 bits hold (258.012 in is 65535 tenths of a mm).
const char kScript[] =
    "var sz0x0409 = {\n"
    "  szPaperSizes : [ \"Twelve\", \"4.0;6.0;0;256;\", 12, \"Minus\", \"5.0;7.0;0;257;\", -7, "
    "\"Huge\", \"258.012;258.012;0;260;\", 0 ],\n"
    "  szStatusMsg : \"x\",\n"
    "};\n";

struct GeometryRow {
    const char* name;
    bool reset;   // RESETDCPRE, else CREATEDCPRE
    bool script;  // kScript in place of the shipped settings.js
    short paperSize, orientation;
    uint32_t resolution;  // 0: no "Resolution" value
    int32_t widthMm, lengthMm;
    uint32_t widthDots, lengthDots;
    int32_t xDpi, yDpi;
    const char* settings;
};

const GeometryRow kGeometry[] = {
    {"no Resolution value: 300 by 300, the remainder of the dots dropped", false, false, 258, 1, 0,
     100, 150, 1181, 1771, 300, 300, "1000=2;"},
    {"4 x 6 in portrait", false, false, 256, 1, 300 << 16 | 300, 101, 152, 1200, 1800, 300, 300,
     "1000=0;"},
    {"4 x 6 in landscape", false, false, 256, 2, 300 << 16 | 300, 152, 101, 1800, 1200, 300, 300,
     "1000=0;"},
    {"RESETDCPRE landscape: the paper's length across, the vertical resolution as X", true, false,
     256, 2, 300 << 16 | 200, 152, 101, 1200, 1200, 200, 300, "1000=0;"},
    {"600 by 300 dpi", false, false, 256, 1, 600 << 16 | 300, 101, 152, 2400, 1800, 600, 300,
     "1000=0;"},
    {"600 by 300 dpi landscape swaps the resolutions", false, false, 256, 2, 600 << 16 | 300, 152,
     101, 1800, 2400, 300, 600, "1000=0;"},
    {"the second row by its paper id", false, false, 257, 1, 300 << 16 | 300, 127, 177, 1500, 2100,
     300, 300, "1000=1;"},
    {"the second row in landscape", false, false, 257, 2, 300 << 16 | 300, 177, 127, 2100, 1500,
     300, 300, "1000=1;"},
    {"an unknown paper id takes the first row", false, false, 999, 1, 300 << 16 | 300, 101, 152,
     1200, 1800, 300, 300, "1000=0;"},
    {"more dots than 16 bits hold: 65535, never a small page", false, true, 260, 1, 0xFFFFFFFF,
     6553, 6553, 65535, 65535, 65535, 65535, "1000=0;"},
    {"the largest page the field holds exactly, the remainder dropped below it", false, true, 260,
     1, 254 << 16 | 253, 6553, 6553, 65535, 65276, 254, 253, "1000=0;"},
};

struct RewriteRow {
    const char* name;
    bool script;
    short paperSize;
    std::basic_string<WCHAR> before, after;
};

std::basic_string<WCHAR> Text(const char* utf8) { return conformance::Wide(utf8); }

// The record CREATEDCPRE hands out for an application's devmode; false
// (nothing copied) when the event failed.
bool Build(EventFn event, bool reset, DEVMODEW* application, DriverDevmode* record) {
    if (!reset) return printroad::RecordFor(event, application, record);
    printroad::Printer printer;
    void* out = nullptr;
    if (event(printer.handle, nullptr, DOCUMENTEVENT_RESETDCPRE, sizeof application, &application,
              sizeof out, &out) != DOCUMENTEVENT_SUCCESS ||
        out == nullptr) {
        return false;
    }
    std::memcpy(record, out, sizeof *record);
    return event(printer.handle, nullptr, DOCUMENTEVENT_RESETDCPOST, sizeof out, &out, 0,
                 nullptr) == DOCUMENTEVENT_SUCCESS;
}

}  // namespace

CONFORMANCE_TABLE(PageGeometry, "DrvDocumentEvent page geometry and the paper item") {
    auto event = conformance::Entry<EventFn>("DrvDocumentEvent");
    if (!ctx.Begin("the entry point is exported")) return;
    if (!ROW_CHECK(event != nullptr)) return;

    for (const GeometryRow& row : kGeometry) {
        if (!ctx.Begin(row.name)) continue;
        if (row.resolution == 0) {
            ROW_CHECK(conformance::RemovePrinterValue(TEXT("Resolution")));
        } else {
            ROW_CHECK(printroad::SetResolution(row.resolution));
        }
        if (row.script) ROW_CHECK(conformance::WriteDriverFile("settings.js", kScript));
        // A public record only: the settings string is the stored one.
        DEVMODEW application = {};
        application.dmSize = sizeof application;
        application.dmSpecVersion = kDevmodeSpecVersion;
        application.dmFields = DM_PAPERSIZE | DM_ORIENTATION;
        application.dmPaperSize = row.paperSize;
        application.dmOrientation = row.orientation;
        DriverDevmode r;
        if (ROW_CHECK(Build(event, row.reset, &application, &r))) {
            const DevmodePrivate& p = r.priv;
            ROW_EQ(p.PaperWidthMm, row.widthMm);
            ROW_EQ(p.PaperLengthMm, row.lengthMm);
            ROW_EQ(p.PageWidthDots, row.widthDots);
            ROW_EQ(p.PageLengthDots, row.lengthDots);
            ROW_EQ(p.ImageableWidthDots, row.widthDots);
            ROW_EQ(p.ImageableLengthDots, row.lengthDots);
            ROW_EQ(p.ImageableLeft, 0u);
            ROW_EQ(p.ImageableTop, 0u);
            ROW_EQ(p.XResolution, row.xDpi);
            ROW_EQ(p.YResolution, row.yDpi);
            ROW_TEXT(p.Settings, row.settings);
        }
        ROW_CHECK(conformance::ResetPrinter());
    }

    const std::basic_string<WCHAR> tail(504, 'x');  // with "1000=0;", all 511 units
    const RewriteRow rewrites[] = {
        {"the default item gets the chosen paper's code", false, 258, Text("1000=0;"),
         Text("1000=2;")},
        {"another first key is replaced, the rest kept", false, 257, Text("2000=5;9900=1;"),
         Text("1000=1;9900=1;")},
        {"a ';' at position 15 is still found", false, 259, Text("1000=0123456789;a"),
         Text("1000=3;a")},
        {"a ';' at position 16 is not looked for", false, 259, Text("1000=01234567890;a"),
         Text("1000=01234567890;a")},
        {"a ';' at position 20: unchanged, the geometry still written", false, 259,
         Text("1000=012345678901234;"), Text("1000=012345678901234;")},
        {"no ';': unchanged", false, 259, Text("1000=0"), Text("1000=0")},
        {"an empty string stays empty", false, 259, Text(""), Text("")},
        {"a negative paper code", true, 257, Text("1000=0;"), Text("1000=-7;")},
        {"a longer code: the tail cut at 511 units", true, 256, Text("1000=0;") + tail,
         (Text("1000=12;") + tail).substr(0, 511)},
    };
    for (const RewriteRow& row : rewrites) {
        if (!ctx.Begin(row.name)) continue;
        if (row.script) ROW_CHECK(conformance::WriteDriverFile("settings.js", kScript));
        // The driver's own record brings its settings string along.
        DriverDevmode application = printroad::OtherPrinterRecord();
        std::memset(application.priv.Settings, 0, sizeof application.priv.Settings);
        std::memcpy(application.priv.Settings, row.before.data(),
                    row.before.size() * sizeof(WCHAR));
        application.dm.dmFields = DM_PAPERSIZE;
        application.dm.dmPaperSize = row.paperSize;
        DriverDevmode r;
        if (ROW_CHECK(printroad::RecordFor(event, &application.dm, &r))) {
            ROW_TEXT(r.priv.Settings, row.after.c_str());
            ROW_EQ(r.priv.Settings[kSettingsUnits - 1], 0);
            if (row.paperSize == 259) {
                ROW_EQ(r.priv.PageWidthDots, 1050u);  // 3.5 x 5 in at 300 dpi
                ROW_EQ(r.priv.PageLengthDots, 1500u);
            }
        }
        ROW_CHECK(conformance::ResetPrinter());
    }
}
