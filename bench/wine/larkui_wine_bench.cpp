// Speed of the real larkui.dll under Wine: each entry point as an application or the spooler
// reaches it, beside its floor, the spooler calls and file reads that the call has to make,
// made by this program in the same run, call for call in turns, so a busy machine slows both
// alike. Prints the figures as Markdown between two marker lines.
//
// Usage: wine_bench.exe [--full] [--rows 4,16,64,256]
//   Without --full a few calls of each: enough to prove that every measurement runs.
//   --rows: a paper table of each size in turn, written into the driver directory's script;
//   the shipped script is put back afterwards. Without it the shipped script is used and
//   nothing in the driver directory is written.
#include "platform.h"
// platform.h first.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "../script_rows.h"
#include "driver_devmode.h"
#include "wine_check.h"
#include "wine_harness.h"

namespace {

// A printer of its own: the tests' printers and their data values stay as they are.
constexpr const wchar_t* kBenchPrinter = L"Lark Bench";
constexpr int kMaxRows = 256;
using bench::kPaperListKey;
using bench::ScriptWithRows;

// Every figure is measured in a share of each round, the rounds one after the other over the
// whole run, so a slow spell of the machine (other work on it) falls on every figure alike.
struct Plan {
    int rounds;
    size_t minCalls;      // of one figure in one round
    double budgetMicros;  // how long one figure's calls run at least in one round
};

constexpr Plan kQuick = {1, 3, 0};
constexpr Plan kFull = {6, 10, 250000};

struct StoredValue {
    const wchar_t* name;
    DWORD type;
    std::vector<BYTE> bytes;
};

struct Bench {
    decltype(&DrvDocumentEvent) documentEvent = nullptr;
    decltype(&DrvConvertDevMode) convertDevMode = nullptr;
    decltype(&DrvPrinterEvent) printerEvent = nullptr;
    std::wstring name = kBenchPrinter;  // writable, for the LPWSTR parameters
    std::wstring driverName = kLarkDriverName;
    HANDLE printer = nullptr;  // the application's handle, which it also gives GDI
    std::wstring dataFile;
    std::wstring script;
    std::vector<BYTE> application;  // the devmode DocumentPropertiesW gave the application
    std::vector<BYTE> out = std::vector<BYTE>(4096);
    std::vector<BYTE> block = std::vector<BYTE>(64 * 1024);  // the floor's query buffer
    std::vector<StoredValue> values;                         // as DrvPrinterEvent wrote them
    int rows = 0;                                            // of the script as it is now
};

using Call = std::function<bool()>;

// The spooler's two-call queries, into a buffer kept for the run: the floor allocates nothing.
bool PrinterInfo2(Bench& b, HANDLE printer) {
    DWORD needed = 0;
    GetPrinterW(printer, 2, nullptr, 0, &needed);
    return needed > 0 && needed <= b.block.size() &&
           GetPrinterW(printer, 2, b.block.data(), needed, &needed);
}

bool DriverInfo3(Bench& b, HANDLE printer) {
    DWORD needed = 0;
    GetPrinterDriverW(printer, nullptr, 3, nullptr, 0, &needed);
    return needed > 0 && needed <= b.block.size() &&
           GetPrinterDriverW(printer, nullptr, 3, b.block.data(), needed, &needed);
}

bool DriverDirectory() {
    WCHAR directory[256];
    DWORD needed = 0;
    return GetPrinterDriverDirectoryW(nullptr, nullptr, 1, reinterpret_cast<LPBYTE>(directory),
                                      sizeof directory, &needed);
}

bool Resolution(HANDLE printer) {
    DWORD value = 0, needed = 0;
    return GetPrinterDataW(printer, const_cast<LPWSTR>(L"Resolution"), nullptr,
                           reinterpret_cast<LPBYTE>(&value), sizeof value,
                           &needed) == ERROR_SUCCESS;
}

// Opened in text mode, as the driver opens its files, and read to the end.
bool ReadWhole(const std::wstring& path) {
    FILE* f = _wfopen(path.c_str(), L"rt");
    if (f == nullptr) return false;
    char buffer[4096];
    size_t total = 0, n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) total += n;
    std::fclose(f);
    return total > 0;
}

