// The text helpers follow the standard conversions that the configuration
// readers rely on, and never write past the buffers they are given.
#include <gtest/gtest.h>

#include <algorithm>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <string>

#include "status_window.h"
#include "text.h"

namespace {

TEST(TextFormat, FormatsAndCuts) {
    struct Row {
        const char* name;
        size_t capacity;
        std::u16string expected;
        size_t (*run)(WCHAR*, size_t);
    };
    const Row rows[] = {
        {"status window title", 64, u"Office Photo - Status",
         [](WCHAR* o, size_t c) {
             WCHAR title[kStatusWindowTitleUnits];
             FormatStatusWindowTitle(title, TEXT("Office Photo"));
             TextCopy(o, c, title);
             return TextLength(o);
         }},
        {"language block name upper case", 16, u"sz0x040C",
         [](WCHAR* o, size_t c) { return TextFormat(o, c, TEXT("sz0x%04X"), 0x040Cu); }},
        {"port name pads to three digits", 16, u"USB007",
         [](WCHAR* o, size_t c) { return TextFormat(o, c, TEXT("%s%03d"), TEXT("USB"), 7); }},
        {"port number longer than the pad", 16, u"USB1234",
         [](WCHAR* o, size_t c) { return TextFormat(o, c, TEXT("%s%03d"), TEXT("USB"), 1234); }},
        {"negative number", 16, u"1000=-3;",
         [](WCHAR* o, size_t c) { return TextFormat(o, c, TEXT("1000=%d%s"), -3, TEXT(";")); }},
        {"cut to the buffer", 6, u"abcde",
         [](WCHAR* o, size_t c) { return TextFormat(o, c, TEXT("%s"), TEXT("abcdefgh")); }},
        {"driver path", 64, u"C:\\d\\3\\larkmon.exe",
         [](WCHAR* o, size_t c) {
             return TextFormat(o, c, TEXT("%s\\%d\\%s"), TEXT("C:\\d"), 3, TEXT("larkmon.exe"));
         }},
    };
    for (const Row& row : rows) {
        WCHAR buffer[80];
        std::fill(std::begin(buffer), std::end(buffer), static_cast<WCHAR>(0x7777));
        size_t n = row.run(buffer, row.capacity);
        EXPECT_EQ(std::u16string(reinterpret_cast<char16_t*>(buffer)), row.expected) << row.name;
        EXPECT_EQ(n, row.expected.size()) << row.name;
        EXPECT_EQ(buffer[row.capacity], 0x7777) << row.name << ": wrote past the buffer";
    }
}

TEST(TextScan, StandardConversionSemantics) {
    int32_t i = 77;
    const WCHAR* end = nullptr;
    EXPECT_TRUE(ScanInt(TEXT("\r\n  -42;"), &i, &end));
    EXPECT_EQ(i, -42);
    EXPECT_EQ(*end, ';');
    i = 77;
    EXPECT_FALSE(ScanInt(TEXT("  x1"), &i, nullptr));
    EXPECT_EQ(i, 77) << "a failed conversion keeps the default";
    EXPECT_TRUE(ScanInt(TEXT("4294967297"), &i, nullptr));
    EXPECT_EQ(i, 1) << "the low 32 bits of an overflowing number";

    float f = 0;
    EXPECT_TRUE(ScanFloat(TEXT("8.5;11.0;"), &f, &end));
    EXPECT_FLOAT_EQ(f, 8.5f);
    EXPECT_EQ(*end, ';');
    EXPECT_FALSE(ScanFloat(TEXT(";"), &f, nullptr));

    WCHAR word[8];
    EXPECT_TRUE(ScanWord(TEXT("  monitor.exe extra"), word, 8, &end));
    EXPECT_EQ(std::u16string(reinterpret_cast<char16_t*>(word)), u"monitor") << "cut to fit";
    EXPECT_EQ(*end, ' ');
    EXPECT_FALSE(ScanWord(TEXT(" \t\n"), word, 8, nullptr));
}

// A host application that switched to a comma-decimal locale still gets the
// files' numbers read as written.
TEST(TextScan, FloatsReadTheSameUnderACommaLocale) {
    std::string before = std::setlocale(LC_NUMERIC, nullptr);
    if (std::setlocale(LC_NUMERIC, "de_DE.UTF-8") == nullptr) {
        GTEST_SKIP() << "no de_DE.UTF-8 locale on this machine";
    }
    struct Row {
        const WCHAR* text;
        float value;
        WCHAR stop;
    } rows[] = {
        {TEXT("8.5;11.0;"), 8.5f, ';'}, {TEXT("3,5;"), 3.0f, ','}, {TEXT("1.25e1x"), 12.5f, 'x'}};
    for (const Row& row : rows) {
        float f = 0;
        const WCHAR* end = nullptr;
        EXPECT_TRUE(ScanFloat(row.text, &f, &end));
        EXPECT_FLOAT_EQ(f, row.value);
        EXPECT_EQ(*end, row.stop);
    }
    std::setlocale(LC_NUMERIC, before.c_str());
}

// The plain decimals that ScanFloat converts itself give what strtof gives,
// bit for bit and to the same end: the edges of that conversion, then every
// decimal of up to 7 digits with 0 to 7 after the point on a stride.
TEST(TextScan, FloatsAreStrtofsToTheBit) {
    auto same = [](const std::string& text) {
        std::u16string wide(text.begin(), text.end());
        float f = 123.0f;
        const WCHAR* end = nullptr;
        bool ok = ScanFloat(reinterpret_cast<const WCHAR*>(wide.c_str()), &f, &end);
        // strtof over the run ScanFloat hands it: at most 79 characters.
        const size_t skip = std::min(text.find_first_not_of(" \t\n\v\f\r"), text.size());
        const std::string run = text.substr(skip, 79);
        char* stop = nullptr;
        float want = std::strtof(run.c_str(), &stop);
        bool wantOk = stop != run.c_str();
        EXPECT_EQ(ok, wantOk) << text;
        if (!ok || !wantOk) return;
        EXPECT_EQ(std::memcmp(&f, &want, sizeof f), 0) << text << ": " << f << " vs " << want;
        EXPECT_EQ(end - reinterpret_cast<const WCHAR*>(wide.c_str()),
                  static_cast<std::ptrdiff_t>(skip) + (stop - run.c_str()))
            << text;
    };
    for (const char* text :
         {"16777216",
          "16777217",
          "1677721.7",
          "0.1",
          "0.3",
          "-0",
          "-0.0",
          "+.5",
          "3.",
          ".",
          "-",
          "1.5.3",
          "0x10",
          "1e5",
          "2.5E-1",
          "inf",
          "nan",
          "0.0000000001",
          "0.00000000001",
          "9999999.999",
          "3,5",
          "  7.25;",
          "000000000000000000000000000001.5",
          "0000000000000000000000000000000000000000000000000000000000000000000000"
          "0000000000001.5"}) {
        same(text);
    }
    for (uint32_t digits = 0; digits < 10000000; digits += 9973) {
        std::string d = std::to_string(digits);
        for (size_t point = 0; point <= d.size(); ++point) {
            same(d.substr(0, d.size() - point) + "." + d.substr(d.size() - point));
        }
    }
}

TEST(TextCompare, FindsAndCompares) {
    EXPECT_NE(TextFind(TEXT("abc UIConfigFile=x"), TEXT("UIConfigFile")), nullptr);
    EXPECT_EQ(TextFind(TEXT("uiconfigfile"), TEXT("UIConfigFile")), nullptr);
    EXPECT_TRUE(TextEqualNoCase(TEXT("usb001"), TEXT("USB001")));
    EXPECT_FALSE(TextEqualNoCase(TEXT("USB0011"), TEXT("USB001")));
    EXPECT_TRUE(TextStartsWith(TEXT("USB001"), TEXT("USB")));
    EXPECT_FALSE(TextStartsWith(TEXT("usb001"), TEXT("USB")));
    WCHAR out[4];
    TextCopy(out, 4, TEXT("abcdef"));
    EXPECT_EQ(std::u16string(reinterpret_cast<char16_t*>(out)), u"abc");
}

}  // namespace
