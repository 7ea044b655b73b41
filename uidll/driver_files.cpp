#include "driver_files.h"

#include <cstring>

#include "spooler_query.h"
#include "text.h"

namespace {

// Configuration files are small; a larger file is refused rather than risking
// a size that overflows the text's allocation.
constexpr long kMaxTextFileBytes = 64L * 1024 * 1024;

// How many bytes of the stored devmode may be copied: never more than the
// record, the size it declares, or what the spooler's buffer holds.
size_t StoredDevmodeBytes(const QueriedBlock& info, const DEVMODEW* stored) {
    const BYTE* begin = info.data.get();
    const BYTE* at = reinterpret_cast<const BYTE*>(stored);
    if (at < begin || at >= begin + info.bytes) return 0;
    size_t available = static_cast<size_t>(begin + info.bytes - at);
    size_t declared = available;
    if (available >= offsetof(DEVMODEW, dmFields)) {
        declared = static_cast<size_t>(stored->dmSize) + stored->dmDriverExtra;
    }
    size_t n = kDriverDevmodeSize;
    if (declared < n) n = declared;
    if (available < n) n = available;
    return n;
}

}  // namespace

HeapBlock<DriverDevmode> GetPrinterDefaultDevmode(HANDLE printer) {
    auto copy = HeapAllocZeroed<DriverDevmode>(kDriverDevmodeSize);
    if (!copy) return copy;
    QueriedBlock info = QueryPrinterInfo2(printer);
    if (!info.data) return {};
    const DEVMODEW* stored = reinterpret_cast<PRINTER_INFO_2W*>(info.data.get())->pDevMode;
    if (stored == nullptr) return {};
    // A shorter stored devmode leaves the rest of the copy zero.
    std::memcpy(copy.get(), stored, StoredDevmodeBytes(info, stored));
    return copy;
}

HeapBlock<DriverDevmode> GetPrinterDefaultDevmodeByName(const WCHAR* printerName) {
    ScopedPrinter printer = OpenPrinterScoped(const_cast<LPWSTR>(printerName), nullptr);
    if (!printer) return {};
    return GetPrinterDefaultDevmode(printer.get());
}

static PrinterDefaultDevmode* WrapDefaultDevmode(HeapBlock<DriverDevmode> copy) {
    auto* record = static_cast<PrinterDefaultDevmode*>(
        HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(PrinterDefaultDevmode)));
    if (record == nullptr) return nullptr;
    if (copy) {
        record->owns = 1;
        record->devmode = copy.release();
        // Only a private part that lies wholly inside the copy, at an offset
        // its fields can be read from, is handed out: a stored dmSize may be
        // odd.
        WORD at = record->devmode->dm.dmSize;
        if (at + sizeof(DevmodePrivate) <= kDriverDevmodeSize &&
            at % alignof(DevmodePrivate) == 0) {
            record->privatePart =
                reinterpret_cast<DevmodePrivate*>(reinterpret_cast<BYTE*>(record->devmode) + at);
        }
    }
    return record;
}

PrinterDefaultDevmode* CreatePrinterDefaultDevmode(HANDLE printer) {
    return WrapDefaultDevmode(GetPrinterDefaultDevmode(printer));
}

PrinterDefaultDevmode* CreatePrinterDefaultDevmodeByName(const WCHAR* printerName) {
    return WrapDefaultDevmode(GetPrinterDefaultDevmodeByName(printerName));
}

void ReleasePrinterDefaultDevmode(PrinterDefaultDevmode* record) {
    if (record == nullptr) return;
    if (record->owns != 0 && record->devmode != nullptr) {
        HeapFree(GetProcessHeap(), 0, record->devmode);
    }
    record->owns = 0;
    record->devmode = nullptr;
    record->privatePart = nullptr;
    HeapFree(GetProcessHeap(), 0, record);
}

