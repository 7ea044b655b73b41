// DrvPrinterEvent: at initialisation the driver's configuration goes into the
// printer data values, from where the document events and the monitor take
// it. Every other event needs nothing.
#include "data_file.h"
#include "driver_files.h"
#include "paper_table.h"
#include "status_message_text.h"
#include "text.h"

namespace {

void ReadDataFile(const WCHAR* printerName, InstallValues* values) {
    WCHAR dataFile[kPathUnits];
    if (!QueryDriverFiles(nullptr, printerName, dataFile, nullptr, nullptr)) return;
    HeapBlock<WCHAR> text;
    if (!LoadUtf8TextPath(dataFile, &text)) return;
    ReadInstallValues(text.get(), values);
}

// The spooler stores strings without their terminator; readers zero-fill.
void SetText(HANDLE printer, const WCHAR* name, const WCHAR* text) {
    DWORD bytes = static_cast<DWORD>(TextLength(text) * sizeof(WCHAR));
    SetPrinterDataW(printer, const_cast<LPWSTR>(name), REG_SZ,
                    reinterpret_cast<LPBYTE>(const_cast<WCHAR*>(text)), bytes);
}

void SetNumber(HANDLE printer, const WCHAR* name, DWORD number) {
    SetPrinterDataW(printer, const_cast<LPWSTR>(name), REG_DWORD, reinterpret_cast<LPBYTE>(&number),
                    sizeof number);
}

void InitializePrinter(LPWSTR printerName) {
    InstallValues values;
    ReadDataFile(printerName, &values);
    WCHAR message[kStatusMessageUnits];
    TextCopy(message, kStatusMessageUnits, kDefaultStatusMessage);
    PRINTER_DEFAULTSW admin = {nullptr, nullptr, PRINTER_ACCESS_ADMINISTER};
    ScopedPrinter printer = OpenPrinterScoped(printerName, &admin);
    if (!printer) return;
    ReadStatusMessage(printer.get(), message);
    HANDLE h = printer.get();
    SetText(h, TEXT("PrinterSettings"), values.settings ? values.settings.get() : TEXT("1:0;"));
    SetNumber(h, TEXT("MaxJpegFileSize"), static_cast<DWORD>(values.maxJpegFileSize));
    SetText(h, TEXT("StatusMonitor"), values.statusMonitor);
    SetNumber(h, TEXT("Resolution"),
              (static_cast<DWORD>(values.xResolution) << 16) | values.yResolution);
    SetText(h, TEXT("UIConfigFile"), values.uiConfigFile);
    SetText(h, TEXT("StatusMessage"), message);
}

}  // namespace

extern "C" BOOL WINAPI DrvPrinterEvent(LPWSTR printerName, INT event, DWORD, LPARAM) {
    if (event == PRINTER_EVENT_INITIALIZE && printerName != nullptr) InitializePrinter(printerName);
    return TRUE;
}
