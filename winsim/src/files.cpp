// The C runtime's _wfopen over the machine root. Text mode behaves as the
// Windows runtime's: CR LF reads as LF, Ctrl-Z ends the data on read, and LF
// is written as CR LF. Positions (fseek, ftell) are those of the raw file.
#include <cstdio>
#include <cstring>

#include "internal.h"

namespace {

// Every stream goes through a cookie, binary ones untranslated, so that each
// open file is counted until it is closed.
struct TextStream {
    FILE* raw;
    bool binary;
};

ssize_t TextRead(void* cookie, char* buffer, size_t size) {
    auto* stream = static_cast<TextStream*>(cookie);
    FILE* raw = stream->raw;
    if (stream->binary) return static_cast<ssize_t>(std::fread(buffer, 1, size, raw));
    // A block at a time, CR LF folded to LF in place; a CR that ends the block
    // looks one byte ahead.
    size_t got = std::fread(buffer, 1, size, raw);
    size_t n = 0;
    for (size_t i = 0; i < got; ++i) {
        char c = buffer[i];
        if (c == 0x1A) {
            std::fseek(raw, 0, SEEK_END);  // Ctrl-Z: the data ends here
            break;
        }
        if (c == '\r') {
            if (i + 1 < got) {
                if (buffer[i + 1] == '\n') {
                    c = '\n';
                    ++i;
                }
            } else {
                int next = std::fgetc(raw);
                if (next == '\n') {
                    c = '\n';
                } else if (next != EOF) {
                    std::ungetc(next, raw);
                }
            }
        }
        buffer[n++] = c;
    }
    return static_cast<ssize_t>(n);
}

ssize_t TextWrite(void* cookie, const char* buffer, size_t size) {
    auto* stream = static_cast<TextStream*>(cookie);
    FILE* raw = stream->raw;
    if (stream->binary) {
        size_t n = std::fwrite(buffer, 1, size, raw);
        std::fflush(raw);
        return n == size ? static_cast<ssize_t>(n) : -1;
    }
    for (size_t i = 0; i < size; ++i) {
        if (buffer[i] == '\n' && std::fputc('\r', raw) == EOF) return -1;
        if (std::fputc(buffer[i], raw) == EOF) return -1;
    }
    std::fflush(raw);
    return static_cast<ssize_t>(size);
}

int TextSeek(void* cookie, off64_t* offset, int whence) {
    FILE* raw = static_cast<TextStream*>(cookie)->raw;
    if (std::fseek(raw, static_cast<long>(*offset), whence) != 0) return -1;
    *offset = std::ftell(raw);
    return 0;
}

int TextClose(void* cookie) {
    auto* stream = static_cast<TextStream*>(cookie);
    int rc = std::fclose(stream->raw);
    delete stream;
    winsim::detail::CountDown(winsim::detail::Held::File);
    return rc;
}

}  // namespace

WINSIM_API FILE* _wfopen(const WCHAR* path, const WCHAR* mode) {
    if (path == nullptr || mode == nullptr) return nullptr;
    if (winsim::detail::Faulted("_wfopen")) return nullptr;
    std::string rawMode;
    bool binary = false;
    for (const WCHAR* m = mode; *m != 0; ++m) {
        if (*m == 'b') binary = true;
        if (*m == 'r' || *m == 'w' || *m == 'a' || *m == '+') rawMode += static_cast<char>(*m);
    }
    if (rawMode.empty()) return nullptr;
    rawMode += 'b';
    FILE* raw = std::fopen(winsim::HostPath(path).c_str(), rawMode.c_str());
    if (raw == nullptr) return nullptr;
    cookie_io_functions_t io{TextRead, TextWrite, TextSeek, TextClose};
    auto* stream = new TextStream{raw, binary};
    FILE* text = fopencookie(stream, rawMode.c_str(), io);
    if (text == nullptr) {
        std::fclose(raw);
        delete stream;
        return nullptr;
    }
    winsim::detail::CountUp(winsim::detail::Held::File);
    return text;
}
