// Threads of CreateThread, each on a host thread of its own that starts at
// once or, for CREATE_SUSPENDED, at the ResumeThread that takes the suspend
// count to zero. The handle holds one reference to the thread's state and
// the running thread another, so the state lives until the handle is closed
// and the thread has ended, in either order.
//
// A thread still suspended when its handle closes can never be resumed, as
// nobody can name it any more: it is discarded without running. Its start
// routine is never called, so whatever its parameter owns stays held and
// the accounting shows it, as a thread left suspended on Windows holds it
// until the process ends. A program that wants such a thread gone resumes
// it and lets it end.
#include <condition_variable>
#include <csetjmp>
#include <map>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include "window_internal.h"

namespace {

struct ThreadState {
    DWORD id = 0;
    LPTHREAD_START_ROUTINE start = nullptr;
    LPVOID parameter = nullptr;
    DWORD suspendCount = 0;
    bool started = false;
    bool ended = false;
    DWORD exitCode = STILL_ACTIVE;
};

// Never destroyed: a thread may still end while the process exits.
struct Registry {
    std::mutex lock;
    std::condition_variable changed;
    std::map<HANDLE, std::shared_ptr<ThreadState>> handles;
    std::map<ThreadState*, std::shared_ptr<ThreadState>> live;  // not ended, not discarded
};
Registry& R() {
    static auto* registry = new Registry;
    return *registry;
}

std::atomic<DWORD> g_nextThreadId{4};
thread_local DWORD t_threadId = 0;

DWORD NewThreadId() { return g_nextThreadId.fetch_add(4); }

// Where a thread that ends itself (FreeLibraryAndExitThread) goes: back to
// the frame that started it, leaving the frames above unrun, as ExitThread
// leaves them on Windows (no destructors, no return into the caller's code,
// which may be unloaded by then).
thread_local std::jmp_buf* t_exit = nullptr;
thread_local DWORD t_exitCode = 0;

__attribute__((noinline)) DWORD Start(ThreadState* state) {
    std::jmp_buf exit;
    t_exit = &exit;
    if (setjmp(exit) != 0) return t_exitCode;
    return state->start(state->parameter);
}

void Run(const std::shared_ptr<ThreadState>& state) {
    t_threadId = state->id;
    DWORD code = Start(state.get());
    t_exit = nullptr;
    winsim::detail::EndThreadQueue();
    {
        std::lock_guard<std::mutex> guard(R().lock);
        state->exitCode = code;
        state->ended = true;
        R().live.erase(state.get());
    }
    R().changed.notify_all();
}

// Called with the registry locked.
bool Launch(const std::shared_ptr<ThreadState>& state) {
    try {
        std::thread([state] { Run(state); }).detach();
    } catch (const std::system_error&) {
        return false;
    }
    state->started = true;
    return true;
}

std::shared_ptr<ThreadState> Find(HANDLE handle) {
    std::lock_guard<std::mutex> guard(R().lock);
    auto it = R().handles.find(handle);
    return it == R().handles.end() ? nullptr : it->second;
}

void CloseThreadHandle(HANDLE handle) {
    {
        std::lock_guard<std::mutex> guard(R().lock);
        auto it = R().handles.find(handle);
        if (it == R().handles.end()) return;
        if (!it->second->started) R().live.erase(it->second.get());
        R().handles.erase(it);
    }
    R().changed.notify_all();
}

}  // namespace

// Thread IDs are given out here, so the threads a test makes and the ones
// CreateThread makes share one numbering.
WINSIM_API DWORD WINAPI GetCurrentThreadId(void) {
    if (t_threadId == 0) t_threadId = NewThreadId();
    return t_threadId;
}

WINSIM_API HANDLE WINAPI CreateThread(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE start,
                                      LPVOID parameter, DWORD flags, LPDWORD threadId) {
    if (winsim::detail::Faulted("CreateThread")) return nullptr;
    if (start == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    auto state = std::make_shared<ThreadState>();
    state->id = NewThreadId();
    state->start = start;
    state->parameter = parameter;
    state->suspendCount = (flags & CREATE_SUSPENDED) != 0 ? 1 : 0;
    HANDLE handle = state.get();
    {
        std::lock_guard<std::mutex> guard(R().lock);
        if (state->suspendCount == 0 && !Launch(state)) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return nullptr;
        }
        R().handles[handle] = state;
        if (!state->ended) R().live[state.get()] = state;
    }
    winsim::detail::RegisterKernelHandle(handle, CloseThreadHandle);
    if (threadId != nullptr) *threadId = state->id;
    return handle;
}

// Answers the suspend count before the call; a running thread has none.
WINSIM_API DWORD WINAPI ResumeThread(HANDLE thread) {
    if (winsim::detail::Faulted("ResumeThread")) return static_cast<DWORD>(-1);
    std::shared_ptr<ThreadState> state = Find(thread);
    if (state == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return static_cast<DWORD>(-1);
    }
    std::lock_guard<std::mutex> guard(R().lock);
    DWORD previous = state->suspendCount;
    if (previous == 0) return 0;
    if (previous == 1 && !state->started && !Launch(state)) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return static_cast<DWORD>(-1);
    }
    --state->suspendCount;
    return previous;
}

// Only thread handles are waitable here.
WINSIM_API DWORD WINAPI WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    std::shared_ptr<ThreadState> state = Find(handle);
    if (state == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return WAIT_FAILED;
    }
    std::unique_lock<std::mutex> lock(R().lock);
    auto ended = [&] { return state->ended; };
    if (milliseconds == INFINITE) {
        R().changed.wait(lock, ended);
        return WAIT_OBJECT_0;
    }
    return R().changed.wait_for(lock, std::chrono::milliseconds(milliseconds), ended)
               ? WAIT_OBJECT_0
               : WAIT_TIMEOUT;
}

WINSIM_API BOOL WINAPI GetExitCodeThread(HANDLE thread, LPDWORD exitCode) {
    std::shared_ptr<ThreadState> state = Find(thread);
    if (state == nullptr || exitCode == nullptr) {
        SetLastError(state == nullptr ? ERROR_INVALID_HANDLE : ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::lock_guard<std::mutex> guard(R().lock);
    *exitCode = state->exitCode;
    return TRUE;
}

namespace winsim {

long LiveThreadCount() {
    std::lock_guard<std::mutex> guard(R().lock);
    return static_cast<long>(R().live.size());
}

bool WaitForProcessThreads(DWORD timeoutMs) {
    std::unique_lock<std::mutex> lock(R().lock);
    return R().changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                [] { return R().live.empty(); });
}

long detail::LiveThreadsStartedIn(const std::function<bool(const void*)>& inModule,
                                  DWORD exceptThread) {
    std::lock_guard<std::mutex> guard(R().lock);
    long count = 0;
    for (const auto& entry : R().live) {
        if (entry.second->id != exceptThread &&
            inModule(reinterpret_cast<const void*>(entry.second->start)))
            ++count;
    }
    return count;
}

void detail::ExitCurrentThread(DWORD exitCode) {
    if (t_exit == nullptr) pthread_exit(nullptr);  // a thread CreateThread did not make
    t_exitCode = exitCode;
    std::longjmp(*t_exit, 1);
}

}  // namespace winsim
