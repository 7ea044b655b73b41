// The tables under Wine against the real larkui.dll: the prefix the Wine
// fixtures prepared (the package installed with SetupAPI, the printers
// added, each given the driver's default devmode and its printer data
// values), the driver loaded from the printer's config file.
#include <cstdio>
#include <cstring>
#include <map>
#include <string>

#include "adapter.h"
#include "conformance.h"
#include "wine_harness.h"
// wine_harness.h (the platform) first.
#include <sddl.h>
#include <tlhelp32.h>
#include <winioctl.h>

#include "monitor_launcher.h"
#include "usb_control.h"

namespace conformance {

const WCHAR kPrinter[] = L"Lark Photo";
const WCHAR kLptPrinter[] = L"Lark Photo LPT";
const WCHAR kDriverName[] = L"Lark Photo Printer";

namespace {

HMODULE g_module;
std::map<std::wstring, std::string> g_package;  // the version folder as installed

std::wstring VersionFolder() {
    std::string block = QueryDriver3(kPrinter);
    const DRIVER_INFO_3W* info = Driver3(block);
    if (info == nullptr || info->pConfigFile == nullptr) return L"";
    std::wstring path = info->pConfigFile;
    return path.substr(0, path.find_last_of(L'\\') + 1);
}

std::string ReadWhole(const std::wstring& path) {
    std::string bytes;
    ReadFileBytes(path.c_str(), &bytes);
    return bytes;
}

bool WriteWhole(const std::wstring& path, const std::string& bytes) {
    FILE* f = _wfopen(path.c_str(), L"wb");
    if (f == nullptr) return false;
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}

}  // namespace

Platform ThisPlatform() { return Platform::Wine; }
const char* PlatformName() { return "wine"; }

bool BeginTable(std::string* why) {
    if (g_module == nullptr) {
        g_module = LoadLarkUi(kPrinter);
        if (g_module == nullptr) {
            *why = "the driver's config file does not load";
            return false;
        }
        std::wstring folder = VersionFolder();
        WIN32_FIND_DATAW found;
        HANDLE find = FindFirstFileW((folder + L"*").c_str(), &found);
        for (BOOL more = find != INVALID_HANDLE_VALUE; more; more = FindNextFileW(find, &found)) {
            if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) continue;
            g_package[found.cFileName] = ReadWhole(folder + found.cFileName);
        }
        if (find != INVALID_HANDLE_VALUE) FindClose(find);
        if (g_package.empty()) {
            *why = "no driver files in the driver's folder";
            return false;
        }
    }
    return ResetPrinter();
}

namespace {
bool g_usbAttached;
}  // namespace

void EndTable() {
    if (!g_usbAttached) return;
    g_usbAttached = false;
    // The fixture's devices back on their parked ports, answering their default.
    const std::vector<larkusb::Device> parked = larkusb::FixtureDevices();
    for (unsigned i = 0; i < parked.size(); ++i) {
        larkusb::SetInterfaceValues(i, parked[i]);
        larkusb::SetScript(i, {}, 0);
    }
}

void* DriverEntry(const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(g_module, name));
}

std::basic_string<WCHAR> DriverFolder() { return VersionFolder(); }

bool WriteDriverFile(const char* name, const std::string& bytes) {
    std::wstring path = VersionFolder();
    for (const char* c = name; *c != 0; ++c) path += static_cast<wchar_t>(*c);
    return WriteWhole(path, bytes);
}

bool RemoveDriverFile(const char* name) {
    std::wstring path = VersionFolder();
    for (const char* c = name; *c != 0; ++c) path += static_cast<wchar_t>(*c);
    return DeleteFileW(path.c_str()) != 0;
}

// Wine's spooler keeps a driver's dependent files as bare names in its
// driver key, and puts the version folder in front of each as it answers.
const wchar_t kDriverKey[] =
    L"System\\CurrentControlSet\\Control\\Print\\Environments\\Windows x64\\Drivers\\"
    L"Version-3\\Lark Photo Printer";
std::wstring g_dependentFiles;  // as installed, when a row changed them
bool g_dependentChanged = false;

