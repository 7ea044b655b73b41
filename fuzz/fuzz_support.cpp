#include "fuzz_support.h"

#include <stdlib.h>
#include <sys/mman.h>
#include <unistd.h>

#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <mutex>
#include <thread>

namespace larkfuzz {
namespace {

std::string g_root;
HANDLE g_printer = nullptr;

void RemoveMachine() {
    if (g_printer != nullptr) ClosePrinter(g_printer);
    g_printer = nullptr;
    if (g_root.empty()) return;
    std::string command = "rm -rf '" + g_root + "'";
    (void)system(command.c_str());
}

void RunLarksimOrDie(const std::string& arguments) {
    std::string command =
        std::string(LARK_LARKSIM) + " --root '" + g_root + "' " + arguments + " >/dev/null 2>&1";
    if (system(command.c_str()) != 0) {
        std::fprintf(stderr, "fuzz set-up failed: larksim %s\n", arguments.c_str());
        abort();
    }
}

}  // namespace

void SetUpMachine() {
    if (!g_root.empty()) return;
    // A machine in memory where the system has one: every input opens the
    // driver's files and the spooler database.
    char shm[] = "/dev/shm/lark-fuzz.XXXXXX";
    char tmp[] = "/tmp/lark-fuzz.XXXXXX";
    char* pattern = mkdtemp(shm) != nullptr ? shm : mkdtemp(tmp);
    if (pattern == nullptr) abort();
    g_root = pattern;
    atexit(RemoveMachine);
    Require(winsim::InitMachine(g_root), "machine created");
    winsim::SetMachineRoot(g_root);
    setenv("WINSIM_ROOT", g_root.c_str(), 1);
    RunLarksimOrDie("set sleep_scale 0");
    RunLarksimOrDie("set user elevated");
    RunLarksimOrDie(std::string("install-driver '") + LARK_PACKAGE_DIR + "'");
    RunLarksimOrDie("add-printer 'Lark Fuzz' --port USB001");
    // From here on no other process uses the machine.
    setenv("WINSIM_SOLE_PROCESS", "1", 1);
    std::u16string name = kPrinter;
    Require(OpenPrinterW(name.data(), &g_printer, nullptr) != FALSE, "printer opened");
}

HANDLE Printer() {
    SetUpMachine();
    return g_printer;
}

std::u16string ScratchPath() { return u"C:\\fuzz-input.txt"; }

std::string ScratchHostPath() {
    static const std::string path = winsim::HostPath(ScratchPath());
    return path;
}

void WriteScratch(const uint8_t* data, size_t size) {
    FILE* f = std::fopen(ScratchHostPath().c_str(), "wb");
    Require(f != nullptr, "scratch file opened");
    if (size > 0) Require(std::fwrite(data, 1, size, f) == size, "scratch file written");
    std::fclose(f);
}

FILE* MemoryFile(const uint8_t* data, size_t size) {
    // fmemopen wants a buffer of at least one byte; the loader reads the size
    // from the stream, so an empty input stays empty.
    static std::vector<uint8_t> copy;
    copy.assign(data, data + size);
    copy.push_back(0);
    FILE* f = fmemopen(copy.data(), size == 0 ? 1 : size, "r");
    Require(f != nullptr, "memory stream");
    if (size == 0) std::fseek(f, 0, SEEK_SET);
    return f;
}

void ForgetRecordsNowAndThen() {
    static unsigned inputs = 0;
    if (++inputs % 4096 == 0) winsim::ForgetRecords();
}

void OnWorkerThread(void (*work)(void*), void* context) {
    struct Worker {
        std::mutex lock;
        std::condition_variable changed;
        void (*work)(void*) = nullptr;
        void* context = nullptr;
        bool done = false;
    };
    // Never joined: it waits for work until the process ends.
    static Worker* worker = [] {
        auto* w = new Worker;
        std::thread([w] {
            std::unique_lock<std::mutex> hold(w->lock);
            for (;;) {
                w->changed.wait(hold, [w] { return w->work != nullptr; });
                w->work(w->context);
                w->work = nullptr;
                w->done = true;
                w->changed.notify_all();
            }
        }).detach();
        return w;
    }();
    std::unique_lock<std::mutex> hold(worker->lock);
    worker->work = work;
    worker->context = context;
    worker->done = false;
    worker->changed.notify_all();
    worker->changed.wait(hold, [] { return worker->done; });
}

GuardedPages& GuardedPages::Shared() {
    static GuardedPages pages;
    return pages;
}

void ExpectNothingHeld(const winsim::Counts& before, const char* where) {
    winsim::Counts after = winsim::CurrentCounts();
    if (after != before) {
        std::fprintf(stderr, "%s: left held: heap %ld global %ld files %ld printers %ld\n", where,
                     after.heapBlocks - before.heapBlocks, after.globalBlocks - before.globalBlocks,
                     after.openFiles - before.openFiles,
                     after.printerHandles - before.printerHandles);
        abort();
    }
}

void Require(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "check failed: %s\n", what);
    abort();
}