namespace {

// The length of the well-formed UTF-8 sequence at s (its lead byte at or above
// 0x80, left bytes there) with its code point, or 0 when the bytes are not
// one. Well formed as Unicode defines it: no overlong form, no surrogate,
// nothing above U+10FFFF; every decoder reads such a sequence alike.
size_t WellFormedSequence(const unsigned char* s, size_t left, uint32_t* point) {
    unsigned char c = s[0];
    size_t length;
    unsigned char low = 0x80, high = 0xBF;  // the second byte's range
    if (c >= 0xC2 && c <= 0xDF) {
        length = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
        length = 3;
        if (c == 0xE0) low = 0xA0;
        if (c == 0xED) high = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        length = 4;
        if (c == 0xF0) low = 0x90;
        if (c == 0xF4) high = 0x8F;
    } else {
        return 0;
    }
    if (left < length || s[1] < low || s[1] > high) return 0;
    uint32_t value = c & (0x7Fu >> length);
    for (size_t i = 1; i < length; ++i) {
        if ((s[i] & 0xC0) != 0x80) return 0;
        value = (value << 6) | (s[i] & 0x3Fu);
    }
    *point = value;
    return length;
}

// Decodes a run of bytes at or above 0x80 with the system's decoder, which
// alone decides what an ill-formed sequence becomes. The run is copied out
// first: its units may overwrite its bytes. Answers the units, or -1 when
// there is no room for the copy.
int DecodeRunBySystem(const char* run, size_t bytes, WCHAR* units) {
    char small[1024];
    HeapBlock<char> large;
    char* copy = small;
    if (bytes > sizeof small) {
        large = HeapAllocUnfilled<char>(bytes);
        if (!large) return -1;
        copy = large.get();
    }
    std::memcpy(copy, run, bytes);
    int got = MultiByteToWideChar(CP_UTF8, 0, copy, static_cast<int>(bytes), units,
                                  static_cast<int>(bytes));
    return got > 0 ? got : 0;
}

// Decodes the got bytes at raw into units, which lie below raw in the same
// block, at least got + 4 bytes below it: a unit is written only after the
// bytes it comes from are read, and n bytes give at most n units, so the
// units never reach a byte not yet read. ASCII is itself, 16 bytes at a time;
// every other run of bytes is decoded here when each of its sequences is
// well formed, by the system otherwise. No sequence crosses an ASCII byte,
// so the runs decode as the whole text would. Answers the units, or -1.
long DecodeUtf8Below(const char* raw, size_t got, WCHAR* units) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(raw);
    size_t i = 0, j = 0;
    while (j < got) {
        for (; got - j >= 16; i += 16, j += 16) {
            unsigned char chunk[16];
            std::memcpy(chunk, bytes + j, sizeof chunk);
            uint64_t a, b;
            std::memcpy(&a, chunk, 8);
            std::memcpy(&b, chunk + 8, 8);
            if (((a | b) & 0x8080808080808080u) != 0) break;
            for (size_t k = 0; k < 16; ++k) units[i + k] = chunk[k];
        }
        if (j == got) break;
        if (bytes[j] < 0x80) {
            units[i++] = bytes[j++];
            continue;
        }
        const size_t runStart = j, unitStart = i;
        while (j < got && bytes[j] >= 0x80) {
            uint32_t point = 0;
            size_t length = WellFormedSequence(bytes + j, got - j, &point);
            if (length == 0) break;
            j += length;
            if (point < 0x10000) {
                units[i++] = static_cast<WCHAR>(point);
            } else {
                units[i++] = static_cast<WCHAR>(0xD800 + ((point - 0x10000) >> 10));
                units[i++] = static_cast<WCHAR>(0xDC00 + ((point - 0x10000) & 0x3FF));
            }
        }
        if (j < got && bytes[j] >= 0x80) {
            // An ill-formed sequence: the run from its start goes to the system.
            while (j < got && bytes[j] >= 0x80) ++j;
            int more = DecodeRunBySystem(raw + runStart, j - runStart, units + unitStart);
            if (more < 0) return -1;
            i = unitStart + static_cast<size_t>(more);
        }
    }
    return static_cast<long>(i);
}

}  // namespace

int LoadUtf8TextFile(FILE* file, HeapBlock<WCHAR>* text) {
    ScopedFile owned(file);
    if (file == nullptr) return 0;
    if (std::fseek(file, 0, SEEK_END) != 0) return 0;
    long n = std::ftell(file);
    if (n < 0 || n > kMaxTextFileBytes) return 0;
    // One block: the text's n + 2 units, the file's bytes read into its upper
    // half and decoded down into the text. Nothing is filled that the read
    // and the decode then write: every unit past the decoded text is zeroed
    // after it.
    const size_t capacity = static_cast<size_t>(n) + 2;
    auto block = HeapAllocUnfilled<WCHAR>(capacity * sizeof(WCHAR));
    if (!block) return 0;
    WCHAR* units = block.get();
    char* raw = reinterpret_cast<char*>(units) + capacity * sizeof(WCHAR) - static_cast<size_t>(n);
    std::fseek(file, 0, SEEK_SET);
    size_t got = std::fread(raw, 1, static_cast<size_t>(n), file);
    owned.reset();
    long decoded = DecodeUtf8Below(raw, got, units);
    if (decoded < 0) return 0;
    const auto count = static_cast<size_t>(decoded);
    std::memset(units + count, 0, (capacity - count) * sizeof(WCHAR));
    *text = std::move(block);
    return 1;
}

