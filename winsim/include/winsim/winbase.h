// Kernel services the system relies on: last error, memory, files, text
// conversion, time, language, processes and threads.
#pragma once

#include <cstdio>

#include "wintypes.h"

#define GMEM_FIXED 0x0000
#define GMEM_ZEROINIT 0x0040
#define GPTR (GMEM_FIXED | GMEM_ZEROINIT)
#define LMEM_FIXED 0x0000
#define LMEM_ZEROINIT 0x0040
#define LPTR (LMEM_FIXED | LMEM_ZEROINIT)
#define HEAP_ZERO_MEMORY 0x00000008

#define CP_ACP 0
#define CP_UTF8 65001

#define GENERIC_READ 0x80000000L
#define GENERIC_WRITE 0x40000000L
#define GENERIC_EXECUTE 0x20000000L
#define GENERIC_ALL 0x10000000L
#define FILE_READ_DATA 0x0001
#define FILE_WRITE_DATA 0x0002
#define FILE_APPEND_DATA 0x0004
#define FILE_READ_ATTRIBUTES 0x0080
#define FILE_WRITE_ATTRIBUTES 0x0100
#define DELETE 0x00010000L
#define READ_CONTROL 0x00020000L
#define WRITE_OWNER 0x00080000L
#define SYNCHRONIZE 0x00100000L
#define CREATE_NEW 1
#define OPEN_EXISTING 3
#define OPEN_ALWAYS 4
#define FILE_SHARE_READ 0x00000001
#define FILE_SHARE_WRITE 0x00000002
#define FILE_SHARE_DELETE 0x00000004
#define FILE_FLAG_BACKUP_SEMANTICS 0x02000000
#define FILE_FLAG_OPEN_REPARSE_POINT 0x00200000
#define FILE_ATTRIBUTE_DIRECTORY 0x00000010
#define FILE_ATTRIBUTE_ARCHIVE 0x00000020
#define FILE_ATTRIBUTE_REPARSE_POINT 0x00000400
#define FILE_NAME_NORMALIZED 0x0
#define FILE_NAME_OPENED 0x8
#define VOLUME_NAME_DOS 0x0

#define DLL_PROCESS_DETACH 0
#define DLL_PROCESS_ATTACH 1
#define CREATE_SUSPENDED 0x00000004
#define INFINITE 0xFFFFFFFF
#define WAIT_OBJECT_0 0
#define WAIT_TIMEOUT 258

typedef struct _STARTUPINFOW {
    DWORD cb;
    LPWSTR lpReserved;
    LPWSTR lpDesktop;
    LPWSTR lpTitle;
    DWORD dwX;
    DWORD dwY;
    DWORD dwXSize;
    DWORD dwYSize;
    DWORD dwXCountChars;
    DWORD dwYCountChars;
    DWORD dwFillAttribute;
    DWORD dwFlags;
    WORD wShowWindow;
    WORD cbReserved2;
    LPBYTE lpReserved2;
    HANDLE hStdInput;
    HANDLE hStdOutput;
    HANDLE hStdError;
} STARTUPINFOW, *LPSTARTUPINFOW;

typedef struct _PROCESS_INFORMATION {
    HANDLE hProcess;
    HANDLE hThread;
    DWORD dwProcessId;
    DWORD dwThreadId;
} PROCESS_INFORMATION, *LPPROCESS_INFORMATION;

typedef DWORD(WINAPI* LPTHREAD_START_ROUTINE)(LPVOID);

WINSIM_API DWORD WINAPI GetLastError(void);
WINSIM_API void WINAPI SetLastError(DWORD error);

