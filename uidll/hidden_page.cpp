#include "hidden_page.h"

#include <atomic>

#include "driver_files.h"
#include "driver_module.h"
#include "module_hold.h"
#include "settings_dialog.h"
#include "text.h"

namespace {

constexpr WORD kNameStringId = 64852;
constexpr WORD kTitleStringId = 64798;
constexpr LONG kHeaderIconId = 64076;
constexpr LONG kItemIconId = 64079;
constexpr BYTE kUserItemId = 42;
constexpr int kSearchLooks = 100;
constexpr int kMaxPresses = 10;

// The record and the help file path it points at live in one block, so the
// path is valid for as long as the sheet holds the record.
struct PageBlock {
    COMPROPSHEETUI ui;
    WCHAR helpFile[kPathUnits];
};
static_assert(offsetof(PageBlock, ui) == 0, "the record's address is the block's");

// Every block of one page with its owner, so a page the sheet refuses is
// freed by construction. The sheet holds the blocks from a successful add
// (GiveToSheet) until DESTROY takes them back (TakeFromSheet). The closing
// thread is ended first, while the title it cancels is still held.
struct PageOwners {
    HeapBlock<PageBlock> page;
    HeapBlock<OPTITEM> items;
    HeapBlock<OPTTYPE> type;
    HeapBlock<OPTPARAM> params;
    HeapBlock<void> userData;  // the devmode, or the printer name copy
    SheetTitleReference title;
    ScopedClosingThread closingThread;
};

void GiveToSheet(PageOwners& owners) {
    owners.page.release();
    owners.items.release();
    owners.type.release();
    owners.params.release();
    owners.userData.release();
    owners.title.release();
    owners.closingThread.release();
}

// The owners of a page the sheet held, found from its record: item 1's
// option type with its parameters (item 0 is a header item, without one),
// and in the document variant the closing thread (item 0) and the title
// (item 1). A device page's item 0 holds no handle of its own.
PageOwners TakeFromSheet(COMPROPSHEETUI* ui, PageVariant variant) {
    PageOwners owners;
    owners.page.reset(reinterpret_cast<PageBlock*>(ui));
    owners.userData.reset(reinterpret_cast<void*>(ui->UserData));
    OPTITEM* items = ui->pOptItem;
    if (items == nullptr) return owners;
    owners.items.reset(items);
    if (OPTTYPE* type = items[1].pOptType) {
        owners.type.reset(type);
        owners.params.reset(type->pOptParam);
    }
    if (variant == DocumentPage) {
        auto* title = reinterpret_cast<SheetTitle*>(items[1].UserData);
        owners.title.reset(title);
        owners.closingThread = ScopedClosingThread(reinterpret_cast<HANDLE>(items[0].UserData),
                                                   scoped::ClosingThreadRelease{title});
    }
    return owners;
}

template <typename T>
[[nodiscard]] HeapBlock<T> AllocZeroed(size_t count = 1) {
    return HeapAllocZeroed<T>(sizeof(T) * count);
}

bool Cancelled(SheetTitle* title) { return std::atomic_ref<LONG>(title->cancelled).load() != 0; }

void FillItems(OPTITEM* items, OPTTYPE* type, OPTPARAM* params) {
    static WCHAR yes[] = TEXT("Yes");
    static WCHAR no[] = TEXT("No");
    for (int i = 0; i < 2; ++i) {
        items[i].cbSize = sizeof(OPTITEM);
        items[i].Level = static_cast<BYTE>(i);
        items[i].Flags = OPTIF_DISABLED;
        items[i].UserItemID = kUserItemId;
        params[i].cbSize = sizeof(OPTPARAM);
        params[i].Flags = OPTPF_DISABLED;
        params[i].pData = i == 0 ? yes : no;
    }
    items[0].pName = reinterpret_cast<LPWSTR>(static_cast<ULONG_PTR>(kNameStringId));
    items[0].Sel = kHeaderIconId;
    items[1].pName = reinterpret_cast<LPWSTR>(static_cast<ULONG_PTR>(kTitleStringId));
    items[1].Sel = kItemIconId;
    type->cbSize = sizeof(OPTTYPE);
    type->Type = TVOT_COMBOBOX;
    type->Count = 1;
    type->pOptParam = params;
    items[1].pOptType = type;
}

HeapBlock<WCHAR> CopyName(const WCHAR* name) {
    size_t units = name != nullptr ? TextLength(name) : 0;
    HeapBlock<WCHAR> copy = AllocZeroed<WCHAR>(units + 1);
    if (copy && units != 0) TextCopyCount(copy.get(), name, units);
    return copy;
}

// The NT5 shell needs the pressed window on screen and the cursor over it
// before the press takes effect.
void Nt5Nudge(HWND sheet) {
    OSVERSIONINFOW version = {};
    version.dwOSVersionInfoSize = sizeof version;
    if (!GetVersionExW(&version) || version.dwPlatformId <= 1 || version.dwMajorVersion >= 6) {
        return;
    }
    SetWindowPos(sheet, nullptr, 0, 0, 50, 50, SWP_ASYNCWINDOWPOS);
    POINT cursor = {};
    GetCursorPos(&cursor);
    HWND focus = GetFocus();
    SetCursorPos(25, 25);
    Sleep(10);
    SetCursorPos(cursor.x, cursor.y);
    SetFocus(focus);
}

void PressOk(HWND sheet, SheetTitle* title) {
    for (int press = 0; press < kMaxPresses && !Cancelled(title); ++press) {
        HWND ok = GetDlgItem(sheet, IDOK);
        if (ok == nullptr) return;
        SendMessageW(ok, WM_LBUTTONDOWN, 0, 0);
        SendMessageW(ok, WM_LBUTTONUP, 0, 0);
        Nt5Nudge(sheet);
        Sleep(500);
    }
}

}  // namespace

