// The UI configuration script readers on any script: the paper table of the
// language's block, the status message and the sizes QueryPaperTable gives.
#include <cstring>
#include <string>
#include <vector>

#include "driver_files.h"
#include "fuzz_support.h"
#include "paper_table.h"

namespace {

WCHAR g_names[kMaxPaperRows][kPaperNameUnits];
WCHAR g_specs[kMaxPaperRows][kPaperSpecUnits];
int32_t g_codes[kMaxPaperRows];

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace larkfuzz;
    SetUpMachine();
    winsim::Counts before = winsim::CurrentCounts();
    {
        HeapBlock<WCHAR> text;
        Require(LoadUtf8TextFile(MemoryFile(data, size), &text) == 1, "script loaded");
        // The loader's own decoding gives the text, as far as the readers
        // read it, that the system gives for the whole input.
        if (size > 0) {
            static std::vector<WCHAR> expected;
            expected.assign(size + 2, 0);
            MultiByteToWideChar(CP_UTF8, 0, reinterpret_cast<const char*>(data),
                                static_cast<int>(size), expected.data(), static_cast<int>(size));
            Require(std::u16string(text.get()) == std::u16string(expected.data()),
                    "decoded as the system decodes the whole input");
        }
        for (LANGID language : {LANGID{0x0409}, LANGID{0x0411}}) {
            const WCHAR* sizes = FindPaperSizes(text.get(), language);
            if (sizes == nullptr) continue;
            int counted = ParsePaperRows(sizes, nullptr, nullptr, nullptr);
            std::memset(g_names, 0xEE, sizeof g_names);
            std::memset(g_specs, 0, sizeof g_specs);
            int rows = ParsePaperRows(sizes, g_names, g_specs, g_codes);
            Require(rows == counted, "counting and reading agree");
            Require(rows >= 0 && rows <= static_cast<int>(kMaxPaperRows), "row count");
            for (int i = 0; i < rows; ++i) {
                Require(TerminatedWithin(g_names[i], kPaperNameUnits), "paper name terminated");
                Require(TerminatedWithin(g_specs[i], kPaperSpecUnits), "paper spec terminated");
                POINT point{};
                WORD id = 0;
                PaperSizeFromSpec(g_specs[i], i, &point, &id);
            }
            WCHAR message[kStatusMessageUnits];
            std::memset(message, 0, sizeof message);
            ParseStatusMessage(sizes, message);
            Require(TerminatedWithin(message, kStatusMessageUnits), "status message terminated");
        }
    }
    ExpectNothingHeld(before, "UI script");
    return 0;
}
