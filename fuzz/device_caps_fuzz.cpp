// DrvDeviceCapabilities for every index with any caller devmode (a block of
// exactly its claimed size): counted first, then written into an output of
// exactly the counted size.
#include <cstring>

#include "fuzz_support.h"
#include "paper_table.h"

namespace {

// Bytes of one output element per index; 0 where the index writes nothing.
size_t ElementBytes(WORD index) {
    switch (index) {
        case DC_PAPERS:
        case DC_BINS:
            return sizeof(WORD);
        case DC_PAPERSIZE:
            return sizeof(POINT);
        case DC_PAPERNAMES:
        case DC_MEDIAREADY:
            return kPaperNameUnits * sizeof(WCHAR);
        case DC_BINNAMES:
            return 24 * sizeof(WCHAR);
        default:
            return 0;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace larkfuzz;
    HANDLE printer = Printer();
    if (size < 2) return 0;
    WORD index = data[0] % 40;
    bool byName = (data[1] & 1) != 0;
    data += 2;
    size -= 2;
    std::u16string name = kPrinter;
    winsim::Counts before = winsim::CurrentCounts();
    {
        std::vector<uint8_t> devmode = ClaimedRecord(data, size);
        auto* dm = size == 0 ? nullptr : reinterpret_cast<DEVMODEW*>(devmode.data());
        HANDLE h = byName ? nullptr : printer;
        DWORD count = DrvDeviceCapabilities(h, name.data(), index, nullptr, dm);
        size_t element = ElementBytes(index);
        if (element != 0 && count != static_cast<DWORD>(-1) && count <= kMaxPaperRows) {
            std::vector<uint8_t> out(std::max<size_t>(count, 1) * element, 0xA5);
            DWORD again = DrvDeviceCapabilities(h, name.data(), index, out.data(), dm);
            Require(again == count, "count and answer agree");
            if (index == DC_PAPERNAMES || index == DC_MEDIAREADY) {
                for (DWORD i = 0; i < again; ++i) {
                    Require(TerminatedWithin(reinterpret_cast<WCHAR*>(out.data() + i * element),
                                             kPaperNameUnits),
                            "paper name terminated");
                }
            }
        }
    }
    ExpectNothingHeld(before, "DrvDeviceCapabilities");
    return 0;
}
