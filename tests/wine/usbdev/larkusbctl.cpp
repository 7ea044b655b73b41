// larkusbctl: the Wine tests' USB printing class device from the command line.
//   larkusbctl install <larkusb.inf>        the fixture's devices (USB001, USB002, absent USB003)
//   larkusbctl script <n> <fail-from> [<hex bytes>...]   what device n answers from now on
//   larkusbctl remove                       every device of the driver
// Exit code 0 on success; the reason of a failure on standard output.
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>

#include "usb_control.h"

namespace {

bool FromHex(const wchar_t* text, std::string* bytes) {
    bytes->clear();
    const size_t n = std::wcslen(text);
    if (n % 2 != 0) return false;
    for (size_t i = 0; i < n; i += 2) {
        wchar_t pair[3] = {text[i], text[i + 1], 0};
        wchar_t* end = nullptr;
        unsigned long v = std::wcstoul(pair, &end, 16);
        if (end != pair + 2) return false;
        bytes->push_back(static_cast<char>(v));
    }
    return true;
}

int Usage() {
    std::printf("usage: larkusbctl install <inf> | script <n> <fail-from> [<hex>...] | remove\n");
    return 2;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) return Usage();
    const std::wstring command = argv[1];
    std::string why;
    if (command == L"install" && argc == 3) {
        const DWORD start = GetTickCount();
        if (!larkusb::Install(argv[2], larkusb::FixtureDevices(), &why)) {
            std::printf("larkusbctl install: %s\n", why.c_str());
            return 1;
        }
        std::printf("larkusbctl install: %zu devices in %lu ms\n", larkusb::FixtureDevices().size(),
                    GetTickCount() - start);
        return 0;
    }
    if (command == L"script" && argc >= 4) {
        std::vector<std::string> ids;
        for (int i = 4; i < argc; ++i) {
            std::string bytes;
            if (!FromHex(argv[i], &bytes)) return Usage();
            ids.push_back(bytes);
        }
        const unsigned index = static_cast<unsigned>(std::wcstoul(argv[2], nullptr, 10));
        const DWORD failFrom = static_cast<DWORD>(std::wcstoul(argv[3], nullptr, 10));
        if (!larkusb::SetScript(index, ids, failFrom)) {
            std::printf("larkusbctl script: device %u has no key\n", index);
            return 1;
        }
        return 0;
    }
    if (command == L"remove" && argc == 2) {
        if (!larkusb::RemoveAll(&why)) {
            std::printf("larkusbctl remove: %s\n", why.c_str());
            return 1;
        }
        return 0;
    }
    return Usage();
}
