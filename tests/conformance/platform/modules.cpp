// Modules as the settings dialog, the monitor and the driver's closing
// thread rely on them: the search order that finds a planted module beside
// the program first (the platform tables run before any road loads
// MSHTML.DLL), MSHTML.DLL loaded from the system folder with its
// ShowHTMLDialog, a module or an export that is not there, the program's
// own module; a module's reference count, its unload at the last
// FreeLibrary, GetModuleHandleExW and FreeLibraryAndExitThread.
#include "adapter.h"
#include "conformance.h"
#include "module_copy.h"
#include "text.h"

namespace {

constexpr DWORD kSentinel = 0xdeadbeef;
constexpr DWORD kExitCode = 7;

// Ends this thread dropping the module's reference in the same call.
DWORD WINAPI DropAndEnd(LPVOID module) {
    FreeLibraryAndExitThread(static_cast<HMODULE>(module), kExitCode);
}

// Runs DropAndEnd on a thread of its own; its exit code, or 0 when it did
// not end.
DWORD RunDropAndEnd(HMODULE module) {
    HANDLE thread = CreateThread(nullptr, 0, DropAndEnd, module, 0, nullptr);
    if (thread == nullptr) return 0;
    DWORD code = 0;
    if (WaitForSingleObject(thread, 10000) != WAIT_OBJECT_0 || !GetExitCodeThread(thread, &code)) {
        code = 0;
    }
    CloseHandle(thread);
    return code;
}

}  // namespace

CONFORMANCE_COVERS(Rows,
                   "LoadLibraryW LoadLibraryExW GetProcAddress GetModuleHandleW FreeLibrary "
                   "GetModuleFileNameW GetSystemDirectoryW GetModuleHandleExW "
                   "FreeLibraryAndExitThread",
                   nullptr);

