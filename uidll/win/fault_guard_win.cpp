// The guard on Windows. MinGW has no __try, so a vectored exception handler
// takes the access violations of the guarded thread. It does not unwind from
// inside the exception dispatch: it lets the dispatch finish by resuming the
// thread in ReturnToGuard on a fresh stretch of the same stack, which then
// jumps back into the guarded call with the compiler's own setjmp (no SEH
// unwinding, nothing of the dispatcher left half-done).
#include "fault_guard.h"

#include <cstdint>

#include "platform.h"

namespace {

struct Guard {
    void* jump[5];  // __builtin_setjmp's buffer
};

thread_local Guard* t_guard = nullptr;

uintptr_t g_imageStart = 0;
uintptr_t g_imageEnd = 0;

void LocateOwnImage() {
    HMODULE self = nullptr;
    if (!GetModuleHandleExW(
            GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
            reinterpret_cast<LPCWSTR>(&RunGuarded), &self)) {
        return;
    }
    auto* base = reinterpret_cast<const BYTE*>(self);
    auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    g_imageStart = reinterpret_cast<uintptr_t>(base);
    g_imageEnd = g_imageStart + nt->OptionalHeader.SizeOfImage;
}

[[noreturn]] void ReturnToGuard() { __builtin_longjmp(t_guard->jump, 1); }

bool IsMemoryFault(DWORD code) {
    return code == EXCEPTION_ACCESS_VIOLATION || code == EXCEPTION_IN_PAGE_ERROR ||
           code == EXCEPTION_DATATYPE_MISALIGNMENT;
}

LONG CALLBACK OnException(EXCEPTION_POINTERS* info) {
    if (t_guard == nullptr || !IsMemoryFault(info->ExceptionRecord->ExceptionCode)) {
        return EXCEPTION_CONTINUE_SEARCH;
    }
    auto at = reinterpret_cast<uintptr_t>(info->ExceptionRecord->ExceptionAddress);
    if (g_imageEnd != 0 && (at < g_imageStart || at >= g_imageEnd)) {
        return EXCEPTION_CONTINUE_SEARCH;
    }
    CONTEXT* c = info->ContextRecord;
    // Below the faulting frame, 16-byte aligned, then as if ReturnToGuard
    // had been called (its return address slot).
#ifdef _WIN64
    c->Rsp = ((c->Rsp - 1024) & ~static_cast<DWORD64>(15)) - 8;
    c->Rip = reinterpret_cast<DWORD64>(&ReturnToGuard);
#else
    c->Esp = ((c->Esp - 1024) & ~static_cast<DWORD>(15)) - 4;
    c->Eip = reinterpret_cast<DWORD>(&ReturnToGuard);
#endif
    return EXCEPTION_CONTINUE_EXECUTION;
}

// Kept apart so that __builtin_setjmp's function holds nothing but the
// jump itself.
__attribute__((noinline)) bool RunWithJump(Guard* guard, GuardedWork work, void* context) {
    if (__builtin_setjmp(guard->jump) != 0) return false;
    t_guard = guard;
    work(context);
    return true;
}

}  // namespace

bool RunGuarded(GuardedWork work, void* context) {
    if (g_imageEnd == 0) LocateOwnImage();
    PVOID handler = AddVectoredExceptionHandler(1, OnException);
    Guard guard;
    Guard* outer = t_guard;
    bool finished = RunWithJump(&guard, work, context);
    t_guard = outer;
    if (handler != nullptr) RemoveVectoredExceptionHandler(handler);
    return finished;
}
