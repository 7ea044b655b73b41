// What installing the shipped lark.inf for x64 gives: the model's driver name and hardware ID,
// the install section's four role files and everything it copies. The winsim installation
// (larksim install-driver) and the Wine one (SetupAPI in wine_setup) are both held to it.
#pragma once

#include <cstddef>

namespace larkinf {

inline constexpr const char* kDriverName = "Lark Photo Printer";
inline constexpr const char* kHardwareId = "USBPRINT\\LarkPhoto0001";

inline constexpr const char* kDriverFile = "larkrend.dll";
inline constexpr const char* kDataFile = "larkdata.ini";
inline constexpr const char* kConfigFile = "larkui.dll";
inline constexpr const char* kHelpFile = "lark.hlp";

// The install section's CopyFiles, all into the printer driver directory (dirid 66000).
inline constexpr const char* kCopyFiles[] = {"larkrend.dll", "larkui.dll",   "larkdata.ini",
                                             "larkmon.exe",  "settings.htm", "settings.js",
                                             "lark.hlp"};
inline constexpr std::size_t kCopyFileCount = sizeof(kCopyFiles) / sizeof(kCopyFiles[0]);

// The copied files that are none of the four roles: the driver's dependent files.
inline constexpr const char* kDependentFiles[] = {"larkmon.exe", "settings.htm", "settings.js"};
inline constexpr std::size_t kDependentFileCount =
    sizeof(kDependentFiles) / sizeof(kDependentFiles[0]);

inline constexpr unsigned kPrinterDriverDirId = 66000;

}  // namespace larkinf
