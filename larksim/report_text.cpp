// larksim report: the texts of the records, safe for HTML, and the names
// of their numbers.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "driver_devmode.h"
#include "report.h"

namespace larksim::report {
namespace {

// The length of the UTF-8 sequence at text[i], 0 when it is not one
// (overlong forms, surrogates and values past U+10FFFF included).
size_t SequenceLength(const std::string& text, size_t i) {
    auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
    unsigned char c = byte(i);
    if (c < 0x80) return 1;
    size_t n = (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 0;
    if (n == 0 || i + n > text.size()) return 0;
    uint32_t point = c & (0x7F >> n);
    for (size_t k = 1; k < n; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) return 0;
        point = (point << 6) | (byte(i + k) & 0x3F);
    }
    static const uint32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
    if (point < kLeast[n] || point > 0x10FFFF || (point >= 0xD800 && point < 0xE000)) return 0;
    return n;
}

}  // namespace

std::string Escape(const std::string& text, bool keepLines) {
    std::string out;
    out.reserve(text.size());
    char hex[8];
    for (size_t i = 0; i < text.size();) {
        size_t n = SequenceLength(text, i);
        if (n == 0) {
            out += "\xEF\xBF\xBD";
            ++i;
            continue;
        }
        if (n > 1) {
            out.append(text, i, n);
            i += n;
            continue;
        }
        char c = text[i++];
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&#39;";
                break;
            case '\r':
                if (!keepLines) {
                    out += "\\r";
                } else if (i >= text.size() || text[i] != '\n') {
                    out += '\n';
                }
                break;
            case '\n':
                out += keepLines ? "\n" : "\\n";
                break;
            default:
                if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
                    std::snprintf(hex, sizeof hex, "\\x%02x", static_cast<unsigned char>(c));
                    out += hex;
                } else {
                    out += c;
                }
        }
    }
    return out;
}

std::string Escape(const std::u16string& text, bool keepLines) {
    return Escape(winsim::ToUtf8(text), keepLines);
}

std::string Elapsed(int64_t micros) {
    char text[40];
    if (micros < 0) return "-" + Elapsed(-micros);
    if (micros < 1000000) {
        std::snprintf(text, sizeof text, "%.1f ms", static_cast<double>(micros) / 1000.0);
    } else {
        std::snprintf(text, sizeof text, "%.3f s", static_cast<double>(micros) / 1e6);
    }
    return text;
}

std::string HeldText(const winsim::Counts& c, long threads) {
    std::string held;
    auto add = [&](long n, const char* what) {
        if (n == 0) return;
        held += (held.empty() ? "" : ", ") + std::to_string(n) + " " + what + (n == 1 ? "" : "s");
    };
    add(c.printerHandles, "printer handle");
    add(c.kernelHandles, "handle");
    add(c.registryKeys, "registry key");
    add(c.deviceInfoLists, "device list");
    add(c.heapBlocks, "heap block");
    add(c.globalBlocks, "global block");
    add(c.localBlocks, "local block");
    add(c.openFiles, "file");
    add(c.bstrs, "string");
    add(c.monikers, "moniker");
    add(threads, "thread");
    return held;
}

// The record is copied into a zeroed one of its own: the bytes come from
// the database, of any length and alignment.
std::vector<std::pair<std::string, std::string>> DevmodeFields(const std::vector<uint8_t>& bytes) {
    std::vector<std::pair<std::string, std::string>> fields;
    if (bytes.size() < sizeof(DEVMODEW)) return fields;
    DriverDevmode d;
    std::memset(&d, 0, sizeof d);
    std::memcpy(&d, bytes.data(), std::min(bytes.size(), sizeof d));
    auto text = [](const WCHAR* units, size_t max) {
        std::u16string s;
        for (size_t i = 0; i < max && units[i] != 0; ++i) s += units[i];
        return winsim::ToUtf8(s);
    };
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%08X", d.dm.dmFields);
    fields = {
        {"device name", "\"" + text(d.dm.dmDeviceName, CCHDEVICENAME) + "\""},
        {"size", std::to_string(d.dm.dmSize) + " + " + std::to_string(d.dm.dmDriverExtra) +
                     " private bytes (" + std::to_string(bytes.size()) + " recorded)"},
        {"fields", hex},
        {"orientation", std::to_string(d.dm.dmOrientation) +
                            (d.dm.dmOrientation == DMORIENT_PORTRAIT    ? " (portrait)"
                             : d.dm.dmOrientation == DMORIENT_LANDSCAPE ? " (landscape)"
                                                                        : "")},
        {"paper size", std::to_string(d.dm.dmPaperSize)},
        {"paper", std::to_string(d.dm.dmPaperWidth) + " x " + std::to_string(d.dm.dmPaperLength) +
                      " (0.1 mm)"},
        {"form", "\"" + text(d.dm.dmFormName, CCHFORMNAME) + "\""},
        {"copies", std::to_string(d.dm.dmCopies)},
    };
    bool whole = bytes.size() >= sizeof(DriverDevmode) && d.dm.dmSize == sizeof(DEVMODEW) &&
                 d.dm.dmDriverExtra >= kPrivateDevmodeSize;
    if (!whole) return fields;
    const DevmodePrivate& p = d.priv;
    bool signed_ = p.Signature1 == PrivateSignature && p.Signature2 == PrivateSignature;
    fields.push_back({"private part", signed_ ? "signed" : "signatures missing"});
    fields.push_back({"printer name", "\"" + text(p.PrinterName, kPrinterNameUnits) + "\""});
    fields.push_back({"settings", "\"" + text(p.Settings, kSettingsUnits) + "\""});
    fields.push_back({"page", std::to_string(p.PaperWidthMm) + " x " +
                                  std::to_string(p.PaperLengthMm) + " mm, " +
                                  std::to_string(p.PageWidthDots) + " x " +
                                  std::to_string(p.PageLengthDots) + " dots at " +
                                  std::to_string(p.XResolution) + " x " +
                                  std::to_string(p.YResolution) + " dpi"});
    fields.push_back({"imageable", std::to_string(p.ImageableLeft) + ", " +
                                       std::to_string(p.ImageableTop) + ", " +
                                       std::to_string(p.ImageableWidthDots) + " x " +
                                       std::to_string(p.ImageableLengthDots) + " dots"});
    return fields;
}

}  // namespace larksim::report