int LoadUtf8TextPath(const WCHAR* path, HeapBlock<WCHAR>* text) {
    FILE* file = _wfopen(path, TEXT("rt"));
    if (file == nullptr) return 0;
    return LoadUtf8TextFile(file, text);
}

namespace {

// Copies a spooler path whole, or reports that it does not fit.
bool CopyPath(WCHAR* out, const WCHAR* path) {
    if (out == nullptr) return true;
    if (path == nullptr) return true;
    if (TextLengthBounded(path, kPathUnits) >= kPathUnits) return false;
    TextCopy(out, kPathUnits, path);
    return true;
}

// One line of the data file, one character per byte, at most 255
// characters; a longer line comes in pieces. hasLineEnd tells whether the
// piece ends with its LF.
bool ReadWideLine(FILE* file, WCHAR* line, bool* hasLineEnd) {
    char bytes[kPathUnits];
    if (std::fgets(bytes, sizeof bytes, file) == nullptr) return false;
    size_t n = 0;
    while (n + 1 < kPathUnits && bytes[n] != 0) {
        line[n] = static_cast<WCHAR>(static_cast<unsigned char>(bytes[n]));
        ++n;
    }
    line[n] = 0;
    *hasLineEnd = n > 0 && line[n - 1] == '\n';
    return true;
}

// Appends the value of the key line after its first "=", skipping what is at
// or below a space and cutting at the first control character after it.
void AppendUiConfigValue(WCHAR* path, const WCHAR* keyAt) {
    const WCHAR* equals = TextFindChar(keyAt, '=');
    if (equals == nullptr) return;
    const WCHAR* value = equals + 1;
    while (*value != 0 && *value <= 0x20) ++value;
    if (*value == 0) return;
    size_t length = 1;
    while (value[length] >= 0x20) ++length;
    size_t used = TextLength(path);
    // A cut name would name another file: without room the value is left out.
    if (used + length >= kPathUnits) return;
    TextCopyCount(path + used, value, length);
}

}  // namespace

void ScanUiConfigFile(FILE* file, WCHAR* path) {
    WCHAR line[kPathUnits];
    bool inSection = false;
    bool hasLineEnd = false;
    while (ReadWideLine(file, line, &hasLineEnd)) {
        if (!inSection) {
            if (!hasLineEnd && std::feof(file)) return;
            inSection = TextStartsWith(line, TEXT("[InstallConfig]"));
            continue;
        }
        if (line[0] < 0x20) {
            inSection = false;
            continue;
        }
        const WCHAR* key = TextFind(line, TEXT("UIConfigFile"));
        if (key != nullptr) {
            AppendUiConfigValue(path, key + 12);
            return;
        }
    }
}

namespace {

void FillUiConfigPath(const DRIVER_INFO_3W* info, WCHAR* path) {
    WCHAR directory[kPathUnits] = {};
    DWORD needed = 0;
    path[0] = 0;
    if (!GetPrinterDriverDirectoryW(nullptr, nullptr, 1, reinterpret_cast<LPBYTE>(directory),
                                    sizeof directory, &needed)) {
        return;
    }
    directory[kPathUnits - 1] = 0;
    WCHAR folder[kPathUnits + 16];
    size_t length = TextFormat(folder, kPathUnits + 16, TEXT("%s\\%d\\"), directory,
                               static_cast<int>(info->cVersion));
    if (length >= kPathUnits) return;  // no room for a usable path
    TextCopy(path, kPathUnits, folder);
    if (info->pDataFile == nullptr) return;
    ScopedFile file(_wfopen(info->pDataFile, TEXT("rt")));
    if (!file) return;
    ScanUiConfigFile(file.get(), path);
}

}  // namespace

int QueryDriverFiles(HANDLE printer, const WCHAR* printerName, WCHAR* dataFile, WCHAR* helpFile,
                     WCHAR* uiConfigPath) {
    if (dataFile != nullptr) dataFile[0] = 0;
    if (helpFile != nullptr) helpFile[0] = 0;
    ScopedPrinter opened;
    if (printer == nullptr) {
        if (printerName == nullptr) return 0;
        opened = OpenPrinterScoped(const_cast<LPWSTR>(printerName), nullptr);
        if (!opened) return 0;
        printer = opened.get();
    }
    QueriedBlock block = QueryDriverInfo3(printer);
    if (!block.data) return 0;
    const auto* info = reinterpret_cast<const DRIVER_INFO_3W*>(block.data.get());
    if (!CopyPath(dataFile, info->pDataFile) || !CopyPath(helpFile, info->pHelpFile)) {
        if (dataFile != nullptr) dataFile[0] = 0;
        if (helpFile != nullptr) helpFile[0] = 0;
        return 0;
    }
    if (uiConfigPath != nullptr) FillUiConfigPath(info, uiConfigPath);
    return 1;
}
