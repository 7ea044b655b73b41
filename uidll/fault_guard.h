// A guard for work that touches records handed in by a caller: a memory
// fault (an access violation while reading or writing such a record) ends the
// work early with a false result instead of ending the process.
//
// A fault leaves the work's frames without running their destructors, so
// work touches caller memory only where it holds nothing that needs
// releasing; what it must release after a fault it records in its context
// (see GuardNote). Only faults in the driver's own code are caught: a fault
// inside a system library keeps its normal handling, because jumping out of
// such a library could leave one of its locks held.
#pragma once

#include <cstddef>

using GuardedWork = void (*)(void* context);

// Runs work(context) under the guard; false when a fault ended it. Guards
// nest and may run on several threads at once.
bool RunGuarded(GuardedWork work, void* context);

// Makes the stores before it visible to the code after a fault, so that a
// context field written before a faulting access is seen by the caller of
// RunGuarded.
void GuardNote();

// Copies bytes from or to a caller's record with plain loads and stores of
// the driver's own code (a library copy would fault outside it).
void CopyCallerBytes(void* out, const void* in, size_t bytes);
