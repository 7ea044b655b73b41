// Messages sent to windows. On the window's own thread SendMessageW runs
// the procedure at once. From another thread it is a rendezvous: the message
// joins the owning thread's queue of sent messages and the sender waits
// until that thread, waiting for messages itself (PumpMessagesUntil, or its
// own SendMessageW to a third thread), has run the procedure. A message
// whose window is destroyed, or whose thread ends, before it is taken fails
// the send, so no sender waits on a window that is gone.
//
// A top-level window of another process is reached through the machine
// database: the message waits as a row until the owner's thread, taking its
// messages (PeekMessageW, a modal box, its own send), runs it and writes the
// answer; the send fails when the window or its process goes first. As
// Windows marshals only the system messages it knows, the one pointer
// carried across is WM_SETTINGCHANGE's text; every other message crosses
// with its numbers as they are. HWND_BROADCAST sends to every top-level
// window of the machine in turn, each waited for.
//
// The system's own requests for a window (SetWindowPos from another thread)
// travel the same queue: one that waits is taken like a sent message, one
// that is posted (SWP_ASYNCWINDOWPOS) is applied whenever the window's
// thread next takes its messages, with nobody waiting for it.
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "window_internal.h"

namespace {

using winsim::detail::Exec;
using winsim::detail::LookUpWindow;
using winsim::detail::P;
using winsim::detail::WindowInfo;

struct Sent {
    HWND window;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    std::function<LRESULT()> request;  // the system's own, run instead of the procedure
    bool done = false;
    bool failed = false;
    LRESULT result = 0;
};

// Never destroyed: threads end their queues while the process exits.
struct Queues {
    std::mutex lock;
    std::condition_variable changed;
    std::map<DWORD, std::deque<std::shared_ptr<Sent>>> byThread;
};
Queues& Q() {
    static auto* queues = new Queues;
    return *queues;
}

// Called with the queues locked.
void Fail(const std::shared_ptr<Sent>& message) {
    message->done = true;
    message->failed = true;
}

// The queue of the thread that holds it ends with the thread.
struct QueueOwner {
    DWORD thread = 0;
    ~QueueOwner() { End(); }
    void End() {
        if (thread == 0) return;
        DWORD ended = thread;
        thread = 0;
        winsim::detail::ForgetThreadWindows(ended);
        {
            std::lock_guard<std::mutex> guard(Q().lock);
            auto it = Q().byThread.find(ended);
            if (it != Q().byThread.end()) {
                for (auto& message : it->second) Fail(message);
                Q().byThread.erase(it);
            }
        }
        Q().changed.notify_all();
    }
};
thread_local QueueOwner t_queue;

}  // namespace

// A thread's windows and queue go as the thread ends, before its handle is
// signalled: whoever waited for the thread finds them gone.
void winsim::detail::EndThreadQueue() { t_queue.End(); }

