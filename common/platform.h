// The one place that includes the platform: the Windows SDK (here MinGW-w64's
// headers) on Windows, the stand-in platform everywhere else.
#pragma once

#ifdef _WIN32
#ifndef UNICODE
#define UNICODE
#endif
#ifndef _UNICODE
#define _UNICODE
#endif
#include <windows.h>
// windows.h must come first.
#include <initguid.h>
#include <ole2.h>
// ole2.h before the headers that use its interfaces.
#include <aclapi.h>
#include <compstui.h>
#include <mshtmhst.h>
#include <ntddpar.h>
#include <setupapi.h>
#include <stdio.h>
#include <urlmon.h>
#include <usbprint.h>
#include <winddiui.h>
#include <winspool.h>

#include "driver_records.h"
#else
#include <winsim/windows.h>
#endif
