#include "conformance.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "adapter.h"
#include "driver_devmode.h"

namespace conformance {

std::vector<Table>& Tables() {
    static std::vector<Table> tables;
    return tables;
}

int RegisterTable(const char* name, TableFn run) {
    Tables().push_back({name, run});
    return static_cast<int>(Tables().size());
}

std::vector<Coverage>& Coverages() {
    static std::vector<Coverage> coverages;
    return coverages;
}

int RegisterCoverage(const char* functions, Cover how, const char* why) {
    Coverages().push_back({functions, how, why});
    return static_cast<int>(Coverages().size());
}

void PrintCoverage() {
    for (const Coverage& c : Coverages()) {
        const char* how = c.how == Cover::Rows         ? "rows"
                          : c.how == Cover::WinsimRows ? "winsim"
                                                       : "none";
        std::string names = c.functions;
        for (size_t at = 0; at < names.size();) {
            size_t end = names.find(' ', at);
            if (end == std::string::npos) end = names.size();
            if (end > at) {
                std::printf("%s %s", how, names.substr(at, end - at).c_str());
                if (c.why != nullptr) std::printf(": %s", c.why);
                std::printf("\n");
            }
            at = end + 1;
        }
    }
}

const char* const kHoldingKinds[] = {
    "threads", "windows",       "processes",   "heap blocks",   "printer handles",
    "handles", "registry keys", "device sets", "global blocks", "local blocks",
    "files",   "strings",       "monikers"};
const size_t kHoldingKindCount = sizeof kHoldingKinds / sizeof kHoldingKinds[0];

long Held(const char* what) {
    std::vector<Holding> now;
    Holdings(&now);
    for (const Holding& h : now) {
        if (std::strcmp(h.what, what) == 0) return h.count;
    }
    return -1;
}

void PrintUncountedKinds() {
    std::vector<Holding> counted;
    Holdings(&counted);
    std::string uncounted;
    for (size_t i = 0; i < kHoldingKindCount; ++i) {
        bool found = false;
        for (const Holding& h : counted)
            found = found || std::strcmp(h.what, kHoldingKinds[i]) == 0;
        if (!found) uncounted += std::string(uncounted.empty() ? "" : ", ") + kHoldingKinds[i];
    }
    if (uncounted.empty()) return;
    std::printf("held at each table's end, not checked on %s: %s (not counted there)\n",
                PlatformName(), uncounted.c_str());
}

bool Context::Counted(long count, const char* what) {
    if (count >= 0) return true;
    for (const std::string& named : notChecked_) {
        if (named == what) return false;
    }
    notChecked_.push_back(what);
    ++totals.notChecked;
    std::printf("  [%s] %s: not checked on %s: %s (not counted there)\n", table.c_str(),
                row_.c_str(), PlatformName(), what);
    std::fflush(stdout);
    return false;
}

bool Context::OnWine() const { return ThisPlatform() == Platform::Wine; }

bool Context::Begin(const char* row, Where where) {
    row_ = row;
    where_ = where;
    notChecked_.clear();
    if (OnWine() && where.winsimOnly != nullptr) {
        ++tableSkipped;
        ++totals.skipped;
        return false;
    }
    ++tableRows;
    ++totals.rows;
    if (where.winsimOnly != nullptr) {
        ++tableWinsimOnly;
        ++totals.winsimOnly;
    }
    if (where.wineDiffers != nullptr) {
        ++tableWine;
        ++totals.wineDiffers;
    }
    return true;
}

void Context::Failed(const std::string& what, const char* file, int line) {
    ++totals.failed;
    std::string where = file;
    size_t slash = where.find_last_of("/\\");
    if (slash != std::string::npos) where.erase(0, slash + 1);
    failures.push_back("[" + table + "] " + (row_.empty() ? "(set-up)" : row_) + ": " + what +
                       " (" + where + ":" + std::to_string(line) + ")");
}

bool Context::Check(bool ok, const char* file, int line, const char* text) {
    if (ok) {
        ++totals.passed;
    } else {
        Failed(std::string("expected ") + text, file, line);
    }
    return ok;
}

bool Context::CheckEq(bool ok, long long a, long long b, const char* file, int line, const char* ta,
                      const char* tb) {
    if (ok) {
        ++totals.passed;
        return true;
    }
    char values[96];
    std::snprintf(values, sizeof values, " (%lld vs %lld, 0x%llx vs 0x%llx)", a, b,
                  static_cast<unsigned long long>(a), static_cast<unsigned long long>(b));
    Failed(std::string(ta) + " == " + tb + values, file, line);
    return false;
}

bool Context::CheckText(const WCHAR* a, const WCHAR* b, const char* file, int line, const char* ta,
                        const char* tb) {
    bool ok = a != nullptr && b != nullptr;
    for (size_t i = 0; ok; ++i) {
        if (a[i] != b[i]) ok = false;
        if (a[i] == 0 || b[i] == 0) break;
    }
    if (ok) {
        ++totals.passed;
        return true;
    }
    Failed(std::string(ta) + " == " + tb + " (\"" + Narrow(a) + "\" vs \"" + Narrow(b) + "\")",
           file, line);
    return false;
}

bool Context::CheckText(const WCHAR* a, const char* utf8, const char* file, int line,
                        const char* ta, const char* tb) {
    std::basic_string<WCHAR> b = Wide(utf8);
    return CheckText(a, b.c_str(), file, line, ta, tb);
}

bool Context::CheckBytes(const std::string& a, const std::string& b, const char* file, int line,
                         const char* ta, const char* tb) {
    if (a == b) {
        ++totals.passed;
        return true;
    }
    auto shown = [](const std::string& s) {
        std::string out;
        for (unsigned char c : s) {
            char hex[8];
            std::snprintf(hex, sizeof hex, c >= 0x20 && c < 0x7f ? "%c" : "\\x%02x", c);
            out += hex;
        }
        return out;
    };
    Failed(std::string(ta) + " == " + tb + " (\"" + shown(a) + "\" vs \"" + shown(b) + "\")", file,
           line);
    return false;
}

void Context::Fail(const std::string& why) {
    std::string row = row_;
    row_.clear();
    Failed(why, "", 0);
    row_ = row;
}

void Context::Note(const char* format, ...) {
    char text[512];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(text, sizeof text, format, arguments);
    va_end(arguments);
    std::printf("  [%s] %s: %s\n", table.c_str(), row_.c_str(), text);
    std::fflush(stdout);
}

bool ReadFileBytes(const WCHAR* path, std::string* bytes) {
    FILE* f = _wfopen(path, TEXT("rb"));
    if (f == nullptr) return false;
    char buffer[8192];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) bytes->append(buffer, n);
    std::fclose(f);
    return true;
}

