// A program's entry on this platform: the runtime's start-up calls WinMain
// with the module instance, as on Windows.
#include "winsim/windows.h"

int main() {
    static char empty[] = "";
    return WinMain(reinterpret_cast<HINSTANCE>(GetModuleHandleW(nullptr)), nullptr, empty,
                   SW_SHOWDEFAULT);
}
