// What each platform gives the tables: a machine with the driver installed
// as the spooler installs it, the driver loaded as the spooler loads it, the
// driver's files, and what the process holds. Everything else the tables
// call by its Win32 name on both platforms. adapter_winsim.cpp and
// adapter_wine.cpp implement it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform.h"

namespace conformance {

enum class Platform { Winsim, Wine };
Platform ThisPlatform();
const char* PlatformName();

// The printers every table starts with: the driver package installed, each
// printer added with the driver's default devmode and its printer data
// values (DrvConvertDevMode CDM_DRIVER_DEFAULT, DrvPrinterEvent
// PRINTER_EVENT_INITIALIZE), as the Windows spooler adds a printer.
extern const WCHAR kPrinter[];     // on the USB port USB001
extern const WCHAR kLptPrinter[];  // on LPT1:, not a USB port
extern const WCHAR kDriverName[];

// Before and after each table: winsim makes a fresh machine for it; under
// Wine the prefix the fixtures prepared serves every table. False (why set)
// when the machine cannot be had.
bool BeginTable(std::string* why);
void EndTable();

// Puts kPrinter back as installed: the package's files in the driver's
// folder, the driver's default devmode, the six printer data values as
// DrvPrinterEvent writes them, and no other value.
bool ResetPrinter();

// An entry point of the driver loaded as the spooler loads it (its config
// file from the printer's DRIVER_INFO_3), nullptr when there is none.
void* DriverEntry(const char* name);
template <class Fn>
Fn Entry(const char* name) {
    // Through void*: a module's export has no type of its own.
    return reinterpret_cast<Fn>(DriverEntry(name));
}

// The driver's version folder as a Windows path, with its final backslash.
std::basic_string<WCHAR> DriverFolder();
// Writes or removes a file in it (a row's own data file or script);
// ResetPrinter puts the package's back.
bool WriteDriverFile(const char* name, const std::string& bytes);
bool RemoveDriverFile(const char* name);
// Adds a file of the driver's folder to the driver's dependent files, as an
// installation that copied it would have; ResetPrinter puts the list back.
bool ListDriverFile(const char* name);
// winsim: the spooler answers this driver directory from now on, with a
// version folder below it that holds the package's larkmon.exe; nullptr
// gives back the installed one (ResetPrinter does too). False where the
// platform's directory is its own (Wine).
bool SetDriverDirectory(const WCHAR* directory);
// winsim: a USB printer on USB001 that answers every poll, so a monitor
// started for kPrinter polls on (its 22 polls a second in all) instead of
// ending at once; false unplugs it, which ends that monitor at its next
// poll. False where no such device can be had (Wine).
bool SetPollingPrinter(bool present);
// Removes a printer data value of kPrinter (a row's printer without it).
bool RemovePrinterValue(const WCHAR* name);
// Takes kPrinter's stored default devmode away (ResetPrinter gives it back).
bool RemovePrinterDevmode();
// The names of kPrinter's printer data values (UTF-8), in the platform's
// order: winsim keeps the order of writing, Wine's registry sorts them.
bool PrinterValueNames(std::vector<std::string>* names);

// Memory that ends in a page the process may not touch, for records that
// claim more than the memory behind them: `page` bytes at `first`, readable
// and writable (read-only after MakeReadOnly), then the forbidden page.
// first is null when the platform gave no such pages.
struct NoAccessPages {
    NoAccessPages();
    ~NoAccessPages();
    NoAccessPages(const NoAccessPages&) = delete;
    NoAccessPages& operator=(const NoAccessPages&) = delete;
    bool MakeReadOnly();
    uint8_t* Tail(size_t bytes) const { return first + page - bytes; }
    uint8_t* Forbidden() const { return first + page; }
    uint8_t* first = nullptr;
    size_t page = 0;
};

// The status monitor's debug log folder, C:\temp\larkdeb: made (monitors
// started from then on write C:\temp\larkdeb\larksm.txt) or removed with
// the log in it.
bool SetMonitorLogFolder(bool present);

// What the log's rows plant, every path a Windows path of the machine's
// drive: a junction (a folder's reparse point) naming a folder, a file
// symbolic link naming a file, or a second name (hard link) of a file. False
// where the platform cannot make it.
enum class LinkKind { Junction, FileSymlink, HardLink };
bool MakeLink(LinkKind kind, const WCHAR* link, const WCHAR* target);
// Makes a folder (its parent must be there).
bool MakeFolder(const WCHAR* path);
// Writes a whole file.
bool WriteWholeFile(const WCHAR* path, const std::string& bytes);
// Removes a file, a link (never what it names) or a folder with all in it;
// true when nothing is left at the path.
bool RemovePath(const WCHAR* path);
// Gives a file or folder to another user: an owner that is neither the
// process's user, Administrators nor SYSTEM.
bool GiveToAnotherUser(const WCHAR* path);
inline constexpr char kWineKeepsOwner[] =
    "Wine 8's SetSecurityInfo answers success for another owner but keeps the owner it derives "
    "from the Unix file's, the process's user: the folder cannot be given away";
// Runs the package's larkmon.exe with the printer name as its command line
// and waits for its end; false when it did not start or end within 30 s.
bool RunMonitor(const WCHAR* printer);

// The USB printing devices, in the class's order: kUsbPorts[0] (kPrinter's
// port USB001) and [1] (USB002) whose devices answer, and [2] (USB003), an
// unplugged printer's interface: listed, but its device does not open.
// Under Wine they are the fixture's devices (tests/wine/usbdev), parked on
// ports no printer has until a table attaches them and again after it;
// winsim's class is empty until then.
extern const WCHAR* const kUsbPorts[3];
bool AttachUsbPrinters();
// What the device behind the port answers from now on: ids[i] (raw bytes)
// answers request i + 1 of a handle, the last repeating (none: the
// device's own default ID); from request failFrom of a handle on (0:
// never) the device is gone, as an unplugged printer's.
bool SetUsbScript(const WCHAR* port, const std::vector<std::string>& ids, DWORD failFrom);

// The status monitor as STARTDOC starts it: larkmon.exe of the driver's
// folder, the command line given whole. winsim runs it with its sleeps a
// thousand times shorter; under Wine it is the real program with only its
// SetPortW (which Wine lacks) and MessageBoxW (which would wait for a
// person) recorded and answered TRUE and IDOK (tests/wine/monitor_launcher.h).
struct PortStatusCall {
    bool local = false;  // no server name
    std::basic_string<WCHAR> port;
    DWORD level = 0, status = 0, severity = 0;
    bool hasText = false;
    std::basic_string<WCHAR> text;
    DWORD refused = 0;  // winsim: the spooler's ERROR_ACCESS_DENIED for the monitor's user
};
struct BoxCall {
    bool owned = false;
    std::basic_string<WCHAR> text, caption;
    UINT style = 0;
    size_t afterStatuses = 0;  // the monitor's SetPortW calls before it
};
struct MonitorRun {
    bool ended = false;  // within the wait
    DWORD exitCode = 0;
    std::vector<PortStatusCall> statuses;
    std::vector<BoxCall> boxes;
    long heldAtExit = -1;  // what the process held at its ExitProcess but
                           // the device; -1 where the platform cannot count
};
// An id of the started monitor, 0 when it could not be started.
int StartMonitor(const WCHAR* commandLine);
// Waits until the monitor has ended (or is ended after timeoutMs) and says
// what it did.
bool WaitMonitor(int monitor, DWORD timeoutMs, MonitorRun* run);
// Printers of the driver on USB002 (two monitors at once) and on USB003
// (an unplugged printer), added by the table that wants them.
extern const WCHAR kSecondPrinter[];
extern const WCHAR kUnpluggedPrinter[];
bool AddUsbPrinter(const WCHAR* name, const WCHAR* port);

// winsim's fault injection: the nth call from now of the named platform
// function fails with the error. False where the platform cannot (Wine);
// ResetPrinter clears a fault that did not fire.
bool FailCall(const char* function, int nth, DWORD error);
// The calls of the named platform function this process has made; -1
// where the platform cannot count them (Wine).
long CallCount(const char* function);

// What this process holds of the platform, by name (kHoldingKinds): every
// kind the platform can count, threads first. winsim counts all but child
// processes; Wine counts threads (toolhelp snapshots) and windows (window
// enumeration). False when the platform counts nothing.
struct Holding {
    const char* what;
    long count;
};
bool Holdings(std::vector<Holding>* now);
// One kind's count now, -1 where the platform cannot count it.
long Held(const char* what);

// Runs the messages sent to this thread's windows, as a thread waiting in
// its message loop, until done() holds or the timeout passes; answers done().
bool PumpMessages(DWORD timeoutMs, const std::function<bool()>& done);
// The name a moniker gives itself (IMoniker::GetDisplayName), empty when none.
std::basic_string<WCHAR> MonikerDisplayName(IMoniker* moniker);

// The settings road as an application plays it: Printing Preferences
// (DocumentPropertiesW with DM_IN_PROMPT | DM_OUT_BUFFER, no input devmode)
// under a sheet that takes the driver's page, the settings dialog answering
// from the script, the driver's closing thread pressing OK. winsim plays it
// through its own spooler and compstui on kPrinter. Under Wine, whose
// compstui refuses the page, a sheet host of this program's own plays
// compstui's part (a frame with an OK button, the page as its child,
// SETACTIVE from its message loop) on a printer that AddPrinterW adds for
// the road on a file port, from which the sample pages' bytes are read; the
// dialog is MSHTML's test double (tests/wine/mshtml_double.cpp). The road
// starts without a PrinterSettings value, so what it stores is seen, and
// ends when the driver's threads have. False when it cannot be played here.
inline constexpr unsigned char kRoadFill = 0xAB;  // the caller's buffer before the road
struct RoadScript {
    // Each showing's outcome, in order: "sample" (the page asks for a sample
    // page), "answer:<text>", "none" (closed without a string), "null" (a
    // VT_BSTR that is NULL), "fail" (the dialog call fails). Past the last
    // one the page is closed without an answer.
    std::vector<std::string> outcomes;
    size_t buffer = 4096;  // the caller's output buffer
    // The buffer's size as stated to the driver (cbOut); 0: as the
    // platform's DocumentPropertiesW states it (Windows: the devmode's size
    // it asked for; Wine: the dmSize already in the buffer).
    DWORD cbOut = 0;
    // The closing thread's CreateThread fails (winsim's fault injection;
    // not played under Wine).
    bool closingThreadFails = false;
    // An application's paper: the printer's stored devmode with DM_PAPERSIZE
    // alone set and this dmPaperSize goes in with DM_IN_BUFFER; 0: no input.
    short paper = 0;
    // The printer's stored devmode, as GetPrinterW level 2 answers it
    // (SetPrinterW level 9), names this printer in PrinterName; empty: its own.
    std::basic_string<WCHAR> storedNames;
};
// The application's devmode of RoadScript::paper, made from a stored one.
inline std::string ApplicationPaper(const std::string& stored, short paper) {
    std::string devmode = stored;
    if (devmode.size() < sizeof(DEVMODEW)) return "";
    auto* dm = reinterpret_cast<DEVMODEW*>(devmode.data());
    dm->dmFields = DM_PAPERSIZE;
    dm->dmPaperSize = paper;
    return devmode;
}
// A stored devmode naming another printer, set as the printer's user devmode.
bool StoreDevmodeNaming(HANDLE printer, const std::string& stored,
                        const std::basic_string<WCHAR>& name);
struct SheetCall {
    WORD reason;
    LONG answer;
    ULONG_PTR result;  // PROPSHEETUI_INFO.Result after the call
};
struct RoadShowing {
    std::basic_string<WCHAR> page;  // the path the moniker names
    bool hasArgument = false;       // a VT_BSTR argument
    std::basic_string<WCHAR> argument, options;
    bool parentless = false;
};
struct RoadResult {
    std::basic_string<WCHAR> printer;  // the printer the road ran on
    std::string storedBefore;      // its default devmode before the road, as the spooler added it
    LONG answer = 0;               // DocumentPropertiesW's: IDOK, IDCANCEL or -1
    std::string buffer;            // the caller's buffer after the road
    std::vector<SheetCall> calls;  // the driver's sheet reasons, in order
    LONG setActive = -1, applyNow = -1;   // the page callback's first answers; -1: not called
    std::basic_string<WCHAR> sheetTitle;  // the frame's title once the page was active
    bool moved = false;                   // the frame moved, to (movedX, movedY)
    long movedX = 0, movedY = 0;
    bool pressedFromAnotherThread = false;  // OK pressed by a thread not the sheet's
    std::vector<RoadShowing> showings;
    bool hasSettings = false;  // PrinterSettings after the road
    std::basic_string<WCHAR> settings;
    std::vector<std::string> sampleJobs;  // each raw job's bytes
    long dialogLoads = -1;  // LoadLibraryW of MSHTML.DLL; -1: the platform cannot count them
};
bool PlaySettingsRoad(const RoadScript& script, RoadResult* result);

// A file of the name in the folder the standard DLL search order looks in
// first, the printing application's own: winsim's application folder; under
// Wine this program's folder, where the build puts MSHTML's test double.
// Its path, empty when it cannot be put there.
std::basic_string<WCHAR> PlantBesideProgram(const char* name);
// The folder the platform's system modules are loaded from (GetSystemDirectoryW).
std::basic_string<WCHAR> SystemFolder();

}  // namespace conformance
