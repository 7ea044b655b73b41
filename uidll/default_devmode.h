// The driver's default devmode of a printer.
#pragma once

#include "driver_devmode.h"

// Writes every byte of the record (at least 2328 bytes): the defaults, the
// settings string of the driver data file and the paper size of its code.
// printerName may be nullptr.
void BuildDefaultDevmode(DriverDevmode* record, const WCHAR* printerName);
// The paper code that a settings string selects (its key 1000 value).
int32_t SettingsPaperCode(const WCHAR* settings);
