#include "debug_log.h"

#include <cstdio>

#include "platform.h"

void WriteDebugLog(const char* message) {
    // The log is opened and closed per line so that it is complete up to the
    // last line even when the monitor is stopped from outside. The folder is
    // never created: the log exists only where someone made c:\temp\larkdeb.
    FILE* log = _wfopen(TEXT("c:\\temp\\larkdeb\\larksm.txt"), TEXT("a"));
    if (log == nullptr) return;
    fprintf(log, "%s\n", message);
    fclose(log);
}

void LogNumber(const char* format, int value) {
    char line[96];
    std::snprintf(line, sizeof line, format, value);
    WriteDebugLog(line);
}
