// CreateProcessW: starts a program of the machine (a host executable at the
// mapped path) with exactly the given command line. The new process and its
// first thread get handles of the kernel handle registry, so CloseHandle
// closes them and the accounting sees them; closing them neither waits for
// nor stops the process, as on Windows. OpenProcess and
// QueryFullProcessImageNameW tell which program a process runs.
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <mutex>
#include <set>
#include <thread>

#include "internal.h"

namespace {

struct ProcessObject {
    int pid;
    DWORD access;
    std::u16string image;  // as the process was started
};
struct ThreadObject {
    int pid;
};

std::mutex g_processLock;
std::set<const void*>& ProcessObjects() {
    static std::set<const void*> objects;
    return objects;
}

void CloseProcess(HANDLE handle) {
    {
        std::lock_guard<std::mutex> guard(g_processLock);
        ProcessObjects().erase(handle);
    }
    delete static_cast<ProcessObject*>(handle);
}
void CloseThread(HANDLE handle) { delete static_cast<ThreadObject*>(handle); }

HANDLE NewProcessHandle(int pid, DWORD access, std::u16string image) {
    auto* process = new ProcessObject{pid, access, std::move(image)};
    {
        std::lock_guard<std::mutex> guard(g_processLock);
        ProcessObjects().insert(process);
    }
    winsim::detail::RegisterKernelHandle(process, CloseProcess);
    return process;
}

// A program started on the machine carries its Windows path in
// WINSIM_IMAGE; any other process (a test, larksim) is a host program,
// which Windows paths reach through drive Z:, as under Wine.
std::u16string ImageOf(int pid) {
    const std::string proc = "/proc/" + std::to_string(pid);
    std::ifstream in(proc + "/environ", std::ios::binary);
    std::string environ((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::string key = "WINSIM_IMAGE=";
    for (size_t at = 0; at < environ.size();) {
        size_t end = environ.find('\0', at);
        if (end == std::string::npos) end = environ.size();
        if (environ.compare(at, key.size(), key) == 0) {
            return winsim::ToUtf16(environ.substr(at + key.size(), end - at - key.size()));
        }
        at = end + 1;
    }
    char host[4096];
    ssize_t n = readlink((proc + "/exe").c_str(), host, sizeof host - 1);
    if (n <= 0) return u"";
    std::string path = "Z:" + std::string(host, static_cast<size_t>(n));
    for (char& c : path) {
        if (c == '/') c = '\\';
    }
    return winsim::ToUtf16(path);
}

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
    HANDLE process = NewProcessHandle(pid, PROCESS_ALL_ACCESS, program);
    auto* thread = new ThreadObject{pid};
    winsim::detail::RegisterKernelHandle(thread, CloseThread);
    info->hProcess = process;
    info->hThread = thread;
    info->dwProcessId = static_cast<DWORD>(pid);
    info->dwThreadId = static_cast<DWORD>(pid);
    return TRUE;
}

// A running process of this host by its ID, with the access asked for
// (granted as asked: every process here is the caller's user's). The
// System Idle Process (0) or a process that has ended: null and
// ERROR_INVALID_PARAMETER.
WINSIM_API HANDLE WINAPI OpenProcess(DWORD access, BOOL, DWORD processId) {
    if (winsim::detail::Faulted("OpenProcess")) return nullptr;
    const int pid = static_cast<int>(processId);
    if (pid <= 0 || !winsim::ProcessAlive(pid)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return NewProcessHandle(pid, access, ImageOf(pid));
}

// The process's program in the Win32 form (flags 0; the native form is not
// given here: ERROR_INVALID_PARAMETER). *units is the buffer's size in
// characters; on success it becomes the count written without the
// terminator. Too small a buffer: ERROR_INSUFFICIENT_BUFFER, nothing
// written. A handle without PROCESS_QUERY_(LIMITED_)INFORMATION:
// ERROR_ACCESS_DENIED; not a process handle: ERROR_INVALID_HANDLE.
WINSIM_API BOOL WINAPI QueryFullProcessImageNameW(HANDLE process, DWORD flags, LPWSTR name,
                                                  PDWORD units) {
    if (winsim::detail::Faulted("QueryFullProcessImageNameW")) return FALSE;
    std::u16string image;
    DWORD access = 0;
    {
        std::lock_guard<std::mutex> guard(g_processLock);
        if (ProcessObjects().count(process) == 0) {
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
        image = static_cast<const ProcessObject*>(process)->image;
        access = static_cast<const ProcessObject*>(process)->access;
    }
    if ((access & (PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_QUERY_INFORMATION)) == 0) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (flags != 0 || units == nullptr || (name == nullptr && *units != 0)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (image.empty()) {
        SetLastError(ERROR_GEN_FAILURE);
        return FALSE;
    }
    if (*units < image.size() + 1) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    image.copy(name, image.size());
    name[image.size()] = 0;
    *units = static_cast<DWORD>(image.size());
    return TRUE;
}
