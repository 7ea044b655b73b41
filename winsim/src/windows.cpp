// Windows. Top-level windows are machine-wide: each lives as a row of the
// machine database with the process that made it, so FindWindowW in one
// process finds the window of another; a window of a process that has ended
// is no longer found, and its row is dropped. Child windows belong to their
// process only. Every window of this process is also kept here with its
// procedure, the thread that made it, its parent, control ID, title and
// rectangle; the focus is each thread's own. The window calls that a
// program makes on the sheet (titles, positions, cursor, focus, messages)
// are written to the machine's timeline.
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>

#include "window_internal.h"

namespace winsim {
namespace {

using detail::Exec;
using detail::P;
using detail::WindowInfo;

struct ClassRecord {
    WNDPROC procedure = nullptr;
};

struct OwnWindow : WindowInfo {
    bool destroying = false;
};

std::mutex g_windowLock;
std::map<std::u16string, ClassRecord>& Classes() {
    static std::map<std::u16string, ClassRecord> classes;
    return classes;
}
// Every window this process made, by handle.
std::map<int64_t, OwnWindow>& OwnWindows() {
    static std::map<int64_t, OwnWindow> windows;
    return windows;
}
// Child windows take handles far above the machine's top-level rows.
int64_t g_nextChild = 0x40000000;
POINT g_cursor{0, 0};
// The focus window of each thread's queue.
std::map<DWORD, HWND> g_focus;

// Called with the window lock held.
void ForgetFocus(HWND window) {
    for (auto it = g_focus.begin(); it != g_focus.end();) {
        it = it->second == window ? g_focus.erase(it) : std::next(it);
    }
}

std::u16string Folded(std::u16string text) {
    for (char16_t& c : text) {
        if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
    }
    return text;
}

// A class name may be an atom (MAKEINTATOM); this platform keys classes by
// name only, so atoms match nothing.
bool IsAtom(LPCWSTR name) { return reinterpret_cast<ULONG_PTR>(name) < 0x10000; }

int64_t WindowId(HWND window) { return static_cast<int64_t>(reinterpret_cast<ULONG_PTR>(window)); }
HWND Handle(int64_t id) { return reinterpret_cast<HWND>(static_cast<ULONG_PTR>(id)); }

std::string Quoted(const std::u16string& text) { return "'" + ToUtf8(text) + "'"; }

}  // namespace

bool ProcessAlive(int pid) {
    if (pid <= 0) return false;
    if (pid == getpid()) return true;
    if (kill(pid, 0) != 0 && errno != EPERM) return false;
    // An ended child that nobody has reaped yet still answers kill().
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%d/stat", pid);
    FILE* stat = std::fopen(path, "r");
    if (stat == nullptr) return true;
    char state = '?';
    int scanned = std::fscanf(stat, "%*d (%*[^)]) %c", &state);
    std::fclose(stat);
    return scanned != 1 || (state != 'Z' && state != 'X');
}

std::vector<WindowRecord> TopLevelWindows() {
    std::vector<WindowRecord> all;
    Exec("SELECT hwnd, pid, class, title, visible FROM windows ORDER BY hwnd", {},
         [&](sqlite3_stmt* s) {
             WindowRecord w;
             w.id = sqlite3_column_int64(s, 0);
             w.pid = sqlite3_column_int(s, 1);
             w.className = detail::ColumnText16(s, 2);
             w.title = detail::ColumnText16(s, 3);
             w.visible = sqlite3_column_int(s, 4) != 0;
             all.push_back(w);
         });
    std::vector<WindowRecord> live;
    for (const WindowRecord& w : all) {
        if (ProcessAlive(w.pid)) {
            live.push_back(w);
        } else {
            Exec("DELETE FROM windows WHERE pid = ?", {P(static_cast<int64_t>(w.pid))});
        }
    }
    return live;
}

std::vector<UiEvent> UiEvents() {
    std::vector<UiEvent> events;
    Exec(
        "SELECT seq, pid, thread, micros, kind, window, text, v0, v1, v2, v3, v4, description"
        " FROM ui_events ORDER BY seq",
        {}, [&](sqlite3_stmt* s) {
            UiEvent e;
            e.seq = sqlite3_column_int64(s, 0);
            e.pid = sqlite3_column_int(s, 1);
            e.thread = static_cast<DWORD>(sqlite3_column_int64(s, 2));
            e.micros = sqlite3_column_int64(s, 3);
            const unsigned char* kind = sqlite3_column_text(s, 4);
            e.kind = kind != nullptr ? reinterpret_cast<const char*>(kind) : "";
            e.window = sqlite3_column_int64(s, 5);
            e.text = detail::ColumnText16(s, 6);
            for (int i = 0; i < 5; ++i) e.values[i] = sqlite3_column_int64(s, 7 + i);
            const unsigned char* line = sqlite3_column_text(s, 12);
            e.description = line != nullptr ? reinterpret_cast<const char*>(line) : "";
            events.push_back(e);
        });
    return events;
}

long ProcessWindowCount() {
    std::lock_guard<std::mutex> guard(g_windowLock);
    return static_cast<long>(OwnWindows().size());
}

namespace detail {

bool LookUpWindow(HWND window, WindowInfo* info) {
    std::lock_guard<std::mutex> guard(g_windowLock);
    auto it = OwnWindows().find(WindowId(window));
    if (it == OwnWindows().end()) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return false;
    }
    if (info != nullptr) *info = it->second;
    return true;
}

std::string WindowLabel(HWND window) {
    WindowInfo info;
    char text[64];
    if (LookUpWindow(window, &info) && info.child) {
        if (info.controlId != 0) {
            std::snprintf(text, sizeof text, "control %d", info.controlId);
        } else {
            std::snprintf(text, sizeof text, "child %lld",
                          static_cast<long long>(WindowId(window)));
        }
    } else {
        std::snprintf(text, sizeof text, "frame %lld", static_cast<long long>(WindowId(window)));
    }
    return text;
}

void RecordUiEvent(const char* kind, HWND window, const std::u16string& text,
                   std::initializer_list<int64_t> values, const std::string& description) {
    int64_t v[5] = {};
    int i = 0;
    for (int64_t value : values) {
        if (i < 5) v[i++] = value;
    }
    Exec(
        "INSERT INTO ui_events(pid, thread, micros, kind, window, text, v0, v1, v2, v3, v4,"
        " description) VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)",
        {P(static_cast<int64_t>(getpid())), P(static_cast<int64_t>(GetCurrentThreadId())),
         P(NowMicros()), P(std::string(kind)), P(WindowId(window)), P(text), P(v[0]), P(v[1]),
         P(v[2]), P(v[3]), P(v[4]), P(description)});
}

bool ThreadOwnsTopLevelWindow(DWORD thread) {
    std::lock_guard<std::mutex> guard(g_windowLock);
    for (const auto& entry : OwnWindows()) {
        if (entry.second.thread == thread && !entry.second.child) return true;
    }
    return false;
}

// Runs as the thread ends, maybe as the process exits: the machine's rows
// of the main thread's windows go with the process, and a machine already
// removed is left alone.
void ForgetThreadWindows(DWORD thread) {
    std::vector<int64_t> topLevel;
    {
        std::lock_guard<std::mutex> guard(g_windowLock);
        for (auto it = OwnWindows().begin(); it != OwnWindows().end();) {
            if (it->second.thread != thread) {
                ++it;
                continue;
            }
            if (!it->second.child) topLevel.push_back(it->first);
            ForgetFocus(Handle(it->first));
            it = OwnWindows().erase(it);
        }
        g_focus.erase(thread);
    }
    if (topLevel.empty() || gettid() == getpid() || !MachineExists(MachineRoot())) return;
    for (int64_t id : topLevel) Exec("DELETE FROM windows WHERE hwnd = ?", {P(id)});
}

HWND CreateWindowWithProcedure(WNDPROC procedure, const std::u16string& className,
                               const std::u16string& title, DWORD style, int x, int y, int cx,
                               int cy, HWND parent, int controlId) {
    OwnWindow window;
    window.procedure = procedure;
    window.thread = GetCurrentThreadId();
    window.className = className;
    window.title = title;
    window.x = x;
    window.y = y;
    window.cx = cx;
    window.cy = cy;
    window.visible = (style & WS_VISIBLE) != 0;
    int64_t id = 0;
    if ((style & WS_CHILD) != 0) {
        if (parent == nullptr) {
            SetLastError(ERROR_TLW_WITH_WSCHILD);
            return nullptr;
        }
        if (!LookUpWindow(parent, nullptr)) return nullptr;
        window.child = true;
        window.parent = parent;
        window.controlId = controlId;
        std::lock_guard<std::mutex> guard(g_windowLock);
        id = ++g_nextChild;
    } else {
        Exec("INSERT INTO windows(pid, class, title, visible) VALUES(?, ?, ?, ?) RETURNING hwnd",
             {P(static_cast<int64_t>(getpid())), P(className), P(title),
              P(static_cast<int64_t>(window.visible ? 1 : 0))},
             [&](sqlite3_stmt* s) { id = sqlite3_column_int64(s, 0); });
        if (id == 0) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return nullptr;
        }
    }
    EnsureMessageQueue();
    {
        std::lock_guard<std::mutex> guard(g_windowLock);
        OwnWindows()[id] = window;
    }
    return Handle(id);
}

}  // namespace detail
}  // namespace winsim

