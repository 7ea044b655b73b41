// Cost of the paper answers and of the default devmode, which read the
// driver data file and the UI configuration script anew on every call, next
// to the floor of only opening and reading those same files.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "default_devmode.h"
#include "driver_files.h"
#include "paper_table.h"
#include "sample_page.h"
#include "script_rows.h"
#include "settings_dialog.h"
#include "winsim/control.h"

extern "C" DWORD WINAPI DrvDeviceCapabilities(HANDLE, PWSTR, WORD, PVOID, PDEVMODEW);

namespace {

const std::u16string kPrinter = u"Lark Bench";
// The driver directory is the machine's: known once the first machine is made.
const std::u16string& VersionDir() {
    static const std::u16string dir = winsim::DriverDirectory() + u"\\3\\";
    return dir;
}
std::u16string DataFilePath() { return VersionDir() + u"larkdata.ini"; }
std::u16string ScriptPath() { return VersionDir() + u"settings.js"; }

void WriteFile(const std::u16string& path, const std::string& bytes) {
    std::ofstream out(winsim::HostPath(path), std::ios::binary | std::ios::trunc);
    out << bytes;
}

std::string Script(int rows) {
    std::string s = "var sz0x0409 = {\r\n  szPaperSizes : [ ";
    for (int i = 0; i < rows; ++i) {
        if (i > 0) s += ", ";
        s += "\"Paper " + std::to_string(i) + "\", \"" + std::to_string(3 + i % 7) + ".5;" +
             std::to_string(5 + i % 5) + ".0;" + std::to_string(i % 2) + ";" +
             std::to_string(256 + i) + ";\", " + std::to_string(i);
    }
    s += " ],\r\n  szStatusMsg : \"There is a problem with your printer.\\nCheck it.\"\r\n};\r\n";
    return s;
}

// A machine of its own with the driver's data file and a script of n rows.
void PrepareMachine(int rows) {
    static std::string root;
    if (!root.empty()) winsim::SetMachineRoot(root);  // another benchmark may have switched
    if (root.empty()) {
        char pattern[] = "/tmp/lark-bench.XXXXXX";
        root = mkdtemp(pattern);
        winsim::InitMachine(root);
        winsim::SetMachineRoot(root);
        winsim::SetSetting("user", "elevated");  // whose printer data writes are taken
        std::ifstream in(std::string(LARK_PACKAGE_DIR) + "/larkdata.ini", std::ios::binary);
        WriteFile(DataFilePath(), std::string(std::istreambuf_iterator<char>(in), {}));
        winsim::DriverRecord driver;
        driver.name = u"Lark Photo Printer";
        driver.dataFile = DataFilePath();
        driver.configFile = VersionDir() + u"larkui.dll";
        driver.helpFile = VersionDir() + u"lark.hlp";
        winsim::AddDriver(driver);
        winsim::PrinterRecord printer{kPrinter, u"USB001", driver.name, {}, 0};
        winsim::StorePrinter(printer);
        std::vector<uint8_t> devmode(kDriverDevmodeSize);
        BuildDefaultDevmode(reinterpret_cast<DriverDevmode*>(devmode.data()), kPrinter.c_str());
        winsim::SetPrinterDevmode(kPrinter, devmode);
    }
    WriteFile(ScriptPath(), Script(rows));
    winsim::SetSetting("language", "0409");
}

// The shipped script, and the one shipped before the blocks of the other
// languages (US English and French only), kept beside this file.
enum ShippedScript { kTwoLanguages, kShipped, kShippedLastBlock };

std::string ReadHostFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// The machine of PrepareMachine with a shipped script, read in US English
// (the first block) or in Arabic (the last).
void PrepareShippedScript(int which) {
    PrepareMachine(4);
    const std::string source = std::string(LARK_BENCH_DIR) + "/";
    WriteFile(ScriptPath(), ReadHostFile(which == kTwoLanguages
                                             ? source + "data/settings-two-languages.js"
                                             : std::string(LARK_PACKAGE_DIR) + "/settings.js"));
    winsim::SetSetting("language", which == kShippedLastBlock ? "0401" : "0409");
}

// The shipped script with every language block's paper list replaced by n
// rows, as tools/wine-bench writes it, read in US English.
void PrepareShippedRows(int rows) {
    PrepareMachine(4);
    const std::string shipped = ReadHostFile(std::string(LARK_PACKAGE_DIR) + "/settings.js");
    WriteFile(ScriptPath(), bench::ScriptWithRows(shipped, rows));
}

// Opens a file in text mode and reads it whole, as the readers do.
size_t ReadWhole(const std::u16string& path) {
    FILE* f = _wfopen(path.c_str(), u"rt");
    if (f == nullptr) return 0;
    char buffer[4096];
    size_t total = 0, n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) total += n;
    std::fclose(f);
    return total;
}

