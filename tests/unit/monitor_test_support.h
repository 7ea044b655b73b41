// Helpers of the monitor tests: device ID texts with an S field, the debug
// log of the current machine.
#pragma once

#include <string>
#include <vector>

namespace larktest {

// A device ID whose S field has the version, the status byte at positions
// 19-20 and the tail after it (count character and records, version 03 and
// 04 filler included by the caller).
std::string DeviceId(const std::string& version, const std::string& status,
                     const std::string& tail = "");
// A present supply record of the kind at the level, as 8 hex digits.
std::string SupplyRecord(int kind, int level, bool present = true);

// Creates C:\temp\larkdeb on the current machine.
void MakeLogFolder();
std::string LogPath();
// The log's lines (CR LF line ends taken off).
std::vector<std::string> LogLines();
bool LogExists();

}  // namespace larktest