bool OpenByName(Bench& b, HANDLE* printer, DWORD access = 0) {
    PRINTER_DEFAULTSW defaults = {nullptr, nullptr, access};
    return OpenPrinterW(b.name.data(), printer, access != 0 ? &defaults : nullptr);
}

bool WriteValues(Bench& b, HANDLE printer) {
    bool ok = true;
    for (StoredValue& v : b.values) {
        ok = SetPrinterDataW(printer, const_cast<LPWSTR>(v.name), v.type, v.bytes.data(),
                             static_cast<DWORD>(v.bytes.size())) == ERROR_SUCCESS &&
             ok;
    }
    return ok;
}

// The entry points, each as its caller reaches it.

bool CapsPapers(Bench& b) {
    WORD ids[kMaxRows];
    return DeviceCapabilitiesW(b.name.c_str(), kLarkUsbPort, DC_PAPERS,
                               reinterpret_cast<LPWSTR>(ids), nullptr) == b.rows;
}

bool CapsPaperNames(Bench& b) {
    static WCHAR names[kMaxRows][64];
    return DeviceCapabilitiesW(b.name.c_str(), kLarkUsbPort, DC_PAPERNAMES, names[0], nullptr) ==
           b.rows;
}

// Wine's DeviceCapabilitiesW gives the driver no handle, so it opens the printer by name.
bool FloorCaps(Bench& b) {
    HANDLE h = nullptr;
    if (!OpenByName(b, &h)) return false;
    bool ok = PrinterInfo2(b, h) && DriverInfo3(b, h) && DriverDirectory() &&
              ReadWhole(b.dataFile) && ReadWhole(b.script);
    ClosePrinter(h);
    return ok;
}

bool CreateDc(Bench& b) {
    DOCEVENT_CREATEDCPRE pre = {b.driverName.data(), b.name.data(),
                                reinterpret_cast<PDEVMODEW>(b.application.data()), FALSE};
    PDEVMODEW record = nullptr;
    if (b.documentEvent(b.printer, nullptr, DOCUMENTEVENT_CREATEDCPRE, sizeof pre, &pre,
                        sizeof record, &record) != DOCUMENTEVENT_SUCCESS ||
        record == nullptr) {
        return false;
    }
    return b.documentEvent(b.printer, nullptr, DOCUMENTEVENT_CREATEDCPOST, sizeof record, &record,
                           0, nullptr) == DOCUMENTEVENT_SUCCESS;
}

// The application's devmode is the driver's own, so the merge refreshes its printer name: a
// second GetPrinterW.
bool FloorCreateDc(Bench& b) {
    HGLOBAL block = GlobalAlloc(GMEM_FIXED | GMEM_ZEROINIT, kDriverDevmodeSize);
    if (block == nullptr) return false;
    bool ok = PrinterInfo2(b, b.printer) && PrinterInfo2(b, b.printer) && Resolution(b.printer) &&
              DriverInfo3(b, b.printer) && DriverDirectory() && ReadWhole(b.dataFile) &&
              ReadWhole(b.script);
    GlobalFree(block);
    return ok;
}

bool DriverDefault(Bench& b) {
    LONG size = kDriverDevmodeSize;
    return b.convertDevMode(b.name.data(), nullptr, reinterpret_cast<PDEVMODEW>(b.out.data()),
                            &size, CDM_DRIVER_DEFAULT) &&
           size == static_cast<LONG>(kDriverDevmodeSize);
}

