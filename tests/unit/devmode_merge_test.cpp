// What the merge does that DrvDocumentEvent cannot show (its flag rules are
// rows of the conformance suite, through CREATEDCPRE): the driver's own
// extension merged without a printer handle, and the recognition of the
// extension by the internal test.
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
    TextCopy(t.dm.dmFormName, 32, TEXT("Automatic"));
    TextCopy(t.priv.Settings, kSettingsUnits, TEXT("1000=0;"));
    return t;
}

// The same driver's record with its private extension, its texts without
// their terminators.
DriverDevmode OwnSource() {
    DriverDevmode s{};
    s.dm.dmSize = kPublicDevmodeSize;
    s.dm.dmDriverVersion = kDriverVersion;
    s.dm.dmDriverExtra = kPrivateDevmodeSize;
    s.priv.Signature1 = s.priv.Signature2 = PrivateSignature;
    TextCopy(s.priv.Settings, kSettingsUnits, TEXT("1000=3;9900=2;"));
    s.priv.Settings[511] = 'x';
    for (WCHAR& unit : s.priv.PrinterName) unit = 'n';
    return s;
}

class MergeTest : public larktest::MachineTest {};

// Without a printer to refresh the name from, the source's name stays, cut
// to its last unit like the settings string.
TEST_F(MergeTest, OwnExtensionWithoutPrinterKeepsItsTextsTerminated) {
    DriverDevmode target = Target();
    DriverDevmode source = OwnSource();
    DriverDevmode expectTarget = target;
    std::memcpy(&expectTarget.priv, &source.priv, sizeof expectTarget.priv);
    expectTarget.priv.Settings[511] = 0;
    expectTarget.priv.PrinterName[259] = 0;
    const DriverDevmode expectSource = source;
    EXPECT_EQ(MergeDevmode(&target, &source.dm, nullptr), 1);
    EXPECT_EQ(std::memcmp(&target, &expectTarget, sizeof target), 0);
    EXPECT_EQ(std::memcmp(&source, &expectSource, sizeof source), 0);
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
