// The page geometry of a device context's devmode and the paper item of its
// settings string, from the paper table and the printer's resolution.
#pragma once

#include "driver_devmode.h"

// Selects the paper table row of dmPaperSize (the first row when none
// matches), rewrites the first settings item to "1000=<code>" and writes the
// ten geometry fields, orientation applied. Without a printer the geometry is
// that of 4 by 6 inches at 300 by 300 dots per inch and Settings stays.
// Always 1.
int ApplyPageGeometry(HANDLE printer, DriverDevmode* record);

// Page dots of a size in tenths of a millimetre at a resolution: the
// product over 254, the remainder dropped, at most 65535.
uint32_t DotsOf(uint16_t tenthsMm, uint16_t dotsPerInch);

// Replaces the first item of the settings string (up to its ";" among the
// first 16 units) with "1000=<code>"; no ";" there leaves it unchanged.
void RewritePaperItem(WCHAR* settings, int32_t paperCode);

// The paper table row whose paper id is paperSize: its size (x width, y
// height, tenths of a millimetre) and its paper code. False when no row has
// that id; the outputs are then left as they were.
bool FindPaperOfId(HANDLE printer, short paperSize, POINT* size, int32_t* code);