// The paper table (the script's name from the data file, then the script), then the data
// file's settings, each through its own driver query.
bool FloorDriverDefault(Bench& b) {
    HANDLE h = nullptr;
    if (!OpenByName(b, &h)) return false;
    bool ok = DriverInfo3(b, h) && DriverDirectory() && ReadWhole(b.dataFile) &&
              ReadWhole(b.script) && DriverInfo3(b, h) && ReadWhole(b.dataFile);
    ClosePrinter(h);
    return ok;
}

bool DocumentProperties(Bench& b) {
    return DocumentPropertiesW(nullptr, b.printer, b.name.data(),
                               reinterpret_cast<PDEVMODEW>(b.out.data()), nullptr,
                               DM_OUT_BUFFER) == IDOK;
}

bool FloorDocumentProperties(Bench& b) { return PrinterInfo2(b, b.printer); }

bool Initialize(Bench& b) { return b.printerEvent(b.name.data(), PRINTER_EVENT_INITIALIZE, 0, 0); }

// The data file by the printer's name, then through an administrator handle the status
// message of the script and the six values.
bool FloorInitialize(Bench& b) {
    HANDLE h = nullptr;
    if (!OpenByName(b, &h)) return false;
    bool ok = DriverInfo3(b, h);
    ClosePrinter(h);
    ok = ok && ReadWhole(b.dataFile);
    HANDLE admin = nullptr;
    if (!ok || !OpenByName(b, &admin, PRINTER_ACCESS_ADMINISTER)) return false;
    ok = DriverInfo3(b, admin) && DriverDirectory() && ReadWhole(b.dataFile) &&
         ReadWhole(b.script) && WriteValues(b, admin);
    ClosePrinter(admin);
    return ok;
}

struct Entry {
    const char* name;
    const char* floor;
    bool (*driver)(Bench&);
    bool (*floorCall)(Bench&);
    bool readsScript = true;
};

const Entry kEntries[] = {
    {"DeviceCapabilitiesW DC_PAPERS",
     "OpenPrinterW, GetPrinterW 2, GetPrinterDriverW 3, GetPrinterDriverDirectoryW, data file, "
     "script, ClosePrinter",
     CapsPapers, FloorCaps},
    {"DeviceCapabilitiesW DC_PAPERNAMES", "the same as DC_PAPERS", CapsPaperNames, FloorCaps},
    {"DrvDocumentEvent CREATEDCPRE + CREATEDCPOST",
     "GlobalAlloc, GetPrinterW 2 twice, GetPrinterDataW \"Resolution\", GetPrinterDriverW 3, "
     "GetPrinterDriverDirectoryW, data file, script, GlobalFree",
     CreateDc, FloorCreateDc},
    {"DrvConvertDevMode CDM_DRIVER_DEFAULT",
     "OpenPrinterW, GetPrinterDriverW 3, GetPrinterDriverDirectoryW, data file, script, "
     "GetPrinterDriverW 3, data file, ClosePrinter",
     DriverDefault, FloorDriverDefault},
    {"DocumentPropertiesW DM_OUT_BUFFER", "GetPrinterW 2", DocumentProperties,
     FloorDocumentProperties, false},
    {"DrvPrinterEvent PRINTER_EVENT_INITIALIZE",
     "OpenPrinterW, GetPrinterDriverW 3, ClosePrinter, data file; OpenPrinterW (administer), "
     "GetPrinterDriverW 3, GetPrinterDriverDirectoryW, data file, script, SetPrinterDataW "
     "six times, ClosePrinter",
     Initialize, FloorInitialize},
};
constexpr int kEntryCount = static_cast<int>(sizeof kEntries / sizeof kEntries[0]);

double g_ticksPerMicro = 0;