using winsim::detail::Exec;
using winsim::detail::Faulted;
using winsim::detail::LookUpWindow;
using winsim::detail::P;
using winsim::detail::RecordUiEvent;
using winsim::detail::WindowInfo;
using winsim::detail::WindowLabel;

WINSIM_API ATOM WINAPI RegisterClassW(const WNDCLASSW* windowClass) {
    if (Faulted("RegisterClassW")) return 0;
    if (windowClass == nullptr || windowClass->lpszClassName == nullptr ||
        winsim::IsAtom(windowClass->lpszClassName) || windowClass->lpfnWndProc == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::lock_guard<std::mutex> guard(winsim::g_windowLock);
    auto& classes = winsim::Classes();
    std::u16string key = winsim::Folded(windowClass->lpszClassName);
    if (classes.count(key) != 0) {
        SetLastError(ERROR_CLASS_ALREADY_EXISTS);
        return 0;
    }
    classes[key] = winsim::ClassRecord{windowClass->lpfnWndProc};
    return static_cast<ATOM>(0xC000 + classes.size());
}

// A child (WS_CHILD) needs a parent of this process; its menu argument is
// its control ID. Any other window is top-level, whatever its owner.
WINSIM_API HWND WINAPI CreateWindowExW(DWORD, LPCWSTR className, LPCWSTR windowName, DWORD style,
                                       int x, int y, int width, int height, HWND parent, HMENU menu,
                                       HINSTANCE, LPVOID) {
    if (Faulted("CreateWindowExW")) return nullptr;
    if (className == nullptr || winsim::IsAtom(className)) {
        SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
        return nullptr;
    }
    WNDPROC procedure = nullptr;
    {
        std::lock_guard<std::mutex> guard(winsim::g_windowLock);
        auto it = winsim::Classes().find(winsim::Folded(className));
        if (it == winsim::Classes().end()) {
            SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
            return nullptr;
        }
        procedure = it->second.procedure;
    }
    return winsim::detail::CreateWindowWithProcedure(
        procedure, className, winsim::detail::Str(windowName), style, x, y, width, height, parent,
        static_cast<int>(reinterpret_cast<ULONG_PTR>(menu)));
}

// Only the thread that made a window destroys it. The window hears
// WM_DESTROY before its children go; messages still waiting for it fail.
WINSIM_API BOOL WINAPI DestroyWindow(HWND window) {
    WNDPROC procedure = nullptr;
    {
        std::lock_guard<std::mutex> guard(winsim::g_windowLock);
        auto it = winsim::OwnWindows().find(winsim::WindowId(window));
        if (it == winsim::OwnWindows().end() || it->second.destroying) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return FALSE;
        }
        if (it->second.thread != GetCurrentThreadId()) {
            SetLastError(ERROR_ACCESS_DENIED);
            return FALSE;
        }
        it->second.destroying = true;
        procedure = it->second.procedure;
    }
    procedure(window, WM_DESTROY, 0, 0);
    std::vector<HWND> children;
    {
        std::lock_guard<std::mutex> guard(winsim::g_windowLock);
        for (const auto& entry : winsim::OwnWindows()) {
            if (entry.second.parent == window) children.push_back(winsim::Handle(entry.first));
        }
    }
    for (HWND child : children) DestroyWindow(child);
    bool child = false;
    {
        std::lock_guard<std::mutex> guard(winsim::g_windowLock);
        auto it = winsim::OwnWindows().find(winsim::WindowId(window));
        if (it != winsim::OwnWindows().end()) {
            child = it->second.child;
            winsim::OwnWindows().erase(it);
        }
        winsim::ForgetFocus(window);
    }
    if (!child) Exec("DELETE FROM windows WHERE hwnd = ?", {P(winsim::WindowId(window))});
    winsim::detail::DropSentMessages(window);
    return TRUE;
}