size_t ClaimedBytes(const uint8_t* data, size_t size) {
    if (size < offsetof(DEVMODEW, dmFields)) return size;
    WORD dmSize, extra;
    std::memcpy(&dmSize, data + offsetof(DEVMODEW, dmSize), 2);
    std::memcpy(&extra, data + offsetof(DEVMODEW, dmDriverExtra), 2);
    return static_cast<size_t>(dmSize) + extra;
}

std::vector<uint8_t> ClaimedRecord(const uint8_t* data, size_t size) {
    std::vector<uint8_t> header(offsetof(DEVMODEW, dmFields), 0);
    std::memcpy(header.data(), data, std::min(size, header.size()));
    size_t claimed = ClaimedBytes(header.data(), header.size());
    std::vector<uint8_t> record(std::max(claimed, header.size()), 0);
    std::memcpy(record.data(), data, std::min(size, record.size()));
    record.shrink_to_fit();
    return record;
}

GuardedPages::GuardedPages() {
    page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    forbidden = (2 * 0xFFFF + page) / page * page;
    void* p = mmap(nullptr, page + forbidden, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    Require(p != MAP_FAILED, "pages mapped");
    base = static_cast<uint8_t*>(p);
    mprotect(base, page, PROT_READ | PROT_WRITE);
}

GuardedPages::~GuardedPages() { munmap(base, page + forbidden); }

uint8_t* GuardedPages::PlaceBeforeEnd(const uint8_t* data, size_t size) {
    if (size > page) size = page;
    std::memset(base, 0xCD, page);
    uint8_t* at = base + ((page - size) & ~size_t{3});
    if (size > 0) std::memcpy(at, data, size);
    return at;
}

bool TerminatedWithin(const WCHAR* text, size_t units) {
    for (size_t i = 0; i < units; ++i) {
        if (text[i] == 0) return true;
    }
    return false;
}

void ExpectConsistentRecord(const DriverDevmode& r, const char* where) {
    auto need = [where](bool ok, const char* what) {
        if (ok) return;
        std::fprintf(stderr, "%s: handed-out record: %s\n", where, what);
        abort();
    };
    need(r.dm.dmSize == kPublicDevmodeSize, "dmSize");
    need(r.dm.dmDriverExtra == kPrivateDevmodeSize, "dmDriverExtra");
    need(r.dm.dmSpecVersion == kDevmodeSpecVersion, "dmSpecVersion");
    need(r.dm.dmDriverVersion == kDriverVersion, "dmDriverVersion");
    need(r.priv.Signature1 == PrivateSignature && r.priv.Signature2 == PrivateSignature,
         "signatures");
    need(TerminatedWithin(r.dm.dmDeviceName, CCHDEVICENAME), "dmDeviceName terminated");
    need(TerminatedWithin(r.dm.dmFormName, CCHFORMNAME), "dmFormName terminated");
    need(TerminatedWithin(r.priv.PrinterName, kPrinterNameUnits), "PrinterName terminated");
    need(r.priv.Settings[kSettingsUnits - 1] == 0, "settings unit 511 zero");
}

}  // namespace larkfuzz
