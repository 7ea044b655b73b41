// The real larkmon.exe under Wine: started from the driver directory with
// the printer name as its whole command line, it ends at its port checks
// (the polling loop's SetPortW is missing in Wine) and logs why.
#include <fstream>
#include <string>

#include "wine_check.h"
#include "wine_harness.h"

namespace {

const wchar_t* const kLogPath = L"C:\\temp\\larkdeb\\larksm.txt";

std::wstring MonitorPath() {
    wchar_t directory[MAX_PATH] = {};
    DWORD needed = 0;
    if (!GetPrinterDriverDirectoryW(nullptr, nullptr, 1, reinterpret_cast<LPBYTE>(directory),
                                    sizeof directory, &needed)) {
        return L"";
    }
    return std::wstring(directory) + L"\\3\\larkmon.exe";
}

// Runs the monitor for the printer; its exit code, or -1.
long RunMonitor(const std::wstring& program, const wchar_t* printer) {
    std::wstring commandLine = printer;
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, &startup, &process)) {
        return -1;
    }
    DWORD code = static_cast<DWORD>(-1);
    if (WaitForSingleObject(process.hProcess, 30000) == WAIT_OBJECT_0) {
        GetExitCodeProcess(process.hProcess, &code);
    } else {
        TerminateProcess(process.hProcess, 1);
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return static_cast<long>(code);
}

std::string ReadLog() {
    FILE* file = _wfopen(kLogPath, L"rb");
    if (file == nullptr) return "";
    std::string text;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, n);
    fclose(file);
    return text;
}

}  // namespace

int main() {
    CreateDirectoryW(L"C:\\temp", nullptr);
    CreateDirectoryW(L"C:\\temp\\larkdeb", nullptr);
    const std::wstring program = MonitorPath();
    if (!CHECK(!program.empty())) return WINE_CHECK_SUMMARY();

    struct Case {
        const wchar_t* printer;
        const char* lines;  // the whole log of the run, CR LF line ends
    };
    const Case cases[] = {
        {kLarkLptPrinter, "PrinterStatus: Entering\r\nPrinter is not hooked upto a USB port\r\n"},
        {kLarkPrinter,
         "PrinterStatus: Entering\r\nPrinterStatus: Getting USB Port\r\nUnable to open USB "
         "port\r\n"},
        {L"No Such Printer", "PrinterStatus: Entering\r\nUnable to open printer\r\n"},
    };
    for (const Case& c : cases) {
        CHECK_NOTE("printer %ls", c.printer);
        DeleteFileW(kLogPath);
        CHECK_EQ(RunMonitor(program, c.printer), 0L);
        CHECK(ReadLog() == c.lines);
        if (ReadLog() != c.lines) std::printf("log was:\n%s\n", ReadLog().c_str());
        // The hidden window goes with the process.
        std::wstring title = std::wstring(c.printer) + L" - Status";
        CHECK(FindWindowW(L"PrinterStatus", title.c_str()) == nullptr);
    }
    return WINE_CHECK_SUMMARY();
}
