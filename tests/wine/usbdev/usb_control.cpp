#include "usb_control.h"

#include <newdev.h>

#include <cstdio>
#include <cwchar>

namespace larkusb {
namespace {

// GUID_DEVCLASS_USB, the setup class the INF names.
const GUID kUsbClass = {
    0x36fc9e60, 0xc465, 0x11cf, {0x80, 0x56, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
const wchar_t kHardwareId[] = L"ROOT\\LARKUSB\0";  // a multi-string
const wchar_t kEnumKey[] = L"System\\CurrentControlSet\\Enum\\ROOT\\LARKUSB";

std::string Failed(const char* what) {
    char text[160];
    std::snprintf(text, sizeof text, "%s failed, error %lu", what, GetLastError());
    return text;
}

bool SetNumber(HKEY key, const wchar_t* name, DWORD value) {
    return RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                          sizeof value) == ERROR_SUCCESS;
}

// The index of the device an interface belongs to (its instance ID ends in
// the number DICD_GENERATE_ID gave it), or -1.
long DeviceIndexOf(HDEVINFO set, SP_DEVICE_INTERFACE_DATA* data) {
    SP_DEVINFO_DATA device = {};
    device.cbSize = sizeof device;
    DWORD needed = 0;
    SetupDiGetDeviceInterfaceDetailW(set, data, nullptr, 0, &needed, &device);
    wchar_t instance[256] = {};
    if (!SetupDiGetDeviceInstanceIdW(set, &device, instance, 256, nullptr)) return -1;
    const wchar_t* prefix = L"ROOT\\LARKUSB\\";
    if (_wcsnicmp(instance, prefix, std::wcslen(prefix)) != 0) return -1;
    return std::wcstol(instance + std::wcslen(prefix), nullptr, 10);
}

// Counts the class's interfaces of this driver's devices, and the enabled ones.
void CountInterfaces(long* registered, long* enabled) {
    *registered = *enabled = 0;
    HDEVINFO set =
        SetupDiGetClassDevsW(&GUID_DEVINTERFACE_USBPRINT, nullptr, nullptr, DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE) return;
    SP_DEVICE_INTERFACE_DATA data = {};
    data.cbSize = sizeof data;
    for (DWORD i = 0;
         SetupDiEnumDeviceInterfaces(set, nullptr, &GUID_DEVINTERFACE_USBPRINT, i, &data); ++i) {
        if (DeviceIndexOf(set, &data) < 0) continue;
        ++*registered;
        if ((data.Flags & SPINT_ACTIVE) != 0) ++*enabled;
    }
    SetupDiDestroyDeviceInfoList(set);
}

bool WaitForInterfaces(long wantRegistered, long wantEnabled, DWORD ms) {
    const DWORD start = GetTickCount();
    for (;;) {
        long registered = 0, enabled = 0;
        CountInterfaces(&registered, &enabled);
        if (registered >= wantRegistered && enabled >= wantEnabled) return true;
        if (GetTickCount() - start >= ms) return false;
        Sleep(50);
    }
}

}  // namespace

std::vector<Device> FixtureDevices() {
    std::vector<Device> devices(3);
    for (size_t i = 0; i < devices.size(); ++i) devices[i].portNumber = kParked + 1 + i;
    devices[2].present = false;
    return devices;
}

bool Install(const std::wstring& inf, const std::vector<Device>& devices, std::string* why) {
    HDEVINFO set = SetupDiCreateDeviceInfoList(&kUsbClass, nullptr);
    if (set == INVALID_HANDLE_VALUE) {
        *why = Failed("SetupDiCreateDeviceInfoList");
        return false;
    }
    bool ok = true;
    long present = 0;
    for (size_t i = 0; ok && i < devices.size(); ++i) {
        SP_DEVINFO_DATA device = {};
        device.cbSize = sizeof device;
        ok = SetupDiCreateDeviceInfoW(set, L"LARKUSB", &kUsbClass, nullptr, nullptr,
                                      DICD_GENERATE_ID, &device) &&
             SetupDiSetDeviceRegistryPropertyW(set, &device, SPDRP_HARDWAREID,
                                               reinterpret_cast<const BYTE*>(kHardwareId),
                                               sizeof kHardwareId) &&
             SetupDiCallClassInstaller(DIF_REGISTERDEVICE, set, &device);
        if (!ok) {
            *why = Failed("registering a root device");
            break;
        }
        // Read by the driver when the device starts.
        HKEY key =
            SetupDiCreateDevRegKeyW(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, nullptr, nullptr);
        if (key == INVALID_HANDLE_VALUE) {
            *why = Failed("SetupDiCreateDevRegKeyW");
            ok = false;
            break;
        }
        SetNumber(key, L"Absent", devices[i].present ? 0 : 1);
        RegCloseKey(key);
        if (devices[i].present) ++present;
    }
    SetupDiDestroyDeviceInfoList(set);
    if (!ok) return false;

    BOOL reboot = FALSE;
    if (!UpdateDriverForPlugAndPlayDevicesW(nullptr, L"ROOT\\LARKUSB", inf.c_str(),
                                            INSTALLFLAG_FORCE, &reboot)) {
        *why = Failed("UpdateDriverForPlugAndPlayDevicesW");
        return false;
    }
    const long count = static_cast<long>(devices.size());
    if (!WaitForInterfaces(count, present, 10000)) {
        // The driver's service did not start its devices: starting it loads
        // the driver, and Wine then starts the root devices it serves.
        SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
        SC_HANDLE service =
            manager != nullptr ? OpenServiceW(manager, L"larkusb", SERVICE_START) : nullptr;
        if (service != nullptr) StartServiceW(service, 0, nullptr);
        std::printf("larkusb: the devices did not start; the service started by hand\n");
        if (service != nullptr) CloseServiceHandle(service);
        if (manager != nullptr) CloseServiceHandle(manager);
        if (!WaitForInterfaces(count, present, 20000)) {
            long registered = 0, enabled = 0;
            CountInterfaces(&registered, &enabled);
            char text[160];
            std::snprintf(text, sizeof text,
                          "the device interfaces did not come: %ld registered, %ld enabled",
                          registered, enabled);
            *why = text;
            return false;
        }
    }

    for (size_t i = 0; i < devices.size(); ++i) {
        if (!SetInterfaceValues(static_cast<unsigned>(i), devices[i])) {
            *why = Failed("writing an interface's values");
            return false;
        }
    }
    return true;
}

// As the USB port monitor writes them; from user mode, since Wine's
// IoOpenDeviceInterfaceRegistryKey is a stub that ends the driver's host.
bool SetInterfaceValues(unsigned index, const Device& device) {
    HDEVINFO set =
        SetupDiGetClassDevsW(&GUID_DEVINTERFACE_USBPRINT, nullptr, nullptr, DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE) return false;
    SP_DEVICE_INTERFACE_DATA data = {};
    data.cbSize = sizeof data;
    bool done = false;
    for (DWORD i = 0;
         !done && SetupDiEnumDeviceInterfaces(set, nullptr, &GUID_DEVINTERFACE_USBPRINT, i, &data);
         ++i) {
        if (DeviceIndexOf(set, &data) != static_cast<long>(index)) continue;
        HKEY key =
            SetupDiCreateDeviceInterfaceRegKeyW(set, &data, 0, KEY_ALL_ACCESS, nullptr, nullptr);
        if (key == INVALID_HANDLE_VALUE) break;
        done = true;
        if (device.hasBaseName) {
            done = RegSetValueExW(key, L"Base Name", 0, REG_SZ,
                                  reinterpret_cast<const BYTE*>(device.baseName.c_str()),
                                  static_cast<DWORD>((device.baseName.size() + 1) *
                                                     sizeof(wchar_t))) == ERROR_SUCCESS;
        } else {
            RegDeleteValueW(key, L"Base Name");
        }
        if (device.hasPortNumber) {
            done = SetNumber(key, L"Port Number", device.portNumber) && done;
        } else {
            RegDeleteValueW(key, L"Port Number");
        }
        RegCloseKey(key);
    }
    SetupDiDestroyDeviceInfoList(set);
    return done;
}

HKEY OpenDeviceKey(unsigned index) {
    wchar_t path[200];
    std::swprintf(path, 200, L"%ls\\%04u\\Device Parameters", kEnumKey, index);
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_READ | KEY_SET_VALUE, &key) !=
        ERROR_SUCCESS) {
        return nullptr;
    }
    return key;
}

