// Top-level windows, machine-wide: each lives as a row of the machine
// database with the process that made it, so FindWindowW in one process
// finds the window of another. A window of a process that has ended is no
// longer found, and its row is dropped.
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <map>
#include <mutex>

#include "internal.h"

namespace winsim {
namespace {

using detail::Exec;
using detail::P;

struct ClassRecord {
    WNDPROC procedure = nullptr;
};

std::mutex g_windowLock;
std::map<std::u16string, ClassRecord>& Classes() {
    static std::map<std::u16string, ClassRecord> classes;
    return classes;
}
// The procedure of each window this process made, by handle.
std::map<int64_t, WNDPROC>& OwnWindows() {
    static std::map<int64_t, WNDPROC> windows;
    return windows;
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

}  // namespace winsim

using winsim::detail::Exec;
using winsim::detail::Faulted;
using winsim::detail::P;

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

WINSIM_API HWND WINAPI CreateWindowExW(DWORD, LPCWSTR className, LPCWSTR windowName, DWORD, int,
                                       int, int, int, HWND, HMENU, HINSTANCE, LPVOID) {
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
    int64_t id = 0;
    Exec("INSERT INTO windows(pid, class, title) VALUES(?, ?, ?) RETURNING hwnd",
         {P(static_cast<int64_t>(getpid())), P(std::u16string(className)),
          P(winsim::detail::Str(windowName))},
         [&](sqlite3_stmt* s) { id = sqlite3_column_int64(s, 0); });
    if (id == 0) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    std::lock_guard<std::mutex> guard(winsim::g_windowLock);
    winsim::OwnWindows()[id] = procedure;
    return reinterpret_cast<HWND>(static_cast<ULONG_PTR>(id));
}

namespace {

bool OwnWindow(HWND window, WNDPROC* procedure) {
    std::lock_guard<std::mutex> guard(winsim::g_windowLock);
    auto it = winsim::OwnWindows().find(winsim::WindowId(window));
    if (it == winsim::OwnWindows().end()) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return false;
    }
    if (procedure != nullptr) *procedure = it->second;
    return true;
}

}  // namespace

WINSIM_API BOOL WINAPI DestroyWindow(HWND window) {
    WNDPROC procedure = nullptr;
    if (!OwnWindow(window, &procedure)) return FALSE;
    procedure(window, WM_DESTROY, 0, 0);
    Exec("DELETE FROM windows WHERE hwnd = ?", {P(winsim::WindowId(window))});
    std::lock_guard<std::mutex> guard(winsim::g_windowLock);
    winsim::OwnWindows().erase(winsim::WindowId(window));
    return TRUE;
}

// Answers whether the window was visible before, as ShowWindow does.
WINSIM_API BOOL WINAPI ShowWindow(HWND window, int command) {
    if (!OwnWindow(window, nullptr)) return FALSE;
    bool wasVisible = false;
    Exec("SELECT visible FROM windows WHERE hwnd = ?", {P(winsim::WindowId(window))},
         [&](sqlite3_stmt* s) { wasVisible = sqlite3_column_int(s, 0) != 0; });
    Exec("UPDATE windows SET visible = ? WHERE hwnd = ?",
         {P(static_cast<int64_t>(command == SW_HIDE ? 0 : 1)), P(winsim::WindowId(window))});
    return wasVisible ? TRUE : FALSE;
}

WINSIM_API BOOL WINAPI UpdateWindow(HWND window) { return OwnWindow(window, nullptr); }

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

WINSIM_API LRESULT WINAPI DefWindowProcW(HWND, UINT, WPARAM, LPARAM) { return 0; }

WINSIM_API void WINAPI PostQuitMessage(int) {}

// Class and title compare ignoring case, as on Windows; a null argument
// matches any.
WINSIM_API HWND WINAPI FindWindowW(LPCWSTR className, LPCWSTR windowName) {
    if (Faulted("FindWindowW")) return nullptr;
    if (className != nullptr && winsim::IsAtom(className)) return nullptr;
    for (const winsim::WindowRecord& w : winsim::TopLevelWindows()) {
        if (className != nullptr && winsim::Folded(w.className) != winsim::Folded(className))
            continue;
        if (windowName != nullptr && winsim::Folded(w.title) != winsim::Folded(windowName))
            continue;
        return reinterpret_cast<HWND>(static_cast<ULONG_PTR>(w.id));
    }
    SetLastError(ERROR_SUCCESS);
    return nullptr;
}
