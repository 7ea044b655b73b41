// SetupAPI and the USB printing class as the monitor relies on them: the
// interfaces of GUID_DEVINTERFACE_USBPRINT, their registry values and
// device paths, the device file and its IEEE 1284 device ID request. Wine
// has no USB printing class driver, so under Wine the class is empty and
// only its errors can be held; a device's answers are winsim's alone.
#include <string>
#include <vector>

#include "adapter.h"
#include "conformance.h"
#ifndef _WIN32
#include "winsim/control.h"
#endif

namespace {

constexpr DWORD kSentinel = 0xdeadbeef;
// IOCTL_PAR_QUERY_DEVICE_ID, spelled out: the Windows build's lean headers
// leave out the CTL_CODE it is made with.
constexpr DWORD kQueryDeviceId = 0x0016000C;
constexpr const char* kNoDevice =
    "Wine has no USB printing class driver: no interface of the class exists to open";

HDEVINFO UsbPrintInterfaces() {
    return SetupDiGetClassDevsW(&GUID_DEVINTERFACE_USBPRINT, nullptr, nullptr,
                                DIGCF_DEVICEINTERFACE);
}

}  // namespace

CONFORMANCE_COVERS(Rows,
                   "SetupDiGetClassDevsW SetupDiEnumDeviceInterfaces SetupDiDestroyDeviceInfoList "
                   "SetupDiOpenDeviceInterfaceRegKey SetupDiGetDeviceInterfaceDetailW RegCloseKey "
                   "CreateFileW DeviceIoControl",
                   nullptr);
CONFORMANCE_COVERS(WinsimRows, "RegQueryValueExW",
                   "only an interface's own key holds the values, and Wine has no interface of "
                   "the class");

CONFORMANCE_TABLE(UsbPrintClass, "SetupAPI: the USB printing class, empty") {
    if (ctx.Begin("DIGCF_DEVICEINTERFACE: a set; index 0 is ERROR_NO_MORE_ITEMS")) {
        HDEVINFO set = UsbPrintInterfaces();
        if (ROW_CHECK(set != INVALID_HANDLE_VALUE)) {
            SP_DEVICE_INTERFACE_DATA data = {};
            data.cbSize = sizeof data;
            SetLastError(kSentinel);
            ROW_CHECK(
                !SetupDiEnumDeviceInterfaces(set, nullptr, &GUID_DEVINTERFACE_USBPRINT, 0, &data));
            ROW_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_ITEMS));
            ROW_CHECK(SetupDiDestroyDeviceInfoList(set));
        }
    }
    if (ctx.Begin("interface data of the wrong size: refused")) {
        HDEVINFO set = UsbPrintInterfaces();
        SP_DEVICE_INTERFACE_DATA data = {};
        data.cbSize = sizeof data - 4;
        SetLastError(kSentinel);
        ROW_CHECK(
            !SetupDiEnumDeviceInterfaces(set, nullptr, &GUID_DEVINTERFACE_USBPRINT, 0, &data));
        ROW_CHECK(GetLastError() != kSentinel && GetLastError() != ERROR_NO_MORE_ITEMS);
        SetupDiDestroyDeviceInfoList(set);
    }
    if (ctx.Begin(
            "an interface the set does not hold: no key, no detail, ERROR_INVALID_PARAMETER")) {
        HDEVINFO set = UsbPrintInterfaces();
        SP_DEVICE_INTERFACE_DATA data = {};  // no cbSize: never filled by an enumeration
        SetLastError(kSentinel);
        ROW_CHECK(SetupDiOpenDeviceInterfaceRegKey(set, &data, 0, KEY_READ) ==
                  reinterpret_cast<HKEY>(INVALID_HANDLE_VALUE));
        ROW_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
        DWORD needed = 0;
        SetLastError(kSentinel);
        ROW_CHECK(!SetupDiGetDeviceInterfaceDetailW(set, &data, nullptr, 0, &needed, nullptr));
        ROW_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
        SetupDiDestroyDeviceInfoList(set);
    }
    if (ctx.Begin("SetupDiDestroyDeviceInfoList of no set: ERROR_INVALID_HANDLE")) {
        SetLastError(kSentinel);
        ROW_CHECK(!SetupDiDestroyDeviceInfoList(INVALID_HANDLE_VALUE));
        ROW_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    }
    if (ctx.Begin("RegCloseKey of no key: ERROR_INVALID_HANDLE")) {
        ROW_EQ(RegCloseKey(nullptr), static_cast<LSTATUS>(ERROR_INVALID_HANDLE));
    }
    if (ctx.Begin("CreateFileW of a device path no device has: ERROR_FILE_NOT_FOUND")) {
        SetLastError(kSentinel);
        HANDLE device = CreateFileW(
            TEXT("\\\\?\\usb#vid_4c41&pid_524b#larknone#{28d78fad-5a12-11d1-ae5b-0000f803a8c2}"),
            GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        ROW_CHECK(device == INVALID_HANDLE_VALUE);
        ROW_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    }
    if (ctx.Begin("DeviceIoControl of no device: ERROR_INVALID_HANDLE")) {
        char reply[512];
        DWORD got = 7;
        SetLastError(kSentinel);
        ROW_CHECK(!DeviceIoControl(nullptr, kQueryDeviceId, nullptr, 0, reply, sizeof reply, &got,
                                   nullptr));
        ROW_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    }
}

