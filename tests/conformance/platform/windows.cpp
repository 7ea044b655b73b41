// Windows as the driver and the monitor rely on them: window classes, the
// monitor's hidden window found by its title, the sheet's frame found by
// the title the driver gives it, moved out of view and its OK button
// pressed from another thread with SendMessageW, which waits until the
// frame's own thread has run the message. A window belongs to the thread
// that made it: moved from another thread, it moves when its thread takes
// its messages; the focus is each thread's own, the cursor everybody's.
#include <atomic>
#include <string>

#include "adapter.h"
#include "conformance.h"
#ifndef _WIN32
#include "winsim/control.h"
#endif

namespace {

constexpr DWORD kSentinel = 0xdeadbeef;
constexpr UINT kPing = 0x0400 + 7;   // WM_USER + 7: a message of this table's own
constexpr UINT kRelay = 0x0400 + 8;  // sends kPing on to g_relayTo, answers its answer + 1
const WCHAR kClass[] = TEXT("LarkConformanceWindow");
const WCHAR kStatusClass[] = TEXT("LarkConformanceStatus");
const WCHAR kDefaultClass[] = TEXT("LarkConformanceDefault");
constexpr DWORD kPopup = 0x80000000;  // WS_POPUP: no frame to keep a least size for

std::atomic<DWORD> g_pingThread{0};
std::atomic<bool> g_senderReturned{false};
std::atomic<bool> g_returnedWhileRunning{false};
std::atomic<bool> g_destroyed{false};
std::atomic<HWND> g_relayTo{nullptr};
std::atomic<DWORD> g_movedOn{0};  // the thread the last WM_WINDOWPOSCHANGED ran on

LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == kPing) {
        g_pingThread = GetCurrentThreadId();
        if (g_senderReturned) g_returnedWhileRunning = true;
        return 77;
    }
    if (message == kRelay) return SendMessageW(g_relayTo, kPing, 0, 0) + 1;
    if (message == WM_WINDOWPOSCHANGED) g_movedOn = GetCurrentThreadId();
    return DefWindowProcW(window, message, wParam, lParam);
}