bool WriteDependentFiles(const std::wstring& list) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kDriverKey, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) {
        return false;
    }
    LONG rc = RegSetValueExW(key, L"Dependent Files", 0, REG_MULTI_SZ,
                             reinterpret_cast<const BYTE*>(list.data()),
                             static_cast<DWORD>(list.size() * sizeof(wchar_t)));
    RegCloseKey(key);
    return rc == ERROR_SUCCESS;
}

bool ListDriverFile(const char* name) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kDriverKey, 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return false;
    }
    DWORD bytes = 0;
    RegQueryValueExW(key, L"Dependent Files", nullptr, nullptr, nullptr, &bytes);
    std::wstring list(bytes / sizeof(wchar_t), L'\0');
    LONG rc = RegQueryValueExW(key, L"Dependent Files", nullptr, nullptr,
                               reinterpret_cast<BYTE*>(list.data()), &bytes);
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS) return false;
    list.resize(bytes / sizeof(wchar_t));
    if (!g_dependentChanged) g_dependentFiles = list;
    g_dependentChanged = true;
    // The names, each ended by a zero, then one more zero.
    while (!list.empty() && list.back() == L'\0') list.pop_back();
    if (!list.empty()) list += L'\0';
    for (const char* c = name; *c != 0; ++c) list += static_cast<wchar_t>(*c);
    list += L'\0';
    list += L'\0';
    return WriteDependentFiles(list);
}

bool SetDriverDirectory(const WCHAR*) { return false; }
bool SetPollingPrinter(bool) { return false; }

// DeletePrinterDataW is not implemented in Wine 8 (calling it ends the
// process): the value goes from the printer's key, where Wine's spooler
// keeps what SetPrinterDataW stores.
bool RemovePrinterValue(const WCHAR* name) {
    std::wstring path = L"System\\CurrentControlSet\\Control\\Print\\Printers\\";
    path += kPrinter;
    path += L"\\PrinterDriverData";
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) {
        return false;
    }
    LONG rc = RegDeleteValueW(key, name);
    RegCloseKey(key);
    return rc == ERROR_SUCCESS;
}

// Where Wine's spooler keeps them, as for RemovePrinterValue.
bool PrinterValueNames(std::vector<std::string>* names) {
    names->clear();
    std::wstring path = L"System\\CurrentControlSet\\Control\\Print\\Printers\\";
    path += kPrinter;
    path += L"\\PrinterDriverData";
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return false;
    }
    WCHAR name[256];
    for (DWORD i = 0;; ++i) {
        DWORD units = 256;
        if (RegEnumValueW(key, i, name, &units, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS) {
            break;
        }
        char utf8[1024];
        int bytes = WideCharToMultiByte(CP_UTF8, 0, name, static_cast<int>(units), utf8,
                                        sizeof utf8, nullptr, nullptr);
        names->emplace_back(utf8, bytes > 0 ? static_cast<size_t>(bytes) : 0);
    }
    RegCloseKey(key);
    return true;
}

// SetPrinterW takes no devmode away: the value goes from the printer's key.
bool RemovePrinterDevmode() {
    std::wstring path = L"System\\CurrentControlSet\\Control\\Print\\Printers\\";
    path += kPrinter;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) {
        return false;
    }
    LONG rc = RegDeleteValueW(key, L"Default DevMode");
    RegCloseKey(key);
    return rc == ERROR_SUCCESS;
}

