// Modules as the settings dialog and the monitor rely on them: MSHTML.DLL
// loaded from the system folder with its ShowHTMLDialog, a module or an
// export that is not there, and the program's own module. The search order
// that finds a planted module beside the program first is the dialog
// module's table, which runs before any road loads MSHTML.DLL.
#include "adapter.h"
#include "conformance.h"
#include "text.h"

namespace {

constexpr DWORD kSentinel = 0xdeadbeef;

// The loaded module's file as GetModuleFileNameW names it, empty when none.
std::basic_string<WCHAR> ModulePath(HMODULE module) {
    WCHAR path[MAX_PATH] = {};
    DWORD n = module != nullptr ? GetModuleFileNameW(module, path, MAX_PATH) : 0;
    return n > 0 && n < MAX_PATH ? std::basic_string<WCHAR>(path) : std::basic_string<WCHAR>();
}

}  // namespace

CONFORMANCE_COVERS(Rows,
                   "LoadLibraryW LoadLibraryExW GetProcAddress GetModuleHandleW FreeLibrary "
                   "GetModuleFileNameW GetSystemDirectoryW",
                   nullptr);

CONFORMANCE_TABLE(Modules, "modules") {
    const std::basic_string<WCHAR> system =
        conformance::SystemFolder() + conformance::Wide("\\mshtml.dll");
    if (ctx.Begin("a module that is not there: none, ERROR_MOD_NOT_FOUND")) {
        SetLastError(kSentinel);
        ROW_CHECK(LoadLibraryW(TEXT("larknosuch.dll")) == nullptr);
        ROW_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
        SetLastError(kSentinel);
        ROW_CHECK(LoadLibraryExW(TEXT("larknosuch.dll"), nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32) ==
                  nullptr);
        ROW_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
    }
    HMODULE mshtml = nullptr;
    if (ctx.Begin("MSHTML.DLL from the system folder alone: the system's, with ShowHTMLDialog")) {
        mshtml = LoadLibraryExW(TEXT("MSHTML.DLL"), nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
        if (ROW_CHECK(mshtml != nullptr)) {
            ROW_CHECK(TextEqualNoCase(ModulePath(mshtml).c_str(), system.c_str()));
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
