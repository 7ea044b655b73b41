// The tables on winsim: a fresh machine per table with the build's driver
// package installed, the driver loaded from its config file as winsim's
// spooler loads it (the module only: this program links no driver code).
#include <signal.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>

#include "adapter.h"
#include "winsim/control.h"

namespace conformance {

const WCHAR kPrinter[] = u"Lark Photo";
const WCHAR kLptPrinter[] = u"Lark Photo LPT";
const WCHAR kDriverName[] = u"Lark Photo Printer";

namespace {

struct Machine {
    std::string root;
    winsim::DriverModule module;
    std::map<std::string, std::string> package;  // the version folder as installed
    std::u16string configFile;
    winsim::DriverRecord driver;  // as installed
};
Machine g_machine;

std::string VersionFolderHost() { return winsim::HostPath(winsim::DriverDirectory() + u"\\3"); }

bool RunLarksim(const std::string& arguments, std::string* why) {
    std::string command = std::string(LARK_LARKSIM) + " --root '" + g_machine.root + "' " +
                          arguments + " >/dev/null 2>&1";
    if (std::system(command.c_str()) == 0) return true;
    *why = "larksim " + arguments + " failed";
    return false;
}

}  // namespace

Platform ThisPlatform() { return Platform::Winsim; }
const char* PlatformName() { return "winsim"; }

bool BeginTable(std::string* why) {
    char pattern[] = "/tmp/lark-conformance.XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
        *why = "no temporary folder";
        return false;
    }
    g_machine = Machine{};
    g_machine.root = pattern;
    if (!winsim::InitMachine(g_machine.root)) {
        *why = "cannot create a machine at " + g_machine.root;
        return false;
    }
    winsim::SetMachineRoot(g_machine.root);
    setenv("WINSIM_ROOT", g_machine.root.c_str(), 1);
    // The tables run as an elevated administrator, as the Wine prefix's
    // user has every right; the rights table plays the other users.
    winsim::SetSetting("user", "elevated");
    winsim::ClearFaults();
    if (!RunLarksim(std::string("install-driver '") + LARK_PACKAGE_DIR + "'", why)) return false;
    for (const WCHAR* name : {kPrinter, kLptPrinter}) {
        std::string error;
        if (!winsim::AddPrinter(name, name == kPrinter ? u"USB001" : u"LPT1:", kDriverName,
                                &error)) {
            *why = error;
            return false;
        }
    }
    for (const auto& file : std::filesystem::directory_iterator(VersionFolderHost())) {
        std::ifstream in(file.path(), std::ios::binary);
        g_machine.package[file.path().filename().string()] =
            std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    winsim::DriverRecord driver;
    if (!winsim::GetDriver(kDriverName, &driver)) {
        *why = "the driver is not registered";
        return false;
    }
    g_machine.driver = driver;
    g_machine.configFile = driver.configFile;
    g_machine.module = winsim::LoadDriverModule(driver.configFile);
    if (g_machine.module.library == nullptr) {
        *why = "cannot load the driver: " + g_machine.module.error;
        return false;
    }
    return true;
}

void EndTable() {
    winsim::UnloadDriverModule(g_machine.module);
    winsim::ClearFaults();
    std::error_code ignored;
    std::filesystem::remove_all(g_machine.root, ignored);
}

void* DriverEntry(const char* name) { return winsim::DriverEntry(g_machine.module, name); }

std::basic_string<WCHAR> DriverFolder() { return winsim::DriverDirectory() + u"\\3\\"; }

bool WriteDriverFile(const char* name, const std::string& bytes) {
    const std::string path = VersionFolderHost() + "/" + name;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
    out.close();
    // A program of the machine runs as a host executable, as any .exe file
    // runs on Windows.
    const std::string exe = ".exe";
    if (path.size() > exe.size() && path.compare(path.size() - exe.size(), exe.size(), exe) == 0) {
        chmod(path.c_str(), 0755);
    }
    return static_cast<bool>(out);
}

bool RemoveDriverFile(const char* name) {
    return std::remove((VersionFolderHost() + "/" + name).c_str()) == 0;
}

bool RemovePrinterValue(const WCHAR* name) { return winsim::RemovePrinterData(kPrinter, name); }

bool ListDriverFile(const char* name) {
    winsim::DriverRecord driver;
    if (!winsim::GetDriver(kDriverName, &driver)) return false;
    driver.dependentFiles.push_back(DriverFolder() + winsim::ToUtf16(name));
    return winsim::AddDriver(driver);
}

bool SetDriverDirectory(const WCHAR* directory) {
    if (directory == nullptr) {
        winsim::SetSetting("driver_directory", "");
        return true;
    }
    winsim::SetSetting("driver_directory", winsim::ToUtf8(directory));
    std::error_code error;
    std::filesystem::create_directories(VersionFolderHost(), error);
    return !error && WriteDriverFile("larkmon.exe", g_machine.package["larkmon.exe"]);
}

bool SetPollingPrinter(bool present) {
    if (!present) return winsim::UnplugUsb(u"USB001");
    winsim::SetSetting("sleep_scale", "0.05");
    winsim::UsbDevice device;
    device.deviceIds = {"MFG:Lark;CMD:JPEG;MDL:Photo;"};  // no status field: nothing to report
    return winsim::AddUsbDevice(device) != 0;
}

bool PrinterValueNames(std::vector<std::string>* names) {
    names->clear();
    for (const auto& value : winsim::PrinterData(kPrinter)) {
        names->push_back(winsim::ToUtf8(value.name));
    }
    return true;
}

bool RemovePrinterDevmode() {
    bool ok = winsim::SetPrinterDevmode(kPrinter, {});
    std::u16string name = kPrinter;
    HANDLE printer = nullptr;
    if (!OpenPrinterW(name.data(), &printer, nullptr)) return false;
    PRINTER_INFO_9W none = {nullptr};
    ok = SetPrinterW(printer, 9, reinterpret_cast<LPBYTE>(&none), 0) && ok;
    ClosePrinter(printer);
    return ok;
}

NoAccessPages::NoAccessPages() {
    page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    void* at = mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (at == MAP_FAILED) return;
    first = static_cast<uint8_t*>(at);
    mprotect(first + page, page, PROT_NONE);
}

NoAccessPages::~NoAccessPages() {
    if (first != nullptr) munmap(first, 2 * page);
}

bool NoAccessPages::MakeReadOnly() {
    return first != nullptr && mprotect(first, page, PROT_READ) == 0;
}

bool SetMonitorLogFolder(bool present) {
    std::string folder = winsim::HostPath(u"C:\\temp") + "/larkdeb";
    std::error_code error;
    if (present) return std::filesystem::create_directories(folder, error) || !error;
    std::filesystem::remove_all(folder, error);
    return !error;
}

bool MakeLink(LinkKind kind, const WCHAR* link, const WCHAR* target) {
    const std::string to = winsim::HostPath(target), at = winsim::HostPath(link);
    std::error_code error;
    if (kind == LinkKind::Junction) {
        std::filesystem::create_directory_symlink(to, at, error);
    } else if (kind == LinkKind::FileSymlink) {
        std::filesystem::create_symlink(to, at, error);
    } else {
        std::filesystem::create_hard_link(to, at, error);
    }
    return !error;
}

bool MakeFolder(const WCHAR* path) { return mkdir(winsim::HostPath(path).c_str(), 0755) == 0; }

bool WriteWholeFile(const WCHAR* path, const std::string& bytes) {
    std::ofstream out(winsim::HostPath(path), std::ios::binary | std::ios::trunc);
    out << bytes;
    return static_cast<bool>(out);
}

bool RemovePath(const WCHAR* path) {
    std::error_code error;
    std::filesystem::remove_all(winsim::HostPath(path), error);
    return !error;
}

bool GiveToAnotherUser(const WCHAR* path) {
    return winsim::SetFileOwner(path, "S-1-5-21-1004336348-1177238915-682003330-1002");
}

bool RunMonitor(const WCHAR* printer) {
    int pid = 0;
    if (!winsim::StartProgram(DriverFolder() + u"larkmon.exe", printer, &pid)) return false;
    for (int waited = 0; waited < 30000; waited += 5) {
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid) return true;
        usleep(5000);
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    return false;
}

const WCHAR* const kUsbPorts[3] = {u"USB001", u"USB002", u"USB003"};

bool AttachUsbPrinters() {
    for (DWORD number = 1; number <= 3; ++number) {
        winsim::UsbDevice device;
        device.portNumber = number;
        device.present = number != 3;
        if (winsim::AddUsbDevice(device) == 0) return false;
    }
    return true;
}

bool SetUsbScript(const WCHAR* port, const std::vector<std::string>& ids, DWORD failFrom) {
    return winsim::SetUsbScript(port, ids, static_cast<int>(failFrom));
}

const WCHAR kSecondPrinter[] = u"Lark Photo USB002";
const WCHAR kUnpluggedPrinter[] = u"Lark Photo USB003";

bool AddUsbPrinter(const WCHAR* name, const WCHAR* port) {
    std::string error;
    return winsim::AddPrinter(name, port, kDriverName, &error);
}

int StartMonitor(const WCHAR* commandLine) {
    winsim::SetSetting("sleep_scale", "0.001");
    int pid = 0;
    if (!winsim::StartProgram(winsim::DriverDirectory() + u"\\3\\larkmon.exe", commandLine, &pid)) {
        return 0;
    }
    return pid;
}

bool WaitMonitor(int monitor, DWORD timeoutMs, MonitorRun* run) {
    *run = MonitorRun{};
    int status = 0;
    for (DWORD waited = 0; !run->ended && waited < timeoutMs; waited += 5) {
        if (waitpid(monitor, &status, WNOHANG) == monitor) {
            run->ended = true;
        } else {
            usleep(5000);
        }
    }
    if (!run->ended) {
        kill(monitor, SIGKILL);
        waitpid(monitor, &status, 0);
    }
    winsim::Counts held;
    UINT code = 1;
    if (winsim::ExitCounts(monitor, &held, &code)) {
        run->exitCode = code;
        // The device's handle is the one the end of the process releases.
        run->heldAtExit = held.printerHandles + held.registryKeys + held.deviceInfoLists +
                          held.heapBlocks + held.globalBlocks + held.localBlocks + held.openFiles +
                          (held.kernelHandles > 1 ? held.kernelHandles - 1 : 0);
    } else {
        run->exitCode = WIFEXITED(status) ? static_cast<DWORD>(WEXITSTATUS(status)) : 1;
    }
    std::vector<int64_t> seqs;
    for (const auto& p : winsim::PortStatuses()) {
        if (p.pid != monitor) continue;
        seqs.push_back(p.seq);
        // winsim's spooler keeps the calls it answered, made for the local one.
        run->statuses.push_back(
            {true, p.port, 3, p.status, p.severity, p.hasText, p.text, p.error});
    }
    for (const auto& b : winsim::MessageBoxes()) {
        if (b.pid != monitor) continue;
        size_t before = 0;
        while (before < seqs.size() && seqs[before] <= b.afterPortStatus) ++before;
        run->boxes.push_back({false, b.text, b.caption, b.style, before});
    }
    return run->ended;
}

bool FailCall(const char* function, int nth, DWORD error) {
    winsim::FailCall(function, nth, error);
    return true;
}

long CallCount(const char* function) { return winsim::CallCount(function); }

bool ResetPrinter() {
    // A row's fault of every call must not fail the reset's own calls.
    winsim::ClearFaults();
    winsim::SetSetting("driver_directory", "");
    bool ok = winsim::AddDriver(g_machine.driver);
    for (const auto& file : std::filesystem::directory_iterator(VersionFolderHost())) {
        if (g_machine.package.count(file.path().filename().string()) == 0) {
            std::filesystem::remove(file.path());
        }
    }
    // Only what a row changed: the loaded module's own file must not be
    // rewritten under it.
    for (const auto& [name, bytes] : g_machine.package) {
        std::ifstream in(VersionFolderHost() + "/" + name, std::ios::binary);
        std::string now((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (!in.is_open() || now != bytes) ok = WriteDriverFile(name.c_str(), bytes) && ok;
    }
    for (const auto& value : winsim::PrinterData(kPrinter)) {
        winsim::RemovePrinterData(kPrinter, value.name);
    }
    using ConvertFn = BOOL(WINAPI*)(LPWSTR, PDEVMODEW, PDEVMODEW, PLONG, DWORD);
    using EventFn = BOOL(WINAPI*)(LPWSTR, INT, DWORD, LPARAM);
    auto convert = Entry<ConvertFn>("DrvConvertDevMode");
    auto event = Entry<EventFn>("DrvPrinterEvent");
    std::u16string name = kPrinter;
    std::vector<uint8_t> devmode(4096);
    LONG size = static_cast<LONG>(devmode.size());
    ok = convert != nullptr && event != nullptr &&
         convert(name.data(), nullptr, reinterpret_cast<PDEVMODEW>(devmode.data()), &size,
                 CDM_DRIVER_DEFAULT) &&
         ok;
    devmode.resize(size > 0 ? static_cast<size_t>(size) : 0);
    ok = winsim::SetPrinterDevmode(kPrinter, devmode) && ok;
    HANDLE printer = nullptr;
    if (OpenPrinterW(name.data(), &printer, nullptr)) {
        PRINTER_INFO_9W none = {nullptr};  // the user's own devmode taken away
        SetPrinterW(printer, 9, reinterpret_cast<LPBYTE>(&none), 0);
        ClosePrinter(printer);
    }
    ok = event != nullptr && event(name.data(), PRINTER_EVENT_INITIALIZE, 0, 0) && ok;
    winsim::SetPrinterJobs(kPrinter, 0);
    winsim::ClearDialogQueue();
    winsim::ClearDialogUserActions();
    winsim::ClearFaults();
    return ok;
}

bool Holdings(std::vector<Holding>* now) {
    winsim::Counts c = winsim::CurrentCounts();
    *now = {{"printer handles", c.printerHandles},
            {"handles", c.kernelHandles},
            {"registry keys", c.registryKeys},
            {"device sets", c.deviceInfoLists},
            {"heap blocks", c.heapBlocks},
            {"global blocks", c.globalBlocks},
            {"local blocks", c.localBlocks},
            {"files", c.openFiles},
            {"strings", c.bstrs},
            {"monikers", c.monikers},
            {"threads", winsim::LiveThreadCount()},
            {"threads in unloaded modules", winsim::UnloadedModuleThreads()},
            {"windows", winsim::ProcessWindowCount()}};
    return true;
}

bool PumpMessages(DWORD timeoutMs, const std::function<bool()>& done) {
    return winsim::PumpMessages(timeoutMs, done);
}

std::basic_string<WCHAR> MonikerDisplayName(IMoniker* moniker) {
    return winsim::MonikerDisplayName(moniker);
}

namespace {

// The road's printer data value, as stored (no terminator).
bool StoredText(const std::u16string& name, std::u16string* text) {
    for (const auto& value : winsim::PrinterData(kPrinter)) {
        if (value.name != name) continue;
        text->assign(value.data.size() / 2, u'\0');
        if (!text->empty()) std::memcpy(text->data(), value.data.data(), text->size() * 2);
        return true;
    }
    return false;
}

std::string StoredDevmode() {
    winsim::PrinterRecord record;
    if (!winsim::GetPrinterRecord(kPrinter, &record)) return "";
    std::vector<uint8_t> devmode = winsim::DefaultDevmode(record);
    return std::string(devmode.begin(), devmode.end());
}

bool QueueOutcome(const std::string& item) {
    winsim::DialogOutcome outcome;
    if (item == "sample") {
        outcome.kind = winsim::DialogKind::Sample;
    } else if (item.rfind("answer:", 0) == 0) {
        outcome.kind = winsim::DialogKind::Answer;
        outcome.text = winsim::ToUtf16(item.substr(7));
    } else if (item == "none") {
        outcome.kind = winsim::DialogKind::None;
    } else if (item == "null") {
        outcome.kind = winsim::DialogKind::NullString;
    } else if (item == "fail") {
        outcome.kind = winsim::DialogKind::Fail;
        outcome.result = E_FAIL;
    } else {
        return false;
    }
    winsim::QueueDialogOutcome(outcome);
    return true;
}

// The sheet under winsim's compstui with the buffer's size stated as the
// script says, answered as its DocumentPropertiesW answers.
LONG RunSheetStating(DWORD cbOut, DEVMODEW* out) {
    using SheetsFn = LONG(CALLBACK*)(PPROPSHEETUI_INFO, LPARAM);
    auto sheets = Entry<SheetsFn>("DrvDocumentPropertySheets");
    std::u16string name = kPrinter;
    HANDLE printer = nullptr;
    if (sheets == nullptr || !OpenPrinterW(name.data(), &printer, nullptr)) return -1;
    DOCUMENTPROPERTYHEADER header = {};
    header.cbSize = sizeof header;
    header.hPrinter = printer;
    header.pszPrinterName = name.data();
    header.pdmOut = out;
    header.cbOut = cbOut;
    header.fMode = DM_IN_PROMPT | DM_OUT_BUFFER;
    DWORD result = CPSUI_CANCEL;
    LONG shown =
        CommonPropertySheetUIW(nullptr, sheets, reinterpret_cast<LPARAM>(&header), &result);
    ClosePrinter(printer);
    if (shown < 0) return -1;
    return result == CPSUI_OK ? IDOK : IDCANCEL;
}

}  // namespace

bool PlaySettingsRoad(const RoadScript& script, RoadResult* result) {
    *result = RoadResult{};
    result->printer = kPrinter;
    winsim::ClearDialogQueue();
    for (const std::string& item : script.outcomes) {
        if (!QueueOutcome(item)) return false;
    }
    winsim::RemovePrinterData(kPrinter, u"PrinterSettings");
    result->storedBefore = StoredDevmode();
    std::u16string name = kPrinter;
    if (!script.storedNames.empty()) {
        HANDLE printer = nullptr;
        if (!OpenPrinterW(name.data(), &printer, nullptr)) return false;
        bool stored = StoreDevmodeNaming(printer, result->storedBefore, script.storedNames);
        ClosePrinter(printer);
        if (!stored) return false;
    }
    std::string application = ApplicationPaper(result->storedBefore, script.paper);
    auto* input = script.paper != 0 ? reinterpret_cast<DEVMODEW*>(application.data()) : nullptr;
    // The closing thread's 500 ms after its press, and a sheet that nobody
    // closes, at a test's pace.
    winsim::SetSetting("sleep_scale", "0.001");
    if (script.closingThreadFails) {
        winsim::SetSetting("sheet_timeout_ms", "300");
        winsim::FailCall("CreateThread", 1, ERROR_NOT_ENOUGH_MEMORY);
    }
    const auto events = winsim::UiEvents();
    const int64_t mark = events.empty() ? 0 : events.back().seq;
    const size_t showingsBefore = winsim::DialogShowings().size();
    const size_t jobsBefore = winsim::Jobs(kPrinter).size();
    const long loadsBefore = winsim::ModuleLoads(u"MSHTML.DLL");

    std::vector<uint8_t> buffer(script.buffer, kRoadFill);
    auto* out = reinterpret_cast<DEVMODEW*>(buffer.data());
    if (script.cbOut == 0) {
        result->answer = DocumentPropertiesW(
            nullptr, nullptr, name.data(), out, input,
            DM_IN_PROMPT | DM_OUT_BUFFER | (input != nullptr ? DM_IN_BUFFER : 0));
    } else {
        result->answer = RunSheetStating(script.cbOut, out);
    }
    bool ended = winsim::WaitForProcessThreads(5000);
    result->buffer.assign(buffer.begin(), buffer.end());

    int64_t frame = 0;
    for (const auto& e : winsim::UiEvents()) {
        if (e.seq <= mark) continue;
        if (e.kind == "sheet-shown") {
            frame = e.window;
            result->sheetTitle = e.text;
        } else if (e.kind == "sheet-call") {
            result->calls.push_back({static_cast<WORD>(e.values[0]), static_cast<LONG>(e.values[1]),
                                     static_cast<ULONG_PTR>(e.values[2])});
        } else if (e.kind == "page-callback") {
            LONG answer = static_cast<LONG>(e.values[1]);
            if (e.values[0] == CPSUICB_REASON_SETACTIVE && result->setActive == -1) {
                result->setActive = answer;
            }
            if (e.values[0] == CPSUICB_REASON_APPLYNOW && result->applyNow == -1) {
                result->applyNow = answer;
            }
        } else if (e.kind == "retitle" && e.window == frame) {
            result->sheetTitle = e.text;
        } else if (e.kind == "move" && e.window == frame && !result->moved &&
                   (e.values[4] & SWP_NOMOVE) == 0) {
            result->moved = true;
            result->movedX = static_cast<long>(e.values[0]);
            result->movedY = static_cast<long>(e.values[1]);
        } else if (e.kind == "send" && e.values[0] == WM_LBUTTONDOWN && e.values[1] == IDOK &&
                   e.values[2] != e.values[3]) {
            result->pressedFromAnotherThread = true;
        }
    }
    auto showings = winsim::DialogShowings();
    for (size_t i = showingsBefore; i < showings.size(); ++i) {
        const auto& s = showings[i];
        result->showings.push_back({s.page, s.hasArgument, s.argument, s.options, s.parent == 0});
    }
    auto jobs = winsim::Jobs(kPrinter);
    for (size_t i = jobsBefore; i < jobs.size(); ++i) {
        result->sampleJobs.emplace_back(jobs[i].data.begin(), jobs[i].data.end());
    }
    result->hasSettings = StoredText(u"PrinterSettings", &result->settings);
    result->dialogLoads = winsim::ModuleLoads(u"MSHTML.DLL") - loadsBefore;

    winsim::ClearFaults();
    winsim::ClearDialogQueue();
    winsim::SetSetting("sheet_timeout_ms", "");
    winsim::SetSetting("sleep_scale", "");
    return ended;
}

std::basic_string<WCHAR> PlantBesideProgram(const char* name) {
    const std::u16string folder = winsim::ToUtf16(
        winsim::GetSetting("application_folder", "C:\\Program Files\\Lark Application"));
    std::error_code error;
    std::filesystem::create_directories(winsim::HostPath(folder), error);
    const std::u16string path = folder + u"\\" + winsim::ToUtf16(name);
    std::ofstream out(winsim::HostPath(path), std::ios::binary | std::ios::trunc);
    out << "MZ planted";
    out.close();
    return out ? path : std::u16string();
}

std::basic_string<WCHAR> SystemFolder() {
    WCHAR folder[MAX_PATH] = {};
    UINT n = GetSystemDirectoryW(folder, MAX_PATH);
    return n > 0 && n < MAX_PATH ? std::u16string(folder) : std::u16string();
}

}  // namespace conformance
