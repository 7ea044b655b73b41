// Setting up a machine: the machine itself, the driver package, printers.
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>

#include "larksim.h"

namespace larksim {
namespace {

using Section = std::vector<std::string>;

std::string Trim(const std::string& s) {
    size_t a = s.find_first_not_of(" \t\r\n");
    if (a == std::string::npos) return "";
    size_t b = s.find_last_not_of(" \t\r\n");
    return s.substr(a, b - a + 1);
}

std::string Unquote(const std::string& s) {
    std::string t = Trim(s);
    return t.size() >= 2 && t.front() == '"' && t.back() == '"' ? t.substr(1, t.size() - 2) : t;
}

// The INF's sections by lower-case name, their lines without comments.
std::map<std::string, Section> ReadInf(const std::string& path) {
    std::map<std::string, Section> sections;
    std::ifstream in(path);
    std::string line, current;
    while (std::getline(in, line)) {
        size_t semicolon = line.find(';');
        if (semicolon != std::string::npos) line.erase(semicolon);
        line = Trim(line);
        if (line.empty()) continue;
        if (line.front() == '[' && line.back() == ']') {
            current = line.substr(1, line.size() - 2);
            for (char& c : current)
                c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            sections[current];
        } else if (!current.empty()) {
            sections[current].push_back(line);
        }
    }
    return sections;
}

std::string Value(const Section& section, const std::string& key) {
    for (const auto& line : section) {
        size_t eq = line.find('=');
        if (eq != std::string::npos && Trim(line.substr(0, eq)) == key) {
            return Unquote(line.substr(eq + 1));
        }
    }
    return "";
}

std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// Copies a file of the package; an empty file is copied as one. The
// reason is set when the copy fails.
bool CopyFile(const std::string& from, const std::string& to, std::string* why) {
    struct stat st {};
    if (stat(from.c_str(), &st) != 0) {
        *why = from + " is missing";
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        *why = from + " is not a file";
        return false;
    }
    std::ifstream in(from, std::ios::binary);
    if (!in) {
        *why = "cannot read " + from;
        return false;
    }
    std::ofstream out(to, std::ios::binary | std::ios::trunc);
    if (!out) {
        *why = "cannot write " + to;
        return false;
    }
    // Inserting an empty stream buffer sets failbit though nothing failed.
    if (st.st_size > 0) out << in.rdbuf();
    out.close();
    if (!out) {
        *why = "cannot write " + to;
        return false;
    }
    chmod(to.c_str(), st.st_mode & 0777);
    return true;
}

}  // namespace

int Init(const Args& args) {
    if (!args.empty()) return Usage("usage: init (no arguments)");
    std::string root = winsim::MachineRoot();
    if (!winsim::InitMachine(root)) return Fail("cannot create a machine at " + root);
    std::printf("machine ready at %s\n", root.c_str());
    return 0;
}

// Installs as adding a driver does on Windows: the INF's model names the
// driver and its files, which go into the driver directory's version folder.
int InstallDriver(const Args& args) {
    Args pos;
    if (!CheckFlags(args, {}, {}, &pos)) return 2;
    if (pos.size() != 1) return Usage("usage: install-driver <package folder>");
    std::string folder = pos[0];
    std::string infPath;
    std::ifstream probe(folder + "/lark.inf");
    if (!probe) return Fail("no lark.inf in " + folder);
    auto inf = ReadInf(folder + "/lark.inf");
    std::string modelsSection;
    for (const auto& line : inf["manufacturer"]) {
        size_t eq = line.find('=');
        if (eq == std::string::npos) continue;
        std::string rest = line.substr(eq + 1);
        size_t comma = rest.find(',');
        modelsSection = Lower(Trim(rest.substr(0, comma)));
        if (comma != std::string::npos) modelsSection += "." + Lower(Trim(rest.substr(comma + 1)));
        break;
    }
    if (inf[modelsSection].empty()) return Fail("the INF names no printer model");
    const std::string& model = inf[modelsSection].front();
    size_t eq = model.find('=');
    std::string driverName = Unquote(model.substr(0, eq));
    std::string installSection = Lower(Trim(model.substr(eq + 1, model.find(',', eq) - eq - 1)));
    // The hardware ID follows the install section: "name"=section,hardware-id[,compatible...]
    std::string hardwareId;
    if (size_t comma = model.find(',', eq); comma != std::string::npos) {
        hardwareId = Trim(model.substr(comma + 1, model.find(',', comma + 1) - comma - 1));
    }
    const Section& install = inf[installSection];
    if (install.empty()) return Fail("the INF has no install section " + installSection);

    std::u16string versionDir = winsim::DriverDirectory() + u"\\3\\";
    std::string hostDir = winsim::HostPath(versionDir);
    Section files = inf[Lower(Value(install, "CopyFiles"))];
    for (const auto& file : files) {
        std::string why;
        if (!CopyFile(folder + "/" + file, hostDir + "/" + file, &why)) {
            return Fail("cannot install the package: " + why);
        }
    }
    winsim::DriverRecord driver;
    driver.name = winsim::ToUtf16(driverName);
    driver.version = 3;
    auto full = [&](const std::string& key) {
        std::string file = Value(install, key);
        return file.empty() ? std::u16string() : versionDir + winsim::ToUtf16(file);
    };
    driver.driverPath = full("DriverFile");
    driver.dataFile = full("DataFile");
    driver.configFile = full("ConfigFile");
    driver.helpFile = full("HelpFile");
    // As the printer class installer does: the copied files beyond the four roles are the
    // dependent files.
    for (const auto& file : files) {
        std::u16string path = versionDir + winsim::ToUtf16(file);
        bool role = false;
        for (const auto* named :
             {&driver.driverPath, &driver.dataFile, &driver.configFile, &driver.helpFile}) {
            role = role || Lower(winsim::ToUtf8(*named)) == Lower(winsim::ToUtf8(path));
        }
        if (!role) driver.dependentFiles.push_back(path);
    }
    if (!winsim::AddDriver(driver)) return Fail("cannot register the driver");
    std::printf("installed driver \"%s\" for %s (version 3, %zu files) into %s\n",
                driverName.c_str(), hardwareId.c_str(), files.size(),
                winsim::ToUtf8(versionDir).c_str());
    return 0;
}

int AddPrinter(const Args& args) {
    Args pos;
    if (!CheckFlags(args, {"--port", "--driver"}, {}, &pos)) return 2;
    if (pos.size() != 1) return Usage("usage: add-printer <name> --port <port> [--driver <name>]");
    std::string port = Option(args, "--port", "");
    if (port.empty()) return Usage("add-printer needs --port (for example --port USB001)");
    std::string driver = Option(args, "--driver", "Lark Photo Printer");
    std::string error;
    if (!winsim::AddPrinter(winsim::ToUtf16(pos[0]), winsim::ToUtf16(port), winsim::ToUtf16(driver),
                            &error)) {
        return Fail(error);
    }
    std::printf("added printer \"%s\" on %s with driver \"%s\"\n", pos[0].c_str(), port.c_str(),
                driver.c_str());
    return 0;
}

}  // namespace larksim

