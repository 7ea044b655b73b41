#include "config_support.h"

#include <cstdio>
#include <cstring>
#include <fstream>

namespace larktest {

void InstallDriverAndStorePrinter() {
    std::string out;
    ASSERT_EQ(RunLarksim(std::string("install-driver '") + LARK_PACKAGE_DIR + "'", &out), 0) << out;
    winsim::PrinterRecord printer;
    printer.name = kPrinter;
    printer.port = u"USB001";
    printer.driver = u"Lark Photo Printer";
    ASSERT_TRUE(winsim::StorePrinter(printer));
}

std::string DriverFileHostPath(const std::string& name) {
    return winsim::HostPath(winsim::DriverDirectory() + u"\\3\\" + winsim::ToUtf16(name));
}

void WriteDriverFile(const std::string& name, const std::string& bytes) {
    std::ofstream out(DriverFileHostPath(name), std::ios::binary | std::ios::trunc);
    out << bytes;
    ASSERT_TRUE(out.good()) << name;
}

void RemoveDriverFile(const std::string& name) { std::remove(DriverFileHostPath(name).c_str()); }

void ListDriverFile(const std::string& name) {
    winsim::DriverRecord driver;
    ASSERT_TRUE(winsim::GetDriver(u"Lark Photo Printer", &driver));
    driver.dependentFiles.push_back(winsim::DriverDirectory() + u"\\3\\" + winsim::ToUtf16(name));
    ASSERT_TRUE(winsim::AddDriver(driver));
}

void DriverMachineTest::SetUp() {
    MachineTest::SetUp();
    InstallDriverAndStorePrinter();
    StoreBuiltDefaultDevmode();
}

void DriverMachineTest::TearDown() {
    winsim::ClearDialogQueue();
    winsim::ClearDialogUserActions();
    MachineTest::TearDown();
}

bool StoredPrinterText(const char16_t* name, std::string* value) {
    for (const auto& v : winsim::PrinterData(kPrinter)) {
        if (v.name != name) continue;
        std::u16string s(v.data.size() / 2, u'\0');
        if (!s.empty()) std::memcpy(s.data(), v.data.data(), s.size() * 2);
        *value = winsim::ToUtf8(s);
        return true;
    }
    return false;
}

std::u16string W(const std::string& utf8) { return winsim::ToUtf16(utf8); }

std::string Narrow(const WCHAR* text) {
    std::u16string s;
    for (; *text != 0; ++text) s += *text;
    return winsim::ToUtf8(s);
}

OpenedPrinter::OpenedPrinter(const char16_t* name) {
    std::u16string n = name;
    EXPECT_TRUE(OpenPrinterW(n.data(), &handle, nullptr));
}

OpenedPrinter::~OpenedPrinter() {
    if (handle != nullptr) ClosePrinter(handle);
}

}  // namespace larktest
