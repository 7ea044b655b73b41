// The print spooler interface: printers, drivers, printer data values, raw
// jobs and port status, with the records laid out as in the Windows SDK.
#pragma once

#include "wingdi.h"
#include "wintypes.h"

typedef DWORD ACCESS_MASK;

typedef struct _PRINTER_INFO_2W {
    LPWSTR pServerName;
    LPWSTR pPrinterName;
    LPWSTR pShareName;
    LPWSTR pPortName;
    LPWSTR pDriverName;
    LPWSTR pComment;
    LPWSTR pLocation;
    LPDEVMODEW pDevMode;
    LPWSTR pSepFile;
    LPWSTR pPrintProcessor;
    LPWSTR pDatatype;
    LPWSTR pParameters;
    PSECURITY_DESCRIPTOR pSecurityDescriptor;
    DWORD Attributes;
    DWORD Priority;
    DWORD DefaultPriority;
    DWORD StartTime;
    DWORD UntilTime;
    DWORD Status;
    DWORD cJobs;
    DWORD AveragePPM;
} PRINTER_INFO_2W, *PPRINTER_INFO_2W, *LPPRINTER_INFO_2W;

// The per-user default devmode (SetPrinterW level 9).
typedef struct _PRINTER_INFO_9W {
    LPDEVMODEW pDevMode;
} PRINTER_INFO_9W, *PPRINTER_INFO_9W, *LPPRINTER_INFO_9W;

typedef struct _DRIVER_INFO_3W {
    DWORD cVersion;
    LPWSTR pName;
    LPWSTR pEnvironment;
    LPWSTR pDriverPath;
    LPWSTR pDataFile;
    LPWSTR pConfigFile;
    LPWSTR pHelpFile;
    LPWSTR pDependentFiles;
    LPWSTR pMonitorName;
    LPWSTR pDefaultDataType;
} DRIVER_INFO_3W, *PDRIVER_INFO_3W, *LPDRIVER_INFO_3W;

typedef struct _PORT_INFO_3W {
    DWORD dwStatus;
    LPWSTR pszStatus;
    DWORD dwSeverity;
} PORT_INFO_3W, *PPORT_INFO_3W, *LPPORT_INFO_3W;

typedef struct _PRINTER_DEFAULTSW {
    LPWSTR pDatatype;
    LPDEVMODEW pDevMode;
    ACCESS_MASK DesiredAccess;
} PRINTER_DEFAULTSW, *PPRINTER_DEFAULTSW, *LPPRINTER_DEFAULTSW;

typedef struct _DOC_INFO_1A {
    LPSTR pDocName;
    LPSTR pOutputFile;
    LPSTR pDatatype;
} DOC_INFO_1A, *PDOC_INFO_1A, *LPDOC_INFO_1A;

#define SERVER_ACCESS_ADMINISTER 0x00000001
#define SERVER_ACCESS_ENUMERATE 0x00000002
#define PRINTER_ACCESS_ADMINISTER 0x00000004
#define PRINTER_ACCESS_USE 0x00000008
#define PRINTER_ACCESS_MANAGE_LIMITED 0x00000040
#define SPOOLER_STANDARD_RIGHTS_REQUIRED \
    0x000F0000L  // DELETE, READ_CONTROL, WRITE_DAC, WRITE_OWNER
#define PRINTER_ALL_ACCESS \
    (SPOOLER_STANDARD_RIGHTS_REQUIRED | PRINTER_ACCESS_ADMINISTER | PRINTER_ACCESS_USE)
#define PRINTER_READ (READ_CONTROL | PRINTER_ACCESS_USE)
#define PRINTER_WRITE (READ_CONTROL | PRINTER_ACCESS_USE)
#define PRINTER_EXECUTE (READ_CONTROL | PRINTER_ACCESS_USE)
#define SERVER_ALL_ACCESS \
    (SPOOLER_STANDARD_RIGHTS_REQUIRED | SERVER_ACCESS_ADMINISTER | SERVER_ACCESS_ENUMERATE)
#define SERVER_READ (READ_CONTROL | SERVER_ACCESS_ENUMERATE)
#define SERVER_WRITE (READ_CONTROL | SERVER_ACCESS_ADMINISTER | SERVER_ACCESS_ENUMERATE)
#define SERVER_EXECUTE (READ_CONTROL | SERVER_ACCESS_ENUMERATE)
#ifndef MAXIMUM_ALLOWED
#define MAXIMUM_ALLOWED 0x02000000L
#endif

