// The driver for a user without the right to administer the spooler: the
// monitor of an administrator who is not elevated (the Windows default) has
// every port status refused, logs the refusal and still shows its box.
#include <string>
#include <vector>

#include "adapter.h"
#include "conformance.h"
#ifndef _WIN32
#include "winsim/control.h"
#endif

namespace {

constexpr char kWhy[] =
    "SetPortW is missing in Wine 8 and its stand-in answers TRUE; Wine plays no user who is not "
    "elevated";

}  // namespace

CONFORMANCE_TABLE(MonitorUserRights, "larkmon for a user who is not elevated") {
    struct Row {
        const char* name;
        bool elevated;
    } rows[] = {
        {"not elevated: the jam's status refused and logged, the box still shown", false},
        {"elevated: the jam's status taken, nothing logged as failed, the box shown", true},
    };
    for (const Row& row : rows) {
        if (!ctx.Begin(row.name, conformance::WinsimOnly(kWhy))) continue;
#ifndef _WIN32
        const std::string jam = "MFG:Lark;CMD:JPEG;MDL:Photo;CLS:PRINTER;S:03040000000000000E00;";
        if (!ROW_CHECK(conformance::AttachUsbPrinters() &&
                       conformance::SetUsbScript(conformance::kUsbPorts[0], {jam}, 2))) {
            continue;
        }
        conformance::SetMonitorLogFolder(false);
        conformance::SetMonitorLogFolder(true);
        winsim::SetProcessUser(row.elevated ? winsim::UserKind::Elevated : winsim::UserKind::Admin);
        const int monitor = conformance::StartMonitor(conformance::kPrinter);
        winsim::ClearProcessUser();
        conformance::MonitorRun run;
        ROW_CHECK(monitor != 0 && conformance::WaitMonitor(monitor, 60000, &run));
        std::string log;
        conformance::ReadFileBytes(TEXT("C:\\temp\\larkdeb\\larksm.txt"), &log);
        if (ROW_EQ(run.statuses.size(), 1u)) {
            ROW_EQ(run.statuses[0].status, static_cast<DWORD>(PORT_STATUS_PAPER_JAM));
            ROW_EQ(run.statuses[0].refused, row.elevated ? 0u : 5u);
        }
        const size_t set = log.find("CheckStatus: Setting port status to 14\r\n");
        const size_t failed = log.find("SetPort failed, error = 5\r\n");
        ROW_CHECK(set != std::string::npos);
        if (row.elevated) {
            ROW_CHECK(failed == std::string::npos);
        } else {
            ROW_CHECK(failed != std::string::npos && failed > set);
        }
        if (ROW_EQ(run.boxes.size(), 1u)) ROW_EQ(run.boxes[0].afterStatuses, 1u);
#endif
    }
}
