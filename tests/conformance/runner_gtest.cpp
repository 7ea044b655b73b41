// The tables on winsim under GoogleTest: one test per table, each on a
// fresh machine, every failure of every row reported with its row's name,
// and what the process held checked at the table's end.
#include <gtest/gtest.h>

#include <cstdio>

#include "adapter.h"
#include "conformance.h"

namespace {

conformance::Totals g_totals;

class TableTest : public ::testing::Test {
public:
    explicit TableTest(const conformance::Table& table) : table_(table) {}
    void TestBody() override {
        std::string why;
        ASSERT_TRUE(conformance::BeginTable(&why)) << why;
        std::vector<conformance::Holding> before, after;
        conformance::Holdings(&before);
        conformance::Context ctx;
        ctx.table = table_.name;
        table_.run(ctx);
        conformance::ResetPrinter();
        conformance::Holdings(&after);
        for (size_t i = 0; i < before.size() && i < after.size(); ++i) {
            EXPECT_EQ(after[i].count, before[i].count)
                << table_.name << ": " << before[i].what << " held at the end of the table";
        }
        conformance::EndTable();
        for (const std::string& failure : ctx.failures) ADD_FAILURE() << failure;
        std::printf("table %s: %ld rows (%ld of them winsim-only, %ld with a Wine difference)\n",
                    table_.name, ctx.tableRows, ctx.tableWinsimOnly, ctx.tableWine);
        g_totals.passed += ctx.totals.passed;
        g_totals.failed += ctx.totals.failed;
        g_totals.rows += ctx.totals.rows;
        g_totals.skipped += ctx.totals.skipped;
        g_totals.winsimOnly += ctx.totals.winsimOnly;
        g_totals.wineDiffers += ctx.totals.wineDiffers;
    }

private:
    const conformance::Table& table_;
};

class Summary : public ::testing::Environment {
public:
    void TearDown() override {
        std::printf(
            "conformance on %s: %ld rows run (%ld winsim-only, %ld with a Wine difference)\n",
            conformance::PlatformName(), g_totals.rows, g_totals.winsimOnly, g_totals.wineDiffers);
        std::printf("%ld passed, %ld failed\n", g_totals.passed, g_totals.failed);
        conformance::PrintUncountedKinds();
    }
};

// GoogleTest names: letters, digits and underscores.
std::string TestName(const char* table) {
    std::string name;
    for (const char* c = table; *c != 0; ++c) {
        bool word =
            (*c >= 'a' && *c <= 'z') || (*c >= 'A' && *c <= 'Z') || (*c >= '0' && *c <= '9');
        if (word) {
            name += *c;
        } else if (!name.empty() && name.back() != '_') {
            name += '_';
        }
    }
    while (!name.empty() && name.back() == '_') name.pop_back();
    return name;
}

}  // namespace

int main(int argc, char** argv) {
    // The notes' check reads what the tables cover without running them.
    if (argc == 2 && std::string(argv[1]) == "--coverage") {
        conformance::PrintCoverage();
        return 0;
    }
    ::testing::InitGoogleTest(&argc, argv);
    for (const conformance::Table& table : conformance::Tables()) {
        ::testing::RegisterTest("Conformance", TestName(table.name).c_str(), nullptr, nullptr,
                                __FILE__, __LINE__,
                                [&table]() -> ::testing::Test* { return new TableTest(table); });
    }
    ::testing::AddGlobalTestEnvironment(new Summary);
    return RUN_ALL_TESTS();
}
