// Processes as the driver and the monitor rely on them. CreateProcessW's
// rows are the monitor launch's (create_process.cpp); the monitor's own
// command line and end can be held by no row of this process.
#include "conformance.h"

CONFORMANCE_COVERS(Rows, "CreateProcessW", nullptr);
CONFORMANCE_COVERS(NoRow, "GetCommandLineW",
                   "what a started program gets from its starter; this process was started by "
                   "the test runner, so only the monitor's own runs can hold it");
CONFORMANCE_COVERS(NoRow, "ExitProcess",
                   "ends the calling process, so no row goes on after it; the monitor's runs "
                   "hold its exit code and what it held");
