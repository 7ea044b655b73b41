// Every entry point from several threads at once on several printers, two
// property sheets with their dialogs on one printer, and the fault guard on
// every thread: each call must still give its documented answer, and
// nothing may be left held. Built under the tsan preset it is the race
// check (tools/stress); LARK_STRESS_ROUNDS sets the rounds per thread.
#include <sys/stat.h>

#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "config_support.h"
#include "driver_devmode.h"
#include "driver_entries.h"
#include "unreadable_pages.h"

namespace larktest {
namespace {

const char16_t* const kPrinters[] = {u"Stress One", u"Stress Two", u"Stress Three"};
// DrvPrinterEvent rewrites a printer's values from the data file, the
// monitor's name included; it gets a printer of its own.
const char16_t* const kInitPrinter = u"Stress Init";
constexpr size_t kClaimBytes = offsetof(DEVMODEW, dmFields) + 8;

int Rounds() {
    const char* text = std::getenv("LARK_STRESS_ROUNDS");
    int rounds = text != nullptr ? std::atoi(text) : 0;
    return rounds > 0 ? rounds : 8;
}

class ThreadStressTest : public MachineTest {
protected:
    void SetUp() override {
        MachineTest::SetUp();
        InstallPackageAndPrinter(kPrinters[0], u"USB001");
        for (const char16_t* name : {kPrinters[1], kPrinters[2], kInitPrinter}) {
            std::string out;
            ASSERT_EQ(RunLarksim("add-printer '" + winsim::ToUtf8(name) + "' --port USB001", &out),
                      0)
                << out;
        }
        winsim::SetSetting("sleep_scale", "0.001");
        winsim::SetSetting("sheet_timeout_ms", "1000");
        TheDriver();  // loaded before the threads share it
        // A stand-in monitor that ends at once, so STARTDOC's launches stay
        // cheap under the sanitizers.
        WriteDriverFile("stressmon.exe", "#!/bin/sh\nexit 0\n");
        chmod(DriverFileHostPath("stressmon.exe").c_str(), 0755);
        ListDriverFile("stressmon.exe");
        for (const char16_t* name : kPrinters) {
            std::u16string printer = name, value = u"StatusMonitor", monitor = u"stressmon.exe";
            PRINTER_DEFAULTSW defaults = {nullptr, nullptr, PRINTER_ACCESS_ADMINISTER};
            HANDLE h = nullptr;
            ASSERT_TRUE(OpenPrinterW(printer.data(), &h, &defaults));
            SetPrinterDataW(h, value.data(), REG_SZ, reinterpret_cast<LPBYTE>(monitor.data()),
                            static_cast<DWORD>(monitor.size() * 2));
            ClosePrinter(h);
        }
    }
};

// One round of every entry point a printing application reaches directly.
void EntryPoints(HANDLE printer, std::u16string name, UnreadablePages& pages) {
    WCHAR names[64][64];
    EXPECT_GT(TheDriver().DrvDeviceCapabilities(printer, name.data(), DC_PAPERS, nullptr, nullptr),
              0u);
    EXPECT_GT(
        TheDriver().DrvDeviceCapabilities(printer, name.data(), DC_PAPERNAMES, names, nullptr), 0u);
    EXPECT_GT(
        TheDriver().DrvDeviceCapabilities(nullptr, name.data(), DC_MINEXTENT, nullptr, nullptr),
        0u);

    DriverDevmode out{}, in{};
    EXPECT_EQ(TheDriver().DrvDocumentProperties(nullptr, printer, name.data(), nullptr, nullptr, 0),
              static_cast<LONG>(kDriverDevmodeSize));
    EXPECT_EQ(TheDriver().DrvDocumentProperties(nullptr, printer, name.data(), &in.dm, nullptr,
                                                DM_OUT_BUFFER),
              IDOK);
    in.dm.dmFields = DM_ORIENTATION;
    in.dm.dmOrientation = 2;
    EXPECT_EQ(TheDriver().DrvDocumentProperties(nullptr, printer, name.data(), &out.dm, &in.dm,
                                                DM_IN_BUFFER | DM_OUT_BUFFER),
              IDOK);
    EXPECT_EQ(out.dm.dmOrientation, 2);
    EXPECT_EQ(
        TheDriver().DrvAdvancedDocumentProperties(nullptr, printer, name.data(), &out.dm, nullptr),
        0);

    DOCUMENTPROPERTYHEADER header = {};
    header.cbSize = sizeof header;
    header.hPrinter = printer;
    header.pszPrinterName = name.data();
    header.pdmOut = &out.dm;
    header.fMode = DM_OUT_BUFFER;
    EXPECT_EQ(TheDriver().DrvDocumentPropertySheets(nullptr, reinterpret_cast<LPARAM>(&header)), 1);

    LONG needed = 0;
    TheDriver().DrvConvertDevMode(name.data(), nullptr, nullptr, &needed, CDM_DRIVER_DEFAULT);
    EXPECT_EQ(needed, static_cast<LONG>(kDriverDevmodeSize));
    EXPECT_TRUE(
        TheDriver().DrvConvertDevMode(name.data(), nullptr, &out.dm, &needed, CDM_DRIVER_DEFAULT));

    void* record = nullptr;
    DOCEVENT_CREATEDCPRE pre = {nullptr, nullptr, &in.dm, FALSE};
    EXPECT_EQ(TheDriver().DrvDocumentEvent(printer, nullptr, DOCUMENTEVENT_CREATEDCPRE, 0, &pre, 0,
                                           &record),
              DOCUMENTEVENT_SUCCESS);
    PDEVMODEW reset = &in.dm;
    void* resetRecord = nullptr;
    EXPECT_EQ(TheDriver().DrvDocumentEvent(printer, nullptr, DOCUMENTEVENT_RESETDCPRE, 0, &reset, 0,
                                           &resetRecord),
              DOCUMENTEVENT_SUCCESS);
    EXPECT_EQ(TheDriver().DrvDocumentEvent(printer, nullptr, DOCUMENTEVENT_STARTDOC, 0, nullptr, 0,
                                           nullptr),
              DOCUMENTEVENT_SUCCESS);
    EXPECT_EQ(TheDriver().DrvDocumentEvent(printer, nullptr, DOCUMENTEVENT_RESETDCPOST, 0,
                                           &resetRecord, 0, nullptr),
              DOCUMENTEVENT_SUCCESS);
    EXPECT_EQ(TheDriver().DrvDocumentEvent(printer, nullptr, DOCUMENTEVENT_CREATEDCPOST, 0, &record,
                                           0, nullptr),
              DOCUMENTEVENT_SUCCESS);

    // The guard: a devmode on memory the process may not touch, and one
    // that claims more than the readable page behind it holds.
    void* guarded = &guarded;
    DOCEVENT_CREATEDCPRE forbidden = {nullptr, nullptr,
                                      reinterpret_cast<PDEVMODEW>(pages.Forbidden()), FALSE};
    EXPECT_EQ(TheDriver().DrvDocumentEvent(printer, nullptr, DOCUMENTEVENT_CREATEDCPRE, 0,
                                           &forbidden, 0, &guarded),
              DOCUMENTEVENT_FAILURE);
    EXPECT_EQ(guarded, nullptr);
    auto* tail = reinterpret_cast<PDEVMODEW>(pages.Tail(kClaimBytes));
    DOCEVENT_CREATEDCPRE claims = {nullptr, nullptr, tail, FALSE};
    guarded = nullptr;
    int result = TheDriver().DrvDocumentEvent(printer, nullptr, DOCUMENTEVENT_CREATEDCPRE, 0,
                                              &claims, 0, &guarded);
    EXPECT_TRUE(result == DOCUMENTEVENT_SUCCESS || result == DOCUMENTEVENT_FAILURE) << result;
    EXPECT_EQ(result == DOCUMENTEVENT_SUCCESS, guarded != nullptr);
    if (guarded != nullptr) {
        TheDriver().DrvDocumentEvent(printer, nullptr, DOCUMENTEVENT_CREATEDCPOST, 0, &guarded, 0,
                                     nullptr);
    }
    EXPECT_TRUE(TheDriver().DevQueryPrintEx(nullptr));
    EXPECT_TRUE(TheDriver().DrvUpgradePrinter(2, nullptr));
    EXPECT_EQ(TheDriver().DrvDevicePropertySheets(nullptr, 0), -1);
}

TEST_F(ThreadStressTest, EveryEntryPointOnEveryThread) {
    const int rounds = Rounds();
    // Two sheets at a time on one printer take their answers from the
    // machine's one queue, in whatever order they show.
    for (int i = 0; i < 2 * rounds; ++i) {
        winsim::QueueDialogOutcome({winsim::DialogKind::Answer, u"1000=1;9900=258;", 0});
    }
    std::atomic<int> sheetsOk{0}, sheetsCancelled{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 6; ++t) {
        threads.emplace_back([t, rounds] {
            std::u16string name = kPrinters[t % 3];
            HANDLE printer = nullptr;
            ASSERT_TRUE(OpenPrinterW(name.data(), &printer, nullptr));
            // Each thread its own pages: the guard's faults stay its own. A
            // record whose sizes claim the whole driver devmode, with 80
            // readable bytes behind it.
            UnreadablePages pages;
            auto* tail = reinterpret_cast<DEVMODEW*>(pages.Tail(kClaimBytes));
            tail->dmSize = 220;
            tail->dmDriverExtra = static_cast<WORD>(kDriverDevmodeSize - 220);
            tail->dmFields = DM_ORIENTATION | DM_PAPERSIZE;
            pages.MakeReadOnly();
            for (int r = 0; r < rounds; ++r) EntryPoints(printer, name, pages);
            ClosePrinter(printer);
        });
    }
    threads.emplace_back([rounds] {
        std::u16string name = kInitPrinter;
        for (int r = 0; r < rounds; ++r) {
            EXPECT_TRUE(TheDriver().DrvPrinterEvent(name.data(), PRINTER_EVENT_INITIALIZE, 0, 0));
            EXPECT_TRUE(TheDriver().DrvPrinterEvent(name.data(), PRINTER_EVENT_DELETE, 0, 0));
        }
    });
    for (int t = 0; t < 2; ++t) {
        threads.emplace_back([rounds, &sheetsOk, &sheetsCancelled] {
            std::u16string name = kPrinters[0];
            HANDLE printer = nullptr;
            ASSERT_TRUE(OpenPrinterW(name.data(), &printer, nullptr));
            for (int r = 0; r < rounds; ++r) {
                DriverDevmode out{};
                LONG answer = DocumentPropertiesW(nullptr, printer, name.data(), &out.dm, nullptr,
                                                  DM_IN_PROMPT | DM_OUT_BUFFER);
                // Two sheets of one printer may get one title (it is made
                // of the time); one closing thread may then close both and
                // the other sheet ends as a user cancels it.
                EXPECT_TRUE(answer == IDOK || answer == IDCANCEL) << answer;
                if (answer == IDOK) {
                    EXPECT_EQ(out.dm.dmPaperSize, 258);
                    ++sheetsOk;
                } else {
                    ++sheetsCancelled;
                }
            }
            ClosePrinter(printer);
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_TRUE(winsim::WaitForProcessThreads(10000));
    EXPECT_GT(sheetsOk, 0);
    std::printf("stress: rounds %d, sheets IDOK %d, IDCANCEL %d\n", rounds, sheetsOk.load(),
                sheetsCancelled.load());
}

}  // namespace
}  // namespace larktest