WINSIM_API HANDLE WINAPI GetProcessHeap(void);
WINSIM_API LPVOID WINAPI HeapAlloc(HANDLE heap, DWORD flags, SIZE_T bytes);
WINSIM_API BOOL WINAPI HeapFree(HANDLE heap, DWORD flags, LPVOID block);
WINSIM_API HGLOBAL WINAPI GlobalAlloc(UINT flags, SIZE_T bytes);
WINSIM_API HGLOBAL WINAPI GlobalFree(HGLOBAL block);
WINSIM_API HGLOBAL WINAPI GlobalHandle(LPCVOID pointer);
WINSIM_API BOOL WINAPI GlobalUnlock(HGLOBAL block);
WINSIM_API HLOCAL WINAPI LocalAlloc(UINT flags, SIZE_T bytes);
WINSIM_API HLOCAL WINAPI LocalFree(HLOCAL block);

WINSIM_API BOOL WINAPI CloseHandle(HANDLE handle);

WINSIM_API int WINAPI MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR text, int bytes,
                                          LPWSTR out, int units);

WINSIM_API LANGID WINAPI GetSystemDefaultLangID(void);
WINSIM_API void WINAPI GetSystemTime(LPSYSTEMTIME time);
WINSIM_API void WINAPI Sleep(DWORD milliseconds);

WINSIM_API LPWSTR WINAPI GetCommandLineW(void);
WINSIM_API HMODULE WINAPI GetModuleHandleW(LPCWSTR name);
WINSIM_API __attribute__((noreturn)) void WINAPI ExitProcess(UINT exitCode);
WINSIM_API BOOL WINAPI CreateProcessW(LPCWSTR application, LPWSTR commandLine,
                                      LPSECURITY_ATTRIBUTES processAttributes,
                                      LPSECURITY_ATTRIBUTES threadAttributes, BOOL inheritHandles,
                                      DWORD creationFlags, LPVOID environment,
                                      LPCWSTR currentDirectory, LPSTARTUPINFOW startupInfo,
                                      LPPROCESS_INFORMATION processInformation);
WINSIM_API HANDLE WINAPI CreateThread(LPSECURITY_ATTRIBUTES attributes, SIZE_T stackSize,
                                      LPTHREAD_START_ROUTINE start, LPVOID parameter,
                                      DWORD creationFlags, LPDWORD threadId);
WINSIM_API DWORD WINAPI ResumeThread(HANDLE thread);
WINSIM_API DWORD WINAPI WaitForSingleObject(HANDLE handle, DWORD milliseconds);
WINSIM_API BOOL WINAPI GetExitCodeThread(HANDLE thread, LPDWORD exitCode);
WINSIM_API DWORD WINAPI GetCurrentThreadId(void);
// Milliseconds of the host's steady clock (not scaled by sleep_scale).
WINSIM_API DWORD WINAPI GetTickCount(void);

// Another process by its ID, for asking what program it runs.
#define PROCESS_QUERY_INFORMATION 0x0400
#define PROCESS_QUERY_LIMITED_INFORMATION 0x1000
#define PROCESS_ALL_ACCESS 0x001FFFFF
#define PROCESS_NAME_NATIVE 0x00000001
WINSIM_API HANDLE WINAPI OpenProcess(DWORD access, BOOL inheritHandle, DWORD processId);
WINSIM_API BOOL WINAPI QueryFullProcessImageNameW(HANDLE process, DWORD flags, LPWSTR name,
                                                  PDWORD units);

#define STILL_ACTIVE 259
#define WAIT_FAILED 0xFFFFFFFF
#define VER_PLATFORM_WIN32_NT 2

typedef struct _OSVERSIONINFOW {
    DWORD dwOSVersionInfoSize;
    DWORD dwMajorVersion;
    DWORD dwMinorVersion;
    DWORD dwBuildNumber;
    DWORD dwPlatformId;
    WCHAR szCSDVersion[128];
} OSVERSIONINFOW, *POSVERSIONINFOW, *LPOSVERSIONINFOW;
static_assert(sizeof(OSVERSIONINFOW) == 276);

WINSIM_API BOOL WINAPI GetVersionExW(LPOSVERSIONINFOW info);

