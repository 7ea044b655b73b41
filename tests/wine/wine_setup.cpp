// Installs the staged driver package into the Wine prefix and adds the test printers, as the
// printer class installer does on Windows: SetupAPI reads lark.inf (the x64 model, its install
// section, DestinationDirs) and copies the files into the printer driver directory (dirid 66000),
// then AddPrinterDriverExW registers the driver from what the INF said, then AddPrinterW.
// Usage: wine_setup.exe <package folder as a Windows path, e.g. Z:\...\package>
#include "platform.h"
// platform.h first.
#include <shellapi.h>

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "../shared/inf_expectations.h"
#include "wine_harness.h"

namespace {

std::wstring Join(const std::wstring& folder, const std::wstring& file) {
    std::wstring path = folder;
    if (!path.empty() && path.back() != L'\\') path += L'\\';
    return path + file;
}

bool Fail(const char* what) {
    std::printf("wine_setup: %s failed, error %lu\n", what, GetLastError());
    return false;
}

std::wstring Wide(const char* ascii) { return std::wstring(ascii, ascii + std::strlen(ascii)); }

bool SameName(const std::wstring& a, const std::wstring& b) {
    return _wcsicmp(a.c_str(), b.c_str()) == 0;
}

// What the INF says about the x64 model, as SetupAPI reads it.
struct InfDriver {
    std::wstring modelsSection, name, hardwareId, installSection;
    std::wstring driverFile, dataFile, configFile, helpFile;
    std::vector<std::wstring> copySections;
    std::vector<std::wstring> copyFiles;
    INT destinationDirId = -1;

