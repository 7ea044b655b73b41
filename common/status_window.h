// The status window title, "<printer> - Status": the monitor gives its hidden
// window this title and the driver starts no monitor while a window of
// exactly this title exists, so both sides must format it alike.
#pragma once

#include <cstddef>

#include "platform.h"

inline constexpr size_t kStatusWindowTitleUnits = 256;

// Cut to fit and terminated, so a printer name of more than 246 characters
// gives the same cut title on both sides.
void FormatStatusWindowTitle(WCHAR (&title)[kStatusWindowTitleUnits], const WCHAR* printerName);
