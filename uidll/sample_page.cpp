#include "sample_page.h"

#include <cstring>

#include "scoped.h"

namespace {

constexpr size_t kLineBytes = 256;

// The file's lines are 8-bit text; a byte of 0x80 or above counts as below
// 32 here, as the data file's readers have always compared signed bytes.
bool BelowSpace(char byte) { return static_cast<signed char>(byte) < 32; }

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The sample line of the first [DeviceConfig] section that has one, into
// line; false when the file has none.
bool FindSampleLine(FILE* file, char* line) {
    while (std::fgets(line, kLineBytes, file) != nullptr) {
        if (std::strncmp(line, "[DeviceConfig]", 14) != 0) continue;
        while (std::fgets(line, kLineBytes, file) != nullptr) {
            if (BelowSpace(line[0])) break;
            if (std::strncmp(line, "PrintSamplePage", 15) == 0) return true;
        }
    }
    return false;
}

// Decodes the value of the sample line into out (kLineBytes); false when the
// line has no '=' after its key. A "\x" without two hex digits after it
// stays as it stands, so nothing past the value is read.
bool DecodeSampleValue(const char* line, BYTE* out, DWORD* bytes) {
    const char* value = std::strchr(line + 15, '=');
    if (value == nullptr) return false;
    ++value;
    while (*value == ' ') ++value;
    const char* end = value + std::strlen(value);
    while (end > value && BelowSpace(end[-1])) --end;
    DWORD n = 0;
    for (const char* p = value; p < end;) {
        if (end - p >= 4 && p[0] == '\\' && p[1] == 'x' && HexDigit(p[2]) >= 0 &&
            HexDigit(p[3]) >= 0) {
            out[n++] = static_cast<BYTE>(HexDigit(p[2]) * 16 + HexDigit(p[3]));
            p += 4;
        } else {
            out[n++] = static_cast<BYTE>(*p++);
        }
    }
    *bytes = n;
    return true;
}

void SendRawJob(HANDLE printer, BYTE* data, DWORD bytes) {
    char docName[] = "Sample Page";
    char datatype[] = "RAW";
    DOC_INFO_1A doc = {docName, nullptr, datatype};
    if (StartDocPrinterA(printer, 1, reinterpret_cast<LPBYTE>(&doc)) == 0) return;
    if (StartPagePrinter(printer)) {
        DWORD written = 0;
        // A short or failed write is not retried: the page is ended as usual.
        (void)WritePrinter(printer, data, bytes, &written);
        EndPagePrinter(printer);
    }
    EndDocPrinter(printer);
}

}  // namespace

int SendSamplePage(HANDLE printer, FILE* dataFile) {
    ScopedFile file(dataFile);
    if (!file) return 1;
    char line[kLineBytes] = {};
    if (!FindSampleLine(file.get(), line)) return 1;
    file.reset();
    BYTE data[kLineBytes] = {};
    DWORD bytes = 0;
    // A sample line without '=' has no value to send: no job.
    if (DecodeSampleValue(line, data, &bytes)) SendRawJob(printer, data, bytes);
    return 1;
}
