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

bool CopyFile(const std::string& from, const std::string& to) {
    std::ifstream in(from, std::ios::binary);
    if (!in) return false;
    std::ofstream out(to, std::ios::binary | std::ios::trunc);
    out << in.rdbuf();
    out.close();
    struct stat st {};
    if (stat(from.c_str(), &st) == 0) chmod(to.c_str(), st.st_mode & 0777);
    return static_cast<bool>(out);
}

}  // namespace

int Init(const Args&) {
    std::string root = winsim::MachineRoot();
    if (!winsim::InitMachine(root)) return Fail("cannot create a machine at " + root);
    std::printf("machine ready at %s\n", root.c_str());
    return 0;
}

// Installs as adding a driver does on Windows: the INF's model names the
// driver and its files, which go into the driver directory's version folder.
int InstallDriver(const Args& args) {
    Args pos = Positional(args, {});
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
        if (!CopyFile(folder + "/" + file, hostDir + "/" + file)) {
            return Fail("cannot copy " + folder + "/" + file);
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
    Args pos = Positional(args, {"--port", "--driver"});
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

// Machine settings: language (hex language id), sleep_scale (factor on every
// Sleep), message_box_delay_ms (when a shown box answers by itself).
namespace {

// The machine's numeric settings and their ranges; a value out of its
// range or not a number would be read as 0 by the platform.
struct NumericSetting {
    const char* name;
    long min, max;
};
constexpr NumericSetting kNumericSettings[] = {
    {"message_box_delay_ms", -1, 3600000},
    {"sheet_timeout_ms", 0, 3600000},
    {"os_major", 0, 100},
    {"os_minor", 0, 100},
    {"os_platform_id", 0, 10},
    {"screen_cx", 0, 100000},
    {"screen_cy", 0, 100000},
};

bool ValidSetting(const std::string& name, const std::string& value) {
    for (const NumericSetting& n : kNumericSettings) {
        long number = 0;
        if (name == n.name) return NumberArgument(name, value, n.min, n.max, &number);
    }
    if (name == "sleep_scale") {
        char* end = nullptr;
        double scale = std::strtod(value.c_str(), &end);
        if (value.empty() || *end != 0 || !(scale >= 0 && scale <= 1000)) {
            Usage("sleep_scale takes a number from 0 to 1000, not '" + value + "'");
            return false;
        }
    }
    if (name == "language") {
        char* end = nullptr;
        unsigned long id = std::strtoul(value.c_str(), &end, 16);
        if (value.empty() || value.size() > 4 || *end != 0 || id == 0 || value[0] == '-' ||
            value[0] == '+') {
            Usage(
                "language takes a language identifier of 1 to 4 hexadecimal digits, like 0409,"
                " not '" +
                value + "'");
            return false;
        }
    }
    return true;
}

}  // namespace

int Set(const Args& args) {
    Args pos = Positional(args, {});
    if (pos.size() == 1) {
        std::printf("%s=%s\n", pos[0].c_str(), winsim::GetSetting(pos[0], "").c_str());
        return 0;
    }
    if (pos.size() != 2) return Usage("usage: set <setting> [<value>]");
    if (!ValidSetting(pos[0], pos[1])) return 2;
    winsim::SetSetting(pos[0], pos[1]);
    std::printf("%s=%s\n", pos[0].c_str(), pos[1].c_str());
    return 0;
}

}  // namespace larksim
