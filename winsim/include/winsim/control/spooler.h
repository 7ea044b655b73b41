// The spooler's side of the machine: drivers, printers and their printer
// data values, the driver's module as the spooler loads it, the port
// statuses SetPortW reported and the raw jobs the spooler received.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "winsim/windows.h"

namespace winsim {

struct DriverRecord {
    std::u16string name;
    DWORD version = 3;
    std::u16string driverPath, dataFile, configFile, helpFile;
    std::vector<std::u16string> dependentFiles;
};
// Registers a driver whose files already lie in the driver directory's
// version folder (full Windows paths in the record).
bool AddDriver(const DriverRecord& driver);
bool GetDriver(const std::u16string& name, DriverRecord* driver);

struct PrinterRecord {
    std::u16string name, port, driver;
    std::vector<uint8_t> devmode;  // the printer's global default
    DWORD jobs = 0;
};
// The user's own default devmode (SetPrinterW level 9), empty when none.
std::vector<uint8_t> UserDevmode(const std::u16string& printer);
// The default devmode GetPrinterW level 2 answers: the user's own when one
// is stored, else the printer's.
std::vector<uint8_t> DefaultDevmode(const PrinterRecord& printer);
// Adds the printer as the spooler does: stores it, asks the driver for its
// default devmode (DrvConvertDevMode, CDM_DRIVER_DEFAULT) and sends it
// PRINTER_EVENT_INITIALIZE (DrvPrinterEvent), each when the driver has it,
// on the calling thread acting as SYSTEM (the spooler's service). Adding a
// printer is an administrator's act: the control side does it whatever
// the process's user.
// A driver that does not load, or whose DrvPrinterEvent fails, takes the
// printer back out: AddPrinter fails and no printer is left behind.
// A name the spooler refuses (empty, longer than kMaxPrinterNameUnits, or
// with ',' or '\', which the print protocol forbids in a local printer
// name) fails with ERROR_INVALID_PRINTER_NAME as the last error.
inline constexpr size_t kMaxPrinterNameUnits = 220;
bool AddPrinter(const std::u16string& name, const std::u16string& port,
                const std::u16string& driver, std::string* error);
// Stores the printer only, with no driver calls.
bool StorePrinter(const PrinterRecord& printer);
bool GetPrinterRecord(const std::u16string& name, PrinterRecord* printer);
bool SetPrinterDevmode(const std::u16string& name, const std::vector<uint8_t>& devmode);
bool SetPrinterJobs(const std::u16string& name, DWORD jobs);
std::vector<std::u16string> PrinterNames();

struct PrinterDataValue {
    std::u16string name;
    DWORD type = 0;
    std::vector<uint8_t> data;
};
// Takes a printer data value away, as DeletePrinterDataW would.
bool RemovePrinterData(const std::u16string& printer, const std::u16string& name);
std::vector<PrinterDataValue> PrinterData(const std::u16string& printer);

// The driver's user-interface module, loaded as the spooler loads it.
struct DriverModule {
    void* library = nullptr;
    std::string error;
};
DriverModule LoadDriverModule(const std::u16string& configFile);
// From now on no driver module loads in this process (the error says why):
// a process that links the driver's code reaches the driver that way only,
// never also through a second copy loaded as the spooler loads it.
void ForbidDriverModules(const std::string& why);
void* DriverEntry(const DriverModule& module, const char* name);
void UnloadDriverModule(DriverModule& module);

// Every SetPortW call that passed the argument checks, in order: accepted
// (error 0), or refused for the caller's rights (ERROR_ACCESS_DENIED, with
// what the caller asked for).
struct PortStatusRecord {
    int64_t seq = 0;
    int pid = 0;
    std::u16string port;
    DWORD status = 0;
    bool hasText = false;
    std::u16string text;
    DWORD severity = 0;
    int64_t micros = 0;  // time of the call
    DWORD error = 0;
};
std::vector<PortStatusRecord> PortStatuses();

// Raw jobs as the spooler received them (StartDocPrinterA ... EndDocPrinter).
struct JobRecord {
    int64_t id = 0;
    int pid = 0;
    std::u16string printer;
    std::string document, datatype;
    DWORD pages = 0;
    std::vector<uint8_t> data;
    bool ended = false;  // EndDocPrinter reached
};
// Every job of the printer, or of every printer for an empty name.
std::vector<JobRecord> Jobs(const std::u16string& printer = u"");

}  // namespace winsim
