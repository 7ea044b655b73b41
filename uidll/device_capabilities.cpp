// DrvDeviceCapabilities: the paper answers from the paper table, the devmode
// answers from the devmode in use, fixed answers for the rest.
#include <cstring>

#include "driver_files.h"
#include "paper_table.h"
#include "text.h"

namespace {

constexpr DWORD kNotAnswered = static_cast<DWORD>(-1);
constexpr size_t kBinNameUnits = 24;

DWORD PackExtent(int32_t width, int32_t height) {
    return (static_cast<DWORD>(static_cast<WORD>(height)) << 16) | static_cast<WORD>(width);
}

DWORD Extent(HANDLE printer, bool smallest) {
    POINT sizes[kMaxPaperRows];
    int rows = QueryPaperTable(printer, sizes, nullptr, nullptr);
    int32_t width = smallest ? 16000 : 0;
    int32_t height = width;
    for (int i = 0; i < rows; ++i) {
        if (smallest ? sizes[i].x < width : sizes[i].x > width) width = sizes[i].x;
        if (smallest ? sizes[i].y < height : sizes[i].y > height) height = sizes[i].y;
    }
    return PackExtent(width, height);
}

DWORD MediaReady(HANDLE printer, PVOID output) {
    if (output == nullptr) return 1;
    using NameSlot = WCHAR[kPaperNameUnits];
    auto names = HeapAllocZeroed<BYTE>(sizeof(NameSlot) * kMaxPaperRows);
    NameSlot fallback = {};
    NameSlot* slots = names ? reinterpret_cast<NameSlot*>(names.get()) : &fallback;
    if (names) {
        ReadPaperTable(printer, slots, nullptr, nullptr);
    } else {
        TextCopy(fallback, kPaperNameUnits, TEXT("Automatic"));
    }
    TextCopy(static_cast<WCHAR*>(output), kPaperNameUnits, slots[0]);
    return 1;
}

DWORD PaperAnswer(HANDLE printer, WORD index, PVOID output) {
    switch (index) {
        case DC_PAPERS:
            return static_cast<DWORD>(
                QueryPaperTable(printer, nullptr, static_cast<WORD*>(output), nullptr));
        case DC_PAPERSIZE:
            return static_cast<DWORD>(
                QueryPaperTable(printer, static_cast<POINT*>(output), nullptr, nullptr));
        case DC_PAPERNAMES:
            return static_cast<DWORD>(ReadPaperTable(
                printer, static_cast<WCHAR(*)[kPaperNameUnits]>(output), nullptr, nullptr));
        case DC_MINEXTENT:
            return Extent(printer, true);
        case DC_MAXEXTENT:
            return Extent(printer, false);
        case DC_MEDIAREADY:
            return MediaReady(printer, output);
        default:
            return kNotAnswered;
    }
}

DWORD FixedAnswer(WORD index, PVOID output) {
    switch (index) {
        case DC_BINS:
            if (output != nullptr) *static_cast<WORD*>(output) = DMBIN_AUTO;
            return 1;
        case DC_BINNAMES:
            if (output != nullptr) {
                auto* name = static_cast<WCHAR*>(output);
                std::memset(name, 0, kBinNameUnits * sizeof(WCHAR));
                TextCopy(name, kBinNameUnits, TEXT("Automatic"));
            }
            return 1;
        case DC_DUPLEX:
        case DC_FILEDEPENDENCIES:
        case DC_STAPLE:
            return 0;
        case DC_TRUETYPE:
            return DCTT_BITMAP;
        case DC_ORIENTATION:
            return 270;
        case DC_COPIES:
            return 100;
        case DC_EMF_COMPLIANT:
        case DC_COLLATE:
            return 1;
        default:
            return kNotAnswered;
    }
}

DWORD DevmodeAnswer(const DEVMODEW* dm, WORD index) {
    switch (index) {
        case DC_FIELDS:
            return dm->dmFields;
        case DC_SIZE:
            return dm->dmSize;
        case DC_EXTRA:
            return dm->dmDriverExtra;
        case DC_VERSION:
            return dm->dmSpecVersion;
        case DC_DRIVER:
            return dm->dmDriverVersion;
        default:
            return kNotAnswered;
    }
}

}  // namespace

extern "C" DWORD WINAPI DrvDeviceCapabilities(HANDLE printer, PWSTR deviceName, WORD index,
                                              PVOID output, PDEVMODEW callerDevmode) {
    // Wine's DeviceCapabilitiesW passes no printer handle, only the printer's
    // name as the device name: the printer is opened by it for this call.
    ScopedPrinter opened;
    if (printer == nullptr && deviceName != nullptr && deviceName[0] != 0) {
        opened = OpenPrinterScoped(deviceName, nullptr);
        printer = opened.get();
    }
    ScopedPrinterDefaultDevmode stored;
    const DEVMODEW* dm = nullptr;
    if (callerDevmode != nullptr && callerDevmode->dmSize == kPublicDevmodeSize) {
        dm = callerDevmode;
    } else {
        stored.reset(CreatePrinterDefaultDevmode(printer));
        if (!stored || stored->owns == 0) return 0;
        dm = &stored->devmode->dm;
    }
    DWORD answer = DevmodeAnswer(dm, index);
    if (answer == kNotAnswered) answer = FixedAnswer(index, output);
    if (answer == kNotAnswered) answer = PaperAnswer(printer, index, output);
    return answer;
}
