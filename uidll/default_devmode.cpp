#include "default_devmode.h"

#include <cstring>

#include "data_file.h"
#include "driver_files.h"
#include "paper_table.h"
#include "text.h"

namespace {

void WritePublicDefaults(DEVMODEW* dm) {
    dm->dmFields = kDefaultDevmodeFields;
    dm->dmOrientation = DMORIENT_PORTRAIT;
    dm->dmPaperSize = DMPAPER_USER;
    dm->dmScale = 100;
    dm->dmCopies = 1;
    dm->dmDefaultSource = DMBIN_AUTO;
    dm->dmPrintQuality = DMRES_HIGH;
    dm->dmColor = DMCOLOR_COLOR;
    dm->dmDuplex = DMDUP_SIMPLEX;
    dm->dmYResolution = 0;
    dm->dmTTOption = DMTT_SUBDEV;
    dm->dmCollate = DMCOLLATE_FALSE;
    TextCopy(dm->dmFormName, CCHFORMNAME, TEXT("Automatic"));
    dm->dmICMMethod = DMICMMETHOD_NONE;
    dm->dmICMIntent = DMICM_COLORIMETRIC;
    dm->dmMediaType = DMMEDIA_USER;
    dm->dmDitherType = DMDITHER_NONE;
}

// The data file's PrinterSettings into the settings field, when the printer's
// driver has a data file that loads.
void ReadSettingsFromDataFile(HANDLE printer, WCHAR* settings) {
    WCHAR dataFile[kPathUnits];
    if (!QueryDriverFiles(printer, nullptr, dataFile, nullptr, nullptr)) return;
    HeapBlock<WCHAR> text;
    if (!LoadUtf8TextPath(dataFile, &text)) return;
    ReadPrinterSettings(text.get(), settings);
}

}  // namespace

// The paper code of the settings string: the integer after its first "=",
// every character below "0" skipped (a minus sign too). Without an "=" the
// code is 0.
int32_t SettingsPaperCode(const WCHAR* settings) {
    const WCHAR* equals = TextFindChar(settings, '=');
    if (equals == nullptr) return 0;
    const WCHAR* p = equals + 1;
    while (*p != 0 && *p < '0') ++p;
    int32_t code = 0;
    ScanInt(p, &code, nullptr);
    return code;
}

void BuildDefaultDevmode(DriverDevmode* record, const WCHAR* printerName) {
    std::memset(record, 0, kDriverDevmodeSize);
    DEVMODEW* dm = &record->dm;
    dm->dmSpecVersion = kDevmodeSpecVersion;
    dm->dmDriverVersion = kDriverVersion;
    dm->dmSize = kPublicDevmodeSize;
    dm->dmDriverExtra = kPrivateDevmodeSize;
    if (printerName != nullptr) {
        TextCopyCount(dm->dmDeviceName, printerName, CCHDEVICENAME - 1);
        TextCopyCount(record->priv.PrinterName, printerName, kPrinterNameUnits - 1);
    }
    WritePublicDefaults(dm);
    WCHAR* settings = record->priv.Settings;
    TextCopy(settings, kSettingsUnits, TEXT("1000=0;"));
    int32_t width = 400;
    int32_t length = 600;
    // Without a name nothing is opened: the spooler would hand out its server
    // handle for a null name.
    ScopedPrinter printer;
    if (printerName != nullptr) {
        printer = OpenPrinterScoped(const_cast<LPWSTR>(printerName), nullptr);
    }
    if (printer) {
        POINT sizes[kMaxPaperRows];
        int32_t codes[kMaxPaperRows];
        int rows = QueryPaperTable(printer.get(), sizes, nullptr, codes);
        ReadSettingsFromDataFile(printer.get(), settings);
        settings[kSettingsUnits - 1] = 0;
        printer.reset();
        int32_t code = SettingsPaperCode(settings);
        for (int i = 0; i < rows; ++i) {
            if (codes[i] != code) continue;
            width = sizes[i].x;
            length = sizes[i].y;
        }
    }
    dm->dmPaperWidth = static_cast<short>(width);
    dm->dmPaperLength = static_cast<short>(length);
    record->priv.Signature1 = PrivateSignature;
    record->priv.Signature2 = PrivateSignature;
}
