#include "usb_device.h"

#include "scoped.h"
#include "text.h"

namespace {

constexpr SIZE_T kCandidateBytes = 256;
constexpr SIZE_T kBaseNameBytes = 128;
constexpr size_t kBaseNameUnits = kBaseNameBytes / sizeof(WCHAR);

// Reads "Base Name" over the prefilled "USB". A read that fails, or a value
// that fills the buffer without a terminator, leaves "USB" standing.
void PrefillBaseName(LPWSTR base) {
    for (size_t i = 0; i < kBaseNameUnits; ++i) base[i] = 0;
    TextCopy(base, kBaseNameUnits, TEXT("USB"));
}

// The buffer is cleared first so that a shorter unterminated value never
// picks up the tail of an earlier interface's name.
void ReadBaseName(HKEY key, LPWSTR base) {
    PrefillBaseName(base);
    DWORD bytes = kBaseNameBytes;
    LSTATUS result = RegQueryValueExW(key, TEXT("Base Name"), nullptr, nullptr,
                                      reinterpret_cast<LPBYTE>(base), &bytes);
    if (result != ERROR_SUCCESS || TextLengthBounded(base, kBaseNameUnits) >= kBaseNameUnits) {
        PrefillBaseName(base);
    }
}

DWORD ReadPortNumber(HKEY key) {
    DWORD number = 0;
    DWORD bytes = sizeof number;
    if (RegQueryValueExW(key, TEXT("Port Number"), nullptr, nullptr,
                         reinterpret_cast<LPBYTE>(&number), &bytes) != ERROR_SUCCESS) {
        number = 0;
    }
    return number;
}

// True when the interface's rebuilt port name is portName.
bool InterfaceMatches(HDEVINFO set, SP_DEVICE_INTERFACE_DATA* data, LPCWSTR portName,
                      LPWSTR candidate, LPWSTR base) {
    ScopedKey key(SetupDiOpenDeviceInterfaceRegKey(set, data, 0, KEY_READ));
    if (key.get() == reinterpret_cast<HKEY>(INVALID_HANDLE_VALUE)) {
        key.release();
        return false;
    }
    ReadBaseName(key.get(), base);
    const DWORD number = ReadPortNumber(key.get());
    TextFormat(candidate, kCandidateBytes / sizeof(WCHAR), TEXT("%s%03d"), base,
               static_cast<int>(number));
    key.reset();
    return TextEqualNoCase(candidate, portName);
}

HANDLE OpenInterface(HDEVINFO set, SP_DEVICE_INTERFACE_DATA* data) {
    DWORD needed = 0;
    SetupDiGetDeviceInterfaceDetailW(set, data, nullptr, 0, &needed, nullptr);
    if (needed < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)) return INVALID_HANDLE_VALUE;
    LocalBlock<SP_DEVICE_INTERFACE_DETAIL_DATA_W> detail(
        static_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(LocalAlloc(LMEM_ZEROINIT, needed)));
    if (!detail) return INVALID_HANDLE_VALUE;
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
    if (!SetupDiGetDeviceInterfaceDetailW(set, data, detail.get(), needed, nullptr, nullptr)) {
        return INVALID_HANDLE_VALUE;
    }
    // The path lies inside the block the platform sized; keep it terminated.
    const size_t pathUnits =
        (needed - offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath)) / sizeof(WCHAR);
    if (pathUnits == 0 || TextLengthBounded(detail->DevicePath, pathUnits) >= pathUnits) {
        return INVALID_HANDLE_VALUE;
    }
    return CreateFileW(detail->DevicePath, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
}

}  // namespace

HANDLE OpenUsbPrinterDevice(LPCWSTR portName) {
    LocalBlock<WCHAR> candidate(static_cast<LPWSTR>(LocalAlloc(LMEM_ZEROINIT, kCandidateBytes)));
    LocalBlock<WCHAR> base(static_cast<LPWSTR>(LocalAlloc(LMEM_ZEROINIT, kBaseNameBytes)));
    if (!candidate || !base || portName == nullptr || portName[0] == 0) {
        return INVALID_HANDLE_VALUE;
    }
    ScopedDeviceInfoList set(
        SetupDiGetClassDevsW(&GUID_DEVINTERFACE_USBPRINT, nullptr, nullptr, DIGCF_DEVICEINTERFACE));
    if (set.get() == INVALID_HANDLE_VALUE) {
        set.release();
        return INVALID_HANDLE_VALUE;
    }
    for (DWORD index = 0;; ++index) {
        SP_DEVICE_INTERFACE_DATA data = {};
        data.cbSize = sizeof data;
        if (!SetupDiEnumDeviceInterfaces(set.get(), nullptr, &GUID_DEVINTERFACE_USBPRINT, index,
                                         &data)) {
            return INVALID_HANDLE_VALUE;
        }
        if (InterfaceMatches(set.get(), &data, portName, candidate.get(), base.get())) {
            // The first match is the answer, even when it does not open.
            return OpenInterface(set.get(), &data);
        }
    }
}
