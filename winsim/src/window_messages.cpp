// Messages sent to windows. On the window's own thread SendMessageW runs
// the procedure at once. From another thread it is a rendezvous: the message
// joins the owning thread's queue of sent messages and the sender waits
// until that thread, waiting for messages itself (PumpMessagesUntil, or its
// own SendMessageW to a third thread), has run the procedure. A message
// whose window is destroyed, or whose thread ends, before it is taken fails
// the send, so no sender waits on a window that is gone. Messages reach only
// the windows of this process.
#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <map>
#include <memory>
#include <mutex>

#include "window_internal.h"

namespace {

using winsim::detail::LookUpWindow;
using winsim::detail::WindowInfo;

struct Sent {
    HWND window;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
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
    ~QueueOwner() {
        if (thread == 0) return;
        winsim::detail::ForgetThreadWindows(thread);
        {
            std::lock_guard<std::mutex> guard(Q().lock);
            auto it = Q().byThread.find(thread);
            if (it != Q().byThread.end()) {
                for (auto& message : it->second) Fail(message);
                Q().byThread.erase(it);
            }
        }
        Q().changed.notify_all();
    }
};
thread_local QueueOwner t_queue;

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
    LRESULT result =
        alive ? info.procedure(message->window, message->message, message->wParam, message->lParam)
              : 0;
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
        default:
            char text[32];
            std::snprintf(text, sizeof text, "message 0x%04x", message);
            return text;
    }
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

    auto sent = std::make_shared<Sent>(Sent{window, message, wParam, lParam});
    {
        std::lock_guard<std::mutex> guard(Q().lock);
        auto queue = Q().byThread.find(info.thread);
        // Checked under the queue lock: a window destroyed from here on
        // drops the message from the queue.
        if (queue == Q().byThread.end() || !LookUpWindow(window, nullptr)) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return 0;
        }
        queue->second.push_back(sent);
    }
    Q().changed.notify_all();
    for (;;) {
        while (RunOneSent()) {
        }
        std::unique_lock<std::mutex> lock(Q().lock);
        Q().changed.wait(lock, [&] { return sent->done || HasSent(me); });
        if (!sent->done) continue;
        if (sent->failed) {
            lock.unlock();
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            winsim::detail::RecordUiEvent(
                "send-failed", window, u"", {message},
                MessageName(message) + " to " + winsim::detail::WindowLabel(window) +
                    ": the window went before its thread took the message");
            return 0;
        }
        return sent->result;
    }
}
