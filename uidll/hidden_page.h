// The one hidden page the driver adds to the common property sheet, its
// callbacks, and the sheet-closing thread that presses the sheet's OK
// button once the settings dialog has run.
#pragma once

#include "driver_devmode.h"

inline constexpr size_t kSheetTitleUnits = 1024;

// The unique sheet title, shared by the page (item 1) and the closing
// thread, each holding a reference, so the thread never reads a title the
// page has released. cancelled tells the thread that the sheet is gone.
struct SheetTitle {
    WCHAR text[kSheetTitleUnits];  // first: item 1 carries the title's address
    LONG references;
    LONG cancelled;
    HMODULE heldModule;  // the closing thread's reference on the driver
};

// A new title with one reference, or nullptr.
[[nodiscard]] SheetTitle* CreateSheetTitle();
void AddSheetTitleReference(SheetTitle* title);
void ReleaseSheetTitle(SheetTitle* title);

enum PageVariant { DocumentPage, DevicePage };

// Builds the page and offers it to the sheet. The page takes what it is
// given (the document variant's devmode, title reference and suspended
// closing thread) and releases it at DESTROY; when the sheet refuses the page
// everything is released at once, and a suspended thread ends without
// pressing anything. 1 when the page was added.
int BuildHiddenPage(HANDLE printer, LPWSTR printerName, PROPSHEETUI_INFO* info, PageVariant variant,
                    DriverDevmode* devmode, SheetTitle* title, HANDLE closingThread);
// Releases a page built by BuildHiddenPage (the record in UserData).
void ReleaseHiddenPage(COMPROPSHEETUI* page, PageVariant variant);

LONG APIENTRY DocumentPageCallback(PCPSUICBPARAM param);
LONG APIENTRY DevicePageCallback(PCPSUICBPARAM param);
// The closing thread: parameter is a SheetTitle whose reference it owns,
// and whose heldModule it drops as it ends.
DWORD WINAPI AutoCloseSheet(LPVOID parameter);

// The module handle of the driver, kept from its attach.
HINSTANCE DriverModule();
