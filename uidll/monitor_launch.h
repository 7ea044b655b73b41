// Starting the status monitor of a printer when a document starts.
#pragma once

#include "platform.h"

// Starts the program named by the printer data value "StatusMonitor" from the
// driver directory, with the printer name as its whole command line, unless
// a window titled "<printer> - Status" of a process of that very program
// shows that one runs. The name must be a bare program name that the
// driver's own files list; anything else starts nothing. Every failure is
// silent.
void LaunchStatusMonitor(HANDLE printer);
