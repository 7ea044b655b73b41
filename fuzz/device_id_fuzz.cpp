// The printer's device ID as the polling loop sees it (at most 512 bytes,
// terminated) into CheckInkLevels and, when it has an S field, CheckStatus
// with its port status, log lines and warning box.
#include <cstring>

#include "device_status.h"
#include "fuzz_support.h"
#include "polling_loop.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace larkfuzz;
    SetUpMachine();
    if (size < 1) return 0;
    if ((data[0] & 1) != 0) ResetLastReportedStatus();
    ++data;
    --size;
    // The text ends at its first zero: an exact copy lets AddressSanitizer see
    // any read past the terminator.
    size_t length =
        std::min<size_t>(strnlen(reinterpret_cast<const char*>(data), size), kReplyBytes);
    std::vector<char> id(length + 1, 0);
    std::memcpy(id.data(), data, length);
    winsim::Counts before = winsim::CurrentCounts();
    int ink = CheckInkLevels(id.data());
    Require(ink <= 0 && ink >= -17, "ink code");
    const char* field = std::strstr(id.data(), ";S:");
    if (field != nullptr) {
        WCHAR printer[] = TEXT("Lark Fuzz");
        WCHAR port[] = TEXT("USB001");
        int s = CheckStatus(id.data(), printer, port, static_cast<size_t>(field - id.data()));
        Require(s >= 0 && s <= 255, "status byte");
    }
    ExpectNothingHeld(before, "device ID");
    ForgetRecordsNowAndThen();
    return 0;
}
