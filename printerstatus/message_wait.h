// The wait between two polls, during which the monitor's thread answers
// the messages sent to its window.
#pragma once

#include "platform.h"

// Waits the milliseconds, running every message that arrives meanwhile, so
// that a program sending to every top-level window (a settings broadcast,
// DDE initiation) waits at most until the wait's next look, not for the
// whole run. A quit (the window destroyed from outside) ends nothing: the
// monitor keeps polling until its own exit rule holds.
void WaitAnsweringMessages(DWORD milliseconds);
