// The stand-in platform's spooler waits for a driver's threads before it
// unloads the driver, so nothing needs holding here.
#include "module_hold.h"

ModuleHold HoldDriverModule() { return ModuleHold(); }

void ReleaseDriverModule(HMODULE) {}

void ExitThreadReleasingModule(ModuleHold, DWORD) {}