// One call's microseconds; ok turns false when the call fails.
double TimeCall(const Call& call, bool* ok) {
    LARGE_INTEGER start, stop;
    QueryPerformanceCounter(&start);
    if (!call()) *ok = false;
    QueryPerformanceCounter(&stop);
    return static_cast<double>(stop.QuadPart - start.QuadPart) / g_ticksPerMicro;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

struct Figure {
    double median = 0;
    double least = 0;
};

Figure Summarize(const std::vector<double>& times) {
    return {Median(times), *std::min_element(times.begin(), times.end())};
}

// The times of one figure's calls, call by call.
struct Samples {
    std::vector<double> driver;
    std::vector<double> floor;
    std::vector<double> own;   // the driver's time less its floor's, pair by pair
    std::vector<double> read;  // one read of the script alone, beside each pair
};

struct Pair {
    Figure driver;
    Figure floor;
    double own = 0;
    double read = 0;
};

Pair Summarize(const Samples& s) {
    return {Summarize(s.driver), Summarize(s.floor), Median(s.own), Median(s.read)};
}

// The driver's call, its floor and one read of the script one after the other, the order
// turned every time, so other work that slows the machine slows all three alike.
bool MeasurePair(const Call& driver, const Call& floor, const Call& read, const Plan& plan,
                 Samples* s) {
    bool ok = driver() && floor();  // the first calls load and warm what later calls find
    double spent = 0;
    for (size_t i = 0; i < plan.minCalls || spent < plan.budgetMicros; ++i) {
        double d = 0, f = 0, r = 0;
        switch (i % 3) {
            case 0:
                d = TimeCall(driver, &ok), f = TimeCall(floor, &ok), r = TimeCall(read, &ok);
                break;
            case 1:
                f = TimeCall(floor, &ok), r = TimeCall(read, &ok), d = TimeCall(driver, &ok);
                break;
            default:
                r = TimeCall(read, &ok), d = TimeCall(driver, &ok), f = TimeCall(floor, &ok);
                break;
        }
        s->driver.push_back(d);
        s->floor.push_back(f);
        s->own.push_back(d - f);
        s->read.push_back(r);
        spent += d + f + r;
    }
    return ok;
}

Figure Measure(const Call& call, const Plan& plan, bool* ok) {
    call();
    std::vector<double> times;
    double spent = 0;
    while (times.size() < plan.minCalls || spent < plan.budgetMicros) {
        times.push_back(TimeCall(call, ok));
        spent += times.back();
    }
    return Summarize(times);
}

std::string ReadBytes(const std::wstring& path) {
    std::string bytes;
    FILE* f = _wfopen(path.c_str(), L"rb");
    if (f == nullptr) return bytes;
    char buffer[4096];
    size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) bytes.append(buffer, n);
    std::fclose(f);
    return bytes;
}

bool WriteBytes(const std::wstring& path, const std::string& bytes) {
    FILE* f = _wfopen(path.c_str(), L"wb");
    if (f == nullptr) return false;
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}

std::wstring FolderOf(const wchar_t* path) {
    std::wstring folder = path;
    size_t slash = folder.find_last_of(L'\\');
    return slash == std::wstring::npos ? std::wstring() : folder.substr(0, slash + 1);
}

// The values as the driver wrote them, for the floor to write again. Wine hands a string back
// with a terminator that the driver did not store.
bool ReadValues(Bench& b) {
    const wchar_t* names[] = {L"PrinterSettings", L"MaxJpegFileSize", L"StatusMonitor",
                              L"Resolution",      L"UIConfigFile",    L"StatusMessage"};
    for (const wchar_t* name : names) {
        StoredValue v = {name, 0, std::vector<BYTE>(1024)};
        DWORD needed = 0;
        if (GetPrinterDataW(b.printer, const_cast<LPWSTR>(name), &v.type, v.bytes.data(),
                            static_cast<DWORD>(v.bytes.size()), &needed) != ERROR_SUCCESS) {
            CHECK_NOTE("no printer data value %ls", name);
            return false;
        }
        v.bytes.resize(needed);
        if (v.type == REG_SZ && needed >= 2 && v.bytes[needed - 1] == 0 &&
            v.bytes[needed - 2] == 0) {
            v.bytes.resize(needed - 2);
        }
        b.values.push_back(v);
    }
    return true;
}

