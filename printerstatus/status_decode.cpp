// Hex digits and the supply records of the S field. The device ID comes
// from hardware: every read is bounded by the text's own length, and a
// character beyond it reads as a non-digit (value 0).
#include <cstring>

#include "device_status.h"

namespace {

int HexValue(char c) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return 0;
}

char CharAt(const char* text, size_t length, size_t at) { return at < length ? text[at] : 0; }

// Decodes up to 8 characters from position start, missing ones as 0.
void DecodeAt(BYTE* out, const char* text, size_t length, size_t start, size_t count) {
    char chars[8] = {};
    for (size_t i = 0; i < count && i < sizeof chars; ++i)
        chars[i] = CharAt(text, length, start + i);
    HexToBytes(out, chars, count < sizeof chars ? count : sizeof chars);
}

struct VersionMarker {
    const char* text;
    size_t countAt;  // position of the record count character
};
constexpr VersionMarker kMarkers[] = {
    {";S:00", 19}, {";S:01", 19}, {";S:02", 19}, {";S:03", 21}, {";S:04", 25},
};

// "1"-"8" give that many records, "B"-"E" (either case) one to four,
// anything else none.
size_t RecordCount(char c) {
    if (c >= '1' && c <= '8') return static_cast<size_t>(c - '0');
    if (c >= 'B' && c <= 'E') return static_cast<size_t>(c - 'A');
    if (c >= 'b' && c <= 'e') return static_cast<size_t>(c - 'a');
    return 0;
}

struct SupplyLevels {
    int kind1 = 0, kind3 = 0, kind10 = 0, other = 0;
};

int* GroupOf(SupplyLevels* levels, int kind) {
    if (kind == 1) return &levels->kind1;
    if (kind == 3) return &levels->kind3;
    if (kind == 10) return &levels->kind10;
    if (kind >= 2 && kind <= 9) return &levels->other;
    return nullptr;
}

int RuleResult(const SupplyLevels& levels) {
    const bool k1 = levels.kind1 >= 2, k3 = levels.kind3 >= 2, k10 = levels.kind10 >= 2,
               other = levels.other >= 2;
    if (k1 && other && k3) return -17;
    if (k10 && other && k3) return -16;
    if (k1 && other) return -3;
    if (k1 && k3) return -12;
    if (k10 && other) return -15;
    if (k10 && k3) return -14;
    if (other && k3) return -13;
    if (k1) return -4;
    if (other) return -5;
    if (k3) return -10;
    if (k10) return -11;
    return 0;
}

}  // namespace

void HexToBytes(BYTE* out, const char* chars, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        const int value = HexValue(chars[i]);
        if (i % 2 == 0) {
            out[i / 2] = static_cast<BYTE>(value * 16);
        } else {
            out[i / 2] = static_cast<BYTE>(out[i / 2] | value);
        }
    }
}

int CheckInkLevels(const char* deviceId) {
    const size_t length = std::strlen(deviceId);
    const char* field = nullptr;
    size_t countAt = 0;
    for (const VersionMarker& m : kMarkers) {
        field = std::strstr(deviceId, m.text);
        if (field != nullptr) {
            countAt = m.countAt;
            break;
        }
    }
    if (field == nullptr) return 0;
    const size_t fieldAt = static_cast<size_t>(field - deviceId);
    const size_t count = RecordCount(CharAt(deviceId, length, fieldAt + countAt));
    SupplyLevels levels;
    for (size_t i = 0; i < count; ++i) {
        BYTE record[4] = {};
        DecodeAt(record, deviceId, length, fieldAt + countAt + 1 + 8 * i, 8);
        if ((record[0] & 0x80) == 0) continue;
        int* group = GroupOf(&levels, record[0] & 0x3F);
        if (group != nullptr) *group = record[1] & 7;
    }
    return RuleResult(levels);
}

// The status byte at positions 19-20 of the field, bounded like the rest.
int DecodeStatusByte(const char* deviceId, size_t fieldAt) {
    BYTE status = 0;
    DecodeAt(&status, deviceId, std::strlen(deviceId), fieldAt + 19, 2);
    return status;
}
