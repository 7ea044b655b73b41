// Merging a devmode from an application or the spooler into the driver's
// record. Such devmodes are untrusted: no field is read beyond the size the
// record's own header claims (dmSize for the public part, dmSize plus
// dmDriverExtra for the whole record).
#pragma once

#include "driver_devmode.h"

// The record carries the driver's own private extension: dmDriverVersion
// 0x4021, dmDriverExtra at least 2108 and both signature words at offsets
// 220 and 224. The signatures are read only when the header's sizes cover
// the whole extension.
bool IsDriverPrivatePart(const DEVMODEW* source);

// Merges the source's public fields by the driver's flag rules, copies its
// private extension when it is the driver's own and then refreshes
// PrinterName from the printer. The source's dmPrintQuality is corrected in
// place when out of range. Always 1.
int MergeDevmode(DriverDevmode* target, DEVMODEW* source, HANDLE printer);

// Makes the record name the printer of the handle (PRINTER_INFO_2
// pPrinterName, cut to the field). False, the name left, when it cannot be
// had.
bool RefreshPrinterName(DriverDevmode* target, HANDLE printer);
