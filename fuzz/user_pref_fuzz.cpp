// The settings dialog's answers into GetUserPref: a script of up to four
// showings (answer, sample page, cancel, failure, null string), each answer
// any UTF-16 text, through the stored value and the devmode.
#include <cstring>

#include "driver_files.h"
#include "fuzz_support.h"
#include "settings_dialog.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace larkfuzz;
    HANDLE printer = Printer();
    static HeapBlock<DriverDevmode> base = GetPrinterDefaultDevmode(printer);
    Require(static_cast<bool>(base), "default devmode");
    static const winsim::DialogKind kKinds[] = {
        winsim::DialogKind::Answer, winsim::DialogKind::Sample, winsim::DialogKind::None,
        winsim::DialogKind::Fail, winsim::DialogKind::NullString};
    winsim::ClearDialogQueue();
    size_t at = 0;
    for (int showing = 0; showing < 4 && at + 2 <= size; ++showing) {
        winsim::DialogOutcome outcome;
        outcome.kind = kKinds[data[at] % std::size(kKinds)];
        size_t units = data[at + 1] * 4u;
        at += 2;
        for (size_t i = 0; i < units && at + 1 < size; ++i, at += 2) {
            outcome.text += static_cast<char16_t>(data[at] | data[at + 1] << 8);
        }
        if (outcome.kind == winsim::DialogKind::Fail) outcome.result = E_FAIL;
        winsim::QueueDialogOutcome(outcome);
    }
    winsim::Counts before = winsim::CurrentCounts();
    DriverDevmode devmode;
    std::memcpy(&devmode, base.get(), sizeof devmode);
    int paper = GetUserPref(&devmode);
    // dmPaperSize is a short: the answer's low 16 bits.
    Require(paper >= -0x8000 && paper <= 0x7FFF, "paper size");
    ExpectConsistentRecord(devmode, "GetUserPref");
    winsim::ClearDialogQueue();
    ExpectNothingHeld(before, "GetUserPref");
    ForgetRecordsNowAndThen();
    return 0;
}