bool SetScript(unsigned index, const std::vector<std::string>& ids, DWORD failFrom) {
    HKEY key = OpenDeviceKey(index);
    if (key == nullptr) return false;
    std::string script;
    bool ok = true;
    for (const std::string& id : ids) {
        if (id.size() > 0xFFFF) ok = false;
        script += static_cast<char>(id.size() & 0xFF);
        script += static_cast<char>((id.size() >> 8) & 0xFF);
        script += id;
    }
    if (ids.empty()) {
        LSTATUS rc = RegDeleteValueW(key, L"Script");
        ok = ok && (rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND);
    } else {
        ok = ok && RegSetValueExW(key, L"Script", 0, REG_BINARY,
                                  reinterpret_cast<const BYTE*>(script.data()),
                                  static_cast<DWORD>(script.size())) == ERROR_SUCCESS;
    }
    ok = SetNumber(key, L"FailFrom", failFrom) && ok;
    RegCloseKey(key);
    return ok;
}

bool RemoveAll(std::string* why) {
    HDEVINFO set = SetupDiGetClassDevsW(&kUsbClass, L"ROOT", nullptr, 0);
    if (set == INVALID_HANDLE_VALUE) {
        *why = Failed("SetupDiGetClassDevsW");
        return false;
    }
    SP_DEVINFO_DATA device = {};
    device.cbSize = sizeof device;
    bool ok = true;
    for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &device); ++i) {
        wchar_t instance[256] = {};
        if (!SetupDiGetDeviceInstanceIdW(set, &device, instance, 256, nullptr)) continue;
        if (_wcsnicmp(instance, L"ROOT\\LARKUSB\\", 13) != 0) continue;
        if (!SetupDiCallClassInstaller(DIF_REMOVE, set, &device)) {
            *why = Failed("DIF_REMOVE");
            ok = false;
        }
    }
    SetupDiDestroyDeviceInfoList(set);
    return ok;
}

}  // namespace larkusb
