// Platform calls whose machine-wide state is not kept yet: they answer as a
// machine without such objects would.
#include "internal.h"

WINSIM_API HGDIOBJ WINAPI GetStockObject(int) {
    static int brush;
    return &brush;
}
