#include "spooler_query.h"

namespace {

template <typename Call>
QueriedBlock TwoCallQuery(Call call, SizeQuery sizeQuery) {
    // A failing call need not write the size, so it starts at 0.
    DWORD needed = 0;
    if (!call(nullptr, 0, &needed) && sizeQuery == SizeQuery::Checked &&
        GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
        return {};
    }
    if (needed == 0) return {};
    QueriedBlock block{HeapAllocZeroed<BYTE>(needed), needed};
    if (!block.data) return {};
    if (!call(block.data.get(), needed, &needed)) return {};
    return block;
}

}  // namespace

QueriedBlock QueryPrinterInfo2(HANDLE printer, SizeQuery sizeQuery) {
    return TwoCallQuery(
        [printer](LPBYTE buffer, DWORD bytes, LPDWORD needed) {
            return GetPrinterW(printer, 2, buffer, bytes, needed);
        },
        sizeQuery);
}

QueriedBlock QueryDriverInfo3(HANDLE printer) {
    return TwoCallQuery(
        [printer](LPBYTE buffer, DWORD bytes, LPDWORD needed) {
            return GetPrinterDriverW(printer, nullptr, 3, buffer, bytes, needed);
        },
        SizeQuery::Checked);
}
