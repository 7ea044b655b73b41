// Processes as the driver and the monitor rely on them. CreateProcessW's
// rows are the monitor launch's (create_process.cpp); the monitor's own
// command line and end can be held by no row of this process.
#include "conformance.h"

CONFORMANCE_COVERS(Rows, "CreateProcessW", nullptr);
CONFORMANCE_COVERS(NoRow, "GetCommandLineW",
                   "what a started program gets from its starter; this process was started by "
                   "the test runner, so only the monitor's own runs can hold it");
CONFORMANCE_COVERS(NoRow, "ExitProcess",
                   "ends the calling process, so no row goes on after it; the monitor's runs "
                   "hold its exit code and what it held");

#include <string>

#include "adapter.h"

CONFORMANCE_COVERS(Rows,
                   "FindWindowExW GetWindowThreadProcessId OpenProcess QueryFullProcessImageNameW",
                   nullptr);

namespace {

constexpr DWORD kProcessSentinel = 0xdeadbeef;

LRESULT CALLBACK PlainProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcW(window, message, wParam, lParam);
}

// The program a started process runs, as QueryFullProcessImageNameW names it.
std::basic_string<WCHAR> ImageOf(HANDLE process, DWORD units, BOOL* answer, DWORD* written) {
    std::basic_string<WCHAR> image(512, 0);
    *written = units;
    *answer = QueryFullProcessImageNameW(process, 0, image.data(), written);
    image.resize(*answer ? *written : 0);
    return image;
}

}  // namespace

CONFORMANCE_TABLE(ProcessImages, "whose window, which program") {
    WNDCLASSW wc = {};
    wc.lpfnWndProc = PlainProcedure;
    wc.lpszClassName = TEXT("LarkConformanceOwned");
    RegisterClassW(&wc);
    const WCHAR title[] = TEXT("Lark Conformance Owned - Status");
    if (ctx.Begin("FindWindowExW walks every top-level window of a title once, then null")) {
        HWND made[3] = {};
        for (HWND& w : made) {
            w = CreateWindowExW(0, wc.lpszClassName, title, 0, 0, 0, 0, 0, nullptr, nullptr,
                                nullptr, nullptr);
            ROW_CHECK(w != nullptr);
        }
        int found = 0, foreign = 0;
        HWND after = nullptr;
        for (int i = 0; i < 10; ++i) {
            after = FindWindowExW(nullptr, after, nullptr, title);
            if (after == nullptr) break;
            ++found;
            foreign += after != made[0] && after != made[1] && after != made[2];
        }
        ROW_EQ(found, 3);
        ROW_EQ(foreign, 0);
        for (HWND w : made) {
            if (w != nullptr) DestroyWindow(w);
        }
        ROW_CHECK(FindWindowExW(nullptr, nullptr, nullptr, title) == nullptr);
    }
    if (ctx.Begin("GetWindowThreadProcessId: the window's thread and process; none for a window "
                  "that is gone")) {
        HWND w = CreateWindowExW(0, wc.lpszClassName, title, 0, 0, 0, 0, 0, nullptr, nullptr,
                                 nullptr, nullptr);
        DWORD process = 0;
        ROW_EQ(GetWindowThreadProcessId(w, &process), GetCurrentThreadId());
        ROW_CHECK(process != 0);
        DestroyWindow(w);
        process = kProcessSentinel;
        SetLastError(kProcessSentinel);
        ROW_EQ(GetWindowThreadProcessId(w, &process), 0ul);
        ROW_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
    }
    if (ctx.Begin("OpenProcess of process 0 (the idle process): ERROR_INVALID_PARAMETER")) {
        SetLastError(kProcessSentinel);
        ROW_CHECK(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, 0) == nullptr);
        ROW_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    }
    // The monitor as the driver starts it; it ends at once here (no USB
    // printer), and its process handle still names its program.
    const std::basic_string<WCHAR> program = conformance::DriverFolder() + TEXT("larkmon.exe");
    if (ctx.Begin("QueryFullProcessImageNameW of a started program: the path it was started "
                  "with; one unit short: ERROR_INSUFFICIENT_BUFFER")) {
        STARTUPINFOW startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION started = {};
        std::basic_string<WCHAR> line = TEXT("Lark Conformance Image");
        ROW_CHECK(CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                 nullptr, &startup, &started));
        BOOL answer = FALSE;
        DWORD written = 0;
        std::basic_string<WCHAR> image = ImageOf(started.hProcess, 512, &answer, &written);
        ROW_CHECK(answer);
        ROW_EQ(written, static_cast<DWORD>(program.size()));
        ROW_TEXT(image.c_str(), program.c_str());
        SetLastError(kProcessSentinel);
        ImageOf(started.hProcess, static_cast<DWORD>(program.size()), &answer, &written);
        ROW_CHECK(!answer);
        ROW_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
        if (started.hProcess != nullptr) CloseHandle(started.hProcess);
        if (started.hThread != nullptr) CloseHandle(started.hThread);
    }
    if (ctx.Begin("OpenProcess with PROCESS_QUERY_LIMITED_INFORMATION of a window's process: "
                  "its program, not the driver's monitor")) {
        HWND w = CreateWindowExW(0, wc.lpszClassName, title, 0, 0, 0, 0, 0, nullptr, nullptr,
                                 nullptr, nullptr);
        DWORD id = 0;
        GetWindowThreadProcessId(w, &id);
        HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id);
        ROW_CHECK(process != nullptr);
        BOOL answer = FALSE;
        DWORD written = 0;
        std::basic_string<WCHAR> image = ImageOf(process, 512, &answer, &written);
        ROW_CHECK(answer);
        ROW_CHECK(!image.empty() && image != program);
        if (process != nullptr) CloseHandle(process);
        DestroyWindow(w);
    }
}
