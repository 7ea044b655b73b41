// The driver's own module handle, kept from its attach: the sheet header's
// hInst and the page's hInstCaller.
#pragma once

#include "platform.h"

HINSTANCE DriverModule();
