// The fault-injection sweep: each road is run once to count the platform
// calls it makes, then once per call with exactly that call failing. Every
// run must end with one of the road's documented answers, and hold nothing.
// Prints one table row per road: calls, runs and the answers seen. A slow
// road may sample a function's calls (first, last and evenly between);
// LARK_SWEEP_ALL=1 fails every call; LARK_SWEEP_VERBOSE=1 prints every run.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <thread>

#include "config_support.h"
#include "devmode_convert.h"
#include "driver_devmode.h"
#include "driver_entries.h"
#include "monitor_test_support.h"
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
                                  "FindWindowExW",
                                  "FindWindowW",
                                  "GetDlgItem",
                                  "GetPrinterDataW",
                                  "GetPrinterDriverDirectoryW",
                                  "GetPrinterDriverW",
                                  "GetPrinterW",
                                  "GetProcAddress",
                                  "GetProcessWindowStation",
                                  "GetUserObjectInformationW",
                                  "GetVersionExW",
                                  "GetWindowThreadProcessId",
                                  "GlobalAlloc",
                                  "HeapAlloc",
                                  "LoadLibraryExW",
                                  "LoadLibraryW",
                                  "LocalAlloc",
                                  "MessageBoxW",
                                  "MsgWaitForMultipleObjects",
                                  "OpenPrinterW",
                                  "OpenProcess",
                                  "QueryFullProcessImageNameW",
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
    // For a road run in another process: the calls its last run made.
    std::function<std::map<std::string, long>()> lastCalls = nullptr;
    std::map<long, std::string> names = {};  // how the table shows an answer
    long perFunction = 0;                    // calls failed per function; 0: all
};

// Which calls of a function with n calls are made to fail.
std::vector<long> Picks(long n, long perFunction) {
    std::vector<long> picks;
    const char* all = std::getenv("LARK_SWEEP_ALL");
    if (perFunction < 2 || n <= perFunction || (all != nullptr && *all == '1')) {
        for (long i = 1; i <= n; ++i) picks.push_back(i);
        return picks;
    }
    for (long i = 0; i < perFunction; ++i) picks.push_back(1 + i * (n - 1) / (perFunction - 1));
    picks.erase(std::unique(picks.begin(), picks.end()), picks.end());
    return picks;
}

class SweepTest : public MachineTest {
protected:
    std::map<std::string, long> Count(const Road& road) {
        if (road.lastCalls) {
            road.run();
            return road.lastCalls();
        }
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
        ASSERT_FALSE(calls.empty()) << road.name << ": no platform call counted";
        long total = 0, runs = 0;
        std::map<long, long> answers;
        for (const auto& [function, n] : calls) {
            total += n;
            // A failing release leaves the object to the platform; the
            // caller has nothing left to do about it.
            if (function == "CloseHandle") continue;
            for (long nth : Picks(n, road.perFunction)) {
                winsim::Counts before = winsim::CurrentCounts();
                if (road.lastCalls) {
                    setenv("WINSIM_FAULTS", (function + ":" + std::to_string(nth)).c_str(), 1);
                } else {
                    winsim::FailCall(function, static_cast<int>(nth));
                }
                long answer = road.run();
                unsetenv("WINSIM_FAULTS");
                winsim::ClearFaults();
                winsim::ClearDialogQueue();
                ++runs;
                ++answers[answer];
                if (std::getenv("LARK_SWEEP_VERBOSE") != nullptr) {
                    std::printf("  %s call %ld: %ld\n", function.c_str(), nth, answer);
                }
                std::string where = std::string(road.name) + ": " + function + " call " +
                                    std::to_string(nth) + " fails";
                EXPECT_TRUE(road.documented.count(answer) != 0) << where << ", answer " << answer;
                ExpectHeldAsBefore(before, where);
            }
        }
        std::string seen;
        for (const auto& [answer, times] : answers) {
            auto name = road.names.find(answer);
            seen += (seen.empty() ? "" : "; ") +
                    (name != road.names.end() ? name->second : std::to_string(answer)) + " x" +
                    std::to_string(times);
        }
        std::printf("sweep: %s | %ld | %ld | %s\n", road.name, total, runs, seen.c_str());
    }
};

