#include "driver_module.h"

namespace {

// Written once, at the attach, before any entry point can run.
HINSTANCE g_module;

}  // namespace

HINSTANCE DriverModule() { return g_module; }

extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) g_module = module;
    return TRUE;
}
