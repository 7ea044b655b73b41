#include "monitor_test_support.h"

#include <sys/stat.h>

#include <cstdio>
#include <fstream>

#include "winsim/control.h"

namespace larktest {

std::string DeviceId(const std::string& version, const std::string& status,
                     const std::string& tail) {
    return "MFG:Lark;CMD:JPEG;MDL:Photo;CLS:PRINTER;S:" + version + "00000000000000" + status +
           tail + ";";
}

std::string SupplyRecord(int kind, int level, bool present) {
    char record[16];
    std::snprintf(record, sizeof record, "%02X%02X0000", (present ? 0x80 : 0) | kind, level);
    return record;
}

void MakeLogFolder() {
    mkdir((winsim::MachineRoot() + "/drive_c/temp").c_str(), 0755);
    mkdir((winsim::MachineRoot() + "/drive_c/temp/larkdeb").c_str(), 0755);
}

std::string LogPath() { return winsim::HostPath(u"C:\\temp\\larkdeb\\larksm.txt"); }

std::vector<std::string> LogLines() {
    std::ifstream in(LogPath(), std::ios::binary);
    std::vector<std::string> lines;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

bool LogExists() {
    struct stat st {};
    return stat(LogPath().c_str(), &st) == 0;
}

}  // namespace larktest
