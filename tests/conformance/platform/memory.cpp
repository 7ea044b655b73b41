// Memory as the driver relies on it: the fixed, zero-filled global block it
// hands GDI and frees through its global handle, zeroed heap blocks, and
// local blocks.
#include <cstring>
#include <vector>

#include "adapter.h"
#include "conformance.h"

namespace {

constexpr DWORD kSentinel = 0xdeadbeef;
constexpr SIZE_T kBytes = 2328;  // the driver's devmode

bool AllZero(const void* block, SIZE_T bytes) {
    const auto* b = static_cast<const unsigned char*>(block);
    for (SIZE_T i = 0; i < bytes; ++i) {
        if (b[i] != 0) return false;
    }
    return true;
}

}  // namespace

CONFORMANCE_COVERS(Rows,
                   "GlobalAlloc GlobalHandle GlobalUnlock GlobalFree GetProcessHeap HeapAlloc "
                   "HeapFree LocalAlloc LocalFree",
                   nullptr);

CONFORMANCE_TABLE(MemoryBlocks, "memory blocks") {
    if (ctx.Begin("GMEM_FIXED | GMEM_ZEROINIT: zeroed, its handle its own address")) {
        void* block = GlobalAlloc(GMEM_FIXED | GMEM_ZEROINIT, kBytes);
        if (ROW_CHECK(block != nullptr)) {
            ROW_CHECK(AllZero(block, kBytes));
            std::memset(block, 0x5A, kBytes);
            ROW_CHECK(GlobalHandle(block) == block);
            ROW_CHECK(GlobalFree(block) == nullptr);
        }
    }
    if (ctx.Begin("GlobalUnlock of a fixed block: TRUE, the last error left alone")) {
        void* block = GlobalAlloc(GMEM_FIXED | GMEM_ZEROINIT, kBytes);
        if (ROW_CHECK(block != nullptr)) {
            SetLastError(kSentinel);
            ROW_EQ(GlobalUnlock(GlobalHandle(block)), TRUE);
            ROW_EQ(GetLastError(), kSentinel);
            ROW_CHECK(GlobalFree(block) == nullptr);
        }
    }
    if (ctx.Begin("GlobalHandle of an address inside a block: none")) {
        auto* block = static_cast<BYTE*>(GlobalAlloc(GMEM_FIXED | GMEM_ZEROINIT, kBytes));
        if (ROW_CHECK(block != nullptr)) {
            SetLastError(kSentinel);
            ROW_CHECK(GlobalHandle(block + 16) == nullptr);
            ROW_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
            GlobalFree(block);
        }
    }
    if (ctx.Begin("GlobalFree of no block: nothing to free")) {
        ROW_CHECK(GlobalFree(nullptr) == nullptr);
    }
    if (ctx.Begin("HeapAlloc HEAP_ZERO_MEMORY: zeroed, small and large")) {
        for (SIZE_T bytes : {SIZE_T{1}, kBytes, SIZE_T{240 * 1024}}) {
            void* block = HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, bytes);
            if (!ROW_CHECK(block != nullptr)) continue;
            ROW_CHECK(AllZero(block, bytes));
            ROW_CHECK(HeapFree(GetProcessHeap(), 0, block));
        }
    }
    if (ctx.Begin("HeapFree of no block: TRUE")) {
        ROW_CHECK(HeapFree(GetProcessHeap(), 0, nullptr));
    }
    if (ctx.Begin("LocalAlloc LPTR: zeroed; LocalFree answers no block")) {
        void* block = LocalAlloc(LPTR, 256);
        if (ROW_CHECK(block != nullptr)) {
            ROW_CHECK(AllZero(block, 256));
            ROW_CHECK(LocalFree(block) == nullptr);
        }
        ROW_CHECK(LocalFree(nullptr) == nullptr);
    }
}
