#include "monitor_launch.h"

#include "scoped.h"
#include "spooler_query.h"
#include "status_window.h"
#include "text.h"

namespace {

// The directory is asked for with the buffer's whole size; the name of the
// monitor with 32 bytes into a zeroed 64-byte buffer. The spooler stores the
// name without its terminator, so the spare zeroes end it; a longer name is
// not read at all and the launch is skipped.
constexpr DWORD kMonitorNameBytes = 32;
struct MonitorPath {
    WCHAR directory[256];
    WCHAR monitorName[32];
    WCHAR path[MAX_PATH];
};

// A squatter may make any number of windows with the title; past this many
// the monitor is started anyway (a second monitor only repeats the first).
constexpr int kMostWindowsLookedAt = 64;

bool IsLetter(WCHAR c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// "X:\..." or "\\server\...": a path that CreateProcessW cannot complete
// with the current drive or folder. "\\.\" and "\\?\" name devices, not a
// folder of the spooler's.
bool IsAbsoluteFolder(const WCHAR* path) {
    if (IsLetter(path[0]) && path[1] == ':' && path[2] == '\\') return true;
    return path[0] == '\\' && path[1] == '\\' && path[2] != 0 && path[2] != '\\' &&
           path[2] != '.' && path[2] != '?';
}

bool EndsWithExe(const WCHAR* name) {
    size_t n = TextLength(name);
    return n > 4 && TextEqualNoCase(name + n - 4, TEXT(".exe"));
}

// Another user may write the value (or a folder it could point into): only
// a bare program name is taken, never a path.
bool IsBareProgramName(const WCHAR* name) {
    if (name[0] == 0 || TextFind(name, TEXT("..")) != nullptr) return false;
    for (const WCHAR* c = name; *c != 0; ++c) {
        if (*c == '\\' || *c == '/' || *c == ':') return false;
    }
    return EndsWithExe(name);
}

const WCHAR* FileNamePart(const WCHAR* path) {
    const WCHAR* name = path;
    for (const WCHAR* c = path; *c != 0; ++c) {
        if (*c == '\\' || *c == '/') name = c + 1;
    }
    return name;
}

// Whether a text that lies in the driver information block, starting at
// text and ending before end, names the file; a text that runs to the end
// of the block unterminated names nothing.
bool NamesFile(const WCHAR* text, const WCHAR* end, const WCHAR* name, const WCHAR** next) {
    const WCHAR* stop = text;
    while (stop < end && *stop != 0) ++stop;
    *next = stop + 1;
    if (stop == end) return false;
    return TextEqualNoCase(FileNamePart(text), name);
}

// The driver's own files: its role files and its dependent files, as the
// spooler lists them in DRIVER_INFO_3 (full paths).
bool DriverListsFile(const QueriedBlock& block, const WCHAR* name) {
    const auto* begin = reinterpret_cast<const WCHAR*>(block.data.get());
    const WCHAR* end = begin + block.bytes / sizeof(WCHAR);
    auto inBlock = [&](const WCHAR* p) { return p != nullptr && p >= begin && p < end; };
    const auto* driver = reinterpret_cast<const DRIVER_INFO_3W*>(block.data.get());
    const WCHAR* next = nullptr;
    for (const WCHAR* role :
         {driver->pDriverPath, driver->pDataFile, driver->pConfigFile, driver->pHelpFile}) {
        if (inBlock(role) && NamesFile(role, end, name, &next)) return true;
    }
    // A list of texts ending with an empty one.
    for (const WCHAR* file = driver->pDependentFiles; inBlock(file) && *file != 0; file = next) {
        if (NamesFile(file, end, name, &next)) return true;
    }
    return false;
}

bool BuildMonitorPath(HANDLE printer, const QueriedBlock& driverBlock, MonitorPath* p) {
    DWORD needed = 0;
    if (!GetPrinterDriverDirectoryW(nullptr, nullptr, 1, reinterpret_cast<LPBYTE>(p->directory),
                                    sizeof p->directory, &needed)) {
        return false;
    }
    p->directory[255] = 0;
    if (!IsAbsoluteFolder(p->directory)) return false;
    WCHAR valueName[] = TEXT("StatusMonitor");
    DWORD type = 0;
    if (GetPrinterDataW(printer, valueName, &type, reinterpret_cast<LPBYTE>(p->monitorName),
                        kMonitorNameBytes, &needed) != ERROR_SUCCESS ||
        type != REG_SZ) {
        return false;
    }
    if (!IsBareProgramName(p->monitorName) || !DriverListsFile(driverBlock, p->monitorName)) {
        return false;
    }
    const auto* driver = reinterpret_cast<const DRIVER_INFO_3W*>(driverBlock.data.get());
    size_t units = TextFormat(p->path, MAX_PATH, TEXT("%s\\%d\\%s"), p->directory,
                              static_cast<int>(driver->cVersion), p->monitorName);
    // A path cut to fit would name another file.
    return units < MAX_PATH - 1;
}

// Whether the window belongs to a process of the program: anyone may title
// a window so, but only the monitor runs from the driver's folder.
bool IsMonitorWindow(HWND window, const WCHAR* program) {
    DWORD processId = 0;
    if (GetWindowThreadProcessId(window, &processId) == 0 || processId == 0) return false;
    ScopedHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
    if (!process) return false;
    WCHAR image[MAX_PATH] = {};
    DWORD units = MAX_PATH;
    if (!QueryFullProcessImageNameW(process.get(), 0, image, &units)) return false;
    return TextEqualNoCase(image, program);
}

bool MonitorRuns(const WCHAR* title, const WCHAR* program) {
    HWND after = nullptr;
    for (int looked = 0; looked < kMostWindowsLookedAt; ++looked) {
        HWND window = FindWindowExW(nullptr, after, nullptr, title);
        if (window == nullptr) return false;
        if (IsMonitorWindow(window, program)) return true;
        after = window;
    }
    return false;
}

void StartMonitor(const WCHAR* program, LPWSTR printerName) {
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    // The monitor reads its command line as the printer name whole, so no
    // program name goes in front of it.
    CreateProcessW(program, printerName, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                   &process);
    if (process.hProcess != nullptr) CloseHandle(process.hProcess);
    if (process.hThread != nullptr) CloseHandle(process.hThread);
}

}  // namespace

void LaunchStatusMonitor(HANDLE printer) {
    QueriedBlock printerBlock = QueryPrinterInfo2(printer);
    if (!printerBlock.data) return;
    auto* info = reinterpret_cast<PRINTER_INFO_2W*>(printerBlock.data.get());
    if (info->pPrinterName == nullptr || info->pPrinterName[0] == 0) return;
    QueriedBlock driverBlock = QueryDriverInfo3(printer);
    if (!driverBlock.data || driverBlock.bytes < sizeof(DRIVER_INFO_3W)) return;
    MonitorPath path = {};
    if (!BuildMonitorPath(printer, driverBlock, &path)) return;
    WCHAR title[kStatusWindowTitleUnits];
    FormatStatusWindowTitle(title, info->pPrinterName);
    if (MonitorRuns(title, path.path)) return;
    StartMonitor(path.path, info->pPrinterName);
}
