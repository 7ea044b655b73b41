// The loader unloads a module at its last FreeLibrary, whatever threads
// still run in it, so a thread of the driver's that may outlive every
// caller's reference takes one of its own.
#include "module_hold.h"

ModuleHold HoldDriverModule() {
    HMODULE self = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                            reinterpret_cast<LPCWSTR>(&HoldDriverModule), &self)) {
        return ModuleHold();
    }
    return ModuleHold(self);
}

void ReleaseDriverModule(HMODULE held) {
    if (held != nullptr) FreeLibrary(held);
}

void ExitThreadReleasingModule(ModuleHold held, DWORD exitCode) {
    if (held) FreeLibraryAndExitThread(held.release(), exitCode);
}