// Answers whether the window was visible before, as ShowWindow does.
WINSIM_API BOOL WINAPI ShowWindow(HWND window, int command) {
    bool wasVisible = false, child = false;
    {
        std::lock_guard<std::mutex> guard(winsim::g_windowLock);
        auto it = winsim::OwnWindows().find(winsim::WindowId(window));
        if (it == winsim::OwnWindows().end()) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return FALSE;
        }
        wasVisible = it->second.visible;
        child = it->second.child;
        it->second.visible = command != SW_HIDE;
    }
    if (!child) {
        Exec("UPDATE windows SET visible = ? WHERE hwnd = ?",
             {P(static_cast<int64_t>(command == SW_HIDE ? 0 : 1)), P(winsim::WindowId(window))});
    }
    return wasVisible ? TRUE : FALSE;
}

WINSIM_API BOOL WINAPI UpdateWindow(HWND window) { return LookUpWindow(window, nullptr); }

WINSIM_API BOOL WINAPI IsWindow(HWND window) { return LookUpWindow(window, nullptr); }

// Only the system's stock resources exist here (no instance, IDI_/IDC_
// numbers).
WINSIM_API HICON WINAPI LoadIconW(HINSTANCE instance, LPCWSTR name) {
    static int applicationIcon;
    if (instance == nullptr && name == IDI_APPLICATION)
        return reinterpret_cast<HICON>(&applicationIcon);
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return nullptr;
}

