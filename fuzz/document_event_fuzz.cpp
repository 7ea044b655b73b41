// DrvDocumentEvent CREATEDCPRE and RESETDCPRE with any application devmode,
// either in a block of exactly its claimed size (a read past it is a
// finding) or ending right before a page the process may not read (the guard
// must answer). Every record handed out must be whole, and its POST event frees
// it.
#include "fuzz_support.h"

namespace {

int Pre(bool reset, DEVMODEW* devmode, void** record) {
    if (reset) {
        return DrvDocumentEvent(larkfuzz::Printer(), nullptr, DOCUMENTEVENT_RESETDCPRE, 0, &devmode,
                                0, record);
    }
    DOCEVENT_CREATEDCPRE pre = {nullptr, nullptr, devmode, FALSE};
    return DrvDocumentEvent(larkfuzz::Printer(), nullptr, DOCUMENTEVENT_CREATEDCPRE, 0, &pre, 0,
                            record);
}

void RunOne(bool reset, DEVMODEW* devmode) {
    using namespace larkfuzz;
    void* record = reinterpret_cast<void*>(0x1);
    int result = Pre(reset, devmode, &record);
    Require(result == DOCUMENTEVENT_SUCCESS || result == DOCUMENTEVENT_FAILURE, "PRE answer");
    if (result == DOCUMENTEVENT_FAILURE) {
        Require(record == nullptr, "no record after a failure");
        return;
    }
    if (devmode == nullptr) {
        Require(record == nullptr, "no record without a devmode");
        return;
    }
    Require(record != nullptr, "record handed out");
    ExpectConsistentRecord(*static_cast<DriverDevmode*>(record), "DrvDocumentEvent");
    int post = reset ? DOCUMENTEVENT_RESETDCPOST : DOCUMENTEVENT_CREATEDCPOST;
    Require(
        DrvDocumentEvent(Printer(), nullptr, post, 0, &record, 0, nullptr) == DOCUMENTEVENT_SUCCESS,
        "POST answer");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace larkfuzz;
    SetUpMachine();
    if (size < 1) return 0;
    // The first byte picks the event and where the record lies: one call per
    // input keeps the rate up, and the fuzzer reaches both placements.
    bool reset = (data[0] & 1) != 0;
    bool guarded = (data[0] & 2) != 0;
    ++data;
    --size;
    winsim::Counts before = winsim::CurrentCounts();
    if (guarded) {
        OnWorker([&] {
            GuardedPages& pages = GuardedPages::Shared();
            RunOne(reset, reinterpret_cast<DEVMODEW*>(pages.PlaceBeforeEnd(data, size)));
        });
    } else {
        std::vector<uint8_t> exact = ClaimedRecord(data, size);
        RunOne(reset, size == 0 ? nullptr : reinterpret_cast<DEVMODEW*>(exact.data()));
    }
    ExpectNothingHeld(before, "DrvDocumentEvent");
    return 0;
}
