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

// What this process holds of the platform, by name; false when the
// platform cannot count it (Wine counts only the process's threads).
struct Holding {
    const char* what;
    long count;
};
bool Holdings(std::vector<Holding>* now);

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
};
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

}  // namespace conformance
