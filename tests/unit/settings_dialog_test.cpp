// The settings dialog's internals on the static core: the sample page's line
// reading and raw job, GetUserPref's own result, and its platform and file
// failures (fault injection, a missing MSHTML).
#include <gtest/gtest.h>

#include <cstring>

#include "config_support.h"
#include "driver_files.h"
#include "sample_page.h"
#include "settings_dialog.h"
#include "text.h"

namespace larktest {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes B(const std::string& s) { return Bytes(s.begin(), s.end()); }

class SettingsDialogTest : public DriverMachineTest {
protected:
    static FILE* OpenDataFile() {
        return _wfopen((winsim::DriverDirectory() + u"\\3\\larkdata.ini").c_str(), u"r");
    }
    // Sends the sample page of the data file; true with the job when one
    // was made (SendSamplePage answers 1 either way).
    static bool SampleJob(winsim::JobRecord* job) {
        size_t before = winsim::Jobs(kPrinter).size();
        {
            OpenedPrinter printer;
            EXPECT_EQ(SendSamplePage(printer.handle, OpenDataFile()), 1);
        }
        auto jobs = winsim::Jobs(kPrinter);
        if (jobs.size() == before) return false;
        EXPECT_EQ(jobs.size(), before + 1);
        *job = jobs.back();
        return true;
    }
    static void Queue(winsim::DialogKind kind, const std::string& text = "") {
        winsim::QueueDialogOutcome({kind, W(text), kind == winsim::DialogKind::Fail ? E_FAIL : 0});
    }
    static bool StoredSettings(std::string* value) {
        return StoredPrinterText(u"PrinterSettings", value);
    }
};

TEST_F(SettingsDialogTest, SampleLineReadingAndDecoding) {
    const std::string longKey(255, 'K');
    struct Row {
        const char* name;
        std::string file;
        bool job;
        Bytes data;
    } rows[] = {
        {"escape then letter", "[DeviceConfig]\nPrintSamplePage=\\x1BE\n", true, {0x1B, 'E'}},
        {"either-case digits, NUL byte",
         "[DeviceConfig]\nPrintSamplePage=\\x00\\xfF\n",
         true,
         {0x00, 0xFF}},
        {"uppercase X is no escape", "[DeviceConfig]\nPrintSamplePage=\\X1B\n", true, B("\\X1B")},
        {"escape cut short", "[DeviceConfig]\nPrintSamplePage=A\\x4\n", true, B("A\\x4")},
        {"escape at the end", "[DeviceConfig]\nPrintSamplePage=A\\x", true, B("A\\x")},
        {"empty line hides it", "[DeviceConfig]\n\nPrintSamplePage=A\n", false, {}},
        {"high byte ends the section", "[DeviceConfig]\n\xE9=1\nPrintSamplePage=A\n", false, {}},
        {"a following section does not", "[DeviceConfig]\n[Other]\nPrintSamplePage=A\n", true,
         B("A")},
        {"header prefix", "[DeviceConfig]  ; main\nPrintSamplePage=A\n", true, B("A")},
        {"first of two sections",
         "[DeviceConfig]\nPrintSamplePage=A\n\n[DeviceConfig]\n"
         "PrintSamplePage=B\n",
         true, B("A")},
        {"second section when the first has none",
         "[DeviceConfig]\nX=1\n\n[DeviceConfig]\n"
         "PrintSamplePage=B\n",
         true, B("B")},
        {"leading spaces skipped, trailing kept", "[DeviceConfig]\r\nPrintSamplePage=  AB  \r\n",
         true, B("AB  ")},
        {"text before the '='", "[DeviceConfig]\nPrintSamplePageX = A\n", true, B("A")},
        {"empty value: a page without data", "[DeviceConfig]\nPrintSamplePage=\n", true, {}},
        {"no '=': no job", "[DeviceConfig]\nPrintSamplePage\nPrintSamplePage=A\n", false, {}},
        {"key not in the first column", "[DeviceConfig]\n PrintSamplePage=A\n", false, {}},
        {"no section", "PrintSamplePage=A\n", false, {}},
        {"a long line's piece is a line", "[DeviceConfig]\n" + longKey + "PrintSamplePage=Z\n",
         true, B("Z")},
        {"value cut at 255 bytes", "[DeviceConfig]\nPrintSamplePage=" + std::string(300, 'a'), true,
         Bytes(239, 'a')},
    };
    for (const Row& row : rows) {
        WriteDriverFile("larkdata.ini", row.file);
        winsim::JobRecord job;
        ASSERT_EQ(SampleJob(&job), row.job) << row.name;
        if (!row.job) continue;
        EXPECT_EQ(job.document, "Sample Page") << row.name;
        EXPECT_EQ(job.datatype, "RAW") << row.name;
        EXPECT_EQ(job.pages, 1u) << row.name;
        EXPECT_TRUE(job.ended) << row.name;
        EXPECT_EQ(job.data, row.data) << row.name;
    }
}

TEST_F(SettingsDialogTest, SampleJobFailures) {
    struct Row {
        const char* name;
        const char* failing;
        bool job;
        DWORD pages;
        Bytes data;
    } rows[] = {
        {"StartDocPrinterA fails: no job", "StartDocPrinterA", false, 0, {}},
        {"StartPagePrinter fails: document ended at once", "StartPagePrinter", true, 0, {}},
        {"WritePrinter fails: page and document ended", "WritePrinter", true, 1, {}},
        {"EndPagePrinter fails: document still ended", "EndPagePrinter", true, 1,
         B("LARK-SAMPLE\r\n")},
    };
    for (const Row& row : rows) {
        winsim::ClearFaults();
        winsim::FailCall(row.failing, 1);
        winsim::JobRecord job;
        ASSERT_EQ(SampleJob(&job), row.job) << row.name;
        if (!row.job) continue;
        EXPECT_TRUE(job.ended) << row.name;
        EXPECT_EQ(job.pages, row.pages) << row.name;
        EXPECT_EQ(job.data, row.data) << row.name;
    }
}

// GetUserPref's own result, which no entry point hands on: the paper size
// of a stored answer with "9900", -1 otherwise. What each answer does to the
// devmode, PrinterSettings, the sample pages and the showings is checked
// through the settings road (tests/conformance/entry/settings_road.cpp).
TEST_F(SettingsDialogTest, ResultOfEachAnswer) {
    using K = winsim::DialogKind;
    struct Row {
        const char* name;
        std::vector<std::pair<K, std::string>> outcomes;
        int result;
    } rows[] = {
        {"pairs 1000=1 and 9900=26", {{K::Answer, "1000=1;9900=26;"}}, 26},
        {"three samples, then an answer",
         {{K::Sample, ""}, {K::Sample, ""}, {K::Sample, ""}, {K::Answer, "1000=2;9900=258;"}},
         258},
        {"sample request with more text",
         {{K::Answer, "PrintSamplePage now"}, {K::Answer, "1000=3;"}},
         -1},
        {"other letter case is a setting", {{K::Answer, "printSamplePage"}}, -1},
        {"empty answer", {{K::Answer, ""}}, -1},
        {"NULL string counts as empty", {{K::NullString, ""}}, -1},
        {"9900 inside a value takes the next pair", {{K::Answer, "1000=9900;5=7;"}}, 7},
        {"9900 with an empty value: the paper size as it was", {{K::Answer, "9900=;"}}, 256},
        {"9900 of -1 looks like a failure", {{K::Answer, "9900=-1;"}}, -1},
        {"low 16 bits", {{K::Answer, "9900=70000;"}}, 4464},
        {"511 characters fit", {{K::Answer, std::string(511, 's')}}, -1},
        {"512 characters are refused whole", {{K::Answer, std::string(512, 's')}}, -1},
        {"closed without an answer", {{K::None, ""}}, -1},
        {"the dialog fails", {{K::Fail, ""}}, -1},
        {"sample, then cancel", {{K::Sample, ""}, {K::None, ""}}, -1},
    };
    for (const Row& row : rows) {
        NextMachine(row, rows[0]);
        for (const auto& [kind, text] : row.outcomes) Queue(kind, text);
        auto devmode = GetPrinterDefaultDevmodeByName(kPrinter);
        ASSERT_TRUE(devmode) << row.name;
        ASSERT_EQ(devmode->dm.dmPaperSize, 256) << row.name;
        EXPECT_EQ(GetUserPref(devmode.get()), row.result) << row.name;
    }
}

// The page opens on the paper table row of dmPaperSize, whatever paper the
// settings string names: a default record (dmPaperSize 256) whose data file
// chose another paper opens on 4 x 6, the paper the print road prints.
TEST_F(SettingsDialogTest, PageOpensOnThePaperOfThePaperSize) {
    const std::string far = "1000=3" + std::string(12, 'x') + ";";
    struct Row {
        const char* name;
        short paper;
        std::string settings;
        std::string argument;
    } rows[] = {
        {"no ';' among the first 16 units: unchanged", 259, far, far},
        {"a paper size of no row: unchanged", 999, "1000=2;7=1;", "1000=2;7=1;"},
        {"the row of 259, other items kept", 259, "1000=0;7=1;", "1000=3;7=1;"},
        {"the default record of a data file choosing 3.5 x 5", 256, "1000=3;", "1000=0;"},
    };
    for (const Row& row : rows) {
        NextMachine(row, rows[0]);
        Queue(winsim::DialogKind::None);
        auto devmode = GetPrinterDefaultDevmodeByName(kPrinter);
        ASSERT_TRUE(devmode) << row.name;
        devmode->dm.dmPaperSize = row.paper;
        TextCopy(devmode->priv.Settings, kSettingsUnits, W(row.settings).c_str());
        bool taken = true;
        EXPECT_EQ(GetUserPref(devmode.get(), &taken), -1) << row.name;
        EXPECT_FALSE(taken) << row.name;
        auto showings = winsim::DialogShowings();
        ASSERT_EQ(showings.size(), 1u) << row.name;
        EXPECT_EQ(winsim::ToUtf8(showings[0].argument), row.argument) << row.name;
    }
}

TEST_F(SettingsDialogTest, PlatformAndFileFailures) {
    struct Row {
        const char* name;
        const char* setting;  // machine setting "mshtml"
        const char* failing;  // failing call (its first call from now)
        int failingNth;
        bool removeDataFile;
        int result;
        size_t showings;
        bool stored;
        const char* settings;
    } rows[] = {
        {"no MSHTML.DLL", "missing", nullptr, 0, false, -1, 0, false, "1000=0;"},
        {"no ShowHTMLDialog export", "no-export", nullptr, 0, false, -1, 0, false, "1000=0;"},
        {"no moniker: not shown", "", "CreateURLMoniker", 1, false, -1, 0, false, "1000=0;"},
        {"no administrator access", "", "OpenPrinterW", 2, false, 26, 1, false, "9900=26;"},
        {"data file unreadable after a sample request", "", nullptr, 0, true, -1, 1, false,
         "1000=0;"},
        {"printer cannot be opened: empty page path", "", "OpenPrinterW", 1, false, -1, 0, false,
         "1000=0;"},
    };
    for (const Row& row : rows) {
        NextMachine(row, rows[0]);
        winsim::SetSetting("mshtml", row.setting);
        if (row.removeDataFile) {
            Queue(winsim::DialogKind::Sample);
            RemoveDriverFile("larkdata.ini");
        }
        Queue(winsim::DialogKind::Answer, "9900=26;");
        auto devmode = GetPrinterDefaultDevmodeByName(kPrinter);
        ASSERT_TRUE(devmode) << row.name;
        if (row.failing != nullptr) winsim::FailCall(row.failing, row.failingNth);
        EXPECT_EQ(GetUserPref(devmode.get()), row.result) << row.name;
        EXPECT_EQ(Narrow(devmode->priv.Settings), row.settings) << row.name;
        std::string stored;
        EXPECT_EQ(StoredSettings(&stored), row.stored) << row.name;
        EXPECT_EQ(winsim::DialogShowings().size(), row.showings) << row.name;
        EXPECT_EQ(winsim::Jobs(kPrinter).size(), 0u) << row.name;
    }
}

}  // namespace
}  // namespace larktest