    std::vector<std::wstring> DependentFiles() const {
        std::vector<std::wstring> dependent;
        for (const std::wstring& file : copyFiles) {
            bool role = false;
            for (const std::wstring* named : {&driverFile, &dataFile, &configFile, &helpFile}) {
                role = role || SameName(file, *named);
            }
            if (!role) dependent.push_back(file);
        }
        return dependent;
    }
};

class InfFile {
public:
    explicit InfFile(const std::wstring& path) {
        UINT errorLine = 0;
        handle_ = SetupOpenInfFileW(path.c_str(), nullptr, INF_STYLE_WIN4, &errorLine);
        if (handle_ == INVALID_HANDLE_VALUE) {
            std::printf("wine_setup: SetupOpenInfFileW(%ls) failed at line %u, error %lu\n",
                        path.c_str(), errorLine, GetLastError());
        }
    }
    ~InfFile() {
        if (handle_ != INVALID_HANDLE_VALUE) SetupCloseInfFile(handle_);
    }
    InfFile(const InfFile&) = delete;
    InfFile& operator=(const InfFile&) = delete;
    HINF get() const { return handle_; }

private:
    HINF handle_ = INVALID_HANDLE_VALUE;
};

// Field 0 is a line's key; strings (%Name%) are already substituted and quotes removed.
std::wstring Field(INFCONTEXT* line, DWORD index) {
    DWORD needed = 0;
    if (!SetupGetStringFieldW(line, index, nullptr, 0, &needed) || needed == 0) return {};
    std::wstring text(needed, L'\0');
    if (!SetupGetStringFieldW(line, index, text.data(), needed, &needed)) return {};
    text.resize(needed - 1);
    return text;
}

std::wstring Value(HINF inf, const std::wstring& section, const wchar_t* key) {
    INFCONTEXT line = {};
    return SetupFindFirstLineW(inf, section.c_str(), key, &line) ? Field(&line, 1) : L"";
}

// [Manufacturer]'s entry is "name=models[,decoration...]"; the x64 models section is the
// decoration whose platform is NTamd64 (an OS version may follow it: NTamd64.6.1).
bool FindModelsSection(HINF inf, InfDriver* driver) {
    INFCONTEXT line = {};
    for (BOOL more = SetupFindFirstLineW(inf, L"Manufacturer", nullptr, &line); more;
         more = SetupFindNextLine(&line, &line)) {
        DWORD fields = SetupGetFieldCount(&line);
        for (DWORD i = 2; i <= fields; ++i) {
            std::wstring decoration = Field(&line, i);
            if (SameName(decoration.substr(0, decoration.find(L'.')), L"NTamd64")) {
                driver->modelsSection = Field(&line, 1) + L"." + decoration;
                return true;
            }
        }
    }
    std::printf("wine_setup: the INF's [Manufacturer] names no NTamd64 models section\n");
    return false;
}

bool ReadCopyFiles(HINF inf, InfDriver* driver) {
    INFCONTEXT line = {};
    if (!SetupFindFirstLineW(inf, driver->installSection.c_str(), L"CopyFiles", &line)) {
        std::printf("wine_setup: [%ls] has no CopyFiles\n", driver->installSection.c_str());
        return false;
    }
    // CopyFiles=section[,section...] or @file for a single file.
    for (DWORD i = 1, fields = SetupGetFieldCount(&line); i <= fields; ++i) {
        std::wstring entry = Field(&line, i);
        if (!entry.empty() && entry.front() == L'@') {
            driver->copyFiles.push_back(entry.substr(1));
            continue;
        }
        driver->copySections.push_back(entry);
        INFCONTEXT file = {};
        for (BOOL more = SetupFindFirstLineW(inf, entry.c_str(), nullptr, &file); more;
             more = SetupFindNextLine(&file, &file)) {
            driver->copyFiles.push_back(Field(&file, 1));
        }
    }
    // Every copy section must go to one destination: the driver's files lie together.
    for (const std::wstring& section : driver->copySections) {
        INFCONTEXT destination = {};
        INT dirId = -1;
        if ((SetupFindFirstLineW(inf, L"DestinationDirs", section.c_str(), &destination) ||
             SetupFindFirstLineW(inf, L"DestinationDirs", L"DefaultDestDir", &destination)) &&
            SetupGetIntField(&destination, 1, &dirId)) {
            if (driver->destinationDirId != -1 && driver->destinationDirId != dirId) {
                std::printf("wine_setup: [%ls] goes to dirid %d, not %d\n", section.c_str(), dirId,
                            driver->destinationDirId);
                return false;
            }
            driver->destinationDirId = dirId;
        }
    }
    return !driver->copyFiles.empty();
}

bool ReadInf(HINF inf, InfDriver* driver) {
    if (!FindModelsSection(inf, driver)) return false;
    INFCONTEXT model = {};
    if (!SetupFindFirstLineW(inf, driver->modelsSection.c_str(), nullptr, &model)) {
        std::printf("wine_setup: [%ls] names no model\n", driver->modelsSection.c_str());
        return false;
    }
    // "Driver name"=install-section,hardware-id[,compatible-id...]
    driver->name = Field(&model, 0);
    std::wstring install = Field(&model, 1);
    driver->hardwareId = Field(&model, 2);
    // The install section with the platform's decoration when the INF has one, as Windows
    // chooses it.
    WCHAR actual[MAX_PATH] = {};
    DWORD needed = 0;
    if (!SetupDiGetActualSectionToInstallW(inf, install.c_str(), actual, MAX_PATH, &needed,
                                           nullptr)) {
        return Fail("SetupDiGetActualSectionToInstallW");
    }
    driver->installSection = actual;
    driver->driverFile = Value(inf, driver->installSection, L"DriverFile");
    driver->dataFile = Value(inf, driver->installSection, L"DataFile");
    driver->configFile = Value(inf, driver->installSection, L"ConfigFile");
    driver->helpFile = Value(inf, driver->installSection, L"HelpFile");
    if (!ReadCopyFiles(inf, driver)) return false;

    std::printf("wine_setup: INF model \"%ls\" (%ls) in [%ls], install section [%ls]\n",
                driver->name.c_str(), driver->hardwareId.c_str(), driver->modelsSection.c_str(),
                driver->installSection.c_str());
    std::printf("wine_setup: driver %ls, data %ls, config %ls, help %ls; %zu files to dirid %d\n",
                driver->driverFile.c_str(), driver->dataFile.c_str(), driver->configFile.c_str(),
                driver->helpFile.c_str(), driver->copyFiles.size(), driver->destinationDirId);
    return true;
}

// Both lists hold the same names in any order, each once.
bool SameFiles(const char* what, std::vector<std::wstring> read, const char* const* expected,
               std::size_t count) {
    std::vector<std::wstring> wanted;
    for (std::size_t i = 0; i < count; ++i) wanted.push_back(Wide(expected[i]));
    auto byName = [](const std::wstring& a, const std::wstring& b) {
        return _wcsicmp(a.c_str(), b.c_str()) < 0;
    };
    std::sort(read.begin(), read.end(), byName);
    std::sort(wanted.begin(), wanted.end(), byName);
    bool same = read.size() == wanted.size() &&
                std::equal(read.begin(), read.end(), wanted.begin(), SameName);
    if (!same) {
        std::printf("wine_setup: the INF's %s differ from the expected ones:", what);
        for (const std::wstring& file : read) std::printf(" %ls", file.c_str());
        std::printf("\n");
    }
    return same;
}

// What SetupAPI read against what the winsim installation is held to as well.
bool MatchesExpectation(const InfDriver& driver) {
    struct {
        const char* what;
        const std::wstring& read;
        const char* expected;
    } const texts[] = {
        {"driver name", driver.name, larkinf::kDriverName},
        {"hardware ID", driver.hardwareId, larkinf::kHardwareId},
        {"DriverFile", driver.driverFile, larkinf::kDriverFile},
        {"DataFile", driver.dataFile, larkinf::kDataFile},
        {"ConfigFile", driver.configFile, larkinf::kConfigFile},
        {"HelpFile", driver.helpFile, larkinf::kHelpFile},
    };
    bool ok = true;
    for (const auto& text : texts) {
        if (text.read != Wide(text.expected)) {
            std::printf("wine_setup: the INF's %s is \"%ls\", expected \"%s\"\n", text.what,
                        text.read.c_str(), text.expected);
            ok = false;
        }
    }
    if (driver.name != kLarkDriverName) {
        std::printf("wine_setup: the INF's driver is not kLarkDriverName, the tests' printers'\n");
        ok = false;
    }
    if (driver.destinationDirId != static_cast<INT>(larkinf::kPrinterDriverDirId)) {
        std::printf("wine_setup: the files go to dirid %d, expected %u\n", driver.destinationDirId,
                    larkinf::kPrinterDriverDirId);
        ok = false;
    }
    ok =
        SameFiles("copied files", driver.copyFiles, larkinf::kCopyFiles, larkinf::kCopyFileCount) &&
        ok;
    return SameFiles("dependent files", driver.DependentFiles(), larkinf::kDependentFiles,
                     larkinf::kDependentFileCount) &&
           ok;
}

// The queue's notifications that would otherwise ask the user end the commit instead: a source
// that is not where the INF says, a failed copy. The rest go to the default handler, which has
// no window.
struct CopyProgress {
    PVOID defaultContext = nullptr;
    int mediaAsked = 0;
    bool failed = false;
};

UINT CALLBACK OnQueueNotification(PVOID context, UINT notification, UINT_PTR param1,
                                  UINT_PTR param2) {
    auto* progress = static_cast<CopyProgress*>(context);
    if (notification == SPFILENOTIFY_NEEDMEDIA) {
        // Wine asks for each source disk even when its file is there: "present" is the answer.
        auto* media = reinterpret_cast<SOURCE_MEDIA_W*>(param1);
        ++progress->mediaAsked;
        std::wstring source = Join(media->SourcePath, media->SourceFile);
        if (GetFileAttributesW(source.c_str()) != INVALID_FILE_ATTRIBUTES) return FILEOP_DOIT;
        std::printf("wine_setup: the source %ls is missing\n", source.c_str());
        progress->failed = true;
        return FILEOP_ABORT;
    }
    if (notification == SPFILENOTIFY_COPYERROR) {
        auto* paths = reinterpret_cast<FILEPATHS_W*>(param1);
        std::printf("wine_setup: copying %ls to %ls failed, error %u\n", paths->Source,
                    paths->Target, paths->Win32Error);
        progress->failed = true;
        return FILEOP_ABORT;
    }
    return SetupDefaultQueueCallbackW(progress->defaultContext, notification, param1, param2);
}

std::wstring PrinterDriverDirectory() {
    WCHAR directory[MAX_PATH] = {};
    DWORD needed = 0;
    if (!GetPrinterDriverDirectoryW(nullptr, const_cast<LPWSTR>(L"Windows x64"), 1,
                                    reinterpret_cast<LPBYTE>(directory),
                                    sizeof(directory) - sizeof(WCHAR), &needed)) {
        Fail("GetPrinterDriverDirectoryW");
        return {};
    }
    return directory;
}

// Copies the install section's files from the package to where dirid 66000 points: the printer
// driver directory of the target environment, which the printer class installer sets.
bool CopyDriverFiles(HINF inf, const InfDriver& driver, const std::wstring& package,
                     const std::wstring& driverDirectory) {
    const std::wstring& section = driver.copySections.front();
    WCHAR target[MAX_PATH] = {};
    DWORD needed = 0;
    if (SetupGetTargetPathW(inf, nullptr, section.c_str(), target, MAX_PATH, &needed)) {
        std::printf("wine_setup: before it is set, dirid %d is %ls\n", driver.destinationDirId,
                    target);
    } else {
        std::printf("wine_setup: before it is set, dirid %d is unknown, error %lu\n",
                    driver.destinationDirId, GetLastError());
    }
    if (!SetupSetDirectoryIdW(inf, larkinf::kPrinterDriverDirId, driverDirectory.c_str())) {
        return Fail("SetupSetDirectoryIdW(66000)");
    }
    if (!SetupGetTargetPathW(inf, nullptr, section.c_str(), target, MAX_PATH, &needed) ||
        !SameName(target, driverDirectory)) {
        std::printf("wine_setup: [%ls] goes to %ls, not the driver directory %ls\n",
                    section.c_str(), target, driverDirectory.c_str());
        return false;
    }

    HSPFILEQ queue = SetupOpenFileQueue();
    if (queue == INVALID_HANDLE_VALUE) return Fail("SetupOpenFileQueue");
    CopyProgress progress;
    progress.defaultContext = SetupInitDefaultQueueCallbackEx(
        nullptr, static_cast<HWND>(INVALID_HANDLE_VALUE), 0, 0, nullptr);
    bool ok = SetupInstallFilesFromInfSectionW(inf, nullptr, queue, driver.installSection.c_str(),
                                               package.c_str(), SP_COPY_NOSKIP) ||
              Fail("SetupInstallFilesFromInfSectionW");
    ok = ok && (SetupCommitFileQueueW(nullptr, queue, OnQueueNotification, &progress) ||
                Fail("SetupCommitFileQueueW"));
    ok = ok && !progress.failed;
    std::printf("wine_setup: SetupAPI asked for the source disk %d times\n", progress.mediaAsked);
    if (progress.defaultContext != nullptr) SetupTermDefaultQueueCallback(progress.defaultContext);
    SetupCloseFileQueue(queue);
    return ok;
}

// Every copied file must now lie in the folder; Wine reports no failed copy of the spooler's.
bool CheckFilesIn(const std::wstring& folder, const InfDriver& driver) {
    bool ok = true;
    for (const std::wstring& file : driver.copyFiles) {
        std::wstring path = Join(folder, file);
        if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
            std::printf("wine_setup: %ls is missing\n", path.c_str());
            ok = false;
        }
    }
    return ok;
}

