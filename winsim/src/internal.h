// Shared machinery of the stand-in platform's implementation files.
#pragma once

#include <sqlite3.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <unordered_map>

#include "winsim/control.h"

namespace winsim::detail {

// One connection per process, shared by its threads under a lock; the
// database itself is shared by every process of the machine.
struct Db {
    sqlite3* db = nullptr;
    std::string root;
    std::recursive_mutex lock;
    // Prepared statements by SQL text: parsing dominated every spooler call.
    struct Cached {
        sqlite3_stmt* statement = nullptr;
        bool inUse = false;  // a row callback may run the same SQL again
    };
    std::unordered_map<std::string, Cached> statements;
};
Db& Database();  // opens on first use; aborts when the machine is missing

// Runs a statement with bound text/integer/blob parameters; rows go to the
// callback. Returns false on an SQL error.
struct Param {
    enum Kind { Text, Int, Blob, Null } kind;
    std::string text;
    int64_t number = 0;
    const void* blob = nullptr;
    size_t bytes = 0;
};
Param P(const std::string& text);
Param P(const std::u16string& text);
Param P(int64_t number);
Param PBlob(const void* data, size_t bytes);
bool Exec(const std::string& sql, std::initializer_list<Param> params,
          const std::function<void(sqlite3_stmt*)>& row = nullptr);
std::u16string ColumnText16(sqlite3_stmt* statement, int column);

// The calling thread's user may administer the spooler: an elevated
// administrator's token or SYSTEM's.
bool CallerIsAdministrator();
// Records a call refused with ERROR_ACCESS_DENIED for the caller's rights
// (the last error is the caller's to set).
void RecordRefusal(const char* call, const std::u16string& target);
// While one lives, its thread acts as SYSTEM: the spooler running driver
// code in its own process, as at a printer's installation.
class ActingAsSystem {
public:
    ActingAsSystem();
    ~ActingAsSystem();
    ActingAsSystem(const ActingAsSystem&) = delete;
    ActingAsSystem& operator=(const ActingAsSystem&) = delete;

private:
    int previous_;
};

// Accounting of what the process holds.
enum class Held {
    PrinterHandle,
    KernelHandle,
    RegistryKey,
    DeviceInfoList,
    Heap,
    Global,
    Local,
    File,
    Bstr,
    Moniker
};
void CountUp(Held what);
void CountDown(Held what);
// Stores what the process still holds as it exits, for winsim::ExitCounts.
void RecordExit(UINT exitCode);

// Kernel handle registry: every object that CloseHandle closes (device
// files, processes, threads) registers its handle with the function that
// releases it. Registering counts the handle as held; CloseHandle runs the
// function once, forgets the handle and counts it down.
using KernelCloseFn = void (*)(HANDLE handle);
void RegisterKernelHandle(HANDLE handle, KernelCloseFn close);
bool IsKernelHandle(HANDLE handle);

// A counted local block, zero-filled, for what a platform function hands out
// to be freed with LocalFree (no fault of LocalAlloc applies to it).
void* AllocateLocal(SIZE_T bytes);

// The USB printing interface that a device path names, opened; the last
// error set and INVALID_HANDLE_VALUE when none does.
HANDLE OpenUsbDevicePath(LPCWSTR path, DWORD disposition);

// The owner (SID text) of a file handle of CreateFileW and its access;
// false, with the handle unknown, for any other handle.
bool FileHandleOwner(HANDLE handle, std::string* sid, DWORD* access);

// True when this call of the named function is to fail; the error to set
// goes to *error.
bool ShouldFail(const char* function, DWORD* error);
// The usual fault check: sets the last error and says whether to fail.
bool Faulted(const char* function);

// The spooler name of an open printer handle and the raw job started on it
// (0 when none); false, with ERROR_INVALID_HANDLE, for a handle not open.
bool PrinterHandleJob(HANDLE printer, std::u16string* name, int64_t* job);
bool SetPrinterHandleJob(HANDLE printer, int64_t job);

// The URL a moniker of CreateURLMoniker was made from; false for another
// object.
bool MonikerUrl(IMoniker* moniker, std::u16string* url);
// The dialog function that MSHTML.DLL's ShowHTMLDialog export resolves to.
HRESULT WINAPI ShowHtmlDialog(HWND parent, IMoniker* page, VARIANT* argument, WCHAR* options,
                              VARIANT* result);

// Wall-clock time in microseconds, the unit of every time the machine
// records (port statuses, boxes, window events, dialog showings).
int64_t NowMicros();

// The machine setting "sleep_scale" (1 unless set): the factor on every
// wait a program asks for by time (Sleep, MsgWaitForMultipleObjects).
double SleepScale();

// Whether the process's window station is one a person sees.
bool WindowStationVisible();

// Threads of CreateThread, suspended or running, whose start routine lies
// where inModule says, but the thread exceptThread (0: none).
long LiveThreadsStartedIn(const std::function<bool(const void*)>& inModule, DWORD exceptThread);
// Ends the calling thread with the exit code; nothing more of its frames
// runs.
[[noreturn]] void ExitCurrentThread(DWORD exitCode);

// Units and bytes of a UTF-16 text including the terminator.
size_t Units(const WCHAR* text);
std::u16string Str(const WCHAR* text);

}  // namespace winsim::detail
