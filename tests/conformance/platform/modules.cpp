// Modules as the settings dialog and the monitor rely on them: the search
// order that finds a planted module beside the program first (the platform
// tables run before any road loads MSHTML.DLL), MSHTML.DLL loaded from the
// system folder with its ShowHTMLDialog, a module or an export that is not
// there, and the program's own module.
#include "adapter.h"
#include "conformance.h"
#include "text.h"

namespace {

constexpr DWORD kSentinel = 0xdeadbeef;

}  // namespace

CONFORMANCE_COVERS(Rows,
                   "LoadLibraryW LoadLibraryExW GetProcAddress GetModuleHandleW FreeLibrary "
                   "GetModuleFileNameW GetSystemDirectoryW",
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
