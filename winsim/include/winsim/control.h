// Control side of the stand-in platform, for larksim and the tests: setting
// up a machine, counting what a process holds open, and making platform
// calls fail. The system itself never includes this header.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "windows.h"

namespace winsim {

// The machine root comes from WINSIM_ROOT unless a process sets it first.
// WINSIM_SOLE_PROCESS=1 tells winsim that no other process uses the machine
// meanwhile: the database stays locked to this process (fuzz targets).
void SetMachineRoot(const std::string& root);
std::string MachineRoot();
// Creates the folder layout and the database of a new machine (idempotent).
bool InitMachine(const std::string& root);
bool MachineExists(const std::string& root);

// Host path of a Windows path on this machine (case-insensitive lookup of
// every existing component, as the Windows file system does).
std::string HostPath(const std::u16string& windowsPath);
std::u16string DriverDirectory();  // C:\Windows\System32\spool\drivers\x64

// Machine settings, stored in the machine database. An empty value is an
// unset one: GetSetting answers the fallback.
void SetSetting(const std::string& key, const std::string& value);
std::string GetSetting(const std::string& key, const std::string& fallback);

// UTF-8 and UTF-16 conversions for the control side.
std::string ToUtf8(const std::u16string& text);
std::u16string ToUtf16(const std::string& text);

struct DriverRecord {
    std::u16string name;
    DWORD version = 3;
    std::u16string driverPath, dataFile, configFile, helpFile;
    std::vector<std::u16string> dependentFiles;
};
// Registers a driver whose files already lie in the driver directory's
// version folder (full Windows paths in the record).
bool AddDriver(const DriverRecord& driver);
bool GetDriver(const std::u16string& name, DriverRecord* driver);

struct PrinterRecord {
    std::u16string name, port, driver;
    std::vector<uint8_t> devmode;  // the printer's global default
    DWORD jobs = 0;
};
// The user's own default devmode (SetPrinterW level 9), empty when none.
std::vector<uint8_t> UserDevmode(const std::u16string& printer);
// The default devmode GetPrinterW level 2 answers: the user's own when one
// is stored, else the printer's.
std::vector<uint8_t> DefaultDevmode(const PrinterRecord& printer);
// Adds the printer as the spooler does: stores it, asks the driver for its
// default devmode (DrvConvertDevMode, CDM_DRIVER_DEFAULT) and sends it
// PRINTER_EVENT_INITIALIZE (DrvPrinterEvent), each when the driver has it.
// A name the spooler refuses (empty, longer than kMaxPrinterNameUnits, or
// with ',' or '\', which the print protocol forbids in a local printer
// name) fails with ERROR_INVALID_PRINTER_NAME as the last error.
inline constexpr size_t kMaxPrinterNameUnits = 220;
bool AddPrinter(const std::u16string& name, const std::u16string& port,
                const std::u16string& driver, std::string* error);
// Stores the printer only, with no driver calls.
bool StorePrinter(const PrinterRecord& printer);
bool GetPrinterRecord(const std::u16string& name, PrinterRecord* printer);
bool SetPrinterDevmode(const std::u16string& name, const std::vector<uint8_t>& devmode);
bool SetPrinterJobs(const std::u16string& name, DWORD jobs);
std::vector<std::u16string> PrinterNames();

struct PrinterDataValue {
    std::u16string name;
    DWORD type = 0;
    std::vector<uint8_t> data;
};
// Takes a printer data value away, as DeletePrinterDataW would.
bool RemovePrinterData(const std::u16string& printer, const std::u16string& name);
std::vector<PrinterDataValue> PrinterData(const std::u16string& printer);

// The driver's user-interface module, loaded as the spooler loads it.
struct DriverModule {
    void* library = nullptr;
    std::string error;
};
DriverModule LoadDriverModule(const std::u16string& configFile);
void* DriverEntry(const DriverModule& module, const char* name);
void UnloadDriverModule(DriverModule& module);

// Starts the program at a Windows path of this machine as a process of it,
// with the given command line (what its GetCommandLineW returns) and this
// machine's root. Fails with the last error ERROR_FILE_NOT_FOUND when there
// is no such program. The caller reaps the process (waitpid).
bool StartProgram(const std::u16string& windowsPath, const std::u16string& commandLine, int* pid);

// Top-level windows of live processes, machine-wide.
struct WindowRecord {
    int64_t id = 0;
    int pid = 0;
    std::u16string className, title;
    bool visible = false;
};
std::vector<WindowRecord> TopLevelWindows();
bool ProcessAlive(int pid);

// USB printing interfaces of the machine and, per device, the device ID
// script: deviceIds[i] answers poll i + 1 of an open handle, the last one
// repeating; from poll failFrom on (counted from 1; 0: never) the request
// fails as from an unplugged printer. jobs[i], when given, becomes the job
// count of the printers on the device's port when poll i + 1 is answered
// (the last one repeating), so a queue can be scripted along the polls.
struct UsbDevice {
    int64_t id = 0;
    bool hasBaseName = true;
    std::u16string baseName = u"USB";
    bool hasPortNumber = true;
    DWORD portNumber = 1;
    std::u16string devicePath;  // made up from the id when empty
    bool present = true;
    std::vector<std::string> deviceIds;
    int failFrom = 0;
    std::vector<DWORD> jobs;
};
// Adds the interface (after every existing one); returns its id, 0 on error.
int64_t AddUsbDevice(const UsbDevice& device);
std::vector<UsbDevice> UsbDevices();
// The port name the interface stands for: base name and number, "%s%03d".
std::u16string UsbPortName(const UsbDevice& device);
// These act on the first interface whose port name matches (ignoring case).
bool SetUsbScript(const std::u16string& port, const std::vector<std::string>& deviceIds,
                  int failFrom);
bool SetUsbJobs(const std::u16string& port, const std::vector<DWORD>& jobs);
bool UnplugUsb(const std::u16string& port);

// Every SetPortW call that the spooler accepted, in order.
struct PortStatusRecord {
    int64_t seq = 0;
    int pid = 0;
    std::u16string port;
    DWORD status = 0;
    bool hasText = false;
    std::u16string text;
    DWORD severity = 0;
    int64_t micros = 0;  // time of the call
};
std::vector<PortStatusRecord> PortStatuses();

// Every message box shown. A box is answered IDOK after the machine setting
// "message_box_delay_ms" (0 unless set); with -1 it stays open until
// CloseMessageBox (larksim) answers it.
struct MessageBoxRecord {
    int64_t id = 0;
    int pid = 0;
    std::u16string caption, text;
    UINT style = 0;
    int64_t shownMicros = 0;
    int64_t closedMicros = 0;     // 0 while open
    int64_t afterPortStatus = 0;  // seq of the process's last port status before it
};
std::vector<MessageBoxRecord> MessageBoxes();
bool CloseMessageBox(int64_t id);

// Raw jobs as the spooler received them (StartDocPrinterA ... EndDocPrinter).
struct JobRecord {
    int64_t id = 0;
    int pid = 0;
    std::u16string printer;
    std::string document, datatype;
    DWORD pages = 0;
    std::vector<uint8_t> data;
    bool ended = false;  // EndDocPrinter reached
};
// Every job of the printer, or of every printer for an empty name.
std::vector<JobRecord> Jobs(const std::u16string& printer = u"");
// Forgets the records a run leaves: jobs, dialog showings, UI events, port
// statuses and message boxes (a long fuzz run would otherwise fill the
// machine).
void ForgetRecords();

// The HTML dialog (MSHTML's ShowHTMLDialog). Each showing takes the next
// scripted outcome of the machine's queue; with the queue empty the user
// closes the page without an answer. The machine setting "mshtml" set to
// "missing" makes LoadLibraryW fail for MSHTML.DLL, "no-export" makes its
// ShowHTMLDialog export missing.
enum class DialogKind {
    Answer,      // the page answers text
    Sample,      // the page asks for a sample page ("PrintSamplePage")
    None,        // the page closes without a string (Cancel)
    Fail,        // the dialog call fails with result
    NullString,  // the page answers a BSTR that is NULL
};
struct DialogOutcome {
    DialogKind kind = DialogKind::None;
    std::u16string text;
    HRESULT result = 0;
};
void QueueDialogOutcome(const DialogOutcome& outcome);
void ClearDialogQueue();
std::vector<DialogOutcome> QueuedDialogOutcomes();
bool ParseDialogKind(const std::string& word, DialogKind* kind);
const char* DialogKindName(DialogKind kind);
struct DialogShowing {
    int64_t seq = 0;
    int pid = 0;
    std::u16string page;      // the path the moniker names
    std::u16string argument;  // the VT_BSTR argument, empty when none
    bool hasArgument = false;
    std::u16string options;
    int64_t parent = 0;
    DialogKind outcome = DialogKind::None;
    std::u16string answer;
    HRESULT result = 0;
    int64_t micros = 0;      // time of the showing's end
    std::string screenshot;  // host path of the page's picture (browser mode), or empty
};
std::vector<DialogShowing> DialogShowings();
// The browser mode: the machine setting "dialog_mode" set to "browser" runs
// the page itself in Debian's Chromium through playwright-core (node and
// winsim/browser/run_dialog.js), headless, acted on by the queued user
// actions; "show" opens a visible window (a display is needed), plays the
// queued actions and then waits for the person at it. A user action is
// "select:<paper name>", "click:<button name>", "key:<key>" or "close";
// each showing takes the actions it plays from the queue, and headless,
// a page still open when they run out is closed without an answer. The
// browser's locale follows the machine's "language". "dialog_browser" names
// the browser (default /usr/bin/chromium), "dialog_timeout_ms" fails a
// showing that does not end (default 60 s headless, 10 min shown). Each
// showing saves a screenshot of the page under the machine root's dialog/.
void QueueDialogUserAction(const std::string& action);
std::vector<std::string> QueuedDialogUserActions();
void ClearDialogUserActions();
// What the browser mode lacks on this host (node, playwright-core, the
// browser), in one line; empty when it can run.
std::string BrowserDialogMissing();
// LoadLibraryW calls of this process that found the named module.
long ModuleLoads(const std::u16string& name);

// Threads that CreateThread made in this process and that have not ended
// (a suspended one counts until it runs or its handle closes), and a wait
// until none is left: false when one still lives at the timeout.
long LiveThreadCount();
bool WaitForProcessThreads(DWORD timeoutMs);

// The machine's timeline of window and property sheet events, in order.
// Window kinds: "retitle" (text: the title), "move" (values: x, y, cx, cy,
// flags), "cursor" (x, y), "focus", "send" (message, control ID, sending
// thread, owning thread), "send-failed" (message). Sheet kinds, from
// CommonPropertySheetUIW: "sheet-call" (reason, the driver's answer,
// PROPSHEETUI_INFO.Result; text: the reason's name), "page-added" (page
// index, cOptItem, Flags; text: caller name), "page-refused" (the error
// written to the driver), "sheet-header" (Flags, hInst, IconID; text: the
// title), "sheet-shown" (window: the frame; text: its title),
// "page-callback" (CPSUICB reason, the callback's answer, page index),
// "press" (control ID), "sheet-timeout", "sheet-closed" (CPSUI result),
// "threads-at-unload" (from DocumentPropertiesW: driver threads still
// running as it unloads the driver).
struct UiEvent {
    int64_t seq = 0;
    int pid = 0;
    DWORD thread = 0;  // GetCurrentThreadId of the caller
    int64_t micros = 0;
    std::string kind;
    int64_t window = 0;  // the window concerned, 0 for none
    std::u16string text;
    int64_t values[5] = {};
    std::string description;  // one readable line
};
std::vector<UiEvent> UiEvents();
// Runs the messages that other threads send to this thread's windows until
// done() holds or the timeout passes, as a thread waiting in its message
// loop; answers done().
bool PumpMessages(DWORD timeoutMs, const std::function<bool()>& done);
// Position and size of a window of this process.
bool WindowPlacement(HWND window, int* x, int* y, int* cx, int* cy);
// Windows of this process not yet destroyed, top-level and child.
long ProcessWindowCount();

// What this process holds of the platform.
struct Counts {
    long printerHandles = 0;
    long kernelHandles = 0;
    long registryKeys = 0;
    long deviceInfoLists = 0;
    long heapBlocks = 0;
    long globalBlocks = 0;
    long localBlocks = 0;
    long openFiles = 0;  // C runtime streams from _wfopen
    long bstrs = 0;      // SysAllocString strings not yet freed
    long monikers = 0;   // CreateURLMoniker objects not yet released
    bool operator==(const Counts&) const = default;
};
Counts CurrentCounts();
bool NothingHeld();  // every count at zero

// What a process of the machine still held when it called ExitProcess, so a
// test can hold another process to the same accounting as its own.
bool ExitCounts(int pid, Counts* held, UINT* exitCode);
// The platform calls that process made, per function, up to its ExitProcess,
// so a fault sweep can count the calls of a road run in another process.
std::map<std::string, long> ExitCallCounts(int pid);

// Fault injection: the nth call from now of the named platform function
// fails with the given error (nth 0: every call). Other processes take
// faults from WINSIM_FAULTS ("Name:nth[:error],...") at start.
void FailCall(const std::string& function, int nth, DWORD error = ERROR_GEN_FAILURE);
void ClearFaults();
long CallCount(const std::string& function);  // calls seen since start

}  // namespace winsim
