// Modules. The one system module here is MSHTML.DLL in the system folder:
// its one export the system uses, ShowHTMLDialog, is winsim's dialog. A
// file of the same name in the application's folder is a planted module:
// the standard search order finds it before the system folder, as Windows
// does, and loading it is what a row must never see. Loads are counted per
// process, since the driver loads the module at every showing.
//
// A module loaded from a file of the machine by its path (the driver, by
// the spooler or by a program itself) is a host shared object: mapped once
// however often it is loaded, with the reference count Windows keeps. The
// last FreeLibrary unloads it, threads or not: DllMain gets
// DLL_PROCESS_DETACH and the mapping goes. A thread of the module still
// suspended or running then would fault on Windows at its next instruction;
// here it is counted as such (UnloadedModuleThreads) and the mapping stays,
// so the process survives to report it.
#include <dlfcn.h>
#include <link.h>
#include <sys/stat.h>

#include <map>
#include <mutex>
#include <vector>

#include "window_internal.h"

namespace {

int g_mshtmlModule;
int g_plantedModule;
int g_programModule;
// The loader lock: recursive, as a DllMain may load and free modules.
std::recursive_mutex g_lock;
std::map<std::u16string, long> g_loads;
long g_mshtmlRefs = 0;
long g_plantedRefs = 0;
bool g_mshtmlPinned = false;
bool g_plantedPinned = false;
std::string g_modulesRoot;

struct FileModule {
    void* library = nullptr;        // the host's mapping, also the module's handle
    const link_map* map = nullptr;  // which code is the module's
    std::u16string path;            // as it was loaded
    std::u16string key;             // its file name, letters folded
    long refs = 0;
    bool pinned = false;
};
std::vector<FileModule> g_files;  // the loaded ones
long g_threadsInUnloaded = 0;
std::string g_forbidden;  // why this process loads no driver module, or empty
// The thread in FreeLibraryAndExitThread: ending, it runs nothing more of
// the module it frees.
thread_local DWORD t_exiting = 0;

// What is loaded belongs to the process on its machine: a process that
// switches to another machine (a test's fresh one) starts with nothing
// loaded there, as a new process would. Called under the lock.
void FollowMachine() {
    std::string root = winsim::MachineRoot();
    if (root == g_modulesRoot) return;
    g_modulesRoot = root;
    g_mshtmlRefs = 0;
    g_plantedRefs = 0;
    g_mshtmlPinned = false;
    g_plantedPinned = false;
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

// A loaded file module by its handle, its code or its name (a bare name
// matches the file name of any loaded one, a path the path it was loaded
// by, letters folded); nullptr for none. Called under the lock.
FileModule* FileByHandle(HMODULE module) {
    for (FileModule& file : g_files) {
        if (file.library == module) return &file;
    }
    return nullptr;
}

FileModule* FileByMap(const link_map* map) {
    for (FileModule& file : g_files) {
        if (map != nullptr && file.map == map) return &file;
    }
    return nullptr;
}

std::u16string FoldedPath(const WCHAR* name) {
    std::u16string s = winsim::detail::Str(name);
    for (char16_t& c : s) {
        if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
        if (c == u'/') c = u'\\';
    }
    return s;
}

FileModule* FileByName(const WCHAR* name) {
    bool bare = IsBareName(name);
    std::u16string key = bare ? ModuleKey(name) : FoldedPath(name);
    for (FileModule& file : g_files) {
        if ((bare ? file.key : FoldedPath(file.path.c_str())) == key) return &file;
    }
    return nullptr;
}

const link_map* MapOf(void* library) {
    link_map* map = nullptr;
    return dlinfo(library, RTLD_DI_LINKMAP, &map) == 0 ? map : nullptr;
}

// The host object that holds an address; nullptr for none (the heap, a stack).
const link_map* MapAt(const void* address) {
    Dl_info info{};
    link_map* map = nullptr;
    if (dladdr1(address, &info, reinterpret_cast<void**>(&map), RTLD_DL_LINKMAP) == 0) {
        return nullptr;
    }
    return map;
}

// The program's own image has no name in the host's list.
bool IsProgram(const link_map* map) {
    return map != nullptr && (map->l_name == nullptr || map->l_name[0] == 0);
}

HMODULE Program() { return reinterpret_cast<HMODULE>(&g_programModule); }

using EntryFn = BOOL (*)(HINSTANCE, DWORD, LPVOID);

// The loader calls a module's entry with its handle, as the Windows loader
// calls DllMain, under the loader lock: never two entries at once.
BOOL CallEntry(void* library, DWORD reason) {
    auto entry = reinterpret_cast<EntryFn>(dlsym(library, "DllMain"));
    return entry != nullptr ? entry(static_cast<HINSTANCE>(library), reason, nullptr) : TRUE;
}

// Maps a module from its file, or counts one more reference on it when it
// is loaded already (by this name, or by another name of the same file).
// DllMain's FALSE at the attach unloads it again: ERROR_DLL_INIT_FAILED.
// Called under the lock; nullptr with the last error set on failure.
HMODULE LoadFile(const WCHAR* name, std::string* error) {
    if (!g_forbidden.empty()) {
        *error = g_forbidden;
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    if (FileModule* loaded = FileByName(name)) {
        ++loaded->refs;
        return static_cast<HMODULE>(loaded->library);
    }
    // The search order's folders hold no module of a file but MSHTML.DLL.
    std::string host = IsBareName(name) ? "" : winsim::HostPath(winsim::detail::Str(name));
    struct stat st {};
    if (host.empty() || ::stat(host.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        *error = "no module file " + winsim::ToUtf8(winsim::detail::Str(name));
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    void* library = dlopen(host.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        const char* why = dlerror();
        *error = why != nullptr ? why : "cannot load " + host;
        SetLastError(ERROR_BAD_EXE_FORMAT);
        return nullptr;
    }
    if (FileModule* same = FileByHandle(static_cast<HMODULE>(library))) {
        dlclose(library);  // one host mapping per module
        ++same->refs;
        return static_cast<HMODULE>(library);
    }
    FileModule file;
    file.library = library;
    file.map = MapOf(library);
    file.path = winsim::detail::Str(name);
    file.key = ModuleKey(name);
    file.refs = 1;
    g_files.push_back(file);
    if (!CallEntry(library, DLL_PROCESS_ATTACH)) {
        CallEntry(library, DLL_PROCESS_DETACH);
        g_files.pop_back();
        dlclose(library);
        *error = "the module's DllMain refused the attach";
        SetLastError(ERROR_DLL_INIT_FAILED);
        return nullptr;
    }
    return static_cast<HMODULE>(library);
}

// Drops a reference on a loaded file module; the last one unloads it.
// Called under the lock.
void FreeFile(FileModule* file) {
    if (file->pinned || --file->refs > 0) return;
    FileModule gone = *file;
    g_files.erase(g_files.begin() + (file - g_files.data()));
    CallEntry(gone.library, DLL_PROCESS_DETACH);
    long running = winsim::detail::LiveThreadsStartedIn(
        [&](const void* start) { return MapAt(start) == gone.map; }, t_exiting);
    if (running == 0) {
        dlclose(gone.library);
        return;
    }
    g_threadsInUnloaded += running;
    winsim::detail::RecordUiEvent(
        "threads-at-unload", nullptr, gone.path, {running},
        "threads of the module still to run or running as its last reference goes: on Windows "
        "they fault");
}

// Resolves a load under the lock: a module of that name already loaded is
// answered whatever folder the search would reach (Windows checks loaded
// modules by name first); otherwise the application's folder comes first
// unless the search is limited to the system folder. A name that is not
// MSHTML.DLL is a module of a file.
HMODULE Load(const WCHAR* name, bool systemOnly, std::string* error) {
    FollowMachine();
    std::u16string key = ModuleKey(name);
    if (key != u"mshtml.dll") return LoadFile(name, error);
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
    if (winsim::GetSetting("mshtml", "") == "missing") {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    ++g_mshtmlRefs;
    return Mshtml();
}

// The system's module by name, under the lock; nullptr when not loaded.
HMODULE SystemModule(const WCHAR* name) {
    FollowMachine();
    if (ModuleKey(name) != u"mshtml.dll") return nullptr;
    if (g_plantedRefs > 0) return Planted();
    if (g_mshtmlRefs > 0) return Mshtml();
    return nullptr;
}

}  // namespace

// A bare name follows the standard search order (the application's folder
// first); machine setting "mshtml": "missing" makes the system's module
// unknown. A path loads the module of that file: ERROR_MOD_NOT_FOUND when
// there is none, ERROR_BAD_EXE_FORMAT when it is no module.
WINSIM_API HMODULE WINAPI LoadLibraryW(LPCWSTR name) {
    if (name == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (winsim::detail::Faulted("LoadLibraryW")) return nullptr;
    std::lock_guard<std::recursive_mutex> guard(g_lock);
    std::string error;
    return Load(name, false, &error);
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
    std::lock_guard<std::recursive_mutex> guard(g_lock);
    std::string error;
    return Load(name, flags == LOAD_LIBRARY_SEARCH_SYSTEM32, &error);
}

// Machine setting "mshtml": "no-export" hides ShowHTMLDialog. A planted
// module's exports are the attacker's: none that the system knows. A
// module of a file answers its exports by name (no ordinals here).
WINSIM_API FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR name) {
    void* library = nullptr;
    {
        std::lock_guard<std::recursive_mutex> guard(g_lock);
        if (FileModule* file = FileByHandle(module)) library = file->library;
    }
    if (module != Mshtml() && module != Planted() && library == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if (winsim::detail::Faulted("GetProcAddress")) return nullptr;
    if (library != nullptr) {
        bool byName = name != nullptr && reinterpret_cast<uintptr_t>(name) > 0xffff;
        void* found = byName ? dlsym(library, name) : nullptr;
        if (found == nullptr) SetLastError(ERROR_PROC_NOT_FOUND);
        // Through void*: the export table holds addresses, not typed functions.
        return reinterpret_cast<FARPROC>(found);
    }
    if (module == Planted() || name == nullptr || std::string(name) != "ShowHTMLDialog" ||
        winsim::GetSetting("mshtml", "") == "no-export") {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&winsim::detail::ShowHtmlDialog));
}

// Drops one reference; the last FreeLibrary of a module unloads it
// (DLL_PROCESS_DETACH, then its code is gone), whatever threads of it still
// run: GetModuleHandleW no longer finds it. A pinned module and the
// program's own stay.
WINSIM_API BOOL WINAPI FreeLibrary(HMODULE module) {
    std::lock_guard<std::recursive_mutex> guard(g_lock);
    FollowMachine();
    if (module == Program()) return TRUE;
    if (FileModule* file = FileByHandle(module)) {
        FreeFile(file);
        return TRUE;
    }
    long* refs = module == Mshtml()    ? &g_mshtmlRefs
                 : module == Planted() ? &g_plantedRefs
                                       : nullptr;
    if (refs == nullptr || *refs == 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if ((module == Mshtml() && g_mshtmlPinned) || (module == Planted() && g_plantedPinned)) {
        return TRUE;
    }
    --*refs;
    return TRUE;
}

// FreeLibrary, then ExitThread: the reference goes and the thread ends in
// one call that never returns, so no code of the module runs after its
// unload. The calling thread is ending, so it is no thread of the module
// still running.
WINSIM_API void WINAPI FreeLibraryAndExitThread(HMODULE module, DWORD exitCode) {
    t_exiting = GetCurrentThreadId();
    FreeLibrary(module);
    t_exiting = 0;
    winsim::detail::ExitCurrentThread(exitCode);
}

// Null: the program's own module. A name: a module that is loaded now, by
// its file name (or the path it was loaded by); none (ERROR_MOD_NOT_FOUND)
// for one that is not.
WINSIM_API HMODULE WINAPI GetModuleHandleW(LPCWSTR name) {
    if (name == nullptr) return Program();
    std::lock_guard<std::recursive_mutex> guard(g_lock);
    if (FileModule* file = FileByName(name)) return static_cast<HMODULE>(file->library);
    if (HMODULE system = SystemModule(name)) return system;
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
}

// GetModuleHandleW that may take a reference: by name (null: the program),
// or with GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS the module that holds the
// address. The reference count goes up by one, unless
// GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT; GET_MODULE_HANDLE_EX_FLAG_PIN
// keeps the module loaded until the process ends, whatever FreeLibrary
// calls follow. PIN with UNCHANGED_REFCOUNT, an unknown flag or a null
// module pointer: ERROR_INVALID_PARAMETER. *module is null on failure;
// ERROR_MOD_NOT_FOUND when no module is found.
WINSIM_API BOOL WINAPI GetModuleHandleExW(DWORD flags, LPCWSTR name, HMODULE* module) {
    constexpr DWORD kKnown = GET_MODULE_HANDLE_EX_FLAG_PIN |
                             GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT |
                             GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS;
    if (module == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *module = nullptr;
    const bool pin = (flags & GET_MODULE_HANDLE_EX_FLAG_PIN) != 0;
    const bool unchanged = (flags & GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT) != 0;
    if ((flags & ~kKnown) != 0 || (pin && unchanged)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (winsim::detail::Faulted("GetModuleHandleExW")) return FALSE;
    std::lock_guard<std::recursive_mutex> guard(g_lock);
    FollowMachine();
    HMODULE found = nullptr;
    FileModule* file = nullptr;
    if ((flags & GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS) != 0) {
        const link_map* map = MapAt(name);
        file = FileByMap(map);
        if (file == nullptr && IsProgram(map)) found = Program();
    } else if (name == nullptr) {
        found = Program();
    } else {
        file = FileByName(name);
        if (file == nullptr) found = SystemModule(name);
    }
    if (file != nullptr) {
        found = static_cast<HMODULE>(file->library);
        if (pin) {
            file->pinned = true;
        } else if (!unchanged) {
            ++file->refs;
        }
    } else if (found == Mshtml() || found == Planted()) {
        if (pin) {
            (found == Mshtml() ? g_mshtmlPinned : g_plantedPinned) = true;
        } else if (!unchanged) {
            ++(found == Mshtml() ? g_mshtmlRefs : g_plantedRefs);
        }
    }
    if (found == nullptr) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return FALSE;
    }
    *module = found;
    return TRUE;
}

// The loaded module's full path. A buffer too small gets the path cut and
// terminated, the answer is the buffer's size and the last error
// ERROR_INSUFFICIENT_BUFFER, as Windows since Vista does.
WINSIM_API DWORD WINAPI GetModuleFileNameW(HMODULE module, LPWSTR buffer, DWORD size) {
    std::u16string path;
    {
        std::lock_guard<std::recursive_mutex> guard(g_lock);
        FollowMachine();
        if (module == Mshtml() && g_mshtmlRefs > 0) {
            path = std::u16string(kSystemFolder) + u"\\mshtml.dll";
        } else if (module == Planted() && g_plantedRefs > 0) {
            path = ApplicationFolder() + u"\\mshtml.dll";
        } else if (FileModule* file = FileByHandle(module)) {
            path = file->path;
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
    std::lock_guard<std::recursive_mutex> guard(g_lock);
    auto it = g_loads.find(ModuleKey(name.c_str()));
    return it == g_loads.end() ? 0 : it->second;
}

long PlantedModuleLoads() {
    std::lock_guard<std::recursive_mutex> guard(g_lock);
    auto it = g_loads.find(u"planted:mshtml.dll");
    return it == g_loads.end() ? 0 : it->second;
}

long UnloadedModuleThreads() {
    std::lock_guard<std::recursive_mutex> guard(g_lock);
    return g_threadsInUnloaded;
}

void ForbidDriverModules(const std::string& why) {
    std::lock_guard<std::recursive_mutex> guard(g_lock);
    g_forbidden = why;
}

// The spooler loads the driver as LoadLibraryW does, so a program's own
// load of the same file shares its reference count.
DriverModule LoadDriverModule(const std::u16string& configFile) {
    DriverModule module;
    std::lock_guard<std::recursive_mutex> guard(g_lock);
    module.library = LoadFile(configFile.c_str(), &module.error);
    return module;
}

// The spooler's own look-ups, not the program's GetProcAddress calls.
void* DriverEntry(const DriverModule& module, const char* name) {
    return module.library != nullptr ? dlsym(module.library, name) : nullptr;
}

void UnloadDriverModule(DriverModule& module) {
    if (module.library != nullptr) FreeLibrary(static_cast<HMODULE>(module.library));
    module.library = nullptr;
}

}  // namespace winsim
