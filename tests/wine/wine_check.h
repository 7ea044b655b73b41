// Tiny check library for the Wine tests: the cross build has no GoogleTest.
// Each failed check prints file:line; WINE_CHECK_SUMMARY() prints the totals and gives the
// process exit code (0 when nothing failed).
#pragma once

#include <cstdint>
#include <cstdio>
#include <type_traits>

namespace winecheck {

inline int& Passed() {
    static int n = 0;
    return n;
}

inline int& Failed() {
    static int n = 0;
    return n;
}

inline bool Record(bool ok, const char* file, int line, const char* text) {
    if (ok) {
        ++Passed();
    } else {
        ++Failed();
        std::printf("%s:%d: FAILED: %s\n", file, line, text);
        std::fflush(stdout);
    }
    return ok;
}

inline bool RecordEq(bool ok, const char* file, int line, const char* a, const char* b,
                     long long va, long long vb) {
    if (!ok) {
        std::printf("%s:%d: FAILED: %s == %s (%lld vs %lld, 0x%llx vs 0x%llx)\n", file, line, a, b,
                    va, vb, static_cast<unsigned long long>(va),
                    static_cast<unsigned long long>(vb));
        std::fflush(stdout);
        ++Failed();
        return false;
    }
    ++Passed();
    return true;
}

template <class T>
long long AsNumber(T v) {
    if constexpr (std::is_pointer_v<T>) {
        return static_cast<long long>(reinterpret_cast<std::uintptr_t>(v));
    } else {
        return static_cast<long long>(v);
    }
}

// Wide texts are printed with each character above 0x7e shown as '?'.
inline void PrintWide(const wchar_t* s) {
    if (s == nullptr) {
        std::printf("(null)");
        return;
    }
    std::putchar('"');
    for (; *s != 0; ++s) std::putchar(*s >= 0x20 && *s < 0x7f ? static_cast<char>(*s) : '?');
    std::putchar('"');
}

inline bool RecordWideEq(const wchar_t* va, const wchar_t* vb, const char* file, int line,
                         const char* a, const char* b) {
    bool ok = va != nullptr && vb != nullptr;
    for (int i = 0; ok; ++i) {
        if (va[i] != vb[i]) ok = false;
        if (va[i] == 0 || vb[i] == 0) break;
    }
    if (!ok) {
        std::printf("%s:%d: FAILED: %s == %s (", file, line, a, b);
        PrintWide(va);
        std::printf(" vs ");
        PrintWide(vb);
        std::printf(")\n");
        std::fflush(stdout);
        ++Failed();
        return false;
    }
    ++Passed();
    return true;
}

inline int Summary() {
    std::printf("%d passed, %d failed\n", Passed(), Failed());
    std::fflush(stdout);
    return Failed() == 0 ? 0 : 1;
}

}  // namespace winecheck

// Both give the check's result, so a test can stop early: if (!CHECK(h)) return;
#define CHECK(cond) ::winecheck::Record(static_cast<bool>(cond), __FILE__, __LINE__, #cond)
#define CHECK_EQ(a, b)                                                                        \
    ([&]() {                                                                                  \
        const auto va_ = (a);                                                                 \
        const auto vb_ = (b);                                                                 \
        return ::winecheck::RecordEq(va_ == vb_, __FILE__, __LINE__, #a, #b,                  \
                                     ::winecheck::AsNumber(va_), ::winecheck::AsNumber(vb_)); \
    }())
// Compares two zero-ended wide texts (wchar_t, i.e. WCHAR under MinGW).
#define CHECK_WSTREQ(a, b) ::winecheck::RecordWideEq((a), (b), __FILE__, __LINE__, #a, #b)
// Prints a note (e.g. the name of the table row being checked) in the test's output.
#define CHECK_NOTE(...)           \
    do {                          \
        std::printf(__VA_ARGS__); \
        std::printf("\n");        \
        std::fflush(stdout);      \
    } while (0)
#define WINE_CHECK_SUMMARY() ::winecheck::Summary()
