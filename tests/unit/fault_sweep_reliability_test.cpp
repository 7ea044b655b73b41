// The fault-injection sweep: each road is run once to count the platform
// calls it makes, then once per call with exactly that call failing. Every
// run must end with one of the road's documented answers, and hold nothing.
// Prints one table row per road: calls, runs and the answers seen.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <map>
#include <set>

#include "config_support.h"
#include "driver_devmode.h"
#include "printjob_support.h"

namespace larktest {
namespace {

// Every platform function that winsim can make fail.
const char* const kFunctions[] = {"CloseHandle",
                                  "CommonPropertySheetUIW",
                                  "CreateFileW",
                                  "CreateProcessW",
                                  "CreateThread",
                                  "CreateURLMoniker",
                                  "CreateWindowExW",
                                  "DeviceIoControl",
                                  "DocumentPropertiesW",
                                  "EndDocPrinter",
                                  "EndPagePrinter",
                                  "FindWindowW",
                                  "GetDlgItem",
                                  "GetPrinterDataW",
                                  "GetPrinterDriverDirectoryW",
                                  "GetPrinterDriverW",
                                  "GetPrinterW",
                                  "GetProcAddress",
                                  "GetVersionExW",
                                  "GlobalAlloc",
                                  "HeapAlloc",
                                  "LoadLibraryW",
                                  "LocalAlloc",
                                  "MessageBoxW",
                                  "OpenPrinterW",
                                  "RegQueryValueExW",
                                  "RegisterClassW",
                                  "ResumeThread",
                                  "SendMessageW",
                                  "SetPortW",
                                  "SetPrinterDataW",
                                  "SetWindowPos",
                                  "SetupDiEnumDeviceInterfaces",
                                  "SetupDiGetClassDevsW",
                                  "SetupDiGetDeviceInterfaceDetailW",
                                  "SetupDiOpenDeviceInterfaceRegKey",
                                  "StartDocPrinterA",
                                  "StartPagePrinter",
                                  "SysAllocString",
                                  "WritePrinter",
                                  "_wfopen"};

// The printer handle the roads are called with, opened before any fault.
HANDLE g_printer = nullptr;

struct Road {
    const char* name;
    std::function<long()> run;  // the road's answer
    std::set<long> documented;  // every answer a failure may give
};

class FaultSweepTest : public MachineTest {
protected:
    void SetUp() override {
        MachineTest::SetUp();
        InstallDriverAndStorePrinter();
        StoreBuiltDefaultDevmode();
        SetResolutionValue(300 << 16 | 300);
        printer_ = std::make_unique<OpenedPrinter>();
        g_printer = printer_->handle;
    }
    void TearDown() override {
        g_printer = nullptr;
        printer_.reset();
        MachineTest::TearDown();
    }
    std::unique_ptr<OpenedPrinter> printer_;

    std::map<std::string, long> Count(const Road& road) {
        std::map<std::string, long> before, calls;
        for (const char* f : kFunctions) before[f] = winsim::CallCount(f);
        road.run();
        for (const char* f : kFunctions) {
            long n = winsim::CallCount(f) - before[f];
            if (n > 0) calls[f] = n;
        }
        return calls;
    }

    void Sweep(const Road& road) {
        std::map<std::string, long> calls = Count(road);
        long total = 0, runs = 0;
        std::map<long, long> answers;
        for (const auto& [function, n] : calls) {
            total += n;
            for (long nth = 1; nth <= n; ++nth) {
                winsim::Counts before = winsim::CurrentCounts();
                winsim::FailCall(function, static_cast<int>(nth));
                long answer = road.run();
                winsim::ClearFaults();
                winsim::ClearDialogQueue();
                ++runs;
                ++answers[answer];
                std::string where = std::string(road.name) + ": " + function + " call " +
                                    std::to_string(nth) + " fails";
                EXPECT_TRUE(road.documented.count(answer) != 0) << where << ", answer " << answer;
                winsim::Counts after = winsim::CurrentCounts();
                EXPECT_EQ(after.heapBlocks, before.heapBlocks) << where;
                EXPECT_EQ(after.globalBlocks, before.globalBlocks) << where;
                EXPECT_EQ(after.printerHandles, before.printerHandles) << where;
                EXPECT_EQ(after.openFiles, before.openFiles) << where;
                EXPECT_EQ(after.kernelHandles, before.kernelHandles) << where;
                EXPECT_EQ(after.bstrs, before.bstrs) << where;
                EXPECT_EQ(after.monikers, before.monikers) << where;
            }
        }
        std::string seen;
        for (const auto& [answer, times] : answers) {
            seen += " " + std::to_string(answer) + "x" + std::to_string(times);
        }
        std::printf("sweep: %s | %ld | %ld |%s\n", road.name, total, runs, seen.c_str());
    }
};

TEST_F(FaultSweepTest, CapabilitiesRoad) {
    Road road{"capabilities",
              [] {
                  std::u16string name = kPrinter;
                  WCHAR names[256][64];
                  POINT sizes[256];
                  long sum = 0;
                  for (WORD index : {DC_PAPERS, DC_PAPERSIZE, DC_PAPERNAMES, DC_MINEXTENT,
                                     DC_MEDIAREADY, DC_FIELDS}) {
                      void* out = index == DC_PAPERSIZE ? static_cast<void*>(sizes) : names;
                      DWORD answer =
                          DrvDeviceCapabilities(g_printer, name.data(), index, out, nullptr);
                      // Whether each index answered: a failure may give 0.
                      sum = sum * 2 + (answer != 0 && answer != static_cast<DWORD>(-1));
                  }
                  return sum;
              },
              {}};
    // Every index may lose its answer to a failure; none may give another.
    for (long s = 0; s < 64; ++s) road.documented.insert(s);
    Sweep(road);
}

TEST_F(FaultSweepTest, DirectDocumentPropertiesRoad) {
    Road road{
        "document properties",
        [] {
            std::u16string name = kPrinter;
            DriverDevmode in{}, out{};
            LONG size = DrvDocumentProperties(nullptr, g_printer, name.data(), nullptr, nullptr, 0);
            if (size != static_cast<LONG>(kDriverDevmodeSize)) return -2L;
            if (DrvDocumentProperties(nullptr, g_printer, name.data(), &in.dm, nullptr,
                                      DM_OUT_BUFFER) != IDOK) {
                return -3L;
            }
            in.dm.dmFields = DM_ORIENTATION;
            in.dm.dmOrientation = 2;
            return static_cast<long>(DrvDocumentProperties(nullptr, g_printer, name.data(), &out.dm,
                                                           &in.dm, DM_IN_BUFFER | DM_OUT_BUFFER));
        },
        {IDOK, -1, -3}};
    Sweep(road);
}

TEST_F(FaultSweepTest, PrintJobRoad) {
    Road road{"print job (PRE, POST)",
              [] {
                  DriverDevmode app{};
                  DOCEVENT_CREATEDCPRE pre = {nullptr, nullptr, &app.dm, FALSE};
                  void* record = nullptr;
                  int result = DrvDocumentEvent(g_printer, nullptr, DOCUMENTEVENT_CREATEDCPRE, 0,
                                                &pre, 0, &record);
                  if (result == DOCUMENTEVENT_SUCCESS) {
                      DrvDocumentEvent(g_printer, nullptr, DOCUMENTEVENT_CREATEDCPOST, 0, &record,
                                       0, nullptr);
                  }
                  return static_cast<long>(result);
              },
              {DOCUMENTEVENT_SUCCESS, DOCUMENTEVENT_FAILURE}};
    Sweep(road);
}

}  // namespace
}  // namespace larktest