namespace {

// The thread's quit, posted by PostQuitMessage and taken by PeekMessageW.
thread_local bool t_quitPosted = false;
thread_local int t_quitCode = 0;

// A process that has the machine to itself gets no messages from others.
bool SoleProcess() {
    const char* alone = std::getenv("WINSIM_SOLE_PROCESS");
    return alone != nullptr && alone[0] == '1';
}

struct FromOtherProcess {
    int64_t seq = 0;
    HWND window = nullptr;
    UINT message = 0;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
    bool hasText = false;
    std::u16string text;
};

// Messages of other processes waiting for a window of this thread.
std::vector<FromOtherProcess> WaitingFromOtherProcesses() {
    std::vector<FromOtherProcess> waiting;
    const DWORD me = GetCurrentThreadId();
    if (SoleProcess() || !winsim::detail::ThreadOwnsTopLevelWindow(me)) return waiting;
    const DWORD error = GetLastError();
    Exec(
        "SELECT seq, hwnd, message, wparam, lparam, text FROM sent_messages WHERE pid = ? AND"
        " state = 0 ORDER BY seq",
        {P(static_cast<int64_t>(getpid()))}, [&](sqlite3_stmt* s) {
            FromOtherProcess m;
            m.seq = sqlite3_column_int64(s, 0);
            m.window = reinterpret_cast<HWND>(static_cast<ULONG_PTR>(sqlite3_column_int64(s, 1)));
            m.message = static_cast<UINT>(sqlite3_column_int64(s, 2));
            m.wParam = static_cast<WPARAM>(sqlite3_column_int64(s, 3));
            m.lParam = static_cast<LPARAM>(sqlite3_column_int64(s, 4));
            m.hasText = sqlite3_column_type(s, 5) != SQLITE_NULL;
            m.text = winsim::detail::ColumnText16(s, 5);
            waiting.push_back(m);
        });
    // Another thread's windows take their own messages.
    waiting.erase(std::remove_if(waiting.begin(), waiting.end(),
                                 [me](const FromOtherProcess& m) {
                                     WindowInfo info;
                                     return !LookUpWindow(m.window, &info) || info.thread != me;
                                 }),
                  waiting.end());
    SetLastError(error);
    return waiting;
}

// Runs the messages other processes sent to this thread's windows; false
// when none was waiting.
bool RunFromOtherProcesses() {
    std::vector<FromOtherProcess> waiting = WaitingFromOtherProcesses();
    for (const FromOtherProcess& m : waiting) {
        WindowInfo info;
        if (!LookUpWindow(m.window, &info)) continue;  // the sender sees it gone
        LPARAM lParam = m.hasText ? reinterpret_cast<LPARAM>(m.text.c_str()) : m.lParam;
        LRESULT result = info.procedure(m.window, m.message, m.wParam, lParam);
        Exec("UPDATE sent_messages SET state = 1, result = ? WHERE seq = ?",
             {P(static_cast<int64_t>(result)), P(m.seq)});
    }
    return !waiting.empty();
}

// Runs one message sent to this thread; false when none is waiting.
bool RunOneSent() {
    DWORD me = GetCurrentThreadId();
    std::shared_ptr<Sent> message;
    {
        std::lock_guard<std::mutex> guard(Q().lock);
        auto it = Q().byThread.find(me);
        if (it == Q().byThread.end() || it->second.empty()) return false;
        message = it->second.front();
        it->second.pop_front();
    }
    // Only this thread destroys its windows, so the window stays while its
    // procedure runs.
    WindowInfo info;
    bool alive = LookUpWindow(message->window, &info);
    LRESULT result = 0;
    if (alive && message->request) {
        result = message->request();
    } else if (alive) {
        result =
            info.procedure(message->window, message->message, message->wParam, message->lParam);
    }
    {
        std::lock_guard<std::mutex> guard(Q().lock);
        message->result = result;
        message->done = true;
        message->failed = !alive;
    }
    Q().changed.notify_all();
    return true;
}

bool HasSent(DWORD thread) {
    auto it = Q().byThread.find(thread);
    return it != Q().byThread.end() && !it->second.empty();
}

std::string MessageName(UINT message) {
    switch (message) {
        case WM_DESTROY:
            return "WM_DESTROY";
        case WM_SETTEXT:
            return "WM_SETTEXT";
        case WM_CLOSE:
            return "WM_CLOSE";
        case WM_COMMAND:
            return "WM_COMMAND";
        case WM_LBUTTONDOWN:
            return "WM_LBUTTONDOWN";
        case WM_LBUTTONUP:
            return "WM_LBUTTONUP";
        case WM_SETTINGCHANGE:
            return "WM_SETTINGCHANGE";
        default:
            char text[32];
            std::snprintf(text, sizeof text, "message 0x%04x", message);
            return text;
    }
}

// A message to a top-level window of another process, as a row that its
// thread answers; false when the window or its process goes first.
bool SendToOtherProcess(int64_t window, int pid, UINT message, WPARAM wParam, LPARAM lParam,
                        LRESULT* result) {
    const bool carriesText = message == WM_SETTINGCHANGE && lParam != 0;
    int64_t seq = 0;
    Exec(
        "INSERT INTO sent_messages(hwnd, pid, message, wparam, lparam, text)"
        " VALUES(?, ?, ?, ?, ?, ?) RETURNING seq",
        {P(window), P(static_cast<int64_t>(pid)), P(static_cast<int64_t>(message)),
         P(static_cast<int64_t>(wParam)), P(static_cast<int64_t>(lParam)),
         carriesText ? P(winsim::detail::Str(reinterpret_cast<const WCHAR*>(lParam)))
                     : winsim::detail::PBlob(nullptr, 0)},
        [&](sqlite3_stmt* s) { seq = sqlite3_column_int64(s, 0); });
    if (seq == 0) return false;
    const DWORD me = GetCurrentThreadId();
    int state = 0;
    LRESULT answer = 0;
    auto read = [&] {
        Exec("SELECT state, result FROM sent_messages WHERE seq = ?", {P(seq)},
             [&](sqlite3_stmt* s) {
                 state = sqlite3_column_int(s, 0);
                 answer = static_cast<LRESULT>(sqlite3_column_int64(s, 1));
             });
    };
    for (;;) {
        // A thread waiting on its send answers what is sent to it meanwhile.
        while (RunOneSent()) {
        }
        RunFromOtherProcesses();
        read();
        if (state != 0) break;
        bool there = false;
        Exec("SELECT 1 FROM windows WHERE hwnd = ?", {P(window)},
             [&](sqlite3_stmt*) { there = true; });
        if (!there || !winsim::ProcessAlive(pid)) {
            read();  // the answer may have come just before the end
            break;
        }
        std::unique_lock<std::mutex> lock(Q().lock);
        Q().changed.wait_for(lock, std::chrono::milliseconds(2), [&] { return HasSent(me); });
    }
    Exec("DELETE FROM sent_messages WHERE seq = ?", {P(seq)});
    if (state != 1) return false;
    *result = answer;
    return true;
}

// Puts the message in the queue of the window's thread; false, with
// ERROR_INVALID_WINDOW_HANDLE, when the window or its thread is gone.
bool Queue(const std::shared_ptr<Sent>& sent, DWORD thread) {
    {
        std::lock_guard<std::mutex> guard(Q().lock);
        auto queue = Q().byThread.find(thread);
        // Checked under the queue lock: a window destroyed from here on
        // drops the message from the queue.
        if (queue == Q().byThread.end() || !LookUpWindow(sent->window, nullptr)) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return false;
        }
        queue->second.push_back(sent);
    }
    Q().changed.notify_all();
    return true;
}

