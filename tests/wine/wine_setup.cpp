// Installs the staged driver package into the Wine prefix and adds the test printers, as an
// installer does on Windows: AddPrinterDriverExW with the package's files, then AddPrinterW.
// Usage: wine_setup.exe <package folder as a Windows path, e.g. Z:\...\package>
#include "platform.h"
// platform.h first.
#include <shellapi.h>

#include <cstddef>
#include <cstdio>
#include <cwchar>
#include <string>

#include "wine_harness.h"

namespace {

std::wstring Join(const std::wstring& folder, const wchar_t* file) {
    std::wstring path = folder;
    if (!path.empty() && path.back() != L'\\') path += L'\\';
    return path + file;
}

bool Fail(const char* what) {
    std::printf("wine_setup: %s failed, error %lu\n", what, GetLastError());
    return false;
}

const wchar_t* const kPackageFiles[] = {L"larkrend.dll", L"larkdata.ini", L"larkui.dll",
                                        L"lark.hlp",     L"larkmon.exe",  L"settings.htm",
                                        L"settings.js"};

// Every package file must now lie in the driver directory's version folder.
bool CheckInstalledFiles() {
    WCHAR directory[MAX_PATH] = {};
    DWORD needed = 0;
    if (!GetPrinterDriverDirectoryW(nullptr, nullptr, 1, reinterpret_cast<LPBYTE>(directory),
                                    sizeof(directory) - sizeof(WCHAR), &needed)) {
        return Fail("GetPrinterDriverDirectoryW");
    }
    std::wstring version = Join(directory, L"3");
    bool ok = true;
    for (const wchar_t* file : kPackageFiles) {
        std::wstring path = Join(version, file);
        if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
            std::printf("wine_setup: %ls was not copied\n", path.c_str());
            ok = false;
        }
    }
    if (ok) std::printf("wine_setup: driver installed in %ls\n", version.c_str());
    return ok;
}

bool InstallDriver(const std::wstring& package) {
    std::wstring driver = Join(package, L"larkrend.dll");
    std::wstring data = Join(package, L"larkdata.ini");
    std::wstring config = Join(package, L"larkui.dll");
    std::wstring help = Join(package, L"lark.hlp");
    // A list of zero-ended names with one more zero at its end.
    std::wstring dependent;
    for (const wchar_t* file : {L"larkmon.exe", L"settings.htm", L"settings.js"}) {
        dependent += Join(package, file);
        dependent += L'\0';
    }
    dependent += L'\0';

    DRIVER_INFO_3W info = {};
    info.cVersion = 3;
    info.pName = const_cast<LPWSTR>(kLarkDriverName);
    info.pEnvironment = const_cast<LPWSTR>(L"Windows x64");
    info.pDriverPath = driver.data();
    info.pDataFile = data.data();
    info.pConfigFile = config.data();
    info.pHelpFile = help.data();
    info.pDependentFiles = dependent.data();
    // Without APD_COPY_FROM_DIRECTORY the spooler takes only the file names and copies from its
    // driver directory (where a Windows installer puts the files first); with it, from the
    // full paths given. Wine honours the flag at level 3 but ignores failed copies, so the
    // copies are checked below.
    if (!AddPrinterDriverExW(nullptr, 3, reinterpret_cast<LPBYTE>(&info),
                             APD_COPY_FROM_DIRECTORY | APD_COPY_ALL_FILES)) {
        return Fail("AddPrinterDriverExW");
    }
    return CheckInstalledFiles();
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

// A fresh prefix has only COM, LPT and FILE: ports. The local port monitor adds a port through
// its transceiver interface ("AddPort"), which is what the printers folder uses on Windows too.
bool AddLocalPort(const wchar_t* port) {
    if (PortExists(port)) return true;
    HANDLE xcv = nullptr;
    PRINTER_DEFAULTSW defaults = {nullptr, nullptr, SERVER_ACCESS_ADMINISTER};
    if (!OpenPrinterW(const_cast<LPWSTR>(L",XcvMonitor Local Port"), &xcv, &defaults)) {
        return Fail("OpenPrinterW(,XcvMonitor Local Port)");
    }
    DWORD needed = 0;
    DWORD status = 0;
    const DWORD bytes = static_cast<DWORD>((std::wcslen(port) + 1) * sizeof(wchar_t));
    BOOL ok = XcvDataW(xcv, L"AddPort", reinterpret_cast<PBYTE>(const_cast<wchar_t*>(port)), bytes,
                       nullptr, 0, &needed, &status);
    ClosePrinter(xcv);
    if (!ok || (status != ERROR_SUCCESS && status != ERROR_ALREADY_EXISTS)) {
        std::printf("wine_setup: XcvDataW(AddPort) ok %d status %lu error %lu\n", ok, status,
                    GetLastError());
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
    PRINTER_INFO_2W info = {};
    info.pPrinterName = const_cast<LPWSTR>(name);
    info.pPortName = const_cast<LPWSTR>(port);
    info.pDriverName = const_cast<LPWSTR>(kLarkDriverName);
    info.pPrintProcessor = const_cast<LPWSTR>(L"winprint");
    info.pDatatype = const_cast<LPWSTR>(L"RAW");
    info.Attributes = PRINTER_ATTRIBUTE_LOCAL;
    HANDLE printer = AddPrinterW(nullptr, 2, reinterpret_cast<LPBYTE>(&info));
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
