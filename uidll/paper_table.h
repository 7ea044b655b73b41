// The paper table and the status message of the UI configuration script,
// read anew on every call from the block of the system's language.
#pragma once

#include <cstdint>

#include "platform.h"

inline constexpr size_t kPaperNameUnits = 64;
inline constexpr size_t kPaperSpecUnits = 32;
inline constexpr size_t kMaxPaperRows = 256;
inline constexpr size_t kStatusMessageUnits = 256;

// One row of the paper table: name shown to the user, size spec
// ("width;height;unit;paper id;") and the paper code of key 1000.
struct PaperEntry {
    WCHAR name[kPaperNameUnits];
    WCHAR spec[kPaperSpecUnits];
    int32_t code;
};

// Rows in script order into each given output (name slots of 64 units,
// zero-filled spec slots of 32 units, codes). Returns the row count, 1 to
// kMaxPaperRows; with no output it only counts.
int ReadPaperTable(HANDLE printer, WCHAR (*names)[kPaperNameUnits], WCHAR (*specs)[kPaperSpecUnits],
                   int32_t* codes);
// Replaces the caller's default in message (kStatusMessageUnits) with the
// block's szStatusMsg when it has one.
void ReadStatusMessage(HANDLE printer, WCHAR* message);
// Sizes (x width, y height, tenths of a millimetre), paper ids and codes of
// every row into each given output. Returns the row count, 1 to
// kMaxPaperRows; with no output it only counts.
int QueryPaperTable(HANDLE printer, POINT* sizes, WORD* ids, int32_t* codes);

// The same readers over a script already in memory.
// The szPaperSizes of the language's block (or of "sz0x0409"), or nullptr.
const WCHAR* FindPaperSizes(const WCHAR* script, LANGID language);
// Rows of the list after szPaperSizes; 0 when the list is unusable (the
// caller then takes the default table). At most kMaxPaperRows rows.
int ParsePaperRows(const WCHAR* paperSizes, WCHAR (*names)[kPaperNameUnits],
                   WCHAR (*specs)[kPaperSpecUnits], int32_t* codes);
// szStatusMsg of the block into message, when it stands before the block end.
void ParseStatusMessage(const WCHAR* paperSizes, WCHAR* message);
// Size in tenths of a millimetre and paper id of row index's spec.
void PaperSizeFromSpec(const WCHAR* spec, int index, POINT* size, WORD* id);
