// The closing thread runs the driver's code after the sheet that started it
// is gone, while the host may unload the driver. The thread holds its own
// reference on the driver's module and drops it as it ends.
#pragma once

#include "platform.h"

// A reference on the driver's module for a thread to hold, or nullptr where
// the loader keeps the module for its threads anyway.
HMODULE HoldDriverModule();
// Drops a reference that no thread took.
void ReleaseDriverModule(HMODULE held);
// Ends the calling thread with the exit code and drops its reference in the
// same step, so no driver code runs after it; returns only when held is
// nullptr.
void ExitThreadReleasingModule(HMODULE held, DWORD exitCode);
