#include "page_geometry.h"

#include <utility>

#include "paper_table.h"
#include "text.h"

namespace {

struct Geometry {
    uint16_t width = 1016;  // tenths of a millimetre
    uint16_t length = 1524;
    uint16_t xDpi = 300;
    uint16_t yDpi = 300;
};

// A printer without a 4-byte "Resolution" value prints at the built-in 300
// by 300 dots per inch.
void ReadResolution(HANDLE printer, Geometry* g) {
    WCHAR name[] = TEXT("Resolution");
    uint32_t value = 0;
    DWORD needed = 0;
    DWORD result =
        GetPrinterDataW(printer, name, nullptr, reinterpret_cast<LPBYTE>(&value), 4, &needed);
    if (result != ERROR_SUCCESS || needed != 4) return;
    g->xDpi = static_cast<uint16_t>(value >> 16);
    g->yDpi = static_cast<uint16_t>(value & 0xFFFF);
}

void SelectPaper(HANDLE printer, DriverDevmode* record, Geometry* g) {
    POINT sizes[kMaxPaperRows] = {};
    WORD ids[kMaxPaperRows] = {};
    int32_t codes[kMaxPaperRows] = {};
    int rows = QueryPaperTable(printer, sizes, ids, codes);
    if (rows < 1) return;
    if (rows > static_cast<int>(kMaxPaperRows)) rows = kMaxPaperRows;
    int selected = 0;
    for (int i = 0; i < rows; ++i) {
        if (static_cast<short>(ids[i]) == record->dm.dmPaperSize) {
            selected = i;
            break;
        }
    }
    RewritePaperItem(record->priv.Settings, codes[selected]);
    g->width = static_cast<uint16_t>(sizes[selected].x);
    g->length = static_cast<uint16_t>(sizes[selected].y);
}

void WriteGeometry(DevmodePrivate* p, const Geometry& g) {
    p->ImageableLeft = 0;
    p->ImageableTop = 0;
    p->XResolution = g.xDpi;
    p->YResolution = g.yDpi;
    p->PaperWidthMm = g.width / 10;
    p->PaperLengthMm = g.length / 10;
    p->PageWidthDots = p->ImageableWidthDots = DotsOf(g.width, g.xDpi);
    p->PageLengthDots = p->ImageableLengthDots = DotsOf(g.length, g.yDpi);
}

}  // namespace

uint32_t DotsOf(uint16_t tenthsMm, uint16_t dotsPerInch) {
    // Both factors are 16-bit, so the product fits 32 unsigned bits. A page
    // of more dots than the 16-bit field range is reported as the largest
    // it holds: cutting it to its low bits would report a small page.
    const uint32_t dots = static_cast<uint32_t>(tenthsMm) * dotsPerInch / 254;
    return dots > 0xFFFF ? 0xFFFF : dots;
}

void RewritePaperItem(WCHAR* settings, int32_t paperCode) {
    settings[kSettingsUnits - 1] = 0;
    size_t semicolon = 16;
    for (size_t i = 0; i < 16 && settings[i] != 0; ++i) {
        if (settings[i] == ';') {
            semicolon = i;
            break;
        }
    }
    if (semicolon == 16) return;
    WCHAR rest[kSettingsUnits];
    TextCopy(rest, kSettingsUnits, settings + semicolon);
    TextFormat(settings, kSettingsUnits, TEXT("1000=%d%s"), paperCode, rest);
    settings[kSettingsUnits - 1] = 0;
}

bool FindPaperOfId(HANDLE printer, short paperSize, POINT* size, int32_t* code) {
    POINT sizes[kMaxPaperRows] = {};
    WORD ids[kMaxPaperRows] = {};
    int32_t codes[kMaxPaperRows] = {};
    int rows = QueryPaperTable(printer, sizes, ids, codes);
    if (rows > static_cast<int>(kMaxPaperRows)) rows = kMaxPaperRows;
    for (int i = 0; i < rows; ++i) {
        if (static_cast<short>(ids[i]) != paperSize) continue;
        *size = sizes[i];
        *code = codes[i];
        return true;
    }
    return false;
}

int ApplyPageGeometry(HANDLE printer, DriverDevmode* record) {
    Geometry g;
    if (printer != nullptr) {
        ReadResolution(printer, &g);
        SelectPaper(printer, record, &g);
    }
    if (record->dm.dmOrientation == DMORIENT_LANDSCAPE) {
        std::swap(g.width, g.length);
        std::swap(g.xDpi, g.yDpi);
    }
    WriteGeometry(&record->priv, g);
    return 1;
}
