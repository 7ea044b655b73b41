// DrvDocumentEvent: the record of a device context from its PRE to its POST
// event, the guard over records that fault, and the launch of the monitor.
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <fstream>
#include <thread>

#include "default_devmode.h"
#include "printjob_support.h"
#include "text.h"
#include "unreadable_pages.h"

namespace {

using larktest::Narrow;

class DocumentEventTest : public larktest::MachineTest {
protected:
    void SetUp() override {
        MachineTest::SetUp();
        larktest::InstallDriverAndStorePrinter();
        larktest::StoreBuiltDefaultDevmode();
        larktest::SetResolutionValue(300 << 16 | 300);
        BuildDefaultDevmode(&application_, u"Other Printer");
        printer_ = std::make_unique<larktest::OpenedPrinter>();
    }
    void TearDown() override {
        printer_.reset();
        MachineTest::TearDown();
    }
    int Event(int iEsc, void* in, void* out) {
        return DrvDocumentEvent(printer_->handle, nullptr, iEsc, 0, in, 0, out);
    }
    int CreatePre(DEVMODEW* devmode, void* out) {
        DOCEVENT_CREATEDCPRE pre = {nullptr, nullptr, devmode, FALSE};
        return Event(DOCUMENTEVENT_CREATEDCPRE, &pre, out);
    }
    long GlobalBlocks() { return winsim::CurrentCounts().globalBlocks - before_.globalBlocks; }

