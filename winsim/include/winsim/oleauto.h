// OLE automation strings and variants, the one COM interface the system
// receives (a URL moniker), urlmon's CreateURLMoniker and the MSHTML dialog
// function type, laid out as on 64-bit Windows.
#pragma once

#include "wintypes.h"

typedef WCHAR OLECHAR;
typedef OLECHAR* BSTR;
typedef WORD VARTYPE;
typedef struct _GUID IID;

#define S_OK ((HRESULT)0)
#define S_FALSE ((HRESULT)1)
#define E_FAIL ((HRESULT)0x80004005L)
#define E_INVALIDARG ((HRESULT)0x80070057L)
#define E_OUTOFMEMORY ((HRESULT)0x8007000EL)
#define E_NOINTERFACE ((HRESULT)0x80004002L)
#define SUCCEEDED(hr) (((HRESULT)(hr)) >= 0)
#define FAILED(hr) (((HRESULT)(hr)) < 0)

enum VARENUM { VT_EMPTY = 0, VT_NULL = 1, VT_I4 = 3, VT_BSTR = 8 };

// Only the members the system reads; the union keeps the platform's size.
typedef struct tagVARIANT {
    VARTYPE vt;
    WORD wReserved1;
    WORD wReserved2;
    WORD wReserved3;
    union {
        LONG lVal;
        BSTR bstrVal;
        void* byref;
        struct {
            void* pvRecord;
            void* pRecInfo;
        } record;
    };
} VARIANT, *LPVARIANT, VARIANTARG;
static_assert(sizeof(VARIANT) == 24);
static_assert(offsetof(VARIANT, bstrVal) == 8);

#define V_VT(v) ((v)->vt)
#define V_BSTR(v) ((v)->bstrVal)

// COM interfaces as the compiler lays out a class of virtual functions: the
// object's first member points at a table of the methods in declaration
// order, which is the platform's method order.
struct IUnknown {
    virtual HRESULT QueryInterface(const IID& iid, void** object) = 0;
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;
};
// The system only releases the moniker it made; the dialog reads it.
struct IMoniker : IUnknown {};
typedef IMoniker* LPMONIKER;

WINSIM_API BSTR WINAPI SysAllocString(const OLECHAR* text);
WINSIM_API void WINAPI SysFreeString(BSTR text);
WINSIM_API void WINAPI VariantInit(VARIANT* variant);
WINSIM_API HRESULT WINAPI VariantClear(VARIANT* variant);
WINSIM_API HRESULT WINAPI CreateURLMoniker(LPMONIKER context, LPCWSTR url, LPMONIKER* moniker);

typedef HRESULT WINAPI SHOWHTMLDIALOGFN(HWND parent, IMoniker* page, VARIANT* argument,
                                        WCHAR* options, VARIANT* result);
