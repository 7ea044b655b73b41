// The monitor's wait between polls as the platform gives it: a message
// loop of PeekMessageW and MsgWaitForMultipleObjects that answers what is
// sent to its window, a broadcast to every top-level window that waits for
// each window's thread, and the process's window station, which says
// whether a box would be seen.
#include <atomic>

#include "adapter.h"
#include "conformance.h"
#ifndef _WIN32
#include "winsim/control.h"
#endif

namespace {

constexpr DWORD kSentinel = 0xdeadbeef;
constexpr UINT kPing = 0x0400 + 9;  // WM_USER + 9: a message of this table's own
constexpr DWORD kPopup = 0x80000000;
const WCHAR kClass[] = TEXT("LarkConformanceLoop");
const WCHAR kSection[] = TEXT("LarkConformanceBroadcast");

std::atomic<long> g_frameSettings{0};  // WM_SETTINGCHANGE with kSection at the frame
std::atomic<long> g_childSettings{0};  // ... at its child
std::atomic<DWORD> g_settingThread{0};
std::atomic<bool> g_senderReturned{false};
std::atomic<bool> g_returnedBeforeRun{false};

bool SameText(const WCHAR* a, const WCHAR* b) {
    if (a == nullptr || b == nullptr) return false;
    for (; *a != 0 && *a == *b; ++a, ++b) {
    }
    return *a == *b;
}

LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_SETTINGCHANGE && SameText(reinterpret_cast<const WCHAR*>(lParam), kSection)) {
        if (GetParent(window) != nullptr) {
            ++g_childSettings;
        } else {
            ++g_frameSettings;
            g_settingThread = GetCurrentThreadId();
            if (g_senderReturned) g_returnedBeforeRun = true;
        }
        return 0;
    }
    if (message == kPing) return 77;
    return DefWindowProcW(window, message, wParam, lParam);
}

HWND Make(const WCHAR* title, DWORD style = kPopup, HWND parent = nullptr) {
    return CreateWindowExW(0, kClass, title, style, 0, 0, 50, 50, parent, nullptr,
                           GetModuleHandleW(nullptr), nullptr);
}

// A thread with a top-level window and its child that takes its messages
// only once the sender is about to broadcast, with the monitor's loop.
struct Owner {
    std::atomic<bool> ready{false}, sending{false};
    std::atomic<DWORD> thread{0};
};

DWORD WINAPI OwnWindows(LPVOID parameter) {
    auto* owner = static_cast<Owner*>(parameter);
    owner->thread = GetCurrentThreadId();
    HWND frame = Make(TEXT("Lark Broadcast"));
    HWND child = frame != nullptr ? Make(TEXT("Lark Broadcast Child"), WS_CHILD, frame) : nullptr;
    owner->ready = true;
    if (child == nullptr) return 1;
    while (!owner->sending) Sleep(1);
    // Still not taking messages for a moment: a broadcast that did not wait
    // for this thread would return now.
    Sleep(50);
    const DWORD start = GetTickCount();
    while (!g_senderReturned && GetTickCount() - start < 10000) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
    }
    DestroyWindow(frame);
    return 0;
}

}  // namespace

CONFORMANCE_COVERS(Rows,
                   "PeekMessageW TranslateMessage DispatchMessageW MsgWaitForMultipleObjects "
                   "GetTickCount GetProcessWindowStation GetUserObjectInformationW",
                   nullptr);

