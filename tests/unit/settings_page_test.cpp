// The shipped settings page and its script: the driver reads the table that
// the page shows (tests/shared/page_papers.tsv, which the page tests hold
// the page to), and the whole settings road runs with the real page in
// Chromium through winsim's browser dialog.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>

#include "config_support.h"
#include "driver_files.h"
#include "paper_table.h"
#include "settings_dialog.h"

extern "C" DWORD WINAPI DrvDeviceCapabilities(HANDLE, PWSTR, WORD, PVOID, PDEVMODEW);
extern "C" BOOL WINAPI DrvPrinterEvent(LPWSTR, INT, DWORD, LPARAM);

namespace larktest {
namespace {

struct Paper {
    std::string name;
    int32_t width = 0, height = 0;
    WORD id = 0;
    int32_t code = 0;
};
struct Language {
    std::vector<Paper> papers;
    std::string status;
};

// Rows "paper" and "status" of the shared table, by language (hexadecimal);
// a language of a "same" row gets the rows of the language it names.
std::map<std::string, Language> PageTable() {
    std::map<std::string, Language> table;
    std::vector<std::pair<std::string, std::string>> same;
    std::ifstream in(LARK_PAGE_PAPERS);
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::vector<std::string> f;
        std::stringstream fields(line);
        for (std::string field; std::getline(fields, field, '\t');) f.push_back(field);
        if (f[0] == "paper" && f.size() >= 7) {
            table[f[1]].papers.push_back({f[2], std::stoi(f[3]), std::stoi(f[4]),
                                          static_cast<WORD>(std::stoi(f[5])), std::stoi(f[6])});
        } else if (f[0] == "status" && f.size() >= 3) {
            table[f[1]].status = f[2];
        } else if (f[0] == "same" && f.size() >= 3) {
            same.emplace_back(f[1], f[2]);
        }
    }
    for (const auto& [language, block] : same) table[language] = table.at(block);
    return table;
}

std::string StoredText(const char16_t* name) {
    std::string value;
    return StoredPrinterText(name, &value) ? value : "(none)";
}

class SettingsPageTest : public DriverMachineTest {};

// Every shipped language, and two that fall back to US English, as the
// machine's language.
TEST_F(SettingsPageTest, DriverReadsTheTableThePageShows) {
    auto table = PageTable();
    ASSERT_EQ(table.size(), 49u) << LARK_PAGE_PAPERS;
    for (const auto& [language, expected] : table) {
        ASSERT_FALSE(expected.papers.empty()) << language;
        winsim::SetSetting("language", language);
        const size_t n = expected.papers.size();
        OpenedPrinter printer;
        ASSERT_EQ(DrvDeviceCapabilities(printer.handle, nullptr, DC_PAPERS, nullptr, nullptr), n)
            << language;
        std::vector<WCHAR> names(n * 64);
        std::vector<POINT> sizes(n);
        std::vector<WORD> ids(n);
        std::vector<int32_t> codes(n);
        DrvDeviceCapabilities(printer.handle, nullptr, DC_PAPERNAMES, names.data(), nullptr);
        DrvDeviceCapabilities(printer.handle, nullptr, DC_PAPERSIZE, sizes.data(), nullptr);
        DrvDeviceCapabilities(printer.handle, nullptr, DC_PAPERS, ids.data(), nullptr);
        // The page answers the paper code; the driver's own reader gives it.
        ReadPaperTable(printer.handle, nullptr, nullptr, codes.data());
        for (size_t i = 0; i < n; ++i) {
            const Paper& p = expected.papers[i];
            EXPECT_EQ(Narrow(&names[i * 64]), p.name) << language << " row " << i;
            EXPECT_EQ(sizes[i].x, p.width) << language << " " << p.name;
            EXPECT_EQ(sizes[i].y, p.height) << language << " " << p.name;
            EXPECT_EQ(ids[i], p.id) << language << " " << p.name;
            EXPECT_EQ(codes[i], p.code) << language << " " << p.name;
        }
        std::u16string name = kPrinter;
        ASSERT_TRUE(DrvPrinterEvent(name.data(), PRINTER_EVENT_INITIALIZE, 0, 0)) << language;
        EXPECT_EQ(StoredText(u"StatusMessage"), expected.status) << language;
    }
}

// A settings.js that is missing or cut short: the driver's readers keep
// their built-in defaults where they find no block, or no whole list.
TEST_F(SettingsPageTest, BrokenScriptKeepsTheDefaults) {
    std::ifstream in(std::string(LARK_PACKAGE_DIR) + "/settings.js", std::ios::binary);
    const std::string shipped(std::istreambuf_iterator<char>(in), {});
    const size_t firstList = shipped.find("szPaperSizes");
    const size_t japanese = shipped.find("var sz0x0411");
    ASSERT_NE(firstList, std::string::npos);
    ASSERT_NE(japanese, std::string::npos);
    const std::string kDefaultStatus =
        "There is a problem with your printer.\r\nCheck your printer screen for more information.";
    struct Row {
        const char* name;
        bool present;
        std::string script;
        const char* language;
        size_t papers;
        const char* firstPaper;
        std::string status;
    } rows[] = {
        {"missing", false, "", "0409", 1, "Automatic", kDefaultStatus},
        {"empty", true, "", "0409", 1, "Automatic", kDefaultStatus},
        {"cut in the first list", true, shipped.substr(0, firstList + 40), "0409", 1, "Automatic",
         kDefaultStatus},
        {"cut before the Japanese block: US English", true, shipped.substr(0, japanese), "0411", 4,
         "4 x 6 in",
         "There is a problem with your printer.\\nCheck your printer screen for more information."},
    };
    for (const Row& row : rows) {
        NextMachine(row, rows[0]);
        if (row.present) {
            WriteDriverFile("settings.js", row.script);
        } else {
            RemoveDriverFile("settings.js");
        }
        winsim::SetSetting("language", row.language);
        OpenedPrinter printer;
        ASSERT_EQ(DrvDeviceCapabilities(printer.handle, nullptr, DC_PAPERS, nullptr, nullptr),
                  row.papers)
            << row.name;
        std::vector<WCHAR> names(row.papers * 64);
        DrvDeviceCapabilities(printer.handle, nullptr, DC_PAPERNAMES, names.data(), nullptr);
        EXPECT_EQ(Narrow(names.data()), row.firstPaper) << row.name;
        std::u16string name = kPrinter;
        ASSERT_TRUE(DrvPrinterEvent(name.data(), PRINTER_EVENT_INITIALIZE, 0, 0)) << row.name;
        EXPECT_EQ(StoredText(u"StatusMessage"), row.status) << row.name;
    }
}

// GetUserPref shows the shipped page in Chromium; the scripted user acts on
// it as a person would.
TEST_F(SettingsPageTest, SettingsRoadWithThePageInTheBrowser) {
    const std::string missing = winsim::BrowserDialogMissing();
    if (!missing.empty()) GTEST_SKIP() << "the browser dialog cannot run here: " << missing;
    using K = winsim::DialogKind;
    struct Row {
        const char* name;
        const char* language;
        std::vector<std::string> user;
        int result;
        const char* stored;  // PrinterSettings after the road
        std::vector<K> showings;
        size_t jobs;
    } rows[] = {
        {"a paper chosen, OK",
         "0409",
         {"select:5 x 7 in", "click:OK"},
         257,
         "1000=1;9900=257;",
         {K::Answer},
         0},
        {"sample page, then another paper by keys",
         "0409",
         {"click:Print sample page", "key:ArrowDown", "key:ArrowDown", "key:Enter"},
         258,
         "1000=2;9900=258;",
         {K::Sample, K::Answer},
         1},
        {"French page",
         "040C",
         {"select:3,5 x 5 po", "click:OK"},
         259,
         "1000=3;9900=259;",
         {K::Answer},
         0},
        {"Japanese page, OK by its access key",
         "0411",
         {"select:L判", "access:O"},
         259,
         "1000=3;9900=259;",
         {K::Answer},
         0},
        {"Escape", "0409", {"select:5 x 7 in", "key:Escape"}, -1, "(none)", {K::None}, 0},
    };
    for (const Row& row : rows) {
        NextMachine(row, rows[0]);
        winsim::SetSetting("language", row.language);
        winsim::SetSetting("dialog_mode", "browser");
        for (const auto& action : row.user) winsim::QueueDialogUserAction(action);
        auto devmode = GetPrinterDefaultDevmodeByName(kPrinter);
        ASSERT_TRUE(devmode) << row.name;
        EXPECT_EQ(GetUserPref(devmode.get()), row.result) << row.name;
        EXPECT_EQ(devmode->dm.dmPaperSize, row.result > 0 ? row.result : 256) << row.name;
        EXPECT_EQ(Narrow(devmode->priv.Settings), row.result > 0 ? row.stored : "1000=0;")
            << row.name;
        EXPECT_EQ(StoredText(u"PrinterSettings"), row.stored) << row.name;
        EXPECT_EQ(winsim::Jobs(kPrinter).size(), row.jobs) << row.name;
        EXPECT_TRUE(winsim::QueuedDialogUserActions().empty()) << row.name;
        auto showings = winsim::DialogShowings();
        ASSERT_EQ(showings.size(), row.showings.size()) << row.name;
        for (size_t i = 0; i < showings.size(); ++i) {
            EXPECT_EQ(showings[i].outcome, row.showings[i]) << row.name << " showing " << i;
            EXPECT_TRUE(showings[i].argument == u"1000=0;") << row.name;
            char magic[8] = {};
            FILE* picture = std::fopen(showings[i].screenshot.c_str(), "rb");
            ASSERT_NE(picture, nullptr) << row.name << ": no screenshot";
            EXPECT_EQ(std::fread(magic, 1, 8, picture), 8u);
            std::fclose(picture);
            EXPECT_EQ(std::memcmp(magic, "\x89PNG", 4), 0) << row.name;
        }
    }
}

// Where the browser mode cannot run, the showing fails with its reason on
// stderr and the driver gets no answer; the scripted mode still answers.
TEST_F(SettingsPageTest, BrowserModeWithoutABrowser) {
    using K = winsim::DialogKind;
    winsim::SetSetting("dialog_browser", "/nonexistent/chromium");
    const std::string missing = winsim::BrowserDialogMissing();
    ASSERT_FALSE(missing.empty());
    struct Row {
        const char* name;
        const char* mode;
        int result;
        K outcome;
        HRESULT hr;
        std::string message;
    };
    const Row rows[] = {
        {"browser mode", "browser", -1, K::Fail, static_cast<HRESULT>(0x80070002),
         "winsim: the HTML dialog in the browser: " + missing + "\n"},
        {"scripted mode", "scripted", 257, K::Answer, S_OK, ""},
    };
    for (const Row& row : rows) {
        winsim::SetSetting("dialog_mode", row.mode);
        winsim::QueueDialogOutcome({K::Answer, u"1000=1;9900=257;", 0});
        auto devmode = GetPrinterDefaultDevmodeByName(kPrinter);
        ASSERT_TRUE(devmode) << row.name;
        testing::internal::CaptureStderr();
        EXPECT_EQ(GetUserPref(devmode.get()), row.result) << row.name;
        EXPECT_EQ(testing::internal::GetCapturedStderr(), row.message) << row.name;
        auto showings = winsim::DialogShowings();
        ASSERT_FALSE(showings.empty()) << row.name;
        EXPECT_EQ(showings.back().outcome, row.outcome) << row.name;
        EXPECT_EQ(showings.back().result, row.hr) << row.name;
        winsim::ClearDialogQueue();
    }
}

// larksim properties runs the road with the page, headless or shown in a
// window (under a virtual display here).
TEST_F(SettingsPageTest, LarksimPropertiesWithThePage) {
    const std::string missing = winsim::BrowserDialogMissing();
    if (!missing.empty()) GTEST_SKIP() << "the browser dialog cannot run here: " << missing;
    const bool display = std::system("command -v xvfb-run >/dev/null 2>&1") == 0;
    struct Row {
        const char* name;
        const char* prefix;
        const char* mode;
    } rows[] = {
        {"headless", "", "--browser"},
        {"shown", "xvfb-run -a ", "--show"},
    };
    for (const Row& row : rows) {
        if (*row.prefix != 0 && !display) {
            std::printf("row \"%s\" skipped: xvfb-run is not installed\n", row.name);
            continue;
        }
        std::string command = std::string(row.prefix) + LARK_LARKSIM + " --root '" +
                              winsim::MachineRoot() + "' properties '" + winsim::ToUtf8(kPrinter) +
                              "' " + row.mode + " --user 'select:5 x 7 in' --user click:OK 2>&1";
        FILE* pipe = popen(command.c_str(), "r");
        ASSERT_NE(pipe, nullptr);
        std::string out;
        char buffer[4096];
        for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
        EXPECT_EQ(pclose(pipe), 0) << row.name << "\n" << out;
        EXPECT_NE(
            out.find("devmode the application got: dmSize 220 + dmDriverExtra 2108, paper size"
                     " 257"),
            std::string::npos)
            << row.name << "\n"
            << out;
        EXPECT_NE(out.find("settings \"1000=1;9900=257;\""), std::string::npos) << row.name;
        EXPECT_EQ(winsim::GetSetting("dialog_mode", ""), "") << row.name << ": mode restored";
    }
}

}  // namespace
}  // namespace larktest
