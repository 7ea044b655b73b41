// The built-in status message: the driver stores it as StatusMessage when the
// UI configuration script has none, and the monitor shows it when the printer
// has no such value.
#pragma once

#include <iterator>

#include "platform.h"

inline constexpr WCHAR kDefaultStatusMessage[] = TEXT(
    "There is a problem with your printer.\r\nCheck your printer screen for more information.");

// StatusMessage holds at most 255 characters.
static_assert(std::size(kDefaultStatusMessage) <= 256);