bool InstallDriver(const std::wstring& package) {
    InfFile inf(Join(package, L"lark.inf"));
    if (inf.get() == INVALID_HANDLE_VALUE) return false;
    InfDriver driver;
    if (!ReadInf(inf.get(), &driver) || !MatchesExpectation(driver)) return false;
    std::wstring directory = PrinterDriverDirectory();
    if (directory.empty() || !CopyDriverFiles(inf.get(), driver, package, directory) ||
        !CheckFilesIn(directory, driver)) {
        return false;
    }

    std::wstring driverPath = Join(directory, driver.driverFile);
    std::wstring data = Join(directory, driver.dataFile);
    std::wstring config = Join(directory, driver.configFile);
    std::wstring help = Join(directory, driver.helpFile);
    // A list of zero-ended names with one more zero at its end.
    std::wstring dependent;
    for (const std::wstring& file : driver.DependentFiles()) {
        dependent += Join(directory, file);
        dependent += L'\0';
    }
    dependent += L'\0';

    DRIVER_INFO_3W info = {};
    info.cVersion = 3;
    info.pName = driver.name.data();
    info.pEnvironment = const_cast<LPWSTR>(L"Windows x64");
    info.pDriverPath = driverPath.data();
    info.pDataFile = data.data();
    info.pConfigFile = config.data();
    info.pHelpFile = help.data();
    info.pDependentFiles = dependent.data();
    // Without APD_COPY_FROM_DIRECTORY the spooler takes the files from its driver directory,
    // where SetupAPI has just put them, into the version folder.
    if (!AddPrinterDriverExW(nullptr, 3, reinterpret_cast<LPBYTE>(&info), APD_COPY_ALL_FILES)) {
        return Fail("AddPrinterDriverExW");
    }
    std::wstring version = Join(directory, L"3");
    if (!CheckFilesIn(version, driver)) return false;
    std::printf("wine_setup: driver installed in %ls\n", version.c_str());
    return true;
}

