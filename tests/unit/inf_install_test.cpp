// What `larksim install-driver` installs from the shipped package (the driver the spooler holds,
// the files in the driver directory's version folder) against the expectation the Wine
// installation through SetupAPI is held to as well.
#include <dirent.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

#include "../shared/inf_expectations.h"
#include "machine_fixture.h"

namespace larktest {
namespace {

// Windows names compare without regard to case; sorted, the order of the INF does not matter.
std::vector<std::string> Names(std::vector<std::string> names) {
    for (std::string& name : names) {
        for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::string> FilesIn(const std::string& hostFolder) {
    std::vector<std::string> files;
    DIR* dir = opendir(hostFolder.c_str());
    if (dir == nullptr) return files;
    while (dirent* entry = readdir(dir)) {
        std::string name = entry->d_name;
        if (name != "." && name != "..") files.push_back(name);
    }
    closedir(dir);
    return files;
}

class InfInstallTest : public MachineTest {};

TEST_F(InfInstallTest, InstallsWhatTheInfNames) {
    std::string out;
    ASSERT_EQ(RunLarksim(std::string("install-driver '") + LARK_PACKAGE_DIR + "'", &out), 0) << out;
    EXPECT_NE(out.find(std::string(" for ") + larkinf::kHardwareId + " "), std::string::npos)
        << out;

    winsim::DriverRecord driver;
    ASSERT_TRUE(winsim::GetDriver(winsim::ToUtf16(larkinf::kDriverName), &driver));
    EXPECT_EQ(winsim::ToUtf8(driver.name), larkinf::kDriverName);
    EXPECT_EQ(driver.version, 3u);
    const std::u16string versionDir = winsim::DriverDirectory() + u"\\3";
    const std::string prefix = winsim::ToUtf8(versionDir) + "\\";
    struct {
        const char* role;
        const std::u16string& path;
        const char* file;
    } const roles[] = {
        {"DriverFile", driver.driverPath, larkinf::kDriverFile},
        {"DataFile", driver.dataFile, larkinf::kDataFile},
        {"ConfigFile", driver.configFile, larkinf::kConfigFile},
        {"HelpFile", driver.helpFile, larkinf::kHelpFile},
    };
    for (const auto& role : roles) {
        EXPECT_EQ(winsim::ToUtf8(role.path), prefix + role.file) << role.role;
    }

    std::vector<std::string> dependent, expectedDependent;
    for (const std::u16string& path : driver.dependentFiles) {
        dependent.push_back(winsim::ToUtf8(path));
    }
    for (const char* file : larkinf::kDependentFiles) expectedDependent.push_back(prefix + file);
    EXPECT_EQ(Names(dependent), Names(expectedDependent));

    // The version folder holds the copied files and nothing else.
    std::vector<std::string> copied(larkinf::kCopyFiles,
                                    larkinf::kCopyFiles + larkinf::kCopyFileCount);
    EXPECT_EQ(Names(FilesIn(winsim::HostPath(versionDir))), Names(copied));
}

}  // namespace
}  // namespace larktest
