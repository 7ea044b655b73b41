// Registry values of device-interface keys.
#pragma once

#include "wintypes.h"

#define KEY_READ 0x20019

WINSIM_API LSTATUS WINAPI RegQueryValueExW(HKEY key, LPCWSTR valueName, LPDWORD reserved,
                                           LPDWORD type, LPBYTE data, LPDWORD bytes);
WINSIM_API LSTATUS WINAPI RegCloseKey(HKEY key);
