#include "fault_guard.h"

#include <atomic>
#include <cstdint>

void GuardNote() { std::atomic_signal_fence(std::memory_order_seq_cst); }

void CopyCallerBytes(void* out, const void* in, size_t bytes) {
    // Volatile accesses keep the compiler from turning the loop into a call
    // of the library's memcpy.
    auto* to = static_cast<volatile uint8_t*>(out);
    auto* from = static_cast<const volatile uint8_t*>(in);
    for (size_t i = 0; i < bytes; ++i) to[i] = from[i];
}