// Each of the four against a script that Prepare writes: a generated one of
// n rows (PrepareMachine), or a shipped one (PrepareShippedScript).
using Prepare = void (*)(int);

template <Prepare prepare>
void BM_DeviceCapabilitiesPapers(benchmark::State& state) {
    prepare(static_cast<int>(state.range(0)));
    std::u16string name = kPrinter;
    HANDLE printer = nullptr;
    OpenPrinterW(name.data(), &printer, nullptr);
    WORD ids[kMaxPaperRows];
    for (auto _ : state) {
        DWORD rows = DrvDeviceCapabilities(printer, name.data(), DC_PAPERS, ids, nullptr);
        benchmark::DoNotOptimize(rows);
    }
    ClosePrinter(printer);
    state.counters["script bytes"] = static_cast<double>(ReadWhole(ScriptPath()));
}

// DC_PAPERS reads the data file (for the script's name) and the script.
template <Prepare prepare>
void BM_FloorPapersFiles(benchmark::State& state) {
    prepare(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        benchmark::DoNotOptimize(ReadWhole(DataFilePath()) + ReadWhole(ScriptPath()));
    }
}

template <Prepare prepare>
void BM_BuildDefaultDevmode(benchmark::State& state) {
    prepare(static_cast<int>(state.range(0)));
    DriverDevmode record;
    for (auto _ : state) {
        BuildDefaultDevmode(&record, kPrinter.c_str());
        benchmark::DoNotOptimize(record.dm.dmPaperWidth);
    }
}

// The default devmode reads the data file twice (the script's name, then its
// settings) and the script once.
template <Prepare prepare>
void BM_FloorDefaultDevmodeFiles(benchmark::State& state) {
    prepare(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        benchmark::DoNotOptimize(ReadWhole(DataFilePath()) + ReadWhole(DataFilePath()) +
                                 ReadWhole(ScriptPath()));
    }
}

// What the spooler itself costs per call of DC_PAPERS: the stored devmode and
// the driver information, each a two-call query. Not a file read, so not part
// of the floor, but shown beside it.
void BM_SpoolerQueries(benchmark::State& state) {
    PrepareMachine(4);
    std::u16string name = kPrinter;
    HANDLE printer = nullptr;
    OpenPrinterW(name.data(), &printer, nullptr);
    BYTE buffer[8192];
    DWORD needed = 0;
    for (auto _ : state) {
        GetPrinterW(printer, 2, nullptr, 0, &needed);
        GetPrinterW(printer, 2, buffer, sizeof buffer, &needed);
        GetPrinterDriverW(printer, nullptr, 3, nullptr, 0, &needed);
        GetPrinterDriverW(printer, nullptr, 3, buffer, sizeof buffer, &needed);
        benchmark::DoNotOptimize(buffer[0]);
    }
    ClosePrinter(printer);
}

// GetUserPref with one scripted answer. Queuing the answer is part of every
// iteration here and in its floor.
void BM_GetUserPref(benchmark::State& state) {
    PrepareMachine(4);
    DriverDevmode record;
    BuildDefaultDevmode(&record, kPrinter.c_str());
    for (auto _ : state) {
        winsim::QueueDialogOutcome({winsim::DialogKind::Answer, u"1000=1;9900=257;", 0});
        benchmark::DoNotOptimize(GetUserPref(&record));
    }
}

// What GetUserPref must do for one answer: open the printer, the driver
// information and directory, the data file's UIConfigFile line, one showing
// through MSHTML's export with a moniker and two strings, and the stored
// value through an administrator handle.
void BM_FloorGetUserPref(benchmark::State& state) {
    PrepareMachine(4);
    std::u16string name = kPrinter;
    BYTE buffer[8192];
    WCHAR directory[260];
    WCHAR options[] = u"help:off";
    const std::u16string answer = u"1000=1;9900=257;";
    for (auto _ : state) {
        winsim::QueueDialogOutcome({winsim::DialogKind::Answer, answer, 0});
        HANDLE printer = nullptr;
        OpenPrinterW(name.data(), &printer, nullptr);
        DWORD needed = 0;
        GetPrinterDriverW(printer, nullptr, 3, nullptr, 0, &needed);
        GetPrinterDriverW(printer, nullptr, 3, buffer, sizeof buffer, &needed);
        GetPrinterDriverDirectoryW(nullptr, nullptr, 1, reinterpret_cast<LPBYTE>(directory),
                                   sizeof directory, &needed);
        benchmark::DoNotOptimize(ReadWhole(DataFilePath()));
        auto* show = reinterpret_cast<SHOWHTMLDIALOGFN*>(
            reinterpret_cast<void*>(GetProcAddress(LoadLibraryW(u"MSHTML.DLL"), "ShowHTMLDialog")));
        BSTR path = SysAllocString(u"C:\\page.htm");
        IMoniker* moniker = nullptr;
        CreateURLMoniker(nullptr, path, &moniker);
        VARIANT argument, result;
        VariantInit(&argument);
        VariantInit(&result);
        argument.vt = VT_BSTR;
        argument.bstrVal = SysAllocString(u"1000=0;");
        show(nullptr, moniker, &argument, options, &result);
        moniker->Release();
        VariantClear(&argument);
        VariantClear(&result);
        SysFreeString(path);
        HANDLE admin = nullptr;
        PRINTER_DEFAULTSW defaults = {nullptr, nullptr, PRINTER_ACCESS_ADMINISTER};
        OpenPrinterW(name.data(), &admin, &defaults);
        SetPrinterDataW(admin, const_cast<LPWSTR>(u"PrinterSettings"), REG_SZ,
                        reinterpret_cast<LPBYTE>(const_cast<char16_t*>(answer.c_str())),
                        static_cast<DWORD>(answer.size() * 2));
        ClosePrinter(admin);
        ClosePrinter(printer);
    }
}

