// The spooler's two-call query: ask for the size with no buffer, go on when
// the call succeeds or fails with ERROR_INSUFFICIENT_BUFFER and names a
// non-zero size, then fetch into a zero-filled buffer of that size.
#pragma once

#include "scoped.h"

struct QueriedBlock {
    HeapBlock<BYTE> data;
    DWORD bytes = 0;
};

// What the size query must show before the fetch.
enum class SizeQuery {
    // Success or ERROR_INSUFFICIENT_BUFFER, with a non-zero size.
    Checked,
    // A non-zero size, whatever the call's result and error: the monitor
    // tries the fetch then, and the fetch alone decides.
    SizeOnly,
};

// PRINTER_INFO_2W of the printer, or an empty block.
[[nodiscard]] QueriedBlock QueryPrinterInfo2(HANDLE printer,
                                             SizeQuery sizeQuery = SizeQuery::Checked);
// DRIVER_INFO_3W of the printer's driver (current environment), or an empty
// block.
[[nodiscard]] QueriedBlock QueryDriverInfo3(HANDLE printer);
