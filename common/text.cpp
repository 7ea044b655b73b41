#include "text.h"

#include <clocale>
#include <cstdarg>
#include <cstdlib>

size_t TextLength(const WCHAR* text) {
    size_t n = 0;
    while (text[n] != 0) ++n;
    return n;
}

size_t TextLengthBounded(const WCHAR* text, size_t max) {
    size_t n = 0;
    while (n < max && text[n] != 0) ++n;
    return n;
}

void TextCopy(WCHAR* out, size_t capacity, const WCHAR* text) {
    if (capacity == 0) return;
    size_t n = 0;
    while (n + 1 < capacity && text[n] != 0) {
        out[n] = text[n];
        ++n;
    }
    out[n] = 0;
}

void TextCopyCount(WCHAR* out, const WCHAR* text, size_t count) {
    size_t n = 0;
    while (n < count && text[n] != 0) {
        out[n] = text[n];
        ++n;
    }
    out[n] = 0;
}

void TextAppend(WCHAR* out, size_t capacity, const WCHAR* text) {
    size_t used = TextLengthBounded(out, capacity);
    if (used >= capacity) return;
    TextCopy(out + used, capacity - used, text);
}

const WCHAR* TextFind(const WCHAR* text, const WCHAR* needle) {
    if (needle[0] == 0) return text;
    for (; *text != 0; ++text) {
        size_t i = 0;
        while (needle[i] != 0 && text[i] == needle[i]) ++i;
        if (needle[i] == 0) return text;
    }
    return nullptr;
}

const WCHAR* TextFindChar(const WCHAR* text, WCHAR ch) {
    for (; *text != 0; ++text) {
        if (*text == ch) return text;
    }
    return nullptr;
}

bool TextEqual(const WCHAR* a, const WCHAR* b) {
    while (*a != 0 && *a == *b) {
        ++a;
        ++b;
    }
    return *a == *b;
}

static WCHAR FoldAscii(WCHAR ch) {
    return (ch >= 'A' && ch <= 'Z') ? static_cast<WCHAR>(ch - 'A' + 'a') : ch;
}

bool TextEqualNoCase(const WCHAR* a, const WCHAR* b) {
    while (*a != 0 && FoldAscii(*a) == FoldAscii(*b)) {
        ++a;
        ++b;
    }
    return FoldAscii(*a) == FoldAscii(*b);
}

bool TextStartsWith(const WCHAR* text, const WCHAR* prefix) {
    while (*prefix != 0) {
        if (*text != *prefix) return false;
        ++text;
        ++prefix;
    }
    return true;
}

namespace {

struct Sink {
    WCHAR* out;
    size_t capacity;
    size_t used;
    void Put(WCHAR ch) {
        if (used + 1 < capacity) out[used++] = ch;
    }
};

void PutNumber(Sink& sink, uint64_t magnitude, bool negative, unsigned base, bool upper, int width,
               bool zeroPad) {
    char digits[32];
    int n = 0;
    do {
        unsigned d = static_cast<unsigned>(magnitude % base);
        digits[n++] = static_cast<char>(d < 10 ? '0' + d : (upper ? 'A' : 'a') + d - 10);
        magnitude /= base;
    } while (magnitude != 0);
    int length = n + (negative ? 1 : 0);
    if (!zeroPad) {
        for (int i = length; i < width; ++i) sink.Put(' ');
    }
    if (negative) sink.Put('-');
    if (zeroPad) {
        for (int i = length; i < width; ++i) sink.Put('0');
    }
    while (n > 0) sink.Put(static_cast<WCHAR>(digits[--n]));
}

}  // namespace

size_t TextFormat(WCHAR* out, size_t capacity, const WCHAR* format, ...) {
    if (capacity == 0) return 0;
    Sink sink{out, capacity, 0};
    va_list args;
    va_start(args, format);
    for (const WCHAR* p = format; *p != 0; ++p) {
        if (*p != '%') {
            sink.Put(*p);
            continue;
        }
        ++p;
        bool zeroPad = false;
        int width = 0;
        if (*p == '0') {
            zeroPad = true;
            ++p;
        }
        while (*p >= '0' && *p <= '9') width = width * 10 + (*p++ - '0');
        switch (*p) {
            case 's': {
                const WCHAR* s = va_arg(args, const WCHAR*);
                if (s == nullptr) s = TEXT("(null)");
                while (*s != 0) sink.Put(*s++);
                break;
            }
            case 'd': {
                int v = va_arg(args, int);
                uint64_t m = v < 0 ? static_cast<uint64_t>(-static_cast<int64_t>(v))
                                   : static_cast<uint64_t>(v);
                PutNumber(sink, m, v < 0, 10, false, width, zeroPad);
                break;
            }
            case 'u':
                PutNumber(sink, va_arg(args, unsigned), false, 10, false, width, zeroPad);
                break;
            case 'x':
            case 'X':
                PutNumber(sink, va_arg(args, unsigned), false, 16, *p == 'X', width, zeroPad);
                break;
            case '%':
                sink.Put('%');
                break;
            case 0:
                --p;  // a lone % at the end: stop at the terminator
                break;
            default:
                sink.Put('%');
                sink.Put(*p);
                break;
        }
    }
    va_end(args);
    out[sink.used] = 0;
    return sink.used;
}