WINSIM_API HCURSOR WINAPI LoadCursorW(HINSTANCE instance, LPCWSTR name) {
    static int arrowCursor;
    if (instance == nullptr && name == IDC_ARROW) return reinterpret_cast<HCURSOR>(&arrowCursor);
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return nullptr;
}

// WM_CLOSE destroys the window, as Windows' default procedure does; every
// other message is answered 0.
WINSIM_API LRESULT WINAPI DefWindowProcW(HWND window, UINT message, WPARAM, LPARAM) {
    if (message == WM_CLOSE) DestroyWindow(window);
    return 0;
}

// Class and title compare ignoring case, as on Windows; a null argument
// matches any. Only top-level windows are found, of any process.
WINSIM_API HWND WINAPI FindWindowW(LPCWSTR className, LPCWSTR windowName) {
    if (Faulted("FindWindowW")) return nullptr;
    if (className != nullptr && winsim::IsAtom(className)) return nullptr;
    HWND found = nullptr;
    for (const winsim::WindowRecord& w : winsim::TopLevelWindows()) {
        if (className != nullptr && winsim::Folded(w.className) != winsim::Folded(className))
            continue;
        if (windowName != nullptr && winsim::Folded(w.title) != winsim::Folded(windowName))
            continue;
        found = winsim::Handle(w.id);
        break;
    }
    // Each look is on the timeline: a search that finds nothing shows too.
    std::u16string title = winsim::detail::Str(windowName);
    winsim::detail::RecordUiEvent(
        "find", found, title, {winsim::WindowId(found)},
        "looked for '" + winsim::ToUtf8(title) + "': " +
            (found != nullptr ? "found window " + std::to_string(winsim::WindowId(found))
                              : std::string("none")));
    if (found == nullptr) SetLastError(ERROR_SUCCESS);
    return found;
}

