// The process's window station. A process has the station it was started
// in: children inherit it through WINSIM_WINDOW_STATION ("interactive" or
// "service"), and a process started without it has the machine setting
// "window_station" (interactive unless set). A service's station (session
// 0, no desktop a person sees) is not visible: a box shown there waits for
// ever.
#include <cstdlib>
#include <string>

#include "internal.h"

namespace {

struct Station {
    DWORD flags;
};
Station g_interactive{WSF_VISIBLE};  // WinSta0 of the user's session
Station g_service{0};                // Service-0x0-3e7$

Station* ProcessStation() {
    const char* inherited = std::getenv("WINSIM_WINDOW_STATION");
    std::string kind = inherited != nullptr && inherited[0] != 0
                           ? inherited
                           : winsim::GetSetting("window_station", "interactive");
    return kind == "service" ? &g_service : &g_interactive;
}

}  // namespace

bool winsim::detail::WindowStationVisible() { return (ProcessStation()->flags & WSF_VISIBLE) != 0; }

// The handle is the system's: it is never closed.
WINSIM_API HWINSTA WINAPI GetProcessWindowStation(void) {
    if (winsim::detail::Faulted("GetProcessWindowStation")) return nullptr;
    return reinterpret_cast<HWINSTA>(ProcessStation());
}

// UOI_FLAGS only. The size needed is set whenever the count is asked for; a
// buffer shorter than USEROBJECTFLAGS fails with ERROR_INSUFFICIENT_BUFFER.
WINSIM_API BOOL WINAPI GetUserObjectInformationW(HANDLE object, int index, PVOID info, DWORD length,
                                                 LPDWORD needed) {
    if (winsim::detail::Faulted("GetUserObjectInformationW")) return FALSE;
    auto* station = static_cast<Station*>(object);
    if (station != &g_interactive && station != &g_service) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (index != UOI_FLAGS) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (needed != nullptr) *needed = sizeof(USEROBJECTFLAGS);
    if (info == nullptr || length < sizeof(USEROBJECTFLAGS)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    auto* flags = static_cast<USEROBJECTFLAGS*>(info);
    flags->fInherit = FALSE;
    flags->fReserved = FALSE;
    flags->dwFlags = station->flags;
    return TRUE;
}
