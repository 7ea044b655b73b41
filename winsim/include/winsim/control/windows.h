// Windows of the machine and the window and property sheet timeline, the
// message boxes shown, and the message loop of a test's own thread.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "winsim/windows.h"

namespace winsim {

// Top-level windows of live processes, machine-wide.
struct WindowRecord {
    int64_t id = 0;
    int pid = 0;
    std::u16string className, title;
    bool visible = false;
};
std::vector<WindowRecord> TopLevelWindows();

// Every message box shown. A box is answered IDOK after the machine setting
// "message_box_delay_ms" (0 unless set); with -1 it stays open until
// CloseMessageBox (larksim) answers it.
struct MessageBoxRecord {
    int64_t id = 0;
    int pid = 0;
    std::u16string caption, text;
    UINT style = 0;
    int64_t shownMicros = 0;
    int64_t closedMicros = 0;     // 0 while open
    int64_t afterPortStatus = 0;  // seq of the process's last port status before it
};
std::vector<MessageBoxRecord> MessageBoxes();
bool CloseMessageBox(int64_t id);

// The machine's timeline of window and property sheet events, in order.
// Window kinds: "retitle" (text: the title), "move" (values: x, y, cx, cy,
// flags), "cursor" (x, y), "focus", "send" (message, control ID, sending
// thread, owning thread), "send-failed" (message), "broadcast" (message,
// the number of top-level windows it went to). Sheet kinds, from
// CommonPropertySheetUIW: "sheet-call" (reason, the driver's answer,
// PROPSHEETUI_INFO.Result; text: the reason's name), "page-added" (page
// index, cOptItem, Flags; text: caller name), "page-refused" (the error
// written to the driver), "sheet-header" (Flags, hInst, IconID; text: the
// title), "sheet-shown" (window: the frame; text: its title),
// "page-callback" (CPSUICB reason, the callback's answer, page index),
// "press" (control ID), "sheet-timeout", "sheet-closed" (CPSUI result),
// "threads-at-unload" (from the last FreeLibrary of a module: the count of
// its threads still to run or running, each a fault on Windows; text: the
// module's path).
struct UiEvent {
    int64_t seq = 0;
    int pid = 0;
    DWORD thread = 0;  // GetCurrentThreadId of the caller
    int64_t micros = 0;
    std::string kind;
    int64_t window = 0;  // the window concerned, 0 for none
    std::u16string text;
    int64_t values[5] = {};
    std::string description;  // one readable line
};
std::vector<UiEvent> UiEvents();
// Runs the messages that other threads send to this thread's windows until
// done() holds or the timeout passes, as a thread waiting in its message
// loop; answers done().
bool PumpMessages(DWORD timeoutMs, const std::function<bool()>& done);
// Windows of this process not yet destroyed, top-level and child.
long ProcessWindowCount();

}  // namespace winsim
