// The status monitor's debug log, C:\temp\larkdeb\larksm.txt, against what
// another local user can plant under C:\: the log goes only into a real
// folder at that path that the monitor's user, Administrators or SYSTEM
// owns, and only into a file that is no link and has no second name; what a
// planted link names is left as it was. Each row runs the package's
// larkmon.exe for the USB printer, which has no USB device behind it: three
// lines, then its end.
#include <string>

#include "adapter.h"
#include "conformance.h"

namespace {

using conformance::LinkKind;

const WCHAR kFolder[] = TEXT("C:\\temp\\larkdeb");
const WCHAR kLog[] = TEXT("C:\\temp\\larkdeb\\larksm.txt");
const WCHAR kElsewhere[] = TEXT("C:\\temp\\larkelsewhere");  // what a junction names
const WCHAR kElsewhereLog[] = TEXT("C:\\temp\\larkelsewhere\\larksm.txt");
const WCHAR kVictim[] = TEXT("C:\\temp\\larkvictim.txt");  // what a file link names
const char kVictimBytes[] = "someone else's file\r\n";
const char kRunLines[] =
    "PrinterStatus: Entering\r\nPrinterStatus: Getting USB Port\r\nUnable to open USB port\r\n";

std::string Bytes(const WCHAR* path) {
    std::string bytes;
    return conformance::ReadFileBytes(path, &bytes) ? bytes : "(none)";
}

bool Clear() {
    return conformance::RemovePath(kFolder) && conformance::RemovePath(kElsewhere) &&
           conformance::RemovePath(kVictim);
}

}  // namespace

CONFORMANCE_TABLE(MonitorLog, "the monitor's debug log and what others plant") {
    struct Row {
        const char* name;
        conformance::Where where;
        bool (*plant)();
        const WCHAR* watched;  // the file the row proves untouched
        const char* watchedBytes;
    } rows[] = {
        {"the folder is a junction to a folder with a larksm.txt: that file untouched",
         conformance::WineDiffers("Wine 8 keeps no reparse points: the junction is not made, so "
                                  "nothing is planted and the row proves nothing there"),
         [] {
             return conformance::MakeFolder(kElsewhere) &&
                    conformance::WriteWholeFile(kElsewhereLog, kVictimBytes) &&
                    conformance::MakeLink(LinkKind::Junction, kFolder, kElsewhere);
         },
         kElsewhereLog, kVictimBytes},
        {"larksm.txt is a symbolic link to another file: that file untouched",
         conformance::WineDiffers("Wine 8's CreateSymbolicLinkW makes no link"),
         [] {
             return conformance::MakeFolder(kFolder) &&
                    conformance::WriteWholeFile(kVictim, kVictimBytes) &&
                    conformance::MakeLink(LinkKind::FileSymlink, kLog, kVictim);
         },
         kVictim, kVictimBytes},
        {"larksm.txt is a hard link of another file: that file untouched", conformance::kBoth,
         [] {
             return conformance::MakeFolder(kFolder) &&
                    conformance::WriteWholeFile(kVictim, kVictimBytes) &&
                    conformance::MakeLink(LinkKind::HardLink, kLog, kVictim);
         },
         kVictim, kVictimBytes},
        {"the folder belongs to another user: no log made",
         conformance::WineDiffers(conformance::kWineKeepsOwner),
         [] { return conformance::MakeFolder(kFolder) && conformance::GiveToAnotherUser(kFolder); },
         kLog, "(none)"},
        {"the good folder: the run's lines, each ending CR LF", conformance::kBoth,
         [] { return conformance::MakeFolder(kFolder); }, kLog, kRunLines},
    };
    for (const Row& row : rows) {
        if (!ctx.Begin(row.name, row.where)) continue;
        if (!ROW_CHECK(Clear())) continue;
        const bool planted = row.plant();
        // Where the platform cannot plant it, the row shows only that.
        ROW_EQ(planted, !ctx.WineExpectation());
        if (planted) {
            ROW_CHECK(conformance::RunMonitor(conformance::kPrinter));
            ROW_BYTES(Bytes(row.watched), std::string(row.watchedBytes));
        }
        ROW_CHECK(Clear());
    }
}
