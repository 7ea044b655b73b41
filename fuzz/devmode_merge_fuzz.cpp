// An application's devmode merged into the driver's record, and
// ConvertDevmodeVersion between records of any stated sizes. Every record is
// a block of exactly the size it claims, so a read or write past it is a
// finding.
#include <cstring>

#include "default_devmode.h"
#include "devmode_convert.h"
#include "devmode_merge.h"
#include "fuzz_support.h"

namespace {

struct TargetHeader {
    WORD size, extra, specVersion, driverVersion;
};
constexpr size_t kTargetHeaderBytes = sizeof(TargetHeader);

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace larkfuzz;
    HANDLE printer = Printer();
    static DriverDevmode base = [] {
        DriverDevmode built;
        BuildDefaultDevmode(&built, kPrinter);
        return built;
    }();
    if (size < kTargetHeaderBytes) return 0;
    TargetHeader header;
    std::memcpy(&header, data, kTargetHeaderBytes);
    data += kTargetHeaderBytes;
    size -= kTargetHeaderBytes;
    winsim::Counts before = winsim::CurrentCounts();

    std::vector<uint8_t> source = ClaimedRecord(data, size);
    DriverDevmode target = base;
    MergeDevmode(&target, reinterpret_cast<DEVMODEW*>(source.data()), printer);
    ExpectConsistentRecord(target, "MergeDevmode");

    source = ClaimedRecord(data, size);
    size_t targetBytes = std::max<size_t>(static_cast<size_t>(header.size) + header.extra,
                                          offsetof(DEVMODEW, dmFields));
    std::vector<uint8_t> converted(targetBytes, 0);
    auto* out = reinterpret_cast<DEVMODEW*>(converted.data());
    out->dmSize = header.size;
    out->dmDriverExtra = header.extra;
    out->dmSpecVersion = header.specVersion;
    out->dmDriverVersion = header.driverVersion;
    int copied = ConvertDevmodeVersion(reinterpret_cast<const DEVMODEW*>(source.data()), out);
    Require(copied == -1 || static_cast<size_t>(copied) <= targetBytes, "copied within target");
    if (copied >= 0) {
        Require(out->dmSize == header.size && out->dmDriverExtra == header.extra,
                "target sizes kept");
        Require(out->dmDriverVersion == header.driverVersion, "target driver version kept");
    }
    ExpectNothingHeld(before, "merge");
    return 0;
}