NoAccessPages::NoAccessPages() {
    SYSTEM_INFO si;
    GetSystemInfo(&si);
    void* at = VirtualAlloc(nullptr, 2 * si.dwPageSize, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    if (at == nullptr) return;
    first = static_cast<uint8_t*>(at);
    page = si.dwPageSize;
    DWORD old = 0;
    VirtualProtect(first + page, page, PAGE_NOACCESS, &old);
}

NoAccessPages::~NoAccessPages() {
    if (first != nullptr) VirtualFree(first, 0, MEM_RELEASE);
}

bool NoAccessPages::MakeReadOnly() {
    DWORD old = 0;
    return first != nullptr && VirtualProtect(first, page, PAGE_READONLY, &old);
}

bool SetMonitorLogFolder(bool present) {
    if (present) {
        CreateDirectoryW(L"C:\\temp", nullptr);
        return CreateDirectoryW(L"C:\\temp\\larkdeb", nullptr) ||
               GetLastError() == ERROR_ALREADY_EXISTS;
    }
    DeleteFileW(L"C:\\temp\\larkdeb\\larksm.txt");
    return RemoveDirectoryW(L"C:\\temp\\larkdeb") || GetLastError() == ERROR_FILE_NOT_FOUND;
}

namespace {

// A mount point's reparse data: the NT name of the target ("\??\C:\..."),
// then its DOS name, each with a terminator (IO_REPARSE_TAG_MOUNT_POINT).
bool MakeJunction(const WCHAR* link, const WCHAR* target) {
    if (!CreateDirectoryW(link, nullptr)) return false;
    HANDLE h = CreateFileW(link, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        RemoveDirectoryW(link);
        return false;
    }
    const std::wstring nt = std::wstring(L"\\??\\") + target, dos = target;
    const size_t names = (nt.size() + 1 + dos.size() + 1) * sizeof(WCHAR);
    std::string data(16 + names, '\0');
    auto put16 = [&data](size_t at, size_t v) {
        data[at] = static_cast<char>(v & 0xFF);
        data[at + 1] = static_cast<char>((v >> 8) & 0xFF);
    };
    const DWORD tag = IO_REPARSE_TAG_MOUNT_POINT;
    std::memcpy(&data[0], &tag, 4);
    put16(4, data.size() - 8);                   // ReparseDataLength
    put16(8, 0);                                 // SubstituteNameOffset
    put16(10, nt.size() * sizeof(WCHAR));        // SubstituteNameLength
    put16(12, (nt.size() + 1) * sizeof(WCHAR));  // PrintNameOffset
    put16(14, dos.size() * sizeof(WCHAR));       // PrintNameLength
    std::memcpy(&data[16], nt.c_str(), (nt.size() + 1) * sizeof(WCHAR));
    std::memcpy(&data[16 + (nt.size() + 1) * sizeof(WCHAR)], dos.c_str(),
                (dos.size() + 1) * sizeof(WCHAR));
    DWORD returned = 0;
    BOOL ok = DeviceIoControl(h, FSCTL_SET_REPARSE_POINT, &data[0], static_cast<DWORD>(data.size()),
                              nullptr, 0, &returned, nullptr);
    CloseHandle(h);
    if (!ok) RemoveDirectoryW(link);
    return ok != FALSE;
}

// Another user as owner needs SeRestorePrivilege on Windows.
void EnableRestorePrivilege() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, &token)) return;
    TOKEN_PRIVILEGES privileges = {};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    if (LookupPrivilegeValueW(nullptr, SE_RESTORE_NAME, &privileges.Privileges[0].Luid)) {
        AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr);
    }
    CloseHandle(token);
}

}  // namespace

bool MakeLink(LinkKind kind, const WCHAR* link, const WCHAR* target) {
    if (kind == LinkKind::Junction) return MakeJunction(link, target);
    if (kind == LinkKind::FileSymlink) {
        // Made only when the link is there: a stub may answer TRUE for nothing.
        const DWORD attributes = CreateSymbolicLinkW(link, target, 0) != 0
                                     ? GetFileAttributesW(link)
                                     : INVALID_FILE_ATTRIBUTES;
        return attributes != INVALID_FILE_ATTRIBUTES &&
               (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    }
    return CreateHardLinkW(link, target, nullptr) != FALSE;
}

bool MakeFolder(const WCHAR* path) { return CreateDirectoryW(path, nullptr) != FALSE; }

bool WriteWholeFile(const WCHAR* path, const std::string& bytes) { return WriteWhole(path, bytes); }

bool RemovePath(const WCHAR* path) {
    const DWORD attributes = GetFileAttributesW(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return GetLastError() == ERROR_FILE_NOT_FOUND || GetLastError() == ERROR_PATH_NOT_FOUND;
    }
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return DeleteFileW(path) != FALSE;
    // A junction goes by itself; only a real folder's entries are removed.
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
        const std::wstring folder = std::wstring(path) + L"\\";
        WIN32_FIND_DATAW found;
        HANDLE find = FindFirstFileW((folder + L"*").c_str(), &found);
        for (BOOL more = find != INVALID_HANDLE_VALUE; more; more = FindNextFileW(find, &found)) {
            const std::wstring name = found.cFileName;
            if (name != L"." && name != L"..") RemovePath((folder + name).c_str());
        }
        if (find != INVALID_HANDLE_VALUE) FindClose(find);
    }
    return RemoveDirectoryW(path) != FALSE;
}

