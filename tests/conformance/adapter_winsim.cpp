// The tables on winsim: a fresh machine per table with the build's driver
// package installed, the driver loaded from its config file as winsim's
// spooler loads it (the module only: this program links no driver code).
#include <stdlib.h>
#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>

#include "adapter.h"
#include "winsim/control.h"

namespace conformance {

const WCHAR kPrinter[] = u"Lark Photo";
const WCHAR kLptPrinter[] = u"Lark Photo LPT";
const WCHAR kDriverName[] = u"Lark Photo Printer";

namespace {

struct Machine {
    std::string root;
    winsim::DriverModule module;
    std::map<std::string, std::string> package;  // the version folder as installed
    std::u16string configFile;
};
Machine g_machine;

std::string VersionFolderHost() { return winsim::HostPath(winsim::DriverDirectory() + u"\\3"); }

bool RunLarksim(const std::string& arguments, std::string* why) {
    std::string command = std::string(LARK_LARKSIM) + " --root '" + g_machine.root + "' " +
                          arguments + " >/dev/null 2>&1";
    if (std::system(command.c_str()) == 0) return true;
    *why = "larksim " + arguments + " failed";
    return false;
}

}  // namespace

Platform ThisPlatform() { return Platform::Winsim; }
const char* PlatformName() { return "winsim"; }

bool BeginTable(std::string* why) {
    char pattern[] = "/tmp/lark-conformance.XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
        *why = "no temporary folder";
        return false;
    }
    g_machine = Machine{};
    g_machine.root = pattern;
    if (!winsim::InitMachine(g_machine.root)) {
        *why = "cannot create a machine at " + g_machine.root;
        return false;
    }
    winsim::SetMachineRoot(g_machine.root);
    setenv("WINSIM_ROOT", g_machine.root.c_str(), 1);
    winsim::ClearFaults();
    if (!RunLarksim(std::string("install-driver '") + LARK_PACKAGE_DIR + "'", why)) return false;
    for (const WCHAR* name : {kPrinter, kLptPrinter}) {
        std::string error;
        if (!winsim::AddPrinter(name, name == kPrinter ? u"USB001" : u"LPT1:", kDriverName,
                                &error)) {
            *why = error;
            return false;
        }
    }
    for (const auto& file : std::filesystem::directory_iterator(VersionFolderHost())) {
        std::ifstream in(file.path(), std::ios::binary);
        g_machine.package[file.path().filename().string()] =
            std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    winsim::DriverRecord driver;
    if (!winsim::GetDriver(kDriverName, &driver)) {
        *why = "the driver is not registered";
        return false;
    }
    g_machine.configFile = driver.configFile;
    g_machine.module = winsim::LoadDriverModule(driver.configFile);
    if (g_machine.module.library == nullptr) {
        *why = "cannot load the driver: " + g_machine.module.error;
        return false;
    }
    return true;
}

void EndTable() {
    winsim::UnloadDriverModule(g_machine.module);
    winsim::ClearFaults();
    std::error_code ignored;
    std::filesystem::remove_all(g_machine.root, ignored);
}

void* DriverEntry(const char* name) { return winsim::DriverEntry(g_machine.module, name); }

std::basic_string<WCHAR> DriverFolder() { return winsim::DriverDirectory() + u"\\3\\"; }

bool WriteDriverFile(const char* name, const std::string& bytes) {
    std::ofstream out(VersionFolderHost() + "/" + name, std::ios::binary | std::ios::trunc);
    out << bytes;
    out.close();
    return static_cast<bool>(out);
}

bool RemoveDriverFile(const char* name) {
    return std::remove((VersionFolderHost() + "/" + name).c_str()) == 0;
}

bool RemovePrinterValue(const WCHAR* name) { return winsim::RemovePrinterData(kPrinter, name); }

bool ResetPrinter() {
    bool ok = true;
    for (const auto& file : std::filesystem::directory_iterator(VersionFolderHost())) {
        if (g_machine.package.count(file.path().filename().string()) == 0) {
            std::filesystem::remove(file.path());
        }
    }
    // Only what a row changed: the loaded module's own file must not be
    // rewritten under it.
    for (const auto& [name, bytes] : g_machine.package) {
        std::ifstream in(VersionFolderHost() + "/" + name, std::ios::binary);
        std::string now((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (!in.is_open() || now != bytes) ok = WriteDriverFile(name.c_str(), bytes) && ok;
    }
    for (const auto& value : winsim::PrinterData(kPrinter)) {
        winsim::RemovePrinterData(kPrinter, value.name);
    }
    using ConvertFn = BOOL(WINAPI*)(LPWSTR, PDEVMODEW, PDEVMODEW, PLONG, DWORD);
    using EventFn = BOOL(WINAPI*)(LPWSTR, INT, DWORD, LPARAM);
    auto convert = Entry<ConvertFn>("DrvConvertDevMode");
    auto event = Entry<EventFn>("DrvPrinterEvent");
    std::u16string name = kPrinter;
    std::vector<uint8_t> devmode(4096);
    LONG size = static_cast<LONG>(devmode.size());
    ok = convert != nullptr && event != nullptr &&
         convert(name.data(), nullptr, reinterpret_cast<PDEVMODEW>(devmode.data()), &size,
                 CDM_DRIVER_DEFAULT) &&
         ok;
    devmode.resize(size > 0 ? static_cast<size_t>(size) : 0);
    ok = winsim::SetPrinterDevmode(kPrinter, devmode) && ok;
    HANDLE printer = nullptr;
    if (OpenPrinterW(name.data(), &printer, nullptr)) {
        PRINTER_INFO_9W none = {nullptr};  // the user's own devmode taken away
        SetPrinterW(printer, 9, reinterpret_cast<LPBYTE>(&none), 0);
        ClosePrinter(printer);
    }
    ok = event != nullptr && event(name.data(), PRINTER_EVENT_INITIALIZE, 0, 0) && ok;
    winsim::SetPrinterJobs(kPrinter, 0);
    winsim::ClearDialogQueue();
    winsim::ClearDialogUserActions();
    winsim::ClearFaults();
    return ok;
}

bool Holdings(std::vector<Holding>* now) {
    winsim::Counts c = winsim::CurrentCounts();
    *now = {{"printer handles", c.printerHandles}, {"handles", c.kernelHandles},
            {"registry keys", c.registryKeys},     {"device sets", c.deviceInfoLists},
            {"heap blocks", c.heapBlocks},         {"global blocks", c.globalBlocks},
            {"local blocks", c.localBlocks},       {"files", c.openFiles},
            {"strings", c.bstrs},                  {"monikers", c.monikers},
            {"threads", winsim::LiveThreadCount()}};
    return true;
}

}  // namespace conformance
