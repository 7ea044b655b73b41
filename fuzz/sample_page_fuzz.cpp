// Any driver data file into SendSamplePage: the PrintSamplePage line found,
// decoded and sent as at most one raw job.
#include "fuzz_support.h"
#include "sample_page.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace larkfuzz;
    HANDLE printer = Printer();
    WriteScratch(data, size);
    winsim::Counts before = winsim::CurrentCounts();
    std::u16string path = ScratchPath();
    FILE* file = _wfopen(path.c_str(), u"rt");
    Require(file != nullptr, "data file opened");
    Require(SendSamplePage(printer, file) == 1, "always 1");
    ExpectNothingHeld(before, "SendSamplePage");
    ForgetRecordsNowAndThen();
    return 0;
}