class FaultSweepTest : public SweepTest {
protected:
    void SetUp() override {
        SweepTest::SetUp();
        InstallDriverAndStorePrinter();
        StoreBuiltDefaultDevmode();
        SetResolutionValue(300 << 16 | 300);
        printer_ = std::make_unique<OpenedPrinter>();
        g_printer = printer_->handle;
    }
    void TearDown() override {
        g_printer = nullptr;
        printer_.reset();
        SweepTest::TearDown();
    }
    std::unique_ptr<OpenedPrinter> printer_;
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
                      DWORD answer = TheDriver().DrvDeviceCapabilities(g_printer, name.data(),
                                                                       index, out, nullptr);
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
            LONG size = TheDriver().DrvDocumentProperties(nullptr, g_printer, name.data(), nullptr,
                                                          nullptr, 0);
            if (size != static_cast<LONG>(kDriverDevmodeSize)) return -2L;
            if (TheDriver().DrvDocumentProperties(nullptr, g_printer, name.data(), &in.dm, nullptr,
                                                  DM_OUT_BUFFER) != IDOK) {
                return -3L;
            }
            in.dm.dmFields = DM_ORIENTATION;
            in.dm.dmOrientation = 2;
            return static_cast<long>(TheDriver().DrvDocumentProperties(
                nullptr, g_printer, name.data(), &out.dm, &in.dm, DM_IN_BUFFER | DM_OUT_BUFFER));
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
                  int result = TheDriver().DrvDocumentEvent(
                      g_printer, nullptr, DOCUMENTEVENT_CREATEDCPRE, 0, &pre, 0, &record);
                  if (result == DOCUMENTEVENT_SUCCESS) {
                      TheDriver().DrvDocumentEvent(g_printer, nullptr, DOCUMENTEVENT_CREATEDCPOST,
                                                   0, &record, 0, nullptr);
                  }
                  return static_cast<long>(result);
              },
              {DOCUMENTEVENT_SUCCESS, DOCUMENTEVENT_FAILURE}};
    Sweep(road);
}

// The spooler converts devmodes: the driver's default, an application's
// record to the current form, and to the 3.51 form. Each mode answers TRUE
// with a whole record or FALSE; the bits give which modes answered.
TEST_F(FaultSweepTest, ConvertDevModeRoad) {
    Road road{"devmode conversion (DrvConvertDevMode)",
              [] {
                  std::u16string name = kPrinter;
                  DriverDevmode defaults{}, converted{}, old{};
                  LONG size = sizeof defaults;
                  long bits = 0;
                  if (TheDriver().DrvConvertDevMode(name.data(), nullptr, &defaults.dm, &size,
                                                    CDM_DRIVER_DEFAULT)) {
                      if (defaults.dm.dmSize != kPublicDevmodeSize ||
                          defaults.priv.Signature1 != PrivateSignature) {
                          return -2L;
                      }
                      bits |= 1;
                  }
                  DriverDevmode app{};
                  app.dm.dmSize = kPublicDevmodeSize;
                  app.dm.dmSpecVersion = kDevmodeSpecVersion;
                  app.dm.dmFields = DM_ORIENTATION;
                  app.dm.dmOrientation = 2;
                  size = sizeof converted;
                  converted.dm.dmSize = kPublicDevmodeSize;
                  converted.dm.dmDriverExtra = kPrivateDevmodeSize;
                  converted.dm.dmSpecVersion = kDevmodeSpecVersion;
                  converted.dm.dmDriverVersion = kDriverVersion;
                  if (TheDriver().DrvConvertDevMode(name.data(), &app.dm, &converted.dm, &size,
                                                    CDM_CONVERT)) {
                      if (size > static_cast<LONG>(sizeof converted)) return -3L;
                      bits |= 2;
                  }
                  size = sizeof old;
                  if (TheDriver().DrvConvertDevMode(name.data(), &app.dm, &old.dm, &size,
                                                    CDM_CONVERT351)) {
                      if (old.dm.dmSize != kDevmode351Size) return -4L;
                      bits |= 4;
                  }
                  return bits;
              },
              {0, 1, 2, 3, 4, 5, 6, 7},
              nullptr,
              {{7, "all three"},
               {6, "no default"},
               {5, "no conversion"},
               {3, "no 3.51 form"},
               {2, "conversion only"},
               {0, "none"}}};
    Sweep(road);
}