// The driver's own time against one read of the script, in the same run:
// each round times the call, its floor and one read of the script alone, in
// an order that turns every round, so a busy spell of the machine falls on
// all three alike. The floor is every platform call the driver's call makes
// (winsim's spooler answers from its database) and its file reads, made here
// into buffers kept for the run. Own time is the median of call less floor,
// round by round; the goal is at most half a read.
enum OwnCall { kPapers, kPaperNames, kDefaultDevmode };

template <Prepare prepare, OwnCall call>
void BM_OwnAgainstRead(benchmark::State& state) {
    prepare(static_cast<int>(state.range(0)));
    std::u16string name = kPrinter;
    HANDLE printer = nullptr;
    OpenPrinterW(name.data(), &printer, nullptr);
    static WCHAR names[kMaxPaperRows][kPaperNameUnits];
    WORD ids[kMaxPaperRows];
    DriverDevmode record;
    auto driver = [&] {
        if (call == kPapers) {
            benchmark::DoNotOptimize(
                DrvDeviceCapabilities(printer, name.data(), DC_PAPERS, ids, nullptr));
        } else if (call == kPaperNames) {
            benchmark::DoNotOptimize(
                DrvDeviceCapabilities(printer, name.data(), DC_PAPERNAMES, names, nullptr));
        } else {
            BuildDefaultDevmode(&record, kPrinter.c_str());
            benchmark::DoNotOptimize(record.dm.dmPaperWidth);
        }
    };
    const std::u16string dataFile = DataFilePath(), script = ScriptPath();
    static BYTE block[16384];
    DWORD needed = 0;
    auto driverInfo = [&](HANDLE h) {
        GetPrinterDriverW(h, nullptr, 3, nullptr, 0, &needed);
        GetPrinterDriverW(h, nullptr, 3, block, sizeof block, &needed);
    };
    auto directory = [&] {
        WCHAR folder[260];
        GetPrinterDriverDirectoryW(nullptr, nullptr, 1, reinterpret_cast<LPBYTE>(folder),
                                   sizeof folder, &needed);
    };
    // DC_PAPERS and DC_PAPERNAMES: the stored devmode, the driver's files,
    // the language. The default devmode: the printer opened by name, the
    // driver's files twice (the paper table, then the data file's settings),
    // the language.
    auto floor = [&] {
        size_t bytes = 0;
        if (call == kDefaultDevmode) {
            HANDLE h = nullptr;
            OpenPrinterW(name.data(), &h, nullptr);
            driverInfo(h);
            directory();
            bytes = ReadWhole(dataFile) + ReadWhole(script);
            driverInfo(h);
            bytes += ReadWhole(dataFile);
            ClosePrinter(h);
        } else {
            GetPrinterW(printer, 2, nullptr, 0, &needed);
            GetPrinterW(printer, 2, block, sizeof block, &needed);
            driverInfo(printer);
            directory();
            bytes = ReadWhole(dataFile) + ReadWhole(script);
        }
        benchmark::DoNotOptimize(GetSystemDefaultLangID());
        benchmark::DoNotOptimize(bytes);
    };
    auto read = [&] { benchmark::DoNotOptimize(ReadWhole(script)); };
    auto micros = [](auto&& f) {
        auto start = std::chrono::steady_clock::now();
        f();
        return std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start)
            .count();
    };
    std::vector<double> calls, floors, own, reads;
    driver();  // the first call warms what later calls find
    for (auto _ : state) {
        double d = 0, f = 0, r = 0;
        switch (calls.size() % 3) {
            case 0:
                d = micros(driver), f = micros(floor), r = micros(read);
                break;
            case 1:
                f = micros(floor), r = micros(read), d = micros(driver);
                break;
            default:
                r = micros(read), d = micros(driver), f = micros(floor);
                break;
        }
        calls.push_back(d);
        floors.push_back(f);
        own.push_back(d - f);
        reads.push_back(r);
    }
    ClosePrinter(printer);
    auto median = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v.empty() ? 0.0 : v[v.size() / 2];
    };
    state.counters["call us"] = median(calls);
    state.counters["floor us"] = median(floors);
    state.counters["own us"] = median(own);
    state.counters["read us"] = median(reads);
    state.counters["own/read"] = median(reads) > 0 ? median(own) / median(reads) : 0;
    state.counters["script bytes"] = static_cast<double>(ReadWhole(ScriptPath()));
}

