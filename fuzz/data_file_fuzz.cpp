// The driver data file readers on any file: every key of [DeviceConfig] and
// [InstallConfig] over the loaded text, and the UIConfigFile line scan.
#include <cstring>

#include "data_file.h"
#include "driver_files.h"
#include "fuzz_support.h"
#include "text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace larkfuzz;
    SetUpMachine();
    winsim::Counts before = winsim::CurrentCounts();
    WriteScratch(data, size);
    {
        HeapBlock<WCHAR> text;
        Require(LoadUtf8TextFile(MemoryFile(data, size), &text) == 1, "data file loaded");
        WCHAR settings[kSettingsUnits];
        std::memset(settings, 0xEE, sizeof settings);
        ReadPrinterSettings(text.get(), settings);
        Require(TerminatedWithin(settings, kSettingsUnits), "settings terminated");
        InstallValues values;
        if (ReadInstallValues(text.get(), &values) == 1) {
            Require(TerminatedWithin(values.statusMonitor, kFileNameUnits), "monitor terminated");
            Require(TerminatedWithin(values.uiConfigFile, kFileNameUnits), "UI file terminated");
        }
    }
    {
        std::u16string path = ScratchPath();
        FILE* file = _wfopen(path.c_str(), u"rt");
        Require(file != nullptr, "data file opened");
        WCHAR uiPath[kPathUnits];
        std::memset(uiPath, 0xEE, sizeof uiPath);
        TextCopy(uiPath, kPathUnits, TEXT("C:\\Windows\\System32\\spool\\drivers\\x64\\3\\"));
        ScanUiConfigFile(file, uiPath);
        std::fclose(file);
        Require(TerminatedWithin(uiPath, kPathUnits), "UI configuration path terminated");
    }
    ExpectNothingHeld(before, "data file");
    return 0;
}