// The roads that need the whole driver package: a printer of it on a USB
// port, with its printer data values as the spooler's initialisation wrote.
class FaultSweepPackageTest : public SweepTest {
protected:
    void SetUp() override {
        SweepTest::SetUp();
        InstallPackageAndPrinter(u"Lark Photo", u"USB001");
        winsim::PrinterRecord record;
        ASSERT_TRUE(winsim::GetPrinterRecord(u"Lark Photo", &record));
        driver_ = record.driver;
    }
    // The sheet roads: sleeps shortened, a sheet nobody closes cancelled
    // after the timeout, and the printer opened by a user.
    HANDLE OpenForSheet(const char* sheetTimeoutMs) {
        winsim::SetSetting("sleep_scale", "0.001");
        winsim::SetSetting("sheet_timeout_ms", sheetTimeoutMs);
        std::u16string name = u"Lark Photo";
        HANDLE printer = nullptr;
        EXPECT_TRUE(OpenPrinterW(name.data(), &printer, nullptr));
        return printer;
    }
    std::u16string driver_;
};

// The spooler adds a printer: the driver's default devmode, then its six
// printer data values. A failure may cost the devmode or values, never the
// printer.
TEST_F(FaultSweepPackageTest, InstallPrinterRoad) {
    int serial = 0;
    std::u16string driver = driver_;
    Road road{"install printer (AddPrinter)",
              [&serial, driver] {
                  std::u16string name = u"Sweep " + winsim::ToUtf16(std::to_string(++serial));
                  std::string error;
                  if (!winsim::AddPrinter(name, u"USB002", driver, &error)) return -1L;
                  winsim::PrinterRecord record;
                  if (!winsim::GetPrinterRecord(name, &record)) return -2L;
                  bool devmode = record.devmode.size() == kDriverDevmodeSize;
                  return static_cast<long>(devmode) * 10 +
                         static_cast<long>(winsim::PrinterData(name).size());
              },
              // Devmode stored or not; all six values, one lost to a failing
              // write, or none when the printer does not open.
              {0, 5, 6, 10, 15, 16},
              nullptr,
              {{16, "devmode, 6 values"},
               {15, "devmode, 5 values"},
               {10, "devmode, no values"},
               {6, "no devmode, 6 values"}}};
    Sweep(road);
}

// STARTDOC starts the monitor named by the printer's StatusMonitor value. A
// stand-in monitor notes its start, so every run knows whether one started.
TEST_F(FaultSweepPackageTest, StartDocRoad) {
    const std::string starts = winsim::MachineRoot() + "/monitor-starts.txt";
    WriteDriverFile("sweepmon.exe",
                    "#!/bin/sh\nprintf '%s\\n' \"$WINSIM_CMDLINE\" >> \"" + starts + "\"\n");
    chmod(DriverFileHostPath("sweepmon.exe").c_str(), 0755);
    ListDriverFile("sweepmon.exe");
    // A window of this process titled as the monitor's: each run asks whose
    // it is before it starts the monitor.
    WNDCLASSW squatter = {};
    squatter.lpfnWndProc = DefWindowProcW;
    std::u16string squatterClass = u"SweepSquatter", title = u"Lark Photo - Status";
    squatter.lpszClassName = squatterClass.c_str();
    RegisterClassW(&squatter);
    HWND window = CreateWindowExW(0, squatterClass.c_str(), title.c_str(), 0, 0, 0, 0, 0, nullptr,
                                  nullptr, nullptr, nullptr);
    ASSERT_NE(window, nullptr);
    std::u16string printer = u"Lark Photo";
    PRINTER_DEFAULTSW defaults = {nullptr, nullptr, PRINTER_ACCESS_ADMINISTER};
    HANDLE h = nullptr;
    ASSERT_TRUE(OpenPrinterW(printer.data(), &h, &defaults));
    std::u16string value = u"StatusMonitor", monitor = u"sweepmon.exe";
    SetPrinterDataW(h, value.data(), REG_SZ, reinterpret_cast<LPBYTE>(monitor.data()),
                    static_cast<DWORD>(monitor.size() * 2));
    auto lines = [starts] {
        std::ifstream in(starts);
        long n = 0;
        for (std::string line; std::getline(in, line);) n += line == "Lark Photo" ? 1 : 0;
        return n;
    };
    Road road{"document start (STARTDOC, monitor launch)",
              [h, lines] {
                  const long before = lines();
                  const long created = winsim::CallCount("CreateProcessW");
                  int answer = TheDriver().DrvDocumentEvent(h, nullptr, DOCUMENTEVENT_STARTDOC, 0,
                                                            nullptr, 0, nullptr);
                  long started = 0;
                  // Bounded: a start that fails writes nothing.
                  for (int i = 0; i < 200 && winsim::CallCount("CreateProcessW") > created; ++i) {
                      started = lines() - before;
                      if (started != 0) break;
                      std::this_thread::sleep_for(std::chrono::milliseconds(5));
                  }
                  return answer * 10L + started;
              },
              // Always success; the launch is silent when it fails.
              {DOCUMENTEVENT_SUCCESS * 10, DOCUMENTEVENT_SUCCESS * 10 + 1},
              nullptr,
              {{10, "success, no monitor"}, {11, "success, monitor started"}}};
    Sweep(road);
    DestroyWindow(window);
    ClosePrinter(h);
}

