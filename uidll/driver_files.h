// The printer's stored default devmode and its driver's files, as the
// spooler hands them out, and the loader that reads a driver file whole.
#pragma once

#include <cstdio>

#include "driver_devmode.h"
#include "scoped.h"

// Every path buffer holds 255 characters and the terminator.
inline constexpr size_t kPathUnits = 256;

// A new 2328-byte heap copy (HeapAlloc, process heap) of the printer's stored
// default devmode, or an empty owner. The caller frees it (the owner does).
[[nodiscard]] HeapBlock<DriverDevmode> GetPrinterDefaultDevmode(HANDLE printer);
// The same, opening the printer by name (no defaults) and closing it again.
[[nodiscard]] HeapBlock<DriverDevmode> GetPrinterDefaultDevmodeByName(const WCHAR* printerName);

// Owner record of a copy of a printer's stored default devmode. owns is
// nonzero exactly when devmode holds a copy; privatePart points into the
// copy at its dmSize when the whole private part fits there, aligned, and is
// nullptr otherwise.
struct PrinterDefaultDevmode {
    DWORD owns;
    DriverDevmode* devmode;
    DevmodePrivate* privatePart;
};

// A new record (process heap) from a printer handle or a printer name; the
// record exists even when no copy could be had (owns 0). nullptr only when
// the heap cannot hold the record itself.
[[nodiscard]] PrinterDefaultDevmode* CreatePrinterDefaultDevmode(HANDLE printer);
[[nodiscard]] PrinterDefaultDevmode* CreatePrinterDefaultDevmodeByName(const WCHAR* printerName);
// Frees the copy when owned, clears the fields and frees the record.
void ReleasePrinterDefaultDevmode(PrinterDefaultDevmode* record);

namespace scoped {
struct PrinterDefaultDevmodeRelease {
    void operator()(PrinterDefaultDevmode* p) const { ReleasePrinterDefaultDevmode(p); }
};
}  // namespace scoped
using ScopedPrinterDefaultDevmode =
    std::unique_ptr<PrinterDefaultDevmode,
                    scoped::KeepingLastError<scoped::PrinterDefaultDevmodeRelease>>;

// Reads the open file (text mode) whole and decodes it from UTF-8 into a new
// zero-terminated UTF-16 heap text. Always closes the file. 1 on success.
int LoadUtf8TextFile(FILE* file, HeapBlock<WCHAR>* text);
// Opens the path for reading in text mode and loads it; 0 when it does not
// open or cannot be loaded.
int LoadUtf8TextPath(const WCHAR* path, HeapBlock<WCHAR>* text);

// Appends the UIConfigFile value of the open data file's [InstallConfig]
// section (text mode) to path (kPathUnits), which holds the version folder;
// leaves path as it is when there is none or it does not fit. Does not close
// the file.
void ScanUiConfigFile(FILE* file, WCHAR* path);

// Fills each given buffer (kPathUnits each): the driver data file path, the
// help file path, and the UI configuration file path (driver directory,
// version folder, the data file's UIConfigFile value). Uses the handle when
// given, else opens the printer by name and closes it on every path.
// 1 on success; 0 leaves the data and help buffers empty.
int QueryDriverFiles(HANDLE printer, const WCHAR* printerName, WCHAR* dataFile, WCHAR* helpFile,
                     WCHAR* uiConfigPath);
