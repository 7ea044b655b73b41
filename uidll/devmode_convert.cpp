#include "devmode_convert.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "default_devmode.h"
#include "fault_guard.h"

namespace {

// Bytes up to and including dmDriverExtra: a record shorter than this cannot
// even describe itself.
constexpr WORD kHeaderEnd = offsetof(DEVMODEW, dmFields);

// The devmode version of a public size, 0 for a size of none.
WORD VersionOfSize(WORD size) {
    switch (size) {
        case 188:
            return 0x0320;
        case 212:
            return 0x0400;
        case 220:
            return 0x0401;
        default:
            return 0;
    }
}

}  // namespace

int ConvertDevmodeVersion(const DEVMODEW* source, DEVMODEW* target) {
    if (source == nullptr) return -1;
    const WORD sourceSize = source->dmSize;
    if (sourceSize < kHeaderEnd) return -1;
    if (VersionOfSize(sourceSize) == 0 && source->dmSpecVersion == 0) return -1;
    if (target == nullptr) return -1;
    const WORD targetSize = target->dmSize;
    if (targetSize < kHeaderEnd) return -1;
    WORD version = VersionOfSize(targetSize);
    if (version == 0) version = target->dmSpecVersion;
    if (version == 0) return -1;
    const WORD driverVersion = target->dmDriverVersion;
    const WORD targetExtra = target->dmDriverExtra;
    const WORD sourceExtra = source->dmDriverExtra;

    const size_t n = std::min(sourceSize, targetSize);
    CopyCallerBytes(target, source, n);
    target->dmSpecVersion = version;
    target->dmDriverVersion = driverVersion;
    target->dmDriverExtra = targetExtra;
    target->dmSize = targetSize;

    const size_t m = std::min(targetExtra, sourceExtra);
    CopyCallerBytes(reinterpret_cast<BYTE*>(target) + targetSize,
                    reinterpret_cast<const BYTE*>(source) + sourceSize, m);
    return static_cast<int>(n + m);
}

namespace {

struct Conversion {
    const DEVMODEW* in;
    BYTE* local;
    int copied;
};

void Convert351(void* context) {
    auto* c = static_cast<Conversion*>(context);
    auto* out = reinterpret_cast<DEVMODEW*>(c->local);
    out->dmSpecVersion = kDevmode351Version;
    out->dmSize = kDevmode351Size;
    out->dmDriverVersion = kDriverVersion;
    out->dmDriverExtra = kPrivateDevmodeSize;
    c->copied = ConvertDevmodeVersion(c->in, out);
}

struct CopyOut {
    void* out;
    const void* in;
    size_t bytes;
};

void CopyOutWork(void* context) {
    auto* c = static_cast<CopyOut*>(context);
    CopyCallerBytes(c->out, c->in, c->bytes);
}

// The caller's buffer is written only by the driver's own copy, under the
// guard: a count that promises more than the memory behind pdmOut ends in
// ERROR_INVALID_PARAMETER, not in a fault.
bool CopyToCaller(void* out, const void* in, size_t bytes) {
    CopyOut copy{out, in, bytes};
    return RunGuarded(CopyOutWork, &copy);
}

BOOL Fail(DWORD error) {
    SetLastError(error);
    return FALSE;
}

BOOL DriverDefault(LPWSTR printerName, PDEVMODEW out, PLONG needed) {
    if (out == nullptr || *needed < static_cast<LONG>(kDriverDevmodeSize)) {
        *needed = kDriverDevmodeSize;
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    }
    DriverDevmode built;
    BuildDefaultDevmode(&built, printerName);
    if (!CopyToCaller(out, &built, sizeof built)) return Fail(ERROR_INVALID_PARAMETER);
    *needed = built.dm.dmSize + built.dm.dmDriverExtra;
    return TRUE;
}

BOOL To351(PDEVMODEW in, PDEVMODEW out, PLONG needed) {
    if (out == nullptr || *needed < static_cast<LONG>(kDriverDevmode351Size)) {
        *needed = kDriverDevmode351Size;
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    }
    // Built in a zeroed buffer of our own: nothing of the caller's earlier
    // buffer content survives where the source is shorter.
    BYTE local[kDriverDevmode351Size] = {};
    Conversion conversion{in, local, 0};
    if (!RunGuarded(Convert351, &conversion) || conversion.copied <= 0) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    if (!CopyToCaller(out, local, sizeof local)) return Fail(ERROR_INVALID_PARAMETER);
    *needed = kDriverDevmode351Size;
    return TRUE;
}

}  // namespace

extern "C" BOOL WINAPI DrvConvertDevMode(LPWSTR printerName, PDEVMODEW in, PDEVMODEW out,
                                         PLONG needed, DWORD mode) {
    if (needed == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    switch (mode) {
        case CDM_CONVERT:
        case CDM_DRIVER_DEFAULT:
            // The converted record is the printer's default: pdmIn is not read.
            return DriverDefault(printerName, out, needed);
        case CDM_CONVERT351:
            return To351(in, out, needed);
        default:
            return FALSE;
    }
}
