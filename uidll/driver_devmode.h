// The driver's devmode: a public DEVMODEW of version 0x0401 followed by the
// private extension. Stored by the spooler and exchanged with applications,
// so every offset is fixed and pinned below for both builds.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform.h"

inline constexpr WORD kDevmodeSpecVersion = 0x0401;
inline constexpr WORD kDriverVersion = 0x4021;
inline constexpr WORD kPublicDevmodeSize = 220;
inline constexpr WORD kPrivateDevmodeSize = 2108;
inline constexpr DWORD kDriverDevmodeSize = kPublicDevmodeSize + kPrivateDevmodeSize;
inline constexpr uint32_t PrivateSignature = 0x87658342;
inline constexpr DWORD kDefaultDevmodeFields = 0x0781DF0F;
inline constexpr size_t kSettingsUnits = 512;
inline constexpr size_t kPrinterNameUnits = 260;

#pragma pack(push, 4)
struct DevmodePrivate {
    uint32_t Signature1;
    uint32_t Signature2;
    WCHAR PrinterName[kPrinterNameUnits];
    BYTE Reserved[516];
    WCHAR Settings[kSettingsUnits];
    int32_t PaperWidthMm;
    int32_t PaperLengthMm;
    uint32_t PageWidthDots;
    uint32_t PageLengthDots;
    uint32_t ImageableLeft;
    uint32_t ImageableTop;
    uint32_t ImageableWidthDots;
    uint32_t ImageableLengthDots;
    int32_t XResolution;
    int32_t YResolution;
};

struct DriverDevmode {
    DEVMODEW dm;
    DevmodePrivate priv;
};
#pragma pack(pop)

static_assert(sizeof(WCHAR) == 2);
static_assert(sizeof(DEVMODEW) == 220);
static_assert(offsetof(DEVMODEW, dmDeviceName) == 0);
static_assert(offsetof(DEVMODEW, dmSpecVersion) == 64);
static_assert(offsetof(DEVMODEW, dmDriverVersion) == 66);
static_assert(offsetof(DEVMODEW, dmSize) == 68);
static_assert(offsetof(DEVMODEW, dmDriverExtra) == 70);
static_assert(offsetof(DEVMODEW, dmFields) == 72);
static_assert(offsetof(DEVMODEW, dmOrientation) == 76);
static_assert(offsetof(DEVMODEW, dmPaperSize) == 78);
static_assert(offsetof(DEVMODEW, dmPaperLength) == 80);
static_assert(offsetof(DEVMODEW, dmPaperWidth) == 82);
static_assert(offsetof(DEVMODEW, dmScale) == 84);
static_assert(offsetof(DEVMODEW, dmCopies) == 86);
static_assert(offsetof(DEVMODEW, dmDefaultSource) == 88);
static_assert(offsetof(DEVMODEW, dmPrintQuality) == 90);
static_assert(offsetof(DEVMODEW, dmColor) == 92);
static_assert(offsetof(DEVMODEW, dmDuplex) == 94);
static_assert(offsetof(DEVMODEW, dmYResolution) == 96);
static_assert(offsetof(DEVMODEW, dmTTOption) == 98);
static_assert(offsetof(DEVMODEW, dmCollate) == 100);
static_assert(offsetof(DEVMODEW, dmFormName) == 102);
static_assert(offsetof(DEVMODEW, dmLogPixels) == 166);
static_assert(offsetof(DEVMODEW, dmBitsPerPel) == 168);
static_assert(offsetof(DEVMODEW, dmPelsWidth) == 172);
static_assert(offsetof(DEVMODEW, dmPelsHeight) == 176);
static_assert(offsetof(DEVMODEW, dmDisplayFlags) == 180);
static_assert(offsetof(DEVMODEW, dmNup) == 180);
static_assert(offsetof(DEVMODEW, dmDisplayFrequency) == 184);
static_assert(offsetof(DEVMODEW, dmICMMethod) == 188);
static_assert(offsetof(DEVMODEW, dmICMIntent) == 192);
static_assert(offsetof(DEVMODEW, dmMediaType) == 196);
static_assert(offsetof(DEVMODEW, dmDitherType) == 200);
static_assert(offsetof(DEVMODEW, dmReserved1) == 204);
static_assert(offsetof(DEVMODEW, dmReserved2) == 208);
static_assert(offsetof(DEVMODEW, dmPanningWidth) == 212);
static_assert(offsetof(DEVMODEW, dmPanningHeight) == 216);

static_assert(sizeof(DevmodePrivate) == 2108);
static_assert(sizeof(DriverDevmode) == 2328);
static_assert(offsetof(DriverDevmode, priv) == 220);
static_assert(offsetof(DriverDevmode, priv.Signature1) == 220);
static_assert(offsetof(DriverDevmode, priv.Signature2) == 224);
static_assert(offsetof(DriverDevmode, priv.PrinterName) == 228);
static_assert(offsetof(DriverDevmode, priv.Reserved) == 748);
static_assert(offsetof(DriverDevmode, priv.Settings) == 1264);
static_assert(offsetof(DriverDevmode, priv.PaperWidthMm) == 2288);
static_assert(offsetof(DriverDevmode, priv.PaperLengthMm) == 2292);
static_assert(offsetof(DriverDevmode, priv.PageWidthDots) == 2296);
static_assert(offsetof(DriverDevmode, priv.PageLengthDots) == 2300);
static_assert(offsetof(DriverDevmode, priv.ImageableLeft) == 2304);
static_assert(offsetof(DriverDevmode, priv.ImageableTop) == 2308);
static_assert(offsetof(DriverDevmode, priv.ImageableWidthDots) == 2312);
static_assert(offsetof(DriverDevmode, priv.ImageableLengthDots) == 2316);
static_assert(offsetof(DriverDevmode, priv.XResolution) == 2320);
static_assert(offsetof(DriverDevmode, priv.YResolution) == 2324);
