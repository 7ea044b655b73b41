#include "devmode_merge.h"

#include <cstring>

#include "fault_guard.h"
#include "spooler_query.h"
#include "text.h"

namespace {

// A public field of the source counts only when its record is long enough
// to hold it; a devmode of a shorter public size never lends the bytes
// behind it.
template <typename Field>
bool Inside(const DEVMODEW* source, const Field& field) {
    auto end = reinterpret_cast<const BYTE*>(&field) + sizeof(Field);
    return end - reinterpret_cast<const BYTE*>(source) <= static_cast<ptrdiff_t>(source->dmSize);
}

template <typename Field>
bool Takes(const DEVMODEW* source, DWORD fields, DWORD flag, const Field& field) {
    return (fields & flag) != 0 && Inside(source, field);
}

short CopiesInRange(short copies) {
    if (copies < 1) return 1;
    return copies > 100 ? 100 : copies;
}

void MergePublicFields(DEVMODEW* t, DEVMODEW* s) {
    const DWORD fields = Inside(s, s->dmFields) ? s->dmFields : 0;
    if (Takes(s, fields, DM_MEDIATYPE, s->dmMediaType)) {
        t->dmFields |= DM_MEDIATYPE;
        t->dmMediaType = s->dmMediaType;
    }
    if (Takes(s, fields, DM_PRINTQUALITY, s->dmPrintQuality)) {
        // Only the named qualities DMRES_HIGH to DMRES_DRAFT are meaningful
        // to the device; the caller's record is corrected too.
        if (s->dmPrintQuality < DMRES_HIGH || s->dmPrintQuality >= 0) {
            s->dmPrintQuality = DMRES_MEDIUM;
        }
        t->dmFields |= DM_PRINTQUALITY;
        t->dmPrintQuality = s->dmPrintQuality;
    }
    if (Takes(s, fields, DM_PAPERSIZE, s->dmPaperSize)) {
        t->dmFields = (t->dmFields & ~static_cast<DWORD>(DM_FORMNAME)) | DM_PAPERSIZE;
        t->dmPaperSize = s->dmPaperSize;
    }
    if (Takes(s, fields, DM_PAPERWIDTH, s->dmPaperWidth)) {
        t->dmFields |= DM_PAPERWIDTH;
        t->dmPaperWidth = s->dmPaperWidth;
    }
    if (Takes(s, fields, DM_PAPERLENGTH, s->dmPaperLength)) {
        t->dmFields |= DM_PAPERLENGTH;
        t->dmPaperLength = s->dmPaperLength;
    }
    if (Takes(s, fields, DM_DEFAULTSOURCE, s->dmDefaultSource)) {
        t->dmFields |= DM_DEFAULTSOURCE;
        t->dmDefaultSource = s->dmDefaultSource;
    }
    if (Takes(s, fields, DM_ORIENTATION, s->dmOrientation)) {
        t->dmFields |= DM_ORIENTATION;
        short v = s->dmOrientation;
        if (v == DMORIENT_PORTRAIT || v == DMORIENT_LANDSCAPE) t->dmOrientation = v;
    }
    if ((fields & DM_SCALE) != 0) t->dmScale = 100;
    if (Takes(s, fields, DM_COPIES, s->dmCopies)) {
        t->dmFields |= DM_COPIES;
        t->dmCopies = CopiesInRange(s->dmCopies);
    }
    if (Takes(s, fields, DM_COLOR, s->dmColor)) {
        t->dmFields |= DM_COLOR;
        short v = s->dmColor;
        if (v == 1 || v == 2) t->dmColor = v;
    }
    if (Takes(s, fields, DM_DUPLEX, s->dmDuplex)) {
        t->dmFields |= DM_DUPLEX;
        short v = s->dmDuplex;
        if (v >= 1 && v <= 3) t->dmDuplex = v;
    }
    if (Takes(s, fields, DM_COLLATE, s->dmCollate)) {
        t->dmFields |= DM_COLLATE;
        short v = s->dmCollate;
        if (v == 0 || v == 1) t->dmCollate = v;
    }
    if ((fields & DM_ICMINTENT) != 0) {
        t->dmFields |= DM_ICMINTENT;
        t->dmICMIntent = 3;
    }
    if ((fields & DM_DITHERTYPE) != 0) {
        t->dmFields |= DM_DITHERTYPE;
        t->dmDitherType = 1;
    }
}

}  // namespace

bool IsDriverPrivatePart(const DEVMODEW* source) {
    if (source->dmDriverVersion != kDriverVersion || source->dmDriverExtra < kPrivateDevmodeSize) {
        return false;
    }
    // The extension is read at offset 220 whatever the public size, so the
    // claimed record must reach its end.
    if (static_cast<DWORD>(source->dmSize) + source->dmDriverExtra < kDriverDevmodeSize) {
        return false;
    }
    const auto* words = reinterpret_cast<const BYTE*>(source) + kPublicDevmodeSize;
    uint32_t first = 0;
    uint32_t second = 0;
    CopyCallerBytes(&first, words, 4);
    CopyCallerBytes(&second, words + 4, 4);
    return first == PrivateSignature && second == PrivateSignature;
}

bool RefreshPrinterName(DriverDevmode* target, HANDLE printer) {
    QueriedBlock block = QueryPrinterInfo2(printer);
    if (!block.data) return false;
    auto* info = reinterpret_cast<const PRINTER_INFO_2W*>(block.data.get());
    if (info->pPrinterName == nullptr) return false;
    TextCopy(target->priv.PrinterName, kPrinterNameUnits, info->pPrinterName);
    return true;
}

int MergeDevmode(DriverDevmode* target, DEVMODEW* source, HANDLE printer) {
    if (source == nullptr || source->dmSize != target->dm.dmSize) return 1;
    MergePublicFields(&target->dm, source);
    if (!IsDriverPrivatePart(source)) return 1;
    CopyCallerBytes(&target->priv, reinterpret_cast<const BYTE*>(source) + kPublicDevmodeSize,
                    kPrivateDevmodeSize);
    // The texts came from an application: keep them terminated even when the
    // refresh below cannot replace the name.
    target->priv.Settings[kSettingsUnits - 1] = 0;
    target->priv.PrinterName[kPrinterNameUnits - 1] = 0;
    // The source's PrinterName may name another printer of the same driver;
    // the record now belongs to the printer of the handle.
    RefreshPrinterName(target, printer);
    return 1;
}
