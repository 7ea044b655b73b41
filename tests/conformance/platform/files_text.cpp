// Files and text as the driver's readers and the monitor's log rely on
// them: the C runtime's _wfopen in text mode (CR LF read as LF, LF written
// as CR LF), UTF-8 decoded with code page 65001 and no flags, and the
// system's language, time and version.
#include <chrono>
#include <cstdio>
#include <ctime>
#include <string>

#include "adapter.h"
#include "conformance.h"

namespace {

constexpr DWORD kSentinel = 0xdeadbeef;

std::basic_string<WCHAR> InFolder(const char* name) {
    return conformance::DriverFolder() + conformance::Wide(name);
}

std::string ReadAll(const std::basic_string<WCHAR>& path, const char* mode) {
    std::string bytes;
    FILE* f = _wfopen(path.c_str(), conformance::Wide(mode).c_str());
    if (f == nullptr) return "(not opened)";
    int c;
    while ((c = std::fgetc(f)) != EOF) bytes += static_cast<char>(c);
    std::fclose(f);
    return bytes;
}

}  // namespace

CONFORMANCE_COVERS(Rows,
                   "_wfopen MultiByteToWideChar GetSystemDefaultLangID GetSystemTime GetVersionExW",
                   nullptr);

CONFORMANCE_TABLE(TextFiles, "text-mode files") {
    if (ctx.Begin("\"r\": CR LF reads as LF, a lone CR stays, Ctrl-Z ends the data")) {
        conformance::WriteDriverFile("lark-text.ini", std::string("a\r\nb\rc\r\n\x1a"
                                                                  "after"));
        // The path in other letters: the file system ignores case.
        std::basic_string<WCHAR> path = InFolder("LARK-Text.INI");
        for (WCHAR& c : path) {
            if (c >= 'a' && c <= 'z') c = static_cast<WCHAR>(c - 'a' + 'A');
        }
        FILE* f = _wfopen(path.c_str(), TEXT("r"));
        if (ROW_CHECK(f != nullptr)) {
            ROW_EQ(std::fseek(f, 0, SEEK_END), 0);
            ROW_EQ(std::ftell(f), 14L);  // the raw file's position, as the loader sizes it
            std::fseek(f, 0, SEEK_SET);
            char buffer[32] = {};
            size_t n = std::fread(buffer, 1, sizeof buffer, f);
            std::fclose(f);
            ROW_BYTES(std::string(buffer, n), std::string("a\nb\rc\n"));
        }
        ROW_BYTES(ReadAll(InFolder("lark-text.ini"), "rb"), std::string("a\r\nb\rc\r\n\x1a"
                                                                        "after"));
        conformance::RemoveDriverFile("lark-text.ini");
    }
    if (ctx.Begin("\"rt\": CR LF pairs across the stream's blocks")) {
        // Lines of every length around the stream's block size: some CR LF
        // pair falls across each boundary, whatever the block.
        std::string raw, expected;
        for (int length = 1; raw.size() < 40000; length = length % 97 + 1) {
            raw += std::string(static_cast<size_t>(length), 'x') + "\r\n";
            expected += std::string(static_cast<size_t>(length), 'x') + "\n";
        }
        raw += "\rlast";
        expected += "\rlast";
        conformance::WriteDriverFile("lark-big.txt", raw);
        ROW_BYTES(ReadAll(InFolder("lark-big.txt"), "rt"), expected);
        conformance::RemoveDriverFile("lark-big.txt");
    }
    if (ctx.Begin("\"a\": appends, each LF written as CR LF")) {
        std::basic_string<WCHAR> path = InFolder("lark-log.txt");
        for (const char* line : {"line", "two\n"}) {
            FILE* f = _wfopen(path.c_str(), TEXT("a"));
            if (!ROW_CHECK(f != nullptr)) break;
            std::fprintf(f, "%s\n", line);
            std::fclose(f);
        }
        ROW_BYTES(ReadAll(path, "rb"), std::string("line\r\ntwo\r\n\r\n"));
        conformance::RemoveDriverFile("lark-log.txt");
    }
    if (ctx.Begin("\"a\" in a folder that is not there: none, and no folder made")) {
        ROW_CHECK(_wfopen(InFolder("larknofolder\\log.txt").c_str(), TEXT("a")) == nullptr);
        ROW_CHECK(_wfopen(InFolder("larknofolder\\log.txt").c_str(), TEXT("r")) == nullptr);
        ROW_BYTES(ReadAll(InFolder("larknofolder"), "rb"), std::string("(not opened)"));
    }
}

