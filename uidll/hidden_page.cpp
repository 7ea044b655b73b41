#include "hidden_page.h"

#include <atomic>

#include "driver_files.h"
#include "module_hold.h"
#include "scoped.h"
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

void Free(void* block) {
    if (block != nullptr) HeapFree(GetProcessHeap(), 0, block);
}

template <typename T>
T* AllocZeroed(size_t count = 1) {
    // The sheet holds these blocks past this call: their owner is the page.
    return HeapAllocZeroed<T>(sizeof(T) * count).release();
}

bool Cancelled(SheetTitle* title) { return std::atomic_ref<LONG>(title->cancelled).load() != 0; }

// Ends a closing thread that belongs to a page being released: one that
// never ran now runs only to see the cancel and end.
void EndClosingThread(HANDLE thread, SheetTitle* title) {
    if (thread == nullptr) return;
    if (title != nullptr) std::atomic_ref<LONG>(title->cancelled).store(1);
    ResumeThread(thread);
    CloseHandle(thread);
}

// Releases the item array with what hangs from it.
void ReleaseItems(OPTITEM* items, PageVariant variant) {
    if (items == nullptr) return;
    for (int i = 0; i < 2; ++i) {
        if (items[i].pOptType == nullptr) continue;
        Free(items[i].pOptType->pOptParam);
        Free(items[i].pOptType);
    }
    if (variant == DocumentPage) {
        auto* title = reinterpret_cast<SheetTitle*>(items[1].UserData);
        EndClosingThread(reinterpret_cast<HANDLE>(items[0].UserData), title);
        ReleaseSheetTitle(title);
    }
    Free(items);
}

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

WCHAR* CopyName(const WCHAR* name) {
    size_t units = name != nullptr ? TextLength(name) : 0;
    auto* copy = AllocZeroed<WCHAR>(units + 1);
    if (copy != nullptr && units != 0) TextCopyCount(copy, name, units);
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

SheetTitle* CreateSheetTitle() {
    auto* title = AllocZeroed<SheetTitle>();
    if (title != nullptr) title->references = 1;
    return title;
}

void AddSheetTitleReference(SheetTitle* title) {
    std::atomic_ref<LONG>(title->references).fetch_add(1);
}

void ReleaseSheetTitle(SheetTitle* title) {
    if (title == nullptr) return;
    if (std::atomic_ref<LONG>(title->references).fetch_sub(1) == 1) Free(title);
}

int BuildHiddenPage(HANDLE printer, LPWSTR printerName, PROPSHEETUI_INFO* info, PageVariant variant,
                    DriverDevmode* devmode, SheetTitle* title, HANDLE closingThread) {
    auto* items = AllocZeroed<OPTITEM>(2);
    if (items == nullptr) {
        EndClosingThread(closingThread, title);
        ReleaseSheetTitle(title);
        Free(devmode);
        return 0;
    }
    items[0].UserData = reinterpret_cast<ULONG_PTR>(closingThread);
    items[1].UserData = reinterpret_cast<ULONG_PTR>(title);
    auto* type = AllocZeroed<OPTTYPE>();
    auto* params = AllocZeroed<OPTPARAM>(2);
    auto* page = AllocZeroed<PageBlock>();
    void* userData = variant == DocumentPage ? static_cast<void*>(devmode) : CopyName(printerName);
    if (type == nullptr || params == nullptr || page == nullptr || userData == nullptr ||
        info == nullptr) {
        Free(type);
        Free(params);
        Free(page);
        Free(userData);
        ReleaseItems(items, variant);
        return 0;
    }
    FillItems(items, type, params);
    QueryDriverFiles(printer, printerName, nullptr, page->helpFile, nullptr);
    COMPROPSHEETUI& ui = page->ui;
    ui.cbSize = sizeof(COMPROPSHEETUI);
    ui.Flags = CPSUIF_UPDATE_PERMISSION;
    ui.hInstCaller = DriverModule();
    ui.pCallerName = printerName;
    ui.UserData = reinterpret_cast<ULONG_PTR>(userData);
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
    if (add != nullptr &&
        add(info->hComPropSheet, CPSFUNC_ADD_PCOMPROPSHEETUIW, reinterpret_cast<LPARAM>(&ui),
            reinterpret_cast<LPARAM>(&addResult)) != 0) {
        info->UserData = reinterpret_cast<ULONG_PTR>(&ui);
        return 1;
    }
    ReleaseHiddenPage(&ui, variant);
    return 0;
}

void ReleaseHiddenPage(COMPROPSHEETUI* page, PageVariant variant) {
    if (page == nullptr) return;
    ReleaseItems(page->pOptItem, variant);
    Free(reinterpret_cast<void*>(page->UserData));
    static_assert(offsetof(PageBlock, ui) == 0);
    Free(page);
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
    GetUserPref(reinterpret_cast<DriverDevmode*>(param->UserData));
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
    auto* title = static_cast<SheetTitle*>(parameter);
    if (title == nullptr) return 0;
    HWND sheet = nullptr;
    for (int look = 0; look < kSearchLooks && !Cancelled(title); ++look) {
        if (look > 0) Sleep(1);
        sheet = FindWindowW(nullptr, title->text);
        if (sheet != nullptr) break;
    }
    if (sheet != nullptr) PressOk(sheet, title);
    HMODULE held = title->heldModule;
    ReleaseSheetTitle(title);
    ExitThreadReleasingModule(held, 0);
    return 0;
}
