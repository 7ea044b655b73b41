// The merge of an application's devmode into the printer's as CREATEDCPRE
// hands it out: one row per flag rule and refusal, in the order the merge
// applies them, the fields that never reach the record, a source of another
// public size, the driver's own extension recognised or not, and its
// PrinterName refreshed from the printer. The printer's stored devmode is
// set so that every rule changes something.
#include <cstring>

#include "print_road.h"

namespace {

using printroad::EventFn;

// The record the printer stores for this table: every field a rule writes
// holds another value than the rule gives it.
DriverDevmode Stored() {
    DriverDevmode t;
    printroad::DriverDefault(conformance::kPrinter, &t);
    t.dm.dmScale = 77;
    t.dm.dmCopies = 5;
    t.dm.dmPrintQuality = -2;
    t.dm.dmDefaultSource = 7;
    t.dm.dmICMIntent = 1;
    t.dm.dmDitherType = 2;
    t.dm.dmMediaType = 256;
    return t;
}

// A public record of the same size, its flags clear, no private part.
DriverDevmode Source() {
    DriverDevmode s;
    std::memset(&s, 0, sizeof s);
    s.dm.dmSize = kPublicDevmodeSize;
    s.dm.dmSpecVersion = kDevmodeSpecVersion;
    return s;
}

// A record of the same driver made for another printer.
DriverDevmode OwnSource() {
    DriverDevmode s = Source();
    s.dm.dmDriverVersion = kDriverVersion;
    s.dm.dmDriverExtra = kPrivateDevmodeSize;
    s.priv.Signature1 = s.priv.Signature2 = PrivateSignature;
    for (WCHAR& unit : s.priv.PrinterName) unit = 'n';  // no terminator
    for (size_t i = 0; i < sizeof s.priv.Reserved; ++i) s.priv.Reserved[i] = static_cast<BYTE>(i);
    const char* settings = "1000=3;9900=2;";
    for (size_t i = 0; settings[i] != 0; ++i) s.priv.Settings[i] = settings[i];
    s.priv.Settings[kSettingsUnits - 1] = 'x';
    return s;
}

enum class Extension { None, Copied };

struct Row {
    const char* name;
    DriverDevmode (*source)();
    // The expected record and source after the merge, from the untouched ones.
    void (*expect)(DriverDevmode* record, DriverDevmode* source);
    Extension extension = Extension::None;
    bool geometry = false;  // the page geometry follows (the page geometry table checks it)
};

template <DWORD Flag>
DriverDevmode With(void (*set)(DEVMODEW*)) {
    DriverDevmode s = Source();
    s.dm.dmFields = Flag;
    set(&s.dm);
    return s;
}

void Nothing(DriverDevmode*, DriverDevmode*) {}

const Row kRows[] = {
    {"media type taken whatever it is",
     [] { return With<DM_MEDIATYPE>([](DEVMODEW* d) { d->dmMediaType = 0x7FFFFFFF; }); },
     [](DriverDevmode* t, DriverDevmode*) { t->dm.dmMediaType = 0x7FFFFFFF; }},
    {"print quality 300 becomes -3 in the source and the record",
     [] { return With<DM_PRINTQUALITY>([](DEVMODEW* d) { d->dmPrintQuality = 300; }); },
     [](DriverDevmode* t, DriverDevmode* s) { t->dm.dmPrintQuality = s->dm.dmPrintQuality = -3; }},
    {"print quality -4 taken",
     [] { return With<DM_PRINTQUALITY>([](DEVMODEW* d) { d->dmPrintQuality = -4; }); },
     [](DriverDevmode* t, DriverDevmode*) { t->dm.dmPrintQuality = -4; }},
    {"print quality -1 taken",
     [] { return With<DM_PRINTQUALITY>([](DEVMODEW* d) { d->dmPrintQuality = -1; }); },
     [](DriverDevmode* t, DriverDevmode*) { t->dm.dmPrintQuality = -1; }},
    {"print quality -5 becomes -3",
     [] { return With<DM_PRINTQUALITY>([](DEVMODEW* d) { d->dmPrintQuality = -5; }); },
     [](DriverDevmode* t, DriverDevmode* s) { t->dm.dmPrintQuality = s->dm.dmPrintQuality = -3; }},
    {"print quality 0 becomes -3",
     [] { return With<DM_PRINTQUALITY>([](DEVMODEW* d) { d->dmPrintQuality = 0; }); },
     [](DriverDevmode* t, DriverDevmode* s) { t->dm.dmPrintQuality = s->dm.dmPrintQuality = -3; }},
    {"paper size unchecked, the form name flag cleared",
     [] { return With<DM_PAPERSIZE>([](DEVMODEW* d) { d->dmPaperSize = -77; }); },
     [](DriverDevmode* t, DriverDevmode*) {
         t->dm.dmPaperSize = -77;
         t->dm.dmFields &= ~static_cast<DWORD>(DM_FORMNAME);
     }},
    {"paper width taken",
     [] { return With<DM_PAPERWIDTH>([](DEVMODEW* d) { d->dmPaperWidth = -1234; }); },
     [](DriverDevmode* t, DriverDevmode*) { t->dm.dmPaperWidth = -1234; }},
    {"paper length taken",
     [] { return With<DM_PAPERLENGTH>([](DEVMODEW* d) { d->dmPaperLength = 4321; }); },
     [](DriverDevmode* t, DriverDevmode*) { t->dm.dmPaperLength = 4321; }},
    {"default source taken",
     [] { return With<DM_DEFAULTSOURCE>([](DEVMODEW* d) { d->dmDefaultSource = 15; }); },
     [](DriverDevmode* t, DriverDevmode*) { t->dm.dmDefaultSource = 15; }},
    {"orientation 2 taken",
     [] { return With<DM_ORIENTATION>([](DEVMODEW* d) { d->dmOrientation = 2; }); },
     [](DriverDevmode* t, DriverDevmode*) { t->dm.dmOrientation = 2; }, Extension::None, true},
    {"orientation 3 refused, the flag still set",
     [] { return With<DM_ORIENTATION>([](DEVMODEW* d) { d->dmOrientation = 3; }); }, Nothing},
    {"scale becomes 100, its flag stays clear",
     [] { return With<DM_SCALE>([](DEVMODEW* d) { d->dmScale = 50; }); },
     [](DriverDevmode* t, DriverDevmode*) { t->dm.dmScale = 100; }},
    {"copies 0 become 1", [] { return With<DM_COPIES>([](DEVMODEW* d) { d->dmCopies = 0; }); },
     [](DriverDevmode* t, DriverDevmode*) { t->dm.dmCopies = 1; }},
    {"copies -5 become 1", [] { return With<DM_COPIES>([](DEVMODEW* d) { d->dmCopies = -5; }); },
     [](DriverDevmode* t, DriverDevmode*) { t->dm.dmCopies = 1; }},
    {"copies 37 stay", [] { return With<DM_COPIES>([](DEVMODEW* d) { d->dmCopies = 37; }); },
     [](DriverDevmode* t, DriverDevmode*) { t->dm.dmCopies = 37; }},
    {"copies 250 become 100",
     [] { return With<DM_COPIES>([](DEVMODEW* d) { d->dmCopies = 250; }); },
     [](DriverDevmode* t, DriverDevmode*) { t->dm.dmCopies = 100; }},
    {"color 1 taken", [] { return With<DM_COLOR>([](DEVMODEW* d) { d->dmColor = 1; }); },
     [](DriverDevmode* t, DriverDevmode*) { t->dm.dmColor = 1; }},
    {"color 3 refused", [] { return With<DM_COLOR>([](DEVMODEW* d) { d->dmColor = 3; }); },
     Nothing},
    {"duplex 3 taken", [] { return With<DM_DUPLEX>([](DEVMODEW* d) { d->dmDuplex = 3; }); },
     [](DriverDevmode* t, DriverDevmode*) { t->dm.dmDuplex = 3; }},
    {"duplex 0 refused", [] { return With<DM_DUPLEX>([](DEVMODEW* d) { d->dmDuplex = 0; }); },
     Nothing},
    {"collate 1 taken", [] { return With<DM_COLLATE>([](DEVMODEW* d) { d->dmCollate = 1; }); },
     [](DriverDevmode* t, DriverDevmode*) { t->dm.dmCollate = 1; }},
    {"collate 2 refused", [] { return With<DM_COLLATE>([](DEVMODEW* d) { d->dmCollate = 2; }); },
     Nothing},
    {"ICM intent becomes 3 whatever the source holds",
     [] { return With<DM_ICMINTENT>([](DEVMODEW* d) { d->dmICMIntent = 99; }); },
     [](DriverDevmode* t, DriverDevmode*) { t->dm.dmICMIntent = 3; }},
    {"dither type becomes 1 whatever the source holds",
     [] { return With<DM_DITHERTYPE>([](DEVMODEW* d) { d->dmDitherType = 99; }); },
     [](DriverDevmode* t, DriverDevmode*) { t->dm.dmDitherType = 1; }},
    {"a field without its flag is ignored",
     [] { return With<0>([](DEVMODEW* d) { d->dmOrientation = 2; }); }, Nothing},
    {"form name, device name, TT option, Y resolution, ICM method never reach the record",
     [] {
         return With<DM_FORMNAME | DM_TTOPTION | DM_YRESOLUTION | DM_ICMMETHOD>([](DEVMODEW* d) {
             const char* letter = "Letter";
             const char* other = "Other";
             for (size_t i = 0; letter[i] != 0; ++i) d->dmFormName[i] = letter[i];
             for (size_t i = 0; other[i] != 0; ++i) d->dmDeviceName[i] = other[i];
             d->dmTTOption = 1;
             d->dmYResolution = 600;
             d->dmICMMethod = 3;
         });
     },
     Nothing},
    {"another public size: nothing merged, the private part included",
     [] {
         DriverDevmode s = OwnSource();
         s.dm.dmSize = 156;
         s.dm.dmFields = DM_COPIES;
         s.dm.dmCopies = 9;
         return s;
     },
     Nothing},
    {"the driver's own extension is copied, PrinterName the printer's", OwnSource, Nothing,
     Extension::Copied},
    {"a damaged Signature1: the extension is not copied",
     [] {
         DriverDevmode s = OwnSource();
         s.priv.Signature1 ^= 1;
         return s;
     },
     Nothing},
    {"a damaged Signature2: the extension is not copied",
     [] {
         DriverDevmode s = OwnSource();
         s.priv.Signature2 ^= 1;
         return s;
     },
     Nothing},
    {"dmDriverExtra 2107: the extension is not copied",
     [] {
         DriverDevmode s = OwnSource();
         s.dm.dmDriverExtra = 2107;
         return s;
     },
     Nothing},
    {"another driver version: the extension is not copied",
     [] {
         DriverDevmode s = OwnSource();
         s.dm.dmDriverVersion = 0x4020;
         return s;
     },
     Nothing},
};

// The flags that a set source flag sets in the record.
DWORD SetFlags(DWORD sourceFields) {
    const DWORD kept = DM_MEDIATYPE | DM_PRINTQUALITY | DM_PAPERSIZE | DM_PAPERWIDTH |
                       DM_PAPERLENGTH | DM_DEFAULTSOURCE | DM_ORIENTATION | DM_COPIES | DM_COLOR |
                       DM_DUPLEX | DM_COLLATE | DM_ICMINTENT | DM_DITHERTYPE;
    return sourceFields & kept;
}

}  // namespace

