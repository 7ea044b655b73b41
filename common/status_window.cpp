#include "status_window.h"

#include "text.h"

void FormatStatusWindowTitle(WCHAR (&title)[kStatusWindowTitleUnits], const WCHAR* printerName) {
    TextFormat(title, kStatusWindowTitleUnits, TEXT("%s - Status"), printerName);
}
