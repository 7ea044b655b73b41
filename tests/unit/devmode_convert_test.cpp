// ConvertDevmodeVersion's sizes and versions, and DrvConvertDevMode walked
// through its modes, buffer sizes, counts and last errors.
#include <cstring>
#include <vector>

#include "devmode_convert.h"
#include "machine_fixture.h"
#include "unreadable_pages.h"

namespace {

constexpr DWORD kSentinel = 0xdeadbeef;
// A success says nothing of the last error.
constexpr DWORD kAnyError = 0;

struct Record {
    alignas(8) BYTE bytes[4096] = {};
    DEVMODEW* dm() { return reinterpret_cast<DEVMODEW*>(bytes); }
};

Record Make(WORD size, WORD spec, WORD extra, BYTE fill) {
    Record r;
    std::memset(r.bytes, fill, sizeof r.bytes);
    r.dm()->dmSize = size;
    r.dm()->dmSpecVersion = spec;
    r.dm()->dmDriverExtra = extra;
    r.dm()->dmDriverVersion = 0x1111;
    return r;
}

struct VersionRow {
    const char* name;
    WORD sourceSize, sourceSpec, sourceExtra;
    WORD targetSize, targetSpec, targetExtra;
    int result;
    WORD resultSpec;
};

const VersionRow kVersionRows[] = {
    {"0x0401 into 3.51", 220, 0x0401, 2108, 188, 0, 2108, 188 + 2108, 0x0320},
    {"3.51 into 0x0401", 188, 0x0320, 2108, 220, 0, 2108, 188 + 2108, 0x0401},
    {"into 0x0400", 220, 0x0401, 16, 212, 0, 2108, 212 + 16, 0x0400},
    {"unknown source size with a version passes", 156, 0x0300, 0, 220, 0, 0, 156, 0x0401},
    {"unknown source size without a version", 156, 0, 0, 220, 0, 0, -1, 0},
    {"unknown target size takes its own version", 220, 0x0401, 0, 300, 0x0500, 0, 220, 0x0500},
    {"unknown target size without a version", 220, 0x0401, 0, 300, 0, 0, -1, 0},
    {"source shorter than its own header", 60, 0x0401, 0, 220, 0, 0, -1, 0},
    {"target shorter than its own header", 220, 0x0401, 0, 40, 0x0401, 0, -1, 0},
};

TEST(ConvertDevmodeVersion, SizesAndVersions) {
    for (const VersionRow& row : kVersionRows) {
        SCOPED_TRACE(row.name);
        Record source = Make(row.sourceSize, row.sourceSpec, row.sourceExtra, 0xA5);
        Record target = Make(row.targetSize, row.targetSpec, row.targetExtra, 0x00);
        target.dm()->dmDriverVersion = 0x4021;
        ASSERT_EQ(ConvertDevmodeVersion(source.dm(), target.dm()), row.result);
        if (row.result < 0) continue;
        EXPECT_EQ(target.dm()->dmSize, row.targetSize);
        EXPECT_EQ(target.dm()->dmSpecVersion, row.resultSpec);
        EXPECT_EQ(target.dm()->dmDriverVersion, 0x4021);
        EXPECT_EQ(target.dm()->dmDriverExtra, row.targetExtra);
        // Nothing past the copied private part is written.
        size_t end = row.targetSize + std::min(row.sourceExtra, row.targetExtra);
        EXPECT_EQ(target.bytes[end], 0);
        if (end > row.targetSize) {
            EXPECT_EQ(target.bytes[row.targetSize], 0xA5);
        }
    }
    Record any = Make(220, 0x0401, 0, 0);
    EXPECT_EQ(ConvertDevmodeVersion(nullptr, any.dm()), -1);
    EXPECT_EQ(ConvertDevmodeVersion(any.dm(), nullptr), -1);
}

class ConvertDevModeTest : public larktest::MachineTest {};

struct CallRow {
    const char* name;
    DWORD mode;
    bool withOut;
    bool withIn;
    LONG count;
    BOOL result;
    DWORD error;  // kSentinel: left alone; kAnyError: not looked at
    LONG countAfter;
};

const CallRow kCallRows[] = {
    {"convert, size query", CDM_CONVERT, false, true, 0, FALSE, ERROR_INSUFFICIENT_BUFFER, 2328},
    {"convert, one byte short", CDM_CONVERT, true, true, 2327, FALSE, ERROR_INSUFFICIENT_BUFFER,
     2328},
    {"convert, negative count", CDM_CONVERT, true, true, -1, FALSE, ERROR_INSUFFICIENT_BUFFER,
     2328},
    {"convert, exact size", CDM_CONVERT, true, true, 2328, TRUE, kAnyError, 2328},
    {"convert, double size", CDM_CONVERT, true, true, 4656, TRUE, kAnyError, 2328},
    {"default, size query", CDM_DRIVER_DEFAULT, false, false, 0, FALSE, ERROR_INSUFFICIENT_BUFFER,
     2328},
    {"default, one byte short", CDM_DRIVER_DEFAULT, true, false, 2327, FALSE,
     ERROR_INSUFFICIENT_BUFFER, 2328},
    {"default, exact size", CDM_DRIVER_DEFAULT, true, false, 2328, TRUE, kAnyError, 2328},
    {"351, size query", CDM_CONVERT351, false, true, 0, FALSE, ERROR_INSUFFICIENT_BUFFER, 2296},
    {"351, one byte short", CDM_CONVERT351, true, true, 2295, FALSE, ERROR_INSUFFICIENT_BUFFER,
     2296},
    {"351, exact size", CDM_CONVERT351, true, true, 2296, TRUE, kAnyError, 2296},
    {"351, no source: count left alone", CDM_CONVERT351, true, false, 3000, FALSE,
     ERROR_INVALID_PARAMETER, 3000},
    {"mode 3: nothing touched", 3, true, true, 2328, FALSE, kSentinel, 2328},
};

TEST_F(ConvertDevModeTest, ModesSizesCountsAndErrors) {
    SetLastError(kSentinel);
    EXPECT_FALSE(DrvConvertDevMode(nullptr, nullptr, nullptr, nullptr, CDM_CONVERT));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    std::u16string printer = u"Nobody";
    for (const CallRow& row : kCallRows) {
        SCOPED_TRACE(row.name);
        Record in = Make(220, 0x0401, 2108, 0x00);
        in.dm()->dmDriverVersion = 0x4021;
        std::memcpy(in.bytes + 220, &PrivateSignature, 4);
        Record out = Make(0, 0, 0, 0xCC);
        LONG count = row.count;
        SetLastError(kSentinel);
        BOOL result = DrvConvertDevMode(printer.data(), row.withIn ? in.dm() : nullptr,
                                        row.withOut ? out.dm() : nullptr, &count, row.mode);
        EXPECT_EQ(result, row.result);
        if (row.error != kAnyError) {
            EXPECT_EQ(GetLastError(), row.error);
        }
        EXPECT_EQ(count, row.countAfter);
        if (!result) continue;
        auto* dm = out.dm();
        EXPECT_EQ(dm->dmDriverVersion, kDriverVersion);
        EXPECT_EQ(dm->dmDriverExtra, kPrivateDevmodeSize);
        EXPECT_EQ(out.bytes[count], 0xCC) << "written past the record";
        if (row.mode == CDM_CONVERT351) {
            EXPECT_EQ(dm->dmSize, 188);
            EXPECT_EQ(dm->dmSpecVersion, 0x0320);
            EXPECT_EQ(std::memcmp(out.bytes + 188, &PrivateSignature, 4), 0);
        } else {
            EXPECT_EQ(dm->dmSize, 220);
            EXPECT_EQ(dm->dmSpecVersion, 0x0401);
        }
    }
}

TEST_F(ConvertDevModeTest, RecordsBeyondTheirMemoryFailCleanly) {
    larktest::UnreadablePages source;
    // A 3.51 conversion of a record whose claimed private part runs into a
    // forbidden page.
    auto* dm = reinterpret_cast<DEVMODEW*>(source.Tail(600));
    std::memset(dm, 0, 600);
    dm->dmSize = 220;
    dm->dmSpecVersion = 0x0401;
    dm->dmDriverExtra = 2108;
    std::vector<BYTE> out(2296, 0xCC);
    LONG count = 2296;
    SetLastError(kSentinel);
    EXPECT_FALSE(DrvConvertDevMode(nullptr, dm, reinterpret_cast<DEVMODEW*>(out.data()), &count,
                                   CDM_CONVERT351));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(out[0], 0xCC) << "the caller's buffer is written only after a whole conversion";
    // An output buffer smaller than the count claims.
    larktest::UnreadablePages target;
    count = 2328;
    EXPECT_FALSE(DrvConvertDevMode(nullptr, nullptr, reinterpret_cast<DEVMODEW*>(target.Tail(1000)),
                                   &count, CDM_DRIVER_DEFAULT));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

}  // namespace
