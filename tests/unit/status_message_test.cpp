// The warning box's text from the printer data value StatusMessage: both
// reads, the backslash-n rule, and the built-in text on every failure.
#include "status_message.h"
#include "machine_fixture.h"
#include "scoped.h"

namespace {

class StatusMessageTest : public larktest::MachineTest {
protected:
    void SetUp() override {
        MachineTest::SetUp();
        winsim::PrinterRecord printer{u"Office Photo", u"USB001", u"Lark", {}, 0};
        ASSERT_TRUE(winsim::StorePrinter(printer));
    }
    ScopedPrinter Open() {
        WCHAR name[] = TEXT("Office Photo");
        PRINTER_DEFAULTSW defaults = {nullptr, nullptr, PRINTER_ACCESS_ADMINISTER};
        return OpenPrinterScoped(name, &defaults);
    }
    // Stored as the driver stores it: no terminator.
    void Store(const std::u16string& text) {
        ScopedPrinter printer = Open();
        WCHAR value[] = TEXT("StatusMessage");
        ASSERT_EQ(SetPrinterDataW(printer.get(), value, REG_SZ,
                                  reinterpret_cast<LPBYTE>(const_cast<char16_t*>(text.data())),
                                  static_cast<DWORD>(text.size() * 2)),
                  static_cast<DWORD>(ERROR_SUCCESS));
    }
    std::u16string Prepare(bool* isDefault = nullptr) {
        ScopedPrinter printer = Open();
        LPWSTR text = PrepareStatusMessage(printer.get());
        std::u16string copy(reinterpret_cast<const char16_t*>(text));
        if (isDefault != nullptr) *isDefault = text == DefaultStatusMessage;
        ReleaseStatusMessage(text);
        return copy;
    }
};

struct MessageCase {
    const char* name;
    std::u16string stored;  // u"\x1" : no value
    std::u16string shown;
};

TEST_F(StatusMessageTest, ReadsAndBreaksLines) {
    const std::u16string defaultText =
        u"There is a problem with your printer.\r\nCheck your printer screen for more information.";
    const std::u16string full256(256, u'x');
    const std::u16string long300 = std::u16string(150, u'a') + u"\\n" + std::u16string(148, u'b');
    const MessageCase cases[] = {
        {"no value", u"\x1", defaultText},
        {"plain", u"Check the printer.", u"Check the printer."},
        {"backslash-n breaks", u"One.\\nTwo.", u"One.\r\nTwo."},
        {"two breaks", u"\\n\\n", u"\r\n\r\n"},
        {"double backslash", u"a\\\\nb", u"a\\\r\nb"},
        {"backslash at end", u"end\\", u"end\\"},
        {"backslash before other", u"a\\tb", u"a\\tb"},
        {"exactly 512 bytes ends in its block", full256, full256},
        {"600 bytes takes the second read", long300,
         std::u16string(150, u'a') + u"\r\n" + std::u16string(148, u'b')},
        {"empty value", u"", u""},
    };
    for (const MessageCase& c : cases) {
        SetUp();
        if (c.stored != u"\x1") Store(c.stored);
        EXPECT_EQ(Prepare(), c.shown) << c.name;
        EXPECT_EQ(winsim::CurrentCounts().heapBlocks, before_.heapBlocks) << c.name;
    }
}

TEST_F(StatusMessageTest, FailuresGiveTheBuiltInText) {
    Store(std::u16string(300, u'z'));
    const char* const faults[] = {"first allocation", "second allocation", "second read"};
    for (const char* fault : faults) {
        const std::string f = fault;
        if (f == "first allocation") winsim::FailCall("HeapAlloc", 1);
        if (f == "second allocation") winsim::FailCall("HeapAlloc", 2);
        if (f == "second read") winsim::FailCall("GetPrinterDataW", 2);
        bool isDefault = false;
        Prepare(&isDefault);
        EXPECT_TRUE(isDefault) << fault;
        winsim::ClearFaults();
    }
    bool isDefault = true;
    EXPECT_EQ(Prepare(&isDefault), std::u16string(300, u'z'));
    EXPECT_FALSE(isDefault);
}

}  // namespace