CONFORMANCE_TABLE(MergeDevmode, "CREATEDCPRE merge of the application's devmode") {
    auto event = conformance::Entry<EventFn>("DrvDocumentEvent");
    if (!ctx.Begin("the printer stores a devmode for the table; the record of an empty source")) {
        return;
    }
    DriverDevmode stored = Stored();
    DriverDevmode baseline;
    DriverDevmode empty = Source();
    if (!ROW_CHECK(event != nullptr) || !ROW_CHECK(printroad::StoreDevmode(&stored)) ||
        !ROW_CHECK(printroad::RecordFor(event, &empty.dm, &baseline))) {
        conformance::ResetPrinter();
        return;
    }
    // What the table stored is what the records start from.
    ROW_EQ(baseline.dm.dmScale, 77);
    ROW_EQ(baseline.dm.dmCopies, 5);
    const DriverDevmode fresh = Source();
    ROW_EQ(printroad::Differences(&empty, &fresh, sizeof empty), 0u);

    for (const Row& row : kRows) {
        if (!ctx.Begin(row.name)) continue;
        DriverDevmode source = row.source();
        DriverDevmode expect = baseline;
        DriverDevmode expectSource = source;
        if (source.dm.dmSize == kPublicDevmodeSize)
            expect.dm.dmFields |= SetFlags(source.dm.dmFields);
        row.expect(&expect, &expectSource);
        DriverDevmode r;
        if (!ROW_CHECK(printroad::RecordFor(event, &source.dm, &r))) continue;
        ROW_EQ(printroad::Differences(&r.dm, &expect.dm, sizeof r.dm), 0u);
        ROW_EQ(printroad::Differences(&source, &expectSource, sizeof source), 0u);
        if (row.extension == Extension::Copied) {
            const DriverDevmode own = OwnSource();
            ROW_EQ(
                printroad::Differences(r.priv.Reserved, own.priv.Reserved, sizeof r.priv.Reserved),
                0u);
            // The paper item rewritten, the rest of the source's string kept.
            ROW_TEXT(r.priv.Settings, "1000=0;9900=2;");
            ROW_EQ(r.priv.Settings[kSettingsUnits - 1], 0);
            ROW_TEXT(r.priv.PrinterName, conformance::kPrinter);
            ROW_TEXT(r.dm.dmDeviceName, baseline.dm.dmDeviceName);
        } else if (!row.geometry) {
            ROW_EQ(printroad::Differences(&r.priv, &expect.priv, sizeof r.priv), 0u);
        }
    }
    // The user's own devmode goes with the reset, so no later table sees it.
    if (ctx.Begin("the table's stored devmode taken away again")) {
        DriverDevmode r;
        ROW_CHECK(conformance::ResetPrinter());
        if (ROW_CHECK(printroad::RecordFor(event, &empty.dm, &r))) {
            ROW_EQ(r.dm.dmScale, 100);
            ROW_EQ(r.dm.dmCopies, 1);
        }
    }
}
