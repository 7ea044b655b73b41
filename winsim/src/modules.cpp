// Named system modules. The one system module here is MSHTML.DLL in the
// system folder: its one export the system uses, ShowHTMLDialog, is
// winsim's dialog. A file of the same name in the application's folder is a
// planted module: the standard search order finds it before the system
// folder, as Windows does, and loading it is what a row must never see.
// Loads are counted per process, since the driver loads the module at every
// showing.
#include <sys/stat.h>

#include <map>
#include <mutex>

#include "internal.h"

namespace {

int g_mshtmlModule;
int g_plantedModule;
int g_programModule;
std::mutex g_lock;
std::map<std::u16string, long> g_loads;
long g_mshtmlRefs = 0;
long g_plantedRefs = 0;
std::string g_modulesRoot;

// What is loaded belongs to the process on its machine: a process that
// switches to another machine (a test's fresh one) starts with nothing
// loaded there, as a new process would. Called under the lock.
void FollowMachine() {
    std::string root = winsim::MachineRoot();
    if (root == g_modulesRoot) return;
    g_modulesRoot = root;
    g_mshtmlRefs = 0;
    g_plantedRefs = 0;
}

constexpr char16_t kSystemFolder[] = u"C:\\Windows\\System32";

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

bool IsBareName(const WCHAR* name) {
    for (const WCHAR* p = name; *p != 0; ++p) {
        if (*p == '\\' || *p == '/' || *p == ':') return false;
    }
    return true;
}

HMODULE Mshtml() { return reinterpret_cast<HMODULE>(&g_mshtmlModule); }
HMODULE Planted() { return reinterpret_cast<HMODULE>(&g_plantedModule); }

// The folder the printing application was started from (machine setting
// "application_folder"), where the standard search order looks first.
std::u16string ApplicationFolder() {
    return winsim::ToUtf16(
        winsim::GetSetting("application_folder", "C:\\Program Files\\Lark Application"));
}

bool PlantedFileExists() {
    struct stat st {};
    std::string host = winsim::HostPath(ApplicationFolder() + u"\\mshtml.dll");
    return ::stat(host.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// Resolves a load under the lock: a module of that name already loaded is
// answered whatever folder the search would reach (Windows checks loaded
// modules by name first); otherwise the application's folder comes first
// unless the search is limited to the system folder.
HMODULE Load(const WCHAR* name, bool systemOnly) {
    FollowMachine();
    std::u16string key = ModuleKey(name);
    if (key != u"mshtml.dll") return nullptr;
    ++g_loads[key];
    if (g_plantedRefs > 0) {
        ++g_plantedRefs;
        return Planted();
    }
    if (g_mshtmlRefs > 0) {
        ++g_mshtmlRefs;
        return Mshtml();
    }
    if (!systemOnly && IsBareName(name) && PlantedFileExists()) {
        ++g_plantedRefs;
        ++g_loads[u"planted:mshtml.dll"];
        return Planted();
    }
    if (winsim::GetSetting("mshtml", "") == "missing") return nullptr;
    ++g_mshtmlRefs;
    return Mshtml();
}

}  // namespace

// A bare name follows the standard search order (the application's folder
// first); machine setting "mshtml": "missing" makes the system's module
// unknown.
WINSIM_API HMODULE WINAPI LoadLibraryW(LPCWSTR name) {
    if (name == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (winsim::detail::Faulted("LoadLibraryW")) return nullptr;
    std::lock_guard<std::mutex> guard(g_lock);
    HMODULE module = Load(name, false);
    if (module == nullptr) SetLastError(ERROR_MOD_NOT_FOUND);
    return module;
}

// LOAD_LIBRARY_SEARCH_SYSTEM32 searches the system folder alone; no flags
// is LoadLibraryW. The file handle must be null; other flags are not
// modelled and are refused.
WINSIM_API HMODULE WINAPI LoadLibraryExW(LPCWSTR name, HANDLE file, DWORD flags) {
    if (name == nullptr || file != nullptr ||
        (flags != 0 && flags != LOAD_LIBRARY_SEARCH_SYSTEM32)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (winsim::detail::Faulted("LoadLibraryExW")) return nullptr;
    std::lock_guard<std::mutex> guard(g_lock);
    HMODULE module = Load(name, flags == LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (module == nullptr) SetLastError(ERROR_MOD_NOT_FOUND);
    return module;
}

// Machine setting "mshtml": "no-export" hides ShowHTMLDialog. A planted
// module's exports are the attacker's: none that the system knows.
WINSIM_API FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR name) {
    if (module != Mshtml() && module != Planted()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if (winsim::detail::Faulted("GetProcAddress")) return nullptr;
    if (module == Planted() || name == nullptr || std::string(name) != "ShowHTMLDialog" ||
        winsim::GetSetting("mshtml", "") == "no-export") {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    // Through void*: the export table holds addresses, not typed functions.
    return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&winsim::detail::ShowHtmlDialog));
}

// The last FreeLibrary of a module unloads it: GetModuleHandleW no longer
// finds it.
WINSIM_API BOOL WINAPI FreeLibrary(HMODULE module) {
    std::lock_guard<std::mutex> guard(g_lock);
    FollowMachine();
    long* refs = module == Mshtml()    ? &g_mshtmlRefs
                 : module == Planted() ? &g_plantedRefs
                                       : nullptr;
    if (refs == nullptr || *refs == 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    --*refs;
    return TRUE;
}

// Null: the program's own module. A name: a module that is loaded now, by
// its file name; none (ERROR_MOD_NOT_FOUND) for one that is not.
WINSIM_API HMODULE WINAPI GetModuleHandleW(LPCWSTR name) {
    if (name == nullptr) return reinterpret_cast<HMODULE>(&g_programModule);
    std::lock_guard<std::mutex> guard(g_lock);
    FollowMachine();
    if (ModuleKey(name) == u"mshtml.dll") {
        if (g_plantedRefs > 0) return Planted();
        if (g_mshtmlRefs > 0) return Mshtml();
    }
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
}

// The loaded module's full path. A buffer too small gets the path cut and
// terminated, the answer is the buffer's size and the last error
// ERROR_INSUFFICIENT_BUFFER, as Windows since Vista does.
WINSIM_API DWORD WINAPI GetModuleFileNameW(HMODULE module, LPWSTR buffer, DWORD size) {
    std::u16string path;
    {
        std::lock_guard<std::mutex> guard(g_lock);
        FollowMachine();
        if (module == Mshtml() && g_mshtmlRefs > 0) {
            path = std::u16string(kSystemFolder) + u"\\mshtml.dll";
        } else if (module == Planted() && g_plantedRefs > 0) {
            path = ApplicationFolder() + u"\\mshtml.dll";
        }
    }
    if (path.empty()) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return 0;
    }
    if (buffer == nullptr || size == 0) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    if (path.size() + 1 > size) {
        path.copy(buffer, size - 1);
        buffer[size - 1] = 0;
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return size;
    }
    path.copy(buffer, path.size());
    buffer[path.size()] = 0;
    return static_cast<DWORD>(path.size());
}

// The system folder, without a final backslash.
WINSIM_API UINT WINAPI GetSystemDirectoryW(LPWSTR buffer, UINT size) {
    const std::u16string folder = kSystemFolder;
    if (buffer == nullptr || size < folder.size() + 1) return static_cast<UINT>(folder.size() + 1);
    folder.copy(buffer, folder.size());
    buffer[folder.size()] = 0;
    return static_cast<UINT>(folder.size());
}

namespace winsim {

long ModuleLoads(const std::u16string& name) {
    std::lock_guard<std::mutex> guard(g_lock);
    auto it = g_loads.find(ModuleKey(name.c_str()));
    return it == g_loads.end() ? 0 : it->second;
}

long PlantedModuleLoads() {
    std::lock_guard<std::mutex> guard(g_lock);
    auto it = g_loads.find(u"planted:mshtml.dll");
    return it == g_loads.end() ? 0 : it->second;
}

}  // namespace winsim
