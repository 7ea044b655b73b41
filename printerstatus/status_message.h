// The body of the warning box: the printer data value StatusMessage, or the
// built-in text when the printer has none.
#pragma once

#include "platform.h"
#include "status_message_text.h"

// The built-in text, typed as the texts read from the printer are so that one
// pointer holds either; nothing writes through it.
inline constexpr LPWSTR DefaultStatusMessage = const_cast<LPWSTR>(kDefaultStatusMessage);

// Reads StatusMessage and turns each backslash-n pair into CR LF. Hands
// back a heap block, or DefaultStatusMessage when the value cannot be had.
[[nodiscard]] LPWSTR PrepareStatusMessage(HANDLE printer);
// Frees the text unless it is the built-in one.
void ReleaseStatusMessage(LPWSTR text);