bool IsScanSpace(WCHAR ch) { return ch == ' ' || (ch >= 0x09 && ch <= 0x0D); }

static const WCHAR* SkipSpace(const WCHAR* text) {
    while (IsScanSpace(*text)) ++text;
    return text;
}

bool ScanInt(const WCHAR* text, int32_t* value, const WCHAR** end) {
    const WCHAR* p = SkipSpace(text);
    bool negative = false;
    if (*p == '+' || *p == '-') {
        negative = *p == '-';
        ++p;
    }
    if (*p < '0' || *p > '9') return false;
    uint32_t magnitude = 0;
    while (*p >= '0' && *p <= '9') magnitude = magnitude * 10u + static_cast<uint32_t>(*p++ - '0');
    *value = static_cast<int32_t>(negative ? 0u - magnitude : magnitude);
    if (end != nullptr) *end = p;
    return true;
}

// The files always write "." as the decimal point, but strtof follows the C
// locale of the host application, which may use ",". The run is rewritten to
// read under that locale as it reads under "C": the locale's own point ends
// the number, a "." becomes the locale's point.
static void UseLocaleDecimalPoint(char* narrow) {
    const char* point = std::localeconv()->decimal_point;
    if (point == nullptr || point[0] == 0 || point[1] != 0 || point[0] == '.') return;
    for (char* c = narrow; *c != 0; ++c) {
        if (*c == point[0]) {
            *c = 0;
            break;
        }
    }
    for (char* c = narrow; *c != 0; ++c) {
        if (*c == '.') *c = point[0];
    }
}

// The common plain decimal (an optional sign, digits with at most one ".",
// no letter after it, shorter than strtof's run) with at most 24 bits of
// digits and ten after the point: both the digits and the power of ten are exact floats,
// so one float division is the correctly rounded value, the one strtof
// gives. Anything else is strtof's.
static bool ScanPlainFloat(const WCHAR* p, float* value, const WCHAR** end) {
    const WCHAR* at = p;
    bool negative = false;
    if (*at == '+' || *at == '-') negative = *at++ == '-';
    uint32_t digits = 0;
    int fraction = -1;  // digits after the point; -1 while there is no point
    bool any = false;
    for (;; ++at) {
        if (*at >= '0' && *at <= '9') {
            digits = digits * 10u + static_cast<uint32_t>(*at - '0');
            if (digits > (1u << 24)) return false;
            if (fraction >= 0 && ++fraction > 10) return false;
            any = true;
        } else if (*at == '.' && fraction < 0) {
            fraction = 0;
        } else {
            break;
        }
    }
    // strtof reads at most the first 79 characters of a run.
    if (!any || at - p >= 79 || (*at >= 'A' && *at <= 'Z') || (*at >= 'a' && *at <= 'z')) {
        return false;
    }
    static const float kPowers[] = {1e0f, 1e1f, 1e2f, 1e3f, 1e4f, 1e5f,
                                    1e6f, 1e7f, 1e8f, 1e9f, 1e10f};
    float v = static_cast<float>(digits) / kPowers[fraction > 0 ? fraction : 0];
    *value = negative ? -v : v;
    if (end != nullptr) *end = at;
    return true;
}

bool ScanFloat(const WCHAR* text, float* value, const WCHAR** end) {
    const WCHAR* p = SkipSpace(text);
    if (ScanPlainFloat(p, value, end)) return true;
    // strtof gives the conversion's syntax and rounding; it needs bytes, so
    // the candidate run is narrowed first. The files' number slots are far
    // shorter than this run; a longer number is read from its first 79
    // characters.
    char narrow[80];
    size_t n = 0;
    while (n + 1 < sizeof narrow && p[n] != 0 && p[n] < 0x80 && !IsScanSpace(p[n])) {
        narrow[n] = static_cast<char>(p[n]);
        ++n;
    }
    narrow[n] = 0;
    UseLocaleDecimalPoint(narrow);
    char* stop = nullptr;
    float v = std::strtof(narrow, &stop);
    if (stop == narrow) return false;
    *value = v;
    if (end != nullptr) *end = p + (stop - narrow);
    return true;
}

bool ScanWord(const WCHAR* text, WCHAR* out, size_t capacity, const WCHAR** end) {
    const WCHAR* p = SkipSpace(text);
    if (*p == 0) return false;
    size_t n = 0;
    while (*p != 0 && !IsScanSpace(*p)) {
        if (n + 1 < capacity) out[n++] = *p;
        ++p;
    }
    if (capacity > 0) out[n] = 0;
    if (end != nullptr) *end = p;
    return true;
}

void TextFromBytes(WCHAR* out, size_t capacity, const char* bytes) {
    if (capacity == 0) return;
    size_t n = 0;
    while (n + 1 < capacity && bytes[n] != 0) {
        out[n] = static_cast<WCHAR>(static_cast<unsigned char>(bytes[n]));
        ++n;
    }
    out[n] = 0;
}