namespace larksim {

// Machine settings, each with what winsim reads from it; a value the
// platform would misread (a number out of range, a word it does not know)
// is refused, and so is a setting it does not have. An empty value unsets.
namespace {

enum class Kind { Number, Scale, Language, Choice, Path, Clock };
struct SettingRule {
    const char* name;
    Kind kind;
    long min, max;        // Number
    const char* choices;  // Choice: the words, separated by '|'
    const char* meaning;
};
constexpr SettingRule kSettings[] = {
    {"language", Kind::Language, 0, 0, nullptr,
     "system language identifier, 1 to 4 hexadecimal digits (0409)"},
    {"sleep_scale", Kind::Scale, 0, 0, nullptr, "factor on every Sleep, 0 to 1000"},
    {"message_box_delay_ms", Kind::Number, -1, 3600000, nullptr,
     "a shown box answers by itself after this long; -1: when `box close` answers it"},
    {"sheet_timeout_ms", Kind::Number, 0, 3600000, nullptr,
     "a property sheet nobody closes is cancelled after this long"},
    {"sheet_refuse_page", Kind::Choice, 0, 0, "0|1", "1: the sheet refuses every page"},
    {"dialog_mode", Kind::Choice, 0, 0, "scripted|browser|show", "how the settings dialog runs"},
    {"dialog_browser", Kind::Path, 0, 0, nullptr, "the browser of the browser mode"},
    {"dialog_timeout_ms", Kind::Number, 1, 3600000, nullptr,
     "a browser showing that does not end fails after this long"},
    {"mshtml", Kind::Choice, 0, 0, "present|missing|no-export",
     "MSHTML.DLL as the system folder holds it"},
    {"os_major", Kind::Number, 0, 100, nullptr, "GetVersionExW's major version"},
    {"os_minor", Kind::Number, 0, 100, nullptr, "GetVersionExW's minor version"},
    {"os_platform_id", Kind::Number, 0, 10, nullptr, "GetVersionExW's platform (2: NT)"},
    {"screen_cx", Kind::Number, 0, 100000, nullptr, "SM_CXFULLSCREEN"},
    {"screen_cy", Kind::Number, 0, 100000, nullptr, "SM_CYFULLSCREEN"},
    {"user", Kind::Choice, 0, 0, "standard|admin|elevated|system",
     "who the roads run as: admin (the default) is not elevated and has a standard user's rights"},
    {"window_station", Kind::Choice, 0, 0, "interactive|service",
     "the window station of the machine's processes: a service's shows no one its boxes"},
    {"clock", Kind::Clock, 0, 0, nullptr,
     "the system time: HH:MM:SS.mmm or YYYY-MM-DD HH:MM:SS.mmm (UTC)"},
};

const SettingRule* FindSetting(const std::string& name) {
    for (const SettingRule& r : kSettings) {
        if (name == r.name) return &r;
    }
    return nullptr;
}

bool ValidClock(const std::string& value) {
    int a[7] = {}, used = 0;
    const char* text = value.c_str();
    int whole = static_cast<int>(value.size());
    bool dated = std::sscanf(text, "%4d-%2d-%2d %2d:%2d:%2d.%3d%n", &a[0], &a[1], &a[2], &a[3],
                             &a[4], &a[5], &a[6], &used) == 7 &&
                 used == whole;
    bool timed = !dated &&
                 std::sscanf(text, "%2d:%2d:%2d.%3d%n", &a[3], &a[4], &a[5], &a[6], &used) == 4 &&
                 used == whole;
    if (dated && (a[1] < 1 || a[1] > 12 || a[2] < 1 || a[2] > 31)) return false;
    return (dated || timed) && a[3] >= 0 && a[3] <= 23 && a[4] >= 0 && a[4] <= 59 && a[5] >= 0 &&
           a[5] <= 59 && a[6] >= 0 && a[6] <= 999;
}

bool ValidSetting(const SettingRule& rule, const std::string& value) {
    if (value.empty()) return true;
    const std::string name = rule.name;
    long number = 0;
    switch (rule.kind) {
        case Kind::Number:
            return NumberArgument(name, value, rule.min, rule.max, &number);
        case Kind::Scale: {
            char* end = nullptr;
            double scale = std::strtod(value.c_str(), &end);
            if (*end == 0 && scale >= 0 && scale <= 1000) return true;
            Usage(name + " takes a number from 0 to 1000, not '" + value + "'");
            return false;
        }
        case Kind::Language: {
            char* end = nullptr;
            unsigned long id = std::strtoul(value.c_str(), &end, 16);
            if (value.size() <= 4 && *end == 0 && id != 0 && value[0] != '-' && value[0] != '+') {
                return true;
            }
            Usage(name +
                  " takes a language identifier of 1 to 4 hexadecimal digits, like 0409,"
                  " not '" +
                  value + "'");
            return false;
        }
        case Kind::Choice: {
            std::string choices = std::string("|") + rule.choices + "|";
            if (value.find('|') == std::string::npos &&
                choices.find("|" + value + "|") != std::string::npos) {
                return true;
            }
            Usage(name + " takes one of " + rule.choices + ", not '" + value + "'");
            return false;
        }
        case Kind::Path:
            return true;
        case Kind::Clock:
            if (ValidClock(value)) return true;
            Usage(name + " takes HH:MM:SS.mmm or YYYY-MM-DD HH:MM:SS.mmm, not '" + value + "'");
            return false;
    }
    return false;
}

int UnknownSetting(const std::string& name) {
    std::string names;
    for (const SettingRule& r : kSettings) names += std::string(names.empty() ? "" : ", ") + r.name;
    return Usage("unknown setting '" + name + "' (settings: " + names + ")");
}

}  // namespace

int Set(const Args& args) {
    Args pos;
    if (!CheckFlags(args, {}, {}, &pos)) return 2;
    if (pos.empty()) {
        for (const SettingRule& r : kSettings) {
            std::printf("%-21s %-24s %s\n", r.name,
                        ("\"" + winsim::GetSetting(r.name, "") + "\"").c_str(), r.meaning);
        }
        return 0;
    }
    if (pos.size() > 2) return Usage("usage: set [<setting> [<value>]]");
    const SettingRule* rule = FindSetting(pos[0]);
    if (rule == nullptr) return UnknownSetting(pos[0]);
    if (pos.size() == 1) {
        std::printf("%s=%s\n", pos[0].c_str(), winsim::GetSetting(pos[0], "").c_str());
        return 0;
    }
    if (!ValidSetting(*rule, pos[1])) return 2;
    winsim::SetSetting(pos[0], pos[1]);
    std::printf("%s=%s\n", pos[0].c_str(), pos[1].c_str());
    return 0;
}

}  // namespace larksim