// Waits until the window's thread has taken the message, running what is
// sent to this thread meanwhile; false, with ERROR_INVALID_WINDOW_HANDLE,
// when the window went first.
bool WaitTaken(const std::shared_ptr<Sent>& sent) {
    const DWORD me = GetCurrentThreadId();
    for (;;) {
        while (RunOneSent()) {
        }
        RunFromOtherProcesses();
        std::unique_lock<std::mutex> lock(Q().lock);
        // Other processes' messages wake nothing here: look again now and then.
        Q().changed.wait_for(lock, std::chrono::milliseconds(5),
                             [&] { return sent->done || HasSent(me); });
        if (!sent->done) continue;
        if (!sent->failed) return true;
        lock.unlock();
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return false;
    }
}

LRESULT Send(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Every top-level window of the machine, of any process, in turn; each is
// waited for, so one whose thread never takes its messages holds the
// sender. The answer is 1, the windows' own answers are not given back.
LRESULT Broadcast(UINT message, WPARAM wParam, LPARAM lParam) {
    const DWORD error = GetLastError();
    std::vector<winsim::WindowRecord> windows = winsim::TopLevelWindows();
    winsim::detail::RecordUiEvent("broadcast", nullptr, u"",
                                  {message, static_cast<int64_t>(windows.size())},
                                  "broadcast " + MessageName(message) + " to " +
                                      std::to_string(windows.size()) + " top-level windows");
    for (const winsim::WindowRecord& w : windows) {
        HWND handle = reinterpret_cast<HWND>(static_cast<ULONG_PTR>(w.id));
        LRESULT ignored = 0;
        if (w.pid == getpid()) {
            if (LookUpWindow(handle, nullptr)) Send(handle, message, wParam, lParam);
        } else {
            SendToOtherProcess(w.id, w.pid, message, wParam, lParam, &ignored);
        }
    }
    SetLastError(error);
    return 1;
}

}  // namespace

