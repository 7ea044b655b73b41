#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "driver_devmode.h"

#include "larksim.h"

namespace larksim {

// The application starts from the printer's settings, as it would after
// asking for the document properties, and changes what the user chose.
std::vector<uint8_t> ApplicationDevmode(const winsim::PrinterRecord& printer, bool landscape,
                                        int paper) {
    std::vector<uint8_t> bytes = winsim::DefaultDevmode(printer);
    if (bytes.size() < sizeof(DEVMODEW)) bytes.assign(sizeof(DriverDevmode), 0);
    auto* dm = reinterpret_cast<DEVMODEW*>(bytes.data());
    if (dm->dmSize == 0) dm->dmSize = sizeof(DEVMODEW);
    dm->dmFields = 0;
    ChooseOnDevmode(&bytes, landscape, paper);
    return bytes;
}

void ChooseOnDevmode(std::vector<uint8_t>* devmode, bool landscape, int paper) {
    auto* dm = reinterpret_cast<DEVMODEW*>(devmode->data());
    if (landscape) {
        dm->dmFields |= DM_ORIENTATION;
        dm->dmOrientation = DMORIENT_LANDSCAPE;
    }
    if (paper >= 0) {
        dm->dmFields |= DM_PAPERSIZE;
        dm->dmPaperSize = static_cast<short>(paper);
    }
}

int Usage(const std::string& message) {
    std::fprintf(stderr, "larksim: %s\n", message.c_str());
    return 2;
}

int Fail(const std::string& message) {
    std::fprintf(stderr, "larksim: %s\n", message.c_str());
    return 1;
}

std::string Option(const Args& args, const std::string& name, const std::string& fallback) {
    for (size_t i = 0; i + 1 < args.size(); ++i) {
        if (args[i] == name) return args[i + 1];
    }
    return fallback;
}

bool CheckFlags(const Args& args, const std::vector<std::string>& withValue,
                const std::vector<std::string>& switches, Args* positional) {
    auto among = [](const std::vector<std::string>& list, const std::string& word) {
        return std::find(list.begin(), list.end(), word) != list.end();
    };
    Args words;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (among(withValue, a)) {
            if (i + 1 >= args.size()) return Usage(a + " needs a value") == 0;
            ++i;
        } else if (among(switches, a)) {
            continue;
        } else if (a.rfind("--", 0) == 0) {
            return Usage("unknown option '" + a + "'") == 0;
        } else {
            words.push_back(a);
        }
    }
    if (positional != nullptr) *positional = words;
    return true;
}

bool Has(const Args& args, const std::string& flag) {
    return std::find(args.begin(), args.end(), flag) != args.end();
}

bool Exclusive(const Args& args, const std::vector<std::string>& flags) {
    std::string first;
    for (const auto& f : flags) {
        if (!Has(args, f)) continue;
        if (!first.empty()) return Usage(first + " and " + f + " cannot be given together") == 0;
        first = f;
    }
    return true;
}

Args Positional(const Args& args, const std::vector<std::string>& optionsWithValues) {
    Args out;
    for (size_t i = 0; i < args.size(); ++i) {
        bool takesValue = false;
        for (const auto& o : optionsWithValues) takesValue = takesValue || args[i] == o;
        if (takesValue) {
            ++i;
        } else if (args[i].rfind("--", 0) != 0) {
            out.push_back(args[i]);
        }
    }
    return out;
}

std::string Text(const WCHAR* units, size_t max) {
    std::u16string s;
    for (size_t i = 0; i < max && units[i] != 0; ++i) s += units[i];
    return winsim::ToUtf8(s);
}

std::string Printable(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\r') {
            out += "\\r";
        } else if (c == '\n') {
            out += "\\n";
        } else {
            out += c;
        }
    }
    return out;
}

std::string Printable(const std::u16string& text) { return Printable(winsim::ToUtf8(text)); }

const char* DocumentEventName(int64_t result) {
    switch (result) {
        case DOCUMENTEVENT_SUCCESS:
            return "DOCUMENTEVENT_SUCCESS";
        case DOCUMENTEVENT_UNSUPPORTED:
            return "DOCUMENTEVENT_UNSUPPORTED";
        case DOCUMENTEVENT_FAILURE:
            return "DOCUMENTEVENT_FAILURE";
        default:
            return "an answer of no meaning";
    }
}

const char* PortStatusName(DWORD status) {
    switch (status) {
        case 0:
            return "none";
        case PORT_STATUS_OFFLINE:
            return "offline";
        case PORT_STATUS_PAPER_JAM:
            return "paper jam";
        case PORT_STATUS_PAPER_OUT:
            return "paper out";
        case PORT_STATUS_DOOR_OPEN:
            return "door open";
        case PORT_STATUS_USER_INTERVENTION:
            return "user intervention";
        default:
            return "other";
    }
}

bool RequirePrinter(const std::string& name, winsim::PrinterRecord* record) {
    if (winsim::GetPrinterRecord(winsim::ToUtf16(name), record)) return true;
    Fail("unknown printer '" + name + "'");
    return false;
}

bool ParseNumber(const std::string& text, long min, long max, long* value) {
    errno = 0;
    char* end = nullptr;
    long n = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != 0 || errno != 0 || n < min || n > max) return false;
    *value = n;
    return true;
}

bool NumberArgument(const std::string& what, const std::string& text, long min, long max,
                    long* value) {
    if (ParseNumber(text, min, max, value)) return true;
    Usage(what + " takes a whole number from " + std::to_string(min) + " to " +
          std::to_string(max) + ", not '" + text + "'");
    return false;
}

bool NumberOption(const Args& args, const std::string& name, long min, long max, long* value) {
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] != name) continue;
        if (i + 1 >= args.size()) {
            Usage(name + " needs a number");
            return false;
        }
        if (!NumberArgument(name, args[i + 1], min, max, value)) return false;
    }
    return true;
}

}  // namespace larksim
