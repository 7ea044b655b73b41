#include "paper_table.h"

#include <cmath>
#include <cstring>

#include "driver_files.h"
#include "scoped.h"
#include "text.h"

namespace {

constexpr const WCHAR* kDefaultPaperName = TEXT("Automatic");
constexpr const WCHAR* kDefaultPaperSpec = TEXT("4.0;6.0;0;256;");

// The script lies beside the UI configuration file: its path with all after
// the first "." replaced by "js".
bool ScriptPath(HANDLE printer, WCHAR* path) {
    path[0] = 0;
    if (!QueryDriverFiles(printer, nullptr, nullptr, nullptr, path)) return false;
    WCHAR* dot = const_cast<WCHAR*>(TextFindChar(path, '.'));
    if (dot == nullptr) return false;
    size_t at = static_cast<size_t>(dot - path) + 1;
    if (at + 2 >= kPathUnits) return false;  // a cut name would name another file
    path[at] = 'j';
    path[at + 1] = 's';
    path[at + 2] = 0;
    return true;
}

// Loads the script and finds szPaperSizes in the language's block.
const WCHAR* LoadPaperSizes(HANDLE printer, HeapBlock<WCHAR>* script) {
    WCHAR path[kPathUnits];
    if (!ScriptPath(printer, path)) return nullptr;
    if (!LoadUtf8TextPath(path, script)) return nullptr;
    return FindPaperSizes(script->get(), GetSystemDefaultLangID());
}

void WriteDefaultRow(WCHAR (*names)[kPaperNameUnits], WCHAR (*specs)[kPaperSpecUnits],
                     int32_t* codes) {
    if (names != nullptr) {
        std::memset(names[0], 0, sizeof names[0]);
        TextCopy(names[0], kPaperNameUnits, kDefaultPaperName);
    }
    if (specs != nullptr) TextCopy(specs[0], kPaperSpecUnits, kDefaultPaperSpec);
    if (codes != nullptr) codes[0] = 0;
}

// The text between from and end, at most capacity - 1 units, terminated.
void CopyRange(WCHAR* out, size_t capacity, const WCHAR* from, const WCHAR* end) {
    size_t n = 0;
    while (from + n < end && n + 1 < capacity) {
        out[n] = from[n];
        ++n;
    }
    out[n] = 0;
}

// Tenths of a millimetre: formed in single precision, truncated toward zero,
// then its low 16 bits as a signed number. A value that no integer holds
// (infinite, not a number, beyond 64 bits) gives 0, the low bits of the
// integer the processor produces for it.
int32_t TenthsOfMm(float value, bool inches) {
    float product = value * (inches ? 254.0f : 100.0f);
    if (!std::isfinite(product) || std::fabs(product) >= 9.2e18f) return 0;
    auto whole = static_cast<int64_t>(product);
    return static_cast<int16_t>(static_cast<uint16_t>(static_cast<uint64_t>(whole) & 0xFFFF));
}

}  // namespace

const WCHAR* FindPaperSizes(const WCHAR* script, LANGID language) {
    WCHAR name[16];
    TextFormat(name, 16, TEXT("sz0x%04X"), static_cast<unsigned>(language));
    const WCHAR* block = TextFind(script, name);
    if (block == nullptr) block = TextFind(script, TEXT("sz0x0409"));
    if (block == nullptr) return nullptr;
    return TextFind(block, TEXT("szPaperSizes"));
}

namespace {

// TextFindChar, here where the compiler can fold it into the row walk: the
// walk makes six such searches a row.
inline const WCHAR* FindUnit(const WCHAR* text, WCHAR ch) {
    for (; *text != 0; ++text) {
        if (*text == ch) return text;
    }
    return nullptr;
}

// One row of the list as the readers take it: the name and the size text
// between their quotes, and where its code may stand.
struct RowRanges {
    const WCHAR *name, *nameEnd, *spec, *specEnd;
};

// The row's paper code: after the comma that follows it, before the list's
// end; a row without one, or with a code that does not convert, gets 0.
int32_t RowCode(const RowRanges& row, const WCHAR* close) {
    int32_t code = 0;
    const WCHAR* comma = FindUnit(row.specEnd + 1, ',');
    if (comma != nullptr && comma < close) ScanInt(comma + 1, &code, nullptr);
    return code;
}

// Walks the rows of the list in one pass, handing each to visit(index,
// row, close); answers how many there are (at most kMaxPaperRows).
template <class Visit>
int WalkPaperRows(const WCHAR* paperSizes, Visit visit) {
    const WCHAR* open = FindUnit(paperSizes, '[');
    const WCHAR* close = FindUnit(paperSizes, ']');
    if (open == nullptr || close == nullptr || close < open) return 0;
    const WCHAR* quote = FindUnit(open, '"');
    int rows = 0;
    while (quote != nullptr && quote < close && rows < static_cast<int>(kMaxPaperRows)) {
        RowRanges row;
        row.name = quote + 1;
        if (*row.name == 0) break;
        row.nameEnd = FindUnit(row.name + 1, '"');
        if (row.nameEnd == nullptr) break;
        row.spec = FindUnit(row.nameEnd + 1, '"');
        if (row.spec == nullptr) break;
        ++row.spec;
        row.specEnd = FindUnit(row.spec, '"');
        if (row.specEnd == nullptr) break;
        visit(rows, row, close);
        ++rows;
        quote = FindUnit(row.specEnd + 1, '"');
    }
    return rows;
}

}  // namespace

