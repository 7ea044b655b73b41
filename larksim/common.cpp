#include <cstdio>

#include "larksim.h"

namespace larksim {

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

bool RequirePrinter(const std::string& name, winsim::PrinterRecord* record) {
    if (winsim::GetPrinterRecord(winsim::ToUtf16(name), record)) return true;
    Fail("unknown printer '" + name + "'");
    return false;
}

}  // namespace larksim
