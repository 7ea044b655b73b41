// A copy of the driver's module that a table may load and unload itself:
// the driver as the spooler loads it stays loaded through every table (and
// Wine's spooler keeps its own), so a table that is to hold a module's last
// reference loads the same code from a file of another name.
#pragma once

#include <string>

#include "adapter.h"
#include "conformance.h"

namespace conformance {

// C:\<folder>\<name>, the driver's larkui.dll copied there; empty when it
// cannot be. The folder stays (a pinned module's file cannot go).
inline std::basic_string<WCHAR> CopyDriverModule(const char* folder, const char* name) {
    std::string bytes;
    if (!ReadFileBytes((DriverFolder() + Wide("larkui.dll")).c_str(), &bytes) || bytes.empty()) {
        return {};
    }
    const std::basic_string<WCHAR> dir = Wide("C:\\") + Wide(folder);
    MakeFolder(dir.c_str());  // there already from an earlier table is fine
    const std::basic_string<WCHAR> path = dir + Wide("\\") + Wide(name);
    return WriteWholeFile(path.c_str(), bytes) ? path : std::basic_string<WCHAR>();
}

}  // namespace conformance
