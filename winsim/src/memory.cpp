// The process heap, global and local memory. Blocks are counted so that a
// test can see that an entry point freed what it allocated; freeing a block
// that is not live fails as on Windows instead of corrupting memory.
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <unordered_map>

#include "internal.h"

using winsim::detail::CountDown;
using winsim::detail::CountUp;
using winsim::detail::Faulted;
using winsim::detail::Held;

namespace {

std::mutex g_lock;
std::unordered_map<void*, Held> g_blocks;

void* Allocate(SIZE_T bytes, bool zero, Held kind) {
    void* p = zero ? std::calloc(1, bytes == 0 ? 1 : bytes) : std::malloc(bytes == 0 ? 1 : bytes);
    if (p == nullptr) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    std::lock_guard<std::mutex> guard(g_lock);
    g_blocks[p] = kind;
    CountUp(kind);
    return p;
}

bool Release(void* p, Held kind) {
    std::lock_guard<std::mutex> guard(g_lock);
    auto it = g_blocks.find(p);
    if (it == g_blocks.end() || it->second != kind) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    g_blocks.erase(it);
    CountDown(kind);
    std::free(p);
    return true;
}

bool IsLive(const void* p, Held kind) {
    std::lock_guard<std::mutex> guard(g_lock);
    auto it = g_blocks.find(const_cast<void*>(p));
    return it != g_blocks.end() && it->second == kind;
}

}  // namespace

void* winsim::detail::AllocateLocal(SIZE_T bytes) { return Allocate(bytes, true, Held::Local); }

WINSIM_API HANDLE WINAPI GetProcessHeap(void) {
    static int heap;
    return &heap;
}

WINSIM_API LPVOID WINAPI HeapAlloc(HANDLE, DWORD flags, SIZE_T bytes) {
    if (Faulted("HeapAlloc")) return nullptr;
    return Allocate(bytes, (flags & HEAP_ZERO_MEMORY) != 0, Held::Heap);
}

WINSIM_API BOOL WINAPI HeapFree(HANDLE, DWORD, LPVOID block) {
    if (block == nullptr) return TRUE;
    return Release(block, Held::Heap) ? TRUE : FALSE;
}

// Fixed blocks only: the handle of a fixed block is its address.
WINSIM_API HGLOBAL WINAPI GlobalAlloc(UINT flags, SIZE_T bytes) {
    if (Faulted("GlobalAlloc")) return nullptr;
    return Allocate(bytes, (flags & GMEM_ZEROINIT) != 0, Held::Global);
}

WINSIM_API HGLOBAL WINAPI GlobalFree(HGLOBAL block) {
    if (block == nullptr) return nullptr;
    return Release(block, Held::Global) ? nullptr : block;
}

WINSIM_API HGLOBAL WINAPI GlobalHandle(LPCVOID pointer) {
    if (pointer != nullptr && IsLive(pointer, Held::Global)) return const_cast<void*>(pointer);
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
}

// Unlocking a fixed block has nothing to undo: Windows answers TRUE for
// any pointer, as for a block still locked, and leaves the last error.
WINSIM_API BOOL WINAPI GlobalUnlock(HGLOBAL) { return TRUE; }

WINSIM_API HLOCAL WINAPI LocalAlloc(UINT flags, SIZE_T bytes) {
    if (Faulted("LocalAlloc")) return nullptr;
    return Allocate(bytes, (flags & LMEM_ZEROINIT) != 0, Held::Local);
}

WINSIM_API HLOCAL WINAPI LocalFree(HLOCAL block) {
    if (block == nullptr) return nullptr;
    return Release(block, Held::Local) ? nullptr : block;
}
