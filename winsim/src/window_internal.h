// Shared machinery of windows, their messages, threads and the property
// sheet host.
#pragma once

#include <chrono>
#include <functional>
#include <initializer_list>
#include <string>

#include "internal.h"

namespace winsim::detail {

// A window of this process as its registry keeps it.
struct WindowInfo {
    WNDPROC procedure = nullptr;
    DWORD thread = 0;  // the thread that made it, which runs its procedure
    HWND parent = nullptr;
    int controlId = 0;
    bool child = false;
    std::u16string className, title;
    int x = 0, y = 0, cx = 0, cy = 0;
    bool visible = false;
};
// False, with ERROR_INVALID_WINDOW_HANDLE, when this process has no such
// window (any more).
bool LookUpWindow(HWND window, WindowInfo* info);

// CreateWindowExW with the procedure given rather than a registered class,
// so the system's own windows (the sheet's frame and buttons) need no class
// that a program could have registered under the same name.
HWND CreateWindowWithProcedure(WNDPROC procedure, const std::u16string& className,
                               const std::u16string& title, DWORD style, int x, int y, int cx,
                               int cy, HWND parent, int controlId);

// "control 1", "frame 12": how the timeline names a window.
std::string WindowLabel(HWND window);

// Appends one event to the machine's window and sheet timeline.
void RecordUiEvent(const char* kind, HWND window, const std::u16string& text,
                   std::initializer_list<int64_t> values, const std::string& description);

// Messages sent between threads. A thread that makes a window gets a queue
// of the messages other threads send it; the queue ends with the thread.
void EnsureMessageQueue();
// Fails every message still waiting for the destroyed window.
void DropSentMessages(HWND window);
// The windows of a thread that ends go with it, without messages.
void ForgetThreadWindows(DWORD thread);
// Ends the calling thread's windows and message queue now (the thread is ending).
void EndThreadQueue();
// Whether the thread made a top-level window that still exists: only such
// a window takes messages from other processes.
bool ThreadOwnsTopLevelWindow(DWORD thread);
// Runs a request of the system's own on the window's thread, as that
// thread takes its messages: when wait is set, once it has run (*result its
// answer), else at once, the request left queued. False, with
// ERROR_INVALID_WINDOW_HANDLE, when the window goes before its thread takes
// it.
bool RunOnWindowThread(HWND window, DWORD thread, std::function<LRESULT()> request, bool wait,
                       LRESULT* result);
// Runs the messages sent to this thread until done() holds or the deadline
// passes; answers done().
bool PumpMessagesUntil(const std::function<bool()>& done,
                       std::chrono::steady_clock::time_point deadline);

}  // namespace winsim::detail