// With no parent, the desktop's children: the top-level windows of every
// process, in the order FindWindowW takes them, beginning after `after`
// (which must itself be a live top-level window: ERROR_INVALID_WINDOW_HANDLE
// otherwise). Class and title compare ignoring case. Children of a window
// are not searched here. Nothing found: null, the last error left alone.
WINSIM_API HWND WINAPI FindWindowExW(HWND parent, HWND after, LPCWSTR className,
                                     LPCWSTR windowName) {
    if (Faulted("FindWindowExW")) return nullptr;
    if (parent != nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (className != nullptr && winsim::IsAtom(className)) return nullptr;
    std::vector<winsim::WindowRecord> windows = winsim::TopLevelWindows();
    auto from = windows.begin();
    if (after != nullptr) {
        from = std::find_if(windows.begin(), windows.end(),
                            [after](const auto& w) { return w.id == winsim::WindowId(after); });
        if (from == windows.end()) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return nullptr;
        }
        ++from;
    }
    HWND found = nullptr;
    for (auto w = from; w != windows.end(); ++w) {
        if (className != nullptr && winsim::Folded(w->className) != winsim::Folded(className))
            continue;
        if (windowName != nullptr && winsim::Folded(w->title) != winsim::Folded(windowName))
            continue;
        found = winsim::Handle(w->id);
        break;
    }
    std::u16string title = winsim::detail::Str(windowName);
    winsim::detail::RecordUiEvent(
        "find", found, title, {winsim::WindowId(found)},
        "looked for '" + winsim::ToUtf8(title) + "' after window " +
            std::to_string(winsim::WindowId(after)) + ": " +
            (found != nullptr ? "found window " + std::to_string(winsim::WindowId(found))
                              : std::string("none")));
    return found;
}

// The thread that made the window, and its process at *processId (when
// given). A top-level window of another process is taken as made by that
// process's first thread, whose ID winsim gives as the process ID (the
// monitor has no other thread). No such window: 0 and
// ERROR_INVALID_WINDOW_HANDLE, *processId untouched.
WINSIM_API DWORD WINAPI GetWindowThreadProcessId(HWND window, LPDWORD processId) {
    if (Faulted("GetWindowThreadProcessId")) return 0;
    WindowInfo info;
    const DWORD error = GetLastError();  // an own window's miss is no failure yet
    if (LookUpWindow(window, &info)) {
        if (processId != nullptr) *processId = static_cast<DWORD>(getpid());
        return info.thread;
    }
    int pid = 0;
    for (const winsim::WindowRecord& w : winsim::TopLevelWindows()) {
        if (w.id == winsim::WindowId(window)) pid = w.pid;
    }
    if (pid == 0) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    SetLastError(error);
    if (processId != nullptr) *processId = static_cast<DWORD>(pid);
    return static_cast<DWORD>(pid);
}

// A top-level window has no parent here (owners are not kept).
WINSIM_API HWND WINAPI GetParent(HWND window) {
    WindowInfo info;
    if (!LookUpWindow(window, &info)) return nullptr;
    SetLastError(ERROR_SUCCESS);
    return info.parent;
}

// The first child of the window with the control ID.
WINSIM_API HWND WINAPI GetDlgItem(HWND dialog, int id) {
    if (Faulted("GetDlgItem")) return nullptr;
    std::lock_guard<std::mutex> guard(winsim::g_windowLock);
    if (winsim::OwnWindows().count(winsim::WindowId(dialog)) == 0) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
    }
    for (const auto& entry : winsim::OwnWindows()) {
        if (entry.second.parent == dialog && entry.second.controlId == id &&
            !entry.second.destroying)
            return winsim::Handle(entry.first);
    }
    SetLastError(ERROR_CONTROL_ID_NOT_FOUND);
    return nullptr;
}

// The title is set directly, not through WM_SETTEXT; a top-level window's
// new title is what FindWindowW matches from then on, in every process.
WINSIM_API BOOL WINAPI SetWindowTextW(HWND window, LPCWSTR text) {
    std::u16string title = winsim::detail::Str(text);
    bool child = false;
    {
        std::lock_guard<std::mutex> guard(winsim::g_windowLock);
        auto it = winsim::OwnWindows().find(winsim::WindowId(window));
        if (it == winsim::OwnWindows().end()) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return FALSE;
        }
        it->second.title = title;
        child = it->second.child;
    }
    if (!child)
        Exec("UPDATE windows SET title = ? WHERE hwnd = ?",
             {P(title), P(winsim::WindowId(window))});
    RecordUiEvent("retitle", window, title, {},
                  "retitled " + WindowLabel(window) + " to " + winsim::Quoted(title));
    return TRUE;
}