    DriverDevmode application_;
    std::unique_ptr<larktest::OpenedPrinter> printer_;
};

TEST_F(DocumentEventTest, CreateAndResetRecordsLiveFromPreToPost) {
    application_.dm.dmFields = DM_PAPERSIZE;
    application_.dm.dmPaperSize = 257;  // the second row, 5 x 7 in, code 1
    void* record = nullptr;
    ASSERT_EQ(CreatePre(&application_.dm, &record), DOCUMENTEVENT_SUCCESS);
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(GlobalBlocks(), 1);
    auto* r = static_cast<DriverDevmode*>(record);
    EXPECT_EQ(Narrow(r->priv.Settings), "1000=1;");
    EXPECT_EQ(r->priv.PageWidthDots, 1500u);
    EXPECT_EQ(r->priv.PageLengthDots, 2100u);
    // The application's record came from another printer of the driver.
    EXPECT_EQ(Narrow(r->priv.PrinterName), "Lark Test");
    EXPECT_EQ(Narrow(r->dm.dmDeviceName), "Lark Test");
    EXPECT_EQ(Event(DOCUMENTEVENT_CREATEDCPOST, &record, nullptr), DOCUMENTEVENT_SUCCESS);
    EXPECT_EQ(GlobalBlocks(), 0);

    DriverDevmode landscape = application_;
    landscape.dm.dmFields = DM_ORIENTATION;
    landscape.dm.dmOrientation = 2;
    DEVMODEW* in = &landscape.dm;
    ASSERT_EQ(Event(DOCUMENTEVENT_RESETDCPRE, &in, &record), DOCUMENTEVENT_SUCCESS);
    r = static_cast<DriverDevmode*>(record);
    EXPECT_EQ(r->priv.PaperWidthMm, 152);
    EXPECT_EQ(r->priv.PaperLengthMm, 101);
    EXPECT_EQ(r->priv.XResolution, 300);
    EXPECT_EQ(Event(DOCUMENTEVENT_RESETDCPOST, &record, nullptr), DOCUMENTEVENT_SUCCESS);
    EXPECT_EQ(GlobalBlocks(), 0);
}

// Every row ends with nothing allocated and, where pvOut can be written, a
// null pointer there.
struct FailureRow {
    const char* name;
    int result;
    int (*run)(DocumentEventTest* t, DriverDevmode* app, void** out);
};

class DocumentEventRows : public DocumentEventTest {
public:
    using DocumentEventTest::CreatePre;
    using DocumentEventTest::Event;
};

int OwnExtensionInto(larktest::UnreadablePages* pages, DriverDevmode* app, size_t readable) {
    app->dm.dmFields = 0;
    std::memcpy(pages->Tail(readable), app, readable);
    return 0;
}

const FailureRow kFailureRows[] = {
    {"PRE without pvIn", DOCUMENTEVENT_UNSUPPORTED,
     [](DocumentEventTest* t, DriverDevmode*, void** out) {
         return static_cast<DocumentEventRows*>(t)->Event(DOCUMENTEVENT_CREATEDCPRE, nullptr, out);
     }},
    {"PRE without pvOut", DOCUMENTEVENT_UNSUPPORTED,
     [](DocumentEventTest* t, DriverDevmode* app, void**) {
         return static_cast<DocumentEventRows*>(t)->CreatePre(&app->dm, nullptr);
     }},
    {"PRE without printer", DOCUMENTEVENT_UNSUPPORTED,
     [](DocumentEventTest*, DriverDevmode* app, void** out) {
         DOCEVENT_CREATEDCPRE pre = {nullptr, nullptr, &app->dm, FALSE};
         return DrvDocumentEvent(nullptr, nullptr, DOCUMENTEVENT_CREATEDCPRE, 0, &pre, 0, out);
     }},
    {"null application devmode", DOCUMENTEVENT_FAILURE,
     [](DocumentEventTest* t, DriverDevmode*, void** out) {
         return static_cast<DocumentEventRows*>(t)->CreatePre(nullptr, out);
     }},
    {"global heap exhausted", DOCUMENTEVENT_FAILURE,
     [](DocumentEventTest* t, DriverDevmode* app, void** out) {
         winsim::FailCall("GlobalAlloc", 1, ERROR_NOT_ENOUGH_MEMORY);
         return static_cast<DocumentEventRows*>(t)->CreatePre(&app->dm, out);
     }},
    {"printer without a stored devmode", DOCUMENTEVENT_FAILURE,
     [](DocumentEventTest* t, DriverDevmode* app, void** out) {
         winsim::SetPrinterDevmode(larktest::kPrinter, {});
         return static_cast<DocumentEventRows*>(t)->CreatePre(&app->dm, out);
     }},
    {"devmode pointer into an unreadable page", DOCUMENTEVENT_FAILURE,
     [](DocumentEventTest* t, DriverDevmode*, void** out) {
         larktest::UnreadablePages pages;
         return static_cast<DocumentEventRows*>(t)->CreatePre(
             reinterpret_cast<DEVMODEW*>(pages.Forbidden()), out);
     }},
    {"own extension claimed past the memory behind it", DOCUMENTEVENT_FAILURE,
     [](DocumentEventTest* t, DriverDevmode* app, void** out) {
         larktest::UnreadablePages pages;
         OwnExtensionInto(&pages, app, 1000);
         return static_cast<DocumentEventRows*>(t)->CreatePre(
             reinterpret_cast<DEVMODEW*>(pages.Tail(1000)), out);
     }},
    {"CREATEDCPRE record itself unreadable", DOCUMENTEVENT_FAILURE,
     [](DocumentEventTest* t, DriverDevmode*, void** out) {
         larktest::UnreadablePages pages;
         return static_cast<DocumentEventRows*>(t)->Event(DOCUMENTEVENT_CREATEDCPRE,
                                                          pages.Forbidden(), out);
     }},
    {"RESETDCPRE devmode pointer unreadable", DOCUMENTEVENT_FAILURE,
     [](DocumentEventTest* t, DriverDevmode*, void** out) {
         larktest::UnreadablePages pages;
         auto* in = reinterpret_cast<DEVMODEW*>(pages.Forbidden());
         return static_cast<DocumentEventRows*>(t)->Event(DOCUMENTEVENT_RESETDCPRE, &in, out);
     }},
    {"pvOut read-only", DOCUMENTEVENT_FAILURE,
     [](DocumentEventTest* t, DriverDevmode* app, void**) {
         larktest::UnreadablePages pages;
         pages.MakeReadOnly();
         return static_cast<DocumentEventRows*>(t)->CreatePre(&app->dm, pages.Tail(8));
     }},
};

TEST_F(DocumentEventRows, RefusalsAndFaultsLeaveNothingAllocated) {
    winsim::PrinterRecord record;
    ASSERT_TRUE(winsim::GetPrinterRecord(larktest::kPrinter, &record));
    for (const FailureRow& row : kFailureRows) {
        SCOPED_TRACE(row.name);
        winsim::SetPrinterDevmode(larktest::kPrinter, record.devmode);
        DriverDevmode app = application_;
        void* out = reinterpret_cast<void*>(0x1);
        EXPECT_EQ(row.run(this, &app, &out), row.result);
        if (row.result == DOCUMENTEVENT_FAILURE && std::strcmp(row.name, "pvOut read-only") != 0) {
            EXPECT_EQ(out, nullptr);
        }
        EXPECT_EQ(GlobalBlocks(), 0);
        winsim::ClearFaults();
    }
}

// Random application records, each placed so that the byte after what its
// header claims (dmSize plus dmDriverExtra) is unreadable: any read past the
// claim would fault and fail the event.
TEST_F(DocumentEventTest, RandomRecordsAreReadOnlyWithinTheirClaim) {
    larktest::UnreadablePages pages;
    uint32_t seed = 12345;
    auto next = [&seed] { return seed = seed * 1664525u + 1013904223u; };
    for (int i = 0; i < 300; ++i) {
        DriverDevmode random;
        auto* bytes = reinterpret_cast<uint8_t*>(&random);
        for (size_t b = 0; b < sizeof random; ++b) bytes[b] = static_cast<uint8_t>(next() >> 24);
        // Sizes stay multiples of 4 so that every record is aligned as an
        // application's DEVMODEW is, with its end right at the unreadable page.
        random.dm.dmSize = next() % 4 == 0 ? static_cast<WORD>(72 + 4 * (next() % 75)) : 220;
        random.dm.dmDriverExtra = static_cast<WORD>((next() % (pages.page - 400)) & ~3u);
        if (next() % 2 == 0) random.dm.dmDriverVersion = kDriverVersion;
        if (next() % 2 == 0) random.priv.Signature1 = random.priv.Signature2 = PrivateSignature;
        size_t claim = random.dm.dmSize + random.dm.dmDriverExtra;
        uint8_t* at = pages.Tail(claim);
        std::memcpy(at, &random, std::min(claim, sizeof random));
        void* out = nullptr;
        ASSERT_EQ(CreatePre(reinterpret_cast<DEVMODEW*>(at), &out), DOCUMENTEVENT_SUCCESS)
            << "record " << i << ", dmSize " << random.dm.dmSize << ", extra "
            << random.dm.dmDriverExtra;
        auto* r = static_cast<DriverDevmode*>(out);
        EXPECT_EQ(r->priv.Settings[kSettingsUnits - 1], 0);
        EXPECT_EQ(r->dm.dmScale, 100);
        EXPECT_TRUE(r->dm.dmCopies >= 1 && r->dm.dmCopies <= 100);
        EXPECT_TRUE(r->dm.dmOrientation == 1 || r->dm.dmOrientation == 2);
        Event(DOCUMENTEVENT_CREATEDCPOST, &out, nullptr);
    }
    EXPECT_EQ(GlobalBlocks(), 0);
}

// Guards on several threads at once, faulting and not, each catch only
// their own faults.
TEST_F(DocumentEventTest, GuardsOnSeveralThreads) {
    larktest::UnreadablePages pages;
    auto* bad = reinterpret_cast<DEVMODEW*>(pages.Forbidden());
    std::vector<std::thread> threads;
    std::atomic<int> wrong{0};
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 25; ++i) {
                void* out = nullptr;
                bool faulting = (t + i) % 2 == 0;
                int r = CreatePre(faulting ? bad : &application_.dm, &out);
                if (r != (faulting ? DOCUMENTEVENT_FAILURE : DOCUMENTEVENT_SUCCESS)) ++wrong;
                if (out != nullptr) Event(DOCUMENTEVENT_CREATEDCPOST, &out, nullptr);
            }
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(GlobalBlocks(), 0);
}