namespace winsim::detail {

void EnsureMessageQueue() {
    if (t_queue.thread != 0) return;
    t_queue.thread = GetCurrentThreadId();
    std::lock_guard<std::mutex> guard(Q().lock);
    Q().byThread[t_queue.thread];
}

void DropSentMessages(HWND window) {
    {
        std::lock_guard<std::mutex> guard(Q().lock);
        for (auto& entry : Q().byThread) {
            auto& queue = entry.second;
            for (auto it = queue.begin(); it != queue.end();) {
                if ((*it)->window == window) {
                    Fail(*it);
                    it = queue.erase(it);
                } else {
                    ++it;
                }
            }
        }
    }
    Q().changed.notify_all();
}

bool PumpMessagesUntil(const std::function<bool()>& done,
                       std::chrono::steady_clock::time_point deadline) {
    DWORD me = GetCurrentThreadId();
    for (;;) {
        while (RunOneSent()) {
        }
        RunFromOtherProcesses();
        if (done()) return true;
        auto now = std::chrono::steady_clock::now();
        if (now >= deadline) return false;
        // done() may turn on another thread's doing, which does not wake
        // this wait: look again every few milliseconds.
        auto wake = std::min(deadline, now + std::chrono::milliseconds(5));
        std::unique_lock<std::mutex> lock(Q().lock);
        Q().changed.wait_until(lock, wake, [&] { return HasSent(me); });
    }
}

}  // namespace winsim::detail

namespace winsim {

bool PumpMessages(DWORD timeoutMs, const std::function<bool()>& done) {
    detail::EnsureMessageQueue();
    return detail::PumpMessagesUntil(
        done, std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs));
}

}  // namespace winsim

WINSIM_API LRESULT WINAPI SendMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (winsim::detail::Faulted("SendMessageW")) return 0;
    if (window == HWND_BROADCAST) return Broadcast(message, wParam, lParam);
    return Send(window, message, wParam, lParam);
}

namespace {

LRESULT Send(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    WindowInfo info;
    if (!LookUpWindow(window, &info)) {
        winsim::detail::RecordUiEvent("send-failed", window, u"", {message},
                                      MessageName(message) + " to a window that is gone");
        return 0;
    }
    DWORD me = GetCurrentThreadId();
    char from[64];
    std::snprintf(from, sizeof from, " from thread %u", me);
    winsim::detail::RecordUiEvent(
        "send", window, u"", {message, info.controlId, me, info.thread},
        "sent " + MessageName(message) + " to " + winsim::detail::WindowLabel(window) + from);
    if (info.thread == me) return info.procedure(window, message, wParam, lParam);

    auto sent = std::make_shared<Sent>(Sent{window, message, wParam, lParam, nullptr});
    if (!Queue(sent, info.thread)) return 0;
    if (WaitTaken(sent)) return sent->result;
    winsim::detail::RecordUiEvent("send-failed", window, u"", {message},
                                  MessageName(message) + " to " +
                                      winsim::detail::WindowLabel(window) +
                                      ": the window went before its thread took the message");
    return 0;
}

}  // namespace