#define REG_NONE 0
#define REG_SZ 1
#define REG_BINARY 3
#define REG_DWORD 4

#define PORT_STATUS_TYPE_ERROR 1
#define PORT_STATUS_TYPE_WARNING 2
#define PORT_STATUS_TYPE_INFO 3
#define PORT_STATUS_OFFLINE 1
#define PORT_STATUS_PAPER_JAM 2
#define PORT_STATUS_PAPER_OUT 3
#define PORT_STATUS_DOOR_OPEN 7
#define PORT_STATUS_USER_INTERVENTION 8

// A printer by name, or with no name the local print server. The access
// asked for (PRINTER_ACCESS_USE, or SERVER_ACCESS_ENUMERATE for the server,
// without defaults; generic rights mapped to the spooler's own) is checked
// against the default security: Administrators and SYSTEM manage the
// printers and the server, Everyone may print and enumerate. More than the
// caller holds fails with ERROR_ACCESS_DENIED; MAXIMUM_ALLOWED gets what it
// holds. An administrator whose token is not elevated holds only
// Everyone's.
WINSIM_API BOOL WINAPI OpenPrinterW(LPWSTR name, LPHANDLE printer, LPPRINTER_DEFAULTSW defaults);
WINSIM_API BOOL WINAPI ClosePrinter(HANDLE printer);
WINSIM_API BOOL WINAPI GetPrinterW(HANDLE printer, DWORD level, LPBYTE buffer, DWORD bytes,
                                   LPDWORD needed);
// Level 9 only: stores the user's own default devmode, which GetPrinterW
// level 2 answers from then on instead of the printer's global one (what the
// system's Printing Preferences in the printers folder does). Any handle
// may; the record's devmode must be whole (dmSize + dmDriverExtra bytes are
// copied). Other levels: ERROR_INVALID_LEVEL.
WINSIM_API BOOL WINAPI SetPrinterW(HANDLE printer, DWORD level, LPBYTE info, DWORD command);
WINSIM_API BOOL WINAPI GetPrinterDriverW(HANDLE printer, LPWSTR environment, DWORD level,
                                         LPBYTE buffer, DWORD bytes, LPDWORD needed);
WINSIM_API BOOL WINAPI GetPrinterDriverDirectoryW(LPWSTR server, LPWSTR environment, DWORD level,
                                                  LPBYTE buffer, DWORD bytes, LPDWORD needed);
WINSIM_API DWORD WINAPI GetPrinterDataW(HANDLE printer, LPWSTR valueName, LPDWORD type, LPBYTE data,
                                        DWORD bytes, LPDWORD needed);
// Needs a handle opened with PRINTER_ACCESS_ADMINISTER: ERROR_ACCESS_DENIED
// on any other. The server's own values are not kept: a server handle gets
// ERROR_INVALID_PARAMETER, for reading too.
WINSIM_API DWORD WINAPI SetPrinterDataW(HANDLE printer, LPWSTR valueName, DWORD type, LPBYTE data,
                                        DWORD bytes);
// Level 3 status of a port for the local spooler. The caller must be an
// administrator whose token holds the group (elevated, or SYSTEM), the
// right SERVER_ACCESS_ADMINISTER on the server; anyone else gets
// ERROR_ACCESS_DENIED, before the port is looked for.
WINSIM_API BOOL WINAPI SetPortW(LPWSTR server, LPWSTR portName, DWORD level, LPBYTE portInfo);
// The application's road to the driver's document settings (DM_* modes).
WINSIM_API LONG WINAPI DocumentPropertiesW(HWND window, HANDLE printer, LPWSTR deviceName,
                                           PDEVMODEW output, PDEVMODEW input, DWORD mode);
// An application's question to the printer's driver (DC_* capabilities).
WINSIM_API int WINAPI DeviceCapabilitiesW(LPCWSTR device, LPCWSTR port, WORD capability,
                                          LPWSTR output, const DEVMODEW* devmode);
WINSIM_API DWORD WINAPI StartDocPrinterA(HANDLE printer, DWORD level, LPBYTE docInfo);
WINSIM_API BOOL WINAPI StartPagePrinter(HANDLE printer);
WINSIM_API BOOL WINAPI WritePrinter(HANDLE printer, LPVOID data, DWORD bytes, LPDWORD written);
WINSIM_API BOOL WINAPI EndPagePrinter(HANDLE printer);
WINSIM_API BOOL WINAPI EndDocPrinter(HANDLE printer);
