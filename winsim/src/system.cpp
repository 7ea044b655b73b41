// System services: language, time, sleep, the command line and the end of a
// process.
#include <sys/time.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "internal.h"

namespace {

std::u16string g_commandLine;
bool g_commandLineRead = false;

}  // namespace

// A machine setting ("language", hexadecimal), 0x0409 unless set.
WINSIM_API LANGID WINAPI GetSystemDefaultLangID(void) {
    std::string value = winsim::GetSetting("language", "0409");
    return static_cast<LANGID>(std::strtoul(value.c_str(), nullptr, 16));
}

WINSIM_API void WINAPI GetSystemTime(LPSYSTEMTIME time) {
    timeval now{};
    gettimeofday(&now, nullptr);
    time_t seconds = now.tv_sec;
    tm utc{};
    gmtime_r(&seconds, &utc);
    time->wYear = static_cast<WORD>(utc.tm_year + 1900);
    time->wMonth = static_cast<WORD>(utc.tm_mon + 1);
    time->wDayOfWeek = static_cast<WORD>(utc.tm_wday);
    time->wDay = static_cast<WORD>(utc.tm_mday);
    time->wHour = static_cast<WORD>(utc.tm_hour);
    time->wMinute = static_cast<WORD>(utc.tm_min);
    time->wSecond = static_cast<WORD>(utc.tm_sec);
    time->wMilliseconds = static_cast<WORD>(now.tv_usec / 1000);
}

// Scaled by the machine setting "sleep_scale" (1 unless set), so that tests
// run a monitor's polls quickly while it still asks for its 1000 ms.
WINSIM_API void WINAPI Sleep(DWORD milliseconds) {
    const double scale = std::strtod(winsim::GetSetting("sleep_scale", "1").c_str(), nullptr);
    auto micros = static_cast<long long>(milliseconds * 1000.0 * scale);
    if (micros > 0) std::this_thread::sleep_for(std::chrono::microseconds(micros));
}

// The command line that CreateProcessW gave this process (WINSIM_CMDLINE,
// UTF-8), exactly as given.
WINSIM_API LPWSTR WINAPI GetCommandLineW(void) {
    if (!g_commandLineRead) {
        const char* env = std::getenv("WINSIM_CMDLINE");
        g_commandLine = winsim::ToUtf16(env != nullptr ? env : "");
        g_commandLineRead = true;
    }
    return g_commandLine.data();
}

WINSIM_API HMODULE WINAPI GetModuleHandleW(LPCWSTR) {
    static int module;
    return reinterpret_cast<HMODULE>(&module);
}

WINSIM_API void WINAPI ExitProcess(UINT exitCode) {
    winsim::detail::RecordExit(exitCode);
    std::fflush(nullptr);
    std::_Exit(static_cast<int>(exitCode));
}
