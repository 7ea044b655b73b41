// The property-sheet entry points: the direct forms with the output buffer
// rule, the sheet reasons, the hidden page's records and the sheet title.
#include <gtest/gtest.h>

#include <cstring>

#include "config_support.h"
#include "driver_files.h"
#include "hidden_page.h"
#include "property_sheets.h"

namespace larktest {
namespace {

constexpr size_t kBuffer = 4096;
constexpr uint8_t kFill = 0xAB;

COMPROPSHEETUI* g_added;
bool g_accept;

LONG_PTR CALLBACK FakeAdd(HANDLE, UINT function, LPARAM record, LPARAM result) {
    EXPECT_EQ(function, static_cast<UINT>(CPSFUNC_ADD_PCOMPROPSHEETUIW));
    EXPECT_NE(result, 0);
    g_added = reinterpret_cast<COMPROPSHEETUI*>(record);
    return g_accept ? 1 : 0;
}

class PropertySheetsTest : public MachineTest {
protected:
    void SetUp() override {
        MachineTest::SetUp();
        InstallDriverAndStorePrinter();
        StoreBuiltDefaultDevmode();
        g_added = nullptr;
        g_accept = true;
    }
    void TearDown() override {
        EXPECT_TRUE(winsim::WaitForProcessThreads(5000)) << "closing thread still running";
        MachineTest::TearDown();
    }
    PROPSHEETUI_INFO Info(WORD reason, DOCUMENTPROPERTYHEADER* header) {
        PROPSHEETUI_INFO info = {};
        info.cbSize = sizeof info;
        info.Version = 0x100;
        info.Reason = reason;
        info.pfnComPropSheet = reinterpret_cast<decltype(info.pfnComPropSheet)>(&FakeAdd);
        info.lParamInit = reinterpret_cast<LPARAM>(header);
        return info;
    }
    std::u16string name_ = kPrinter;
};

std::vector<uint8_t> StoredDevmode() {
    winsim::PrinterRecord record;
    EXPECT_TRUE(winsim::GetPrinterRecord(kPrinter, &record));
    return record.devmode;
}

TEST_F(PropertySheetsTest, DirectFormsAndTheOutputBufferRule) {
    enum Copy { None, Whole, PublicOnly };
    struct Row {
        const char* name;
        DWORD mode;
        bool handle;
        bool input;       // an application devmode asking for landscape
        DWORD cbOut;      // as the caller states it
        WORD bufferSize;  // dmSize already in the buffer (0: none)
        LONG result;
        Copy copy;
        bool merged;
    } rows[] = {
        {"size query", 0, true, false, 0, 0, 2328, None, false},
        {"copy of the printer's devmode", DM_OUT_BUFFER, true, false, 0, 0, 1, Whole, false},
        {"by name", DM_OUT_BUFFER, false, false, 0, 0, 1, Whole, false},
        {"input without DM_IN_BUFFER copies nothing", DM_OUT_BUFFER, true, true, 0, 0, 1, None,
         false},
        {"input merged with a handle", DM_IN_BUFFER | DM_OUT_BUFFER, true, true, 0, 0, 1, Whole,
         true},
        {"input without a handle: unmerged", DM_IN_BUFFER | DM_OUT_BUFFER, false, true, 0, 0, 1,
         Whole, false},
        {"stated 4000 bytes", DM_OUT_BUFFER, true, false, 4000, 0, 1, Whole, false},
        {"stated 220 bytes: public part alone", DM_OUT_BUFFER, true, false, 220, 0, 1, PublicOnly,
         false},
        {"stated 2327 bytes: public part alone", DM_OUT_BUFFER, true, false, 2327, 0, 1, PublicOnly,
         false},
        {"stated 100 bytes: refused", DM_OUT_BUFFER, true, false, 100, 0, -1, None, false},
        {"stated as the dmSize already there", DM_OUT_BUFFER, true, false, 220, 220, 1, Whole,
         false},
    };
    const std::vector<uint8_t> stored = StoredDevmode();
    ASSERT_EQ(stored.size(), kDriverDevmodeSize);
    for (const Row& row : rows) {
        std::vector<uint8_t> out(kBuffer, kFill);
        if (row.bufferSize != 0) {
            std::memcpy(out.data(), stored.data(), stored.size());
            reinterpret_cast<DEVMODEW*>(out.data())->dmOrientation = 7;  // tell copies apart
        }
        const std::vector<uint8_t> before = out;
        std::vector<uint8_t> input = stored;
        auto* in = reinterpret_cast<DEVMODEW*>(input.data());
        in->dmFields = DM_ORIENTATION;
        in->dmOrientation = DMORIENT_LANDSCAPE;
        OpenedPrinter printer;
        DOCUMENTPROPERTYHEADER header = {};
        header.cbSize = sizeof header;
        header.hPrinter = row.handle ? printer.handle : nullptr;
        header.pszPrinterName = name_.data();
        header.pdmIn = row.input ? in : nullptr;
        header.pdmOut = reinterpret_cast<DEVMODEW*>(out.data());
        header.cbOut = row.cbOut;
        header.fMode = row.mode;
        EXPECT_EQ(DrvDocumentPropertySheets(nullptr, reinterpret_cast<LPARAM>(&header)), row.result)
            << row.name;
        if (row.result != -1) {
            EXPECT_EQ(header.cbOut, 2328u) << row.name;
        }
        size_t written = row.copy == Whole ? 2328 : row.copy == PublicOnly ? 220 : 0;
        EXPECT_TRUE(std::equal(out.begin() + written, out.end(), before.begin() + written))
            << row.name << ": written past " << written;
        if (row.copy == None) continue;
        const auto* dm = reinterpret_cast<const DriverDevmode*>(out.data());
        EXPECT_LE(dm->dm.dmSize + dm->dm.dmDriverExtra, written) << row.name;
        EXPECT_EQ(dm->dm.dmOrientation, row.merged ? DMORIENT_LANDSCAPE : DMORIENT_PORTRAIT)
            << row.name;
        if (row.copy == PublicOnly) {
            EXPECT_EQ(dm->dm.dmDriverExtra, 0) << row.name;
        }
        if (row.copy == Whole && !row.merged) {
            EXPECT_EQ(std::memcmp(out.data(), stored.data(), 2328), 0) << row.name;
        }
    }
}

TEST_F(PropertySheetsTest, DocumentPropertiesEntry) {
    std::vector<uint8_t> out(kBuffer, kFill);
    auto* dm = reinterpret_cast<DEVMODEW*>(out.data());
    OpenedPrinter printer;
    EXPECT_EQ(DrvDocumentProperties(nullptr, printer.handle, name_.data(), dm, nullptr, 0), 2328);
    EXPECT_EQ(DrvDocumentProperties(nullptr, printer.handle, name_.data(), nullptr, nullptr,
                                    DM_OUT_BUFFER),
              2328);
    EXPECT_EQ(DrvDocumentProperties(nullptr, printer.handle, name_.data(), dm, nullptr,
                                    DM_PROMPT | DM_COPY),
              IDCANCEL);
    EXPECT_EQ(out[0], kFill) << "DM_PROMPT copied";
    EXPECT_EQ(DrvDocumentProperties(nullptr, printer.handle, name_.data(), dm, nullptr, DM_COPY),
              IDOK);
    EXPECT_EQ(std::memcmp(out.data(), StoredDevmode().data(), 2328), 0);
    EXPECT_EQ(
        DrvAdvancedDocumentProperties(nullptr, printer.handle, name_.data(), nullptr, nullptr),
        2328);
    EXPECT_EQ(DrvAdvancedDocumentProperties(nullptr, printer.handle, name_.data(), dm, nullptr), 0);
}

TEST_F(PropertySheetsTest, DocumentSheetReasons) {
    std::vector<uint8_t> out(kBuffer, kFill);
    DOCUMENTPROPERTYHEADER header = {};
    header.cbSize = sizeof header;
    header.pszPrinterName = name_.data();
    header.pdmOut = reinterpret_cast<DEVMODEW*>(out.data());
    header.fMode = DM_IN_BUFFER;
    PROPSHEETUI_INFO info = Info(PROPSHEETUI_REASON_INIT, &header);
    ASSERT_EQ(DrvDocumentPropertySheets(&info, 0), 1);
    EXPECT_EQ(info.Result, 0u);
    ASSERT_NE(info.UserData, 0u);
    EXPECT_EQ(winsim::LiveThreadCount(), 1) << "closing thread created suspended";

    PROPSHEETUI_INFO_HEADER infoHeader = {};
    infoHeader.cbSize = sizeof infoHeader;
    info.Reason = PROPSHEETUI_REASON_GET_INFO_HEADER;
    EXPECT_EQ(DrvDocumentPropertySheets(&info, reinterpret_cast<LPARAM>(&infoHeader)), 1);
    EXPECT_EQ(infoHeader.Flags, PSUIHDRF_NOAPPLYNOW | PSUIHDRF_PROPTITLE);
    EXPECT_EQ(infoHeader.pTitle, name_.data());
    EXPECT_EQ(infoHeader.IconID, 64082u);

    info.Reason = PROPSHEETUI_REASON_SET_RESULT;
    EXPECT_EQ(DrvDocumentPropertySheets(&info, 0), 1);
    EXPECT_EQ(info.Result, static_cast<ULONG_PTR>(CPSUI_OK));
    EXPECT_EQ(out[0], kFill) << "DM_IN_BUFFER alone copies nothing";
    header.fMode = DM_IN_BUFFER | DM_OUT_BUFFER;
    EXPECT_EQ(DrvDocumentPropertySheets(&info, 0), 1);
    EXPECT_EQ(std::memcmp(out.data(), StoredDevmode().data(), 2328), 0);
    EXPECT_EQ(out[2328], kFill);

    info.Reason = 77;
    EXPECT_EQ(DrvDocumentPropertySheets(&info, 0), -1);
    info.Reason = PROPSHEETUI_REASON_DESTROY;
    EXPECT_EQ(DrvDocumentPropertySheets(&info, 0), 1);
    EXPECT_EQ(info.UserData, 0u);
    EXPECT_EQ(DrvDocumentPropertySheets(&info, 0), 1) << "a second DESTROY finds no page";

    struct Row {
        const char* name;
        const char16_t* printer;
        LONG result;
    } refusals[] = {{"no name, no handle", nullptr, -1},
                    {"empty name", u"", -1},
                    {"unknown printer", u"Nobody", -1}};
    g_added = nullptr;
    for (const Row& row : refusals) {
        std::u16string n = row.printer != nullptr ? row.printer : u"";
        header.pszPrinterName = row.printer != nullptr ? n.data() : nullptr;
        info = Info(PROPSHEETUI_REASON_INIT, &header);
        EXPECT_EQ(DrvDocumentPropertySheets(&info, 0), row.result) << row.name;
        EXPECT_EQ(g_added, nullptr) << row.name;
    }
    EXPECT_EQ(DrvDocumentPropertySheets(nullptr, 0), -1);
}

TEST_F(PropertySheetsTest, RefusedPageLeavesNothing) {
    for (PageVariant variant : {DocumentPage, DevicePage}) {
        g_accept = false;
        DOCUMENTPROPERTYHEADER header = {};
        header.cbSize = sizeof header;
        header.pszPrinterName = name_.data();
        PROPSHEETUI_INFO info = Info(PROPSHEETUI_REASON_INIT, &header);
        auto entry = variant == DocumentPage ? DrvDocumentPropertySheets : DrvDevicePropertySheets;
        EXPECT_EQ(entry(&info, 0), 1);
        EXPECT_EQ(info.Result, 0u);
        EXPECT_EQ(info.UserData, 0u);
        EXPECT_NE(g_added, nullptr);
        EXPECT_TRUE(winsim::WaitForProcessThreads(2000));
        info.Reason = PROPSHEETUI_REASON_DESTROY;
        EXPECT_EQ(entry(&info, 0), 1);
    }
    for (const auto& e : winsim::UiEvents()) {
        EXPECT_NE(e.kind, "send") << "the refused sheet's thread pressed";
    }
}

TEST_F(PropertySheetsTest, PageRecordsAndTitle) {
    winsim::SetSetting("clock", "09:05:07.045");
    for (PageVariant variant : {DocumentPage, DevicePage}) {
        OpenedPrinter printer;
        DOCUMENTPROPERTYHEADER header = {};
        header.cbSize = sizeof header;
        header.hPrinter = printer.handle;
        header.pszPrinterName = name_.data();
        PROPSHEETUI_INFO info = Info(PROPSHEETUI_REASON_INIT, &header);
        auto entry = variant == DocumentPage ? DrvDocumentPropertySheets : DrvDevicePropertySheets;
        ASSERT_EQ(entry(&info, 0), 1);
        ASSERT_NE(g_added, nullptr);
        const COMPROPSHEETUI& ui = *g_added;
        EXPECT_EQ(ui.cbSize, 128);
        EXPECT_EQ(ui.Flags, CPSUIF_UPDATE_PERMISSION);
        EXPECT_EQ(ui.pCallerName, name_.data());
        EXPECT_EQ(ui.pOptItemName, name_.data());
        EXPECT_EQ(Narrow(ui.pHelpFile),
                  Narrow((winsim::DriverDirectory() + u"\\3\\lark.hlp").c_str()));
        EXPECT_EQ(ui.pDlgPage, CPSUI_PDLGPAGE_TREEVIEWONLY);
        EXPECT_EQ(ui.cOptItem, 1);
        EXPECT_EQ(ui.cDlgPage, 0);
        EXPECT_EQ(ui.CallerVersion, 0x100);
        EXPECT_EQ(ui.OptItemVersion, 0x100);
        const OPTITEM* items = ui.pOptItem;
        for (int i = 0; i < 2; ++i) {
            EXPECT_EQ(items[i].cbSize, 88);
            EXPECT_EQ(items[i].Level, i);
            EXPECT_EQ(items[i].Flags, static_cast<DWORD>(OPTIF_DISABLED));
            EXPECT_EQ(items[i].UserItemID, 42);
        }
        EXPECT_EQ(reinterpret_cast<ULONG_PTR>(items[0].pName), 64852u);
        EXPECT_EQ(reinterpret_cast<ULONG_PTR>(items[1].pName), 64798u);
        EXPECT_EQ(items[0].Sel, 64076);
        EXPECT_EQ(items[1].Sel, 64079);
        EXPECT_EQ(items[0].pOptType, nullptr);
        const OPTTYPE* type = items[1].pOptType;
        ASSERT_NE(type, nullptr);
        EXPECT_EQ(type->cbSize, 48);
        EXPECT_EQ(type->Type, TVOT_COMBOBOX);
        EXPECT_EQ(type->Count, 1);
        EXPECT_EQ(type->pOptParam[0].cbSize, 48);
        EXPECT_EQ(type->pOptParam[1].Flags, OPTPF_DISABLED);
        EXPECT_EQ(Narrow(type->pOptParam[0].pData), "Yes");
        EXPECT_EQ(Narrow(type->pOptParam[1].pData), "No");
        if (variant == DocumentPage) {
            EXPECT_EQ(ui.pfnCallBack, &DocumentPageCallback);
            EXPECT_NE(items[0].UserData, 0u) << "closing thread";
            EXPECT_EQ(Narrow(reinterpret_cast<const WCHAR*>(items[1].UserData)), "Lark Test 95745");
            EXPECT_EQ(reinterpret_cast<DriverDevmode*>(ui.UserData)->dm.dmSize, 220);
        } else {
            EXPECT_EQ(ui.pfnCallBack, &DevicePageCallback);
            EXPECT_EQ(items[0].UserData, 0u);
            EXPECT_EQ(items[1].UserData, 0u);
            EXPECT_EQ(Narrow(reinterpret_cast<const WCHAR*>(ui.UserData)), "Lark Test");
        }
        info.Reason = PROPSHEETUI_REASON_DESTROY;
        EXPECT_EQ(entry(&info, 0), 1);
        g_added = nullptr;
    }
}

}  // namespace
}  // namespace larktest

