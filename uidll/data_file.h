// Readers of the driver data file's whole-file text.
#pragma once

#include <cstdint>

#include "platform.h"
#include "scoped.h"

inline constexpr int32_t kDefaultMaxJpegFileSize = 2097152;
inline constexpr WORD kDefaultResolution = 300;
inline constexpr size_t kFileNameUnits = 32;

// Fills settings (512 units) with the joined PrinterSettings values of the
// [DeviceConfig] section, or "1000=0;" when there are none; at most 511
// characters, always terminated.
void ReadPrinterSettings(const WCHAR* text, WCHAR* settings);

// What printer initialisation takes from the data file; each member keeps
// its start value when its section or key is missing.
struct InstallValues {
    int32_t maxJpegFileSize = kDefaultMaxJpegFileSize;
    WORD xResolution = kDefaultResolution;
    WORD yResolution = kDefaultResolution;
    WCHAR statusMonitor[kFileNameUnits] = {};
    WCHAR uiConfigFile[kFileNameUnits] = {};
    // The joined PrinterSettings values; empty owner when there are none.
    HeapBlock<WCHAR> settings;
};

// Reads the [DeviceConfig] and [InstallConfig] keys of the text. 0 only
// when the heap cannot hold the joined settings.
int ReadInstallValues(const WCHAR* text, InstallValues* values);
