// The stand-in spooler answers as the driver relies on: two-call queries,
// the last errors, printer data encodings, handle accounting and injected
// failures.
#include <cstring>

#include "machine_fixture.h"
#include "scoped.h"
#include "spooler_query.h"

namespace {

class SpoolerTest : public larktest::MachineTest {
protected:
    void SetUp() override {
        MachineTest::SetUp();
        winsim::DriverRecord driver;
        driver.name = u"Test Driver";
        driver.dataFile = u"C:\\Windows\\System32\\spool\\drivers\\x64\\3\\data.ini";
        driver.configFile = u"C:\\Windows\\System32\\spool\\drivers\\x64\\3\\ui.dll";
        driver.helpFile = u"C:\\Windows\\System32\\spool\\drivers\\x64\\3\\help.hlp";
        ASSERT_TRUE(winsim::AddDriver(driver));
        winsim::PrinterRecord printer;
        printer.name = u"Photo";
        printer.port = u"USB001";
        printer.driver = u"Test Driver";
        printer.devmode.assign(2328, 0x5A);
        ASSERT_TRUE(winsim::StorePrinter(printer));
    }
};

TEST_F(SpoolerTest, OpenPrinterFindsPrintersIgnoringCase) {
    HANDLE h = nullptr;
    WCHAR name[] = TEXT("pHOTO");
    ASSERT_TRUE(OpenPrinterW(name, &h, nullptr));
    EXPECT_EQ(winsim::CurrentCounts().printerHandles, before_.printerHandles + 1);
    EXPECT_TRUE(ClosePrinter(h));
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(ClosePrinter(h));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    WCHAR missing[] = TEXT("Nobody");
    EXPECT_FALSE(OpenPrinterW(missing, &h, nullptr));
    EXPECT_EQ(h, nullptr);
}

TEST_F(SpoolerTest, GetPrinterTwoCallSequence) {
    WCHAR name[] = TEXT("Photo");
    ScopedPrinter printer = OpenPrinterScoped(name, nullptr);
    ASSERT_TRUE(printer);
    DWORD needed = 0;
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(GetPrinterW(printer.get(), 2, nullptr, 0, &needed));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    ASSERT_GT(needed, sizeof(PRINTER_INFO_2W) + 2328);
    std::vector<BYTE> buffer(needed);
    DWORD again = 0;
    EXPECT_FALSE(GetPrinterW(printer.get(), 2, buffer.data(), needed - 1, &again));
    EXPECT_EQ(again, needed);
    ASSERT_TRUE(GetPrinterW(printer.get(), 2, buffer.data(), needed, &again));
    auto* info = reinterpret_cast<PRINTER_INFO_2W*>(buffer.data());
    EXPECT_EQ(std::u16string(info->pPrinterName), u"Photo");
    EXPECT_EQ(std::u16string(info->pPortName), u"USB001");
    ASSERT_NE(info->pDevMode, nullptr);
    EXPECT_EQ(reinterpret_cast<BYTE*>(info->pDevMode)[2327], 0x5A);
}

TEST_F(SpoolerTest, DriverInfoAndDirectory) {
    WCHAR name[] = TEXT("Photo");
    ScopedPrinter printer = OpenPrinterScoped(name, nullptr);
    QueriedBlock block = QueryDriverInfo3(printer.get());
    ASSERT_TRUE(block.data);
    auto* info = reinterpret_cast<DRIVER_INFO_3W*>(block.data.get());
    EXPECT_EQ(info->cVersion, 3u);
    EXPECT_EQ(std::u16string(info->pDataFile),
              u"C:\\Windows\\System32\\spool\\drivers\\x64\\3\\data.ini");
    BYTE dir[512];
    DWORD needed = 0;
    ASSERT_TRUE(GetPrinterDriverDirectoryW(nullptr, nullptr, 1, dir, sizeof dir, &needed));
    EXPECT_EQ(std::u16string(reinterpret_cast<WCHAR*>(dir)), winsim::DriverDirectory());
    EXPECT_FALSE(GetPrinterDriverDirectoryW(nullptr, nullptr, 1, dir, 10, &needed));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
}

TEST_F(SpoolerTest, PrinterDataNeedsAdministerAccessToWrite) {
    WCHAR name[] = TEXT("Photo");
    WCHAR value[] = TEXT("Resolution");
    DWORD resolution = 0x012C012C;
    ScopedPrinter reader = OpenPrinterScoped(name, nullptr);
    EXPECT_EQ(
        SetPrinterDataW(reader.get(), value, REG_DWORD, reinterpret_cast<BYTE*>(&resolution), 4),
        static_cast<DWORD>(ERROR_ACCESS_DENIED));
    PRINTER_DEFAULTSW admin{nullptr, nullptr, PRINTER_ACCESS_ADMINISTER};
    ScopedPrinter writer = OpenPrinterScoped(name, &admin);
    EXPECT_EQ(
        SetPrinterDataW(writer.get(), value, REG_DWORD, reinterpret_cast<BYTE*>(&resolution), 4),
        static_cast<DWORD>(ERROR_SUCCESS));
    DWORD out = 0, type = 0, needed = 0;
    EXPECT_EQ(
        GetPrinterDataW(reader.get(), value, &type, reinterpret_cast<BYTE*>(&out), 2, &needed),
        static_cast<DWORD>(ERROR_MORE_DATA));
    EXPECT_EQ(needed, 4u);
    EXPECT_EQ(
        GetPrinterDataW(reader.get(), value, &type, reinterpret_cast<BYTE*>(&out), 4, &needed),
        static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(out, resolution);
    EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
    WCHAR missing[] = TEXT("Nothing");
    EXPECT_EQ(
        GetPrinterDataW(reader.get(), missing, nullptr, reinterpret_cast<BYTE*>(&out), 4, &needed),
        static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST_F(SpoolerTest, InjectedFailureOfTheNthCall) {
    WCHAR name[] = TEXT("Photo");
    winsim::FailCall("OpenPrinterW", 2, ERROR_ACCESS_DENIED);
    ScopedPrinter first = OpenPrinterScoped(name, nullptr);
    EXPECT_TRUE(first);
    ScopedPrinter second = OpenPrinterScoped(name, nullptr);
    EXPECT_FALSE(second);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    ScopedPrinter third = OpenPrinterScoped(name, nullptr);
    EXPECT_TRUE(third);
    winsim::FailCall("HeapAlloc", 0);
    EXPECT_FALSE(QueryPrinterInfo2(first.get()).data);
}

TEST_F(SpoolerTest, ClosingKeepsTheLastError) {
    WCHAR name[] = TEXT("Photo");
    {
        ScopedPrinter printer = OpenPrinterScoped(name, nullptr);
        SetLastError(1234);
    }
    EXPECT_EQ(GetLastError(), 1234u);
}

}  // namespace
