// CheckStatus: the status table, the port status for the spooler and the
// warning box, shown once each time the printer enters a flagged status
// where a person can see it.
#include <cstdio>

#include "debug_log.h"
#include "device_status.h"
#include "status_message.h"

const BYTE StatusAlertTable[60] = {
    0, 0, 0, 0, 0, 0, 1, 0, 1, 1,  // 0-9: 6, 8, 9
    0, 0, 0, 0, 1, 1, 1, 1, 1, 0,  // 10-19: 14-18
    0, 0, 1, 1, 0, 0, 1, 0, 0, 0,  // 20-29: 22, 23, 26
    0, 0, 1, 1, 0, 1, 0, 0, 0, 0,  // 30-39: 32, 33, 35
    0, 0, 1, 0, 0, 0, 0, 0, 1, 1,  // 40-49: 42, 48, 49
    0, 0, 0, 1, 0, 0, 0, 0, 0, 0,  // 50-59: 53
};

namespace {

BYTE g_lastReported = 0;
LPCWSTR g_statusMessage = DefaultStatusMessage;

// SetPortW takes writable texts.
WCHAR g_printing[] = TEXT("Printing");
WCHAR g_inkLow[] = TEXT("Ink Levels are Low");

struct StatusRow {
    const char* log;  // nullptr: no line of its own
    DWORD status;
    LPWSTR text;
    DWORD severity;
    bool inkCheck;
    int used;
};

StatusRow RowFor(int s) {
    switch (s) {
        case 0:
            return {nullptr, 0, nullptr, PORT_STATUS_TYPE_WARNING, true, 0};
        case 2:
            return {nullptr, 0, nullptr, PORT_STATUS_TYPE_WARNING, true, 2};
        case 4:
            return {nullptr, 0, g_printing, PORT_STATUS_TYPE_INFO, true, 0};
        case 8:
            return {"Front cover open",
                    PORT_STATUS_DOOR_OPEN,
                    nullptr,
                    PORT_STATUS_TYPE_WARNING,
                    false,
                    8};
        case 9:
            return {"Printer is Out of Paper",
                    PORT_STATUS_PAPER_OUT,
                    nullptr,
                    PORT_STATUS_TYPE_WARNING,
                    false,
                    9};
        case 14:
            return {"Paper Jam in the Printer",
                    PORT_STATUS_PAPER_JAM,
                    nullptr,
                    PORT_STATUS_TYPE_WARNING,
                    false,
                    14};
        default:
            return {"Printer needs attention",
                    PORT_STATUS_USER_INTERVENTION,
                    nullptr,
                    PORT_STATUS_TYPE_WARNING,
                    false,
                    s < 60 ? s : 59};
    }
}

// A box in a window station nobody sees (a service's, in session 0) would
// hold the monitor's one thread for ever, and with it the device. When the
// station cannot be asked, no box either: the port status still tells.
bool WindowStationVisible() {
    HWINSTA station = GetProcessWindowStation();  // the system's handle: not closed
    if (station == nullptr) return false;
    USEROBJECTFLAGS flags = {};
    DWORD needed = 0;
    return GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof flags, &needed) &&
           (flags.dwFlags & WSF_VISIBLE) != 0;
}

void LogNibbles(int s) {
    char line[64];
    std::snprintf(line, sizeof line, "CheckStatus: Status nibbles are: %x:%x", s / 16, s % 16);
    WriteDebugLog(line);
}

}  // namespace

void SetStatusMessageText(LPCWSTR text) { g_statusMessage = text != nullptr ? text : TEXT(""); }
BYTE LastReportedStatus() { return g_lastReported; }
void ResetLastReportedStatus() { g_lastReported = 0; }

int CheckStatus(const char* deviceId, LPWSTR printerName, LPWSTR portName, size_t fieldAt) {
    const int s = DecodeStatusByte(deviceId, fieldAt);
    LogNibbles(s);
    const StatusRow row = RowFor(s);
    PORT_INFO_3W info = {row.status, row.text, row.severity};
    if (s == 2) LogNibbles(s);
    if (row.log != nullptr) WriteDebugLog(row.log);
    int ink = 0;
    if (row.inkCheck) {
        ink = CheckInkLevels(deviceId);
        if (ink != 0) info.pszStatus = g_inkLow;
    }
    const int used = row.used;
    LogNumber("CheckStatus: Setting port status to %d", used);
    if (!SetPortW(nullptr, portName, 3, reinterpret_cast<LPBYTE>(&info))) {
        LogNumber("SetPort failed, error = %d", static_cast<int>(GetLastError()));
    }
    if (used != 0 && used != g_lastReported && (StatusAlertTable[used] == 1 || ink != 0)) {
        if (WindowStationVisible()) {
            MessageBoxW(nullptr, g_statusMessage, printerName,
                        MB_OK | MB_ICONEXCLAMATION | MB_TOPMOST);
        } else {
            WriteDebugLog("CheckStatus: No message box, the window station is not visible");
        }
    }
    g_lastReported = static_cast<BYTE>(used);
    return s;
}
