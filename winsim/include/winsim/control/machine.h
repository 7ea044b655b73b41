// The machine: its root folder and database, the mapping of Windows paths
// into it, its settings, and the programs started on it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "winsim/windows.h"

namespace winsim {

// The machine root comes from WINSIM_ROOT unless a process sets it first.
// WINSIM_SOLE_PROCESS=1 tells winsim that no other process uses the machine
// meanwhile: the database stays locked to this process (fuzz targets).
void SetMachineRoot(const std::string& root);
std::string MachineRoot();
// Creates the folder layout and the database of a new machine (idempotent).
bool InitMachine(const std::string& root);
bool MachineExists(const std::string& root);

// Host path of a Windows path on this machine (case-insensitive lookup of
// every existing component, as the Windows file system does).
std::string HostPath(const std::u16string& windowsPath);
// The spooler's driver directory, C:\Windows\System32\spool\drivers\x64
// unless the machine setting "driver_directory" names another (a machine
// whose system folder lies deeper); installs and GetPrinterDriverDirectoryW
// both follow it.
std::u16string DriverDirectory();

// Machine settings, stored in the machine database. An empty value is an
// unset one: GetSetting answers the fallback.
void SetSetting(const std::string& key, const std::string& value);
std::string GetSetting(const std::string& key, const std::string& fallback);

// UTF-8 and UTF-16 conversions for the control side.
std::string ToUtf8(const std::u16string& text);
std::u16string ToUtf16(const std::string& text);

// Starts the program at a Windows path of this machine as a process of it,
// with the given command line (what its GetCommandLineW returns) and this
// machine's root. Fails with the last error ERROR_FILE_NOT_FOUND when there
// is no such program. The caller reaps the process (waitpid).
bool StartProgram(const std::u16string& windowsPath, const std::u16string& commandLine, int* pid);
bool ProcessAlive(int pid);
// The processes that CreateProcessW started on the machine, oldest first:
// the starting process, the new one, its program and when. A road ties
// the process it started to itself by these, even one that has already
// ended (none on a machine made before this record).
struct ProcessStart {
    int parent = 0;
    int pid = 0;
    std::u16string program;
    int64_t micros = 0;
};
std::vector<ProcessStart> ProcessStarts();

// Forgets the records a run leaves: jobs, dialog showings, UI events, port
// statuses, refusals, message boxes and process starts (a long fuzz run would otherwise fill the
// machine).
void ForgetRecords();

}  // namespace winsim
