// Starting the status monitor of a printer when a document starts.
#pragma once

#include "platform.h"

// Starts the program named by the printer data value "StatusMonitor" from the
// driver directory, with the printer name as its whole command line, unless
// a window titled "<printer> - Status" shows that one runs. Every failure is
// silent.
void LaunchStatusMonitor(HANDLE printer);
