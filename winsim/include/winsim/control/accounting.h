// What a process holds of the platform, its threads, the calls it made, and
// platform calls made to fail.
#pragma once

#include <map>
#include <string>

#include "winsim/windows.h"

namespace winsim {

// What this process holds of the platform.
struct Counts {
    long printerHandles = 0;
    long kernelHandles = 0;
    long registryKeys = 0;
    long deviceInfoLists = 0;
    long heapBlocks = 0;
    long globalBlocks = 0;
    long localBlocks = 0;
    long openFiles = 0;  // C runtime streams from _wfopen
    long bstrs = 0;      // SysAllocString strings not yet freed
    long monikers = 0;   // CreateURLMoniker objects not yet released
    bool operator==(const Counts&) const = default;
};
Counts CurrentCounts();

// What a process of the machine still held when it called ExitProcess, so a
// test can hold another process to the same accounting as its own.
bool ExitCounts(int pid, Counts* held, UINT* exitCode);
// The platform calls that process made, per function, up to its ExitProcess,
// so a fault sweep can count the calls of a road run in another process.
std::map<std::string, long> ExitCallCounts(int pid);

// Threads that CreateThread made in this process and that have not ended
// (a suspended one counts until it runs or its handle closes), and a wait
// until none is left: false when one still lives at the timeout.
long LiveThreadCount();
bool WaitForProcessThreads(DWORD timeoutMs);
// Threads that were still to run or running in a module as its last
// reference went: each would have faulted on Windows.
long UnloadedModuleThreads();

// Fault injection: the nth call from now of the named platform function
// fails with the given error (nth 0: every call). Other processes take
// faults from WINSIM_FAULTS ("Name:nth[:error],...") at start.
void FailCall(const std::string& function, int nth, DWORD error = ERROR_GEN_FAILURE);
void ClearFaults();
long CallCount(const std::string& function);  // calls seen since start

}  // namespace winsim
