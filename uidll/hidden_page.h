// The one hidden page the driver adds to the common property sheet, its
// callbacks, and the sheet-closing thread that presses the sheet's OK
// button once the settings dialog has run.
#pragma once

#include "driver_devmode.h"
#include "scoped.h"

inline constexpr size_t kSheetTitleUnits = 1024;

// The unique sheet title, shared by the page (item 1) and the closing
// thread, each holding a reference, so the thread never reads a title the
// page has released. cancelled tells the thread that the sheet is gone.
struct SheetTitle {
    WCHAR text[kSheetTitleUnits];  // first: item 1 carries the title's address
    LONG references;
    LONG cancelled;
    HMODULE heldModule;  // the closing thread's hold on the driver, dropped as it ends
    LONG lastShowing;    // a PageShowing; the sheet's thread alone reads and writes it
};

// How the page's last showing of the settings dialog ended.
enum PageShowing : LONG { NotShown = 0, ShowingAnswered = 1, ShowingUnanswered = 2 };

// A new title with one reference, or nullptr.
[[nodiscard]] SheetTitle* CreateSheetTitle();
void ReleaseSheetTitle(SheetTitle* title);

namespace scoped {
struct SheetTitleRelease {
    void operator()(SheetTitle* title) const { ReleaseSheetTitle(title); }
};
// Ends a closing thread that no page has taken, or whose page is released:
// cancelled first, a thread that never ran then runs only to see the cancel
// and end. The cancel goes to the title the thread was given, which must
// still be held.
struct ClosingThreadRelease {
    SheetTitle* title;
    void operator()(HANDLE thread) const;
};
}  // namespace scoped

// One reference on a title.
using SheetTitleReference =
    std::unique_ptr<SheetTitle, scoped::KeepingLastError<scoped::SheetTitleRelease>>;
// The handle of a suspended closing thread, with the title it was given.
using ScopedClosingThread = std::unique_ptr<void, scoped::ClosingThreadRelease>;

// Another reference on the title.
[[nodiscard]] SheetTitleReference AddSheetTitleReference(SheetTitle* title);

enum PageVariant { DocumentPage, DevicePage };

// Builds the page and offers it to the sheet. The page takes what it is
// given (the document variant's devmode, title reference and suspended
// closing thread) and releases it at DESTROY; when the sheet refuses the page
// everything is released at once, and a suspended thread ends without
// pressing anything. 1 when the page was added.
int BuildHiddenPage(HANDLE printer, LPWSTR printerName, PROPSHEETUI_INFO* info, PageVariant variant,
                    HeapBlock<DriverDevmode> devmode, SheetTitleReference title,
                    ScopedClosingThread closingThread);
// How the last showing of a document page ended (NotShown for a page
// without a title, or a device page).
PageShowing LastShowing(const COMPROPSHEETUI* page);
// Releases a page built by BuildHiddenPage (the record in UserData).
void ReleaseHiddenPage(COMPROPSHEETUI* page, PageVariant variant);

LONG APIENTRY DocumentPageCallback(PCPSUICBPARAM param);
LONG APIENTRY DevicePageCallback(PCPSUICBPARAM param);
// The closing thread: parameter is a SheetTitle whose reference it owns,
// and whose heldModule it drops as it ends.
DWORD WINAPI AutoCloseSheet(LPVOID parameter);
