// The settings dialog's MSHTML.DLL comes from the system folder: a DLL of
// that name beside the printing application (a portable program's folder,
// a download folder) is never loaded into it, though the standard search
// order finds it first. This table runs before the settings roads, whose
// showings leave the system's module loaded.
#include "adapter.h"
#include "conformance.h"
#include "text.h"

namespace {

// The loaded module's file as GetModuleFileNameW names it, empty when none.
std::basic_string<WCHAR> ModulePath(HMODULE module) {
    WCHAR path[MAX_PATH] = {};
    DWORD n = module != nullptr ? GetModuleFileNameW(module, path, MAX_PATH) : 0;
    return n > 0 && n < MAX_PATH ? std::basic_string<WCHAR>(path) : std::basic_string<WCHAR>();
}

}  // namespace

CONFORMANCE_TABLE(DialogModule, "the settings dialog's MSHTML.DLL") {
    const std::basic_string<WCHAR> planted = conformance::PlantBesideProgram("mshtml.dll");
    const std::basic_string<WCHAR> system =
        conformance::SystemFolder() + conformance::Wide("\\mshtml.dll");
    if (ctx.Begin("a planted mshtml.dll beside the program: a bare name loads it first")) {
        ROW_CHECK(!planted.empty());
        // A module already loaded by that name is answered whatever the
        // search, so the search shows only while none is.
        if (GetModuleHandleW(TEXT("mshtml.dll")) != nullptr) {
            ROW_NOTE("mshtml.dll is loaded already; the search cannot be seen");
        } else if (!planted.empty()) {
            HMODULE bare = LoadLibraryW(TEXT("MSHTML.DLL"));
            ROW_CHECK(TextEqualNoCase(ModulePath(bare).c_str(), planted.c_str()));
            if (bare != nullptr) ROW_CHECK(FreeLibrary(bare));
            ROW_CHECK(GetModuleHandleW(TEXT("mshtml.dll")) == nullptr);
        }
    }
    if (ctx.Begin("a planted mshtml.dll beside the program: the dialog loads the system "
                  "folder's and shows the page") &&
        ROW_CHECK(!planted.empty())) {
        conformance::RoadScript script;
        script.outcomes = {"answer:1000=1;9900=257;"};
        conformance::RoadResult road;
        if (ROW_CHECK(conformance::PlaySettingsRoad(script, &road))) {
            ROW_EQ(road.showings.size(), 1u);
            // The driver leaves the module loaded after a showing, so the
            // one this process holds by that name is the one it loaded.
            const std::basic_string<WCHAR> loaded =
                ModulePath(GetModuleHandleW(TEXT("mshtml.dll")));
            ROW_CHECK(TextEqualNoCase(loaded.c_str(), system.c_str()));
            ROW_CHECK(!TextEqualNoCase(loaded.c_str(), planted.c_str()));
        }
    }
}
