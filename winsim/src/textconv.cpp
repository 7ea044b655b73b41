// Code page conversions. Invalid UTF-8 becomes U+FFFD, as Windows does when
// no flags are given.
#include "internal.h"

namespace {

// Decodes one UTF-8 sequence at s (n bytes left); returns its length.
int DecodeUtf8(const unsigned char* s, int n, uint32_t* out) {
    unsigned char c = s[0];
    int length;
    uint32_t value;
    if (c < 0x80) {
        *out = c;
        return 1;
    } else if (c >= 0xC2 && c < 0xE0) {
        length = 2;
        value = c & 0x1F;
    } else if (c >= 0xE0 && c < 0xF0) {
        length = 3;
        value = c & 0x0F;
    } else if (c >= 0xF0 && c < 0xF5) {
        length = 4;
        value = c & 0x07;
    } else {
        *out = 0xFFFD;
        return 1;
    }
    for (int i = 1; i < length; ++i) {
        if (i >= n || (s[i] & 0xC0) != 0x80) {
            *out = 0xFFFD;
            return i;
        }
        value = (value << 6) | (s[i] & 0x3F);
    }
    bool overlong = (length == 3 && value < 0x800) || (length == 4 && value < 0x10000);
    if (overlong || value > 0x10FFFF || (value >= 0xD800 && value < 0xE000)) value = 0xFFFD;
    *out = value;
    return length;
}

}  // namespace

WINSIM_API int WINAPI MultiByteToWideChar(UINT codePage, DWORD, LPCSTR text, int bytes, LPWSTR out,
                                          int units) {
    if (text == nullptr || units < 0 || (out == nullptr && units != 0)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (bytes < 0) bytes = static_cast<int>(std::char_traits<char>::length(text)) + 1;
    if (bytes == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const auto* s = reinterpret_cast<const unsigned char*>(text);
    int written = 0;
    auto put = [&](uint32_t unit) {
        if (units != 0 && written >= units) return false;
        if (units != 0) out[written] = static_cast<WCHAR>(unit);
        ++written;
        return true;
    };
    for (int i = 0; i < bytes;) {
        uint32_t cp;
        if (s[i] < 0x80) {
            cp = s[i++];  // ASCII is itself in both code pages
        } else if (codePage == CP_UTF8) {
            i += DecodeUtf8(s + i, bytes - i, &cp);
        } else {
            cp = s[i++];  // the ANSI code page is Latin-1 on this machine
        }
        bool ok = cp < 0x10000 ? put(cp)
                               : put(0xD800 + ((cp - 0x10000) >> 10)) &&
                                     put(0xDC00 + ((cp - 0x10000) & 0x3FF));
        if (!ok) {
            SetLastError(ERROR_INSUFFICIENT_BUFFER);
            return 0;
        }
    }
    return written;
}
