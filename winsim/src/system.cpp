// System services: language, time, sleep, the command line and the end of a
// process.
#include <sys/time.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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

namespace {

// The machine setting "clock": "HH:MM:SS.mmm" (today's date) or
// "YYYY-MM-DD HH:MM:SS.mmm". False when unset or unreadable.
bool MachineClock(tm* utc, int* millis) {
    std::string clock = winsim::GetSetting("clock", "");
    if (clock.empty()) return false;
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, ms = 0;
    int used = 0;
    if (std::sscanf(clock.c_str(), "%d-%d-%d %d:%d:%d.%d%n", &year, &month, &day, &hour, &minute,
                    &second, &ms, &used) == 7 &&
        used == static_cast<int>(clock.size())) {
        utc->tm_year = year - 1900;
        utc->tm_mon = month - 1;
        utc->tm_mday = day;
    } else if (std::sscanf(clock.c_str(), "%d:%d:%d.%d%n", &hour, &minute, &second, &ms, &used) ==
                   4 &&
               used == static_cast<int>(clock.size())) {
        time_t now = time(nullptr);
        gmtime_r(&now, utc);
    } else {
        return false;
    }
    if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59 || ms < 0 ||
        ms > 999)
        return false;
    utc->tm_hour = hour;
    utc->tm_min = minute;
    utc->tm_sec = second;
    time_t when = timegm(utc);  // normalises the date and finds its weekday
    gmtime_r(&when, utc);
    *millis = ms;
    return true;
}

}  // namespace

// The machine's clock when set (it then stands still, so titles made of the
// time repeat from run to run), else the host's UTC time.
WINSIM_API void WINAPI GetSystemTime(LPSYSTEMTIME time) {
    tm utc{};
    int millis = 0;
    if (!MachineClock(&utc, &millis)) {
        timeval now{};
        gettimeofday(&now, nullptr);
        time_t seconds = now.tv_sec;
        gmtime_r(&seconds, &utc);
        millis = static_cast<int>(now.tv_usec / 1000);
    }
    time->wYear = static_cast<WORD>(utc.tm_year + 1900);
    time->wMonth = static_cast<WORD>(utc.tm_mon + 1);
    time->wDayOfWeek = static_cast<WORD>(utc.tm_wday);
    time->wDay = static_cast<WORD>(utc.tm_mday);
    time->wHour = static_cast<WORD>(utc.tm_hour);
    time->wMinute = static_cast<WORD>(utc.tm_min);
    time->wSecond = static_cast<WORD>(utc.tm_sec);
    time->wMilliseconds = static_cast<WORD>(millis);
}

// Machine settings "os_platform_id" (2, NT), "os_major" (10), "os_minor"
// (0) and "os_build" (19045). The record's size must be that of
// OSVERSIONINFOW or of the longer OSVERSIONINFOEXW, whose tail stays zero.
WINSIM_API BOOL WINAPI GetVersionExW(LPOSVERSIONINFOW info) {
    if (winsim::detail::Faulted("GetVersionExW")) return FALSE;
    constexpr DWORD kExSize = sizeof(OSVERSIONINFOW) + 8;
    if (info == nullptr || (info->dwOSVersionInfoSize != sizeof(OSVERSIONINFOW) &&
                            info->dwOSVersionInfoSize != kExSize)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    DWORD size = info->dwOSVersionInfoSize;
    std::memset(info, 0, size);
    info->dwOSVersionInfoSize = size;
    auto setting = [](const char* key, const char* fallback) {
        return static_cast<DWORD>(
            std::strtoul(winsim::GetSetting(key, fallback).c_str(), nullptr, 10));
    };
    info->dwPlatformId = setting("os_platform_id", "2");
    info->dwMajorVersion = setting("os_major", "10");
    info->dwMinorVersion = setting("os_minor", "0");
    info->dwBuildNumber = setting("os_build", "19045");
    return TRUE;
}

// Scaled by the machine setting "sleep_scale" (1 unless set), so that tests
// run a monitor's polls quickly while it still asks for its 1000 ms.
WINSIM_API void WINAPI Sleep(DWORD milliseconds) {
    auto micros = static_cast<long long>(milliseconds * 1000.0 * winsim::detail::SleepScale());
    if (micros > 0) std::this_thread::sleep_for(std::chrono::microseconds(micros));
}

double winsim::detail::SleepScale() {
    return std::strtod(winsim::GetSetting("sleep_scale", "1").c_str(), nullptr);
}

// Wraps around after 49.7 days, as on Windows; the host's clock, so a
// program that measures a scaled wait with it sees the time really passed.
WINSIM_API DWORD WINAPI GetTickCount(void) {
    auto since = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<DWORD>(std::chrono::duration_cast<std::chrono::milliseconds>(since).count());
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

WINSIM_API void WINAPI ExitProcess(UINT exitCode) {
    winsim::detail::RecordExit(exitCode);
    std::fflush(nullptr);
    std::_Exit(static_cast<int>(exitCode));
}

int64_t winsim::detail::NowMicros() {
    timeval now{};
    gettimeofday(&now, nullptr);
    return static_cast<int64_t>(now.tv_sec) * 1000000 + now.tv_usec;
}
