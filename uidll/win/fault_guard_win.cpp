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

struct ImageRange {
    uintptr_t start = 0;
    uintptr_t end = 0;  // 0 when the module could not be found
};

ImageRange LocateOwnImage() {
    ImageRange range;
    HMODULE self = nullptr;
    if (!GetModuleHandleExW(
            GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
            reinterpret_cast<LPCWSTR>(&RunGuarded), &self)) {
        return range;
    }
    auto* base = reinterpret_cast<const BYTE*>(self);
    auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    range.start = reinterpret_cast<uintptr_t>(base);
    range.end = range.start + nt->OptionalHeader.SizeOfImage;
    return range;
}

// Found once, by whichever thread guards first.
const ImageRange& OwnImage() {
    static const ImageRange range = LocateOwnImage();
    return range;
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
    const ImageRange& own = OwnImage();
    if (own.end != 0 && (at < own.start || at >= own.end)) {
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
    OwnImage();
    PVOID handler = AddVectoredExceptionHandler(1, OnException);
    Guard guard;
    Guard* outer = t_guard;
    bool finished = RunWithJump(&guard, work, context);
    t_guard = outer;
    if (handler != nullptr) RemoveVectoredExceptionHandler(handler);
    return finished;
}