// Modules: the system's own, found by name, and modules loaded from a
// file of the machine by their path (the driver, as the spooler loads it,
// or a program that loads it itself), each with its reference count.
typedef LONG_PTR(WINAPI* FARPROC)();
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800
#define GET_MODULE_HANDLE_EX_FLAG_PIN 0x00000001
#define GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT 0x00000002
#define GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS 0x00000004
WINSIM_API BOOL WINAPI GetModuleHandleExW(DWORD flags, LPCWSTR name, HMODULE* module);
WINSIM_API __attribute__((noreturn)) void WINAPI FreeLibraryAndExitThread(HMODULE module,
                                                                          DWORD exitCode);
WINSIM_API HMODULE WINAPI LoadLibraryW(LPCWSTR name);
WINSIM_API HMODULE WINAPI LoadLibraryExW(LPCWSTR name, HANDLE file, DWORD flags);
WINSIM_API DWORD WINAPI GetModuleFileNameW(HMODULE module, LPWSTR buffer, DWORD size);
WINSIM_API UINT WINAPI GetSystemDirectoryW(LPWSTR buffer, UINT size);
WINSIM_API FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR name);
WINSIM_API BOOL WINAPI FreeLibrary(HMODULE module);

// Device files (the USB printer's device path, or a file of the drive) and
// the device ID request.
WINSIM_API HANDLE WINAPI CreateFileW(LPCWSTR path, DWORD access, DWORD shareMode,
                                     LPSECURITY_ATTRIBUTES attributes, DWORD disposition,
                                     DWORD flags, HANDLE templateFile);
WINSIM_API BOOL WINAPI DeviceIoControl(HANDLE device, DWORD code, LPVOID in, DWORD inBytes,
                                       LPVOID out, DWORD outBytes, LPDWORD returned,
                                       LPVOID overlapped);

// Files and folders of the machine's drive (a drive path, "\\?\" allowed
// before it), opened by handle as the monitor's log is. A host symbolic link
// under the machine's drive is a reparse point: a junction or a directory
// link when it names a folder, a file symbolic link otherwise. Without
// FILE_FLAG_OPEN_REPARSE_POINT the open follows it; with the flag the last
// part is opened itself and can be judged but not written. A folder opens
// only with FILE_FLAG_BACKUP_SEMANTICS. Share modes are not kept.
typedef struct _FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
} FILETIME, *LPFILETIME;
typedef struct _BY_HANDLE_FILE_INFORMATION {
    DWORD dwFileAttributes;
    FILETIME ftCreationTime;
    FILETIME ftLastAccessTime;
    FILETIME ftLastWriteTime;
    DWORD dwVolumeSerialNumber;
    DWORD nFileSizeHigh;
    DWORD nFileSizeLow;
    DWORD nNumberOfLinks;
    DWORD nFileIndexHigh;
    DWORD nFileIndexLow;
} BY_HANDLE_FILE_INFORMATION, *LPBY_HANDLE_FILE_INFORMATION;
static_assert(sizeof(BY_HANDLE_FILE_INFORMATION) == 52);

WINSIM_API BOOL WINAPI GetFileInformationByHandle(HANDLE file, LPBY_HANDLE_FILE_INFORMATION info);
WINSIM_API DWORD WINAPI GetFinalPathNameByHandleW(HANDLE file, LPWSTR path, DWORD units,
                                                  DWORD flags);
WINSIM_API BOOL WINAPI WriteFile(HANDLE file, LPCVOID data, DWORD bytes, LPDWORD written,
                                 LPVOID overlapped);

// The C runtime's wide-path open, which the glibc runtime lacks. Windows
// paths are mapped into the machine root; text mode ("t" or no "b")
// translates CR LF to LF on read and LF to CR LF on write, as the Windows
// runtime does.
WINSIM_API FILE* _wfopen(const WCHAR* path, const WCHAR* mode);

// A program's main function, called by the start-up code with its instance.
extern "C" int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show);
