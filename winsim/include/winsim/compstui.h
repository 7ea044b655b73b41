// The common property sheet interface (compstui): the records a driver hands
// the sheet host to describe its pages, the host's service function and the
// page callback, laid out as the 64-bit Windows headers lay them out, since
// the driver fills these records field by field.
#pragma once

#include <cstddef>

#include "wingdi.h"
#include "wintypes.h"

#define PROPSHEETUI_REASON_INIT 0
#define PROPSHEETUI_REASON_GET_INFO_HEADER 1
#define PROPSHEETUI_REASON_DESTROY 2
#define PROPSHEETUI_REASON_SET_RESULT 3
#define PROPSHEETUI_REASON_GET_ICON 4
#define PROPSHEETUI_INFO_VERSION 0x0100
#define PSUIINFO_UNICODE 0x0001

#define CPSFUNC_ADD_HPROPSHEETPAGE 0
#define CPSFUNC_ADD_PROPSHEETPAGEW 1
#define CPSFUNC_ADD_PCOMPROPSHEETUIA 2
#define CPSFUNC_ADD_PCOMPROPSHEETUIW 3
#define CPSFUNC_ADD_PFNPROPSHEETUIA 4
#define CPSFUNC_ADD_PFNPROPSHEETUIW 5
#define CPSFUNC_SET_RESULT 9

#define CPSUICB_REASON_SEL_CHANGED 0
#define CPSUICB_REASON_PUSHBUTTON 1
#define CPSUICB_REASON_APPLYNOW 6
#define CPSUICB_REASON_SETACTIVE 10
#define CPSUICB_REASON_KILLACTIVE 11
#define CPSUICB_ACTION_NONE 0
#define CPSUICB_ACTION_OPTIF_CHANGED 1
#define CPSUICB_ACTION_REINIT_ITEMS 2
#define CPSUICB_ACTION_NO_APPLY_EXIT 3
#define CPSUICB_ACTION_ITEMS_APPLIED 4

#define CPSUIF_UPDATE_PERMISSION 0x0001
#define CPSUIF_ICONID_AS_HICON 0x0002
#define CPSUIF_ABOUT_CALLBACK 0x0004

#define CPSUI_PDLGPAGE_DOCPROP ((PDLGPAGE)1)
#define CPSUI_PDLGPAGE_ADVDOCPROP ((PDLGPAGE)2)
#define CPSUI_PDLGPAGE_PRINTERPROP ((PDLGPAGE)3)
#define CPSUI_PDLGPAGE_TREEVIEWONLY ((PDLGPAGE)4)

#define OPTIF_COLLAPSE 0x00000001L
#define OPTIF_HIDE 0x00000002L
#define OPTIF_CALLBACK 0x00000004L
#define OPTIF_CHANGED 0x00000008L
#define OPTIF_CHANGEONCE 0x00000010L
#define OPTIF_DISABLED 0x00000020L
#define OPTPF_HIDE 0x01
#define OPTPF_DISABLED 0x02

#define TVOT_2STATES 0
#define TVOT_3STATES 1
#define TVOT_UDARROW 2
#define TVOT_TRACKBAR 3
#define TVOT_SCROLLBAR 4
#define TVOT_LISTBOX 5
#define TVOT_COMBOBOX 6
#define TVOT_EDITBOX 7
#define TVOT_PUSHBUTTON 8
#define TVOT_CHKBOX 9

#define PSUIHDRF_OBSOLETE 0x0001
#define PSUIHDRF_NOAPPLYNOW 0x0002
#define PSUIHDRF_PROPTITLE 0x0004
#define PSUIHDRF_USEHICON 0x0008
#define PSUIHDRF_DEFTITLE 0x0010
#define PSUIHDRF_EXACT_PTITLE 0x0020

#define CPSUI_CANCEL 0
#define CPSUI_OK 1
#define CPSUI_RESTARTWINDOWS 2
#define CPSUI_REBOOTSYSTEM 3

#define ERR_CPSUI_GETLASTERROR -1
#define ERR_CPSUI_ALLOCMEM_FAILED -2
#define ERR_CPSUI_INVALID_PDATA -3
#define ERR_CPSUI_INVALID_LPARAM -4
#define ERR_CPSUI_NULL_HINST -5
#define ERR_CPSUI_NULL_CALLERNAME -6
#define ERR_CPSUI_NULL_OPTITEMNAME -7
#define ERR_CPSUI_NO_PROPSHEETPAGE -8
#define ERR_CPSUI_TOO_MANY_PROPSHEETPAGES -9
#define ERR_CPSUI_CREATEPROPPAGE_FAILED -10
#define ERR_CPSUI_NULL_POPTITEM -18
#define ERR_CPSUI_INVALID_OPTITEM_CBSIZE -19
#define ERR_CPSUI_INVALID_OPTTYPE_CBSIZE -20
#define ERR_CPSUI_INVALID_OPTTYPE_COUNT -21
#define ERR_CPSUI_NULL_POPTPARAM -22
#define ERR_CPSUI_INVALID_OPTPARAM_CBSIZE -23
#define ERR_CPSUI_ZERO_OPTITEM -44
#define ERR_CPSUI_FUNCTION_NOT_IMPLEMENTED -9999
#define ERR_CPSUI_INTERNAL_ERROR -10000

