// USB printing interfaces: the SetupAPI enumeration of the class, the
// interfaces' registry values, the device files and the device ID request.
// The interfaces and their device ID scripts are rows of the machine
// database; what a process opens (sets, keys, device handles) is its own.
#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>

#include "internal.h"
#include "winsim/setupapi.h"

namespace winsim {
namespace {

using detail::Exec;
using detail::P;

constexpr const char* kDefaultDeviceId = "MFG:Lark;MDL:Photo Printer;CLS:PRINTER;";

std::u16string Folded(std::u16string text) {
    for (char16_t& c : text) {
        if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
    }
    return text;
}

std::string JoinJobs(const std::vector<DWORD>& jobs) {
    std::string text;
    for (DWORD j : jobs) text += (text.empty() ? "" : ",") + std::to_string(j);
    return text;
}

std::vector<DWORD> SplitJobs(const std::string& text) {
    std::vector<DWORD> jobs;
    size_t start = 0;
    while (start < text.size()) {
        size_t comma = text.find(',', start);
        if (comma == std::string::npos) comma = text.size();
        jobs.push_back(static_cast<DWORD>(std::stoul(text.substr(start, comma - start))));
        start = comma + 1;
    }
    return jobs;
}

std::vector<UsbDevice> LoadDevices(const std::string& where,
                                   std::initializer_list<detail::Param> params) {
    std::vector<UsbDevice> devices;
    Exec("SELECT id, base, number, path, present, fail_from, jobs FROM usb_devices " + where +
             " ORDER BY id",
         params, [&](sqlite3_stmt* s) {
             UsbDevice d;
             d.id = sqlite3_column_int64(s, 0);
             d.hasBaseName = sqlite3_column_type(s, 1) != SQLITE_NULL;
             d.baseName = d.hasBaseName ? detail::ColumnText16(s, 1) : u"";
             d.hasPortNumber = sqlite3_column_type(s, 2) != SQLITE_NULL;
             d.portNumber = static_cast<DWORD>(sqlite3_column_int64(s, 2));
             d.devicePath = detail::ColumnText16(s, 3);
             d.present = sqlite3_column_int(s, 4) != 0;
             d.failFrom = sqlite3_column_int(s, 5);
             const unsigned char* jobs = sqlite3_column_text(s, 6);
             if (jobs != nullptr) d.jobs = SplitJobs(reinterpret_cast<const char*>(jobs));
             devices.push_back(d);
         });
    for (UsbDevice& d : devices) {
        Exec("SELECT text FROM usb_scripts WHERE device = ? ORDER BY idx", {P(d.id)},
             [&](sqlite3_stmt* s) {
                 const void* blob = sqlite3_column_blob(s, 0);
                 int bytes = sqlite3_column_bytes(s, 0);
                 if (blob == nullptr) {
                     d.deviceIds.emplace_back();
                 } else {
                     d.deviceIds.emplace_back(static_cast<const char*>(blob),
                                              static_cast<size_t>(bytes));
                 }
             });
    }
    return devices;
}

bool LoadDevice(int64_t id, UsbDevice* device) {
    std::vector<UsbDevice> found = LoadDevices("WHERE id = ?", {P(id)});
    if (found.empty()) return false;
    *device = found.front();
    return true;
}

bool FindByPort(const std::u16string& port, UsbDevice* device) {
    for (const UsbDevice& d : UsbDevices()) {
        if (Folded(UsbPortName(d)) == Folded(port)) {
            *device = d;
            return true;
        }
    }
    return false;
}

// What one process holds open.
struct DeviceSet {
    std::vector<int64_t> ids;
};
struct DeviceKey {
    UsbDevice device;
};
struct OpenDevice {
    int64_t id = 0;
    int polls = 0;
};

std::mutex g_usbLock;
std::map<void*, DeviceSet*> g_sets;
std::map<void*, DeviceKey*> g_keys;
std::map<void*, OpenDevice*> g_devices;

void CloseDevice(HANDLE handle) {
    std::lock_guard<std::mutex> guard(g_usbLock);
    auto it = g_devices.find(handle);
    if (it == g_devices.end()) return;
    delete it->second;
    g_devices.erase(it);
}

bool SameGuid(const GUID* a, const GUID& b) {
    return a != nullptr && std::memcmp(a, &b, sizeof(GUID)) == 0;
}

}  // namespace

std::u16string UsbPortName(const UsbDevice& device) {
    std::u16string base = device.hasBaseName ? device.baseName : u"USB";
    // The number as the interface's REG_DWORD holds it, at least three digits.
    unsigned number = device.hasPortNumber ? device.portNumber : 0;
    char digits[16];
    std::snprintf(digits, sizeof digits, "%03u", number);
    return base + ToUtf16(digits);
}

int64_t AddUsbDevice(const UsbDevice& device) {
    int64_t id = 0;
    Exec(
        "INSERT INTO usb_devices(base, number, path, present, fail_from, jobs)"
        " VALUES(?, ?, '', ?, ?, ?) RETURNING id",
        {device.hasBaseName ? P(device.baseName) : detail::PBlob(nullptr, 0),
         device.hasPortNumber ? P(static_cast<int64_t>(device.portNumber))
                              : detail::PBlob(nullptr, 0),
         P(static_cast<int64_t>(device.present ? 1 : 0)), P(static_cast<int64_t>(device.failFrom)),
         P(JoinJobs(device.jobs))},
        [&](sqlite3_stmt* s) { id = sqlite3_column_int64(s, 0); });
    if (id == 0) return 0;
    std::u16string path = device.devicePath;
    if (path.empty()) {
        path = u"\\\\?\\usb#vid_4c41&pid_524b#lark" + ToUtf16(std::to_string(id)) +
               u"#{28d78fad-5a12-11d1-ae5b-0000f803a8c2}";
    }
    Exec("UPDATE usb_devices SET path = ? WHERE id = ?", {P(path), P(id)});
    for (size_t i = 0; i < device.deviceIds.size(); ++i) {
        const std::string& text = device.deviceIds[i];
        Exec("INSERT INTO usb_scripts(device, idx, text) VALUES(?, ?, ?)",
             {P(id), P(static_cast<int64_t>(i)), detail::PBlob(text.data(), text.size())});
    }
    return id;
}

std::vector<UsbDevice> UsbDevices() { return LoadDevices("", {}); }

bool SetUsbScript(const std::u16string& port, const std::vector<std::string>& deviceIds,
                  int failFrom) {
    UsbDevice d;
    if (!FindByPort(port, &d)) return false;
    Exec("DELETE FROM usb_scripts WHERE device = ?", {P(d.id)});
    for (size_t i = 0; i < deviceIds.size(); ++i) {
        const std::string& text = deviceIds[i];
        Exec("INSERT INTO usb_scripts(device, idx, text) VALUES(?, ?, ?)",
             {P(d.id), P(static_cast<int64_t>(i)), detail::PBlob(text.data(), text.size())});
    }
    return Exec("UPDATE usb_devices SET fail_from = ? WHERE id = ?",
                {P(static_cast<int64_t>(failFrom)), P(d.id)});
}

bool SetUsbJobs(const std::u16string& port, const std::vector<DWORD>& jobs) {
    UsbDevice d;
    if (!FindByPort(port, &d)) return false;
    return Exec("UPDATE usb_devices SET jobs = ? WHERE id = ?", {P(JoinJobs(jobs)), P(d.id)});
}

bool UnplugUsb(const std::u16string& port) {
    UsbDevice d;
    if (!FindByPort(port, &d)) return false;
    return Exec("UPDATE usb_devices SET present = 0 WHERE id = ?", {P(d.id)});
}

bool PlugUsb(const std::u16string& port) {
    UsbDevice d;
    if (!FindByPort(port, &d)) return false;
    return Exec("UPDATE usb_devices SET present = 1 WHERE id = ?", {P(d.id)});
}

}  // namespace winsim

