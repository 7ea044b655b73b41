// Decoding the S field of the printer's IEEE 1284 device ID and reporting
// it: the port status for the spooler and, when the printer newly needs the
// user, a warning box.
#pragma once

#include <cstddef>

#include "platform.h"

// Statuses 0-59; a 1 earns the warning box.
extern const BYTE StatusAlertTable[60];

// Decodes count hex digits in pairs into count / 2 bytes (rounded up); a
// character that is not a hex digit counts as 0.
void HexToBytes(BYTE* out, const char* chars, size_t count);

// 0 when no supply is low, else the negative code of the first rule that
// applies. Reads nothing past the text's terminator.
int CheckInkLevels(const char* deviceId);

// The raw status byte at positions 19-20 of the ";S:" field at fieldAt.
int DecodeStatusByte(const char* deviceId, size_t fieldAt);

// Decodes the status at the ";S:" field at fieldAt, sets the port status,
// shows the warning box when needed and returns the raw status byte.
int CheckStatus(const char* deviceId, LPWSTR printerName, LPWSTR portName, size_t fieldAt);

// The body of the warning box, set once at start-up.
void SetStatusMessageText(LPCWSTR text);
// The status reported last (0 at start), for the box-once-per-change rule.
BYTE LastReportedStatus();
void ResetLastReportedStatus();
