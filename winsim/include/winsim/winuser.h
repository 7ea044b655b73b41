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
WINSIM_API int WINAPI MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type);
