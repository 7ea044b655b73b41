// The monitor's trace: one line per event, appended to a fixed file.
#pragma once

// Appends the message and a line end to the debug log; the line is dropped
// when the log cannot be opened.
void WriteDebugLog(const char* message);
// One line of format (one %d) with value.
void LogNumber(const char* format, int value);
