// SetupAPI and the USB printing class as the monitor relies on them: the
// interfaces of GUID_DEVINTERFACE_USBPRINT, their registry values and
// device paths, the device file and its IEEE 1284 device ID request. Under
// Wine the devices are the fixture's (tests/wine/usbdev): a kernel driver
// that answers the class's requests as they are documented.
#include <cctype>
#include <string>
#include <vector>

#include "adapter.h"
#include "conformance.h"

namespace {

constexpr DWORD kSentinel = 0xdeadbeef;
// IOCTL_PAR_QUERY_DEVICE_ID, spelled out: the Windows build's lean headers
// leave out the CTL_CODE it is made with.
constexpr DWORD kQueryDeviceId = 0x0016000C;
// IOCTL_USBPRINT_GET_1284_ID, spelled out for the same reason.
constexpr DWORD kGet1284Id = 0x00220034;
constexpr const char* kCountKept =
    "Wine's DeviceIoControl leaves *lpBytesReturned as it was when the request fails; it is "
    "documented as zero when the buffer is too small to receive any data";

HDEVINFO UsbPrintInterfaces() {
    return SetupDiGetClassDevsW(&GUID_DEVINTERFACE_USBPRINT, nullptr, nullptr,
                                DIGCF_DEVICEINTERFACE);
}

}  // namespace

CONFORMANCE_TABLE(UsbPrintClass, "SetupAPI: the USB printing class, its errors") {
    if (ctx.Begin("DIGCF_DEVICEINTERFACE: a set; an index past the last is ERROR_NO_MORE_ITEMS")) {
        HDEVINFO set = UsbPrintInterfaces();
        if (ROW_CHECK(set != INVALID_HANDLE_VALUE)) {
            SP_DEVICE_INTERFACE_DATA data = {};
            data.cbSize = sizeof data;
            SetLastError(kSentinel);
            ROW_CHECK(!SetupDiEnumDeviceInterfaces(set, nullptr, &GUID_DEVINTERFACE_USBPRINT, 1000,
                                                   &data));
            ROW_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_ITEMS));
            ROW_CHECK(SetupDiDestroyDeviceInfoList(set));
        }
    }
    if (ctx.Begin("interface data of the wrong size: refused, ERROR_INVALID_USER_BUFFER",
                  conformance::WineDiffers("Wine 8's SetupDiEnumDeviceInterfaces refuses a "
                                           "record of the wrong size with "
                                           "ERROR_INVALID_PARAMETER"))) {
        HDEVINFO set = UsbPrintInterfaces();
        SP_DEVICE_INTERFACE_DATA data = {};
        data.cbSize = sizeof data - 4;
        SetLastError(kSentinel);
        ROW_CHECK(
            !SetupDiEnumDeviceInterfaces(set, nullptr, &GUID_DEVINTERFACE_USBPRINT, 0, &data));
        ROW_EQ(GetLastError(), ctx.WineExpectation()
                                   ? static_cast<DWORD>(ERROR_INVALID_PARAMETER)
                                   : static_cast<DWORD>(ERROR_INVALID_USER_BUFFER));
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

namespace {

// The class's interfaces whose port values name one of kUsbPorts, in the
// class's order.
struct Found {
    SP_DEVICE_INTERFACE_DATA data;
    std::basic_string<WCHAR> port;
};

std::vector<Found> OurInterfaces(HDEVINFO set) {
    std::vector<Found> found;
    SP_DEVICE_INTERFACE_DATA data = {};
    data.cbSize = sizeof data;
    for (DWORD i = 0;
         SetupDiEnumDeviceInterfaces(set, nullptr, &GUID_DEVINTERFACE_USBPRINT, i, &data); ++i) {
        HKEY key = SetupDiOpenDeviceInterfaceRegKey(set, &data, 0, KEY_READ);
        if (key == reinterpret_cast<HKEY>(INVALID_HANDLE_VALUE)) continue;
        DWORD number = 0, bytes = sizeof number;
        RegQueryValueExW(key, TEXT("Port Number"), nullptr, nullptr,
                         reinterpret_cast<LPBYTE>(&number), &bytes);
        RegCloseKey(key);
        for (const WCHAR* port : conformance::kUsbPorts) {
            if (conformance::Narrow(port) == "USB00" + std::to_string(number)) {
                found.push_back({data, port});
            }
        }
    }
    return found;
}

// The device path of the interface, empty when there is none.
std::basic_string<WCHAR> DevicePath(HDEVINFO set, SP_DEVICE_INTERFACE_DATA* data) {
    DWORD needed = 0;
    SetupDiGetDeviceInterfaceDetailW(set, data, nullptr, 0, &needed, nullptr);
    if (needed < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)) return {};
    std::vector<BYTE> buffer(needed, 0);
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(buffer.data());
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
    if (!SetupDiGetDeviceInterfaceDetailW(set, data, detail, needed, &needed, nullptr)) return {};
    return detail->DevicePath;
}

std::basic_string<WCHAR> PortDevicePath(const WCHAR* port) {
    HDEVINFO set = UsbPrintInterfaces();
    std::basic_string<WCHAR> path;
    for (Found& f : OurInterfaces(set)) {
        if (f.port == port) path = DevicePath(set, &f.data);
    }
    SetupDiDestroyDeviceInfoList(set);
    return path;
}

HANDLE OpenPort(const WCHAR* port) {
    return CreateFileW(PortDevicePath(port).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0,
                       nullptr);
}

// The handles this process holds, -1 where the platform cannot count them.
long KernelHandles() { return conformance::Held("handles"); }

// One request of the parallel class's device ID with an output buffer of
// `room` bytes: its result, the bytes it wrote and the last error.
struct Answer {
    bool ok = false;
    DWORD got = 0, error = 0;
    std::string bytes;
};
Answer Ask(HANDLE device, DWORD code, DWORD room) {
    std::string buffer(room, '\x5a');
    Answer a;
    a.got = 7;
    SetLastError(kSentinel);
    a.ok = DeviceIoControl(device, code, nullptr, 0, room == 0 ? nullptr : buffer.data(), room,
                           &a.got, nullptr) != FALSE;
    a.error = a.ok ? 0 : GetLastError();
    a.bytes = buffer;
    return a;
}

}  // namespace