void scoped::ClosingThreadRelease::operator()(HANDLE thread) const {
    DWORD error = GetLastError();
    if (title != nullptr) std::atomic_ref<LONG>(title->cancelled).store(1);
    ResumeThread(thread);
    CloseHandle(thread);
    SetLastError(error);
}

SheetTitle* CreateSheetTitle() {
    SheetTitle* title = AllocZeroed<SheetTitle>().release();
    if (title != nullptr) title->references = 1;
    return title;
}

SheetTitleReference AddSheetTitleReference(SheetTitle* title) {
    std::atomic_ref<LONG>(title->references).fetch_add(1);
    return SheetTitleReference(title);
}

void ReleaseSheetTitle(SheetTitle* title) {
    if (title == nullptr) return;
    if (std::atomic_ref<LONG>(title->references).fetch_sub(1) == 1) {
        HeapFree(GetProcessHeap(), 0, title);
    }
}

int BuildHiddenPage(HANDLE printer, LPWSTR printerName, PROPSHEETUI_INFO* info, PageVariant variant,
                    HeapBlock<DriverDevmode> devmode, SheetTitleReference title,
                    ScopedClosingThread closingThread) {
    PageOwners owners;
    owners.title = std::move(title);
    owners.closingThread = std::move(closingThread);
    owners.items = AllocZeroed<OPTITEM>(2);
    if (!owners.items) return 0;
    OPTITEM* items = owners.items.get();
    items[0].UserData = reinterpret_cast<ULONG_PTR>(owners.closingThread.get());
    items[1].UserData = reinterpret_cast<ULONG_PTR>(owners.title.get());
    owners.type = AllocZeroed<OPTTYPE>();
    owners.params = AllocZeroed<OPTPARAM>(2);
    owners.page = AllocZeroed<PageBlock>();
    if (variant == DocumentPage) {
        owners.userData = std::move(devmode);
    } else {
        owners.userData = CopyName(printerName);
    }
    if (!owners.type || !owners.params || !owners.page || !owners.userData || info == nullptr) {
        return 0;
    }
    FillItems(items, owners.type.get(), owners.params.get());
    PageBlock* page = owners.page.get();
    QueryDriverFiles(printer, printerName, nullptr, page->helpFile, nullptr);
    COMPROPSHEETUI& ui = page->ui;
    ui.cbSize = sizeof(COMPROPSHEETUI);
    ui.Flags = CPSUIF_UPDATE_PERMISSION;
    ui.hInstCaller = DriverModule();
    ui.pCallerName = printerName;
    ui.UserData = reinterpret_cast<ULONG_PTR>(owners.userData.get());
    ui.pHelpFile = page->helpFile;
    ui.pfnCallBack = variant == DocumentPage ? DocumentPageCallback : DevicePageCallback;
    ui.pOptItem = items;
    ui.pDlgPage = CPSUI_PDLGPAGE_TREEVIEWONLY;
    // The sheet sees item 0 only; item 1 carries the title to the callback.
    ui.cOptItem = 1;
    ui.pOptItemName = printerName;
    ui.CallerVersion = 0x100;
    ui.OptItemVersion = 0x100;
    auto add = reinterpret_cast<PFNCOMPROPSHEET>(info->pfnComPropSheet);
    // What the sheet writes back during the add call; nothing reads it. Not
    // module-wide: two sheets added at once on two threads would both write it.
    LONG_PTR addResult = 0;
    if (add == nullptr ||
        add(info->hComPropSheet, CPSFUNC_ADD_PCOMPROPSHEETUIW, reinterpret_cast<LPARAM>(&ui),
            reinterpret_cast<LPARAM>(&addResult)) == 0) {
        return 0;
    }
    GiveToSheet(owners);
    info->UserData = reinterpret_cast<ULONG_PTR>(&ui);
    return 1;
}