CONFORMANCE_TABLE(Modules, "modules") {
    const std::basic_string<WCHAR> system =
        conformance::SystemFolder() + conformance::Wide("\\mshtml.dll");
    const std::basic_string<WCHAR> planted = conformance::PlantBesideProgram("mshtml.dll");
    if (ctx.Begin("a planted mshtml.dll beside the program: a bare name loads it first")) {
        ROW_CHECK(!planted.empty());
        // A module already loaded by that name is answered whatever the
        // search, so the search shows only while none is.
        if (ROW_CHECK(GetModuleHandleW(TEXT("mshtml.dll")) == nullptr) && !planted.empty()) {
            HMODULE bare = LoadLibraryW(TEXT("MSHTML.DLL"));
            ROW_CHECK(TextEqualNoCase(conformance::ModuleFileName(bare).c_str(), planted.c_str()));
            if (bare != nullptr) ROW_CHECK(FreeLibrary(bare));
            ROW_CHECK(GetModuleHandleW(TEXT("mshtml.dll")) == nullptr);
        }
    }
    if (ctx.Begin("a module that is not there: none, ERROR_MOD_NOT_FOUND")) {
        SetLastError(kSentinel);
        ROW_CHECK(LoadLibraryW(TEXT("larknosuch.dll")) == nullptr);
        ROW_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
        SetLastError(kSentinel);
        ROW_CHECK(LoadLibraryExW(TEXT("larknosuch.dll"), nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32) ==
                  nullptr);
        ROW_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
        SetLastError(kSentinel);
        ROW_CHECK(GetModuleHandleW(TEXT("larknosuch.dll")) == nullptr);
        ROW_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
    }
    HMODULE mshtml = nullptr;
    if (ctx.Begin("MSHTML.DLL from the system folder alone: the system's, with ShowHTMLDialog")) {
        mshtml = LoadLibraryExW(TEXT("MSHTML.DLL"), nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
        if (ROW_CHECK(mshtml != nullptr)) {
            ROW_CHECK(TextEqualNoCase(conformance::ModuleFileName(mshtml).c_str(), system.c_str()));
            ROW_CHECK(GetModuleHandleW(TEXT("MSHTML.DLL")) == mshtml);
            ROW_CHECK(GetProcAddress(mshtml, "ShowHTMLDialog") != nullptr);
        }
    }
    if (ctx.Begin("an export that is not there: none, ERROR_PROC_NOT_FOUND") && mshtml != nullptr) {
        SetLastError(kSentinel);
        ROW_CHECK(GetProcAddress(mshtml, "ShowHTMLDialogNoSuch") == nullptr);
        ROW_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
    }
    if (mshtml != nullptr) FreeLibrary(mshtml);
    if (ctx.Begin("the program's own module")) {
        ROW_CHECK(GetModuleHandleW(nullptr) != nullptr);
    }
}

// A copy of the driver's module under names of the table's own, so each row
// holds every reference of the module it loads.
CONFORMANCE_TABLE(ModuleReferences, "module references and unloading") {
    const std::basic_string<WCHAR> path =
        conformance::CopyDriverModule("larkmodules", "larkcopy.dll");
    const WCHAR* name = TEXT("larkcopy.dll");
    if (!ctx.Begin("a copy of the driver's module to load") || !ROW_CHECK(!path.empty())) return;
    if (ctx.Begin("a load by path each takes a reference; the last FreeLibrary unloads")) {
        HMODULE first = LoadLibraryW(path.c_str());
        HMODULE second = LoadLibraryW(path.c_str());
        if (ROW_CHECK(first != nullptr) && ROW_CHECK(second == first)) {
            ROW_CHECK(GetModuleHandleW(name) == first);
            ROW_CHECK(TextEqualNoCase(conformance::ModuleFileName(first).c_str(), path.c_str()));
            ROW_CHECK(FreeLibrary(first));
            ROW_CHECK(GetModuleHandleW(name) == first);
            ROW_CHECK(FreeLibrary(second));
            SetLastError(kSentinel);
            ROW_CHECK(GetModuleHandleW(name) == nullptr);
            ROW_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
        }
    }
    if (ctx.Begin("GetModuleHandleExW from an address: its module, with a reference")) {
        HMODULE loaded = LoadLibraryW(path.c_str());
        auto address = reinterpret_cast<LPCWSTR>(GetProcAddress(loaded, "DrvConvertDevMode"));
        HMODULE found = nullptr;
        if (ROW_CHECK(address != nullptr) &&
            ROW_CHECK(
                GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, address, &found))) {
            ROW_CHECK(found == loaded);
            FreeLibrary(loaded);
            ROW_CHECK(GetModuleHandleW(name) == loaded);  // the second reference
            FreeLibrary(found);
        } else if (loaded != nullptr) {
            FreeLibrary(loaded);
        }
        ROW_CHECK(GetModuleHandleW(name) == nullptr);
    }
    if (ctx.Begin("GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT takes no reference")) {
        HMODULE loaded = LoadLibraryW(path.c_str());
        auto address = reinterpret_cast<LPCWSTR>(GetProcAddress(loaded, "DrvConvertDevMode"));
        HMODULE byAddress = nullptr, byName = nullptr;
        ROW_CHECK(GetModuleHandleExW(
            GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
            address, &byAddress));
        ROW_CHECK(GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT, name, &byName));
        ROW_CHECK(byAddress == loaded && byName == loaded);
        if (loaded != nullptr) FreeLibrary(loaded);
        ROW_CHECK(GetModuleHandleW(name) == nullptr);
    }
    if (ctx.Begin("GetModuleHandleExW of the program's own code, or no name: the program")) {
        HMODULE fromCode = nullptr, noName = nullptr;
        ROW_CHECK(GetModuleHandleExW(
            GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
            reinterpret_cast<LPCWSTR>(&DropAndEnd), &fromCode));
        ROW_CHECK(
            GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT, nullptr, &noName));
        ROW_CHECK(fromCode == GetModuleHandleW(nullptr) && noName == fromCode);
    }
    if (ctx.Begin("GetModuleHandleExW refusals: none, the module pointer nulled")) {
        struct Refusal {
            DWORD flags;
            bool heap;  // an address in no module
            DWORD error;
        };
        for (const Refusal& r : {
                 Refusal{
                     GET_MODULE_HANDLE_EX_FLAG_PIN | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     false, ERROR_INVALID_PARAMETER},
                 Refusal{0x8 | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT, false,
                         ERROR_INVALID_PARAMETER},
                 Refusal{GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                             GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                         true, ERROR_MOD_NOT_FOUND},
                 Refusal{GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT, false, ERROR_MOD_NOT_FOUND},
             }) {
            std::string heap(64, 'x');
            LPCWSTR what = r.heap ? reinterpret_cast<LPCWSTR>(heap.data()) : TEXT("larknosuch.dll");
            HMODULE found = reinterpret_cast<HMODULE>(&heap);
            SetLastError(kSentinel);
            ROW_CHECK(!GetModuleHandleExW(r.flags, what, &found));
            ROW_EQ(GetLastError(), r.error);
            ROW_CHECK(found == nullptr);
        }
        SetLastError(kSentinel);
        ROW_CHECK(!GetModuleHandleExW(0, nullptr, nullptr));
        ROW_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    }
    if (ctx.Begin("FreeLibraryAndExitThread: the reference goes, the thread ends with its code")) {
        HMODULE loaded = LoadLibraryW(path.c_str());
        HMODULE thread = nullptr;
        if (ROW_CHECK(loaded != nullptr) && ROW_CHECK(GetModuleHandleExW(0, name, &thread))) {
            ROW_EQ(RunDropAndEnd(thread), kExitCode);
            ROW_CHECK(GetModuleHandleW(name) == loaded);
        }
        if (loaded != nullptr) FreeLibrary(loaded);
        ROW_CHECK(GetModuleHandleW(name) == nullptr);
    }
    if (ctx.Begin("FreeLibraryAndExitThread with the last reference: unloaded as it ends")) {
        HMODULE loaded = LoadLibraryW(path.c_str());
        if (ROW_CHECK(loaded != nullptr)) ROW_EQ(RunDropAndEnd(loaded), kExitCode);
        ROW_CHECK(GetModuleHandleW(name) == nullptr);
    }
    if (ctx.Begin("GET_MODULE_HANDLE_EX_FLAG_PIN: loaded whatever FreeLibrary calls follow")) {
        // Pinned for the rest of the run: a name of its own.
        const std::basic_string<WCHAR> pinnedPath =
            conformance::CopyDriverModule("larkmodules", "larkpinned.dll");
        HMODULE loaded = LoadLibraryW(pinnedPath.c_str());
        HMODULE pinned = nullptr;
        if (ROW_CHECK(loaded != nullptr) &&
            ROW_CHECK(GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_PIN, TEXT("larkpinned.dll"),
                                         &pinned))) {
            ROW_CHECK(pinned == loaded);
            ROW_CHECK(FreeLibrary(loaded));
            ROW_CHECK(FreeLibrary(loaded));
            ROW_CHECK(GetModuleHandleW(TEXT("larkpinned.dll")) == loaded);
        }
    }
}
