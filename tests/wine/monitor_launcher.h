// Starts the real larkmon.exe under Wine as STARTDOC starts it (the program's
// path, the printer name as the whole command line, nothing inherited), but
// suspended: larkrec.dll (monitor_recorder.cpp) is loaded into it with a
// remote LoadLibraryW before its first instruction, so its SetPortW and
// MessageBoxW calls are recorded, one line each, into recordFile.
#pragma once

#include "platform.h"
// platform.h first.
#include <string>

namespace larkwine {

// False (why set) when the monitor could not be started with the recorder
// in it; then nothing of it runs. On success the caller owns both handles.
bool LaunchRecordedMonitor(const std::wstring& program, const std::wstring& commandLine,
                           const std::wstring& recorder, const std::wstring& recordFile,
                           PROCESS_INFORMATION* process, std::string* why);

}  // namespace larkwine