using winsim::detail::CountDown;
using winsim::detail::CountUp;
using winsim::detail::Faulted;
using winsim::detail::Held;

WINSIM_API HDEVINFO WINAPI SetupDiGetClassDevsW(const GUID* classGuid, LPCWSTR enumerator, HWND,
                                                DWORD flags) {
    if (Faulted("SetupDiGetClassDevsW")) return INVALID_HANDLE_VALUE;
    if (!winsim::SameGuid(classGuid, GUID_DEVINTERFACE_USBPRINT) || enumerator != nullptr ||
        (flags & DIGCF_DEVICEINTERFACE) == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    auto* set = new winsim::DeviceSet;
    for (const winsim::UsbDevice& d : winsim::UsbDevices()) {
        if ((flags & DIGCF_PRESENT) == 0 || d.present) set->ids.push_back(d.id);
    }
    std::lock_guard<std::mutex> guard(winsim::g_usbLock);
    winsim::g_sets[set] = set;
    CountUp(Held::DeviceInfoList);
    return set;
}

namespace {

winsim::DeviceSet* LookUpSet(HDEVINFO set) {
    std::lock_guard<std::mutex> guard(winsim::g_usbLock);
    auto it = winsim::g_sets.find(set);
    if (it == winsim::g_sets.end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return it->second;
}

bool ValidInterface(winsim::DeviceSet* set, PSP_DEVICE_INTERFACE_DATA data) {
    if (data == nullptr || data->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA) ||
        std::find(set->ids.begin(), set->ids.end(), static_cast<int64_t>(data->Reserved)) ==
            set->ids.end()) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    return true;
}

}  // namespace

WINSIM_API BOOL WINAPI SetupDiEnumDeviceInterfaces(HDEVINFO set, PSP_DEVINFO_DATA,
                                                   const GUID* classGuid, DWORD index,
                                                   PSP_DEVICE_INTERFACE_DATA data) {
    winsim::DeviceSet* s = LookUpSet(set);
    if (s == nullptr || Faulted("SetupDiEnumDeviceInterfaces")) return FALSE;
    if (data == nullptr || data->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA)) {
        SetLastError(ERROR_INVALID_USER_BUFFER);
        return FALSE;
    }
    if (!winsim::SameGuid(classGuid, GUID_DEVINTERFACE_USBPRINT) || index >= s->ids.size()) {
        SetLastError(ERROR_NO_MORE_ITEMS);
        return FALSE;
    }
    winsim::UsbDevice d;
    const bool present = winsim::LoadDevice(s->ids[index], &d) && d.present;
    data->InterfaceClassGuid = GUID_DEVINTERFACE_USBPRINT;
    data->Flags = present ? 1 : 0;  // SPINT_ACTIVE
    data->Reserved = static_cast<ULONG_PTR>(s->ids[index]);
    return TRUE;
}

