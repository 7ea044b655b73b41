// The Wine tests' USB printing class device (larkusb.sys) from user mode:
// installing its root-enumerated devices, one interface of the USB printing
// class each, giving each interface its port name, and scripting what each
// device answers. Used by larkusbctl.exe (the fixture) and by the
// conformance adapter under Wine.
#pragma once

#include "platform.h"
// platform.h first.
#include <string>
#include <vector>

namespace larkusb {

// One device of the installation, in order: its interface's "Base Name"
// and "Port Number" (none written when hasBaseName / hasPortNumber is
// false), and whether its interface is ever enabled (an absent device's is
// registered but not enabled, as an unplugged printer's).
struct Device {
    std::wstring baseName = L"USB";
    DWORD portNumber = 1;
    bool hasBaseName = true;
    bool hasPortNumber = true;
    bool present = true;
};

// The devices the fixture installs, parked on port names no printer has
// (USB101, USB102, USB103) until a test gives them theirs: two present
// devices and an absent one.
inline constexpr DWORD kParked = 100;
std::vector<Device> FixtureDevices();

// Creates the root devices (hardware ID ROOT\LARKUSB), installs the driver
// from the INF for them and waits until every present device's interface
// is enabled; then writes each interface's values. False (why set) on any
// failure. Run once per prefix.
bool Install(const std::wstring& inf, const std::vector<Device>& devices, std::string* why);

// Writes (or, when its has flag is false, removes) the nth device's
// interface values; its present flag is not changed here.
bool SetInterfaceValues(unsigned index, const Device& device);

// The hardware key of the nth device installed (0-based), where the driver
// reads its script; nullptr when there is none. The caller closes it.
HKEY OpenDeviceKey(unsigned index);

// What the nth device answers from now on: ids[i] answers request i + 1 of
// a handle, the last repeating (none: the driver's default ID); from
// request failFrom of a handle on (0: never) the device is gone. Raw bytes:
// an ID may hold any byte and be up to 65535 bytes long.
bool SetScript(unsigned index, const std::vector<std::string>& ids, DWORD failFrom);

// Removes every device of the driver (DIF_REMOVE).
bool RemoveAll(std::string* why);

}  // namespace larkusb
