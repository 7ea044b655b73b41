// Windows, window search, message boxes and the resources a window class
// names. Top-level windows are machine-wide so that one process finds the
// window that another created.
#pragma once

#include "wintypes.h"

typedef LRESULT(CALLBACK* WNDPROC)(HWND, UINT, WPARAM, LPARAM);

typedef struct tagWNDCLASSW {
    UINT style;
    WNDPROC lpfnWndProc;
    int cbClsExtra;
    int cbWndExtra;
    HINSTANCE hInstance;
    HICON hIcon;
    HCURSOR hCursor;
    HBRUSH hbrBackground;
    LPCWSTR lpszMenuName;
    LPCWSTR lpszClassName;
} WNDCLASSW, *LPWNDCLASSW;

#define CS_VREDRAW 0x0001
#define CS_HREDRAW 0x0002
#define CS_SAVEBITS 0x0800
#define WS_OVERLAPPEDWINDOW 0x00CF0000L
#define SW_HIDE 0
#define SW_SHOWNORMAL 1
#define SW_SHOWDEFAULT 10
#define WM_DESTROY 0x0002
#define WM_CLOSE 0x0010
#define WM_COMMAND 0x0111
#define WM_SETTEXT 0x000C
#define WM_LBUTTONDOWN 0x0201
#define WM_LBUTTONUP 0x0202
#define WS_CHILD 0x40000000L
#define WS_VISIBLE 0x10000000L
#define BN_CLICKED 0

#define SWP_NOSIZE 0x0001
#define SWP_NOMOVE 0x0002
#define SWP_NOZORDER 0x0004
#define SWP_NOACTIVATE 0x0010
#define SWP_SHOWWINDOW 0x0040
#define SWP_HIDEWINDOW 0x0080
#define SWP_NOSENDCHANGING 0x0400
#define SWP_ASYNCWINDOWPOS 0x4000
#define WM_WINDOWPOSCHANGING 0x0046
#define WM_WINDOWPOSCHANGED 0x0047
typedef struct tagWINDOWPOS {
    HWND hwnd;
    HWND hwndInsertAfter;
    int x;
    int y;
    int cx;
    int cy;
    UINT flags;
} WINDOWPOS, *LPWINDOWPOS, *PWINDOWPOS;
#define SM_CXFULLSCREEN 16
#define SM_CYFULLSCREEN 17

#define IDI_APPLICATION MAKEINTRESOURCEW(32512)
#define IDC_ARROW MAKEINTRESOURCEW(32512)

#define MB_OK 0x00000000L
#define MB_ICONEXCLAMATION 0x00000030L
#define MB_TOPMOST 0x00040000L
#define IDOK 1
#define IDCANCEL 2

WINSIM_API ATOM WINAPI RegisterClassW(const WNDCLASSW* windowClass);
WINSIM_API HWND WINAPI CreateWindowExW(DWORD exStyle, LPCWSTR className, LPCWSTR windowName,
                                       DWORD style, int x, int y, int width, int height,
                                       HWND parent, HMENU menu, HINSTANCE instance, LPVOID param);
WINSIM_API BOOL WINAPI DestroyWindow(HWND window);
WINSIM_API BOOL WINAPI ShowWindow(HWND window, int command);
WINSIM_API BOOL WINAPI UpdateWindow(HWND window);
WINSIM_API HICON WINAPI LoadIconW(HINSTANCE instance, LPCWSTR name);
WINSIM_API HCURSOR WINAPI LoadCursorW(HINSTANCE instance, LPCWSTR name);
WINSIM_API LRESULT WINAPI DefWindowProcW(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
WINSIM_API void WINAPI PostQuitMessage(int exitCode);
WINSIM_API HWND WINAPI FindWindowW(LPCWSTR className, LPCWSTR windowName);
// The top-level windows after `after` (none: from the first) that match,
// one per call; the process and thread that made a window.
WINSIM_API HWND WINAPI FindWindowExW(HWND parent, HWND after, LPCWSTR className,
                                     LPCWSTR windowName);
WINSIM_API DWORD WINAPI GetWindowThreadProcessId(HWND window, LPDWORD processId);

// Child windows (WS_CHILD with a parent, the menu argument as control ID)
// belong to their process. Each window belongs to the thread that made it:
// a message sent from another thread waits until that thread takes it.
WINSIM_API HWND WINAPI GetParent(HWND window);
WINSIM_API HWND WINAPI GetDlgItem(HWND dialog, int id);
WINSIM_API BOOL WINAPI IsWindow(HWND window);
WINSIM_API BOOL WINAPI SetWindowTextW(HWND window, LPCWSTR text);
WINSIM_API int WINAPI GetWindowTextW(HWND window, LPWSTR text, int capacity);
// From another thread than the window's: posted to that thread with
// SWP_ASYNCWINDOWPOS, else waited for as a sent message. The window's
// procedure gets WM_WINDOWPOSCHANGING and WM_WINDOWPOSCHANGED on its thread.
WINSIM_API BOOL WINAPI SetWindowPos(HWND window, HWND insertAfter, int x, int y, int cx, int cy,
                                    UINT flags);
// Screen coordinates: a child's position is its parent's plus its own.
WINSIM_API BOOL WINAPI GetWindowRect(HWND window, LPRECT rect);
WINSIM_API BOOL WINAPI GetCursorPos(LPPOINT point);
WINSIM_API BOOL WINAPI SetCursorPos(int x, int y);
// The focus of the calling thread's queue, set to a window of that thread.
WINSIM_API HWND WINAPI GetFocus(void);
WINSIM_API HWND WINAPI SetFocus(HWND window);
WINSIM_API LRESULT WINAPI SendMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
WINSIM_API int WINAPI GetSystemMetrics(int index);
WINSIM_API int WINAPI MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type);

// Sent to every top-level window of the machine, of every process, waiting
// for each in turn.
#define HWND_BROADCAST ((HWND)0xffff)
#define WM_NULL 0x0000
#define WM_QUIT 0x0012
#define WM_SETTINGCHANGE 0x001A
#define WM_USER 0x0400

// A thread's message loop: the messages sent to its windows run while it
// peeks or waits; the one posted message here is its quit.
typedef struct tagMSG {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    DWORD time;
    POINT pt;
} MSG, *LPMSG;
#define PM_NOREMOVE 0x0000
#define PM_REMOVE 0x0001
#define QS_ALLINPUT 0x04FF
WINSIM_API BOOL WINAPI PeekMessageW(LPMSG message, HWND window, UINT first, UINT last, UINT remove);
WINSIM_API BOOL WINAPI TranslateMessage(const MSG* message);
WINSIM_API LRESULT WINAPI DispatchMessageW(const MSG* message);
WINSIM_API DWORD WINAPI MsgWaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll,
                                                  DWORD milliseconds, DWORD wakeMask);

// The process's window station: whether a person can see what it shows.
typedef struct HWINSTA__* HWINSTA;
typedef struct tagUSEROBJECTFLAGS {
    BOOL fInherit;
    BOOL fReserved;
    DWORD dwFlags;
} USEROBJECTFLAGS, *PUSEROBJECTFLAGS;
#define UOI_FLAGS 1
#define WSF_VISIBLE 0x0001L
WINSIM_API HWINSTA WINAPI GetProcessWindowStation(void);
WINSIM_API BOOL WINAPI GetUserObjectInformationW(HANDLE object, int index, PVOID info, DWORD length,
                                                 LPDWORD needed);