bool PortExists(const wchar_t* port) {
    DWORD needed = 0;
    DWORD count = 0;
    EnumPortsW(nullptr, 1, nullptr, 0, &needed, &count);
    std::wstring buffer(needed / sizeof(wchar_t) + 1, L'\0');
    auto* ports = reinterpret_cast<PORT_INFO_1W*>(buffer.data());
    if (!EnumPortsW(nullptr, 1, reinterpret_cast<LPBYTE>(ports), needed, &needed, &count)) {
        return Fail("EnumPortsW");
    }
    for (DWORD i = 0; i < count; ++i) {
        if (_wcsicmp(ports[i].pName, port) == 0) return true;
    }
    return false;
}

// A fresh prefix has only COM, LPT and FILE: ports.
bool AddLocalPort(const wchar_t* port) {
    if (PortExists(port)) return true;
    DWORD status = 0;
    if (!XcvAddLocalPort(port, &status)) {
        std::printf("wine_setup: XcvDataW(AddPort) status %lu error %lu\n", status, GetLastError());
        return false;
    }
    std::printf("wine_setup: port %ls added\n", port);
    return PortExists(port);
}

// The driver's default devmode (DrvConvertDevMode with CDM_DRIVER_DEFAULT), stored as the
// printer's default devmode with SetPrinterW level 2.
bool StoreDriverDefaultDevmode(HMODULE ui, const wchar_t* name) {
    using ConvertFn = BOOL(WINAPI*)(LPWSTR, PDEVMODEW, PDEVMODEW, PLONG, DWORD);
    auto convert = LarkEntry<ConvertFn>(ui, "DrvConvertDevMode");
    if (convert == nullptr) return Fail("GetProcAddress(DrvConvertDevMode)");
    std::string devmode(4096, '\0');
    LONG size = static_cast<LONG>(devmode.size());
    auto* out = reinterpret_cast<DEVMODEW*>(devmode.data());
    if (!convert(const_cast<LPWSTR>(name), nullptr, out, &size, CDM_DRIVER_DEFAULT)) {
        return Fail("DrvConvertDevMode(CDM_DRIVER_DEFAULT)");
    }
    if (size < static_cast<LONG>(offsetof(DEVMODEW, dmFields)) ||
        size > static_cast<LONG>(devmode.size()) || out->dmSize + out->dmDriverExtra != size) {
        std::printf("wine_setup: DrvConvertDevMode gave size %ld, dmSize %u, dmDriverExtra %u\n",
                    size, out->dmSize, out->dmDriverExtra);
        return false;
    }

    HANDLE printer = nullptr;
    PRINTER_DEFAULTSW access = {nullptr, nullptr, PRINTER_ALL_ACCESS};
    if (!OpenPrinterW(const_cast<LPWSTR>(name), &printer, &access)) return Fail("OpenPrinterW");
    DWORD needed = 0;
    GetPrinterW(printer, 2, nullptr, 0, &needed);
    std::string block(needed, '\0');
    bool ok = needed >= sizeof(PRINTER_INFO_2W) &&
              GetPrinterW(printer, 2, reinterpret_cast<LPBYTE>(block.data()), needed, &needed);
    if (ok) {
        auto* info = reinterpret_cast<PRINTER_INFO_2W*>(block.data());
        info->pDevMode = out;
        ok = SetPrinterW(printer, 2, reinterpret_cast<LPBYTE>(info), 0);
    }
    if (!ok) Fail("GetPrinterW/SetPrinterW level 2");
    ClosePrinter(printer);
    return ok;
}

