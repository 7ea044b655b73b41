// Copying a devmode into one of another public size, and the spooler's
// conversion entry point DrvConvertDevMode.
#pragma once

#include "driver_devmode.h"

// Public size and devmode version of a devmode made for Windows NT
// 3.51, which CDM_CONVERT351 produces.
inline constexpr WORD kDevmode351Size = 188;
inline constexpr WORD kDevmode351Version = 0x0320;
inline constexpr DWORD kDriverDevmode351Size = kDevmode351Size + kPrivateDevmodeSize;

// Copies the source into the target, whose dmSize, dmDriverExtra and
// dmDriverVersion the caller has set: the common public part, then the
// common private part. Gives the bytes copied, or -1 for a missing record,
// a record of an unknown public size with dmSpecVersion 0, or a record too
// short to hold its own header (below dmFields).
int ConvertDevmodeVersion(const DEVMODEW* source, DEVMODEW* target);
