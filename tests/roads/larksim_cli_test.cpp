// larksim as a user meets it: what it refuses and why, where help and
// errors go, the dialog's queue across commands, the printers folder's
// remembered choice, and printer names the spooler accepts or refuses on
// every road.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

#include "../conformance/caps_expectations.h"
#include "config_support.h"
#include "driver_devmode.h"

namespace larktest {
namespace {

class LarksimCliTest : public MachineTest {
protected:
    void SetUp() override {
        MachineTest::SetUp();
        InstallPackageAndPrinter(u"P", u"USB001");
        winsim::SetSetting("sleep_scale", "0.001");
    }
};

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// The printer's PrinterSettings value as UTF-8, "(none)" when not stored.
std::string StoredSettings(const std::u16string& printer) {
    for (const auto& v : winsim::PrinterData(printer)) {
        if (v.name != u"PrinterSettings") continue;
        std::u16string text(v.data.size() / 2, u'\0');
        if (!text.empty()) std::memcpy(text.data(), v.data.data(), text.size() * 2);
        return winsim::ToUtf8(text);
    }
    return "(none)";
}

// The settings string of a devmode's bytes.
std::string SettingsOf(const std::vector<uint8_t>& bytes) {
    if (bytes.size() < sizeof(DriverDevmode)) return "(no devmode)";
    const auto* d = reinterpret_cast<const DriverDevmode*>(bytes.data());
    return Narrow(d->priv.Settings);
}

TEST_F(LarksimCliTest, RefusalsExitCodesAndStreams) {
    // A package whose settings page is gone, a copy of the package with one
    // empty and one missing file.
    const std::string copy = root_ + "/package-copy";
    ASSERT_EQ(std::system(("cp -r '" + std::string(LARK_PACKAGE_DIR) + "' '" + copy + "'").c_str()),
              0);
    std::ofstream(copy + "/lark.hlp", std::ios::trunc).close();
    const std::string broken = root_ + "/package-broken";
    ASSERT_EQ(
        std::system(
            ("cp -r '" + copy + "' '" + broken + "' && rm '" + broken + "/larkmon.exe'").c_str()),
        0);
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
    enum Stream { Out, Err };
    struct Row {
        const char* name;
        std::string arguments;
        int exit;
        Stream stream;
        const char* says;
    } rows[] = {
        {"help goes to stdout", "help", 0, Out, "usage: larksim"},
        {"--help too", "--help", 0, Out, "properties <printer>"},
        {"a command's help", "properties --help", 0, Out, "usage: larksim properties"},
        {"help of one command", "help usb", 0, Out, "usage: larksim usb add"},
        {"help usb: ready device IDs", "help usb", 0, Out,
         "paper out  MFG:Lark;CMD:JPEG;MDL:Photo;CLS:PRINTER;S:0304000000000000090000;"},
        {"help usb: the S field's digits", "help usb", 0, Out, "are the status byte in hex"},
        {"a command's options with their defaults", "print --help", 0, Out,
         "--job-ms <ms>      how long the job stays in the queue (default 2000)"},
        {"and an example", "help properties", 0, Out, "example: larksim properties"},
        {"no command: usage on stderr", "", 2, Err, "usage: larksim"},
        {"unknown command", "bogus", 2, Err, "unknown command 'bogus'"},
        {"unknown setting", "set bogus 1", 2, Err, "unknown setting 'bogus'"},
        {"unknown setting value", "set dialog_mode bogus", 2, Err,
         "dialog_mode takes one of scripted|browser|show"},
        {"unreadable clock", "set clock 25:00:00.000", 2, Err, "clock takes"},
        {"unknown flag", "properties P --bogus", 2, Err, "unknown option '--bogus'"},
        {"exclusive roads", "properties P --device --direct", 2, Err,
         "--device and --direct cannot be given together"},
        {"exclusive dialogs", "properties P --browser --show", 2, Err, "cannot be given together"},
        {"an answer no dialog takes", "properties P --direct --answer x", 2, Err,
         "--answer has no meaning with --direct"},
        {"the printers folder has no application devmode",
         "properties P --printers-folder --landscape", 2, Err, "--landscape has no meaning"},
        {"a value flag without its value", "properties P --out", 2, Err, "--out needs a value"},
        {"print flag", "print P --bogus", 2, Err, "unknown option '--bogus'"},
        {"usb flag", "usb add USB 1 --bogus", 2, Err, "unknown option '--bogus'"},
        {"caps flag", "caps P --x", 2, Err, "unknown option '--x'"},
        {"jobs flag", "jobs --x", 2, Err, "unknown option '--x'"},
        {"dialog list takes nothing", "dialog list extra", 2, Err, "takes no argument"},
        {"jobs of an unknown printer", "jobs Nope", 1, Err, "unknown printer 'Nope'"},
        {"show of an unknown printer", "show Nope", 1, Err, "unknown printer 'Nope'"},
        {"port number 1234", "usb add USB 1234", 0, Out, "port USB1234"},
        {"the largest port number", "usb add USB 4294967295", 0, Out, "port USB4294967295"},
        {"a port number past 32 bits", "usb add USB 4294967296", 2, Err, "port number"},
        {"an empty file is a file", "install-driver '" + copy + "'", 0, Out, "installed driver"},
        {"a missing file is named", "install-driver '" + broken + "'", 1, Err,
         "larkmon.exe is missing"},
        {"shown without a display", "properties P --show", 1, Err, "larksim: "},
    };
    for (const Row& row : rows) {
        std::string out, err;
        EXPECT_EQ(RunLarksim(row.arguments, &out, &err), row.exit) << row.name << "\n"
                                                                   << out << err;
        EXPECT_TRUE(Contains(row.stream == Out ? out : err, row.says))
            << row.name << ": expected \"" << row.says << "\"\nstdout: " << out
            << "\nstderr: " << err;
        if (row.exit == 0) {
            EXPECT_EQ(err, "") << row.name;
        }
    }
    EXPECT_EQ(winsim::QueuedDialogOutcomes().size(), 0u) << "a refused command queued an answer";

    // The last: the driver's settings page missing from its folder.
    RemoveDriverFile("settings.htm");
    std::string out, err;
    EXPECT_EQ(RunLarksim("properties P --answer x", &out, &err), 1) << out << err;
    EXPECT_TRUE(Contains(err, "settings.htm is missing")) << err;
}

// A command's --answer, --sample, --cancel and --user are for its own
// showings: what they leave is dropped and said; what `dialog` queued
// waits for the next command; what cannot apply is refused; what the
// application got is said in words.
TEST_F(LarksimCliTest, ACommandsAnswersAreItsOwn) {
    const std::string folder = root_ + "/a-folder";
    mkdir(folder.c_str(), 0755);
    struct Row {
        const char* name;
        const char* before;  // a dialog command run first, or nullptr
        std::string arguments;
        int exit;
        const char* says;    // in stdout or stderr
        const char* stored;  // PrinterSettings afterwards
        size_t queued;       // scripted answers still queued afterwards
    } rows[] = {
        {"an answer over 511 characters", nullptr,
         "properties P --answer '" + std::string(512, 'A') + "'", 0,
         "refused by the driver: 512 characters", "1000=0;", 0},
        {"the command's leftover is dropped", nullptr,
         "properties P --answer 'A=1;' --answer 'B=2;'", 0,
         "1 of this command's 2 answer(s) not taken by a showing: dropped", "A=1;", 0},
        {"no later command takes it", nullptr, "properties P", 0, "no settings", "A=1;", 0},
        {"dialog answer waits while a command brings its own", "dialog answer 'C=3;'",
         "properties P --answer 'D=4;'", 0, "1 answer(s) queued with `larksim dialog` wait", "D=4;",
         1},
        {"and reaches the next command", nullptr, "properties P", 0, "answered \"C=3;\"", "C=3;",
         0},
        {"--user without the browser", nullptr, "properties P --user click:OK", 2,
         "--user acts on the page in the browser", "C=3;", 0},
        {"--browser with --answer", nullptr, "properties P --browser --answer x", 2,
         "the browser does not take", "C=3;", 0},
        {"a refused page", nullptr, "properties P --refuse-page", 0,
         "the application got no devmode: DocumentPropertiesW failed", "C=3;", 0},
        {"a failed showing", "dialog fail", "properties P", 0,
         "the settings dialog failed (error 0x80004005), so nothing was chosen", "C=3;", 0},
        {"a folder as --in", nullptr, "properties P --in '" + folder + "'", 1, "not a file", "C=3;",
         0},
        {"a failed user action drops the rest", nullptr,
         "properties P --browser --user 'select:No such paper' --user click:OK", 1,
         "failed at user action 1, 'select:No such paper': 1 user action(s) after it dropped",
         "C=3;", 0},
    };
    for (const Row& row : rows) {
        std::string out, err;
        if (row.before != nullptr) {
            ASSERT_EQ(RunLarksim(row.before, &out, &err), 0) << out << err;
        }
        EXPECT_EQ(RunLarksim(row.arguments, &out, &err), row.exit) << row.name << "\n"
                                                                   << out << err;
        EXPECT_TRUE(Contains(out + err, row.says))
            << row.name << ": expected \"" << row.says << "\"\n"
            << out << err;
        EXPECT_EQ(StoredSettings(u"P"), row.stored) << row.name;
        EXPECT_EQ(winsim::QueuedDialogOutcomes().size(), row.queued) << row.name;
        EXPECT_EQ(winsim::QueuedDialogUserActions().size(), 0u) << row.name;
    }
    // The report names the failed showing and why.
    std::string out;
    const std::string report = root_ + "/report.html";
    ASSERT_EQ(RunLarksim("report --out '" + report + "'", &out), 0) << out;
    std::ifstream in(report, std::ios::binary);
    const std::string html((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_TRUE(Contains(html, "in the browser, failed: no paper named"));
}

// The printers folder keeps the user's choice as the user's default
// devmode; an application keeps its own in a file between runs.
TEST_F(LarksimCliTest, RememberedChoices) {
    std::string out;
    ASSERT_EQ(RunLarksim("properties P --printers-folder --answer '1000=1;9900=257;'", &out), 0)
        << out;
    EXPECT_TRUE(Contains(out, "SetPrinterW level 9")) << out;
    winsim::PrinterRecord record;
    ASSERT_TRUE(winsim::GetPrinterRecord(u"P", &record));
    std::vector<uint8_t> kept = winsim::DefaultDevmode(record);
    ASSERT_EQ(kept.size(), kDriverDevmodeSize);
    EXPECT_EQ(reinterpret_cast<const DEVMODEW*>(kept.data())->dmPaperSize, 257);
    EXPECT_EQ(SettingsOf(kept), "1000=1;9900=257;");
    EXPECT_EQ(SettingsOf(record.devmode), "1000=0;") << "the global default changed";

    const size_t showings = winsim::DialogShowings().size();
    ASSERT_EQ(RunLarksim("properties P --printers-folder --cancel", &out), 0) << out;
    auto all = winsim::DialogShowings();
    ASSERT_EQ(all.size(), showings + 1);
    EXPECT_EQ(winsim::ToUtf8(all.back().argument), "1000=1;9900=257;");
    ASSERT_TRUE(winsim::GetPrinterRecord(u"P", &record));
    EXPECT_EQ(SettingsOf(winsim::DefaultDevmode(record)), "1000=1;9900=257;")
        << "a cancelled showing changed the kept devmode";

    const std::string file = root_ + "/application.devmode";
    ASSERT_EQ(RunLarksim("properties P --answer '1000=2;9900=258;' --out '" + file + "'", &out), 0)
        << out;
    ASSERT_EQ(RunLarksim("properties P --in '" + file + "' --cancel", &out), 0) << out;
    all = winsim::DialogShowings();
    EXPECT_EQ(winsim::ToUtf8(all.back().argument), "1000=2;9900=258;") << out;
    std::ofstream(file, std::ios::trunc) << "short";
    EXPECT_EQ(RunLarksim("properties P --in '" + file + "'", &out), 1) << out;
    EXPECT_TRUE(Contains(out, "holds no whole devmode")) << out;
}

// Names as the spooler takes them: the longest, non-ASCII ones and ones
// with spaces work on every road; what Windows refuses is refused.
TEST_F(LarksimCliTest, PrinterNamesOnEveryRoad) {
    struct Row {
        const char* name;
        std::u16string printer;
        bool accepted;
    } rows[] = {
        {"empty", u"", false},
        {"a comma", u"Lark,Photo", false},
        {"a backslash", u"Lark\\Photo", false},
        {"221 characters", std::u16string(221, u'L'), false},
        {"220 characters", std::u16string(220, u'L'), true},
        {"non-ASCII with spaces", u"Fotodrucker Küche 写真 Ω", true},
    };
    const std::string ok = "MFG:Lark;CMD:JPEG;MDL:Photo;CLS:PRINTER;S:0304000000000000000000;";
    const std::string jam = "MFG:Lark;CMD:JPEG;MDL:Photo;CLS:PRINTER;S:03040000000000000E0000;";
    std::string out;
    ASSERT_EQ(RunLarksim("usb add USB 1", &out), 0) << out;
    ASSERT_EQ(RunLarksim("usb script USB001 '" + jam + "' '" + ok + "'", &out), 0) << out;
    winsim::SetSetting("message_box_delay_ms", "1");
    for (const Row& row : rows) {
        std::string error;
        SetLastError(0xdeadbeef);
        bool added = winsim::AddPrinter(row.printer, u"USB001", u"Lark Photo Printer", &error);
        EXPECT_EQ(added, row.accepted) << row.name << ": " << error;
        if (!row.accepted) {
            EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PRINTER_NAME)) << row.name;
            continue;
        }
        const std::string quoted = "'" + winsim::ToUtf8(row.printer) + "'";
        ASSERT_EQ(RunLarksim("properties " + quoted + " --answer '1000=3;9900=259;'", &out), 0)
            << row.name << "\n"
            << out;
        EXPECT_TRUE(Contains(out, "answered \"1000=3;9900=259;\"")) << row.name << "\n" << out;
        EXPECT_TRUE(Contains(out, "DocumentPropertiesW answered 1 IDOK")) << row.name;
        EXPECT_EQ(StoredSettings(row.printer), "1000=3;9900=259;") << row.name;
        ASSERT_EQ(RunLarksim("caps " + quoted + " DC_PAPERS", &out), 0) << row.name << "\n" << out;
        EXPECT_TRUE(Contains(out, "DC_PAPERS            4")) << row.name << "\n" << out;
        ASSERT_EQ(RunLarksim("print " + quoted + " --job-ms 20 --wait 30", &out), 0)
            << row.name << "\n"
            << out;
        EXPECT_TRUE(Contains(out, "PrinterName     \"" + winsim::ToUtf8(row.printer) + "\""))
            << row.name << "\n"
            << out;
        EXPECT_FALSE(Contains(out, "port statuses: 0")) << row.name << ": the monitor's statuses"
                                                        << "\n"
                                                        << out;
        EXPECT_TRUE(Contains(out, "boxes: 1")) << row.name << "\n" << out;
        ASSERT_EQ(RunLarksim("monitor " + quoted, &out), 0) << row.name << "\n" << out;
        EXPECT_TRUE(Contains(out, "There are no more jobs") || Contains(out, "polls: 22"))
            << row.name << "\n"
            << out;
    }
}

// The whole settings road as an application plays it, through larksim: the
// page, a sample page, the answer, the closing thread's press, the devmode
// out, and nothing held at the end; then the direct form and a bad number.
TEST_F(LarksimCliTest, PlaysTheWholeSettingsRoad) {
    std::string out;
    ASSERT_EQ(RunLarksim("properties P --sample --answer '1000=1;9900=257;'", &out), 0) << out;
    for (const char* expected :
         {"driver INIT answered 1, Result 0", "sample page requested -> job",
          "answered \"1000=1;9900=257;\"", "sent WM_LBUTTONDOWN to control 1",
          "page 1 APPLYNOW answered 4", "driver SET_RESULT answered 1, Result 1",
          "driver DESTROY answered 1", "DocumentPropertiesW answered 1 IDOK", "paper size 257",
          "settings \"1000=1;9900=257;\"", "printer data PrinterSettings: \"1000=1;9900=257;\"",
          "accounting: nothing held"}) {
        EXPECT_TRUE(Contains(out, expected)) << expected << "\n" << out;
    }
    ASSERT_EQ(RunLarksim("properties P --direct --landscape --paper 258", &out), 0) << out;
    EXPECT_TRUE(Contains(out, "size query (mode 0): 2328")) << out;
    EXPECT_TRUE(Contains(out, "paper size 258, orientation 2")) << out;
    EXPECT_EQ(RunLarksim("properties P --paper abc", &out), 2) << out;
}

// The page itself in the browser: a user who closes it without an answer
// cancels the road, and an application's paper survives OK.
TEST_F(LarksimCliTest, BrowserRoadsKeepTheChoices) {
    const std::string missing = winsim::BrowserDialogMissing();
    if (!missing.empty()) GTEST_SKIP() << "the browser dialog cannot run here: " << missing;
    const std::string file = root_ + "/application.devmode";
    struct Row {
        const char* name;
        std::string arguments;
        const char* says;
        const char* stored;          // PrinterSettings afterwards
        short paper, width, length;  // of the devmode kept in file; 0: none kept
    } rows[] = {
        {"Escape: a cancel, nothing stored", "properties P --browser --user key:Escape",
         "DocumentPropertiesW answered 2 IDCANCEL", "1000=0;", 0, 0, 0},
        {"Escape in the printers folder: no user devmode",
         "properties P --printers-folder --browser --user key:Escape",
         "the printer's default devmode stays as it was", "1000=0;", 0, 0, 0},
        {"the application's 3.5 x 5 kept at OK",
         "properties P --paper 259 --browser --user click:OK", "answered \"1000=3;9900=259;\"",
         "1000=3;9900=259;", 259, 889, 1270},
    };
    for (const Row& row : rows) {
        std::remove(file.c_str());
        std::string out;
        ASSERT_EQ(RunLarksim(row.arguments + " --out '" + file + "'", &out), 0) << row.name << out;
        EXPECT_TRUE(Contains(out, row.says)) << row.name << "\n" << out;
        EXPECT_EQ(StoredSettings(u"P"), row.stored) << row.name;
        winsim::PrinterRecord record;
        ASSERT_TRUE(winsim::GetPrinterRecord(u"P", &record));
        EXPECT_EQ(SettingsOf(winsim::DefaultDevmode(record)), "1000=0;") << row.name;
        std::ifstream in(file, std::ios::binary);
        std::vector<char> kept((std::istreambuf_iterator<char>(in)), {});
        if (row.paper == 0) {
            EXPECT_TRUE(kept.empty()) << row.name << ": a devmode kept";
            continue;
        }
        ASSERT_EQ(kept.size(), kDriverDevmodeSize) << row.name;
        const auto* dm = reinterpret_cast<const DEVMODEW*>(kept.data());
        EXPECT_EQ(dm->dmPaperSize, row.paper) << row.name;
        EXPECT_EQ(dm->dmPaperWidth, row.width) << row.name;
        EXPECT_EQ(dm->dmPaperLength, row.length) << row.name;
    }
}

// add-printer initialises the printer: its six values, as show and caps
// read them.
TEST_F(LarksimCliTest, AddPrinterInitialises) {
    std::string out;
    ASSERT_EQ(RunLarksim("add-printer 'Lark Added' --port USB003", &out), 0) << out;
    auto values = winsim::PrinterData(u"Lark Added");
    ASSERT_EQ(values.size(), 6u);
    std::u16string message = W(larkcaps::kStatusMessage);
    const auto* bytes = reinterpret_cast<const uint8_t*>(message.data());
    EXPECT_EQ(values[5].data, std::vector<uint8_t>(bytes, bytes + message.size() * 2));
    ASSERT_EQ(RunLarksim("show 'Lark Added'", &out), 0) << out;
    EXPECT_TRUE(Contains(out, "UIConfigFile     REG_SZ, 24 bytes: \"settings.htm\"")) << out;
    ASSERT_EQ(RunLarksim("caps 'Lark Added' DC_PAPERNAMES", &out), 0) << out;
    EXPECT_TRUE(Contains(out, "\"10 x 15 cm\"")) << out;

    // A driver that does not load leaves no printer behind.
    RemoveDriverFile("larkui.dll");
    std::string err;
    EXPECT_EQ(RunLarksim("add-printer 'Lark Broken' --port USB004", &out, &err), 1) << out << err;
    EXPECT_TRUE(Contains(err, "the printer was not added")) << err;
    winsim::PrinterRecord record;
    EXPECT_FALSE(winsim::GetPrinterRecord(u"Lark Broken", &record));
    EXPECT_TRUE(winsim::PrinterData(u"Lark Broken").empty());
}

}  // namespace
}  // namespace larktest
