// A fresh winsim machine per test, with the driver package installed from
// the build's package folder, and a check that the test left nothing held.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "winsim/control.h"

namespace larktest {

// Creates a machine in a new temporary folder and makes it this process's.
std::string NewMachine();
// Runs larksim on the current machine; returns its exit code, output to *out
// (with stderr, unless err is given: then stderr goes there).
int RunLarksim(const std::string& arguments, std::string* out = nullptr,
               std::string* err = nullptr);
// Installs the build's driver package and adds the printer on the port.
void InstallPackageAndPrinter(const std::u16string& printer, const std::u16string& port);

// Expects the process to hold what it held at `before`, every count by name.
void ExpectHeldAsBefore(const winsim::Counts& before, const std::string& where);

class MachineTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    std::string root_;
    winsim::Counts before_;
};

}  // namespace larktest
