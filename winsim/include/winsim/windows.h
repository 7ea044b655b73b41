// The stand-in platform's umbrella header: the part of the Windows API that
// the driver and its status monitor call, under the Windows names.
#pragma once

#include "compstui.h"
#include "oleauto.h"
#include "security.h"
#include "setupapi.h"
#include "winbase.h"
#include "winddiui.h"
#include "wingdi.h"
#include "winreg.h"
#include "winspool.h"
#include "wintypes.h"
#include "winuser.h"
