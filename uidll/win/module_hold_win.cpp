#include "module_hold.h"

HMODULE HoldDriverModule() {
    HMODULE self = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                            reinterpret_cast<LPCWSTR>(&HoldDriverModule), &self)) {
        return nullptr;
    }
    return self;
}

void ReleaseDriverModule(HMODULE held) {
    if (held != nullptr) FreeLibrary(held);
}

void ExitThreadReleasingModule(HMODULE held, DWORD exitCode) {
    if (held != nullptr) FreeLibraryAndExitThread(held, exitCode);
}
