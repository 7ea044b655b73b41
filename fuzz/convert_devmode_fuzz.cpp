// DrvConvertDevMode in every mode with any record in and any output size:
// either the input a block of exactly its claimed size and the output one of
// exactly the stated count, so any access past either is a finding, or both
// placed before memory the process may not touch, where the guard answers.
#include <cstring>

#include "devmode_convert.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace larkfuzz;
    SetUpMachine();
    if (size < 3) return 0;
    static const DWORD kModes[] = {CDM_CONVERT, CDM_CONVERT351, CDM_DRIVER_DEFAULT, 0, 8};
    DWORD mode = kModes[(data[0] & 0x7F) % std::size(kModes)];
    // The top bit places the records before forbidden memory: one call per
    // input, and the fuzzer reaches both placements.
    bool guarded = (data[0] & 0x80) != 0;
    uint16_t stated;
    std::memcpy(&stated, data + 1, 2);
    bool noOutput = stated == 0xFFFF;
    size_t outBytes = noOutput ? 0 : std::min<size_t>(stated, 3 * kDriverDevmodeSize);
    data += 3;
    size -= 3;
    std::u16string name = kPrinter;
    winsim::Counts before = winsim::CurrentCounts();

    // In ordinary memory of exactly the stated sizes.
    if (!guarded) {
        std::vector<uint8_t> in = ClaimedRecord(data, size);
        std::vector<uint8_t> out(outBytes, 0xA5);
        LONG needed = static_cast<LONG>(outBytes);
        BOOL ok = DrvConvertDevMode(
            name.data(), size == 0 ? nullptr : reinterpret_cast<DEVMODEW*>(in.data()),
            noOutput ? nullptr : reinterpret_cast<DEVMODEW*>(out.data()), &needed, mode);
        if (ok) {
            Require(!noOutput && static_cast<size_t>(needed) <= outBytes, "answer fits the output");
            if (mode == CDM_CONVERT351) {
                auto* dm = reinterpret_cast<const DEVMODEW*>(out.data());
                Require(dm->dmSize == kDevmode351Size && dm->dmSpecVersion == kDevmode351Version &&
                            dm->dmDriverExtra == kPrivateDevmodeSize,
                        "3.51 record header");
                Require(needed == static_cast<LONG>(kDriverDevmode351Size), "3.51 count");
            } else {
                ExpectConsistentRecord(*reinterpret_cast<const DriverDevmode*>(out.data()),
                                       "DrvConvertDevMode");
            }
        }
    }
    // The record ends at a page the process may not read, the output claims
    // more than its memory: the guard answers, nothing faults.
    if (guarded)
        OnWorker([&] {
            static GuardedPages in;
            static GuardedPages out;
            LONG needed = static_cast<LONG>(outBytes);
            uint8_t* outAt =
                out.base + ((out.page - std::min(outBytes / 2, out.page)) & ~size_t{3});
            DrvConvertDevMode(
                name.data(),
                size == 0 ? nullptr : reinterpret_cast<DEVMODEW*>(in.PlaceBeforeEnd(data, size)),
                noOutput ? nullptr : reinterpret_cast<DEVMODEW*>(outAt), &needed, mode);
        });
    ExpectNothingHeld(before, "DrvConvertDevMode");
    return 0;
}
