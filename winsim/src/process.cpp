// CreateProcessW: starts a program of the machine (a host executable at the
// mapped path) with exactly the given command line. The new process and its
// first thread get handles of the kernel handle registry, so CloseHandle
// closes them and the accounting sees them; closing them neither waits for
// nor stops the process, as on Windows.
#include <sys/wait.h>
#include <unistd.h>

#include <thread>

#include "internal.h"

namespace {

struct ProcessObject {
    int pid;
};
struct ThreadObject {
    int pid;
};

void CloseProcess(HANDLE handle) { delete static_cast<ProcessObject*>(handle); }
void CloseThread(HANDLE handle) { delete static_cast<ThreadObject*>(handle); }

// Windows reaps its processes itself; here a detached waiter does, so a
// monitor that ends never lingers as a zombie of the printing application.
void ReapWhenDone(int pid) {
    std::thread([pid] {
        int status = 0;
        waitpid(pid, &status, 0);
    }).detach();
}

// With no application name, the program is the command line's first token
// (quoted or up to the first blank).
std::u16string ProgramOf(LPCWSTR application, LPCWSTR commandLine) {
    if (application != nullptr) return winsim::detail::Str(application);
    std::u16string line = winsim::detail::Str(commandLine);
    if (!line.empty() && line[0] == u'"') {
        size_t close = line.find(u'"', 1);
        return line.substr(1, close == std::u16string::npos ? std::u16string::npos : close - 1);
    }
    return line.substr(0, line.find(u' '));
}

}  // namespace

namespace winsim {

std::vector<ProcessStart> ProcessStarts() {
    std::vector<ProcessStart> starts;
    detail::Exec("SELECT pid, parent, program, micros FROM process_starts ORDER BY rowid", {},
                 [&](sqlite3_stmt* s) {
                     ProcessStart p;
                     p.pid = sqlite3_column_int(s, 0);
                     p.parent = sqlite3_column_int(s, 1);
                     p.program = detail::ColumnText16(s, 2);
                     p.micros = sqlite3_column_int64(s, 3);
                     starts.push_back(p);
                 });
    return starts;
}

}  // namespace winsim

WINSIM_API BOOL WINAPI CreateProcessW(LPCWSTR application, LPWSTR commandLine,
                                      LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES, BOOL, DWORD,
                                      LPVOID, LPCWSTR, LPSTARTUPINFOW startup,
                                      LPPROCESS_INFORMATION info) {
    if (info != nullptr) *info = PROCESS_INFORMATION{};
    if (winsim::detail::Faulted("CreateProcessW")) return FALSE;
    if (info == nullptr || startup == nullptr ||
        (application == nullptr && commandLine == nullptr)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::u16string program = ProgramOf(application, commandLine);
    std::u16string line = commandLine != nullptr ? winsim::detail::Str(commandLine) : program;
    int pid = 0;
    if (!winsim::StartProgram(program, line, &pid)) return FALSE;  // last error set
    ReapWhenDone(pid);
    winsim::detail::Exec(
        "INSERT INTO process_starts(pid, parent, program, micros) VALUES(?, ?, ?, ?)",
        {winsim::detail::P(static_cast<int64_t>(pid)),
         winsim::detail::P(static_cast<int64_t>(getpid())), winsim::detail::P(program),
         winsim::detail::P(winsim::detail::NowMicros())});
    auto* process = new ProcessObject{pid};
    auto* thread = new ThreadObject{pid};
    winsim::detail::RegisterKernelHandle(process, CloseProcess);
    winsim::detail::RegisterKernelHandle(thread, CloseThread);
    info->hProcess = process;
    info->hThread = thread;
    info->dwProcessId = static_cast<DWORD>(pid);
    info->dwThreadId = static_cast<DWORD>(pid);
    return TRUE;
}