int ParsePaperRows(const WCHAR* paperSizes, WCHAR (*names)[kPaperNameUnits],
                   WCHAR (*specs)[kPaperSpecUnits], int32_t* codes) {
    return WalkPaperRows(paperSizes, [&](int i, const RowRanges& row, const WCHAR* close) {
        if (names != nullptr) {
            std::memset(names[i], 0, sizeof names[i]);
            CopyRange(names[i], kPaperNameUnits, row.name, row.nameEnd);
        }
        if (specs != nullptr) CopyRange(specs[i], kPaperSpecUnits, row.spec, row.specEnd);
        if (codes != nullptr) codes[i] = RowCode(row, close);
    });
}

void ParseStatusMessage(const WCHAR* paperSizes, WCHAR* message) {
    const WCHAR* blockEnd = TextFind(paperSizes, TEXT("};"));
    const WCHAR* key = TextFind(paperSizes, TEXT("szStatusMsg"));
    if (blockEnd == nullptr || key == nullptr || key > blockEnd) return;
    const WCHAR* open = TextFindChar(key, '"');
    if (open == nullptr) return;
    const WCHAR* close = TextFindChar(open + 1, '"');
    // Without its closing quote the message is not used; a longer one is cut.
    if (close == nullptr) return;
    CopyRange(message, kStatusMessageUnits, open + 1, close);
}

void PaperSizeFromSpec(const WCHAR* spec, int index, POINT* size, WORD* id) {
    float width = 4.0f;
    float height = 6.0f;
    int32_t unit = 0;
    int32_t paperId = 256 + index;
    size_t digit = 0;
    while (digit < 20 && spec[digit] != 0 && (spec[digit] < '0' || spec[digit] > '9')) ++digit;
    if (digit < 20 && spec[digit] >= '0' && spec[digit] <= '9') {
        const WCHAR* p = spec + digit;
        if (ScanFloat(p, &width, &p) && *p++ == ';' && ScanFloat(p, &height, &p) && *p++ == ';' &&
            ScanInt(p, &unit, &p) && *p++ == ';') {
            ScanInt(p, &paperId, nullptr);
        }
    }
    if (size != nullptr) {
        size->x = TenthsOfMm(width, unit == 0);
        size->y = TenthsOfMm(height, unit == 0);
    }
    if (id != nullptr) *id = static_cast<WORD>(paperId);
}

int ReadPaperTable(HANDLE printer, WCHAR (*names)[kPaperNameUnits], WCHAR (*specs)[kPaperSpecUnits],
                   int32_t* codes) {
    HeapBlock<WCHAR> script;
    const WCHAR* paperSizes = LoadPaperSizes(printer, &script);
    int rows = paperSizes != nullptr ? ParsePaperRows(paperSizes, names, specs, codes) : 0;
    if (rows > 0) return rows;
    WriteDefaultRow(names, specs, codes);
    return 1;
}

void ReadStatusMessage(HANDLE printer, WCHAR* message) {
    HeapBlock<WCHAR> script;
    const WCHAR* paperSizes = LoadPaperSizes(printer, &script);
    if (paperSizes != nullptr) ParseStatusMessage(paperSizes, message);
}

int QueryPaperTable(HANDLE printer, POINT* sizes, WORD* ids, int32_t* codes) {
    // One read of the script and one pass over its rows serve the count and
    // the rows, so a script changed in between can never give more rows than
    // were counted. Each row's size text is read from its own copy, cut as a
    // stored row would be.
    HeapBlock<WCHAR> script;
    const WCHAR* paperSizes = LoadPaperSizes(printer, &script);
    const bool wanted = sizes != nullptr || ids != nullptr || codes != nullptr;
    int rows = 0;
    if (paperSizes != nullptr) {
        rows = WalkPaperRows(paperSizes, [&](int i, const RowRanges& row, const WCHAR* close) {
            if (!wanted) return;
            WCHAR spec[kPaperSpecUnits];
            CopyRange(spec, kPaperSpecUnits, row.spec, row.specEnd);
            PaperSizeFromSpec(spec, i, sizes != nullptr ? &sizes[i] : nullptr,
                              ids != nullptr ? &ids[i] : nullptr);
            if (codes != nullptr) codes[i] = RowCode(row, close);
        });
    }
    if (rows > 0) return rows;
    if (wanted) {
        WCHAR spec[kPaperSpecUnits];
        WriteDefaultRow(nullptr, &spec, codes);
        PaperSizeFromSpec(spec, 0, sizes, ids);
    }
    return 1;
}