WINSIM_API HKEY WINAPI SetupDiOpenDeviceInterfaceRegKey(HDEVINFO set,
                                                        PSP_DEVICE_INTERFACE_DATA data, DWORD,
                                                        REGSAM) {
    const HKEY invalid = reinterpret_cast<HKEY>(INVALID_HANDLE_VALUE);
    winsim::DeviceSet* s = LookUpSet(set);
    if (s == nullptr || Faulted("SetupDiOpenDeviceInterfaceRegKey")) return invalid;
    if (!ValidInterface(s, data)) return invalid;
    auto* key = new winsim::DeviceKey;
    if (!winsim::LoadDevice(static_cast<int64_t>(data->Reserved), &key->device)) {
        delete key;
        SetLastError(ERROR_FILE_NOT_FOUND);
        return invalid;
    }
    std::lock_guard<std::mutex> guard(winsim::g_usbLock);
    winsim::g_keys[key] = key;
    CountUp(Held::RegistryKey);
    return reinterpret_cast<HKEY>(key);
}

namespace {

// Copies a value out as RegQueryValueExW does: the size alone without a
// buffer, ERROR_MORE_DATA (and nothing written) when it does not fit.
LSTATUS AnswerValue(DWORD type, const void* value, DWORD size, LPDWORD typeOut, LPBYTE data,
                    LPDWORD bytes) {
    if (typeOut != nullptr) *typeOut = type;
    if (bytes == nullptr) return data == nullptr ? ERROR_SUCCESS : ERROR_INVALID_PARAMETER;
    if (data == nullptr) {
        *bytes = size;
        return ERROR_SUCCESS;
    }
    if (*bytes < size) {
        *bytes = size;
        return ERROR_MORE_DATA;
    }
    std::memcpy(data, value, size);
    *bytes = size;
    return ERROR_SUCCESS;
}

}  // namespace

