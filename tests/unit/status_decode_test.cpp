// Decoding the S field: hex digits, the supply records and their rules,
// the status table with its port statuses, and the box-once-per-change rule.
#include <cstring>

#include "device_status.h"
#include "machine_fixture.h"
#include "monitor_test_support.h"

namespace {

using larktest::DeviceId;
using larktest::SupplyRecord;

struct HexCase {
    const char* name;
    const char* chars;
    size_t count;
    std::vector<BYTE> bytes;
};

TEST(HexToBytes, DecodesPairsHighDigitFirst) {
    const HexCase cases[] = {
        {"upper", "0E", 2, {0x0E}},
        {"lower", "0e", 2, {0x0E}},
        {"non-digit high reads 0", "GE", 2, {0x0E}},
        {"both non-digits", "z!", 2, {0x00}},
        {"ff", "ff", 2, {0xFF}},
        {"eight digits four bytes", "8102A0fF", 8, {0x81, 0x02, 0xA0, 0xFF}},
        {"odd count leaves the high digit", "A", 1, {0xA0}},
        {"terminator reads 0", "7\0", 2, {0x70}},
    };
    for (const HexCase& c : cases) {
        BYTE out[8];
        std::memset(out, 0xCC, sizeof out);
        HexToBytes(out, c.chars, c.count);
        for (size_t i = 0; i < c.bytes.size(); ++i) {
            EXPECT_EQ(out[i], c.bytes[i]) << c.name << " byte " << i;
        }
        EXPECT_EQ(out[c.bytes.size()], 0xCC) << c.name << ": wrote past its bytes";
    }
}

struct InkCase {
    const char* name;
    std::string deviceId;
    int result;
};

std::string V3(const std::string& count, const std::vector<std::string>& records) {
    std::string tail = count;
    for (const auto& r : records) tail += r;
    return DeviceId("03", "02", tail);
}

TEST(StatusAlertTable, WarnsExactlyForTheAlertStatuses) {
    const int alerts[] = {6, 8, 9, 14, 15, 16, 17, 18, 22, 23, 26, 32, 33, 35, 42, 48, 49, 53};
    BYTE expected[60] = {};
    for (int status : alerts) expected[status] = 1;
    for (int status = 0; status < 60; ++status) {
        EXPECT_EQ(StatusAlertTable[status], expected[status]) << "status " << status;
    }
}

TEST(CheckInkLevels, RulesInOrder) {
    const std::string k1 = SupplyRecord(1, 2), k3 = SupplyRecord(3, 3), k10 = SupplyRecord(10, 7),
                      other = SupplyRecord(5, 2);
    const InkCase cases[] = {
        {"rule 1: none low",
         V3("4", {SupplyRecord(1, 1), SupplyRecord(3, 0), SupplyRecord(10, 1), SupplyRecord(2, 1)}),
         0},
        {"rule 2: kind-1 other kind-3", V3("3", {k1, other, k3}), -17},
        {"rule 3: kind-10 other kind-3", V3("3", {k10, other, k3}), -16},
        {"rule 4: kind-1 other", V3("2", {k1, other}), -3},
        {"rule 5: kind-1 kind-3", V3("2", {k1, k3}), -12},
        {"rule 6: kind-10 other", V3("2", {k10, other}), -15},
        {"rule 7: kind-10 kind-3", V3("2", {k10, k3}), -14},
        {"rule 8: other kind-3", V3("2", {other, k3}), -13},
        {"rule 9: kind-1", V3("1", {k1}), -4},
        {"rule 10: other", V3("1", {other}), -5},
        {"rule 11: kind-3", V3("1", {k3}), -10},
        {"rule 12: kind-10", V3("1", {k10}), -11},
        {"kind-1 hides kind-10", V3("2", {k10, k1}), -4},
        {"all four low", V3("4", {k1, k3, k10, other}), -17},
        {"every other kind counts", V3("1", {SupplyRecord(9, 2)}), -5},
        {"kinds 0 and 11 ignored", V3("2", {SupplyRecord(0, 7), SupplyRecord(11, 7)}), 0},
        {"absent record ignored", V3("1", {SupplyRecord(1, 7, false)}), 0},
        {"later record replaces", V3("2", {SupplyRecord(2, 3), SupplyRecord(7, 0)}), 0},
        {"later record makes low", V3("2", {SupplyRecord(3, 0), SupplyRecord(3, 2)}), -10},
        {"level bits above 2 ignored", V3("1", {"81FA0000"}), -4},
        {"bit 6 of byte 0 ignored", V3("1", {"C1020000"}), -4},
        {"count 0 reads nothing", V3("0", {k1}), 0},
        {"count beyond records", V3("3", {k1}), -4},
        {"version 04 count at 25",
         DeviceId("04", "02",
                  "0000"
                  "1" +
                      k3),
         -10},
        {"version 03 marker not at 04 position",
         DeviceId("03", "02",
                  "0000"
                  "1" +
                      k3),
         0},
        {"version 00 count is status digit", DeviceId("00", "02", k1), 0},
        {"version 01 count is the status digit", DeviceId("01", "1", k1), -4},
        {"no version marker",
         "MFG:Lark;S:9900000000000000000"
         "1" +
             k1,
         0},
        {"no S field", "MFG:Lark;CMD:JPEG;", 0},
        {"text ends inside a record",
         "X;S:03"
         "00000000000000"
         "02"
         "1"
         "81",
         0},
        {"text ends after byte 0 and 1",
         "X;S:03"
         "00000000000000"
         "02"
         "1"
         "8102",
         -4},
    };
    for (const InkCase& c : cases) {
        EXPECT_EQ(CheckInkLevels(c.deviceId.c_str()), c.result) << c.name << ": " << c.deviceId;
    }
}

// The count character right after the status byte (version 03): "1"-"8",
// "B"-"E" and "b"-"e" give records, every other character none.
TEST(CheckInkLevels, EveryCountCharacter) {
    for (int c = 1; c < 256; ++c) {
        size_t expected = 0;
        if (c >= '1' && c <= '8') expected = static_cast<size_t>(c - '0');
        if (c >= 'B' && c <= 'E') expected = static_cast<size_t>(c - 'A');
        if (c >= 'b' && c <= 'e') expected = static_cast<size_t>(c - 'a');
        for (size_t low = 1; low <= 8; ++low) {
            // Only record number `low` is present: it counts when the count reaches it.
            std::string tail(1, static_cast<char>(c));
            for (size_t i = 1; i <= 8; ++i) tail += SupplyRecord(1, 2, i == low);
            const std::string id = DeviceId("03", "02", tail);
            EXPECT_EQ(CheckInkLevels(id.c_str()) != 0, expected >= low)
                << "count character " << c << ", low record " << low;
        }
    }
}

class CheckStatusTest : public larktest::MachineTest {
protected:
    void SetUp() override {
        MachineTest::SetUp();
        winsim::PrinterRecord printer{u"Office Photo", u"USB001", u"Lark", {}, 0};
        ASSERT_TRUE(winsim::StorePrinter(printer));
        larktest::MakeLogFolder();
        ResetLastReportedStatus();
        SetStatusMessageText(TEXT("Check the printer."));
    }
    void TearDown() override {
        ResetLastReportedStatus();
        SetStatusMessageText(nullptr);
        MachineTest::TearDown();
    }
    int Check(const std::string& id) {
        const char* field = std::strstr(id.c_str(), ";S:");
        EXPECT_NE(field, nullptr);
        return CheckStatus(id.c_str(), name_, port_, static_cast<size_t>(field - id.c_str()));
    }
    WCHAR name_[16] = TEXT("Office Photo");
    WCHAR port_[8] = TEXT("USB001");
};

struct StatusCase {
    const char* name;
    std::string id;
    int returned;
    DWORD status;
    const char16_t* text;  // nullptr: none
    DWORD severity;
    int used;
    const char* logText;  // the line after the nibbles line, or nullptr
    size_t boxes;         // from a last reported status of 0
};

TEST_F(CheckStatusTest, StatusTable) {
    const std::string low = "1" + SupplyRecord(1, 2), ok = "1" + SupplyRecord(1, 1);
    const StatusCase cases[] = {
        {"00 idle", DeviceId("03", "00"), 0, 0, nullptr, 2, 0, nullptr, 0},
        {"02 nibbles twice", DeviceId("03", "02"), 2, 0, nullptr, 2, 2,
         "CheckStatus: Status nibbles are: 0:2", 0},
        {"02 with low ink", DeviceId("03", "02", low), 2, 0, u"Ink Levels are Low", 2, 2,
         "CheckStatus: Status nibbles are: 0:2", 1},
        {"02 with ink level 1", DeviceId("03", "02", ok), 2, 0, nullptr, 2, 2,
         "CheckStatus: Status nibbles are: 0:2", 0},
        {"04 printing", DeviceId("03", "04"), 4, 0, u"Printing", 3, 0, nullptr, 0},
        {"04 printing with low ink", DeviceId("03", "04", low), 4, 0, u"Ink Levels are Low", 3, 0,
         nullptr, 0},
        {"00 with low ink no box", DeviceId("03", "00", low), 0, 0, u"Ink Levels are Low", 2, 0,
         nullptr, 0},
        {"08 cover", DeviceId("03", "08"), 8, 7, nullptr, 2, 8, "Front cover open", 1},
        {"09 paper out", DeviceId("03", "09"), 9, 3, nullptr, 2, 9, "Printer is Out of Paper", 1},
        {"0E jam", DeviceId("03", "0E"), 14, 2, nullptr, 2, 14, "Paper Jam in the Printer", 1},
        {"0e jam lower case", DeviceId("03", "0e"), 14, 2, nullptr, 2, 14,
         "Paper Jam in the Printer", 1},
        {"01 not flagged", DeviceId("03", "01"), 1, 8, nullptr, 2, 1, "Printer needs attention", 0},
        {"06 flagged", DeviceId("03", "06"), 6, 8, nullptr, 2, 6, "Printer needs attention", 1},
        {"0A low ink not checked", DeviceId("03", "0A", low), 10, 8, nullptr, 2, 10,
         "Printer needs attention", 0},
        {"35 flagged", DeviceId("03", "35"), 53, 8, nullptr, 2, 53, "Printer needs attention", 1},
        {"3B 59", DeviceId("03", "3B"), 59, 8, nullptr, 2, 59, "Printer needs attention", 0},
        {"3C clamped", DeviceId("03", "3C"), 60, 8, nullptr, 2, 59, "Printer needs attention", 0},
        {"FF clamped", DeviceId("03", "FF"), 255, 8, nullptr, 2, 59, "Printer needs attention", 0},
        {"non-hex digits", DeviceId("03", "zz"), 0, 0, nullptr, 2, 0, nullptr, 0},
        {"text ends at 19", "X;S:0300000000000000", 0, 0, nullptr, 2, 0, nullptr, 0},
        {"text ends at 20",
         "X;S:03"
         "00000000000000"
         "E",
         224, 8, nullptr, 2, 59, "Printer needs attention", 0},
        {"only the field start", "X;S:", 0, 0, nullptr, 2, 0, nullptr, 0},
    };
    for (const StatusCase& c : cases) {
        ResetLastReportedStatus();
        std::remove(larktest::LogPath().c_str());
        const size_t statusesBefore = winsim::PortStatuses().size();
        const size_t boxesBefore = winsim::MessageBoxes().size();
        EXPECT_EQ(Check(c.id), c.returned) << c.name;
        auto statuses = winsim::PortStatuses();
        ASSERT_EQ(statuses.size(), statusesBefore + 1) << c.name;
        const auto& s = statuses.back();
        EXPECT_EQ(s.port, u"USB001") << c.name;
        EXPECT_EQ(s.status, c.status) << c.name;
        EXPECT_EQ(s.hasText, c.text != nullptr) << c.name;
        if (c.text != nullptr) {
            EXPECT_EQ(s.text, c.text) << c.name;
        }
        EXPECT_EQ(s.severity, c.severity) << c.name;
        auto log = larktest::LogLines();
        const int s8 = c.returned;
        char nibbles[64];
        std::snprintf(nibbles, sizeof nibbles, "CheckStatus: Status nibbles are: %x:%x", s8 / 16,
                      s8 % 16);
        std::vector<std::string> expected = {nibbles};
        if (c.logText != nullptr) expected.push_back(c.logText);
        expected.push_back("CheckStatus: Setting port status to " + std::to_string(c.used));
        EXPECT_EQ(log, expected) << c.name;
        EXPECT_EQ(winsim::MessageBoxes().size(), boxesBefore + c.boxes) << c.name;
        EXPECT_EQ(LastReportedStatus(), c.used) << c.name;
    }
}

TEST_F(CheckStatusTest, BoxShowsTheMessageWithPrinterCaption) {
    Check(DeviceId("03", "0E"));
    auto boxes = winsim::MessageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, u"Office Photo");
    EXPECT_EQ(boxes[0].text, u"Check the printer.");
    EXPECT_EQ(boxes[0].style, 0x40030u);
    EXPECT_NE(boxes[0].closedMicros, 0);
}