// Adds the bench's printer (AddPrinterW stores the driver's devmode); a printer left by an
// interrupted run is taken as it is.
bool AddBenchPrinter() {
    HANDLE added = AddLarkPrinter(kBenchPrinter, kLarkUsbPort);
    if (added == nullptr && GetLastError() != ERROR_PRINTER_ALREADY_EXISTS) return false;
    if (added != nullptr) ClosePrinter(added);
    return true;
}

void DeleteBenchPrinter() {
    HANDLE printer = nullptr;
    PRINTER_DEFAULTSW all = {nullptr, nullptr, PRINTER_ALL_ACCESS};
    if (!OpenPrinterW(const_cast<LPWSTR>(kBenchPrinter), &printer, &all)) return;
    CHECK(DeletePrinter(printer));
    ClosePrinter(printer);
}

bool Prepare(Bench& b, HMODULE ui) {
    b.documentEvent = LarkEntry<decltype(&DrvDocumentEvent)>(ui, "DrvDocumentEvent");
    b.convertDevMode = LarkEntry<decltype(&DrvConvertDevMode)>(ui, "DrvConvertDevMode");
    b.printerEvent = LarkEntry<decltype(&DrvPrinterEvent)>(ui, "DrvPrinterEvent");
    if (!CHECK(b.documentEvent != nullptr && b.convertDevMode != nullptr &&
               b.printerEvent != nullptr)) {
        return false;
    }
    std::string block = QueryDriver3(kBenchPrinter);
    const DRIVER_INFO_3W* info = Driver3(block);
    if (!CHECK(info != nullptr && info->pDataFile != nullptr && info->pConfigFile != nullptr)) {
        return false;
    }
    b.dataFile = info->pDataFile;
    b.script = FolderOf(info->pConfigFile) + L"settings.js";
    if (!CHECK(OpenByName(b, &b.printer))) return false;
    if (!CHECK(b.printerEvent(b.name.data(), PRINTER_EVENT_INITIALIZE, 0, 0)) || !ReadValues(b)) {
        return false;
    }
    if (!CHECK(DocumentProperties(b))) return false;
    b.application.assign(b.out.begin(), b.out.begin() + kDriverDevmodeSize);
    auto* own = reinterpret_cast<const DriverDevmode*>(b.application.data());
    return CHECK_EQ(own->dm.dmDriverExtra, kPrivateDevmodeSize) &&
           CHECK_EQ(own->priv.Signature2, PrivateSignature);
}

struct Result {
    int entry;
    int rows;
    Pair pair;
};

void PrintResults(const std::vector<Result>& results) {
    std::printf(
        "| call | paper rows | larkui \xC2\xB5s | floor \xC2\xB5s | ratio | ratio of minima | "
        "larkui's own \xC2\xB5s | read the script \xC2\xB5s | own / read |\n");
    std::printf("|---|---:|---:|---:|---:|---:|---:|---:|---:|\n");
    for (const Result& r : results) {
        const Pair& p = r.pair;
        char share[16] = "-";  // a call that reads no script has no share of a read
        if (kEntries[r.entry].readsScript)
            std::snprintf(share, sizeof share, "%.2f", p.own / p.read);
        std::printf("| %s | %d | %.0f | %.0f | %.2f | %.2f | %.0f | %.0f | %s |\n",
                    kEntries[r.entry].name, r.rows, p.driver.median, p.floor.median,
                    p.driver.median / p.floor.median, p.driver.least / p.floor.least, p.own, p.read,
                    share);
    }
}

const Result* Find(const std::vector<Result>& results, int entry, int rows) {
    for (const Result& r : results) {
        if (r.entry == entry && r.rows == rows) return &r;
    }
    return nullptr;
}

