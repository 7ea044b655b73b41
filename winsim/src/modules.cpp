// Named system modules. Only MSHTML.DLL exists by name here: its one export
// the system uses, ShowHTMLDialog, is winsim's dialog. Loads are counted per
// process, since the driver loads the module at every showing.
#include <map>
#include <mutex>

#include "internal.h"

namespace {

int g_mshtmlModule;
std::mutex g_lock;
std::map<std::u16string, long> g_loads;

// The file name of a path, letters folded, ".dll" added when there is no
// extension (as LoadLibraryW does).
std::u16string ModuleKey(const WCHAR* name) {
    std::u16string s = winsim::detail::Str(name);
    size_t slash = s.find_last_of(u"\\/");
    if (slash != std::u16string::npos) s = s.substr(slash + 1);
    for (char16_t& c : s) {
        if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
    }
    if (s.find(u'.') == std::u16string::npos) s += u".dll";
    return s;
}

HMODULE Mshtml() { return reinterpret_cast<HMODULE>(&g_mshtmlModule); }

}  // namespace

// Machine setting "mshtml": "missing" makes the module unknown.
WINSIM_API HMODULE WINAPI LoadLibraryW(LPCWSTR name) {
    if (name == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (winsim::detail::Faulted("LoadLibraryW")) return nullptr;
    std::u16string key = ModuleKey(name);
    if (key != u"mshtml.dll" || winsim::GetSetting("mshtml", "") == "missing") {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    std::lock_guard<std::mutex> guard(g_lock);
    ++g_loads[key];
    return Mshtml();
}

// Machine setting "mshtml": "no-export" hides ShowHTMLDialog.
WINSIM_API FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR name) {
    if (module != Mshtml()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if (winsim::detail::Faulted("GetProcAddress")) return nullptr;
    if (name == nullptr || std::string(name) != "ShowHTMLDialog" ||
        winsim::GetSetting("mshtml", "") == "no-export") {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    // Through void*: the export table holds addresses, not typed functions.
    return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&winsim::detail::ShowHtmlDialog));
}

WINSIM_API BOOL WINAPI FreeLibrary(HMODULE module) {
    std::lock_guard<std::mutex> guard(g_lock);
    auto it = g_loads.find(u"mshtml.dll");
    if (module != Mshtml() || it == g_loads.end() || it->second == 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

namespace winsim {

long ModuleLoads(const std::u16string& name) {
    std::lock_guard<std::mutex> guard(g_lock);
    auto it = g_loads.find(ModuleKey(name.c_str()));
    return it == g_loads.end() ? 0 : it->second;
}

}  // namespace winsim