// The monitor's procedure: WM_DESTROY ends the thread's message loop.
LRESULT CALLBACK StatusProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_DESTROY) {
        g_destroyed = true;
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

ATOM Register(const WCHAR* name, WNDPROC procedure) {
    WNDCLASSW c = {};
    c.style = CS_VREDRAW | CS_HREDRAW | CS_SAVEBITS;
    c.lpfnWndProc = procedure;
    c.hInstance = GetModuleHandleW(nullptr);
    c.hIcon = LoadIconW(nullptr, IDI_APPLICATION);
    c.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    c.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    c.lpszClassName = name;
    return RegisterClassW(&c);
}

HWND Make(const WCHAR* title, DWORD style = kPopup, HWND parent = nullptr, int id = 0,
          const WCHAR* className = kClass) {
    return CreateWindowExW(0, className, title, style, 10, 20, 300, 200, parent,
                           reinterpret_cast<HMENU>(static_cast<ULONG_PTR>(id)),
                           GetModuleHandleW(nullptr), nullptr);
}

bool Placed(HWND window, LONG x, LONG y, LONG cx, LONG cy) {
    RECT r = {};
    return GetWindowRect(window, &r) && r.left == x && r.top == y && r.right - r.left == cx &&
           r.bottom - r.top == cy;
}

// What the window's own thread does once the sender is about to send.
enum class Owner { Pumps, Destroys, Ends };
struct Rendezvous {
    Owner owner = Owner::Pumps;
    std::atomic<HWND> window{nullptr};
    std::atomic<DWORD> thread{0};
    std::atomic<bool> sending{false};
};

DWORD WINAPI OwnWindow(LPVOID parameter) {
    auto* r = static_cast<Rendezvous*>(parameter);
    r->thread = GetCurrentThreadId();
    HWND window = Make(TEXT("Lark Rendezvous"));
    r->window = window;
    if (window == nullptr) return 1;
    if (r->owner == Owner::Pumps) {
        conformance::PumpMessages(5000, [] { return g_senderReturned.load(); });
        DestroyWindow(window);
        return 0;
    }
    while (!r->sending) Sleep(1);
    if (r->owner == Owner::Destroys) {
        DestroyWindow(window);
        conformance::PumpMessages(20, [] { return false; });
    }
    return 0;  // Ends: the window goes with its thread
}

DWORD WINAPI StatusWindow(LPVOID) {
    HWND window =
        Make(TEXT("Lark Conformance - Status"), WS_OVERLAPPEDWINDOW, nullptr, 0, kStatusClass);
    if (window == nullptr) return 1;
    ShowWindow(window, SW_HIDE);
    UpdateWindow(window);
    DestroyWindow(window);
    return 0;
}

// A window on a thread of its own, which takes its messages only once told
// to, and then after a moment: a call that does not wait for the thread
// returns before it takes any.
struct Held {
    std::atomic<HWND> window{nullptr};
    std::atomic<bool> pump{false}, pumping{false}, done{false};
};

DWORD WINAPI HoldWindow(LPVOID parameter) {
    auto* held = static_cast<Held*>(parameter);
    HWND window = Make(TEXT("Lark Held"));
    held->window = window;
    if (window == nullptr) return 1;
    while (!held->pump) Sleep(1);
    Sleep(50);
    held->pumping = true;
    conformance::PumpMessages(10000, [held] { return held->done.load(); });
    DestroyWindow(window);
    return 0;
}

// The focus taken on a thread of its own, kept until the table has looked.
struct Focused {
    std::atomic<HWND> window{nullptr};
    std::atomic<bool> made{false}, taken{false}, looked{false}, kept{false};
};

DWORD WINAPI TakeFocus(LPVOID parameter) {
    auto* focused = static_cast<Focused*>(parameter);
    HWND window = Make(TEXT("Lark Focus Owner"), kPopup | WS_VISIBLE);
    if (window != nullptr) {
        SetFocus(window);
        focused->taken = GetFocus() == window;
    }
    focused->window = window;
    focused->made = true;
    if (window == nullptr) return 1;
    while (!focused->looked) Sleep(1);
    focused->kept = GetFocus() == window;
    DestroyWindow(window);
    return 0;
}

DWORD WINAPI ReadCursor(LPVOID parameter) {
    return GetCursorPos(static_cast<POINT*>(parameter)) ? 0 : 1;
}

}  // namespace

CONFORMANCE_COVERS(
    Rows,
    "RegisterClassW CreateWindowExW ShowWindow UpdateWindow LoadIconW LoadCursorW "
    "GetStockObject DefWindowProcW PostQuitMessage FindWindowW GetParent GetDlgItem "
    "SetWindowTextW SetWindowPos GetSystemMetrics GetCursorPos SetCursorPos GetFocus "
    "SetFocus SendMessageW DestroyWindow IsWindow GetWindowTextW GetWindowRect",
    nullptr);
CONFORMANCE_COVERS(WinsimRows, "MessageBoxW", "a modal message box waits for a person under Wine");

