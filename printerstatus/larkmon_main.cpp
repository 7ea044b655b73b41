// The status monitor's entry.
#include "platform.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) { ExitProcess(0); }
