// The conformance suite: tables whose rows each name the case they prove,
// run on winsim by a GoogleTest runner and under Wine against the real
// larkui.dll by a program of its own, so the stand-in is held to a real
// implementation of the platform. Nothing here depends on a test framework:
// a table is a function over its rows, a row checks through the Context.
#pragma once

#include <cstdint>
#include <string>
#include <type_traits>
#include <vector>

#include "platform.h"

namespace conformance {

// Where a row runs. A row that cannot run under Wine says why; a row whose
// expectation under Wine differs from Windows (and winsim, which follows
// Windows' documented behaviour) carries the reason, as Wine's own tests
// mark such rows todo_wine, and checks Wine's answer there.
struct Where {
    const char* winsimOnly = nullptr;
    const char* wineDiffers = nullptr;
};
inline constexpr Where kBoth{};
constexpr Where WinsimOnly(const char* why) { return Where{why, nullptr}; }
constexpr Where WineDiffers(const char* why) { return Where{nullptr, why}; }

struct Context;
using TableFn = void (*)(Context&);
struct Table {
    const char* name;
    TableFn run;
};
// The tables of this program, in the order they were registered.
std::vector<Table>& Tables();
int RegisterTable(const char* name, TableFn run);

// The platform functions whose behaviour a file's rows hold, held by the
// notes' check (tests/conformance/check_notes.cmake) to what larkui and
// larkmon import from winsim: rows on both platforms, rows on winsim only
// (why none can run under Wine), or no row at all (why none can run).
enum class Cover { Rows, WinsimRows, NoRow };
struct Coverage {
    const char* functions;  // names separated by blanks
    Cover how;
    const char* why;
};
std::vector<Coverage>& Coverages();
int RegisterCoverage(const char* functions, Cover how, const char* why);
// One line per function: "rows <name>", "winsim <name>: <why>", "none <name>: <why>".
void PrintCoverage();

// What a run counts, over every table.
struct Totals {
    long passed = 0, failed = 0;  // checks
    long rows = 0;                // rows run here
    long skipped = 0;             // rows that do not run on this platform
    long winsimOnly = 0;          // rows run here that cannot run under Wine
    long wineDiffers = 0;         // rows with a Wine difference
    long notChecked = 0;          // counts a row could not check here
};

// The kinds of what a process holds, as Holdings names them.
extern const char* const kHoldingKinds[];
extern const size_t kHoldingKindCount;
// Names the kinds this platform cannot count, so a table's end check is
// never taken for more than it is.
void PrintUncountedKinds();

struct Context {
    // A row begins: false when it does not run on this platform (it is
    // counted as skipped, with its reason).
    bool Begin(const char* row, Where where = kBoth);
    bool OnWine() const;
    // Whether the current row's expectation is Wine's own.
    bool WineExpectation() const { return OnWine() && where_.wineDiffers != nullptr; }
    // Whether the current row's expectation is winsim's own.

    bool Check(bool ok, const char* file, int line, const char* text);
    bool CheckEq(bool ok, long long a, long long b, const char* file, int line, const char* ta,
                 const char* tb);
    bool CheckText(const WCHAR* a, const WCHAR* b, const char* file, int line, const char* ta,
                   const char* tb);
    bool CheckText(const WCHAR* a, const char* utf8, const char* file, int line, const char* ta,
                   const char* tb);
    bool CheckBytes(const std::string& a, const std::string& b, const char* file, int line,
                    const char* ta, const char* tb);
    // Whether a count the row checks (the platform's answer, -1 where it
    // cannot count it) can be checked here; a count that cannot is named in
    // the row's output as not checked on this platform, once per row.
    bool Counted(long count, const char* what);
    // A failure of the table itself (its set-up), outside any row.
    void Fail(const std::string& why);
    void Note(const char* format, ...) __attribute__((format(printf, 2, 3)));

    // Filled by the runner.
    std::string table;
    std::vector<std::string> failures;  // this table's, each with its row and place
    Totals totals;
    long tableRows = 0, tableSkipped = 0, tableWinsimOnly = 0, tableWine = 0;

private:
    void Failed(const std::string& what, const char* file, int line);
    std::string row_;
    Where where_;
    std::vector<std::string> notChecked_;  // the current row's
};

// A whole file's bytes, read through the platform's _wfopen ("rb"); false
// when it does not open.
bool ReadFileBytes(const WCHAR* path, std::string* bytes);

// The file of a loaded module as GetModuleFileNameW names it; empty for
// none or a path longer than MAX_PATH.
std::basic_string<WCHAR> ModuleFileName(HMODULE module);

// UTF-16 of UTF-8 text, in the platform's WCHAR.
std::basic_string<WCHAR> Wide(const char* utf8);
// UTF-8 of a zero-terminated WCHAR text (nullptr: "(null)").
std::string Narrow(const WCHAR* text);
// The text of at most max units, ending at its first zero.
std::string Narrow(const WCHAR* text, size_t max);

template <class T>
long long AsNumber(T v) {
    if constexpr (std::is_pointer_v<T>) {
        return static_cast<long long>(reinterpret_cast<std::uintptr_t>(v));
    } else {
        return static_cast<long long>(v);
    }
}

}  // namespace conformance

// A table: CONFORMANCE_TABLE(Name, "readable name") { ... rows through ctx ... }
#define CONFORMANCE_TABLE(fn, title)                                                             \
    static void fn(::conformance::Context& ctx);                                                 \
    [[maybe_unused]] static const int fn##_registered = ::conformance::RegisterTable(title, fn); \
    static void fn(::conformance::Context& ctx)

// What a file's rows cover: CONFORMANCE_COVERS(Rows, "OpenPrinterW ClosePrinter", nullptr);
#define CONFORMANCE_COVERS_AT(line, how, functions, why)          \
    [[maybe_unused]] static const int conformance_covers_##line = \
        ::conformance::RegisterCoverage(functions, ::conformance::Cover::how, why)
#define CONFORMANCE_COVERS_LINE(line, how, functions, why) \
    CONFORMANCE_COVERS_AT(line, how, functions, why)
#define CONFORMANCE_COVERS(how, functions, why) \
    CONFORMANCE_COVERS_LINE(__LINE__, how, functions, why)

// Checks inside a row; each gives its result, so a row can stop early.
#define ROW_CHECK(cond) ctx.Check(static_cast<bool>(cond), __FILE__, __LINE__, #cond)
#define ROW_EQ(a, b)                                                                               \
    ([&]() {                                                                                       \
        const auto va_ = (a);                                                                      \
        const auto vb_ = (b);                                                                      \
        return ctx.CheckEq(va_ == vb_, ::conformance::AsNumber(va_), ::conformance::AsNumber(vb_), \
                           __FILE__, __LINE__, #a, #b);                                            \
    }())
#define ROW_TEXT(a, b) ctx.CheckText((a), (b), __FILE__, __LINE__, #a, #b)
#define ROW_BYTES(a, b) ctx.CheckBytes((a), (b), __FILE__, __LINE__, #a, #b)
#define ROW_NOTE(...) ctx.Note(__VA_ARGS__)
