// What each platform gives the tables: a machine with the driver installed
// as the spooler installs it, the driver loaded as the spooler loads it, the
// driver's files, and what the process holds. Everything else the tables
// call by its Win32 name on both platforms. adapter_winsim.cpp and
// adapter_wine.cpp implement it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform.h"

namespace conformance {

enum class Platform { Winsim, Wine };
Platform ThisPlatform();
const char* PlatformName();

// The printers every table starts with: the driver package installed, each
// printer added with the driver's default devmode and its printer data
// values (DrvConvertDevMode CDM_DRIVER_DEFAULT, DrvPrinterEvent
// PRINTER_EVENT_INITIALIZE), as the Windows spooler adds a printer.
extern const WCHAR kPrinter[];     // on the USB port USB001
extern const WCHAR kLptPrinter[];  // on LPT1:, not a USB port
extern const WCHAR kDriverName[];

// Before and after each table: winsim makes a fresh machine for it; under
// Wine the prefix the fixtures prepared serves every table. False (why set)
// when the machine cannot be had.
bool BeginTable(std::string* why);
void EndTable();

// Puts kPrinter back as installed: the package's files in the driver's
// folder, the driver's default devmode, the six printer data values as
// DrvPrinterEvent writes them, and no other value.
bool ResetPrinter();

// An entry point of the driver loaded as the spooler loads it (its config
// file from the printer's DRIVER_INFO_3), nullptr when there is none.
void* DriverEntry(const char* name);
template <class Fn>
Fn Entry(const char* name) {
    // Through void*: a module's export has no type of its own.
    return reinterpret_cast<Fn>(DriverEntry(name));
}

// The driver's version folder as a Windows path, with its final backslash.
std::basic_string<WCHAR> DriverFolder();
// Writes or removes a file in it (a row's own data file or script);
// ResetPrinter puts the package's back.
bool WriteDriverFile(const char* name, const std::string& bytes);
bool RemoveDriverFile(const char* name);
// Removes a printer data value of kPrinter (a row's printer without it).
bool RemovePrinterValue(const WCHAR* name);

// What this process holds of the platform, by name; false when the
// platform cannot count it (Wine counts only the process's threads).
struct Holding {
    const char* what;
    long count;
};
bool Holdings(std::vector<Holding>* now);

}  // namespace conformance
