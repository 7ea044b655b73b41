// Every job may print and every upgrade succeeds: the driver keeps no state
// that a job or an upgrade could find wrong.
#include "platform.h"

extern "C" BOOL WINAPI DevQueryPrintEx(PDEVQUERYPRINT_INFO) { return TRUE; }

extern "C" BOOL WINAPI DrvUpgradePrinter(DWORD, LPBYTE) { return TRUE; }
