// The stand-in platform's spooler waits for a driver's threads before it
// unloads the driver, so nothing needs holding here.
#include "module_hold.h"

HMODULE HoldDriverModule() { return nullptr; }

void ReleaseDriverModule(HMODULE) {}

void ExitThreadReleasingModule(HMODULE, DWORD) {}
