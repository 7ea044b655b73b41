// Small UTF-16 text helpers shared by the driver and the monitor. WCHAR is
// wchar_t on Windows and char16_t elsewhere, so the C library's wide
// functions cannot serve both; these do, with the semantics of the standard
// conversions where the configuration files rely on them.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform.h"

// Length of a zero-terminated text.
size_t TextLength(const WCHAR* text);
// Length, looking at no more than max units.
size_t TextLengthBounded(const WCHAR* text, size_t max);
// Copies at most capacity - 1 units and always terminates (capacity > 0).
void TextCopy(WCHAR* out, size_t capacity, const WCHAR* text);
// Copies at most count units of text (stopping at its terminator) and
// terminates; out must hold count + 1 units.
void TextCopyCount(WCHAR* out, const WCHAR* text, size_t count);
// Appends text after the current content, cut to fit capacity.
void TextAppend(WCHAR* out, size_t capacity, const WCHAR* text);
// First occurrence of needle in text (case-sensitive), or nullptr.
const WCHAR* TextFind(const WCHAR* text, const WCHAR* needle);
// First occurrence of the character in text, or nullptr.
const WCHAR* TextFindChar(const WCHAR* text, WCHAR ch);
bool TextEqual(const WCHAR* a, const WCHAR* b);
// Comparison ignoring the case of ASCII letters, as the spooler compares
// port and printer names.
bool TextEqualNoCase(const WCHAR* a, const WCHAR* b);
bool TextStartsWith(const WCHAR* text, const WCHAR* prefix);

// printf-style formatting into a fixed buffer, cut to fit and always
// terminated. Supports %s (WCHAR text), %d, %u, %x, %X with an optional
// zero flag and width, and %%. Returns the number of units written.
size_t TextFormat(WCHAR* out, size_t capacity, const WCHAR* format, ...);

// The standard conversions' white space: space, tab, LF, VT, FF, CR.
bool IsScanSpace(WCHAR ch);
// "%d": skips white space, optional sign, decimal digits; the result is the
// low 32 bits of the number. False (and *value untouched) when no digit.
bool ScanInt(const WCHAR* text, int32_t* value, const WCHAR** end);
// "%f" in single precision. False (and *value untouched) when no number.
bool ScanFloat(const WCHAR* text, float* value, const WCHAR** end);
// "%s": skips white space, copies the following run up to the next white
// space, cut to capacity - 1. False when nothing is left.
bool ScanWord(const WCHAR* text, WCHAR* out, size_t capacity, const WCHAR** end);

// Widening of ASCII or Latin-1 bytes, one unit per byte.
void TextFromBytes(WCHAR* out, size_t capacity, const char* bytes);