// The title of a window of this process, or of another process's top-level
// window; the count of units copied, without the terminator.
WINSIM_API int WINAPI GetWindowTextW(HWND window, LPWSTR text, int capacity) {
    WindowInfo info;
    std::u16string title;
    if (LookUpWindow(window, &info)) {
        title = info.title;
    } else {
        bool found = false;
        Exec("SELECT title FROM windows WHERE hwnd = ?", {P(winsim::WindowId(window))},
             [&](sqlite3_stmt* s) {
                 found = true;
                 title = winsim::detail::ColumnText16(s, 0);
             });
        if (!found) return 0;  // last error set by the look-up
    }
    if (text == nullptr || capacity <= 0) return 0;
    size_t n = std::min(title.size(), static_cast<size_t>(capacity - 1));
    title.copy(text, n);
    text[n] = 0;
    return static_cast<int>(n);
}

namespace winsim {
namespace {

// Moves and sizes the window, on its own thread; SWP_NOMOVE and SWP_NOSIZE
// keep the position and size. As SetWindowPos documents, the procedure is
// sent WM_WINDOWPOSCHANGING first (not with SWP_NOSENDCHANGING), with a
// WINDOWPOS it may change, and WM_WINDOWPOSCHANGED once the window moved.
BOOL ApplyWindowPos(HWND window, HWND insertAfter, int x, int y, int cx, int cy, UINT flags) {
    WindowInfo info;
    if (!LookUpWindow(window, &info)) return FALSE;
    WINDOWPOS pos{window, insertAfter, x, y, cx, cy, flags};
    if ((flags & SWP_NOSENDCHANGING) == 0) {
        info.procedure(window, WM_WINDOWPOSCHANGING, 0, reinterpret_cast<LPARAM>(&pos));
        x = pos.x;
        y = pos.y;
        cx = pos.cx;
        cy = pos.cy;
        flags = pos.flags;
    }
    bool child = false, visible = false;
    {
        std::lock_guard<std::mutex> guard(g_windowLock);
        auto it = OwnWindows().find(WindowId(window));
        if (it == OwnWindows().end()) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return FALSE;
        }
        OwnWindow& w = it->second;
        if ((flags & SWP_NOMOVE) == 0) {
            w.x = x;
            w.y = y;
        }
        if ((flags & SWP_NOSIZE) == 0) {
            w.cx = cx;
            w.cy = cy;
        }
        if ((flags & SWP_SHOWWINDOW) != 0) w.visible = true;
        if ((flags & SWP_HIDEWINDOW) != 0) w.visible = false;
        child = w.child;
        visible = w.visible;
    }
    if (!child && (flags & (SWP_SHOWWINDOW | SWP_HIDEWINDOW)) != 0) {
        Exec("UPDATE windows SET visible = ? WHERE hwnd = ?",
             {P(static_cast<int64_t>(visible ? 1 : 0)), P(WindowId(window))});
    }
    char line[160];
    std::string where;
    if ((flags & SWP_NOMOVE) == 0) {
        std::snprintf(line, sizeof line, " to (%d,%d)", x, y);
        where += line;
    }
    if ((flags & SWP_NOSIZE) == 0) {
        std::snprintf(line, sizeof line, " size %dx%d", cx, cy);
        where += line;
    }
    std::snprintf(line, sizeof line, " flags 0x%x", flags);
    detail::RecordUiEvent("move", window, u"", {x, y, cx, cy, flags},
                          "moved " + detail::WindowLabel(window) + where + line);
    if (LookUpWindow(window, &info)) {
        pos = WINDOWPOS{window, insertAfter, x, y, cx, cy, flags};
        info.procedure(window, WM_WINDOWPOSCHANGED, 0, reinterpret_cast<LPARAM>(&pos));
    }
    return TRUE;
}

}  // namespace
}  // namespace winsim

