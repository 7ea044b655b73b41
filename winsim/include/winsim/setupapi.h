// Device-interface enumeration of the USB printing class.
#pragma once

#include "winreg.h"
#include "wintypes.h"

typedef PVOID HDEVINFO;

typedef struct _SP_DEVICE_INTERFACE_DATA {
    DWORD cbSize;
    GUID InterfaceClassGuid;
    DWORD Flags;
    ULONG_PTR Reserved;
} SP_DEVICE_INTERFACE_DATA, *PSP_DEVICE_INTERFACE_DATA;

typedef struct _SP_DEVICE_INTERFACE_DETAIL_DATA_W {
    DWORD cbSize;
    WCHAR DevicePath[ANYSIZE_ARRAY];
} SP_DEVICE_INTERFACE_DETAIL_DATA_W, *PSP_DEVICE_INTERFACE_DETAIL_DATA_W;

typedef struct _SP_DEVINFO_DATA {
    DWORD cbSize;
    GUID ClassGuid;
    DWORD DevInst;
    ULONG_PTR Reserved;
} SP_DEVINFO_DATA, *PSP_DEVINFO_DATA;

#define DIGCF_PRESENT 0x00000002
#define DIGCF_DEVICEINTERFACE 0x00000010
// SP_DEVICE_INTERFACE_DATA.Flags: the interface is enabled (its device is there).
#define SPINT_ACTIVE 0x00000001

inline constexpr GUID GUID_DEVINTERFACE_USBPRINT = {
    0x28d78fad, 0x5a12, 0x11d1, {0xae, 0x5b, 0x00, 0x00, 0xf8, 0x03, 0xa8, 0xc2}};

// Parallel-port class request for the IEEE 1284 device ID, which the USB
// printing class driver answers too.
#define IOCTL_PAR_QUERY_DEVICE_ID 0x0016000C
#define IOCTL_USBPRINT_GET_1284_ID 0x00220034

WINSIM_API HDEVINFO WINAPI SetupDiGetClassDevsW(const GUID* classGuid, LPCWSTR enumerator,
                                                HWND parent, DWORD flags);
WINSIM_API BOOL WINAPI SetupDiEnumDeviceInterfaces(HDEVINFO set, PSP_DEVINFO_DATA device,
                                                   const GUID* classGuid, DWORD index,
                                                   PSP_DEVICE_INTERFACE_DATA data);
WINSIM_API HKEY WINAPI SetupDiOpenDeviceInterfaceRegKey(HDEVINFO set,
                                                        PSP_DEVICE_INTERFACE_DATA data,
                                                        DWORD reserved, REGSAM access);
WINSIM_API BOOL WINAPI SetupDiGetDeviceInterfaceDetailW(HDEVINFO set,
                                                        PSP_DEVICE_INTERFACE_DATA data,
                                                        PSP_DEVICE_INTERFACE_DETAIL_DATA_W detail,
                                                        DWORD bytes, LPDWORD needed,
                                                        PSP_DEVINFO_DATA device);
WINSIM_API BOOL WINAPI SetupDiDestroyDeviceInfoList(HDEVINFO set);