TEST_F(DocumentEventTest, PostAndOtherEventsAlwaysSucceed) {
    void* none = nullptr;
    EXPECT_EQ(Event(DOCUMENTEVENT_CREATEDCPOST, nullptr, nullptr), DOCUMENTEVENT_SUCCESS);
    EXPECT_EQ(Event(DOCUMENTEVENT_RESETDCPOST, &none, nullptr), DOCUMENTEVENT_SUCCESS);
    int notOurs = 0;
    void* stranger = &notOurs;
    EXPECT_EQ(Event(DOCUMENTEVENT_CREATEDCPOST, &stranger, nullptr), DOCUMENTEVENT_SUCCESS);
    larktest::UnreadablePages pages;
    EXPECT_EQ(Event(DOCUMENTEVENT_CREATEDCPOST, pages.Forbidden(), nullptr), DOCUMENTEVENT_FAILURE);
    for (int iEsc : {DOCUMENTEVENT_STARTPAGE, DOCUMENTEVENT_ENDPAGE, DOCUMENTEVENT_ENDDOC,
                     DOCUMENTEVENT_ABORTDOC, DOCUMENTEVENT_DELETEDC, 99, -1}) {
        EXPECT_EQ(Event(iEsc, nullptr, nullptr), DOCUMENTEVENT_SUCCESS) << iEsc;
    }
    EXPECT_TRUE(DevQueryPrintEx(nullptr));
    EXPECT_TRUE(DrvUpgradePrinter(0, nullptr));
}