// Printing Preferences with the page: the dialog asks for a sample page,
// then answers; the closing thread presses OK. Every run ends with the
// answer of DocumentPropertiesW, whether the answer reached the devmode,
// whether the sample page was printed, and the closing thread ended.
TEST_F(FaultSweepPackageTest, PropertySheetRoad) {
    // A sheet whose closing thread could not start ends as a user cancels.
    HANDLE printer = OpenForSheet("300");
    ASSERT_NE(printer, nullptr);
    std::u16string name = u"Lark Photo";
    auto samples = [] {
        long n = 0;
        for (const auto& job : winsim::Jobs(u"Lark Photo")) n += job.document == "Sample Page";
        return n;
    };
    Road road{"property sheet (dialog, sample page)",
              [printer, name, samples]() mutable {
                  winsim::ClearDialogQueue();
                  winsim::DialogOutcome sample{winsim::DialogKind::Sample, u"", 0};
                  winsim::DialogOutcome answer{winsim::DialogKind::Answer, u"1000=1;9900=257;", 0};
                  winsim::QueueDialogOutcome(sample);
                  winsim::QueueDialogOutcome(answer);
                  const long printed = samples();
                  DriverDevmode out{};
                  LONG r = DocumentPropertiesW(nullptr, printer, name.data(), &out.dm, nullptr,
                                               DM_IN_PROMPT | DM_OUT_BUFFER);
                  // The closing thread must end by itself, bounded.
                  if (!winsim::WaitForProcessThreads(5000)) return -8L;
                  return r * 100L + (out.dm.dmPaperSize == 257) * 10L + (samples() - printed);
              },
              {},
              nullptr,
              {{-100, "-1"},
               {111, "IDOK, answered, sample"},
               {110, "IDOK, answered, no sample"},
               {101, "IDOK, unanswered, sample"},
               {100, "IDOK, unanswered, no sample"},
               {211, "IDCANCEL, answered, sample"},
               {210, "IDCANCEL, answered, no sample"},
               {201, "IDCANCEL, unanswered, sample"},
               {200, "IDCANCEL, unanswered, no sample"},
               {-8, "closing thread still running"}},
              12};
    // The sheet answers IDOK or IDCANCEL with or without the dialog's answer
    // and the sample page; a failure before the sheet gives -1 and nothing.
    for (long r : {IDOK, IDCANCEL}) {
        for (long a : {0, 1}) {
            for (long p : {0, 1}) road.documented.insert(r * 100 + a * 10 + p);
        }
    }
    road.documented.insert(-100);
    Sweep(road);
    ClosePrinter(printer);
}