CONFORMANCE_TABLE(Windows, "windows") {
    if (Register(kClass, Procedure) == 0 || Register(kStatusClass, StatusProcedure) == 0 ||
        Register(kDefaultClass, DefWindowProcW) == 0) {
        ctx.Fail("the table's window classes do not register");
        return;
    }
    if (ctx.Begin("a class registered twice: ERROR_CLASS_ALREADY_EXISTS")) {
        SetLastError(kSentinel);
        ROW_EQ(Register(kClass, Procedure), 0);
        ROW_EQ(GetLastError(), static_cast<DWORD>(ERROR_CLASS_ALREADY_EXISTS));
    }
    if (ctx.Begin("an unknown class: ERROR_CANNOT_FIND_WND_CLASS",
                  conformance::WineDiffers("Wine answers ERROR_CLASS_DOES_NOT_EXIST"))) {
        SetLastError(kSentinel);
        ROW_CHECK(Make(TEXT("x"), kPopup, nullptr, 0, TEXT("NoSuchClass")) == nullptr);
        ROW_EQ(GetLastError(),
               static_cast<DWORD>(ctx.WineExpectation() ? 1411  // ERROR_CLASS_DOES_NOT_EXIST
                                                        : ERROR_CANNOT_FIND_WND_CLASS));
    }
    if (ctx.Begin("a window left to DefWindowProcW: made, hidden, updated, destroyed once",
                  conformance::WineDiffers("Wine refuses to destroy a window that is gone with "
                                           "ERROR_ACCESS_DENIED, as for another thread's"))) {
        HWND w = Make(TEXT("Lark Default"), WS_OVERLAPPEDWINDOW, nullptr, 0, kDefaultClass);
        if (ROW_CHECK(w != nullptr)) {
            ROW_EQ(ShowWindow(w, SW_HIDE), FALSE);
            ROW_CHECK(UpdateWindow(w));
            ROW_CHECK(DestroyWindow(w));
            SetLastError(kSentinel);
            ROW_CHECK(!DestroyWindow(w));
            ROW_EQ(GetLastError(),
                   static_cast<DWORD>(ctx.WineExpectation() ? ERROR_ACCESS_DENIED
                                                            : ERROR_INVALID_WINDOW_HANDLE));
        }
    }
    if (ctx.Begin("FindWindowW: class and title, the title in other letters, the class alone")) {
        HWND w = Make(TEXT("Lark Photo - Status"), WS_OVERLAPPEDWINDOW);
        if (ROW_CHECK(w != nullptr)) {
            ROW_CHECK(FindWindowW(kClass, TEXT("Lark Photo - Status")) == w);
            ROW_CHECK(FindWindowW(nullptr, TEXT("LARK PHOTO - status")) == w);
            ROW_CHECK(FindWindowW(kClass, nullptr) == w);
            ROW_CHECK(FindWindowW(kClass, TEXT("Lark Photo LPT - Status")) == nullptr);
            DestroyWindow(w);
            ROW_CHECK(FindWindowW(nullptr, TEXT("Lark Photo - Status")) == nullptr);
        }
    }
    if (ctx.Begin("a child: its parent, its control ID, not found by FindWindowW",
                  conformance::WineDiffers("Wine's GetDlgItem leaves the last error when no "
                                           "child has the ID"))) {
        HWND frame = Make(TEXT("Lark Frame"));
        HWND button = Make(TEXT("Lark Child OK"), WS_CHILD, frame, IDOK);
        if (ROW_CHECK(frame != nullptr && button != nullptr)) {
            ROW_CHECK(GetParent(button) == frame);
            ROW_CHECK(GetParent(frame) == nullptr);
            ROW_CHECK(GetDlgItem(frame, IDOK) == button);
            SetLastError(kSentinel);
            ROW_CHECK(GetDlgItem(frame, IDCANCEL) == nullptr);
            ROW_EQ(GetLastError(), ctx.WineExpectation()
                                       ? kSentinel
                                       : static_cast<DWORD>(ERROR_CONTROL_ID_NOT_FOUND));
            ROW_CHECK(FindWindowW(nullptr, TEXT("Lark Child OK")) == nullptr);
            ROW_CHECK(DestroyWindow(frame));
            ROW_CHECK(!IsWindow(button));
        }
    }
    if (ctx.Begin("WS_CHILD without a parent: ERROR_TLW_WITH_WSCHILD")) {
        SetLastError(kSentinel);
        ROW_CHECK(Make(TEXT("Lark Orphan"), WS_CHILD) == nullptr);
        ROW_EQ(GetLastError(), static_cast<DWORD>(ERROR_TLW_WITH_WSCHILD));
    }
    if (ctx.Begin(
            "SetWindowTextW: found by the new title only; GetWindowTextW cuts to its buffer")) {
        HWND frame = Make(TEXT("Lark Frame"));
        if (ROW_CHECK(frame != nullptr)) {
            ROW_CHECK(SetWindowTextW(frame, TEXT("Sheet 12:00:00.250")));
            ROW_CHECK(FindWindowW(nullptr, TEXT("Lark Frame")) == nullptr);
            ROW_CHECK(FindWindowW(nullptr, TEXT("Sheet 12:00:00.250")) == frame);
            WCHAR title[8] = {};
            ROW_EQ(GetWindowTextW(frame, title, 8), 7);
            ROW_TEXT(title, "Sheet 1");
            DestroyWindow(frame);
        }
    }
    if (ctx.Begin("SetWindowPos on the window's own thread, SWP_ASYNCWINDOWPOS too: in effect "
                  "when it returns; SWP_NOSIZE keeps the size, SWP_NOMOVE the place")) {
        HWND frame = Make(TEXT("Lark Frame"));
        int cx = GetSystemMetrics(SM_CXFULLSCREEN), cy = GetSystemMetrics(SM_CYFULLSCREEN);
        if (ROW_CHECK(frame != nullptr)) {
            ROW_CHECK(Placed(frame, 10, 20, 300, 200));
            g_movedOn = 0;
            ROW_CHECK(SetWindowPos(frame, nullptr, cx, cy, 0, 0, SWP_ASYNCWINDOWPOS | SWP_NOSIZE));
            ROW_EQ(g_movedOn.load(), GetCurrentThreadId());
            ROW_CHECK(Placed(frame, cx, cy, 300, 200));
            ROW_CHECK(SetWindowPos(frame, nullptr, 0, 0, 50, 50, SWP_ASYNCWINDOWPOS | SWP_NOMOVE));
            ROW_CHECK(Placed(frame, cx, cy, 50, 50));
            DestroyWindow(frame);
        }
    }
    struct MoveRow {
        const char* name;
        bool async;
    } moveRows[] = {
        {"SetWindowPos SWP_ASYNCWINDOWPOS from another thread: TRUE at once, the window moves "
         "when its thread takes its messages",
         true},
        {"SetWindowPos from another thread without SWP_ASYNCWINDOWPOS returns once the "
         "window's thread took it; WM_WINDOWPOSCHANGED runs there",
         false},
    };
    for (const MoveRow& row : moveRows) {
        if (!ctx.Begin(row.name)) continue;
        Held held;
        DWORD ownerId = 0;
        HANDLE owner = CreateThread(nullptr, 0, HoldWindow, &held, 0, &ownerId);
        if (!ROW_CHECK(owner != nullptr)) continue;
        while (held.window == nullptr && WaitForSingleObject(owner, 1) == WAIT_TIMEOUT) {
        }
        HWND window = held.window;
        g_movedOn = 0;
        if (window != nullptr && row.async) {
            ROW_CHECK(SetWindowPos(window, nullptr, 40, 30, 0, 0,
                                   SWP_ASYNCWINDOWPOS | SWP_NOSIZE | SWP_NOZORDER));
            ROW_CHECK(Placed(window, 10, 20, 300, 200));  // its thread has taken nothing yet
            ROW_EQ(g_movedOn.load(), 0u);
            held.pump = true;
            for (int look = 0; look < 5000 && g_movedOn == 0; ++look) Sleep(1);
            ROW_CHECK(held.pumping);
            ROW_CHECK(Placed(window, 40, 30, 300, 200));
        } else if (window != nullptr) {
            held.pump = true;
            ROW_CHECK(SetWindowPos(window, nullptr, 40, 30, 0, 0, SWP_NOSIZE | SWP_NOZORDER));
            ROW_CHECK(held.pumping);  // returned only once the thread took its messages
            ROW_CHECK(Placed(window, 40, 30, 300, 200));
        }
        ROW_EQ(g_movedOn.load(), ownerId);  // the procedure ran on the window's thread
        held.pump = true;
        held.done = true;
        ROW_EQ(WaitForSingleObject(owner, 15000), static_cast<DWORD>(WAIT_OBJECT_0));
        CloseHandle(owner);
        ROW_CHECK(window != nullptr);
    }
    if (ctx.Begin("GetSystemMetrics: the full-screen window's size")) {
        int cx = GetSystemMetrics(SM_CXFULLSCREEN), cy = GetSystemMetrics(SM_CYFULLSCREEN);
        ROW_CHECK(cx > 0 && cy > 0);
        ROW_NOTE("%d x %d", cx, cy);
    }
    if (ctx.Begin("SetCursorPos: GetCursorPos answers the point, on another thread too")) {
        POINT before = {};
        ROW_CHECK(GetCursorPos(&before));
        ROW_CHECK(SetCursorPos(25, 25));
        POINT now = {-1, -1};
        HANDLE reader = CreateThread(nullptr, 0, ReadCursor, &now, 0, nullptr);
        if (ROW_CHECK(reader != nullptr)) {
            ROW_EQ(WaitForSingleObject(reader, 5000), static_cast<DWORD>(WAIT_OBJECT_0));
            DWORD code = 1;
            GetExitCodeThread(reader, &code);
            ROW_EQ(code, 0u);
            CloseHandle(reader);
        }
        ROW_EQ(now.x, 25);
        ROW_EQ(now.y, 25);
        SetCursorPos(before.x, before.y);
    }
    if (ctx.Begin("SetFocus answers the window that had the focus; none after it is destroyed")) {
        HWND w = Make(TEXT("Lark Focus"), kPopup | WS_VISIBLE);
        if (ROW_CHECK(w != nullptr)) {
            SetFocus(w);
            ROW_CHECK(GetFocus() == w);
            ROW_CHECK(SetFocus(nullptr) == w);
            ROW_CHECK(GetFocus() == nullptr);
            SetFocus(w);
            DestroyWindow(w);
            ROW_CHECK(GetFocus() == nullptr);
        }
    }
    if (ctx.Begin("the focus is the thread's: another thread's focused window is no focus "
                  "here, and SetFocus here cannot take it")) {
        Focused focused;
        HANDLE owner = CreateThread(nullptr, 0, TakeFocus, &focused, 0, nullptr);
        if (ROW_CHECK(owner != nullptr)) {
            while (!focused.made && WaitForSingleObject(owner, 1) == WAIT_TIMEOUT) {
            }
            ROW_CHECK(focused.window != nullptr && focused.taken);
            ROW_CHECK(GetFocus() == nullptr);
            ROW_CHECK(SetFocus(focused.window) == nullptr);
            ROW_CHECK(GetFocus() == nullptr);
            focused.looked = true;
            ROW_EQ(WaitForSingleObject(owner, 5000), static_cast<DWORD>(WAIT_OBJECT_0));
            CloseHandle(owner);
            ROW_CHECK(focused.kept);
        }
    }
    if (ctx.Begin("SendMessageW on the window's own thread runs the procedure at once")) {
        HWND w = Make(TEXT("Lark Own"));
        g_pingThread = 0;
        g_senderReturned = false;
        ROW_EQ(SendMessageW(w, kPing, 0, 0), 77);
        ROW_EQ(g_pingThread.load(), GetCurrentThreadId());
        DestroyWindow(w);
    }
    const conformance::Where gone = conformance::WineDiffers(
        "Wine fails the send with ERROR_ACCESS_DENIED when the window goes before its thread "
        "takes the message");
    struct Row {
        const char* name;
        conformance::Where where;
        Owner owner;
        LRESULT answer;
        DWORD error;  // the sender's last error after the send
    } rows[] = {
        {"SendMessageW from another thread waits until the window's thread ran it",
         conformance::kBoth, Owner::Pumps, 77, kSentinel},
        {"the window destroyed before its thread took the message: 0", gone, Owner::Destroys, 0,
         ERROR_INVALID_WINDOW_HANDLE},
        {"the window's thread ends before taking the message: 0", gone, Owner::Ends, 0,
         ERROR_INVALID_WINDOW_HANDLE},
    };
    for (const Row& row : rows) {
        if (!ctx.Begin(row.name, row.where)) continue;
        Rendezvous r;
        r.owner = row.owner;
        g_pingThread = 0;
        g_senderReturned = false;
        g_returnedWhileRunning = false;
        HANDLE owner = CreateThread(nullptr, 0, OwnWindow, &r, 0, nullptr);
        if (!ROW_CHECK(owner != nullptr)) continue;
        while (r.window == nullptr && WaitForSingleObject(owner, 1) == WAIT_TIMEOUT) {
        }
        r.sending = true;
        SetLastError(kSentinel);
        LRESULT answer = SendMessageW(r.window, kPing, 0, 0);
        DWORD error = GetLastError();
        g_senderReturned = true;
        ROW_EQ(WaitForSingleObject(owner, 5000), static_cast<DWORD>(WAIT_OBJECT_0));
        CloseHandle(owner);
        ROW_EQ(answer, row.answer);
        ROW_EQ(error, ctx.WineExpectation() ? static_cast<DWORD>(ERROR_ACCESS_DENIED) : row.error);
        ROW_EQ(g_pingThread.load(), row.owner == Owner::Pumps ? r.thread.load() : 0u);
        ROW_CHECK(!g_returnedWhileRunning);
        ROW_CHECK(FindWindowW(nullptr, TEXT("Lark Rendezvous")) == nullptr);
    }
    if (ctx.Begin("a thread waiting on its send to another thread's window runs what that "
                  "window's procedure sends back meanwhile")) {
        HWND mine = Make(TEXT("Lark Relay"));
        Rendezvous r;
        g_relayTo = mine;
        g_pingThread = 0;
        g_senderReturned = false;
        HANDLE owner = CreateThread(nullptr, 0, OwnWindow, &r, 0, nullptr);
        if (ROW_CHECK(mine != nullptr && owner != nullptr)) {
            while (r.window == nullptr && WaitForSingleObject(owner, 1) == WAIT_TIMEOUT) {
            }
            ROW_EQ(SendMessageW(r.window, kRelay, 0, 0), 78);
            g_senderReturned = true;
            ROW_EQ(g_pingThread.load(), GetCurrentThreadId());
            ROW_EQ(WaitForSingleObject(owner, 5000), static_cast<DWORD>(WAIT_OBJECT_0));
        }
        g_senderReturned = true;
        if (owner != nullptr) CloseHandle(owner);
        DestroyWindow(mine);
    }
    if (ctx.Begin("SendMessageW to a window that is gone: 0, ERROR_INVALID_WINDOW_HANDLE")) {
        HWND w = Make(TEXT("Lark Gone"));
        DestroyWindow(w);
        SetLastError(kSentinel);
        ROW_EQ(SendMessageW(w, kPing, 0, 0), 0);
        ROW_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
    }
    if (ctx.Begin("the monitor's window: hidden, then WM_DESTROY posts the quit")) {
        g_destroyed = false;
        HANDLE thread = CreateThread(nullptr, 0, StatusWindow, nullptr, 0, nullptr);
        if (ROW_CHECK(thread != nullptr)) {
            ROW_EQ(WaitForSingleObject(thread, 5000), static_cast<DWORD>(WAIT_OBJECT_0));
            DWORD code = 1;
            GetExitCodeThread(thread, &code);
            ROW_EQ(code, 0u);
            CloseHandle(thread);
        }
        ROW_CHECK(g_destroyed);
        ROW_CHECK(FindWindowW(nullptr, TEXT("Lark Conformance - Status")) == nullptr);
    }
    if (ctx.Begin("the system's icon, cursor and white brush")) {
        ROW_CHECK(LoadIconW(nullptr, IDI_APPLICATION) != nullptr);
        ROW_CHECK(LoadCursorW(nullptr, IDC_ARROW) != nullptr);
        ROW_CHECK(GetStockObject(WHITE_BRUSH) != nullptr);
    }
    if (ctx.Begin("a message box is answered IDOK after the machine's delay",
                  conformance::WinsimOnly("a modal message box waits for a person under Wine"))) {
#ifndef _WIN32
        UINT style = MB_OK | MB_ICONEXCLAMATION | MB_TOPMOST;
        ROW_EQ(MessageBoxW(nullptr, u"Paper Jam", u"Lark Photo", style), IDOK);
        std::vector<winsim::MessageBoxRecord> boxes = winsim::MessageBoxes();
        if (ROW_CHECK(!boxes.empty())) {
            ROW_TEXT(boxes.back().caption.c_str(), "Lark Photo");
            ROW_TEXT(boxes.back().text.c_str(), "Paper Jam");
            ROW_EQ(boxes.back().style, 0x40030u);
            ROW_CHECK(boxes.back().closedMicros != 0);
        }
#endif
    }
}
