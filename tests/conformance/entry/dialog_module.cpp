// The settings dialog's MSHTML.DLL comes from the system folder: a DLL of
// that name beside the printing application (a portable program's folder,
// a download folder) is never loaded into it, though the standard search
// order finds it first (the modules table shows that it does).
#include "adapter.h"
#include "conformance.h"
#include "text.h"

namespace {}  // namespace

CONFORMANCE_TABLE(DialogModule, "the settings dialog's MSHTML.DLL") {
    const std::basic_string<WCHAR> planted = conformance::PlantBesideProgram("mshtml.dll");
    const std::basic_string<WCHAR> system =
        conformance::SystemFolder() + conformance::Wide("\\mshtml.dll");
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
                conformance::ModuleFileName(GetModuleHandleW(TEXT("mshtml.dll")));
            ROW_CHECK(TextEqualNoCase(loaded.c_str(), system.c_str()));
            ROW_CHECK(!TextEqualNoCase(loaded.c_str(), planted.c_str()));
        }
    }
}
