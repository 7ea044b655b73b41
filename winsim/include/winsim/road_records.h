// What larksim's roads record beside the platform's own records, so that
// a report can show a road after it has run: the driver calls a road made
// and what they handed back, how each road ended, and the status monitor's
// runs with the lines of their debug log. The system never includes this
// header.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "control.h"

namespace winsim {

// One driver call of a road and its answer: a document event
// ("CREATEDCPRE", "STARTDOC", ...), with the devmode it handed back (empty
// for none).
struct RoadStep {
    int64_t seq = 0;
    int pid = 0;
    DWORD thread = 0;
    int64_t micros = 0;
    std::string name;
    int64_t result = 0;
    std::vector<uint8_t> devmode;
};
// Keeps at most 65536 bytes of the devmode.
void RecordRoadStep(const std::string& name, int64_t result, const void* devmode, size_t bytes);
std::vector<RoadStep> RoadSteps();

// The end of a road of this process: the road's name ("properties",
// "print", ...), its printer, the exit code it ends with, the devmode the
// application kept (empty for none), the printer data value
// PrinterSettings then, and what the process still held.
struct RoadEnd {
    int64_t seq = 0;
    int pid = 0;
    int64_t micros = 0;
    std::string road;
    std::u16string printer;
    int exitCode = 0;
    std::vector<uint8_t> devmode;
    bool hasSettings = false;
    std::u16string settings;
    Counts held;
    long threads = 0;  // threads of the process still running
};
void RecordRoadEnd(const std::string& road, const std::u16string& printer, int exitCode,
                   const std::vector<uint8_t>& devmode);
std::vector<RoadEnd> RoadEnds();

// A run of the status monitor as the road that waited for it saw it end:
// the monitor's process (0 when none was seen) and the lines it wrote to
// its debug log meanwhile, in order.
struct MonitorRun {
    int64_t seq = 0;
    int pid = 0;  // the road's process
    int monitorPid = 0;
    int64_t micros = 0;
    std::vector<std::string> log;
};
void RecordMonitorRun(int monitorPid, const std::vector<std::string>& log);
std::vector<MonitorRun> MonitorRuns();

// False on a machine made before these records: it has none, and
// `larksim init` adds their table.
bool HasRoadRecords();

}  // namespace winsim
