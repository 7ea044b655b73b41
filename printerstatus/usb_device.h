// Finding the USB printer device behind a spooler port name.
#pragma once

#include "platform.h"

// Opens the first USB printing interface whose port name (its "Base Name"
// and "Port Number" values, "%s%03d") matches portName ignoring case.
// INVALID_HANDLE_VALUE when there is none or it does not open.
[[nodiscard]] HANDLE OpenUsbPrinterDevice(LPCWSTR portName);