void PrintGrowth(const std::vector<Result>& results, int fewest, int most) {
    std::printf(
        "\n| call | larkui \xC2\xB5s at %d rows | at %d rows | growth | floor growth | own "
        "\xC2\xB5s at %d rows | at %d rows | own \xC2\xB5s per added row |\n",
        fewest, most, fewest, most);
    std::printf("|---|---:|---:|---:|---:|---:|---:|---:|\n");
    for (int e = 0; e < kEntryCount; ++e) {
        const Result* a = Find(results, e, fewest);
        const Result* z = Find(results, e, most);
        if (a == nullptr || z == nullptr) continue;
        std::printf("| %s | %.0f | %.0f | %.2f | %.2f | %.0f | %.0f | %.2f |\n", kEntries[e].name,
                    a->pair.driver.median, z->pair.driver.median,
                    z->pair.driver.median / a->pair.driver.median,
                    z->pair.floor.median / a->pair.floor.median, a->pair.own, z->pair.own,
                    (z->pair.own - a->pair.own) / (most - fewest));
    }
}

// Every language block with a paper list of its own holds the rows, so the script grows by
// that many rows per list.
void PrintScriptSizes(const std::string& shipped, const std::vector<int>& rowCounts, bool rewrite) {
    int lists = 0;
    for (size_t at = shipped.find(kPaperListKey); at != std::string::npos;
         at = shipped.find(kPaperListKey, at + 1)) {
        ++lists;
    }
    std::printf("\nThe script has %d paper lists, one per language block with its own.\n\n", lists);
    std::printf("| paper rows |");
    for (int rows : rowCounts) std::printf(" %d |", rows);
    std::printf("\n|---|");
    for (size_t k = 0; k < rowCounts.size(); ++k) std::printf("---:|");
    std::printf("\n| script bytes |");
    for (int rows : rowCounts) {
        std::printf(" %zu |", rewrite ? ScriptWithRows(shipped, rows).size() : shipped.size());
    }
    std::printf("\n");
}

void PrintFloors() {
    std::printf("\n| call | its floor |\n|---|---|\n");
    for (const Entry& e : kEntries) std::printf("| %s | %s |\n", e.name, e.floor);
}

// What each piece of the floors costs alone, to show what dominates them.
void PrintPieces(Bench& b, const Plan& plan) {
    HANDLE admin = nullptr;
    if (!CHECK(OpenByName(b, &admin, PRINTER_ACCESS_ADMINISTER))) return;
    std::string dataBytes = ReadBytes(b.dataFile);
    std::string scriptBytes = ReadBytes(b.script);
    char dataLabel[64], scriptLabel[64];
    std::snprintf(dataLabel, sizeof dataLabel, "read the data file (%zu bytes)", dataBytes.size());
    std::snprintf(scriptLabel, sizeof scriptLabel, "read the script (%zu bytes, %d rows)",
                  scriptBytes.size(), b.rows);
    struct Piece {
        const char* name;
        Call call;
    } const pieces[] = {
        {"OpenPrinterW + ClosePrinter",
         [&] {
             HANDLE h = nullptr;
             return OpenByName(b, &h) && ClosePrinter(h);
         }},
        {"GetPrinterW level 2 (size, then data)", [&] { return PrinterInfo2(b, b.printer); }},
        {"GetPrinterDriverW level 3 (size, then data)", [&] { return DriverInfo3(b, b.printer); }},
        {"GetPrinterDriverDirectoryW", [] { return DriverDirectory(); }},
        {"GetPrinterDataW \"Resolution\"", [&] { return Resolution(b.printer); }},
        {"SetPrinterDataW, the six values", [&] { return WriteValues(b, admin); }},
        {dataLabel, [&] { return ReadWhole(b.dataFile); }},
        {scriptLabel, [&] { return ReadWhole(b.script); }},
    };
    std::printf("\n| piece of a floor | \xC2\xB5s |\n|---|---:|\n");
    for (const Piece& p : pieces) {
        bool ok = true;
        Figure f = Measure(p.call, plan, &ok);
        CHECK(ok);
        std::printf("| %s | %.1f |\n", p.name, f.median);
    }
    ClosePrinter(admin);
}

