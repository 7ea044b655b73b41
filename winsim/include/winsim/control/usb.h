// USB printing interfaces of the machine and their devices' answers.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "winsim/windows.h"

namespace winsim {

// USB printing interfaces of the machine and, per device, the device ID
// script: deviceIds[i] answers poll i + 1 of an open handle, the last one
// repeating; from poll failFrom on (counted from 1; 0: never) the request
// fails as from an unplugged printer. jobs[i], when given, becomes the job
// count of the printers on the device's port when poll i + 1 is answered
// (the last one repeating), so a queue can be scripted along the polls.
struct UsbDevice {
    int64_t id = 0;
    bool hasBaseName = true;
    std::u16string baseName = u"USB";
    bool hasPortNumber = true;
    DWORD portNumber = 1;
    std::u16string devicePath;  // made up from the id when empty
    bool present = true;
    std::vector<std::string> deviceIds;
    int failFrom = 0;
    std::vector<DWORD> jobs;
};
// Adds the interface (after every existing one); returns its id, 0 on error.
int64_t AddUsbDevice(const UsbDevice& device);
std::vector<UsbDevice> UsbDevices();
// The port name the interface stands for: base name and number, "%s%03d".
std::u16string UsbPortName(const UsbDevice& device);
// These act on the first interface whose port name matches (ignoring case).
bool SetUsbScript(const std::u16string& port, const std::vector<std::string>& deviceIds,
                  int failFrom);
bool SetUsbJobs(const std::u16string& port, const std::vector<DWORD>& jobs);
bool UnplugUsb(const std::u16string& port);
// Puts an unplugged interface back, as a printer plugged in again.
bool PlugUsb(const std::u16string& port);

}  // namespace winsim