// A stand-in monitor that notes each start with its command line.
class MonitorLaunchTest : public DocumentEventTest {
protected:
    void SetUp() override {
        DocumentEventTest::SetUp();
        starts_ = winsim::MachineRoot() + "/monitor-starts.txt";
        larktest::WriteDriverFile("fakemon.exe",
                                  "#!/bin/sh\nprintf '%s\\n' \"$WINSIM_CMDLINE\" >> \"$WINSIM_ROOT/"
                                  "monitor-starts.txt\"\n");
        chmod(larktest::DriverFileHostPath("fakemon.exe").c_str(), 0755);
    }
    std::vector<std::string> Starts(size_t expected) {
        std::vector<std::string> lines;
        for (int i = 0; i < 100; ++i) {
            lines.clear();
            std::ifstream in(starts_);
            for (std::string line; std::getline(in, line);) lines.push_back(line);
            if (lines.size() >= expected) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return lines;
    }
    std::string starts_;
};

TEST_F(MonitorLaunchTest, StartsOnceWhileItsWindowExists) {
    larktest::SetStringValue(u"StatusMonitor", u"fakemon.exe");
    const long calls = winsim::CallCount("CreateProcessW");
    EXPECT_EQ(Event(DOCUMENTEVENT_STARTDOC, nullptr, nullptr), DOCUMENTEVENT_SUCCESS);
    // The monitor's window, as the monitor makes it once it runs.
    std::u16string title = u"Lark Test - Status";
    std::u16string cls = u"PrinterStatus";
    WNDCLASSW wc = {};
    wc.lpfnWndProc = DefWindowProcW;
    wc.lpszClassName = cls.c_str();
    RegisterClassW(&wc);
    HWND window = CreateWindowExW(0, cls.c_str(), title.c_str(), 0, 0, 0, 0, 0, nullptr, nullptr,
                                  nullptr, nullptr);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(Event(DOCUMENTEVENT_STARTDOC, nullptr, nullptr), DOCUMENTEVENT_SUCCESS);
    EXPECT_EQ(Event(DOCUMENTEVENT_STARTDOC, nullptr, nullptr), DOCUMENTEVENT_SUCCESS);
    DestroyWindow(window);
    EXPECT_EQ(winsim::CallCount("CreateProcessW"), calls + 1);
    // The whole command line is the printer name, with no program in front.
    EXPECT_EQ(Starts(1), std::vector<std::string>{"Lark Test"});
}

TEST_F(MonitorLaunchTest, NoProgramNoStart) {
    struct Row {
        const char* name;
        const char16_t* value;  // nullptr: no value
        long createCalls;
    } rows[] = {
        {"no StatusMonitor value", nullptr, 0},
        {"name of 17 characters is not read", u"fakemonitor12.exe", 0},
        {"missing program fails silently", u"nomon.exe", 1},
    };
    long calls = winsim::CallCount("CreateProcessW");
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        if (row.value != nullptr) larktest::SetStringValue(u"StatusMonitor", row.value);
        EXPECT_EQ(Event(DOCUMENTEVENT_STARTDOC, nullptr, nullptr), DOCUMENTEVENT_SUCCESS);
        calls += row.createCalls;
        EXPECT_EQ(winsim::CallCount("CreateProcessW"), calls);
    }
    winsim::FailCall("GetPrinterW", 0);
    EXPECT_EQ(Event(DOCUMENTEVENT_STARTDOC, nullptr, nullptr), DOCUMENTEVENT_SUCCESS);
    EXPECT_EQ(winsim::CallCount("CreateProcessW"), calls);
}

TEST(CreateProcess, MissingProgramAndHandles) {
    std::string root = larktest::NewMachine();
    winsim::Counts before = winsim::CurrentCounts();
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    std::u16string line = u"Photo";
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(CreateProcessW(u"C:\\nothing.exe", line.data(), nullptr, nullptr, FALSE, 0,
                                nullptr, nullptr, &startup, &info));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(info.hProcess, nullptr);
    EXPECT_EQ(info.hThread, nullptr);
    std::string program = winsim::HostPath(u"C:\\true.exe");
    std::ofstream(program) << "#!/bin/sh\nexit 0\n";
    chmod(program.c_str(), 0755);
    ASSERT_TRUE(CreateProcessW(u"C:\\true.exe", line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                               nullptr, &startup, &info));
    EXPECT_EQ(winsim::CurrentCounts().kernelHandles, before.kernelHandles + 2);
    EXPECT_TRUE(CloseHandle(info.hProcess));
    EXPECT_TRUE(CloseHandle(info.hThread));
    EXPECT_FALSE(CloseHandle(info.hThread));
    EXPECT_EQ(winsim::CurrentCounts().kernelHandles, before.kernelHandles);
}

}  // namespace
