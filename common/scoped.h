// Owners for the platform's handles and blocks, so that "closed on every
// path" holds by construction. Releasing keeps the thread's last error, so a
// close on the way out never hides the error a caller is about to read.
#pragma once

#include <cstdio>
#include <memory>

#include "platform.h"

namespace scoped {

template <typename Release>
struct KeepingLastError {
    template <typename T>
    void operator()(T* p) const {
        DWORD error = GetLastError();
        Release{}(p);
        SetLastError(error);
    }
};

struct ClosePrinterRelease {
    void operator()(void* h) const { ClosePrinter(h); }
};
struct CloseHandleRelease {
    void operator()(void* h) const {
        if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    }
};
struct HeapFreeRelease {
    void operator()(void* p) const { HeapFree(GetProcessHeap(), 0, p); }
};
struct LocalFreeRelease {
    void operator()(void* p) const { LocalFree(p); }
};
struct RegCloseKeyRelease {
    void operator()(HKEY k) const { RegCloseKey(k); }
};
struct FileCloseRelease {
    void operator()(FILE* f) const { fclose(f); }
};
struct DeviceInfoListRelease {
    void operator()(void* set) const {
        if (set != INVALID_HANDLE_VALUE) SetupDiDestroyDeviceInfoList(set);
    }
};

}  // namespace scoped

using ScopedPrinter = std::unique_ptr<void, scoped::KeepingLastError<scoped::ClosePrinterRelease>>;
using ScopedHandle = std::unique_ptr<void, scoped::KeepingLastError<scoped::CloseHandleRelease>>;
using ScopedKey = std::unique_ptr<std::remove_pointer_t<HKEY>,
                                  scoped::KeepingLastError<scoped::RegCloseKeyRelease>>;
using ScopedFile = std::unique_ptr<FILE, scoped::FileCloseRelease>;
using ScopedDeviceInfoList =
    std::unique_ptr<void, scoped::KeepingLastError<scoped::DeviceInfoListRelease>>;

// A block from the process heap.
template <typename T = BYTE>
using HeapBlock = std::unique_ptr<T, scoped::KeepingLastError<scoped::HeapFreeRelease>>;
template <typename T = BYTE>
using LocalBlock = std::unique_ptr<T, scoped::KeepingLastError<scoped::LocalFreeRelease>>;

// Zero-filled block of the process heap, or an empty owner.
template <typename T = BYTE>
[[nodiscard]] HeapBlock<T> HeapAllocZeroed(SIZE_T bytes) {
    return HeapBlock<T>(static_cast<T*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, bytes)));
}

// Block of the process heap left as it comes, for a caller that writes every
// byte it later reads; or an empty owner.
template <typename T = BYTE>
[[nodiscard]] HeapBlock<T> HeapAllocUnfilled(SIZE_T bytes) {
    return HeapBlock<T>(static_cast<T*>(HeapAlloc(GetProcessHeap(), 0, bytes)));
}

// Opens a printer; an empty owner when it does not open.
[[nodiscard]] inline ScopedPrinter OpenPrinterScoped(LPWSTR name, PRINTER_DEFAULTSW* defaults) {
    HANDLE h = nullptr;
    if (!OpenPrinterW(name, &h, defaults)) return ScopedPrinter();
    return ScopedPrinter(h);
}