struct SequenceCase {
    const char* name;
    std::vector<std::string> statuses;
    size_t boxes;
};

TEST_F(CheckStatusTest, BoxOncePerChange) {
    const std::string low = "1" + SupplyRecord(3, 2);
    const SequenceCase cases[] = {
        {"jam three polls", {"0E", "0E", "0E"}, 1},
        {"jam, idle, jam", {"0E", "00", "0E"}, 2},
        {"jam, printing, jam", {"0E", "04", "0E"}, 2},
        {"cover then paper out", {"08", "09"}, 2},
        {"jam then 0e", {"0E", "0e"}, 1},
        {"unflagged between", {"0E", "01", "0E"}, 2},
        {"low ink twice", {"02" + low, "02" + low}, 1},
        {"low ink after plain 02", {"02", "02" + low}, 0},
        {"clamped flagged never", {"FF", "3C"}, 0},
    };
    for (const SequenceCase& c : cases) {
        ResetLastReportedStatus();
        const size_t before = winsim::MessageBoxes().size();
        for (const std::string& s : c.statuses) Check(DeviceId("03", s.substr(0, 2), s.substr(2)));
        EXPECT_EQ(winsim::MessageBoxes().size(), before + c.boxes) << c.name;
    }
}

TEST_F(CheckStatusTest, FailedSetPortIsLoggedAndTheBoxStillFollows) {
    winsim::FailCall("SetPortW", 1, ERROR_ACCESS_DENIED);
    EXPECT_EQ(Check(DeviceId("03", "0E")), 14);
    auto log = larktest::LogLines();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back(), "SetPort failed, error = 5");
    EXPECT_EQ(winsim::MessageBoxes().size(), 1u);
    EXPECT_EQ(LastReportedStatus(), 14);
}

TEST_F(CheckStatusTest, UnknownPortIsReportedBySetPort) {
    WCHAR port[] = TEXT("USB999");
    const std::string id = DeviceId("03", "00");
    CheckStatus(id.c_str(), name_, port, id.find(";S:"));
    auto log = larktest::LogLines();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back(), "SetPort failed, error = 1796");
}

}  // namespace
