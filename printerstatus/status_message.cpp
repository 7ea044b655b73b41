#include "status_message.h"

namespace {

constexpr DWORD kFirstReadBytes = 512;
// Beyond any status message the driver writes (255 characters); a larger
// value is not worth a block.
constexpr DWORD kLargestValueBytes = 1 << 20;

// The spooler stores the value without a terminator, so every buffer has
// zero-filled room after the size it declares: a value that fills the
// declared size still ends within its block.
LPWSTR ReadValue(HANDLE printer, SIZE_T blockBytes, DWORD declaredBytes, DWORD* needed) {
    auto* text = static_cast<LPWSTR>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, blockBytes));
    if (text == nullptr) return nullptr;
    WCHAR name[] = TEXT("StatusMessage");
    if (GetPrinterDataW(printer, name, nullptr, reinterpret_cast<LPBYTE>(text), declaredBytes,
                        needed) != ERROR_SUCCESS) {
        HeapFree(GetProcessHeap(), 0, text);
        return nullptr;
    }
    return text;
}

void BreakLines(LPWSTR text) {
    for (WCHAR* at = text; at[0] != 0; ++at) {
        if (at[0] == '\\' && at[1] == 'n') {
            at[0] = '\r';
            at[1] = '\n';
            ++at;
        }
    }
}

}  // namespace

LPWSTR PrepareStatusMessage(HANDLE printer) {
    DWORD needed = 0;
    LPWSTR text = ReadValue(printer, kFirstReadBytes + sizeof(WCHAR), kFirstReadBytes, &needed);
    if (text == nullptr && needed != 0 && needed <= kLargestValueBytes) {
        // The second read offers twice what the first said it needs.
        DWORD again = 0;
        text = ReadValue(printer, (static_cast<SIZE_T>(needed) + 2) * 2, needed * 2, &again);
    }
    if (text == nullptr) return DefaultStatusMessage;
    BreakLines(text);
    return text;
}

void ReleaseStatusMessage(LPWSTR text) {
    if (text != nullptr && text != DefaultStatusMessage) HeapFree(GetProcessHeap(), 0, text);
}