bool GiveToAnotherUser(const WCHAR* path) {
    EnableRestorePrivilege();
    PSID other = nullptr;
    if (!ConvertStringSidToSidW(L"S-1-5-21-1004336348-1177238915-682003330-1002", &other)) {
        return false;
    }
    HANDLE h = CreateFileW(path, WRITE_OWNER | READ_CONTROL,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    bool given = false;
    if (h != INVALID_HANDLE_VALUE) {
        // Given only when the owner reads back so: Wine answers success and
        // keeps the owner it derives from the Unix file's.
        PSID owner = nullptr;
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        given = SetSecurityInfo(h, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, other, nullptr,
                                nullptr, nullptr) == ERROR_SUCCESS &&
                GetSecurityInfo(h, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr,
                                nullptr, nullptr, &descriptor) == ERROR_SUCCESS &&
                owner != nullptr && EqualSid(owner, other);
        if (descriptor != nullptr) LocalFree(descriptor);
        CloseHandle(h);
    }
    LocalFree(other);
    return given;
}

bool RunMonitor(const WCHAR* printer) {
    std::wstring program = DriverFolder() + L"larkmon.exe";
    std::wstring line = printer;
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(program.c_str(), &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
        return false;
    }
    DWORD waited = WaitForSingleObject(process.hProcess, 30000);
    if (waited != WAIT_OBJECT_0) TerminateProcess(process.hProcess, 1);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return waited == WAIT_OBJECT_0;
}

const WCHAR* const kUsbPorts[3] = {L"USB001", L"USB002", L"USB003"};

bool AttachUsbPrinters() {
    g_usbAttached = true;
    std::vector<larkusb::Device> devices = larkusb::FixtureDevices();
    bool ok = true;
    for (unsigned i = 0; i < devices.size(); ++i) {
        devices[i].portNumber = i + 1;
        ok = larkusb::SetInterfaceValues(i, devices[i]) && larkusb::SetScript(i, {}, 0) && ok;
    }
    return ok;
}

bool SetUsbScript(const WCHAR* port, const std::vector<std::string>& ids, DWORD failFrom) {
    for (unsigned i = 0; i < 3; ++i) {
        if (_wcsicmp(port, kUsbPorts[i]) == 0) return larkusb::SetScript(i, ids, failFrom);
    }
    return false;
}

const WCHAR kSecondPrinter[] = L"Lark Photo USB002";
const WCHAR kUnpluggedPrinter[] = L"Lark Photo USB003";

bool AddUsbPrinter(const WCHAR* name, const WCHAR* port) {
    HANDLE printer = nullptr;
    if (OpenPrinterW(const_cast<LPWSTR>(name), &printer, nullptr)) {
        ClosePrinter(printer);
        return true;  // an earlier table's
    }
    DWORD status = 0;
    if (!XcvAddLocalPort(port, &status)) return false;
    printer = AddLarkPrinter(name, port);
    if (printer == nullptr) return false;
    ClosePrinter(printer);
    return true;
}

namespace {

struct Started {
    PROCESS_INFORMATION process;
    std::wstring record;
};
std::map<int, Started> g_monitors;
int g_lastMonitor;

std::wstring ProgramFolder() {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder = path;
    return folder.substr(0, folder.find_last_of(L'\\') + 1);
}

std::vector<std::string> Fields(const std::string& line) {
    std::vector<std::string> fields(1);
    for (size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '|') {
            fields.emplace_back();
        } else if (line[i] == '\\' && i + 1 < line.size()) {
            const char c = line[++i];
            fields.back() += c == 'r' ? '\r' : c == 'n' ? '\n' : c == 'p' ? '|' : c;
        } else {
            fields.back() += line[i];
        }
    }
    return fields;
}

std::wstring Text(const std::string& utf8) { return Wide(utf8.c_str()); }

}  // namespace

