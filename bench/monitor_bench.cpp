// The status monitor's cost: one poll's decoding and reporting in-process,
// and the real larkmon process, alone and fifty at once on one machine,
// measured from its own resource usage (CPU time per poll, peak resident
// size). The polls' sleeps are scaled down; the per-poll work is not.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "device_status.h"
#include "winsim/control.h"

namespace {

const std::string kIdle =
    "MFG:Lark;CMD:JPEG;MDL:Photo;CLS:PRINTER;S:03000000000000000000"
    "2"
    "81020000"
    "83010000;";
const std::string kJam = "MFG:Lark;S:03000000000000000E;";
constexpr int kPollsPerRun = 22;

std::string NewBenchMachine() {
    char pattern[] = "/tmp/lark-bench.XXXXXX";
    std::string root = mkdtemp(pattern);
    winsim::InitMachine(root);
    winsim::SetMachineRoot(root);
    setenv("WINSIM_ROOT", root.c_str(), 1);
    winsim::SetSetting("user", "elevated");  // whose port statuses the spooler takes
    mkdir((root + "/drive_c/temp/larkdeb").c_str(), 0755);
    const std::string from = std::string(LARK_PACKAGE_DIR) + "/larkmon.exe";
    const std::string to = winsim::HostPath(winsim::DriverDirectory() + u"\\3\\larkmon.exe");
    std::string copy = "cp '" + from + "' '" + to + "'";
    if (system(copy.c_str()) != 0) std::abort();
    return root;
}

void AddPrinterWithDevice(int n) {
    winsim::PrinterRecord printer;
    printer.name = u"Bench " + winsim::ToUtf16(std::to_string(n));
    char port[16];
    std::snprintf(port, sizeof port, "USB%03d", n);
    printer.port = winsim::ToUtf16(port);
    printer.driver = u"Lark";
    winsim::StorePrinter(printer);
    winsim::UsbDevice device;
    device.portNumber = static_cast<DWORD>(n);
    // Poll 11 reports a paper jam: its box holds the monitor mid-run, so
    // its memory can be read while it runs.
    device.deviceIds.assign(10, kIdle);
    device.deviceIds.push_back(kJam);
    device.deviceIds.push_back(kIdle);
    winsim::AddUsbDevice(device);
}

void BM_CheckStatusPoll(benchmark::State& state) {
    std::string root = NewBenchMachine();
    AddPrinterWithDevice(1);
    WCHAR name[] = TEXT("Bench 1");
    WCHAR port[] = TEXT("USB001");
    const size_t field = kIdle.find(";S:");
    for (auto _ : state) benchmark::DoNotOptimize(CheckStatus(kIdle.c_str(), name, port, field));
    std::system(("rm -rf '" + root + "'").c_str());
}
BENCHMARK(BM_CheckStatusPoll)->Unit(benchmark::kMicrosecond);

void BM_CheckInkLevels(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(CheckInkLevels(kIdle.c_str()));
}
BENCHMARK(BM_CheckInkLevels);

// Resident and proportional set sizes and private pages of a running
// process, in KB: the shared libraries' pages are shared by all monitors.
struct Memory {
    long rss = 0, pss = 0, privateKb = 0;
};

Memory ReadMemory(int pid) {
    Memory m;
    FILE* f = std::fopen(("/proc/" + std::to_string(pid) + "/smaps_rollup").c_str(), "r");
    if (f == nullptr) return m;
    char line[256];
    while (std::fgets(line, sizeof line, f) != nullptr) {
        long kb = 0;
        if (std::sscanf(line, "Rss: %ld", &kb) == 1) m.rss = kb;
        if (std::sscanf(line, "Pss: %ld", &kb) == 1) m.pss = kb;
        if (std::sscanf(line, "Private_Clean: %ld", &kb) == 1) m.privateKb += kb;
        if (std::sscanf(line, "Private_Dirty: %ld", &kb) == 1) m.privateKb += kb;
    }
    std::fclose(f);
    return m;
}

// Waits until every monitor shows its box, reads their memory, answers the
// boxes.
Memory HoldAndMeasure(size_t monitors) {
    std::vector<winsim::MessageBoxRecord> open;
    while (true) {
        open.clear();
        for (const auto& b : winsim::MessageBoxes()) {
            if (b.closedMicros == 0) open.push_back(b);
        }
        if (open.size() >= monitors) break;
        usleep(1000);
    }
    Memory worst;
    for (const auto& b : open) {
        Memory m = ReadMemory(b.pid);
        worst.rss = std::max(worst.rss, m.rss);
        worst.pss = std::max(worst.pss, m.pss);
        worst.privateKb = std::max(worst.privateKb, m.privateKb);
    }
    for (const auto& b : open) winsim::CloseMessageBox(b.id);
    return worst;
}

struct ChildUsage {
    double cpuMs = 0;
    long maxRssKb = 0;
};

ChildUsage Reap(int pid) {
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    ChildUsage u;
    u.cpuMs = (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
              (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
    u.maxRssKb = usage.ru_maxrss;
    return u;
}

// range(0) monitors at once, each on its own printer and device, for a
// normal run of 22 polls.
void BM_MonitorProcesses(benchmark::State& state) {
    const int monitors = static_cast<int>(state.range(0));
    std::string root = NewBenchMachine();
    winsim::SetSetting("sleep_scale", "0.001");
    winsim::SetSetting("message_box_delay_ms", "-1");
    for (int n = 1; n <= monitors; ++n) AddPrinterWithDevice(n);
    double cpuMs = 0;
    long maxRss = 0;
    long runs = 0;
    Memory memory;
    for (auto _ : state) {
        std::vector<int> pids;
        for (int n = 1; n <= monitors; ++n) {
            int pid = 0;
            winsim::StartProgram(winsim::DriverDirectory() + u"\\3\\larkmon.exe",
                                 u"Bench " + winsim::ToUtf16(std::to_string(n)), &pid);
            pids.push_back(pid);
        }
        Memory m = HoldAndMeasure(pids.size());
        memory.rss = std::max(memory.rss, m.rss);
        memory.pss = std::max(memory.pss, m.pss);
        memory.privateKb = std::max(memory.privateKb, m.privateKb);
        for (int pid : pids) {
            ChildUsage u = Reap(pid);
            cpuMs += u.cpuMs;
            maxRss = std::max(maxRss, u.maxRssKb);
            ++runs;
        }
    }
    state.counters["cpu_ms_per_poll"] = cpuMs / (runs * kPollsPerRun);
    state.counters["cpu_ms_per_run"] = cpuMs / runs;
    state.counters["peak_rss_kb"] = static_cast<double>(maxRss);
    state.counters["running_rss_kb"] = static_cast<double>(memory.rss);
    state.counters["running_pss_kb"] = static_cast<double>(memory.pss);
    state.counters["running_private_kb"] = static_cast<double>(memory.privateKb);
    std::system(("rm -rf '" + root + "'").c_str());
}
BENCHMARK(BM_MonitorProcesses)->Arg(1)->Arg(50)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
