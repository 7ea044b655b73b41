// Last error, the counts of what a process holds, and fault injection.
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <sstream>

#include "internal.h"

namespace {

thread_local DWORD t_lastError = 0;

std::atomic<long> g_counts[10];

struct Fault {
    int nth;  // 0: every call
    DWORD error;
};
std::mutex g_faultLock;
std::map<std::string, Fault> g_faults;
std::map<std::string, long> g_calls;
bool g_faultsFromEnvironment = false;

// Other processes (the monitor started by the driver) take their faults
// from the environment, since they cannot be reached by a call.
void LoadEnvironmentFaults() {
    if (g_faultsFromEnvironment) return;
    g_faultsFromEnvironment = true;
    const char* env = std::getenv("WINSIM_FAULTS");
    if (env == nullptr) return;
    std::string spec = env;
    size_t start = 0;
    while (start < spec.size()) {
        size_t comma = spec.find(',', start);
        if (comma == std::string::npos) comma = spec.size();
        std::string item = spec.substr(start, comma - start);
        size_t c1 = item.find(':');
        if (c1 != std::string::npos) {
            size_t c2 = item.find(':', c1 + 1);
            Fault f{std::atoi(item.substr(c1 + 1, c2 - c1 - 1).c_str()), ERROR_GEN_FAILURE};
            if (c2 != std::string::npos)
                f.error = static_cast<DWORD>(std::atol(item.c_str() + c2 + 1));
            g_faults[item.substr(0, c1)] = f;
        }
        start = comma + 1;
    }
}

}  // namespace

WINSIM_API DWORD WINAPI GetLastError(void) { return t_lastError; }

WINSIM_API void WINAPI SetLastError(DWORD error) { t_lastError = error; }

namespace winsim {

namespace detail {

void CountUp(Held what) { ++g_counts[static_cast<int>(what)]; }
void CountDown(Held what) { --g_counts[static_cast<int>(what)]; }

bool ShouldFail(const char* function, DWORD* error) {
    std::lock_guard<std::mutex> guard(g_faultLock);
    LoadEnvironmentFaults();
    ++g_calls[function];
    auto it = g_faults.find(function);
    if (it == g_faults.end()) return false;
    *error = it->second.error;
    if (it->second.nth == 0) return true;
    if (--it->second.nth == 0) {
        g_faults.erase(it);
        return true;
    }
    return false;
}

bool Faulted(const char* function) {
    DWORD error = 0;
    if (!ShouldFail(function, &error)) return false;
    SetLastError(error);
    return true;
}

}  // namespace detail

Counts CurrentCounts() {
    Counts c;
    c.printerHandles = g_counts[0];
    c.kernelHandles = g_counts[1];
    c.registryKeys = g_counts[2];
    c.deviceInfoLists = g_counts[3];
    c.heapBlocks = g_counts[4];
    c.globalBlocks = g_counts[5];
    c.localBlocks = g_counts[6];
    c.openFiles = g_counts[7];
    c.bstrs = g_counts[8];
    c.monikers = g_counts[9];
    return c;
}

// process_exits keeps the counts after pid and code in the order of Counts.
void detail::RecordExit(UINT exitCode) {
    if (!MachineExists(MachineRoot())) return;
    Counts held = CurrentCounts();
    detail::Exec("INSERT OR REPLACE INTO process_exits VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?, ?)",
                 {detail::P(static_cast<int64_t>(getpid())), detail::P(int64_t{exitCode}),
                  detail::P(int64_t{held.printerHandles}), detail::P(int64_t{held.kernelHandles}),
                  detail::P(int64_t{held.registryKeys}), detail::P(int64_t{held.deviceInfoLists}),
                  detail::P(int64_t{held.heapBlocks}), detail::P(int64_t{held.globalBlocks}),
                  detail::P(int64_t{held.localBlocks}), detail::P(int64_t{held.openFiles})});
    std::string calls;
    {
        std::lock_guard<std::mutex> guard(g_faultLock);
        for (const auto& [function, n] : g_calls)
            calls += function + " " + std::to_string(n) + "\n";
    }
    detail::Exec("INSERT OR REPLACE INTO process_calls VALUES(?, ?)",
                 {detail::P(static_cast<int64_t>(getpid())), detail::P(calls)});
}

std::map<std::string, long> ExitCallCounts(int pid) {
    std::map<std::string, long> calls;
    detail::Exec(
        "SELECT calls FROM process_calls WHERE pid = ?", {detail::P(int64_t{pid})},
        [&](sqlite3_stmt* s) {
            std::istringstream in(reinterpret_cast<const char*>(sqlite3_column_text(s, 0)));
            std::string function;
            long n = 0;
            while (in >> function >> n) calls[function] = n;
        });
    return calls;
}

bool ExitCounts(int pid, Counts* held, UINT* exitCode) {
    bool found = false;
    detail::Exec(
        "SELECT code, printers, kernel, keys, device_lists, heap, global, local, files"
        " FROM process_exits WHERE pid = ?",
        {detail::P(int64_t{pid})}, [&](sqlite3_stmt* s) {
            found = true;
            *exitCode = static_cast<UINT>(sqlite3_column_int64(s, 0));
            long* fields[] = {&held->printerHandles,  &held->kernelHandles, &held->registryKeys,
                              &held->deviceInfoLists, &held->heapBlocks,    &held->globalBlocks,
                              &held->localBlocks,     &held->openFiles};
            for (int i = 0; i < 8; ++i) *fields[i] = sqlite3_column_int64(s, i + 1);
        });
    return found;
}

void FailCall(const std::string& function, int nth, DWORD error) {
    std::lock_guard<std::mutex> guard(g_faultLock);
    LoadEnvironmentFaults();
    g_faults[function] = Fault{nth, error};
}

void ClearFaults() {
    std::lock_guard<std::mutex> guard(g_faultLock);
    LoadEnvironmentFaults();
    g_faults.clear();
}

long CallCount(const std::string& function) {
    std::lock_guard<std::mutex> guard(g_faultLock);
    auto it = g_calls.find(function);
    return it == g_calls.end() ? 0 : it->second;
}

}  // namespace winsim