int StartMonitor(const WCHAR* commandLine) {
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    const int id = ++g_lastMonitor;
    Started started;
    started.record = std::wstring(temp) + L"larkrec-" + std::to_wstring(GetCurrentProcessId()) +
                     L"-" + std::to_wstring(id) + L".txt";
    DeleteFileW(started.record.c_str());
    std::string why;
    if (!larkwine::LaunchRecordedMonitor(DriverFolder() + L"larkmon.exe", commandLine,
                                         ProgramFolder() + L"larkrec.dll", started.record,
                                         &started.process, &why)) {
        std::printf("the monitor did not start: %s\n", why.c_str());
        return 0;
    }
    g_monitors[id] = started;
    return id;
}

bool WaitMonitor(int monitor, DWORD timeoutMs, MonitorRun* run) {
    *run = MonitorRun{};
    auto it = g_monitors.find(monitor);
    if (it == g_monitors.end()) return false;
    const Started started = it->second;
    g_monitors.erase(it);
    run->ended = WaitForSingleObject(started.process.hProcess, timeoutMs) == WAIT_OBJECT_0;
    if (!run->ended) {
        TerminateProcess(started.process.hProcess, 1);
        WaitForSingleObject(started.process.hProcess, 5000);
    }
    DWORD code = 1;
    GetExitCodeProcess(started.process.hProcess, &code);
    run->exitCode = code;
    CloseHandle(started.process.hThread);
    CloseHandle(started.process.hProcess);
    std::string record;
    ReadFileBytes(started.record.c_str(), &record);
    DeleteFileW(started.record.c_str());
    size_t at = 0;
    while (at < record.size()) {
        size_t end = record.find('\n', at);
        if (end == std::string::npos) end = record.size();
        std::vector<std::string> f = Fields(record.substr(at, end - at));
        at = end + 1;
        if (f[0] == "SetPortW" && f.size() == 7) {
            PortStatusCall call;
            call.local = f[1] == "(null)";
            call.port = Text(f[2]);
            call.level = static_cast<DWORD>(std::stoul(f[3]));
            call.status = static_cast<DWORD>(std::stoul(f[4]));
            call.hasText = f[5] != "(null)";
            if (call.hasText) call.text = Text(f[5]);
            call.severity = static_cast<DWORD>(std::stoul(f[6]));
            run->statuses.push_back(call);
        } else if (f[0] == "MessageBoxW" && f.size() == 5) {
            BoxCall box;
            box.owned = f[1] != "(null)";
            box.text = Text(f[2]);
            box.caption = Text(f[3]);
            box.style = static_cast<UINT>(std::stoul(f[4]));
            box.afterStatuses = run->statuses.size();
            run->boxes.push_back(box);
        }
    }
    return run->ended;
}

bool FailCall(const char*, int, DWORD) { return false; }

long CallCount(const char*) { return -1; }

bool ResetPrinter() {
    bool ok = true;
    if (g_dependentChanged) {
        ok = WriteDependentFiles(g_dependentFiles);
        g_dependentChanged = false;
    }
    std::wstring folder = VersionFolder();
    WIN32_FIND_DATAW found;
    HANDLE find = FindFirstFileW((folder + L"*").c_str(), &found);
    for (BOOL more = find != INVALID_HANDLE_VALUE; more; more = FindNextFileW(find, &found)) {
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) continue;
        if (g_package.count(found.cFileName) == 0) DeleteFileW((folder + found.cFileName).c_str());
    }
    if (find != INVALID_HANDLE_VALUE) FindClose(find);
    for (const auto& [name, bytes] : g_package) {
        // The loaded config file cannot be rewritten; it is never a row's to change.
        if (ReadWhole(folder + name) != bytes) ok = WriteWhole(folder + name, bytes) && ok;
    }
    using ConvertFn = BOOL(WINAPI*)(LPWSTR, PDEVMODEW, PDEVMODEW, PLONG, DWORD);
    using EventFn = BOOL(WINAPI*)(LPWSTR, INT, DWORD, LPARAM);
    auto convert = Entry<ConvertFn>("DrvConvertDevMode");
    auto event = Entry<EventFn>("DrvPrinterEvent");
    std::string devmode(4096, '\0');
    LONG size = static_cast<LONG>(devmode.size());
    if (convert == nullptr || event == nullptr ||
        !convert(const_cast<LPWSTR>(kPrinter), nullptr, reinterpret_cast<PDEVMODEW>(devmode.data()),
                 &size, CDM_DRIVER_DEFAULT)) {
        return false;
    }
    PRINTER_DEFAULTSW access = {nullptr, nullptr, PRINTER_ALL_ACCESS};
    HANDLE printer = nullptr;
    if (!OpenPrinterW(const_cast<LPWSTR>(kPrinter), &printer, &access)) return false;
    DWORD needed = 0;
    GetPrinterW(printer, 2, nullptr, 0, &needed);
    std::string block(needed, '\0');
    if (needed >= sizeof(PRINTER_INFO_2W) &&
        GetPrinterW(printer, 2, reinterpret_cast<LPBYTE>(block.data()), needed, &needed)) {
        auto* info = reinterpret_cast<PRINTER_INFO_2W*>(block.data());
        info->pDevMode = reinterpret_cast<PDEVMODEW>(devmode.data());
        info->pSecurityDescriptor = nullptr;
        ok = SetPrinterW(printer, 2, reinterpret_cast<LPBYTE>(info), 0) && ok;
    } else {
        ok = false;
    }
    ClosePrinter(printer);
    return event(const_cast<LPWSTR>(kPrinter), PRINTER_EVENT_INITIALIZE, 0, 0) && ok;
}

