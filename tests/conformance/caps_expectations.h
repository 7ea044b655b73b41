// What DrvDeviceCapabilities answers and DrvPrinterEvent stores for the
// shipped driver package (its US English paper table and the default devmode
// the driver builds), for the conformance tables on both platforms and the
// unit tests of the paper table.
#pragma once

#include <cstdint>

namespace larkcaps {

struct Paper {
    const char* name;
    uint16_t id;
    int32_t width;   // tenths of a millimetre
    int32_t height;  // tenths of a millimetre
    int32_t code;
};

inline constexpr Paper kPapers[] = {
    {"4 x 6 in", 256, 1016, 1524, 0},
    {"5 x 7 in", 257, 1270, 1778, 1},
    {"10 x 15 cm", 258, 1000, 1500, 2},
    {"3.5 x 5 in", 259, 889, 1270, 3},
};
inline constexpr int kPaperCount = 4;

// What a capability writes when it is given a buffer.
enum class Output { kNothing, kPaperIds, kPaperSizes, kPaperNames, kBin, kBinName, kMediaReady };

// A caller's devmode of dmSize 220 whose devmode fields differ from the
// driver's default in every field a capability answers from.
struct CallerDevmode {
    uint32_t fields;
    uint16_t specVersion;
    uint16_t driverVersion;
    uint16_t driverExtra;
};
inline constexpr CallerDevmode kCallerDevmode = {0x1234, 0x0400, 0x0100, 77};

struct Capability {
    uint16_t index;
    const char* name;
    uint32_t result;        // the printer's stored default devmode in use
    uint32_t callerResult;  // kCallerDevmode in use
    // Wine's GetPrinterW answers a bare DEVMODEW of its own (dmSize 220,
    // every other field 0) for a printer without a stored devmode.
    uint32_t wineOwnResult;
    Output output;
};

inline constexpr uint32_t kNotAnswered = 0xFFFFFFFFu;
inline constexpr uint32_t Pack(int32_t width, int32_t height) {
    return (static_cast<uint32_t>(static_cast<uint16_t>(height)) << 16) |
           static_cast<uint16_t>(width);
}
inline constexpr uint32_t kMinExtent = Pack(889, 1270);
inline constexpr uint32_t kMaxExtent = Pack(1270, 1778);

// Every index up to the last one the driver answers, and two beyond it.
inline constexpr Capability kCapabilities[] = {
    {0, "0", kNotAnswered, kNotAnswered, kNotAnswered, Output::kNothing},
    {1, "DC_FIELDS", 0x0781DF0F, 0x1234, 0, Output::kNothing},
    {2, "DC_PAPERS", 4, 4, 4, Output::kPaperIds},
    {3, "DC_PAPERSIZE", 4, 4, 4, Output::kPaperSizes},
    {4, "DC_MINEXTENT", kMinExtent, kMinExtent, kMinExtent, Output::kNothing},
    {5, "DC_MAXEXTENT", kMaxExtent, kMaxExtent, kMaxExtent, Output::kNothing},
    {6, "DC_BINS", 1, 1, 1, Output::kBin},
    {7, "DC_DUPLEX", 0, 0, 0, Output::kNothing},
    {8, "DC_SIZE", 220, 220, 220, Output::kNothing},
    {9, "DC_EXTRA", 2108, 77, 0, Output::kNothing},
    {10, "DC_VERSION", 0x0401, 0x0400, 0, Output::kNothing},
    {11, "DC_DRIVER", 0x4021, 0x0100, 0, Output::kNothing},
    {12, "DC_BINNAMES", 1, 1, 1, Output::kBinName},
    {13, "DC_ENUMRESOLUTIONS", kNotAnswered, kNotAnswered, kNotAnswered, Output::kNothing},
    {14, "DC_FILEDEPENDENCIES", 0, 0, 0, Output::kNothing},
    {15, "DC_TRUETYPE", 1, 1, 1, Output::kNothing},
    {16, "DC_PAPERNAMES", 4, 4, 4, Output::kPaperNames},
    {17, "DC_ORIENTATION", 270, 270, 270, Output::kNothing},
    {18, "DC_COPIES", 100, 100, 100, Output::kNothing},
    {19, "DC_BINADJUST", kNotAnswered, kNotAnswered, kNotAnswered, Output::kNothing},
    {20, "DC_EMF_COMPLIANT", 1, 1, 1, Output::kNothing},
    {21, "DC_DATATYPE_PRODUCED", kNotAnswered, kNotAnswered, kNotAnswered, Output::kNothing},
    {22, "DC_COLLATE", 1, 1, 1, Output::kNothing},
    {23, "DC_MANUFACTURER", kNotAnswered, kNotAnswered, kNotAnswered, Output::kNothing},
    {24, "DC_MODEL", kNotAnswered, kNotAnswered, kNotAnswered, Output::kNothing},
    {25, "DC_PERSONALITY", kNotAnswered, kNotAnswered, kNotAnswered, Output::kNothing},
    {26, "DC_PRINTRATE", kNotAnswered, kNotAnswered, kNotAnswered, Output::kNothing},
    {27, "DC_PRINTRATEUNIT", kNotAnswered, kNotAnswered, kNotAnswered, Output::kNothing},
    {28, "DC_PRINTERMEM", kNotAnswered, kNotAnswered, kNotAnswered, Output::kNothing},
    {29, "DC_MEDIAREADY", 1, 1, 1, Output::kMediaReady},
    {30, "DC_STAPLE", 0, 0, 0, Output::kNothing},
    {31, "DC_PRINTRATEPPM", kNotAnswered, kNotAnswered, kNotAnswered, Output::kNothing},
    {32, "DC_COLORDEVICE", kNotAnswered, kNotAnswered, kNotAnswered, Output::kNothing},
    {33, "DC_NUP", kNotAnswered, kNotAnswered, kNotAnswered, Output::kNothing},
    {34, "DC_MEDIATYPENAMES", kNotAnswered, kNotAnswered, kNotAnswered, Output::kNothing},
    {35, "DC_MEDIATYPES", kNotAnswered, kNotAnswered, kNotAnswered, Output::kNothing},
    {36, "36", kNotAnswered, kNotAnswered, kNotAnswered, Output::kNothing},
    {0xFFFF, "65535", kNotAnswered, kNotAnswered, kNotAnswered, Output::kNothing},
};

// The six printer data values that initialisation stores for the package.
inline constexpr const char* kStatusMessage =
    "There is a problem with your printer.\\nCheck your printer screen for more information.";
inline constexpr const char* kPrinterSettings = "1000=0;";
inline constexpr uint32_t kMaxJpegFileSize = 2097152;
inline constexpr const char* kStatusMonitor = "larkmon.exe";
inline constexpr uint32_t kResolution = (300u << 16) | 300u;
inline constexpr const char* kUiConfigFile = "settings.htm";

}  // namespace larkcaps