std::u16string SamplePath() { return VersionDir() + u"sample.ini"; }

void PrepareSampleFile() {
    PrepareMachine(4);
    std::string value;
    while (value.size() < 255 - 16) value += "\\x1B";
    value.resize(255 - 16);
    WriteFile(SamplePath(), "[DeviceConfig]\nPrintSamplePage=" + value + "\n");
}

// SendSamplePage with a 255-byte sample line.
void BM_SendSamplePage(benchmark::State& state) {
    PrepareSampleFile();
    std::u16string name = kPrinter;
    HANDLE printer = nullptr;
    OpenPrinterW(name.data(), &printer, nullptr);
    for (auto _ : state) {
        benchmark::DoNotOptimize(SendSamplePage(printer, _wfopen(SamplePath().c_str(), u"r")));
    }
    ClosePrinter(printer);
}

// The file read line by line and the five job calls with the bytes.
void BM_FloorSendSamplePage(benchmark::State& state) {
    PrepareSampleFile();
    std::u16string name = kPrinter;
    HANDLE printer = nullptr;
    OpenPrinterW(name.data(), &printer, nullptr);
    char line[256];
    char docName[] = "Sample Page", datatype[] = "RAW";
    DOC_INFO_1A doc = {docName, nullptr, datatype};
    for (auto _ : state) {
        FILE* f = _wfopen(SamplePath().c_str(), u"r");
        while (std::fgets(line, sizeof line, f) != nullptr) {
        }
        std::fclose(f);
        DWORD written = 0;
        StartDocPrinterA(printer, 1, reinterpret_cast<LPBYTE>(&doc));
        StartPagePrinter(printer);
        WritePrinter(printer, line, 60, &written);
        EndPagePrinter(printer);
        EndDocPrinter(printer);
    }
    ClosePrinter(printer);
}

BENCHMARK(BM_SpoolerQueries);
BENCHMARK(BM_GetUserPref);
BENCHMARK(BM_FloorGetUserPref);
BENCHMARK(BM_SendSamplePage);
BENCHMARK(BM_FloorSendSamplePage);
BENCHMARK_TEMPLATE(BM_DeviceCapabilitiesPapers, PrepareMachine)->Arg(4)->Arg(256);
BENCHMARK_TEMPLATE(BM_FloorPapersFiles, PrepareMachine)->Arg(4)->Arg(256);
BENCHMARK_TEMPLATE(BM_BuildDefaultDevmode, PrepareMachine)->Arg(4)->Arg(256);
BENCHMARK_TEMPLATE(BM_FloorDefaultDevmodeFiles, PrepareMachine)->Arg(4)->Arg(256);
// 0: the script of two languages, 1: the shipped one in US English, 2: in
// Arabic, its last block.
BENCHMARK_TEMPLATE(BM_DeviceCapabilitiesPapers, PrepareShippedScript)
    ->DenseRange(kTwoLanguages, kShippedLastBlock);
BENCHMARK_TEMPLATE(BM_FloorPapersFiles, PrepareShippedScript)
    ->DenseRange(kTwoLanguages, kShippedLastBlock);
BENCHMARK_TEMPLATE(BM_BuildDefaultDevmode, PrepareShippedScript)
    ->DenseRange(kTwoLanguages, kShippedLastBlock);
BENCHMARK_TEMPLATE(BM_FloorDefaultDevmodeFiles, PrepareShippedScript)
    ->DenseRange(kTwoLanguages, kShippedLastBlock);

// At 4 and 256 rows in every language block of the shipped script.
BENCHMARK_TEMPLATE(BM_OwnAgainstRead, PrepareShippedRows, kPapers)->Arg(4)->Arg(256);
BENCHMARK_TEMPLATE(BM_OwnAgainstRead, PrepareShippedRows, kPaperNames)->Arg(4)->Arg(256);
BENCHMARK_TEMPLATE(BM_OwnAgainstRead, PrepareShippedRows, kDefaultDevmode)->Arg(4)->Arg(256);

}  // namespace

BENCHMARK_MAIN();
