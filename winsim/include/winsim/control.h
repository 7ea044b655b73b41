// Control side of the stand-in platform, for larksim and the tests: setting
// up a machine, counting what a process holds open, and making platform
// calls fail. The system itself never includes these headers; this one
// includes every area's.
#pragma once

#include "winsim/control/accounting.h"
#include "winsim/control/dialog.h"
#include "winsim/control/files.h"
#include "winsim/control/machine.h"
#include "winsim/control/rights.h"
#include "winsim/control/spooler.h"
#include "winsim/control/usb.h"
#include "winsim/control/windows.h"
