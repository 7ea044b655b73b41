// ConvertDevmodeVersion's sizes and versions.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "devmode_convert.h"

namespace {

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

}  // namespace
