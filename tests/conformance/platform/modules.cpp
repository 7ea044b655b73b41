// Modules as the settings dialog and the monitor rely on them: MSHTML.DLL
// loaded by name with its ShowHTMLDialog, a module or an export that is not
// there, and the program's own module.
#include "adapter.h"
#include "conformance.h"

namespace {

constexpr DWORD kSentinel = 0xdeadbeef;

}  // namespace

CONFORMANCE_COVERS(Rows, "LoadLibraryW GetProcAddress GetModuleHandleW FreeLibrary", nullptr);

CONFORMANCE_TABLE(Modules, "modules") {
    if (ctx.Begin("a module that is not there: none, ERROR_MOD_NOT_FOUND")) {
        SetLastError(kSentinel);
        ROW_CHECK(LoadLibraryW(TEXT("larknosuch.dll")) == nullptr);
        ROW_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
    }
    HMODULE mshtml = nullptr;
    if (ctx.Begin("MSHTML.DLL by name: the module, with ShowHTMLDialog")) {
        mshtml = LoadLibraryW(TEXT("MSHTML.DLL"));
        if (ROW_CHECK(mshtml != nullptr)) {
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