WINSIM_API LSTATUS WINAPI RegQueryValueExW(HKEY key, LPCWSTR valueName, LPDWORD, LPDWORD type,
                                           LPBYTE data, LPDWORD bytes) {
    winsim::DeviceKey* k = nullptr;
    {
        std::lock_guard<std::mutex> guard(winsim::g_usbLock);
        auto it = winsim::g_keys.find(key);
        if (it == winsim::g_keys.end()) return ERROR_INVALID_HANDLE;
        k = it->second;
    }
    DWORD error = 0;
    if (winsim::detail::ShouldFail("RegQueryValueExW", &error)) return static_cast<LSTATUS>(error);
    std::u16string name = winsim::Folded(winsim::detail::Str(valueName));
    const winsim::UsbDevice& d = k->device;
    if (name == u"base name" && d.hasBaseName) {
        return AnswerValue(REG_SZ, d.baseName.c_str(),
                           static_cast<DWORD>((d.baseName.size() + 1) * sizeof(WCHAR)), type, data,
                           bytes);
    }
    if (name == u"port number" && d.hasPortNumber) {
        return AnswerValue(REG_DWORD, &d.portNumber, sizeof(DWORD), type, data, bytes);
    }
    return ERROR_FILE_NOT_FOUND;
}

WINSIM_API LSTATUS WINAPI RegCloseKey(HKEY key) {
    std::lock_guard<std::mutex> guard(winsim::g_usbLock);
    auto it = winsim::g_keys.find(key);
    if (it == winsim::g_keys.end()) return ERROR_INVALID_HANDLE;
    delete it->second;
    winsim::g_keys.erase(it);
    CountDown(Held::RegistryKey);
    return ERROR_SUCCESS;
}

WINSIM_API BOOL WINAPI SetupDiGetDeviceInterfaceDetailW(HDEVINFO set,
                                                        PSP_DEVICE_INTERFACE_DATA data,
                                                        PSP_DEVICE_INTERFACE_DETAIL_DATA_W detail,
                                                        DWORD bytes, LPDWORD needed,
                                                        PSP_DEVINFO_DATA) {
    winsim::DeviceSet* s = LookUpSet(set);
    if (s == nullptr || Faulted("SetupDiGetDeviceInterfaceDetailW")) return FALSE;
    if (!ValidInterface(s, data)) return FALSE;
    winsim::UsbDevice d;
    if (!winsim::LoadDevice(static_cast<int64_t>(data->Reserved), &d)) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return FALSE;
    }
    const DWORD size = static_cast<DWORD>(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath) +
                                          (d.devicePath.size() + 1) * sizeof(WCHAR));
    if (needed != nullptr) *needed = size;
    if (detail == nullptr) {
        SetLastError(bytes == 0 ? ERROR_INSUFFICIENT_BUFFER : ERROR_INVALID_USER_BUFFER);
        return FALSE;
    }
    if (detail->cbSize != sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)) {
        SetLastError(ERROR_INVALID_USER_BUFFER);
        return FALSE;
    }
    if (bytes < size) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    std::memcpy(detail->DevicePath, d.devicePath.c_str(),
                (d.devicePath.size() + 1) * sizeof(WCHAR));
    return TRUE;
}

