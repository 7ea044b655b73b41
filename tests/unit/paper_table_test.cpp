// The paper table and status message of the UI configuration script: the
// text readers on their own, then through the printer with scripts written
// into the driver folder.
#include <gtest/gtest.h>

#include <cstring>

#include "../conformance/caps_expectations.h"
#include "config_support.h"
#include "paper_table.h"

namespace larktest {
namespace {

using NameSlot = WCHAR[kPaperNameUnits];
using SpecSlot = WCHAR[kPaperSpecUnits];

class PaperTableTest : public MachineTest {};

struct SpecCase {
    const char* name;
    const char* spec;
    int index;
    LONG width, height;
    WORD id;
};

TEST_F(PaperTableTest, SpecConversions) {
    const SpecCase cases[] = {
        {"4 x 6 inches", "4.0;6.0;0;256;", 0, 1016, 1524, 256},
        {"no id: 256 plus the index", "10.0;15.0;1;", 1, 1000, 1500, 257},
        {"letter", "8.5;11.0;0;", 0, 2159, 2794, 256},
        {"id given", "3.5;5.0;0;300;", 0, 889, 1270, 300},
        {"no digit among the first 20", "abcdefghijklmnopqrst4.0;6.0;0;1;", 5, 1016, 1524, 261},
        {"digit as the 20th character", "abcdefghijklmnopqrs5.0;7.0;0;1;", 0, 1270, 1778, 1},
        {"leading text skipped", "w=5.0;7.0;0;9;", 0, 1270, 1778, 9},
        {"empty", "", 3, 1016, 1524, 259},
        {"height fails: the rest default", "5.0;x;1;9;", 2, 1270, 1524, 258},
        {"missing ; stops the scan", "5.0 7.0;0;9;", 0, 1270, 1524, 256},
        {"centimetres for any nonzero flag", "10;15;-7;1;", 0, 1000, 1500, 1},
        {"truncated toward zero", "0.999;1.0;1;1;", 0, 99, 100, 1},
        {"low 16 bits of the size", "300.0;6.0;0;65537;", 0, 10664, 1524, 1},
        {"size wraps negative", "130.0;6.0;0;1;", 0, -32516, 1524, 1},
        {"huge value", "1e30;6.0;0;1;", 0, 0, 1524, 1},
        {"id low 16 bits", "4;6;0;-1;", 0, 1016, 1524, 65535},
    };
    for (const auto& c : cases) {
        std::u16string spec = W(c.spec);
        POINT size{};
        WORD id = 0;
        PaperSizeFromSpec(spec.c_str(), c.index, &size, &id);
        EXPECT_EQ(size.x, c.width) << c.name;
        EXPECT_EQ(size.y, c.height) << c.name;
        EXPECT_EQ(id, c.id) << c.name;
    }
}

struct RowsCase {
    const char* name;
    std::string list;  // what follows szPaperSizes
    int rows;
    const char* firstName;
    const char* lastSpec;
    int32_t lastCode;
};

TEST_F(PaperTableTest, RowsOfTheList) {
    std::string many = " : [ ";
    for (int i = 0; i < 300; ++i) many += "\"P" + std::to_string(i) + "\", \"4;6;0;1;\", 7, ";
    many += "]";
    const std::string longName(70, 'n');
    const RowsCase cases[] = {
        {"two rows", " : [ \"A\", \"4.0;6.0;0;256;\", 1, \"B\", \"10.0;15.0;1;\", 2 ],", 2, "A",
         "10.0;15.0;1;", 2},
        {"name cut to 63", " : [ \"" + longName + "\", \"x\", 1 ]", 1,
         "nnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnn", "x", 1},
        {"spec cut to 31", " : [ \"A\", \"" + std::string(40, '1') + "\", 1 ]", 1, "A",
         "1111111111111111111111111111111", 1},
        {"empty spec", " : [ \"A\", \"\", 4 ]", 1, "A", "", 4},
        {"bracketed groups: first row only",
         " : [ [ \"A\", \"4;6;0;1;\", 1 ], [ \"B\", \"x\", 2 ] ]", 1, "A", "4;6;0;1;", 1},
        {"300 rows: 256 kept", many, 256, "P0", "4;6;0;1;", 7},
        {"a 100 KB name", " : [ \"" + std::string(100000, 'n') + "\", \"4;6;0;1;\", 1 ]", 1,
         "nnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnn", "4;6;0;1;", 1},
        {"empty list", " : [ ]", 0, "", "", 0},
        {"no [", " : \"A\", \"x\", 1 ]", 0, "", "", 0},
        {"no ]", " : [ \"A\", \"x\", 1", 0, "", "", 0},
        {"] before [", " : ] [ \"A\", \"x\", 1 ]", 0, "", "", 0},
        {"unterminated name", " : [ \"A", 0, "", "", 0},
        {"unterminated spec", " : [ \"A\", \"4;6 ]", 0, "", "", 0},
        {"second row unterminated", " : [ \"A\", \"x\", 1, \"B\", \"y ]", 1, "A", "x", 1},
        {"no comma before the code", " : [ \"A\", \"x\" 5 ]", 1, "A", "x", 0},
        {"code not a number", " : [ \"A\", \"x\", z ]", 1, "A", "x", 0},
        {"comma beyond the list", " : [ \"A\", \"x\" ], 5", 1, "A", "x", 0},
        {"quote at the very end", " : [ \"", 0, "", "", 0},
    };
    for (const auto& c : cases) {
        std::u16string text = W("szPaperSizes" + c.list);
        static NameSlot names[kMaxPaperRows + 8];
        static SpecSlot specs[kMaxPaperRows + 8];
        int32_t codes[kMaxPaperRows + 8];
        std::memset(specs, 0, sizeof specs);
        std::memset(names, 0x55, sizeof names);
        EXPECT_EQ(ParsePaperRows(text.c_str(), nullptr, nullptr, nullptr), c.rows) << c.name;
        int rows = ParsePaperRows(text.c_str(), names, specs, codes);
        ASSERT_EQ(rows, c.rows) << c.name;
        EXPECT_EQ(names[rows][0], 0x5555) << c.name << ": wrote past the rows";
        if (rows == 0) continue;
        EXPECT_EQ(Narrow(names[0]), c.firstName) << c.name;
        EXPECT_EQ(names[0][kPaperNameUnits - 1], 0) << c.name;
        EXPECT_EQ(Narrow(specs[rows - 1]), c.lastSpec) << c.name;
        EXPECT_EQ(codes[rows - 1], c.lastCode) << c.name;
    }
}

struct BlockCase {
    const char* name;
    std::string script;
    LANGID language;
    const char* firstRow;  // nullptr: no table
    const char* message;   // "" : keeps the caller's default
};

TEST_F(PaperTableTest, LanguageBlockAndStatusMessage) {
    const std::string en =
        "var sz0x0409 = {\n szPaperSizes : [ \"EN\", \"4;6;0;1;\", 0 ],\n szStatusMsg : "
        "\"en\\nmsg\"\n"
        "};\n";
    const std::string fr =
        "var sz0x040C = {\n szPaperSizes : [ \"FR\", \"4;6;0;1;\", 0 ],\n szStatusMsg : "
        "\"fr\"\n};\n";
    const BlockCase cases[] = {
        {"system language block", en + fr, 0x040C, "FR", "fr"},
        {"fallback to 0409", en + fr, 0x0407, "EN", "en\\nmsg"},
        {"upper-case hex only", "var sz0x040c = { szPaperSizes : [ \"x\", \"1\", 0 ] };" + en,
         0x040C, "EN", "en\\nmsg"},
        {"no block at all", "var x = { szPaperSizes : [ \"Z\", \"1\", 0 ] };", 0x0409, nullptr, ""},
        {"block without szPaperSizes takes the next one",
         "var sz0x0409 = { };\nvar sz0x040C = { szPaperSizes : [ \"L\", \"1\", 0 ], szStatusMsg : "
         "\"later\" };",
         0x0409, "L", "later"},
        {"szStatusMsg before szPaperSizes",
         "var sz0x0409 = { szStatusMsg : \"early\", szPaperSizes : [ \"A\", \"1\", 0 ] };", 0x0409,
         "A", ""},
        {"szStatusMsg after the block end",
         "var sz0x0409 = { szPaperSizes : [ \"A\", \"1\", 0 ] };\nvar y = { szStatusMsg : \"late\" "
         "};",
         0x0409, "A", ""},
        {"no block end", "var sz0x0409 = { szPaperSizes : [ \"A\", \"1\", 0 ], szStatusMsg : \"m\"",
         0x0409, "A", ""},
        {"unterminated message",
         "var sz0x0409 = { szPaperSizes : [ \"A\", \"1\", 0 ], szStatusMsg : \"m };", 0x0409, "A",
         ""},
        {"message without quotes before the end",
         "var sz0x0409 = { szPaperSizes : [ \"A\", \"1\", 0 ], szStatusMsg };", 0x0409, "A", ""},
        {"empty message",
         "var sz0x0409 = { szPaperSizes : [ \"A\", \"1\", 0 ], szStatusMsg : \"\" };", 0x0409, "A",
         "(empty)"},
        {"message cut to 255",
         "var sz0x0409 = { szPaperSizes : [ \"A\", \"1\", 0 ], szStatusMsg : \"" +
             std::string(300, 'm') + "\" };",
         0x0409, "A", "(255)"},
    };
    for (const auto& c : cases) {
        std::u16string script = W(c.script);
        const WCHAR* paperSizes = FindPaperSizes(script.c_str(), c.language);
        if (c.firstRow == nullptr) {
            EXPECT_EQ(paperSizes, nullptr) << c.name;
            continue;
        }
        ASSERT_NE(paperSizes, nullptr) << c.name;
        NameSlot names[kMaxPaperRows];
        ASSERT_GE(ParsePaperRows(paperSizes, names, nullptr, nullptr), 1) << c.name;
        EXPECT_EQ(Narrow(names[0]), c.firstRow) << c.name;
        WCHAR message[kStatusMessageUnits + 4];
        for (auto& u : message) u = 'D';
        message[1] = 0;
        ParseStatusMessage(paperSizes, message);
        std::string expected = c.message;
        if (expected.empty()) expected = "D";
        if (expected == "(empty)") expected = "";
        if (expected == "(255)") expected = std::string(255, 'm');
        EXPECT_EQ(Narrow(message), expected) << c.name;
        EXPECT_EQ(message[kStatusMessageUnits], 'D') << c.name << ": wrote past the buffer";
    }
}

class PaperTableFileTest : public MachineTest {
protected:
    void SetUp() override {
        MachineTest::SetUp();
        InstallDriverAndStorePrinter();
    }
};

TEST_F(PaperTableFileTest, ShippedScriptGivesTheExpectedTable) {
    OpenedPrinter printer;
    POINT sizes[kMaxPaperRows];
    WORD ids[kMaxPaperRows];
    int32_t codes[kMaxPaperRows];
    NameSlot names[kMaxPaperRows];
    ASSERT_EQ(QueryPaperTable(printer.handle, nullptr, nullptr, nullptr), larkcaps::kPaperCount);
    ASSERT_EQ(QueryPaperTable(printer.handle, sizes, ids, codes), larkcaps::kPaperCount);
    ASSERT_EQ(ReadPaperTable(printer.handle, names, nullptr, nullptr), larkcaps::kPaperCount);
    for (int i = 0; i < larkcaps::kPaperCount; ++i) {
        const auto& p = larkcaps::kPapers[i];
        EXPECT_EQ(Narrow(names[i]), p.name);
        EXPECT_EQ(sizes[i].x, p.width) << p.name;
        EXPECT_EQ(sizes[i].y, p.height) << p.name;
        EXPECT_EQ(ids[i], p.id) << p.name;
        EXPECT_EQ(codes[i], p.code) << p.name;
    }
    WCHAR message[kStatusMessageUnits] = {'d', 0};
    ReadStatusMessage(printer.handle, message);
    EXPECT_EQ(Narrow(message), larkcaps::kStatusMessage);
}

TEST_F(PaperTableFileTest, FrenchSystemTakesTheFrenchBlock) {
    winsim::SetSetting("language", "040C");
    OpenedPrinter printer;
    NameSlot names[kMaxPaperRows];
    ASSERT_EQ(ReadPaperTable(printer.handle, names, nullptr, nullptr), 4);
    EXPECT_EQ(Narrow(names[3]), "3,5 x 5 po");
    WCHAR message[kStatusMessageUnits] = {'d', 0};
    ReadStatusMessage(printer.handle, message);
    EXPECT_EQ(Narrow(message),
              "Un probl\xC3\xA8me est survenu sur l'imprimante.\\nConsultez l'\xC3\xA9"
              "cran de l'imprimante.");
}

TEST_F(PaperTableFileTest, UnusableScriptsGiveTheDefaultRow) {
    struct {
        const char* name;
        const char* dataFile;  // nullptr: leave the package's
        bool removeScript;
        std::string script;
    } cases[] = {
        {"no script", nullptr, true, ""},
        {"no UIConfigFile key", "[InstallConfig]\r\nStatusMonitor=larkmon.exe\r\n", false, ""},
        {"UIConfigFile without a dot", "[InstallConfig]\r\nUIConfigFile=settings\r\n", false, ""},
        {"no language block", nullptr, false,
         "var x = { szPaperSizes : [ \"A\", \"1;1;0;1;\", 0 ] };"},
        {"empty list", nullptr, false, "var sz0x0409 = { szPaperSizes : [ ] };"},
        {"all NUL bytes", nullptr, false, std::string(64, '\0')},
        {"invalid UTF-8", nullptr, false, "\xFF\xFE sz0x0409 \xC0\xAF szPaperSizes [ \"\xFF"},
    };
    for (const auto& c : cases) {
        WriteDriverFile("settings.js", c.script);
        if (c.removeScript) RemoveDriverFile("settings.js");
        if (c.dataFile != nullptr) WriteDriverFile("larkdata.ini", c.dataFile);
        OpenedPrinter printer;
        POINT sizes[kMaxPaperRows];
        WORD ids[kMaxPaperRows];
        int32_t codes[kMaxPaperRows] = {99};
        NameSlot names[kMaxPaperRows];
        SpecSlot specs[kMaxPaperRows] = {};
        ASSERT_EQ(QueryPaperTable(printer.handle, sizes, ids, codes), 1) << c.name;
        EXPECT_EQ(sizes[0].x, 1016) << c.name;
        EXPECT_EQ(sizes[0].y, 1524) << c.name;
        EXPECT_EQ(ids[0], 256) << c.name;
        EXPECT_EQ(codes[0], 0) << c.name;
        ASSERT_EQ(ReadPaperTable(printer.handle, names, specs, nullptr), 1) << c.name;
        EXPECT_EQ(Narrow(names[0]), "Automatic") << c.name;
        EXPECT_EQ(Narrow(specs[0]), "4.0;6.0;0;256;") << c.name;
        WCHAR message[kStatusMessageUnits] = {'d', 0};
        ReadStatusMessage(printer.handle, message);
        EXPECT_EQ(Narrow(message), "d") << c.name;
    }
}

TEST_F(PaperTableFileTest, ThreeHundredRowsNeverOverrunA256RowBuffer) {
    std::string script = "var sz0x0409 = { szPaperSizes : [ ";
    for (int i = 0; i < 300; ++i) script += "\"P\", \"1.0;2.0;1;" + std::to_string(i) + ";\", 1, ";
    script += "] };";
    WriteDriverFile("settings.js", script);
    OpenedPrinter printer;
    POINT sizes[kMaxPaperRows + 1];
    sizes[kMaxPaperRows].x = 12345;
    ASSERT_EQ(QueryPaperTable(printer.handle, sizes, nullptr, nullptr), 256);
    EXPECT_EQ(sizes[255].x, 100);
    EXPECT_EQ(sizes[255].y, 200);
    EXPECT_EQ(sizes[kMaxPaperRows].x, 12345);
}

TEST_F(PaperTableFileTest, ExhaustedHeapGivesTheDefaultRow) {
    OpenedPrinter printer;
    POINT sizes[kMaxPaperRows];
    winsim::FailCall("HeapAlloc", 0);
    EXPECT_EQ(QueryPaperTable(printer.handle, sizes, nullptr, nullptr), 1);
    winsim::ClearFaults();
    EXPECT_EQ(sizes[0].x, 1016);
}

}  // namespace
}  // namespace larktest
