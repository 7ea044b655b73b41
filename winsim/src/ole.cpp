// OLE automation strings and variants, and urlmon's URL moniker. Strings and
// monikers are counted, so a test sees a string never freed or a moniker
// never released.
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <unordered_set>

#include "internal.h"

using winsim::detail::CountDown;
using winsim::detail::CountUp;
using winsim::detail::Held;

namespace {

std::mutex g_lock;
std::unordered_set<const void*> g_strings;

// A BSTR is laid out as on Windows: a 32-bit byte count, the units, a
// terminating zero; the pointer handed out is the first unit.
BSTR AllocateString(const OLECHAR* text, size_t units) {
    auto* block = static_cast<uint8_t*>(std::malloc(4 + (units + 1) * sizeof(OLECHAR)));
    if (block == nullptr) return nullptr;
    uint32_t bytes = static_cast<uint32_t>(units * sizeof(OLECHAR));
    std::memcpy(block, &bytes, 4);
    auto* s = reinterpret_cast<BSTR>(block + 4);
    if (units != 0) std::memcpy(s, text, units * sizeof(OLECHAR));
    s[units] = 0;
    std::lock_guard<std::mutex> guard(g_lock);
    g_strings.insert(s);
    CountUp(Held::Bstr);
    return s;
}

struct UrlMoniker final : IMoniker {
    std::atomic<ULONG> references{1};
    std::u16string url;

    HRESULT QueryInterface(const IID&, void** object) override {
        if (object != nullptr) *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++references; }
    ULONG Release() override {
        ULONG left = --references;
        if (left == 0) {
            delete this;
            CountDown(Held::Moniker);
        }
        return left;
    }
};

}  // namespace

// NULL in gives NULL out, as on Windows.
WINSIM_API BSTR WINAPI SysAllocString(const OLECHAR* text) {
    if (text == nullptr || winsim::detail::Faulted("SysAllocString")) return nullptr;
    size_t units = 0;
    while (text[units] != 0) ++units;
    return AllocateString(text, units);
}

// Freeing NULL does nothing; a string that is not live is left alone rather
// than corrupting memory.
WINSIM_API void WINAPI SysFreeString(BSTR text) {
    if (text == nullptr) return;
    {
        std::lock_guard<std::mutex> guard(g_lock);
        if (g_strings.erase(text) == 0) return;
    }
    CountDown(Held::Bstr);
    std::free(reinterpret_cast<uint8_t*>(text) - 4);
}

WINSIM_API void WINAPI VariantInit(VARIANT* variant) {
    if (variant == nullptr) return;
    std::memset(variant, 0, sizeof *variant);
    variant->vt = VT_EMPTY;
}

// A VT_BSTR variant frees its string; every variant is left VT_EMPTY.
WINSIM_API HRESULT WINAPI VariantClear(VARIANT* variant) {
    if (variant == nullptr) return E_INVALIDARG;
    if (variant->vt == VT_BSTR) SysFreeString(variant->bstrVal);
    std::memset(variant, 0, sizeof *variant);
    variant->vt = VT_EMPTY;
    return S_OK;
}

// The dialog reads the page's path back from the moniker. No URL gives no
// moniker; an empty one gives a moniker, as urlmon leaves parsing to the
// binding (since Internet Explorer 7).
WINSIM_API HRESULT WINAPI CreateURLMoniker(LPMONIKER, LPCWSTR url, LPMONIKER* moniker) {
    if (moniker == nullptr) return E_INVALIDARG;
    *moniker = nullptr;
    if (url == nullptr) return E_INVALIDARG;
    DWORD error = 0;
    if (winsim::detail::ShouldFail("CreateURLMoniker", &error)) return E_FAIL;
    auto* created = new (std::nothrow) UrlMoniker;
    if (created == nullptr) return E_OUTOFMEMORY;
    created->url = url;
    CountUp(Held::Moniker);
    *moniker = created;
    return S_OK;
}

namespace winsim {

// urlmon's legacy parser names a DOS path "file://" and the path unchanged.
std::u16string MonikerDisplayName(IMoniker* moniker) {
    std::u16string url;
    if (!detail::MonikerUrl(moniker, &url)) return u"";
    bool dosPath = url.size() >= 3 && url[1] == u':' && (url[2] == u'\\' || url[2] == u'/') &&
                   ((url[0] >= u'A' && url[0] <= u'Z') || (url[0] >= u'a' && url[0] <= u'z'));
    return dosPath ? u"file://" + url : url;
}

}  // namespace winsim

namespace winsim::detail {

bool MonikerUrl(IMoniker* moniker, std::u16string* url) {
    auto* own = dynamic_cast<UrlMoniker*>(moniker);
    if (own == nullptr) return false;
    *url = own->url;
    return true;
}

}  // namespace winsim::detail
