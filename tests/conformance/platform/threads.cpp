// Threads as the driver relies on them: the sheet-closing thread made
// suspended runs nothing until ResumeThread, resuming a thread that runs
// changes nothing, each thread has its own last error, and Sleep waits.
#include <atomic>
#include <chrono>

#include "adapter.h"
#include "conformance.h"

namespace {

constexpr DWORD kSentinel = 0xdeadbeef;

struct Work {
    std::atomic<int> runs{0};
    std::atomic<bool> release{true};  // false: the thread waits until it turns true
    std::atomic<DWORD> lastErrorAtStart{kSentinel};
};

DWORD WINAPI Count(LPVOID parameter) {
    auto* work = static_cast<Work*>(parameter);
    work->lastErrorAtStart = GetLastError();
    SetLastError(ERROR_ACCESS_DENIED);
    while (!work->release) Sleep(1);
    ++work->runs;
    return 42;
}

}  // namespace

CONFORMANCE_COVERS(Rows,
                   "CreateThread ResumeThread CloseHandle Sleep GetLastError SetLastError "
                   "WaitForSingleObject GetExitCodeThread",
                   nullptr);

CONFORMANCE_TABLE(Threads, "threads") {
    if (ctx.Begin("CREATE_SUSPENDED: nothing runs until ResumeThread, which answers 1")) {
        Work work;
        DWORD id = 0;
        HANDLE thread = CreateThread(nullptr, 0, Count, &work, CREATE_SUSPENDED, &id);
        if (ROW_CHECK(thread != nullptr)) {
            ROW_CHECK(id != 0);
            ROW_EQ(WaitForSingleObject(thread, 30), static_cast<DWORD>(WAIT_TIMEOUT));
            ROW_EQ(work.runs.load(), 0);
            DWORD code = 0;
            ROW_CHECK(GetExitCodeThread(thread, &code));
            ROW_EQ(code, static_cast<DWORD>(STILL_ACTIVE));
            ROW_EQ(ResumeThread(thread), 1u);
            ROW_EQ(WaitForSingleObject(thread, 5000), static_cast<DWORD>(WAIT_OBJECT_0));
            ROW_EQ(work.runs.load(), 1);
            ROW_CHECK(GetExitCodeThread(thread, &code));
            ROW_EQ(code, 42u);
            ROW_EQ(ResumeThread(thread), 0u);
            ROW_CHECK(CloseHandle(thread));
        }
    }
    if (ctx.Begin("a thread made running runs at once; resuming it answers 0")) {
        Work work;
        work.release = false;
        HANDLE thread = CreateThread(nullptr, 0, Count, &work, 0, nullptr);
        if (ROW_CHECK(thread != nullptr)) {
            ROW_EQ(ResumeThread(thread), 0u);
            work.release = true;
            ROW_EQ(WaitForSingleObject(thread, 5000), static_cast<DWORD>(WAIT_OBJECT_0));
            ROW_EQ(work.runs.load(), 1);
            ROW_CHECK(CloseHandle(thread));
        }
    }
    if (ctx.Begin("a closed handle: ResumeThread and CloseHandle fail with ERROR_INVALID_HANDLE")) {
        Work work;
        HANDLE thread = CreateThread(nullptr, 0, Count, &work, 0, nullptr);
        if (ROW_CHECK(thread != nullptr)) {
            WaitForSingleObject(thread, 5000);
            ROW_CHECK(CloseHandle(thread));
            SetLastError(kSentinel);
            ROW_EQ(ResumeThread(thread), static_cast<DWORD>(-1));
            ROW_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
            SetLastError(kSentinel);
            ROW_CHECK(!CloseHandle(thread));
            ROW_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
        }
    }
    if (ctx.Begin("each thread has its own last error, 0 at its start")) {
        Work work;
        SetLastError(kSentinel);
        HANDLE thread = CreateThread(nullptr, 0, Count, &work, 0, nullptr);
        if (ROW_CHECK(thread != nullptr)) {
            WaitForSingleObject(thread, 5000);
            ROW_EQ(work.lastErrorAtStart.load(), 0u);
            ROW_EQ(GetLastError(), kSentinel);
            CloseHandle(thread);
        }
    }
    if (ctx.Begin("Sleep waits at least as long as asked; Sleep(0) returns")) {
        Sleep(0);
        auto start = std::chrono::steady_clock::now();
        Sleep(20);
        auto waited = std::chrono::steady_clock::now() - start;
        ROW_CHECK(waited >= std::chrono::milliseconds(19));
    }
}