// DocumentProperties modes under their input/output names.
#ifndef DM_UPDATE
#define DM_UPDATE 1
#define DM_COPY 2
#define DM_PROMPT 4
#define DM_MODIFY 8
#endif
#ifndef DM_IN_BUFFER
#define DM_IN_BUFFER DM_MODIFY
#define DM_OUT_BUFFER DM_COPY
#endif
#ifndef DM_IN_PROMPT
#define DM_IN_PROMPT DM_PROMPT
#define DM_OUT_DEFAULT DM_UPDATE
#endif

typedef struct _OPTPARAM {
    WORD cbSize;
    BYTE Flags;
    BYTE Style;
    LPWSTR pData;
    ULONG_PTR IconID;
    LPARAM lParam;
    ULONG_PTR dwReserved[2];
} OPTPARAM, *POPTPARAM;

typedef struct _OPTTYPE {
    WORD cbSize;
    BYTE Type;
    BYTE Flags;
    WORD Count;
    WORD BegCtrlID;
    POPTPARAM pOptParam;
    WORD Style;
    WORD wReserved[3];
    ULONG_PTR dwReserved[3];
} OPTTYPE, *POPTTYPE;

typedef struct _EXTPUSH {
    WORD cbSize;
    WORD Flags;
    LPWSTR pTitle;
    union {
        LONG_PTR(CALLBACK* DlgProc)(HWND, UINT, WPARAM, LPARAM);
        LONG_PTR(CALLBACK* pfnCallBack)();
    };
    ULONG_PTR IconID;
    union {
        WORD DlgTemplateID;
        HANDLE hDlgTemplate;
    };
    ULONG_PTR dwReserved[3];
} EXTPUSH, *PEXTPUSH;

typedef struct _EXTCHKBOX {
    WORD cbSize;
    WORD Flags;
    LPWSTR pTitle;
    LPWSTR pSeparator;
    LPWSTR pCheckedName;
    ULONG_PTR IconID;
    WORD wReserved[4];
    ULONG_PTR dwReserved[2];
} EXTCHKBOX, *PEXTCHKBOX;

typedef struct _OIEXT {
    WORD cbSize;
    WORD Flags;
    HINSTANCE hInstCaller;
    LPWSTR pHelpFile;
    ULONG_PTR dwReserved[4];
} OIEXT, *POIEXT;

typedef struct _OPTITEM {
    WORD cbSize;
    BYTE Level;
    BYTE DlgPageIdx;
    DWORD Flags;
    ULONG_PTR UserData;
    LPWSTR pName;
    union {
        LONG Sel;
        LPWSTR pSel;
    };
    union {
        PEXTCHKBOX pExtChkBox;
        PEXTPUSH pExtPush;
    };
    POPTTYPE pOptType;
    DWORD HelpIndex;
    BYTE DMPubID;
    BYTE UserItemID;
    WORD wReserved;
    POIEXT pOIExt;
    ULONG_PTR dwReserved[3];
} OPTITEM, *POPTITEM;

typedef struct _CPSUICBPARAM {
    WORD cbSize;
    WORD Reason;
    HWND hDlg;
    POPTITEM pOptItem;
    WORD cOptItem;
    WORD Flags;
    POPTITEM pCurItem;
    union {
        LONG OldSel;
        LPWSTR pOldSel;
    };
    ULONG_PTR UserData;
    ULONG_PTR Result;
} CPSUICBPARAM, *PCPSUICBPARAM;

typedef LONG(APIENTRY* _CPSUICALLBACK)(PCPSUICBPARAM pCPSUICBParam);

typedef struct _DLGPAGE {
    WORD cbSize;
    WORD Flags;
    LONG_PTR(CALLBACK* DlgProc)(HWND, UINT, WPARAM, LPARAM);
    LPWSTR pTabName;
    ULONG_PTR IconID;
    union {
        WORD DlgTemplateID;
        HANDLE hDlgTemplate;
    };
} DLGPAGE, *PDLGPAGE;