WINSIM_API BOOL WINAPI SetupDiDestroyDeviceInfoList(HDEVINFO set) {
    std::lock_guard<std::mutex> guard(winsim::g_usbLock);
    auto it = winsim::g_sets.find(set);
    if (it == winsim::g_sets.end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    delete it->second;
    winsim::g_sets.erase(it);
    CountDown(Held::DeviceInfoList);
    return TRUE;
}

// The device paths of USB printing interfaces, for CreateFileW.
HANDLE winsim::detail::OpenUsbDevicePath(LPCWSTR path, DWORD disposition) {
    std::u16string wanted = winsim::Folded(path);
    for (const winsim::UsbDevice& d : winsim::UsbDevices()) {
        if (winsim::Folded(d.devicePath) != wanted) continue;
        if (!d.present || disposition != OPEN_EXISTING) break;
        auto* device = new winsim::OpenDevice{d.id, 0};
        {
            std::lock_guard<std::mutex> guard(winsim::g_usbLock);
            winsim::g_devices[device] = device;
        }
        winsim::detail::RegisterKernelHandle(device, winsim::CloseDevice);
        return device;
    }
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
}

namespace {

// Sets the scripted job count of the printers on the device's port.
void ApplyJobScript(const winsim::UsbDevice& d, int poll) {
    if (d.jobs.empty()) return;
    size_t index = std::min(static_cast<size_t>(poll - 1), d.jobs.size() - 1);
    winsim::detail::Exec("UPDATE printers SET jobs = ? WHERE port = ? COLLATE NOCASE",
                         {winsim::detail::P(static_cast<int64_t>(d.jobs[index])),
                          winsim::detail::P(winsim::UsbPortName(d))});
}

}  // namespace

WINSIM_API BOOL WINAPI DeviceIoControl(HANDLE device, DWORD code, LPVOID, DWORD, LPVOID out,
                                       DWORD outBytes, LPDWORD returned, LPVOID) {
    if (returned != nullptr) *returned = 0;
    winsim::OpenDevice* open = nullptr;
    int poll = 0;
    {
        std::lock_guard<std::mutex> guard(winsim::g_usbLock);
        auto it = winsim::g_devices.find(device);
        if (it == winsim::g_devices.end()) {
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
        open = it->second;
        poll = ++open->polls;
    }
    if (Faulted("DeviceIoControl")) return FALSE;
    if (code != IOCTL_PAR_QUERY_DEVICE_ID && code != IOCTL_USBPRINT_GET_1284_ID) {
        SetLastError(ERROR_INVALID_FUNCTION);
        return FALSE;
    }
    winsim::UsbDevice d;
    if (!winsim::LoadDevice(open->id, &d) || !d.present || (d.failFrom > 0 && poll >= d.failFrom)) {
        SetLastError(ERROR_DEVICE_NOT_CONNECTED);
        return FALSE;
    }
    if (out == nullptr || outBytes == 0) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    std::string text =
        d.deviceIds.empty()
            ? std::string(winsim::kDefaultDeviceId)
            : d.deviceIds[std::min(static_cast<size_t>(poll - 1), d.deviceIds.size() - 1)];
    // IOCTL_PAR_QUERY_DEVICE_ID answers the text and its terminator;
    // IOCTL_USBPRINT_GET_1284_ID puts the ID's length in front, two bytes,
    // big-endian, counting themselves. A buffer that does not hold it all
    // gets nothing: the class driver fails the request with
    // STATUS_BUFFER_TOO_SMALL (ERROR_INSUFFICIENT_BUFFER), as documented.
    if (code == IOCTL_USBPRINT_GET_1284_ID) {
        const size_t length = std::min(text.size() + 2, static_cast<size_t>(0xFFFF));
        text = std::string(1, static_cast<char>(length >> 8)) +
               std::string(1, static_cast<char>(length & 0xFF)) + text.substr(0, length - 2);
    }
    const size_t bytes = text.size() + 1;
    if (bytes > outBytes) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    std::memcpy(out, text.data(), text.size());
    static_cast<char*>(out)[text.size()] = 0;
    if (returned != nullptr) *returned = static_cast<DWORD>(bytes);
    ApplyJobScript(d, poll);
    return TRUE;
}
