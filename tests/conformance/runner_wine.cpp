// The tables under Wine: every table in order, each row's failures printed
// with its name, then the totals. Exit code 0 when nothing failed.
#include <cstdio>
#include <cstring>

#include "adapter.h"
#include "conformance.h"

int main(int argc, char** argv) {
    // The notes' check reads what the tables cover without running them.
    if (argc == 2 && std::strcmp(argv[1], "--coverage") == 0) {
        conformance::PrintCoverage();
        return 0;
    }
    conformance::PrintUncountedKinds();
    conformance::Totals totals;
    for (const conformance::Table& table : conformance::Tables()) {
        conformance::Context ctx;
        ctx.table = table.name;
        std::string why;
        if (!conformance::BeginTable(&why)) {
            ctx.Fail("the machine: " + why);
        } else {
            std::vector<conformance::Holding> before, after;
            conformance::Holdings(&before);
            table.run(ctx);
            conformance::ResetPrinter();
            // A thread a row started must have ended by now (the closing
            // thread ends within its search and presses).
            for (int wait = 0; wait < 100; ++wait) {
                conformance::Holdings(&after);
                if (after.empty() || before.empty() || after[0].count <= before[0].count) break;
                Sleep(50);
            }
            for (size_t i = 0; i < before.size() && i < after.size(); ++i) {
                if (after[i].count != before[i].count) {
                    ctx.Fail(std::string(before[i].what) +
                             " held at the end of the table: " + std::to_string(after[i].count) +
                             " against " + std::to_string(before[i].count));
                }
            }
            conformance::EndTable();
        }
        for (const std::string& failure : ctx.failures)
            std::printf("FAILED: %s\n", failure.c_str());
        std::printf(
            "table %s: %ld rows (%ld winsim-only rows not run, %ld with a Wine difference)\n",
            table.name, ctx.tableRows, ctx.tableSkipped, ctx.tableWine);
        std::fflush(stdout);
        totals.passed += ctx.totals.passed;
        totals.failed += ctx.totals.failed;
        totals.rows += ctx.totals.rows;
        totals.skipped += ctx.totals.skipped;
        totals.wineDiffers += ctx.totals.wineDiffers;
        totals.notChecked += ctx.totals.notChecked;
    }
    std::printf(
        "conformance on %s: %ld rows run, %ld winsim-only rows not run, %ld with a Wine "
        "difference\n",
        conformance::PlatformName(), totals.rows, totals.skipped, totals.wineDiffers);
    std::printf("%ld passed, %ld failed, %ld counts not checked on %s\n", totals.passed,
                totals.failed, totals.notChecked, conformance::PlatformName());
    return totals.failed == 0 ? 0 : 1;
}
