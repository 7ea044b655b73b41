// The monitor's polling loop: read the device ID, report the status, sleep,
// look at the queue; until the queue is empty and the printer quiet.
#pragma once

#include "platform.h"

// Polls that always count as busy (k = 0 to 20), so a run lasts at least
// 22 polls.
constexpr DWORD kMinimumBusyPolls = 21;
// IOCTL_PAR_QUERY_DEVICE_ID, spelled out: the Windows build's lean headers
// leave out the CTL_CODE macro that the named constant is built with.
constexpr DWORD kQueryDeviceIdRequest = 0x0016000C;
// The device ID reply: 512 bytes from the device.
constexpr DWORD kReplyBytes = 512;

struct MonitorRun {
    LPWSTR printerName;
    HANDLE printer;
    PRINTER_INFO_2W* info;  // re-read on every poll
    DWORD infoBytes;
    HANDLE device;
};

// Runs until the exit rule holds or the device stops answering.
void RunPollingLoop(const MonitorRun& run);

// Asks the device for its ID into reply (kReplyBytes + 1 bytes) and leaves
// it terminated within the bytes that the device delivered. False when the
// request fails.
bool ReadDeviceId(HANDLE device, char* reply);