namespace winsim::detail {

bool RunOnWindowThread(HWND window, DWORD thread, std::function<LRESULT()> request, bool wait,
                       LRESULT* result) {
    auto sent = std::make_shared<Sent>(Sent{window, 0, 0, 0, std::move(request)});
    if (!Queue(sent, thread)) return false;
    if (!wait) return true;
    if (!WaitTaken(sent)) return false;
    if (result != nullptr) *result = sent->result;
    return true;
}

}  // namespace winsim::detail

WINSIM_API void WINAPI PostQuitMessage(int exitCode) {
    t_quitCode = exitCode;
    t_quitPosted = true;
}

// Runs the messages sent to the thread first, as Windows does. The one
// posted message here is the quit, which every filter lets through and
// PM_REMOVE takes.
WINSIM_API BOOL WINAPI PeekMessageW(LPMSG message, HWND, UINT, UINT, UINT remove) {
    winsim::detail::EnsureMessageQueue();
    while (RunOneSent()) {
    }
    RunFromOtherProcesses();
    if (!t_quitPosted || message == nullptr) return FALSE;
    *message = MSG{};
    message->message = WM_QUIT;
    message->wParam = static_cast<WPARAM>(t_quitCode);
    message->time = GetTickCount();
    GetCursorPos(&message->pt);
    if ((remove & PM_REMOVE) != 0) t_quitPosted = false;
    return TRUE;
}

// No keyboard here: nothing to translate.
WINSIM_API BOOL WINAPI TranslateMessage(const MSG*) { return FALSE; }

// Runs the procedure of a window of this thread; a message for no window
// (the quit) or for another thread's window answers 0.
WINSIM_API LRESULT WINAPI DispatchMessageW(const MSG* message) {
    WindowInfo info;
    if (message == nullptr || message->hwnd == nullptr || !LookUpWindow(message->hwnd, &info) ||
        info.thread != GetCurrentThreadId()) {
        return 0;
    }
    return info.procedure(message->hwnd, message->message, message->wParam, message->lParam);
}

// Only the wait for the thread's own input is here: any handle (a count
// other than 0) fails with ERROR_INVALID_PARAMETER. Input is a message sent
// to the thread, from this process or another, or its posted quit; the
// wait does not run them (PeekMessageW does). The timeout is scaled by the
// machine's sleep_scale, as Sleep is.
WINSIM_API DWORD WINAPI MsgWaitForMultipleObjects(DWORD count, const HANDLE*, BOOL,
                                                  DWORD milliseconds, DWORD) {
    if (winsim::detail::Faulted("MsgWaitForMultipleObjects")) return WAIT_FAILED;
    if (count != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return WAIT_FAILED;
    }
    winsim::detail::EnsureMessageQueue();
    const DWORD me = GetCurrentThreadId();
    auto now = std::chrono::steady_clock::now();
    const auto deadline = milliseconds == INFINITE
                              ? now + std::chrono::hours(24 * 365)
                              : now + std::chrono::microseconds(static_cast<long long>(
                                          milliseconds * 1000.0 * winsim::detail::SleepScale()));
    for (;;) {
        if (t_quitPosted) return WAIT_OBJECT_0;
        {
            std::lock_guard<std::mutex> guard(Q().lock);
            if (HasSent(me)) return WAIT_OBJECT_0;
        }
        if (!WaitingFromOtherProcesses().empty()) return WAIT_OBJECT_0;
        now = std::chrono::steady_clock::now();
        if (now >= deadline) return WAIT_TIMEOUT;
        // Other processes' messages wake nothing here: look again now and then.
        auto wake = std::min(deadline, now + std::chrono::milliseconds(5));
        std::unique_lock<std::mutex> lock(Q().lock);
        Q().changed.wait_until(lock, wake, [&] { return HasSent(me); });
    }
}