// Rows on both platforms by their behaviour, not their errors alone: under
// Wine the fixture's devices answer every request of this table.
CONFORMANCE_COVERS(Rows,
                   "SetupDiGetClassDevsW SetupDiEnumDeviceInterfaces SetupDiDestroyDeviceInfoList "
                   "SetupDiOpenDeviceInterfaceRegKey SetupDiGetDeviceInterfaceDetailW RegCloseKey "
                   "RegQueryValueExW CreateFileW DeviceIoControl",
                   nullptr);

// The machine's USB printers: USB001 and USB002 answering, USB003 unplugged.
CONFORMANCE_TABLE(UsbPrintDevice, "SetupAPI: a USB printer's interface and device") {
    if (!conformance::AttachUsbPrinters()) {
        ctx.Fail("no USB printers on the machine");
        return;
    }
    if (ctx.Begin("every interface, present or not, in order; the unplugged one not active")) {
        HDEVINFO set = UsbPrintInterfaces();
        std::vector<Found> found = OurInterfaces(set);
        if (ROW_EQ(found.size(), 3u)) {
            for (size_t i = 0; i < 3; ++i) {
                ROW_TEXT(found[i].port.c_str(), conformance::kUsbPorts[i]);
                ROW_EQ(found[i].data.Flags & SPINT_ACTIVE, i < 2 ? DWORD{SPINT_ACTIVE} : 0u);
            }
        }
        SetupDiDestroyDeviceInfoList(set);
    }
    if (ctx.Begin("an interface's key: Base Name and Port Number, sizes, a missing value")) {
        HDEVINFO set = UsbPrintInterfaces();
        std::vector<Found> found = OurInterfaces(set);
        HKEY key = found.empty()
                       ? reinterpret_cast<HKEY>(INVALID_HANDLE_VALUE)
                       : SetupDiOpenDeviceInterfaceRegKey(set, &found[0].data, 0, KEY_READ);
        if (ROW_CHECK(key != reinterpret_cast<HKEY>(INVALID_HANDLE_VALUE))) {
            DWORD type = 0, bytes = 0;
            ROW_EQ(RegQueryValueExW(key, TEXT("Base Name"), nullptr, &type, nullptr, &bytes),
                   ERROR_SUCCESS);
            ROW_EQ(bytes, 8u);
            WCHAR base[2] = {};
            DWORD small = sizeof base;
            ROW_EQ(RegQueryValueExW(key, TEXT("Base Name"), nullptr, &type,
                                    reinterpret_cast<LPBYTE>(base), &small),
                   ERROR_MORE_DATA);
            ROW_EQ(small, 8u);
            WCHAR whole[8] = {};
            bytes = sizeof whole;
            ROW_EQ(RegQueryValueExW(key, TEXT("Base Name"), nullptr, &type,
                                    reinterpret_cast<LPBYTE>(whole), &bytes),
                   ERROR_SUCCESS);
            ROW_EQ(type, static_cast<DWORD>(REG_SZ));
            ROW_TEXT(whole, "USB");
            DWORD number = 0;
            bytes = 4;
            ROW_EQ(RegQueryValueExW(key, TEXT("port number"), nullptr, &type,
                                    reinterpret_cast<LPBYTE>(&number), &bytes),
                   ERROR_SUCCESS);
            ROW_EQ(number, 1u);
            ROW_EQ(type, static_cast<DWORD>(REG_DWORD));
            ROW_EQ(RegQueryValueExW(key, TEXT("No Such Value"), nullptr, &type, nullptr, &bytes),
                   ERROR_FILE_NOT_FOUND);
            ROW_EQ(RegCloseKey(key), ERROR_SUCCESS);
            ROW_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE);
        }
        SetupDiDestroyDeviceInfoList(set);
    }
    if (ctx.Begin("its detail: the size without a buffer, one too small, then the device path")) {
        HDEVINFO set = UsbPrintInterfaces();
        std::vector<Found> found = OurInterfaces(set);
        if (ROW_CHECK(!found.empty())) {
            DWORD needed = 0;
            SetLastError(kSentinel);
            ROW_CHECK(!SetupDiGetDeviceInterfaceDetailW(set, &found[0].data, nullptr, 0, &needed,
                                                        nullptr));
            ROW_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
            std::vector<BYTE> buffer(needed + 2, 0);
            auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(buffer.data());
            detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
            SetLastError(kSentinel);
            ROW_CHECK(!SetupDiGetDeviceInterfaceDetailW(set, &found[0].data, detail, needed - 2,
                                                        &needed, nullptr));
            ROW_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
            ROW_CHECK(SetupDiGetDeviceInterfaceDetailW(set, &found[0].data, detail, needed, &needed,
                                                       nullptr));
            // "\\?\" and the class's GUID, whatever the bus names between.
            std::string path = conformance::Narrow(detail->DevicePath);
            for (char& c : path) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            ROW_CHECK(path.rfind("\\\\?\\", 0) == 0);
            const std::string guid = "{28d78fad-5a12-11d1-ae5b-0000f803a8c2}";
            ROW_CHECK(path.size() > guid.size() &&
                      path.compare(path.size() - guid.size(), guid.size(), guid) == 0);
        }
        SetupDiDestroyDeviceInfoList(set);
    }
    if (ctx.Begin("the unplugged printer's interface: its path does not open, "
                  "ERROR_FILE_NOT_FOUND")) {
        std::basic_string<WCHAR> path = PortDevicePath(conformance::kUsbPorts[2]);
        ROW_CHECK(!path.empty());
        SetLastError(kSentinel);
        HANDLE device =
            CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        ROW_CHECK(device == INVALID_HANDLE_VALUE);
        ROW_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    }
    if (ctx.Begin("share mode 0 and a second open: the device has no share check, both open")) {
        HANDLE first = OpenPort(conformance::kUsbPorts[0]);
        HANDLE second = OpenPort(conformance::kUsbPorts[0]);
        ROW_CHECK(first != INVALID_HANDLE_VALUE);
        ROW_CHECK(second != INVALID_HANDLE_VALUE);
        if (first != INVALID_HANDLE_VALUE) CloseHandle(first);
        if (second != INVALID_HANDLE_VALUE) CloseHandle(second);
    }
    if (ctx.Begin("the device answers the script request by request, then is not connected")) {
        ROW_CHECK(conformance::SetUsbScript(conformance::kUsbPorts[0],
                                            {"MFG:Lark;S:0300000000000000;", "second"}, 4));
        const long handles = KernelHandles();
        HANDLE device = OpenPort(conformance::kUsbPorts[0]);
        if (ROW_CHECK(device != INVALID_HANDLE_VALUE)) {
            if (ctx.Counted(handles, "handles")) ROW_EQ(KernelHandles(), handles + 1);
            const char* expected[] = {"MFG:Lark;S:0300000000000000;", "second", "second"};
            for (const char* e : expected) {
                Answer a = Ask(device, kQueryDeviceId, 512);
                ROW_CHECK(a.ok);
                ROW_BYTES(std::string(a.bytes.c_str()), std::string(e));
                ROW_EQ(a.got, static_cast<DWORD>(std::string(e).size() + 1));
            }
            Answer gone = Ask(device, kQueryDeviceId, 512);
            ROW_CHECK(!gone.ok);
            ROW_EQ(gone.error, static_cast<DWORD>(ERROR_DEVICE_NOT_CONNECTED));
            ROW_CHECK(CloseHandle(device));
            SetLastError(kSentinel);
            ROW_CHECK(!CloseHandle(device));
            ROW_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
            Answer closed = Ask(device, kQueryDeviceId, 512);
            ROW_CHECK(!closed.ok);
            ROW_EQ(closed.error, static_cast<DWORD>(ERROR_INVALID_HANDLE));
            if (ctx.Counted(handles, "handles")) ROW_EQ(KernelHandles(), handles);
        }
    }
    if (ctx.Begin("each open handle counts its own requests; the other printer is not touched")) {
        ROW_CHECK(conformance::SetUsbScript(conformance::kUsbPorts[0], {"one", "two"}, 0));
        ROW_CHECK(conformance::SetUsbScript(conformance::kUsbPorts[1], {"other"}, 2));
        HANDLE a = OpenPort(conformance::kUsbPorts[0]);
        HANDLE b = OpenPort(conformance::kUsbPorts[0]);
        HANDLE c = OpenPort(conformance::kUsbPorts[1]);
        ROW_BYTES(std::string(Ask(a, kQueryDeviceId, 512).bytes.c_str()), std::string("one"));
        ROW_BYTES(std::string(Ask(a, kQueryDeviceId, 512).bytes.c_str()), std::string("two"));
        ROW_BYTES(std::string(Ask(b, kQueryDeviceId, 512).bytes.c_str()), std::string("one"));
        ROW_BYTES(std::string(Ask(c, kQueryDeviceId, 512).bytes.c_str()), std::string("other"));
        ROW_CHECK(!Ask(c, kQueryDeviceId, 512).ok);
        for (HANDLE h : {a, b, c}) {
            if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
        }
    }
    // The ID's length against the monitor's 512-byte reply buffer.
    struct LengthRow {
        const char* name;
        size_t length;
        DWORD room;
        bool fits;
        conformance::Where where;
    };
    const LengthRow lengths[] = {
        {"an ID of 600 bytes into 512: refused, ERROR_INSUFFICIENT_BUFFER", 600, 512, false,
         conformance::WineDiffers(kCountKept)},
        {"an ID of 512 bytes into 512 (no room for its terminator): refused", 512, 512, false,
         conformance::WineDiffers(kCountKept)},
        {"an ID of 511 bytes into 512: the ID and its terminator fill the buffer", 511, 512, true,
         conformance::kBoth},
        {"an empty ID: its terminator alone, 1 byte", 0, 512, true, conformance::kBoth},
        {"a buffer of 4 bytes for a 3-byte ID: the ID and its terminator", 3, 4, true,
         conformance::kBoth},
    };
    for (const LengthRow& row : lengths) {
        if (!ctx.Begin(row.name, row.where)) continue;
        const std::string id(row.length, 'S');
        ROW_CHECK(conformance::SetUsbScript(conformance::kUsbPorts[0], {id}, 0));
        HANDLE device = OpenPort(conformance::kUsbPorts[0]);
        Answer a = Ask(device, kQueryDeviceId, row.room);
        if (row.fits) {
            ROW_CHECK(a.ok);
            ROW_EQ(a.got, static_cast<DWORD>(row.length + 1));
            ROW_BYTES(a.bytes.substr(0, row.length + 1), id + std::string(1, '\0'));
        } else {
            ROW_CHECK(!a.ok);
            ROW_EQ(a.error, static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
            ROW_EQ(a.got, ctx.WineExpectation() ? 7u : 0u);
        }
        if (device != INVALID_HANDLE_VALUE) CloseHandle(device);
    }
    if (ctx.Begin("IOCTL_USBPRINT_GET_1284_ID: the two length bytes, big-endian, then the ID")) {
        ROW_CHECK(conformance::SetUsbScript(conformance::kUsbPorts[0], {"MFG:Lark;"}, 0));
        HANDLE device = OpenPort(conformance::kUsbPorts[0]);
        Answer a = Ask(device, kGet1284Id, 512);
        ROW_CHECK(a.ok);
        ROW_EQ(a.got, 12u);
        ROW_BYTES(a.bytes.substr(0, 12), std::string("\0\x0bMFG:Lark;\0", 12));
        Answer small = Ask(device, kGet1284Id, 11);
        ROW_CHECK(!small.ok);
        ROW_EQ(small.error, static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
        if (device != INVALID_HANDLE_VALUE) CloseHandle(device);
    }
}