// One scripted printer on USB001; every row here needs it, so none runs
// under Wine.
CONFORMANCE_TABLE(UsbPrintDevice, "SetupAPI: a USB printer's interface and device") {
#ifndef _WIN32
    winsim::UsbDevice printer;
    printer.deviceIds = {"MFG:Lark;S:0300000000000000;", "second"};
    printer.failFrom = 4;
    if (winsim::AddUsbDevice(printer) == 0) {
        ctx.Fail("no USB printer on the machine");
        return;
    }
#endif
    if (ctx.Begin("one interface, then ERROR_NO_MORE_ITEMS; its Base Name and Port Number",
                  conformance::WinsimOnly(kNoDevice))) {
#ifndef _WIN32
        HDEVINFO set = UsbPrintInterfaces();
        SP_DEVICE_INTERFACE_DATA data = {};
        data.cbSize = sizeof data;
        ROW_CHECK(SetupDiEnumDeviceInterfaces(set, nullptr, &GUID_DEVINTERFACE_USBPRINT, 0, &data));
        SP_DEVICE_INTERFACE_DATA next = {};
        next.cbSize = sizeof next;
        ROW_CHECK(
            !SetupDiEnumDeviceInterfaces(set, nullptr, &GUID_DEVINTERFACE_USBPRINT, 1, &next));
        ROW_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_ITEMS));
        HKEY key = SetupDiOpenDeviceInterfaceRegKey(set, &data, 0, KEY_READ);
        if (ROW_CHECK(key != reinterpret_cast<HKEY>(INVALID_HANDLE_VALUE))) {
            DWORD type = 0, bytes = 0;
            ROW_EQ(RegQueryValueExW(key, u"Base Name", nullptr, &type, nullptr, &bytes),
                   ERROR_SUCCESS);
            ROW_EQ(bytes, 8u);
            WCHAR base[2] = {};
            DWORD small = sizeof base;
            ROW_EQ(RegQueryValueExW(key, u"Base Name", nullptr, &type,
                                    reinterpret_cast<LPBYTE>(base), &small),
                   ERROR_MORE_DATA);
            ROW_EQ(small, 8u);
            WCHAR whole[8] = {};
            bytes = sizeof whole;
            ROW_EQ(RegQueryValueExW(key, u"Base Name", nullptr, &type,
                                    reinterpret_cast<LPBYTE>(whole), &bytes),
                   ERROR_SUCCESS);
            ROW_EQ(type, static_cast<DWORD>(REG_SZ));
            ROW_TEXT(whole, "USB");
            DWORD number = 0;
            bytes = 4;
            ROW_EQ(RegQueryValueExW(key, u"port number", nullptr, &type,
                                    reinterpret_cast<LPBYTE>(&number), &bytes),
                   ERROR_SUCCESS);
            ROW_EQ(number, 1u);
            ROW_EQ(type, static_cast<DWORD>(REG_DWORD));
            ROW_EQ(RegQueryValueExW(key, u"No Such Value", nullptr, &type, nullptr, &bytes),
                   ERROR_FILE_NOT_FOUND);
            ROW_EQ(RegCloseKey(key), ERROR_SUCCESS);
            ROW_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE);
        }
        SetupDiDestroyDeviceInfoList(set);
