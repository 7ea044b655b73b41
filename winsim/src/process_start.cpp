// Starting a Windows program of the machine: the program file is a host
// executable at the mapped path; it gets its command line and the machine
// root through the environment.
#include <spawn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "internal.h"

extern char** environ;

namespace winsim {
namespace {

bool StartsWith(const char* entry, const char* prefix) {
    return std::string(entry).rfind(prefix, 0) == 0;
}

// The parent's environment with the program's own values in place of any
// inherited ones: its command line, the machine, and its own Windows path
// (what QueryFullProcessImageNameW answers for it).
std::vector<std::string> ProgramEnvironment(const std::u16string& windowsPath,
                                            const std::u16string& commandLine) {
    std::vector<std::string> env;
    for (char** e = environ; e != nullptr && *e != nullptr; ++e) {
        if (StartsWith(*e, "WINSIM_CMDLINE=") || StartsWith(*e, "WINSIM_ROOT=") ||
            StartsWith(*e, "WINSIM_IMAGE=")) {
            continue;
        }
        env.emplace_back(*e);
    }
    env.push_back("WINSIM_CMDLINE=" + ToUtf8(commandLine));
    env.push_back("WINSIM_IMAGE=" + ToUtf8(windowsPath));
    env.push_back("WINSIM_ROOT=" + MachineRoot());
    return env;
}

}  // namespace

bool StartProgram(const std::u16string& windowsPath, const std::u16string& commandLine, int* pid) {
    if (pid != nullptr) *pid = 0;
    const std::string host = HostPath(windowsPath);
    struct stat st {};
    if (windowsPath.empty() || stat(host.c_str(), &st) != 0 || !S_ISREG(st.st_mode) ||
        access(host.c_str(), X_OK) != 0) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return false;
    }
    std::vector<std::string> env = ProgramEnvironment(windowsPath, commandLine);
    std::vector<char*> envp;
    for (std::string& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    std::string program = host;
    char* argv[] = {program.data(), nullptr};
    pid_t child = 0;
    if (posix_spawn(&child, host.c_str(), nullptr, nullptr, argv, envp.data()) != 0) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return false;
    }
    if (pid != nullptr) *pid = static_cast<int>(child);
    return true;
}

}  // namespace winsim