// The printer's own sheet (Printer Properties) under the sheet host: the
// hidden page is added, shown and, as nobody presses OK on it, cancelled.
// The host answers 0 with CPSUI_CANCEL, or its own error when it fails;
// either way the page is released and its closing thread ends.
TEST_F(FaultSweepPackageTest, PrinterSheetRoad) {
    HANDLE printer = OpenForSheet("40");
    ASSERT_NE(printer, nullptr);
    std::u16string name = u"Lark Photo";
    // The module as the spooler loads it, so that its instance is set.
    winsim::DriverRecord driver;
    ASSERT_TRUE(winsim::GetDriver(driver_, &driver));
    winsim::DriverModule module = winsim::LoadDriverModule(driver.configFile);
    ASSERT_NE(module.library, nullptr) << module.error;
    auto sheets = reinterpret_cast<LONG(WINAPI*)(PPROPSHEETUI_INFO, LPARAM)>(
        winsim::DriverEntry(module, "DrvDevicePropertySheets"));
    ASSERT_NE(sheets, nullptr);
    Road road{"printer sheet (DrvDevicePropertySheets)",
              [printer, name, sheets]() mutable {
                  DEVICEPROPERTYHEADER header = {};
                  header.cbSize = sizeof header;
                  header.hPrinter = printer;
                  header.pszPrinterName = name.data();
                  DWORD result = 0xFFFF;
                  LONG r = CommonPropertySheetUIW(nullptr, sheets,
                                                  reinterpret_cast<LPARAM>(&header), &result);
                  if (!winsim::WaitForProcessThreads(5000)) return -8L;
                  if (r < 0) return -1L;
                  return r * 10L + (result == CPSUI_CANCEL ? 1 : result == CPSUI_OK ? 2 : 3);
              },
              {-1, 1},
              nullptr,
              {{1, "0, CPSUI_CANCEL"},
               {2, "0, CPSUI_OK"},
               {-1, "host error"},
               {-8, "closing thread still running"}}};
    Sweep(road);
    winsim::UnloadDriverModule(module);
    ClosePrinter(printer);
}

// The monitor as its own process, a fault in its environment: it must end
// by ExitProcess with exit code 0 and hold nothing but its device.
TEST_F(FaultSweepPackageTest, MonitorRunRoad) {
    winsim::SetSetting("sleep_scale", "0.0001");
    MakeLogFolder();
    winsim::UsbDevice device;
    // A jam on the first poll, so the warning box and its message run too.
    device.deviceIds = {DeviceId("03", "0E"), DeviceId("03", "00")};
    ASSERT_NE(winsim::AddUsbDevice(device), 0);
    int pid = 0;
    Road road{"monitor run (larkmon, WINSIM_FAULTS)",
              [&pid] {
                  std::remove(LogPath().c_str());
                  if (!winsim::StartProgram(winsim::DriverDirectory() + u"\\3\\larkmon.exe",
                                            u"Lark Photo", &pid)) {
                      return -1L;
                  }
                  int status = 0;
                  bool ended = false;
                  for (int i = 0; i < 2000 && !ended; ++i) {
                      ended = waitpid(pid, &status, WNOHANG) == pid;
                      if (!ended) std::this_thread::sleep_for(std::chrono::milliseconds(5));
                  }
                  if (!ended) {
                      kill(pid, SIGKILL);
                      waitpid(pid, &status, 0);
                      return -2L;  // hung
                  }
                  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return -3L;
                  winsim::Counts held;
                  UINT code = 1;
                  if (!winsim::ExitCounts(pid, &held, &code)) return -4L;  // no ExitProcess
                  // The device handle is the one thing the end of the process closes.
                  if (code != 0 || held.printerHandles != 0 || held.kernelHandles > 1 ||
                      held.registryKeys != 0 || held.deviceInfoLists != 0 || held.heapBlocks != 0 ||
                      held.globalBlocks != 0 || held.localBlocks != 0 || held.openFiles != 0) {
                      return -5L;
                  }
                  // The road it took, by the log; a failing open of the log may
                  // drop any one line.
                  std::vector<std::string> log = LogLines();
                  auto has = [&log](const char* line) {
                      return std::find(log.begin(), log.end(), line) != log.end();
                  };
                  if (has("PrinterStatus: Device id failed")) return 1L;
                  if (has("There are no more jobs") || has("PrinterStatus: Exiting....")) {
                      return 0L;
                  }
                  if (has("Unable to open printer")) return 2L;
                  if (has("Unable to open USB port")) return 4L;
                  if (has("Printer is not hooked upto a USB port")) return 5L;
                  if (!has("PrinterStatus: Getting USB Port")) return 3L;
                  return -6L;
              },
              {0, 1, 2, 3, 4},
              [&pid] { return winsim::ExitCallCounts(pid); },
              {{0, "polled to the end"},
               {1, "device id failed"},
               {2, "printer not opened"},
               {3, "no printer information"},
               {4, "no USB device"},
               {-2, "hung"},
               {-3, "crashed"},
               {-4, "no ExitProcess"},
               {-5, "held at exit"}},
              6};
    Sweep(road);
}

}  // namespace
}  // namespace larktest
