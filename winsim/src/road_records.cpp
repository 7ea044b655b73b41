// larksim's own records of its roads, one table of three kinds: "step" (a
// driver call and the devmode it handed back), "end" (a road's end with the
// process's accounting) and "monitor" (a status monitor's run and its log).
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <sstream>

#include "internal.h"
#include "winsim/road_records.h"

namespace winsim {
namespace {

using detail::Exec;
using detail::P;
using detail::PBlob;

constexpr size_t kMaxDevmodeBytes = 65536;

int64_t Pid() { return static_cast<int64_t>(getpid()); }

std::vector<uint8_t> Blob(sqlite3_stmt* s, int column) {
    const auto* bytes = static_cast<const uint8_t*>(sqlite3_column_blob(s, column));
    int n = sqlite3_column_bytes(s, column);
    return bytes != nullptr && n > 0 ? std::vector<uint8_t>(bytes, bytes + n)
                                     : std::vector<uint8_t>();
}

// The counts in the order of Counts, then the live threads.
std::string CountsText(const Counts& c, long threads) {
    std::ostringstream out;
    out << c.printerHandles << ' ' << c.kernelHandles << ' ' << c.registryKeys << ' '
        << c.deviceInfoLists << ' ' << c.heapBlocks << ' ' << c.globalBlocks << ' ' << c.localBlocks
        << ' ' << c.openFiles << ' ' << c.bstrs << ' ' << c.monikers << ' ' << threads;
    return out.str();
}

void ParseCounts(const unsigned char* text, Counts* c, long* threads) {
    std::istringstream in(text != nullptr ? reinterpret_cast<const char*>(text) : "");
    long* fields[] = {&c->printerHandles, &c->kernelHandles, &c->registryKeys, &c->deviceInfoLists,
                      &c->heapBlocks,     &c->globalBlocks,  &c->localBlocks,  &c->openFiles,
                      &c->bstrs,          &c->monikers,      threads};
    for (long* f : fields) {
        if (!(in >> *f)) *f = 0;
    }
}

// The REG_SZ value as stored: UTF-16 without a terminator, or with one.
bool StoredSettings(const std::u16string& printer, std::u16string* settings) {
    for (const PrinterDataValue& v : PrinterData(printer)) {
        if (v.name != u"PrinterSettings") continue;
        settings->assign(v.data.size() / 2, u'\0');
        if (!settings->empty()) std::memcpy(settings->data(), v.data.data(), settings->size() * 2);
        size_t end = settings->find(u'\0');
        if (end != std::u16string::npos) settings->resize(end);
        return true;
    }
    return false;
}

}  // namespace

bool HasRoadRecords() {
    bool found = false;
    Exec("SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = 'road_records'", {},
         [&](sqlite3_stmt*) { found = true; });
    return found;
}

void RecordRoadStep(const std::string& name, int64_t result, const void* devmode, size_t bytes) {
    if (!HasRoadRecords()) return;
    Exec(
        "INSERT INTO road_records(kind, pid, thread, micros, name, result, data)"
        " VALUES('step', ?, ?, ?, ?, ?, ?)",
        {P(Pid()), P(static_cast<int64_t>(GetCurrentThreadId())), P(detail::NowMicros()), P(name),
         P(result), PBlob(devmode, devmode != nullptr ? std::min(bytes, kMaxDevmodeBytes) : 0)});
}

std::vector<RoadStep> RoadSteps() {
    std::vector<RoadStep> steps;
    if (!HasRoadRecords()) return steps;
    Exec(
        "SELECT seq, pid, thread, micros, name, result, data FROM road_records"
        " WHERE kind = 'step' ORDER BY seq",
        {}, [&](sqlite3_stmt* s) {
            RoadStep r;
            r.seq = sqlite3_column_int64(s, 0);
            r.pid = sqlite3_column_int(s, 1);
            r.thread = static_cast<DWORD>(sqlite3_column_int64(s, 2));
            r.micros = sqlite3_column_int64(s, 3);
            const unsigned char* name = sqlite3_column_text(s, 4);
            if (name != nullptr) r.name = reinterpret_cast<const char*>(name);
            r.result = sqlite3_column_int64(s, 5);
            r.devmode = Blob(s, 6);
            steps.push_back(r);
        });
    return steps;
}

void RecordRoadEnd(const std::string& road, const std::u16string& printer, int exitCode,
                   const std::vector<uint8_t>& devmode) {
    if (!HasRoadRecords()) return;
    std::u16string settings;
    bool hasSettings = StoredSettings(printer, &settings);
    Exec(
        "INSERT INTO road_records(kind, pid, thread, micros, name, printer, result, data, text,"
        " counts) VALUES('end', ?, ?, ?, ?, ?, ?, ?, ?, ?)",
        {P(Pid()), P(static_cast<int64_t>(GetCurrentThreadId())), P(detail::NowMicros()), P(road),
         P(printer), P(int64_t{exitCode}),
         PBlob(devmode.empty() ? nullptr : devmode.data(),
               std::min(devmode.size(), kMaxDevmodeBytes)),
         hasSettings ? P(settings) : PBlob(nullptr, 0),
         P(CountsText(CurrentCounts(), LiveThreadCount()))});
}

std::vector<RoadEnd> RoadEnds() {
    std::vector<RoadEnd> ends;
    if (!HasRoadRecords()) return ends;
    Exec(
        "SELECT seq, pid, micros, name, printer, result, text, counts, data FROM road_records"
        " WHERE kind = 'end' ORDER BY seq",
        {}, [&](sqlite3_stmt* s) {
            RoadEnd r;
            r.seq = sqlite3_column_int64(s, 0);
            r.pid = sqlite3_column_int(s, 1);
            r.micros = sqlite3_column_int64(s, 2);
            const unsigned char* name = sqlite3_column_text(s, 3);
            if (name != nullptr) r.road = reinterpret_cast<const char*>(name);
            r.printer = detail::ColumnText16(s, 4);
            r.exitCode = sqlite3_column_int(s, 5);
            r.hasSettings = sqlite3_column_type(s, 6) != SQLITE_NULL;
            r.settings = detail::ColumnText16(s, 6);
            ParseCounts(sqlite3_column_text(s, 7), &r.held, &r.threads);
            r.devmode = Blob(s, 8);
            ends.push_back(r);
        });
    return ends;
}

// The log's lines are joined with line feeds, which no line holds; a
// blob keeps any byte a line may carry.
void RecordMonitorRun(int monitorPid, const std::vector<std::string>& log) {
    if (!HasRoadRecords()) return;
    std::string joined;
    for (size_t i = 0; i < log.size(); ++i) {
        if (i != 0) joined += '\n';
        joined += log[i];
    }
    Exec(
        "INSERT INTO road_records(kind, pid, thread, micros, result, data)"
        " VALUES('monitor', ?, ?, ?, ?, ?)",
        {P(Pid()), P(static_cast<int64_t>(GetCurrentThreadId())), P(detail::NowMicros()),
         P(int64_t{monitorPid}), PBlob(joined.data(), joined.size())});
}

std::vector<MonitorRun> MonitorRuns() {
    std::vector<MonitorRun> runs;
    if (!HasRoadRecords()) return runs;
    Exec(
        "SELECT seq, pid, micros, result, data FROM road_records WHERE kind = 'monitor'"
        " ORDER BY seq",
        {}, [&](sqlite3_stmt* s) {
            MonitorRun r;
            r.seq = sqlite3_column_int64(s, 0);
            r.pid = sqlite3_column_int(s, 1);
            r.micros = sqlite3_column_int64(s, 2);
            r.monitorPid = sqlite3_column_int(s, 3);
            std::vector<uint8_t> joined = Blob(s, 4);
            std::string line;
            for (size_t i = 0; i < joined.size(); ++i) {
                if (joined[i] == '\n') {
                    r.log.push_back(line);
                    line.clear();
                } else {
                    line += static_cast<char>(joined[i]);
                }
            }
            if (!joined.empty()) r.log.push_back(line);
            runs.push_back(r);
        });
    return runs;
}

}  // namespace winsim
