// CreateProcessW as the monitor's launch relies on it: a missing program
// fails with ERROR_FILE_NOT_FOUND and no handles, a program that starts
// gives a process and a thread handle that the caller closes, each once,
// without waiting for the process.
#include <cstring>
#include <vector>

#include "adapter.h"
#include "conformance.h"

namespace {

long Handles() { return conformance::Held("handles"); }

}  // namespace

CONFORMANCE_TABLE(CreateProcess, "CreateProcessW of the monitor's launch") {
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    // The whole command line is a name, as the monitor's is.
    std::basic_string<WCHAR> line = TEXT("No Such Printer");
    if (ctx.Begin("a missing program: FALSE, ERROR_FILE_NOT_FOUND, no handles")) {
        PROCESS_INFORMATION info = {};
        SetLastError(0xdeadbeef);
        ROW_CHECK(!CreateProcessW(TEXT("C:\\nothing.exe"), line.data(), nullptr, nullptr, FALSE, 0,
                                  nullptr, nullptr, &startup, &info));
        ROW_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
        ROW_CHECK(info.hProcess == nullptr);
        ROW_CHECK(info.hThread == nullptr);
    }
    if (ctx.Begin("a program that starts: two handles, each closed once")) {
        const long before = Handles();
        // The monitor itself: with no such printer it ends at once.
        std::basic_string<WCHAR> program = conformance::DriverFolder() + TEXT("larkmon.exe");
        PROCESS_INFORMATION info = {};
        if (ROW_CHECK(CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, FALSE, 0,
                                     nullptr, nullptr, &startup, &info))) {
            ROW_CHECK(info.hProcess != nullptr && info.hThread != nullptr);
            if (ctx.Counted(before, "handles")) ROW_EQ(Handles(), before + 2);
            ROW_CHECK(CloseHandle(info.hProcess));
            ROW_CHECK(CloseHandle(info.hThread));
            SetLastError(0xdeadbeef);
            ROW_CHECK(!CloseHandle(info.hThread));
            ROW_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
            if (ctx.Counted(before, "handles")) ROW_EQ(Handles(), before);
        }
    }
}
