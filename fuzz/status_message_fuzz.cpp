// The printer data value StatusMessage as any bytes: the monitor's reading
// and its backslash-n rule, compared with the rule applied here.
#include <cstring>

#include "fuzz_support.h"
#include "status_message.h"

namespace {

std::u16string Expected(const uint8_t* data, size_t size) {
    std::u16string text;
    // The spooler keeps the bytes given; the reader's buffer is zero-filled,
    // so an odd last byte is a unit of its own.
    for (size_t i = 0; i < size; i += 2) {
        char16_t unit = static_cast<char16_t>(data[i] | (i + 1 < size ? data[i + 1] << 8 : 0));
        if (unit == 0) break;
        text += unit;
    }
    for (size_t i = 0; i + 1 < text.size(); ++i) {
        if (text[i] == u'\\' && text[i + 1] == u'n') {
            text[i] = u'\r';
            text[i + 1] = u'\n';
            ++i;
        }
    }
    return text;
}

HANDLE AdminPrinter() {
    static HANDLE h = [] {
        std::u16string name = larkfuzz::kPrinter;
        PRINTER_DEFAULTSW defaults = {nullptr, nullptr, PRINTER_ACCESS_ADMINISTER};
        HANDLE opened = nullptr;
        larkfuzz::Require(OpenPrinterW(name.data(), &opened, &defaults) != FALSE, "opened");
        return opened;
    }();
    return h;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace larkfuzz;
    SetUpMachine();
    HANDLE admin = AdminPrinter();
    WCHAR value[] = TEXT("StatusMessage");
    std::vector<uint8_t> bytes(data, data + size);
    Require(SetPrinterDataW(admin, value, REG_SZ, bytes.empty() ? nullptr : bytes.data(),
                            static_cast<DWORD>(size)) == ERROR_SUCCESS,
            "value stored");
    winsim::Counts before = winsim::CurrentCounts();
    LPWSTR text = PrepareStatusMessage(Printer());
    Require(text != nullptr, "a text");
    if (text != DefaultStatusMessage) {
        Require(std::u16string(text) == Expected(data, size), "backslash-n rule");
    }
    ReleaseStatusMessage(text);
    ExpectNothingHeld(before, "status message");
    return 0;
}