// A window is moved by its own thread. Called there, at once. From another
// thread, SWP_ASYNCWINDOWPOS posts the request to the window's thread and
// answers TRUE at once: the window moves when that thread next takes its
// messages. Without it the caller waits, as for a sent message, until the
// window's thread has taken the request (a thread that never takes its
// messages holds the caller); a window gone before that: FALSE,
// ERROR_INVALID_WINDOW_HANDLE.
WINSIM_API BOOL WINAPI SetWindowPos(HWND window, HWND insertAfter, int x, int y, int cx, int cy,
                                    UINT flags) {
    if (Faulted("SetWindowPos")) return FALSE;
    WindowInfo info;
    if (!LookUpWindow(window, &info)) return FALSE;
    if (info.thread == GetCurrentThreadId()) {
        return winsim::ApplyWindowPos(window, insertAfter, x, y, cx, cy, flags);
    }
    const bool wait = (flags & SWP_ASYNCWINDOWPOS) == 0;
    LRESULT moved = FALSE;
    if (!winsim::detail::RunOnWindowThread(
            window, info.thread,
            [=] {
                return static_cast<LRESULT>(
                    winsim::ApplyWindowPos(window, insertAfter, x, y, cx, cy, flags));
            },
            wait, &moved)) {
        return FALSE;
    }
    return wait ? static_cast<BOOL>(moved) : TRUE;
}

WINSIM_API BOOL WINAPI GetWindowRect(HWND window, LPRECT rect) {
    WindowInfo info;
    if (!LookUpWindow(window, &info)) return FALSE;
    if (rect == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    LONG x = info.x, y = info.y;
    for (HWND parent = info.parent; parent != nullptr;) {
        WindowInfo above;
        if (!LookUpWindow(parent, &above)) break;
        x += above.x;
        y += above.y;
        parent = above.parent;
    }
    *rect = RECT{x, y, x + info.cx, y + info.cy};
    return TRUE;
}

// The cursor is the process's here, one for all its threads, as the
// system's one cursor is on Windows.
WINSIM_API BOOL WINAPI GetCursorPos(LPPOINT point) {
    if (point == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::lock_guard<std::mutex> guard(winsim::g_windowLock);
    *point = winsim::g_cursor;
    return TRUE;
}

WINSIM_API BOOL WINAPI SetCursorPos(int x, int y) {
    {
        std::lock_guard<std::mutex> guard(winsim::g_windowLock);
        winsim::g_cursor = POINT{x, y};
    }
    char line[64];
    std::snprintf(line, sizeof line, "cursor to (%d,%d)", x, y);
    RecordUiEvent("cursor", nullptr, u"", {x, y}, line);
    return TRUE;
}

// The focus of the calling thread's queue: null on a thread none of whose
// windows has it, whatever another thread's window has.
WINSIM_API HWND WINAPI GetFocus(void) {
    std::lock_guard<std::mutex> guard(winsim::g_windowLock);
    auto it = winsim::g_focus.find(GetCurrentThreadId());
    return it != winsim::g_focus.end() ? it->second : nullptr;
}

// Answers the window that had the calling thread's focus; a null window
// takes it away. A window of another thread's queue cannot take it (no
// input is attached here, AttachThreadInput is not given): null, the focus
// left as it was.
WINSIM_API HWND WINAPI SetFocus(HWND window) {
    HWND previous = nullptr;
    {
        std::lock_guard<std::mutex> guard(winsim::g_windowLock);
        const DWORD me = GetCurrentThreadId();
        if (window != nullptr) {
            auto it = winsim::OwnWindows().find(winsim::WindowId(window));
            if (it == winsim::OwnWindows().end()) {
                SetLastError(ERROR_INVALID_WINDOW_HANDLE);
                return nullptr;
            }
            if (it->second.thread != me) {
                SetLastError(ERROR_INVALID_PARAMETER);
                return nullptr;
            }
        }
        auto it = winsim::g_focus.find(me);
        if (it != winsim::g_focus.end()) previous = it->second;
        if (window != nullptr) {
            winsim::g_focus[me] = window;
        } else {
            winsim::g_focus.erase(me);
        }
    }
    RecordUiEvent("focus", window, u"", {},
                  "focus to " + (window != nullptr ? WindowLabel(window) : std::string("nothing")));
    return previous;
}

// Machine settings "screen_cx" and "screen_cy": the full-screen window's
// client area; every other metric is 0.
WINSIM_API int WINAPI GetSystemMetrics(int index) {
    if (index == SM_CXFULLSCREEN) return std::atoi(winsim::GetSetting("screen_cx", "1920").c_str());
    if (index == SM_CYFULLSCREEN) return std::atoi(winsim::GetSetting("screen_cy", "1040").c_str());
    return 0;
}