#endif
    }
    if (ctx.Begin("its detail: the size without a buffer, then the device path",
                  conformance::WinsimOnly(kNoDevice))) {
#ifndef _WIN32
        HDEVINFO set = UsbPrintInterfaces();
        SP_DEVICE_INTERFACE_DATA data = {};
        data.cbSize = sizeof data;
        SetupDiEnumDeviceInterfaces(set, nullptr, &GUID_DEVINTERFACE_USBPRINT, 0, &data);
        DWORD needed = 0;
        ROW_CHECK(!SetupDiGetDeviceInterfaceDetailW(set, &data, nullptr, 0, &needed, nullptr));
        ROW_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
        std::vector<BYTE> buffer(needed, 0);
        auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(buffer.data());
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
        ROW_CHECK(
            !SetupDiGetDeviceInterfaceDetailW(set, &data, detail, needed - 2, &needed, nullptr));
        ROW_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
        ROW_CHECK(SetupDiGetDeviceInterfaceDetailW(set, &data, detail, needed, &needed, nullptr));
        ROW_TEXT(detail->DevicePath, winsim::UsbDevices()[0].devicePath.c_str());
        SetupDiDestroyDeviceInfoList(set);
#endif
    }
    if (ctx.Begin("its device answers the script poll by poll, then is not connected",
                  conformance::WinsimOnly(kNoDevice))) {
#ifndef _WIN32
        const long handles = winsim::CurrentCounts().kernelHandles;
        HANDLE device = CreateFileW(winsim::UsbDevices()[0].devicePath.c_str(), GENERIC_READ, 0,
                                    nullptr, OPEN_EXISTING, 0, nullptr);
        if (ROW_CHECK(device != INVALID_HANDLE_VALUE)) {
            ROW_EQ(winsim::CurrentCounts().kernelHandles, handles + 1);
            const char* expected[] = {"MFG:Lark;S:0300000000000000;", "second", "second"};
            for (const char* e : expected) {
                char reply[512] = {};
                DWORD got = 0;
                ROW_CHECK(DeviceIoControl(device, kQueryDeviceId, nullptr, 0, reply, sizeof reply,
                                          &got, nullptr));
                ROW_BYTES(std::string(reply), std::string(e));
                ROW_EQ(got, static_cast<DWORD>(std::string(e).size() + 1));
            }
            char reply[512];
            DWORD got = 0;
            SetLastError(kSentinel);
            ROW_CHECK(!DeviceIoControl(device, kQueryDeviceId, nullptr, 0, reply, sizeof reply,
                                       &got, nullptr));
            ROW_EQ(GetLastError(), static_cast<DWORD>(ERROR_DEVICE_NOT_CONNECTED));
            ROW_CHECK(CloseHandle(device));
            SetLastError(kSentinel);
            ROW_CHECK(!CloseHandle(device));
            ROW_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
            SetLastError(kSentinel);
            ROW_CHECK(!DeviceIoControl(device, kQueryDeviceId, nullptr, 0, reply, sizeof reply,
                                       &got, nullptr));
            ROW_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
        }
#endif
    }
    if (ctx.Begin("a device ID longer than the reply buffer fills it without a terminator",
                  conformance::WinsimOnly(kNoDevice))) {
#ifndef _WIN32
        winsim::SetUsbScript(u"USB001", {std::string(600, 'S')}, 0);
        HANDLE device = CreateFileW(winsim::UsbDevices()[0].devicePath.c_str(), GENERIC_READ, 0,
                                    nullptr, OPEN_EXISTING, 0, nullptr);
        char reply[512];
        DWORD got = 0;
        ROW_CHECK(DeviceIoControl(device, kQueryDeviceId, nullptr, 0, reply, sizeof reply, &got,
                                  nullptr));
        ROW_EQ(got, 512u);
        ROW_EQ(reply[511], 'S');
        CloseHandle(device);
#endif
    }
}
