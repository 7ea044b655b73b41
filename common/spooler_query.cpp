#include "spooler_query.h"

namespace {

template <typename Call>
QueriedBlock TwoCallQuery(Call call) {
    DWORD needed = 0;
    if (!call(nullptr, 0, &needed) && GetLastError() != ERROR_INSUFFICIENT_BUFFER) return {};
    if (needed == 0) return {};
    QueriedBlock block{HeapAllocZeroed<BYTE>(needed), needed};
    if (!block.data) return {};
    if (!call(block.data.get(), needed, &needed)) return {};
    return block;
}

}  // namespace

QueriedBlock QueryPrinterInfo2(HANDLE printer) {
    return TwoCallQuery([printer](LPBYTE buffer, DWORD bytes, LPDWORD needed) {
        return GetPrinterW(printer, 2, buffer, bytes, needed);
    });
}

QueriedBlock QueryDriverInfo3(HANDLE printer) {
    return TwoCallQuery([printer](LPBYTE buffer, DWORD bytes, LPDWORD needed) {
        return GetPrinterDriverW(printer, nullptr, 3, buffer, bytes, needed);
    });
}