namespace larktest {
namespace {

// Two sheets of one printer initialised at once on two threads: each page
// gets the closing thread its own INIT made.
TEST_F(PropertySheetsTest, TwoSheetsInitialisedAtOnce) {
    struct Sheet {
        DOCUMENTPROPERTYHEADER header = {};
        PROPSHEETUI_INFO info = {};
        LONG answer = 0;
    } sheets[2];
    for (Sheet& s : sheets) {
        s.header.cbSize = sizeof s.header;
        s.header.pszPrinterName = name_.data();
        s.info = Info(PROPSHEETUI_REASON_INIT, &s.header);
    }
    auto init = [](LPVOID p) -> DWORD {
        auto* s = static_cast<Sheet*>(p);
        s->answer = DrvDocumentPropertySheets(&s->info, 0);
        return 0;
    };
    HANDLE threads[2];
    for (int i = 0; i < 2; ++i) {
        threads[i] = CreateThread(nullptr, 0, init, &sheets[i], 0, nullptr);
        ASSERT_NE(threads[i], nullptr);
    }
    for (HANDLE t : threads) {
        EXPECT_EQ(WaitForSingleObject(t, 5000), static_cast<DWORD>(WAIT_OBJECT_0));
        CloseHandle(t);
    }
    const OPTITEM* items[2];
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(sheets[i].answer, 1);
        ASSERT_NE(sheets[i].info.UserData, 0u);
        items[i] = reinterpret_cast<COMPROPSHEETUI*>(sheets[i].info.UserData)->pOptItem;
        EXPECT_NE(items[i][0].UserData, 0u);
    }
    EXPECT_NE(items[0][0].UserData, items[1][0].UserData) << "both pages got one thread";
    EXPECT_NE(items[0][1].UserData, items[1][1].UserData) << "both pages got one title";
    EXPECT_EQ(winsim::LiveThreadCount(), 2);
    for (Sheet& s : sheets) {
        s.info.Reason = PROPSHEETUI_REASON_DESTROY;
        EXPECT_EQ(DrvDocumentPropertySheets(&s.info, 0), 1);
    }
}

// SET_RESULT under the output-buffer rule: only a whole devmode written out
// is an answer. A stated buffer that cannot take even the public part
// writes nothing and turns the result into CPSUI_CANCEL, in Result and in
// the SETRESULT_INFO passed on to the sheet's caller, with
// ERROR_INSUFFICIENT_BUFFER; a public part alone is still an answer.
TEST_F(PropertySheetsTest, SetResultAnswersOnlyWhatItWrote) {
    struct Row {
        const char* name;
        DWORD cbOut;
        WORD staleDmSize;  // dmSize of whatever the buffer held (0: zeroed)
        ULONG_PTR result;
        size_t written;
        DWORD error;
    } rows[] = {
        {"told the size: whole", 0, 0, CPSUI_OK, 2328, 0xdeadbeef},
        {"stated 2328: whole", 2328, 0, CPSUI_OK, 2328, 0xdeadbeef},
        {"stated 220: public part", 220, 0, CPSUI_OK, 220, 0xdeadbeef},
        {"stated 2327: public part", 2327, 0, CPSUI_OK, 220, 0xdeadbeef},
        {"stated 219: nothing", 219, 0, CPSUI_CANCEL, 0, ERROR_INSUFFICIENT_BUFFER},
        {"stated 150 with a stale dmSize 150", 150, 150, CPSUI_CANCEL, 0,
         ERROR_INSUFFICIENT_BUFFER},
    };
    for (const Row& row : rows) {
        std::vector<uint8_t> out(kBuffer, kFill);
        auto* stale = reinterpret_cast<DEVMODEW*>(out.data());
        if (row.staleDmSize != 0) {
            stale->dmSize = row.staleDmSize;
            stale->dmDriverExtra = 0;
        }
        const std::vector<uint8_t> before = out;
        DOCUMENTPROPERTYHEADER header = {};
        header.cbSize = sizeof header;
        header.pszPrinterName = name_.data();
        header.pdmOut = stale;
        header.cbOut = row.cbOut;
        header.fMode = DM_IN_PROMPT | DM_OUT_BUFFER;
        PROPSHEETUI_INFO info = Info(PROPSHEETUI_REASON_INIT, &header);
        ASSERT_EQ(DrvDocumentPropertySheets(&info, 0), 1) << row.name;
        SETRESULT_INFO passed = {sizeof passed, 0, nullptr, CPSUI_OK};
        info.Reason = PROPSHEETUI_REASON_SET_RESULT;
        SetLastError(0xdeadbeef);
        EXPECT_EQ(DrvDocumentPropertySheets(&info, reinterpret_cast<LPARAM>(&passed)), 1)
            << row.name;
        EXPECT_EQ(GetLastError(), row.error) << row.name;
        EXPECT_EQ(info.Result, row.result) << row.name;
        EXPECT_EQ(static_cast<ULONG_PTR>(passed.Result), row.result) << row.name;
        EXPECT_TRUE(std::equal(out.begin() + static_cast<long>(row.written), out.end(),
                               before.begin() + static_cast<long>(row.written)))
            << row.name << ": written past " << row.written;
        if (row.written != 0) {
            EXPECT_EQ(stale->dmSize + stale->dmDriverExtra, row.written) << row.name;
        }
        info.Reason = PROPSHEETUI_REASON_DESTROY;
        EXPECT_EQ(DrvDocumentPropertySheets(&info, 0), 1) << row.name;
    }
}

// The sheet goes out of view while the dialog runs only when its closing
// thread will close it; without one the user must see it to close it.
TEST_F(PropertySheetsTest, SheetHiddenOnlyWhenSomethingClosesIt) {
    InstallPackageAndPrinter(u"Lark Photo", u"USB001");
    winsim::SetSetting("sleep_scale", "0.001");
    winsim::SetSetting("sheet_timeout_ms", "300");
    struct Row {
        const char* name;
        bool threadFails;
        bool moved;
        LONG answer;
    } rows[] = {
        {"with its closing thread", false, true, IDOK},
        {"CreateThread failing: left in view, closed by the user", true, false, IDCANCEL},
    };
    std::u16string printer = u"Lark Photo";
    for (const Row& row : rows) {
        winsim::ClearFaults();
        if (row.threadFails) winsim::FailCall("CreateThread", 1, ERROR_NOT_ENOUGH_MEMORY);
        winsim::QueueDialogOutcome({winsim::DialogKind::Answer, u"1000=1;9900=257;", 0});
        auto events = winsim::UiEvents();
        const int64_t mark = events.empty() ? 0 : events.back().seq;
        std::vector<uint8_t> out(kDriverDevmodeSize);
        EXPECT_EQ(DocumentPropertiesW(nullptr, nullptr, printer.data(),
                                      reinterpret_cast<DEVMODEW*>(out.data()), nullptr,
                                      DM_IN_PROMPT | DM_OUT_BUFFER),
                  row.answer)
            << row.name;
        bool retitled = false, moved = false;
        for (const auto& e : winsim::UiEvents()) {
            if (e.seq <= mark) continue;
            retitled = retitled || e.kind == "retitle";
            moved = moved || e.kind == "move";
        }
        EXPECT_TRUE(retitled) << row.name;
        EXPECT_EQ(moved, row.moved) << row.name;
    }
    winsim::ClearFaults();
}

// The whole road as an application plays it, through larksim: the page,
// a sample page, the answer, the closing thread's press, the devmode out,
// and nothing held at the end.
TEST_F(PropertySheetsTest, LarksimPlaysTheWholeRoad) {
    InstallPackageAndPrinter(u"Lark Photo", u"USB001");
    winsim::SetSetting("sleep_scale", "0.001");
    std::string out;
    ASSERT_EQ(RunLarksim("properties 'Lark Photo' --sample --answer '1000=1;9900=257;'", &out), 0)
        << out;
    for (const char* expected :
         {"driver INIT answered 1, Result 0", "sample page requested -> job",
          "answered \"1000=1;9900=257;\"", "sent WM_LBUTTONDOWN to control 1",
          "page 1 APPLYNOW answered 4", "driver SET_RESULT answered 1, Result 1",
          "driver DESTROY answered 1", "DocumentPropertiesW answered 1 IDOK", "paper size 257",
          "settings \"1000=1;9900=257;\"", "printer data PrinterSettings: \"1000=1;9900=257;\"",
          "accounting: nothing held"}) {
        EXPECT_NE(out.find(expected), std::string::npos) << expected << "\n" << out;
    }
    ASSERT_EQ(RunLarksim("properties 'Lark Photo' --direct --landscape --paper 258", &out), 0)
        << out;
    EXPECT_NE(out.find("size query (mode 0): 2328"), std::string::npos) << out;
    EXPECT_NE(out.find("paper size 258, orientation 2"), std::string::npos) << out;
    EXPECT_EQ(RunLarksim("properties 'Lark Photo' --paper abc", &out), 2) << out;
}

}  // namespace
}  // namespace larktest
