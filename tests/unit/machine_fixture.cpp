#include "machine_fixture.h"

#include <stdlib.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <iterator>

namespace larktest {

std::string NewMachine() {
    char pattern[] = "/tmp/lark-test.XXXXXX";
    std::string root = mkdtemp(pattern);
    EXPECT_TRUE(winsim::InitMachine(root));
    winsim::SetMachineRoot(root);
    setenv("WINSIM_ROOT", root.c_str(), 1);
    // The tests' user is an elevated administrator, whose printer opens for
    // administration and whose port statuses the spooler takes; the tests
    // of a user without those rights say so.
    winsim::SetSetting("user", "elevated");
    return root;
}

int RunLarksim(const std::string& arguments, std::string* out, std::string* err) {
    const std::string errFile = winsim::MachineRoot() + "/larksim.stderr";
    std::string command = std::string(LARK_LARKSIM) + " --root '" + winsim::MachineRoot() + "' " +
                          arguments + (err != nullptr ? " 2>'" + errFile + "'" : " 2>&1");
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return -1;
    std::array<char, 4096> buffer{};
    std::string text;
    size_t n;
    while ((n = fread(buffer.data(), 1, buffer.size(), pipe)) > 0) text.append(buffer.data(), n);
    int status = pclose(pipe);
    if (out != nullptr) *out = text;
    if (err != nullptr) {
        std::ifstream in(errFile);
        err->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        std::remove(errFile.c_str());
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void InstallPackageAndPrinter(const std::u16string& printer, const std::u16string& port) {
    std::string out;
    ASSERT_EQ(RunLarksim(std::string("install-driver '") + LARK_PACKAGE_DIR + "'", &out), 0) << out;
    ASSERT_EQ(
        RunLarksim("add-printer '" + winsim::ToUtf8(printer) + "' --port " + winsim::ToUtf8(port),
                   &out),
        0)
        << out;
}

void MachineTest::SetUp() {
    root_ = NewMachine();
    winsim::ClearFaults();
    before_ = winsim::CurrentCounts();
}

void ExpectHeldAsBefore(const winsim::Counts& before, const std::string& where) {
    winsim::Counts after = winsim::CurrentCounts();
    EXPECT_EQ(after.printerHandles, before.printerHandles)
        << where << ": printer handles left open";
    EXPECT_EQ(after.kernelHandles, before.kernelHandles) << where << ": handles left open";
    EXPECT_EQ(after.registryKeys, before.registryKeys) << where << ": registry keys left open";
    EXPECT_EQ(after.deviceInfoLists, before.deviceInfoLists) << where << ": device sets left open";
    EXPECT_EQ(after.heapBlocks, before.heapBlocks) << where << ": heap blocks left allocated";
    EXPECT_EQ(after.globalBlocks, before.globalBlocks) << where << ": global blocks left allocated";
    EXPECT_EQ(after.localBlocks, before.localBlocks) << where << ": local blocks left allocated";
    EXPECT_EQ(after.openFiles, before.openFiles) << where << ": files left open";
    EXPECT_EQ(after.bstrs, before.bstrs) << where << ": strings left allocated";
    EXPECT_EQ(after.monikers, before.monikers) << where << ": monikers left unreleased";
}

void MachineTest::TearDown() {
    winsim::ClearFaults();
    ExpectHeldAsBefore(before_, "at the end of the test");
    std::string command = "rm -rf '" + root_ + "'";
    if (!HasFailure()) (void)system(command.c_str());
}

}  // namespace larktest
