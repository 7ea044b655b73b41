// The kernel handle registry and CloseHandle: the owners of device files,
// processes and threads register their handles here, so CloseHandle can
// release any of them without knowing what they are.
#include <map>
#include <mutex>

#include "internal.h"

namespace winsim::detail {
namespace {

std::mutex g_handleLock;
std::map<HANDLE, KernelCloseFn>& Handles() {
    static std::map<HANDLE, KernelCloseFn> handles;
    return handles;
}

}  // namespace

void RegisterKernelHandle(HANDLE handle, KernelCloseFn close) {
    {
        std::lock_guard<std::mutex> guard(g_handleLock);
        Handles()[handle] = close;
    }
    CountUp(Held::KernelHandle);
}

bool IsKernelHandle(HANDLE handle) {
    std::lock_guard<std::mutex> guard(g_handleLock);
    return Handles().count(handle) != 0;
}

}  // namespace winsim::detail

WINSIM_API BOOL WINAPI CloseHandle(HANDLE handle) {
    if (winsim::detail::Faulted("CloseHandle")) return FALSE;
    winsim::detail::KernelCloseFn close = nullptr;
    {
        std::lock_guard<std::mutex> guard(winsim::detail::g_handleLock);
        auto& handles = winsim::detail::Handles();
        auto it = handles.find(handle);
        if (it == handles.end()) {
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
        close = it->second;
        handles.erase(it);
    }
    winsim::detail::CountDown(winsim::detail::Held::KernelHandle);
    // Outside the lock: a close function may itself register or close.
    if (close != nullptr) close(handle);
    return TRUE;
}