// What the Windows spooler does when a printer is added: it stores the driver's default devmode
// and sends PRINTER_EVENT_INITIALIZE to the config file, where the driver writes its printer
// data values. Wine 8's AddPrinterW does neither (it asks DrvDocumentPropertySheets for a
// devmode and, given none, stores a bare public one of its own), so this does both.
bool InitializePrinter(const wchar_t* name) {
    HMODULE ui = LoadLarkUi(name);
    if (ui == nullptr) return Fail("LoadLibraryW of the config file");
    bool ok = StoreDriverDefaultDevmode(ui, name);
    auto event = LarkEntry<BOOL(WINAPI*)(LPWSTR, INT, DWORD, LPARAM)>(ui, "DrvPrinterEvent");
    if (ok &&
        (event == nullptr || !event(const_cast<LPWSTR>(name), PRINTER_EVENT_INITIALIZE, 0, 0))) {
        Fail("DrvPrinterEvent(PRINTER_EVENT_INITIALIZE)");
        ok = false;
    }
    FreeLibrary(ui);
    return ok;
}

bool AddTestPrinter(const wchar_t* name, const wchar_t* port) {
    HANDLE printer = AddLarkPrinter(name, port);
    if (printer == nullptr) {
        if (GetLastError() == ERROR_PRINTER_ALREADY_EXISTS) return true;
        return Fail("AddPrinterW");
    }
    ClosePrinter(printer);
    std::printf("wine_setup: printer %ls on %ls added\n", name, port);
    return InitializePrinter(name);
}

}  // namespace

int main() {
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (argv == nullptr || argc != 2) {
        std::printf("usage: wine_setup.exe <package folder>\n");
        return 2;
    }
    std::wstring package = argv[1];
    LocalFree(argv);

    bool ok = InstallDriver(package) && AddLocalPort(kLarkUsbPort) &&
              AddTestPrinter(kLarkPrinter, kLarkUsbPort) &&
              AddTestPrinter(kLarkLptPrinter, kLarkLptPort);
    std::printf("wine_setup: %s\n", ok ? "done" : "FAILED");
    return ok ? 0 : 1;
}