PageShowing LastShowing(const COMPROPSHEETUI* page) {
    const OPTITEM* items = page != nullptr ? page->pOptItem : nullptr;
    const auto* title =
        items != nullptr ? reinterpret_cast<const SheetTitle*>(items[1].UserData) : nullptr;
    return title != nullptr ? static_cast<PageShowing>(title->lastShowing) : NotShown;
}

void ReleaseHiddenPage(COMPROPSHEETUI* page, PageVariant variant) {
    if (page == nullptr) return;
    PageOwners taken = TakeFromSheet(page, variant);  // freed on return
}

LONG APIENTRY DocumentPageCallback(PCPSUICBPARAM param) {
    if (param == nullptr) return CPSUICB_ACTION_NONE;
    HWND sheet = GetParent(param->hDlg);
    if (param->Reason == CPSUICB_REASON_APPLYNOW) return CPSUICB_ACTION_ITEMS_APPLIED;
    if (param->Reason != CPSUICB_REASON_SETACTIVE) return CPSUICB_ACTION_NONE;
    // The sheet hands back the record's own item array, both items.
    OPTITEM* items = param->pOptItem;
    auto* title = items != nullptr ? reinterpret_cast<SheetTitle*>(items[1].UserData) : nullptr;
    if (title != nullptr) SetWindowTextW(sheet, title->text);
    auto closingThread = items != nullptr ? reinterpret_cast<HANDLE>(items[0].UserData) : nullptr;
    // Out of view beyond the bottom-right corner while the dialog runs, but
    // only when the closing thread will close it: without one the user must
    // see the sheet to close it.
    if (closingThread != nullptr) {
        SetWindowPos(sheet, nullptr, GetSystemMetrics(SM_CXFULLSCREEN),
                     GetSystemMetrics(SM_CYFULLSCREEN), 0, 0, SWP_ASYNCWINDOWPOS | SWP_NOSIZE);
    }
    bool taken = false;
    GetUserPref(reinterpret_cast<DriverDevmode*>(param->UserData), &taken);
    // SET_RESULT answers a showing that took no answer as a cancel.
    if (title != nullptr) title->lastShowing = taken ? ShowingAnswered : ShowingUnanswered;
    if (closingThread != nullptr) ResumeThread(closingThread);
    return CPSUICB_ACTION_NONE;
}

LONG APIENTRY DevicePageCallback(PCPSUICBPARAM param) {
    if (param != nullptr && param->Reason == CPSUICB_REASON_APPLYNOW) {
        return CPSUICB_ACTION_ITEMS_APPLIED;
    }
    return CPSUICB_ACTION_NONE;
}

DWORD WINAPI AutoCloseSheet(LPVOID parameter) {
    SheetTitleReference title(static_cast<SheetTitle*>(parameter));  // the thread's own
    if (!title) return 0;
    HWND sheet = nullptr;
    for (int look = 0; look < kSearchLooks && !Cancelled(title.get()); ++look) {
        if (look > 0) Sleep(1);
        sheet = FindWindowW(nullptr, title->text);
        if (sheet != nullptr) break;
    }
    if (sheet != nullptr) PressOk(sheet, title.get());
    ModuleHold held(title->heldModule);
    // Dropped here: the thread may end inside the next call, which runs no
    // destructors.
    title.reset();
    ExitThreadReleasingModule(std::move(held), 0);
    return 0;
}
