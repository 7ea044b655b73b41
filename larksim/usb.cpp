// larksim usb: the machine's USB printing interfaces and their device ID
// scripts.
#include <cstdio>
#include <cstdlib>

#include "larksim.h"

namespace larksim {
namespace {

std::string DeviceIdText(const std::string& text) {
    std::string out;
    for (unsigned char c : text) {
        if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        }
    }
    return out;
}

// Port names compare as the interface lookup does, ignoring case.
bool EqualNoCase(const std::u16string& a, const std::u16string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char16_t x = a[i] >= u'a' && a[i] <= u'z' ? a[i] - 32 : a[i];
        char16_t y = b[i] >= u'a' && b[i] <= u'z' ? b[i] - 32 : b[i];
        if (x != y) return false;
    }
    return true;
}

// "3,3,0" as job counts.
bool ParseJobs(const std::string& text, std::vector<DWORD>* jobs) {
    size_t start = 0;
    while (start < text.size()) {
        size_t comma = text.find(',', start);
        if (comma == std::string::npos) comma = text.size();
        long n = 0;
        if (!ParseNumber(text.substr(start, comma - start), 0, 1000000, &n)) return false;
        jobs->push_back(static_cast<DWORD>(n));
        start = comma + 1;
    }
    return !jobs->empty();
}

int Add(const Args& args) {
    Args pos;
    if (!CheckFlags(args, {"--path"}, {"--unplugged"}, &pos)) return 2;
    if (pos.size() != 2) return Usage("usb add <base|-> <number|-> [--path P] [--unplugged]");
    winsim::UsbDevice d;
    d.hasBaseName = pos[0] != "-";
    d.baseName = d.hasBaseName ? winsim::ToUtf16(pos[0]) : u"";
    d.hasPortNumber = pos[1] != "-";
    // "Port Number" is a REG_DWORD: any 32-bit value.
    long number = 0;
    if (d.hasPortNumber && !NumberArgument("the port number", pos[1], 0, 0xFFFFFFFFL, &number)) {
        return 2;
    }
    d.portNumber = static_cast<DWORD>(number);
    d.devicePath = winsim::ToUtf16(Option(args, "--path", ""));
    d.present = !Has(args, "--unplugged");
    int64_t id = winsim::AddUsbDevice(d);
    if (id == 0) return Fail("could not add the USB interface");
    std::printf("USB interface %lld: port %s\n", static_cast<long long>(id),
                winsim::ToUtf8(winsim::UsbPortName(d)).c_str());
    return 0;
}

int Script(const Args& args) {
    Args pos;
    if (!CheckFlags(args, {"--fail-from", "--jobs"}, {}, &pos)) return 2;
    if (pos.size() < 1) {
        return Usage("usb script <port> [<id1> <id2> ...] [--fail-from N] [--jobs J1,J2,...]");
    }
    std::u16string port = winsim::ToUtf16(pos[0]);
    std::vector<std::string> ids(pos.begin() + 1, pos.end());
    long failFrom = 0;
    if (!NumberOption(args, "--fail-from", 0, 1000000, &failFrom)) return 2;
    std::string jobs = Option(args, "--jobs", "");
    std::vector<DWORD> counts;
    if (!jobs.empty() && !ParseJobs(jobs, &counts)) {
        return Usage("--jobs takes counts from 0 to 1000000 like 2,1,0, not '" + jobs + "'");
    }
    if (!winsim::SetUsbScript(port, ids, static_cast<int>(failFrom))) {
        return Fail("no USB interface for " + pos[0]);
    }
    if (!counts.empty()) winsim::SetUsbJobs(port, counts);
    for (const winsim::UsbDevice& d : winsim::UsbDevices()) {
        if (!EqualNoCase(winsim::UsbPortName(d), port)) continue;
        if (!d.present) {
            std::printf(
                "%s is unplugged: the script answers once it is plugged in again (usb plug %s)\n",
                pos[0].c_str(), pos[0].c_str());
        }
        break;
    }
    return 0;
}

int Unplug(const Args& args) {
    if (args.size() != 1) return Usage("usb unplug <port>");
    if (!winsim::UnplugUsb(winsim::ToUtf16(args[0])))
        return Fail("no USB interface for " + args[0]);
    return 0;
}

int Plug(const Args& args) {
    if (args.size() != 1) return Usage("usb plug <port>");
    if (!winsim::PlugUsb(winsim::ToUtf16(args[0]))) return Fail("no USB interface for " + args[0]);
    return 0;
}

int List() {
    for (const winsim::UsbDevice& d : winsim::UsbDevices()) {
        std::printf("%lld %s %s%s fail-from %d\n", static_cast<long long>(d.id),
                    winsim::ToUtf8(winsim::UsbPortName(d)).c_str(),
                    winsim::ToUtf8(d.devicePath).c_str(), d.present ? "" : " (unplugged)",
                    d.failFrom);
        for (size_t i = 0; i < d.deviceIds.size(); ++i) {
            std::printf("  poll %zu%s: %s\n", i + 1, i + 1 == d.deviceIds.size() ? " on" : "",
                        DeviceIdText(d.deviceIds[i]).c_str());
        }
    }
    return 0;
}

}  // namespace

int Usb(const Args& args) {
    if (args.empty()) return Usage("usb add|script|unplug|plug|list ...");
    Args rest(args.begin() + 1, args.end());
    if (args[0] == "add") return Add(rest);
    if (args[0] == "script") return Script(rest);
    if (args[0] == "unplug") return Unplug(rest);
    if (args[0] == "plug") return Plug(rest);
    if (args[0] == "list") return rest.empty() ? List() : Usage("usb list takes no arguments");
    return Usage("usb add|script|unplug|plug|list ...");
}

}  // namespace larksim