CONFORMANCE_TABLE(Utf8Text, "UTF-8 text, code page 65001 and no flags") {
    struct Row {
        const char* name;
        const char* bytes;
        const char16_t* units;
    } rows[] = {
        {"ASCII", "1000=0;", u"1000=0;"},
        {"two-, three- and four-byte sequences", "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x96\xA8",
         u"\u00E9\u20AC\U0001F5A8"},
        {"a byte-order mark stays U+FEFF", "\xEF\xBB\xBFszPaperSizes", u"\uFEFFszPaperSizes"},
        {"a lone continuation byte: U+FFFD", "a\x80z", u"a\uFFFDz"},
        {"a byte that starts nothing: U+FFFD", "a\xFFz", u"a\uFFFDz"},
        {"a sequence cut short before ASCII: U+FFFD", "a\xE2\x82z", u"a\uFFFDz"},
        {"a sequence cut short by the end: U+FFFD", "a\xE2\x82", u"a\uFFFD"},
        {"an overlong NUL: two U+FFFD", "a\xC0\x80z", u"a\uFFFD\uFFFDz"},
    };
    for (const Row& row : rows) {
        if (!ctx.Begin(row.name)) continue;
        const int bytes = static_cast<int>(std::char_traits<char>::length(row.bytes));
        const std::basic_string<WCHAR> expected(reinterpret_cast<const WCHAR*>(row.units));
        int needed = MultiByteToWideChar(CP_UTF8, 0, row.bytes, bytes, nullptr, 0);
        ROW_EQ(needed, static_cast<int>(expected.size()));
        WCHAR out[32] = {};
        int got = MultiByteToWideChar(CP_UTF8, 0, row.bytes, bytes, out, 31);
        ROW_EQ(got, static_cast<int>(expected.size()));
        ROW_TEXT(out, expected.c_str());
    }
    // A whole sequence of a code point that cannot be is one U+FFFD, as for
    // an overlong one; Wine gives one for each byte past the lead it cannot
    // take.
    struct Spoilt {
        const char* name;
        const char* bytes;
        const char16_t *units, *wineUnits;
    } spoilt[] = {
        {"an encoded surrogate: one U+FFFD", "a\xED\xA0\x80z", u"a\uFFFDz", u"a\uFFFD\uFFFDz"},
        {"above U+10FFFF: one U+FFFD", "a\xF4\x90\x80\x80z", u"a\uFFFDz", u"a\uFFFD\uFFFD\uFFFDz"},
    };
    for (const Spoilt& row : spoilt) {
        if (!ctx.Begin(row.name, conformance::WineDiffers(
                                     "Wine 8 decodes an encoded surrogate as two U+FFFD and a "
                                     "code point above U+10FFFF as three"))) {
            continue;
        }
        const std::basic_string<WCHAR> expected(
            reinterpret_cast<const WCHAR*>(ctx.WineExpectation() ? row.wineUnits : row.units));
        WCHAR out[32] = {};
        int got = MultiByteToWideChar(CP_UTF8, 0, row.bytes,
                                      static_cast<int>(std::char_traits<char>::length(row.bytes)),
                                      out, 31);
        ROW_EQ(got, static_cast<int>(expected.size()));
        ROW_TEXT(out, expected.c_str());
    }
    if (ctx.Begin("too small an output: 0, ERROR_INSUFFICIENT_BUFFER")) {
        WCHAR out[4] = {};
        SetLastError(kSentinel);
        ROW_EQ(MultiByteToWideChar(CP_UTF8, 0, "1000=0;", 7, out, 4), 0);
        ROW_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    }
    if (ctx.Begin("a count of -1 takes the terminator too")) {
        WCHAR out[8];
        ROW_EQ(MultiByteToWideChar(CP_UTF8, 0, "abc", -1, out, 8), 4);
        ROW_EQ(out[3], 0);
    }
    if (ctx.Begin("no bytes: 0, ERROR_INVALID_PARAMETER")) {
        WCHAR out[4];
        SetLastError(kSentinel);
        ROW_EQ(MultiByteToWideChar(CP_UTF8, 0, "abc", 0, out, 4), 0);
        ROW_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    }
}

CONFORMANCE_TABLE(SystemAnswers, "the system's language, time and version") {
    if (ctx.Begin("GetSystemDefaultLangID: a language with a primary language")) {
        LANGID language = GetSystemDefaultLangID();
        ROW_CHECK((language & 0x3FF) != 0);
        ROW_NOTE("0x%04x", language);
    }
    if (ctx.Begin("GetSystemTime: UTC, as the C runtime has it")) {
        std::time_t before = std::time(nullptr);
        SYSTEMTIME now = {};
        GetSystemTime(&now);
        std::tm utc = {};
        utc.tm_year = now.wYear - 1900;
        utc.tm_mon = now.wMonth - 1;
        utc.tm_mday = now.wDay;
        utc.tm_hour = now.wHour;
        utc.tm_min = now.wMinute;
        utc.tm_sec = now.wSecond;
        // mktime reads local time: taking the same of gmtime's answer cancels the zone.
        std::tm reference = *std::gmtime(&before);
        double apart = std::difftime(std::mktime(&utc), std::mktime(&reference));
        ROW_CHECK(apart >= 0 && apart <= 2);
        ROW_CHECK(now.wMilliseconds < 1000 && now.wDayOfWeek < 7);
        ROW_EQ(now.wDayOfWeek, reference.tm_wday);
    }
    if (ctx.Begin("GetVersionExW: Windows NT, version 6 or later")) {
        // The record as the kit lays it out: a size of 276 bytes.
        static_assert(sizeof(OSVERSIONINFOW) == 276);
        OSVERSIONINFOW version = {};
        version.dwOSVersionInfoSize = sizeof version;
        ROW_CHECK(GetVersionExW(&version));
        ROW_EQ(version.dwPlatformId, static_cast<DWORD>(VER_PLATFORM_WIN32_NT));
        ROW_CHECK(version.dwMajorVersion >= 6);
        ROW_NOTE("%lu.%lu.%lu", static_cast<unsigned long>(version.dwMajorVersion),
                 static_cast<unsigned long>(version.dwMinorVersion),
                 static_cast<unsigned long>(version.dwBuildNumber));
    }
    if (ctx.Begin("GetVersionExW of a record without its size: ERROR_INSUFFICIENT_BUFFER",
                  conformance::WineDiffers("Wine's GetVersionExW refuses the record without "
                                           "setting the last error"))) {
        OSVERSIONINFOW version = {};
        SetLastError(kSentinel);
        ROW_CHECK(!GetVersionExW(&version));
        ROW_EQ(GetLastError(),
               ctx.WineExpectation() ? kSentinel : static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    }
}
