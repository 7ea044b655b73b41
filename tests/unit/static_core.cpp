// lark_tests reaches the driver through its static core only: no module of
// the driver loads in this process, so no road runs a second copy of it
// (with module-wide values of its own) beside the one the tests call.
#include <vector>

#include "config_support.h"
#include "default_devmode.h"

namespace larktest {
namespace {

const bool g_forbidden = [] {
    winsim::ForbidDriverModules(
        "lark_tests reaches the driver through its static core: a road that loads the driver's "
        "module belongs in lark_road_tests");
    return true;
}();

}  // namespace

void StoreBuiltDefaultDevmode() {
    std::vector<uint8_t> bytes(kDriverDevmodeSize);
    BuildDefaultDevmode(reinterpret_cast<DriverDevmode*>(bytes.data()), kPrinter);
    ASSERT_TRUE(winsim::SetPrinterDevmode(kPrinter, bytes));
}

}  // namespace larktest
