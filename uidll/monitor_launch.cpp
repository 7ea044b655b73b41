#include "monitor_launch.h"

#include "spooler_query.h"
#include "status_window.h"
#include "text.h"

namespace {

// The driver directory is asked for with 256 bytes; the name of the monitor
// with 32 bytes into a zeroed 64-byte buffer. The spooler stores the name
// without its terminator, so the spare zeroes end it; a longer name is not
// read at all and the launch is skipped.
struct MonitorPath {
    WCHAR directory[256];
    WCHAR monitorName[32];
    WCHAR path[MAX_PATH];
};

bool BuildMonitorPath(HANDLE printer, DWORD driverVersion, MonitorPath* p) {
    DWORD needed = 0;
    GetPrinterDriverDirectoryW(nullptr, nullptr, 1, reinterpret_cast<LPBYTE>(p->directory), 256,
                               &needed);
    WCHAR valueName[] = TEXT("StatusMonitor");
    GetPrinterDataW(printer, valueName, nullptr, reinterpret_cast<LPBYTE>(p->monitorName), 32,
                    &needed);
    if (p->monitorName[0] == 0) return false;
    TextFormat(p->path, MAX_PATH, TEXT("%s\\%d\\%s"), p->directory, static_cast<int>(driverVersion),
               p->monitorName);
    return true;
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
    WCHAR title[kStatusWindowTitleUnits];
    FormatStatusWindowTitle(title, info->pPrinterName);
    if (FindWindowW(nullptr, title) != nullptr) return;
    QueriedBlock driverBlock = QueryDriverInfo3(printer);
    if (!driverBlock.data) return;
    auto* driver = reinterpret_cast<const DRIVER_INFO_3W*>(driverBlock.data.get());
    MonitorPath path = {};
    if (!BuildMonitorPath(printer, driver->cVersion, &path)) return;
    StartMonitor(path.path, info->pPrinterName);
}