namespace {

BOOL CALLBACK CountOwnWindow(HWND window, LPARAM count) {
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process != GetCurrentProcessId()) return TRUE;
    ++*reinterpret_cast<long*>(count);
    EnumChildWindows(window, CountOwnWindow, count);
    return TRUE;
}

}  // namespace

// Wine 8 cannot count handles (GetProcessHandleCount answers 0 whatever the
// process holds) nor GDI and USER objects (GetGuiResources is a stub that
// answers 0, ERROR_CALL_NOT_IMPLEMENTED). It keeps the process's threads and
// windows, which a table's end finds as they were. Its process heap
// (HeapWalk) and child processes (toolhelp) can be counted too, but Wine's
// own blocks grow as its caches fill and a monitor's conhost outlives the
// monitor for a while, so neither holds still across a table.
bool Holdings(std::vector<Holding>* now) {
    long threads = 0;
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snap != INVALID_HANDLE_VALUE) {
        THREADENTRY32 t = {};
        t.dwSize = sizeof t;
        for (BOOL ok = Thread32First(snap, &t); ok; ok = Thread32Next(snap, &t)) {
            if (t.th32OwnerProcessID == GetCurrentProcessId()) ++threads;
        }
        CloseHandle(snap);
    }
    long windows = 0;
    EnumWindows(CountOwnWindow, reinterpret_cast<LPARAM>(&windows));
    *now = {{"threads", threads}, {"windows", windows}};
    return true;
}

bool PumpMessages(DWORD timeoutMs, const std::function<bool()>& done) {
    const DWORD start = GetTickCount();
    for (;;) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        if (done()) return true;
        DWORD waited = GetTickCount() - start;
        if (waited >= timeoutMs) return false;
        // done() may turn on another thread's doing, which wakes no wait here.
        MsgWaitForMultipleObjects(0, nullptr, FALSE,
                                  timeoutMs - waited < 5 ? timeoutMs - waited : 5, QS_ALLINPUT);
    }
}

std::basic_string<WCHAR> MonikerDisplayName(IMoniker* moniker) {
    IBindCtx* context = nullptr;
    if (moniker == nullptr || FAILED(CreateBindCtx(0, &context))) return L"";
    LPOLESTR name = nullptr;
    std::wstring text;
    if (SUCCEEDED(moniker->GetDisplayName(context, nullptr, &name)) && name != nullptr) text = name;
    CoTaskMemFree(name);
    context->Release();
    return text;
}

std::basic_string<WCHAR> PlantBesideProgram(const char* name) {
    WCHAR program[MAX_PATH] = {};
    DWORD n = GetModuleFileNameW(nullptr, program, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return L"";
    std::wstring path = program;
    path.resize(path.find_last_of(L'\\') + 1);
    for (const char* c = name; *c != 0; ++c) path += static_cast<wchar_t>(*c);
    // The build's file is the plant: the test double itself.
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES ? path : L"";
}

std::basic_string<WCHAR> SystemFolder() {
    WCHAR folder[MAX_PATH] = {};
    UINT n = GetSystemDirectoryW(folder, MAX_PATH);
    return n > 0 && n < MAX_PATH ? std::wstring(folder) : std::wstring();
}

}  // namespace conformance
