// The closing thread runs the driver's code after the sheet that started it
// is gone, while the host may unload the driver. The thread holds its own
// reference on the driver's module and drops it as it ends.
#pragma once

#include "platform.h"
#include "scoped.h"

// Drops a reference that no thread took.
void ReleaseDriverModule(HMODULE held);

namespace scoped {
struct DriverModuleRelease {
    void operator()(HMODULE held) const { ReleaseDriverModule(held); }
};
}  // namespace scoped

// A reference on the driver's module, dropped unless a thread takes it.
using ModuleHold = std::unique_ptr<std::remove_pointer_t<HMODULE>,
                                   scoped::KeepingLastError<scoped::DriverModuleRelease>>;

// A reference for a thread to hold, or an empty owner when the loader does
// not find the module.
[[nodiscard]] ModuleHold HoldDriverModule();
// Ends the calling thread with the exit code and drops its reference in the
// same step, so no driver code runs after it; returns only when held is
// empty.
void ExitThreadReleasingModule(ModuleHold held, DWORD exitCode);
