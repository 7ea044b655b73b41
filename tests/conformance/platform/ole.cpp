// OLE automation and urlmon as the settings dialog relies on them: BSTR
// copies of the page's path and the settings, the argument and result
// variants, and the URL moniker of the page.
#include <cstdint>
#include <cstring>

#include "adapter.h"
#include "conformance.h"

namespace {

uint32_t LengthPrefix(const WCHAR* text) {
    uint32_t bytes = 0;
    std::memcpy(&bytes, reinterpret_cast<const unsigned char*>(text) - 4, 4);
    return bytes;
}

}  // namespace

CONFORMANCE_COVERS(Rows, "SysAllocString SysFreeString VariantInit VariantClear CreateURLMoniker",
                   nullptr);

CONFORMANCE_TABLE(OleAutomation, "OLE strings, variants and the URL moniker") {
    struct Row {
        const char* name;
        const char* text;
        uint32_t bytes;
    } rows[] = {
        {"SysAllocString: the byte count before the text, a terminator after", "1000=0;", 14},
        {"SysAllocString of an empty text: a string of no bytes", "", 0},
        {"SysAllocString of a path beyond the Basic Multilingual Plane", "C:\\\xF0\x9F\x96\xA8.htm",
         18},
    };
    for (const Row& row : rows) {
        if (!ctx.Begin(row.name)) continue;
        std::basic_string<WCHAR> text = conformance::Wide(row.text);
        WCHAR* copy = SysAllocString(text.c_str());
        if (!ROW_CHECK(copy != nullptr)) continue;
        ROW_CHECK(copy != text.c_str());
        ROW_EQ(LengthPrefix(copy), row.bytes);
        ROW_EQ(copy[row.bytes / 2], 0);
        ROW_TEXT(copy, text.c_str());
        SysFreeString(copy);
    }
    if (ctx.Begin("SysAllocString of no text: none; SysFreeString of none does nothing")) {
        ROW_CHECK(SysAllocString(nullptr) == nullptr);
        SysFreeString(nullptr);
    }
    if (ctx.Begin("VariantInit: VT_EMPTY")) {
        VARIANT v;
        std::memset(&v, 0xCC, sizeof v);
        VariantInit(&v);
        ROW_EQ(v.vt, VT_EMPTY);
        ROW_EQ(VariantClear(&v), S_OK);
        ROW_EQ(v.vt, VT_EMPTY);
    }
    if (ctx.Begin("VariantClear of a VT_BSTR frees its string and leaves VT_EMPTY")) {
        VARIANT v;
        VariantInit(&v);
        v.vt = VT_BSTR;
        v.bstrVal = SysAllocString(TEXT("1000=1;9900=257;"));
        ROW_CHECK(v.bstrVal != nullptr);
        ROW_EQ(VariantClear(&v), S_OK);
        ROW_EQ(v.vt, VT_EMPTY);
    }
    if (ctx.Begin("a VT_BSTR that is NULL clears as well")) {
        VARIANT v;
        VariantInit(&v);
        v.vt = VT_BSTR;
        v.bstrVal = nullptr;
        ROW_EQ(VariantClear(&v), S_OK);
        ROW_EQ(v.vt, VT_EMPTY);
    }
    if (ctx.Begin("CreateURLMoniker of a DOS path: named \"file://\" and the path")) {
        std::basic_string<WCHAR> path =
            conformance::DriverFolder() + conformance::Wide("settings.htm");
        IMoniker* moniker = nullptr;
        ROW_EQ(CreateURLMoniker(nullptr, path.c_str(), &moniker), S_OK);
        if (ROW_CHECK(moniker != nullptr)) {
            std::basic_string<WCHAR> name = conformance::MonikerDisplayName(moniker);
            ROW_TEXT(name.c_str(), (conformance::Wide("file://") + path).c_str());
            ROW_EQ(moniker->AddRef(), 2u);
            ROW_EQ(moniker->Release(), 1u);
            ROW_EQ(moniker->Release(), 0u);
        }
    }
    if (ctx.Begin("CreateURLMoniker of an empty URL: a moniker all the same")) {
        IMoniker* moniker = nullptr;
        ROW_EQ(CreateURLMoniker(nullptr, TEXT(""), &moniker), S_OK);
        if (ROW_CHECK(moniker != nullptr)) ROW_EQ(moniker->Release(), 0u);
    }
    if (ctx.Begin("CreateURLMoniker of no URL: E_INVALIDARG, the moniker set to none")) {
        IMoniker* moniker = reinterpret_cast<IMoniker*>(1);
        ROW_EQ(CreateURLMoniker(nullptr, nullptr, &moniker), E_INVALIDARG);
        ROW_CHECK(moniker == nullptr);
    }
}