typedef struct _COMPROPSHEETUI {
    WORD cbSize;
    WORD Flags;
    HINSTANCE hInstCaller;
    LPWSTR pCallerName;
    ULONG_PTR UserData;
    LPWSTR pHelpFile;
    _CPSUICALLBACK pfnCallBack;
    POPTITEM pOptItem;
    PDLGPAGE pDlgPage;
    WORD cOptItem;
    WORD cDlgPage;
    ULONG_PTR IconID;
    LPWSTR pOptItemName;
    WORD CallerVersion;
    WORD OptItemVersion;
    ULONG_PTR dwReserved[4];
} COMPROPSHEETUI, *PCOMPROPSHEETUI;

typedef struct _SETRESULT_INFO {
    WORD cbSize;
    WORD wReserved;
    HANDLE hSetResult;
    LRESULT Result;
} SETRESULT_INFO, *PSETRESULT_INFO;

typedef LONG_PTR(CALLBACK* PFNCOMPROPSHEET)(HANDLE hComPropSheet, UINT Function, LPARAM lParam1,
                                            LPARAM lParam2);

typedef struct _PROPSHEETUI_INFO {
    WORD cbSize;
    WORD Version;
    WORD Flags;
    WORD Reason;
    HANDLE hComPropSheet;
    PFNCOMPROPSHEET pfnComPropSheet;
    LPARAM lParamInit;
    ULONG_PTR UserData;
    ULONG_PTR Result;
} PROPSHEETUI_INFO, *PPROPSHEETUI_INFO;

typedef LONG(CALLBACK* PFNPROPSHEETUI)(PPROPSHEETUI_INFO pPSUIInfo, LPARAM lParam);

typedef struct _PROPSHEETUI_INFO_HEADER {
    WORD cbSize;
    WORD Flags;
    LPWSTR pTitle;
    HWND hWndParent;
    HINSTANCE hInst;
    union {
        HICON hIcon;
        ULONG_PTR IconID;
    };
} PROPSHEETUI_INFO_HEADER, *PPROPSHEETUI_INFO_HEADER;

// The layouts of 64-bit Windows, which a driver built against the real
// header expects.
static_assert(sizeof(OPTPARAM) == 48 && offsetof(OPTPARAM, pData) == 8 &&
              offsetof(OPTPARAM, lParam) == 24);
static_assert(sizeof(OPTTYPE) == 48 && offsetof(OPTTYPE, Count) == 4 &&
              offsetof(OPTTYPE, pOptParam) == 8 && offsetof(OPTTYPE, Style) == 16);
static_assert(sizeof(OPTITEM) == 88 && offsetof(OPTITEM, Flags) == 4 &&
              offsetof(OPTITEM, pName) == 16 && offsetof(OPTITEM, Sel) == 24 &&
              offsetof(OPTITEM, pOptType) == 40 && offsetof(OPTITEM, DMPubID) == 52 &&
              offsetof(OPTITEM, pOIExt) == 56);
static_assert(sizeof(CPSUICBPARAM) == 64 && offsetof(CPSUICBPARAM, hDlg) == 8 &&
              offsetof(CPSUICBPARAM, cOptItem) == 24 && offsetof(CPSUICBPARAM, pCurItem) == 32 &&
              offsetof(CPSUICBPARAM, UserData) == 48);
static_assert(sizeof(COMPROPSHEETUI) == 128 && offsetof(COMPROPSHEETUI, UserData) == 24 &&
              offsetof(COMPROPSHEETUI, pfnCallBack) == 40 &&
              offsetof(COMPROPSHEETUI, pDlgPage) == 56 &&
              offsetof(COMPROPSHEETUI, cOptItem) == 64 && offsetof(COMPROPSHEETUI, IconID) == 72 &&
              offsetof(COMPROPSHEETUI, CallerVersion) == 88);
static_assert(sizeof(PROPSHEETUI_INFO) == 48 && offsetof(PROPSHEETUI_INFO, hComPropSheet) == 8 &&
              offsetof(PROPSHEETUI_INFO, lParamInit) == 24 &&
              offsetof(PROPSHEETUI_INFO, Result) == 40);
static_assert(sizeof(PROPSHEETUI_INFO_HEADER) == 40 &&
              offsetof(PROPSHEETUI_INFO_HEADER, pTitle) == 8 &&
              offsetof(PROPSHEETUI_INFO_HEADER, hInst) == 24 &&
              offsetof(PROPSHEETUI_INFO_HEADER, IconID) == 32);
static_assert(sizeof(SETRESULT_INFO) == 24 && sizeof(DLGPAGE) == 40);

// The sheet host: runs pfnPropSheetUI's pages as one modal sheet on the
// calling thread and answers CPSUI_OK or CPSUI_CANCEL in *pResult.
WINSIM_API LONG WINAPI CommonPropertySheetUIW(HWND hWndOwner, PFNPROPSHEETUI pfnPropSheetUI,
                                              LPARAM lParam, LPDWORD pResult);