std::basic_string<WCHAR> Wide(const char* utf8) {
    std::basic_string<WCHAR> out;
    const auto* s = reinterpret_cast<const unsigned char*>(utf8);
    while (s != nullptr && *s != 0) {
        uint32_t cp = *s++;
        int more = cp >= 0xF0 ? 3 : cp >= 0xE0 ? 2 : cp >= 0xC0 ? 1 : 0;
        if (more > 0) cp &= 0x3F >> more;
        for (; more > 0 && (*s & 0xC0) == 0x80; --more) cp = (cp << 6) | (*s++ & 0x3F);
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out += static_cast<WCHAR>(0xD800 + (cp >> 10));
            out += static_cast<WCHAR>(0xDC00 + (cp & 0x3FF));
        } else {
            out += static_cast<WCHAR>(cp);
        }
    }
    return out;
}

std::string Narrow(const WCHAR* text, size_t max) {
    if (text == nullptr) return "(null)";
    std::string out;
    for (size_t i = 0; i < max && text[i] != 0; ++i) {
        uint32_t cp = static_cast<uint16_t>(text[i]);
        if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < max && text[i + 1] >= 0xDC00 &&
            text[i + 1] < 0xE000) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (static_cast<uint16_t>(text[++i]) - 0xDC00);
        }
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | (cp >> 6));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += static_cast<char>(0xE0 | (cp >> 12));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (cp >> 18));
            out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }
    return out;
}

std::string Narrow(const WCHAR* text) { return Narrow(text, SIZE_MAX); }

std::basic_string<WCHAR> ModuleFileName(HMODULE module) {
    WCHAR path[MAX_PATH] = {};
    DWORD n = module != nullptr ? GetModuleFileNameW(module, path, MAX_PATH) : 0;
    return n > 0 && n < MAX_PATH ? std::basic_string<WCHAR>(path) : std::basic_string<WCHAR>();
}

bool StoreDevmodeNaming(HANDLE printer, const std::string& stored,
                        const std::basic_string<WCHAR>& name) {
    if (stored.size() < sizeof(DriverDevmode) || name.size() >= kPrinterNameUnits) return false;
    std::string devmode = stored;
    auto* record = reinterpret_cast<DriverDevmode*>(devmode.data());
    std::memset(record->priv.PrinterName, 0, sizeof record->priv.PrinterName);
    std::memcpy(record->priv.PrinterName, name.data(), name.size() * sizeof(WCHAR));
    PRINTER_INFO_9W info = {&record->dm};
    return SetPrinterW(printer, 9, reinterpret_cast<LPBYTE>(&info), 0) != FALSE;
}

}  // namespace conformance