CONFORMANCE_TABLE(MessageLoop, "message loop, broadcast and window station") {
    WNDCLASSW c = {};
    c.lpfnWndProc = Procedure;
    c.hInstance = GetModuleHandleW(nullptr);
    c.lpszClassName = kClass;
    if (RegisterClassW(&c) == 0) {
        ctx.Fail("the table's window class does not register");
        return;
    }
    if (ctx.Begin("a broadcast waits until each top-level window's thread ran it; no child gets "
                  "it; it answers 1")) {
        Owner owner;
        g_frameSettings = 0;
        g_childSettings = 0;
        g_settingThread = 0;
        g_senderReturned = false;
        g_returnedBeforeRun = false;
        HANDLE thread = CreateThread(nullptr, 0, OwnWindows, &owner, 0, nullptr);
        if (ROW_CHECK(thread != nullptr)) {
            while (!owner.ready && WaitForSingleObject(thread, 1) == WAIT_TIMEOUT) {
            }
            owner.sending = true;
            LRESULT answer = SendMessageW(HWND_BROADCAST, WM_SETTINGCHANGE, 0,
                                          reinterpret_cast<LPARAM>(kSection));
            const long seen = g_frameSettings;
            g_senderReturned = true;
            ROW_EQ(WaitForSingleObject(thread, 15000), static_cast<DWORD>(WAIT_OBJECT_0));
            CloseHandle(thread);
            ROW_EQ(answer, 1);
            ROW_EQ(seen, 1);  // run before the broadcast returned
            ROW_EQ(g_settingThread.load(), owner.thread.load());
            ROW_EQ(g_childSettings.load(), 0);
            ROW_CHECK(!g_returnedBeforeRun);
        }
    }
    if (ctx.Begin("PeekMessageW: a posted quit with its code, kept by PM_NOREMOVE, taken by "
                  "PM_REMOVE; TranslateMessage and DispatchMessageW leave it")) {
        PostQuitMessage(3);
        MSG m = {};
        ROW_CHECK(PeekMessageW(&m, nullptr, 0, 0, PM_NOREMOVE));
        ROW_EQ(m.message, static_cast<UINT>(WM_QUIT));
        ROW_EQ(m.wParam, static_cast<WPARAM>(3));
        m = MSG{};
        ROW_CHECK(PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE));
        ROW_EQ(m.message, static_cast<UINT>(WM_QUIT));
        ROW_CHECK(m.hwnd == nullptr);
        ROW_EQ(TranslateMessage(&m), FALSE);
        ROW_EQ(DispatchMessageW(&m), 0);
        ROW_CHECK(!PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE));
    }
    if (ctx.Begin("DispatchMessageW runs the procedure of the message's window")) {
        HWND w = Make(TEXT("Lark Dispatch"));
        if (ROW_CHECK(w != nullptr)) {
            MSG m = {};
            m.hwnd = w;
            m.message = kPing;
            ROW_EQ(DispatchMessageW(&m), 77);
            DestroyWindow(w);
        }
    }
    if (ctx.Begin("MsgWaitForMultipleObjects without handles: WAIT_TIMEOUT when nothing comes, "
                  "WAIT_OBJECT_0 at once for a posted quit")) {
        const DWORD before = GetTickCount();
        ROW_EQ(MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT),
               static_cast<DWORD>(WAIT_TIMEOUT));
        ROW_CHECK(GetTickCount() - before < 0x80000000u);  // the clock never goes back
        PostQuitMessage(0);
        ROW_EQ(MsgWaitForMultipleObjects(0, nullptr, FALSE, 10000, QS_ALLINPUT),
               static_cast<DWORD>(WAIT_OBJECT_0));
        MSG m = {};
        ROW_CHECK(PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE) && m.message == WM_QUIT);
    }
    if (ctx.Begin("GetUserObjectInformationW UOI_FLAGS of the process's window station: a "
                  "short buffer fails with the size needed, then WSF_VISIBLE",
                  conformance::WineDiffers("Wine fails a short buffer with ERROR_BUFFER_OVERFLOW "
                                           "instead of ERROR_INSUFFICIENT_BUFFER"))) {
        HWINSTA station = GetProcessWindowStation();
        if (ROW_CHECK(station != nullptr)) {
            USEROBJECTFLAGS flags = {};
            DWORD needed = 0;
            SetLastError(kSentinel);
            ROW_CHECK(
                !GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof flags - 1, &needed));
            ROW_EQ(GetLastError(),
                   static_cast<DWORD>(ctx.WineExpectation() ? 111  // ERROR_BUFFER_OVERFLOW
                                                            : ERROR_INSUFFICIENT_BUFFER));
            ROW_EQ(needed, static_cast<DWORD>(sizeof flags));
            ROW_CHECK(GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof flags, &needed));
            ROW_EQ(flags.dwFlags & WSF_VISIBLE, static_cast<DWORD>(WSF_VISIBLE));
        }
    }
    if (ctx.Begin("a service's window station (session 0) is not visible",
                  conformance::WinsimOnly("the Wine prefix has only its visible WinSta0"))) {
#ifndef _WIN32
        winsim::SetSetting("window_station", "service");
        USEROBJECTFLAGS flags = {};
        flags.dwFlags = kSentinel;
        DWORD needed = 0;
        ROW_CHECK(GetUserObjectInformationW(GetProcessWindowStation(), UOI_FLAGS, &flags,
                                            sizeof flags, &needed));
        ROW_EQ(flags.dwFlags & WSF_VISIBLE, 0u);
        winsim::SetSetting("window_station", "");
#endif
    }
}
