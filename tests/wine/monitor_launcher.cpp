#include "monitor_launcher.h"

#include <cstdio>

namespace larkwine {
namespace {

std::string Failed(const char* what) {
    char text[160];
    std::snprintf(text, sizeof text, "%s failed, error %lu", what, GetLastError());
    return text;
}

// Loads the DLL into the suspended process; true when its DllMain agreed.
bool LoadInto(HANDLE process, const std::wstring& dll, std::string* why) {
    const SIZE_T bytes = (dll.size() + 1) * sizeof(wchar_t);
    void* remote =
        VirtualAllocEx(process, nullptr, bytes, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    if (remote == nullptr) {
        *why = Failed("VirtualAllocEx");
        return false;
    }
    bool ok = false;
    if (!WriteProcessMemory(process, remote, dll.c_str(), bytes, nullptr)) {
        *why = Failed("WriteProcessMemory");
    } else {
        // kernel32 lies at the same address in every process of the prefix.
        auto load = reinterpret_cast<LPTHREAD_START_ROUTINE>(reinterpret_cast<void*>(
            GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "LoadLibraryW")));
        HANDLE thread = CreateRemoteThread(process, nullptr, 0, load, remote, 0, nullptr);
        if (thread == nullptr) {
            *why = Failed("CreateRemoteThread");
        } else {
            DWORD module = 0;
            if (WaitForSingleObject(thread, 20000) != WAIT_OBJECT_0) {
                *why = "the recorder's LoadLibraryW did not return";
            } else if (!GetExitCodeThread(thread, &module) || module == 0) {
                *why = "the recorder did not load (no import of SetPortW or MessageBoxW?)";
            } else {
                ok = true;
            }
            CloseHandle(thread);
        }
    }
    VirtualFreeEx(process, remote, 0, MEM_RELEASE);
    return ok;
}

}  // namespace

bool LaunchRecordedMonitor(const std::wstring& program, const std::wstring& commandLine,
                           const std::wstring& recorder, const std::wstring& recordFile,
                           PROCESS_INFORMATION* process, std::string* why) {
    *process = {};
    // The recorder finds its file in the environment the monitor inherits.
    SetEnvironmentVariableW(L"LARK_MONITOR_RECORD", recordFile.c_str());
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    std::wstring line = commandLine;
    const BOOL started = CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, FALSE,
                                        CREATE_SUSPENDED, nullptr, nullptr, &startup, process);
    SetEnvironmentVariableW(L"LARK_MONITOR_RECORD", nullptr);
    if (!started) {
        *why = Failed("CreateProcessW");
        *process = {};
        return false;
    }
    if (!LoadInto(process->hProcess, recorder, why)) {
        TerminateProcess(process->hProcess, 1);
        WaitForSingleObject(process->hProcess, 5000);
        CloseHandle(process->hThread);
        CloseHandle(process->hProcess);
        *process = {};
        return false;
    }
    ResumeThread(process->hThread);
    return true;
}

}  // namespace larkwine
