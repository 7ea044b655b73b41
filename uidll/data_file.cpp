#include "data_file.h"

#include "driver_devmode.h"
#include "text.h"

namespace {

// The value of the first occurrence of key at or after from: the text after
// the first "=" that follows the key, wherever it is. A key with no "=" after
// it counts as missing.
const WCHAR* FindValue(const WCHAR* from, const WCHAR* key) {
    const WCHAR* at = TextFind(from, key);
    if (at == nullptr) return nullptr;
    const WCHAR* equals = TextFindChar(at + TextLength(key), '=');
    return equals != nullptr ? equals + 1 : nullptr;
}

// Joins every PrinterSettings value after the section start into out
// (capacity units, cut and always terminated once written). out is only
// written when a value is found. Returns the number of values.
int JoinPrinterSettings(const WCHAR* section, WCHAR* out, size_t capacity) {
    int found = 0;
    size_t used = 0;
    const WCHAR* from = section;
    while (from != nullptr) {
        const WCHAR* value = FindValue(from, TEXT("PrinterSettings"));
        if (value == nullptr) break;
        while (*value == ' ') ++value;
        const WCHAR* end = value;
        while (*end >= 0x20) ++end;
        for (const WCHAR* p = value; p < end && used + 1 < capacity; ++p) out[used++] = *p;
        out[used] = 0;
        ++found;
        // The next search starts at the line after the value's line.
        const WCHAR* lineEnd = *end != 0 ? TextFindChar(end, '\n') : nullptr;
        from = lineEnd != nullptr ? lineEnd + 1 : nullptr;
    }
    return found;
}

void ReadResolution(const WCHAR* value, WORD* x, WORD* y) {
    int32_t number = 0;
    const WCHAR* end = nullptr;
    if (!ScanInt(value, &number, &end)) return;
    *x = static_cast<WORD>(number);
    if (*end != ';') return;
    if (ScanInt(end + 1, &number, nullptr)) *y = static_cast<WORD>(number);
}

void ReadWord(const WCHAR* section, const WCHAR* key, WCHAR* out) {
    const WCHAR* value = FindValue(section, key);
    // A longer word is cut to the buffer.
    if (value != nullptr) ScanWord(value, out, kFileNameUnits, nullptr);
}

}  // namespace

void ReadPrinterSettings(const WCHAR* text, WCHAR* settings) {
    TextCopy(settings, kSettingsUnits, TEXT("1000=0;"));
    const WCHAR* section = TextFind(text, TEXT("[DeviceConfig]"));
    if (section == nullptr) return;
    JoinPrinterSettings(section, settings, kSettingsUnits);
}

int ReadInstallValues(const WCHAR* text, InstallValues* values) {
    int ok = 1;
    const WCHAR* device = TextFind(text, TEXT("[DeviceConfig]"));
    const WCHAR* install = TextFind(text, TEXT("[InstallConfig]"));
    if (device != nullptr) {
        const WCHAR* value = FindValue(device, TEXT("MaxJpegFileSize"));
        if (value != nullptr) ScanInt(value, &values->maxJpegFileSize, nullptr);
        value = FindValue(device, TEXT("Resolution"));
        if (value != nullptr) ReadResolution(value, &values->xResolution, &values->yResolution);
        // The joined values can never be longer than the text they come from.
        size_t capacity = TextLength(device) + 1;
        auto joined = HeapAllocZeroed<WCHAR>(capacity * sizeof(WCHAR));
        if (!joined) {
            ok = 0;
        } else if (JoinPrinterSettings(device, joined.get(), capacity) > 0) {
            values->settings = std::move(joined);
        }
    }
    if (install != nullptr) {
        ReadWord(install, TEXT("StatusMonitor"), values->statusMonitor);
        ReadWord(install, TEXT("UIConfigFile"), values->uiConfigFile);
    }
    return ok;
}
