// larksim print: plays an application printing one document through the
// driver as GDI calls it: a device context with an application devmode, a
// document with a job in the queue, and the device context's end. Shows the
// devmode the driver hands out and then what the status monitor it started
// did.
#include <sys/stat.h>

#include <unistd.h>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <thread>

#include "driver_devmode.h"
#include "larksim.h"
#include "status_window.h"
#include "winsim/road_records.h"

namespace larksim {
namespace {

const char16_t kLogPath[] = u"C:\\temp\\larkdeb\\larksm.txt";

using EventFn = int (*)(HANDLE, HDC, int, ULONG, PVOID, ULONG, PVOID);

void PrintRecord(const DriverDevmode* d) {
    std::printf("devmode handed out by CREATEDCPRE:\n");
    std::printf("  paper size      %d   orientation %d   paper %d x %d (0.1 mm)\n",
                d->dm.dmPaperSize, d->dm.dmOrientation, d->dm.dmPaperWidth, d->dm.dmPaperLength);
    std::printf("  page            %d x %d mm, %u x %u dots at %d x %d dpi\n", d->priv.PaperWidthMm,
                d->priv.PaperLengthMm, d->priv.PageWidthDots, d->priv.PageLengthDots,
                d->priv.XResolution, d->priv.YResolution);
    std::printf("  imageable       %u, %u, %u x %u dots\n", d->priv.ImageableLeft,
                d->priv.ImageableTop, d->priv.ImageableWidthDots, d->priv.ImageableLengthDots);
    std::printf("  PrinterName     \"%s\"\n", Text(d->priv.PrinterName, kPrinterNameUnits).c_str());
    std::printf("  Settings        \"%s\"\n", Text(d->priv.Settings, kSettingsUnits).c_str());
}

long FileSize(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? static_cast<long>(st.st_size) : 0;
}

int MonitorPid(const std::u16string& title) {
    for (const winsim::WindowRecord& w : winsim::TopLevelWindows()) {
        if (w.title == title) return w.pid;
    }
    return 0;
}

// The process this one started since the mark (a STARTDOC's monitor), 0
// for none: the machine records it when it starts, so even a monitor that
// has ended by now is found.
int StartedSince(int64_t mark) {
    int pid = 0;
    for (const winsim::ProcessStart& p : winsim::ProcessStarts()) {
        if (p.parent == getpid() && p.micros >= mark) pid = p.pid;
    }
    return pid;
}

int64_t NowMicros() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

struct Job {
    winsim::PrinterRecord printer;
    EventFn event = nullptr;
    HANDLE handle = nullptr;
    int jobMs = 2000;
    int monitorPid = 0;           // the monitor STARTDOC started, 0 for none
    bool monitorEarlier = false;  // STARTDOC found one running and started none
};

int PlayDocument(Job& job, std::vector<uint8_t>& application) {
    std::u16string name = job.printer.name;
    DOCEVENT_CREATEDCPRE pre = {nullptr, name.data(),
                                reinterpret_cast<DEVMODEW*>(application.data()), FALSE};
    void* record = nullptr;
    int result = job.event(job.handle, nullptr, DOCUMENTEVENT_CREATEDCPRE, sizeof pre, &pre,
                           sizeof record, &record);
    std::printf("CREATEDCPRE: %s\n", DocumentEventName(result));
    winsim::RecordRoadStep("CREATEDCPRE", result, record,
                           record != nullptr ? sizeof(DriverDevmode) : 0);
    if (result != DOCUMENTEVENT_SUCCESS || record == nullptr) return 1;
    PrintRecord(static_cast<DriverDevmode*>(record));
    winsim::SetPrinterJobs(name, 1);
    WCHAR title[kStatusWindowTitleUnits];
    FormatStatusWindowTitle(title, name.c_str());
    const int running = MonitorPid(title);
    const int64_t beforeStart = NowMicros();
    result = job.event(job.handle, nullptr, DOCUMENTEVENT_STARTDOC, 0, nullptr, 0, nullptr);
    job.monitorPid = StartedSince(beforeStart);
    // A machine made before the record of process starts: the window the
    // new monitor makes is the only trace of it.
    if (job.monitorPid == 0 && running == 0) {
        for (int i = 0; i < 20 && job.monitorPid == 0; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            job.monitorPid = MonitorPid(title);
        }
    }
    if (job.monitorPid == 0 && running != 0) {
        job.monitorPid = running;
        job.monitorEarlier = true;
    }
    std::printf("STARTDOC: %s (one job in the queue for %d ms)\n", DocumentEventName(result),
                job.jobMs);
    winsim::RecordRoadStep("STARTDOC", result, nullptr, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(job.jobMs));
    winsim::SetPrinterJobs(name, 0);
    result = job.event(job.handle, nullptr, DOCUMENTEVENT_ENDDOC, 0, nullptr, 0, nullptr);
    std::printf("ENDDOC: %s\n", DocumentEventName(result));
    winsim::RecordRoadStep("ENDDOC", result, nullptr, 0);
    result = job.event(job.handle, nullptr, DOCUMENTEVENT_CREATEDCPOST, sizeof record, &record, 0,
                       nullptr);
    std::printf("CREATEDCPOST: %s\n", DocumentEventName(result));
    winsim::RecordRoadStep("CREATEDCPOST", result, nullptr, 0);
    return 0;
}

}  // namespace

int Print(const Args& args) {
    Args pos;
    if (!CheckFlags(args, {"--paper", "--job-ms", "--wait"},
                    {"--landscape", "--log", "--detach", "--service"}, &pos)) {
        return 2;
    }
    if (!Exclusive(args, {"--wait", "--detach"})) return 2;
    const bool detach = Has(args, "--detach");
    if (pos.size() != 1) {
        return Usage(
            "print <printer> [--landscape] [--paper <id>] [--job-ms <ms>] [--wait <s> | --detach]"
            " [--log] [--service]");
    }
    // A service prints from session 0: its process, the driver in it and the
    // monitor the driver starts (which inherits it) have a window station
    // nobody sees.
    if (Has(args, "--service")) {
        setenv("WINSIM_WINDOW_STATION", "service", 1);
        std::printf("printing as a service: a window station nobody sees\n");
    }
    Job job;
    if (!RequirePrinter(pos[0], &job.printer)) return 1;
    winsim::DriverRecord driver;
    if (!winsim::GetDriver(job.printer.driver, &driver)) return Fail("the printer has no driver");
    bool landscape = Has(args, "--landscape");
    long paper = -1, jobMs = 2000, waitSeconds = 60;
    if (!NumberOption(args, "--paper", 0, 32767, &paper) ||
        !NumberOption(args, "--job-ms", 0, 600000, &jobMs) ||
        !NumberOption(args, "--wait", 1, 3600, &waitSeconds)) {
        return 2;
    }
    job.jobMs = static_cast<int>(jobMs);

    winsim::DriverModule module = winsim::LoadDriverModule(driver.configFile);
    if (module.library == nullptr) return Fail("cannot load the driver: " + module.error);
    job.event = reinterpret_cast<EventFn>(winsim::DriverEntry(module, "DrvDocumentEvent"));
    std::u16string name = job.printer.name;
    // The monitor logs only into an existing folder; the timeline is what
    // this command is for.
    const std::string logFolder = winsim::HostPath(u"C:\\temp") + "/larkdeb";
    mkdir(logFolder.c_str(), 0755);
    const std::string log = winsim::HostPath(kLogPath);
    const long logStart = FileSize(log);
    int exitCode = 1;
    if (job.event != nullptr && OpenPrinterW(name.data(), &job.handle, nullptr)) {
        std::vector<uint8_t> application =
            ApplicationDevmode(job.printer, landscape, static_cast<int>(paper));
        exitCode = PlayDocument(job, application);
        ClosePrinter(job.handle);
    } else {
        Fail("the driver has no DrvDocumentEvent or the printer does not open");
    }
    winsim::UnloadDriverModule(module);
    winsim::RecordRoadEnd("print", name, exitCode, {});
    if (exitCode != 0) return exitCode;
    if (job.monitorPid == 0) {
        std::printf("(STARTDOC started no monitor)\n");
        winsim::RecordMonitorRun(0, NewLogLines(log, logStart));
        return 0;
    }
    if (job.monitorEarlier) {
        std::printf(
            "(STARTDOC started no monitor: the one of pid %d, started before, was running)\n",
            job.monitorPid);
    }
    if (detach) {
        std::printf("(monitor pid %d left running on purpose, --detach)\n", job.monitorPid);
        return 0;
    }
    std::printf("monitor timeline (pid %d, %s):\n", job.monitorPid,
                winsim::ToUtf8(kLogPath).c_str());
    LogFollower follower(log, logStart);
    MonitorTimeline timeline(job.monitorPid, Has(args, "--log"));
    const int pid = job.monitorPid;
    FollowMonitor(
        pid, follower, timeline, static_cast<int>(waitSeconds),
        [pid] { return !winsim::ProcessAlive(pid); }, !job.monitorEarlier);
    timeline.Finish();
    return 0;
}

}  // namespace larksim
