// larksim report: writes everything the machine recorded as one
// self-contained HTML file: the settings roads as sequence diagrams, the
// monitor's runs as strips of polls, the print roads' document events and
// the raw jobs, each road with its process's accounting at its end.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "larksim.h"
#include "report.h"

namespace larksim {
namespace {

const char kUsage[] = "report [--out <file.html>]";

// Written beside its place and renamed there, so a failed write leaves no
// half report in it.
bool WriteFile(const std::string& path, const std::string& text, std::string* why) {
    std::string temporary = path + ".part-" + std::to_string(getpid());
    FILE* f = std::fopen(temporary.c_str(), "wb");
    if (f == nullptr) {
        *why = std::strerror(errno);
        return false;
    }
    bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    ok = std::fclose(f) == 0 && ok;
    if (ok && std::rename(temporary.c_str(), path.c_str()) == 0) return true;
    *why = std::strerror(errno != 0 ? errno : EIO);
    std::remove(temporary.c_str());
    return false;
}

}  // namespace

int Report(const Args& args) {
    std::string out;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] != "--out") {
            return Usage("report: unknown argument '" + args[i] + "' (" + kUsage + ")");
        }
        if (i + 1 >= args.size() || args[i + 1].empty()) return Usage("--out needs a file name");
        if (!out.empty()) return Usage("report: --out given twice");
        out = args[++i];
    }
    if (out.empty()) out = winsim::MachineRoot() + "/report.html";
    report::Machine machine = report::ReadMachine();
    std::string why;
    errno = 0;
    if (!WriteFile(out, report::ReportHtml(machine), &why)) {
        return Fail("cannot write the report to " + out + ": " + why);
    }
    std::printf(
        "report written to %s: %zu road(s), %zu dialog showing(s), %zu poll(s), %zu box(es),"
        " %zu raw job(s); user %s, %zu call(s) refused for the user's rights\n",
        out.c_str(), machine.roads.size(), machine.showings, machine.polls, machine.boxes,
        machine.jobs, machine.user.c_str(), machine.refusals.size());
    return 0;
}

}  // namespace larksim
