// The merge flag rules, one row per rule and refusal in the order the merge
// applies them, and the recognition of the driver's private extension.
#include <cstring>

#include "devmode_merge.h"
#include "machine_fixture.h"
#include "text.h"

namespace {

DriverDevmode Target() {
    DriverDevmode t{};
    t.dm.dmSize = kPublicDevmodeSize;
    t.dm.dmDriverExtra = kPrivateDevmodeSize;
    t.dm.dmDriverVersion = kDriverVersion;
    t.dm.dmFields = kDefaultDevmodeFields;
    t.dm.dmOrientation = 1;
    t.dm.dmPaperSize = 256;
    t.dm.dmScale = 77;
    t.dm.dmCopies = 1;
    t.dm.dmPrintQuality = -4;
    t.dm.dmColor = 2;
    t.dm.dmDuplex = 1;
    t.dm.dmCollate = 0;
    t.dm.dmTTOption = 3;
    t.dm.dmICMMethod = 1;
    t.dm.dmICMIntent = 3;
    t.dm.dmMediaType = 256;
    t.dm.dmDitherType = 1;
    TextCopy(t.dm.dmFormName, 32, TEXT("Automatic"));
    TextCopy(t.priv.Settings, kSettingsUnits, TEXT("1000=0;"));
    return t;
}

// A public record of the same size, flags clear, no private part.
DriverDevmode Source() {
    DriverDevmode s{};
    s.dm.dmSize = kPublicDevmodeSize;
    return s;
}

// The same driver's record with its private extension.
DriverDevmode OwnSource() {
    DriverDevmode s = Source();
    s.dm.dmDriverVersion = kDriverVersion;
    s.dm.dmDriverExtra = kPrivateDevmodeSize;
    s.priv.Signature1 = s.priv.Signature2 = PrivateSignature;
    TextCopy(s.priv.Settings, kSettingsUnits, TEXT("1000=3;9900=2;"));
    s.priv.Settings[511] = 'x';
    for (WCHAR& unit : s.priv.PrinterName) unit = 'n';  // no terminator
    return s;
}

struct MergeRow {
    const char* name;
    DriverDevmode (*source)();
    // Expected target and source after the merge, from the untouched ones.
    void (*expect)(DriverDevmode* target, DriverDevmode* source);
};

template <DWORD Flag>
DriverDevmode With(void (*set)(DEVMODEW*)) {
    DriverDevmode s = Source();
    s.dm.dmFields = Flag;
    set(&s.dm);
    return s;
}

const MergeRow kRows[] = {
    {"media type taken whatever it is",
     [] { return With<DM_MEDIATYPE>([](DEVMODEW* d) { d->dmMediaType = 0x7FFFFFFF; }); },
     [](DriverDevmode* t, DriverDevmode*) { t->dm.dmMediaType = 0x7FFFFFFF; }},
    {"print quality 300 becomes -3 in source and target",
     [] { return With<DM_PRINTQUALITY>([](DEVMODEW* d) { d->dmPrintQuality = 300; }); },
     [](DriverDevmode* t, DriverDevmode* s) { t->dm.dmPrintQuality = s->dm.dmPrintQuality = -3; }},
    {"print quality -1 taken",
     [] { return With<DM_PRINTQUALITY>([](DEVMODEW* d) { d->dmPrintQuality = -1; }); },
     [](DriverDevmode* t, DriverDevmode*) { t->dm.dmPrintQuality = -1; }},
    {"print quality -5 becomes -3",
     [] { return With<DM_PRINTQUALITY>([](DEVMODEW* d) { d->dmPrintQuality = -5; }); },
     [](DriverDevmode* t, DriverDevmode* s) { t->dm.dmPrintQuality = s->dm.dmPrintQuality = -3; }},
    {"print quality 0 becomes -3",
     [] { return With<DM_PRINTQUALITY>([](DEVMODEW* d) { d->dmPrintQuality = 0; }); },
     [](DriverDevmode* t, DriverDevmode* s) { t->dm.dmPrintQuality = s->dm.dmPrintQuality = -3; }},
    {"paper size unchecked, form name flag cleared",
     [] { return With<DM_PAPERSIZE>([](DEVMODEW* d) { d->dmPaperSize = -77; }); },
     [](DriverDevmode* t, DriverDevmode*) {
         t->dm.dmPaperSize = -77;
         t->dm.dmFields &= ~static_cast<DWORD>(DM_FORMNAME);
     }},
    {"paper width taken",
     [] { return With<DM_PAPERWIDTH>([](DEVMODEW* d) { d->dmPaperWidth = -1234; }); },
     [](DriverDevmode* t, DriverDevmode*) {
         t->dm.dmPaperWidth = -1234;
         t->dm.dmFields |= DM_PAPERWIDTH;
     }},
    {"paper length taken",
     [] { return With<DM_PAPERLENGTH>([](DEVMODEW* d) { d->dmPaperLength = 4321; }); },
     [](DriverDevmode* t, DriverDevmode*) { t->dm.dmPaperLength = 4321; }},
    {"default source taken",
     [] { return With<DM_DEFAULTSOURCE>([](DEVMODEW* d) { d->dmDefaultSource = 15; }); },
     [](DriverDevmode* t, DriverDevmode*) { t->dm.dmDefaultSource = 15; }},
    {"orientation 2 taken",
     [] { return With<DM_ORIENTATION>([](DEVMODEW* d) { d->dmOrientation = 2; }); },
     [](DriverDevmode* t, DriverDevmode*) { t->dm.dmOrientation = 2; }},
    {"orientation 3 refused, flag still set",
     [] { return With<DM_ORIENTATION>([](DEVMODEW* d) { d->dmOrientation = 3; }); },
     [](DriverDevmode*, DriverDevmode*) {}},
    {"scale becomes 100, flag stays clear",
     [] { return With<DM_SCALE>([](DEVMODEW* d) { d->dmScale = 50; }); },
     [](DriverDevmode* t, DriverDevmode*) { t->dm.dmScale = 100; }},
    {"copies 0 becomes 1", [] { return With<DM_COPIES>([](DEVMODEW* d) { d->dmCopies = 0; }); },
     [](DriverDevmode* t, DriverDevmode*) { t->dm.dmCopies = 1; }},
    {"copies -5 becomes 1", [] { return With<DM_COPIES>([](DEVMODEW* d) { d->dmCopies = -5; }); },
     [](DriverDevmode* t, DriverDevmode*) { t->dm.dmCopies = 1; }},
    {"copies 37 stays", [] { return With<DM_COPIES>([](DEVMODEW* d) { d->dmCopies = 37; }); },
     [](DriverDevmode* t, DriverDevmode*) { t->dm.dmCopies = 37; }},
    {"copies 250 becomes 100",
     [] { return With<DM_COPIES>([](DEVMODEW* d) { d->dmCopies = 250; }); },
     [](DriverDevmode* t, DriverDevmode*) { t->dm.dmCopies = 100; }},
    {"color 1 taken", [] { return With<DM_COLOR>([](DEVMODEW* d) { d->dmColor = 1; }); },
     [](DriverDevmode* t, DriverDevmode*) { t->dm.dmColor = 1; }},
    {"color 3 refused", [] { return With<DM_COLOR>([](DEVMODEW* d) { d->dmColor = 3; }); },
     [](DriverDevmode*, DriverDevmode*) {}},
    {"duplex 3 taken", [] { return With<DM_DUPLEX>([](DEVMODEW* d) { d->dmDuplex = 3; }); },
     [](DriverDevmode* t, DriverDevmode*) { t->dm.dmDuplex = 3; }},
    {"duplex 0 refused", [] { return With<DM_DUPLEX>([](DEVMODEW* d) { d->dmDuplex = 0; }); },
     [](DriverDevmode*, DriverDevmode*) {}},
    {"collate 1 taken", [] { return With<DM_COLLATE>([](DEVMODEW* d) { d->dmCollate = 1; }); },
     [](DriverDevmode* t, DriverDevmode*) { t->dm.dmCollate = 1; }},
    {"collate 2 refused", [] { return With<DM_COLLATE>([](DEVMODEW* d) { d->dmCollate = 2; }); },
     [](DriverDevmode*, DriverDevmode*) {}},
    {"ICM intent becomes 3 whatever the source holds",
     [] { return With<DM_ICMINTENT>([](DEVMODEW* d) { d->dmICMIntent = 99; }); },
     [](DriverDevmode* t, DriverDevmode*) { t->dm.dmICMIntent = 3; }},
    {"dither type becomes 1 whatever the source holds",
     [] { return With<DM_DITHERTYPE>([](DEVMODEW* d) { d->dmDitherType = 99; }); },
     [](DriverDevmode* t, DriverDevmode*) { t->dm.dmDitherType = 1; }},
    {"a field without its flag is ignored",
     [] { return With<0>([](DEVMODEW* d) { d->dmOrientation = 2; }); },
     [](DriverDevmode*, DriverDevmode*) {}},
    {"form name, device name, TT option, Y resolution, ICM method never reach the target",
     [] {
         return With<DM_FORMNAME | DM_TTOPTION | DM_YRESOLUTION | DM_ICMMETHOD>([](DEVMODEW* d) {
             TextCopy(d->dmFormName, 32, TEXT("Letter"));
             TextCopy(d->dmDeviceName, 32, TEXT("Other"));
             d->dmTTOption = 1;
             d->dmYResolution = 600;
             d->dmICMMethod = 3;
         });
     },
     [](DriverDevmode*, DriverDevmode*) {}},
    {"another public size: nothing merged, private part included",
     [] {
         DriverDevmode s = OwnSource();
         s.dm.dmSize = 156;
         s.dm.dmFields = DM_COPIES;
         s.dm.dmCopies = 9;
         return s;
     },
     [](DriverDevmode*, DriverDevmode*) {}},
    {"the driver's own extension is copied, its texts' last units cleared", OwnSource,
     [](DriverDevmode* t, DriverDevmode* s) {
         std::memcpy(&t->priv, &s->priv, sizeof t->priv);
         t->priv.Settings[511] = 0;
         t->priv.PrinterName[259] = 0;
     }},
    {"damaged Signature2: extension not copied",
     [] {
         DriverDevmode s = OwnSource();
         s.priv.Signature2 ^= 1;
         return s;
     },
     [](DriverDevmode*, DriverDevmode*) {}},
    {"dmDriverExtra 2107: extension not copied",
     [] {
         DriverDevmode s = OwnSource();
         s.dm.dmDriverExtra = 2107;
         return s;
     },
     [](DriverDevmode*, DriverDevmode*) {}},
    {"another driver version: extension not copied",
     [] {
         DriverDevmode s = OwnSource();
         s.dm.dmDriverVersion = 0x4020;
         return s;
     },
     [](DriverDevmode*, DriverDevmode*) {}},
};

// Flags that a row's set source flag puts into the target's dmFields.
DWORD SetFlags(DWORD sourceFields) {
    const DWORD kept = DM_MEDIATYPE | DM_PRINTQUALITY | DM_PAPERSIZE | DM_PAPERWIDTH |
                       DM_PAPERLENGTH | DM_DEFAULTSOURCE | DM_ORIENTATION | DM_COPIES | DM_COLOR |
                       DM_DUPLEX | DM_COLLATE | DM_ICMINTENT | DM_DITHERTYPE;
    return sourceFields & kept;
}

class MergeTest : public larktest::MachineTest {};

TEST_F(MergeTest, FlagRulesAndRefusals) {
    for (const MergeRow& row : kRows) {
        SCOPED_TRACE(row.name);
        DriverDevmode target = Target();
        DriverDevmode source = row.source();
        DriverDevmode expectTarget = target;
        DriverDevmode expectSource = source;
        if (source.dm.dmSize == target.dm.dmSize)
            expectTarget.dm.dmFields |= SetFlags(source.dm.dmFields);
        row.expect(&expectTarget, &expectSource);
        EXPECT_EQ(MergeDevmode(&target, &source.dm, nullptr), 1);
        EXPECT_EQ(std::memcmp(&target, &expectTarget, sizeof target), 0);
        EXPECT_EQ(std::memcmp(&source, &expectSource, sizeof source), 0);
    }
}

TEST_F(MergeTest, RecognitionReadsOnlyWhatTheHeaderClaims) {
    DriverDevmode own = OwnSource();
    EXPECT_TRUE(IsDriverPrivatePart(&own.dm));
    // A short public size with a minimal extra cannot cover offsets 220 to
    // 2328, whatever the words there hold.
    own.dm.dmSize = 100;
    EXPECT_FALSE(IsDriverPrivatePart(&own.dm));
    own.dm.dmSize = 220;
    own.dm.dmDriverExtra = 0xFFFF;
    EXPECT_TRUE(IsDriverPrivatePart(&own.dm));
}

}  // namespace