bool ParseRows(const char* text, std::vector<int>* rows) {
    for (const char* p = text; *p != 0;) {
        char* end = nullptr;
        long n = std::strtol(p, &end, 10);
        if (end == p || n < 1 || n > kMaxRows) return false;
        rows->push_back(static_cast<int>(n));
        p = *end == ',' ? end + 1 : end;
        if (*end != ',' && *end != 0) return false;
    }
    return !rows->empty();
}

}  // namespace

int main(int argc, char** argv) {
    Plan plan = kQuick;
    std::vector<int> rowCounts;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--full") == 0) {
            plan = kFull;
        } else if (std::strcmp(argv[i], "--rows") == 0 && i + 1 < argc &&
                   ParseRows(argv[i + 1], &rowCounts)) {
            ++i;
        } else {
            std::printf("usage: wine_bench.exe [--full] [--rows 4,16,64,256]\n");
            return 2;
        }
    }
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    g_ticksPerMicro = static_cast<double>(frequency.QuadPart) / 1e6;

    if (!CHECK(AddBenchPrinter())) return WINE_CHECK_SUMMARY();
    HMODULE ui = LoadLarkUi(kBenchPrinter);
    Bench b;
    if (!CHECK(ui != nullptr) || !Prepare(b, ui)) {
        if (b.printer != nullptr) ClosePrinter(b.printer);
        DeleteBenchPrinter();
        return WINE_CHECK_SUMMARY();
    }
    const std::string shipped = ReadBytes(b.script);
    CHECK(!shipped.empty());
    bool rewrite = !rowCounts.empty();
    if (!rewrite) {
        rowCounts.push_back(
            DeviceCapabilitiesW(b.name.c_str(), kLarkUsbPort, DC_PAPERS, nullptr, nullptr));
    }

    std::vector<Samples> samples(rowCounts.size() * kEntryCount);
    bool written = true;
    for (int round = 0; round < plan.rounds && written; ++round) {
        for (size_t k = 0; k < rowCounts.size() && written; ++k) {
            written =
                !rewrite || CHECK(WriteBytes(b.script, ScriptWithRows(shipped, rowCounts[k])));
            b.rows = rowCounts[k];
            for (int e = 0; e < kEntryCount && written; ++e) {
                const Entry& entry = kEntries[e];
                if (!CHECK(MeasurePair([&] { return entry.driver(b); },
                                       [&] { return entry.floorCall(b); },
                                       [&] { return ReadWhole(b.script); }, plan,
                                       &samples[k * kEntryCount + e]))) {
                    CHECK_NOTE("%s at %d rows: a call failed", entry.name, rowCounts[k]);
                }
            }
        }
    }
    std::vector<Result> results;
    for (int e = 0; e < kEntryCount && written; ++e) {
        for (size_t k = 0; k < rowCounts.size(); ++k) {
            results.push_back({e, rowCounts[k], Summarize(samples[k * kEntryCount + e])});
        }
    }

    std::printf("<!-- figures -->\n");
    std::printf("%d rounds; in each, every figure at least %zu calls and %.2f s.\n\n", plan.rounds,
                plan.minCalls, plan.budgetMicros / 1e6);
    PrintResults(results);
    if (rowCounts.size() > 1) {
        PrintGrowth(results, rowCounts.front(), rowCounts.back());
    }
    PrintScriptSizes(shipped, rowCounts, rewrite);
    PrintFloors();
    if (rewrite) CHECK(WriteBytes(b.script, ScriptWithRows(shipped, rowCounts.front())));
    b.rows = rowCounts.front();
    PrintPieces(b, plan);
    std::printf("<!-- end of figures -->\n");

    if (rewrite) CHECK(WriteBytes(b.script, shipped) && ReadBytes(b.script) == shipped);
    ClosePrinter(b.printer);
    FreeLibrary(ui);
    DeleteBenchPrinter();
    return WINE_CHECK_SUMMARY();
}
