// The spooler's side of a driver: loading its user-interface module by the
// configuration file path, and adding a printer with the driver calls that
// the spooler makes for it.
#include <dlfcn.h>

#include <map>
#include <mutex>
#include <vector>

#include "internal.h"

namespace winsim {
namespace {

using EntryFn = BOOL (*)(HINSTANCE, DWORD, LPVOID);

// The loader calls a module's entry with its handle at attach and detach,
// as the Windows loader calls DllMain.
void CallEntry(void* library, DWORD reason) {
    if (auto entry = reinterpret_cast<EntryFn>(dlsym(library, "DllMain"))) {
        entry(static_cast<HINSTANCE>(library), reason, nullptr);
    }
}

// The loader lock: Windows calls DllMain with DLL_PROCESS_ATTACH once, when
// the first load maps the module, and DLL_PROCESS_DETACH when the last
// reference goes, never two entries at once. Threads that each load the
// driver (two Printing Preferences at a time) must not re-enter it.
std::mutex g_loaderLock;
std::map<void*, long> g_loads;
std::string g_forbidden;  // why this process loads no driver module, or empty

}  // namespace

void ForbidDriverModules(const std::string& why) {
    std::lock_guard<std::mutex> guard(g_loaderLock);
    g_forbidden = why;
}

DriverModule LoadDriverModule(const std::u16string& configFile) {
    DriverModule module;
    {
        std::lock_guard<std::mutex> guard(g_loaderLock);
        if (!g_forbidden.empty()) {
            module.error = g_forbidden;
            return module;
        }
    }
    std::string host = HostPath(configFile);
    std::lock_guard<std::mutex> guard(g_loaderLock);
    module.library = dlopen(host.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (module.library == nullptr) {
        const char* why = dlerror();
        module.error = why != nullptr ? why : "cannot load " + host;
    } else if (g_loads[module.library]++ == 0) {
        CallEntry(module.library, DLL_PROCESS_ATTACH);
    }
    return module;
}

void* DriverEntry(const DriverModule& module, const char* name) {
    return module.library != nullptr ? dlsym(module.library, name) : nullptr;
}

void UnloadDriverModule(DriverModule& module) {
    if (module.library != nullptr) {
        std::lock_guard<std::mutex> guard(g_loaderLock);
        if (--g_loads[module.library] == 0) {
            g_loads.erase(module.library);
            CallEntry(module.library, DLL_PROCESS_DETACH);
        }
        dlclose(module.library);
    }
    module.library = nullptr;
}

bool AddPrinter(const std::u16string& name, const std::u16string& port,
                const std::u16string& driverName, std::string* error) {
    // Windows' local spooler takes names of up to 220 characters.
    if (name.empty() || name.size() > kMaxPrinterNameUnits ||
        name.find_first_of(u",\\") != std::u16string::npos) {
        SetLastError(ERROR_INVALID_PRINTER_NAME);
        *error = "invalid printer name '" + ToUtf8(name) + "': 1 to " +
                 std::to_string(kMaxPrinterNameUnits) + " characters, none of them ',' or '\\'";
        return false;
    }
    DriverRecord driver;
    if (!GetDriver(driverName, &driver)) {
        *error = "unknown printer driver '" + ToUtf8(driverName) + "'";
        return false;
    }
    PrinterRecord existing;
    if (GetPrinterRecord(name, &existing)) {
        *error = "printer '" + ToUtf8(name) + "' exists already";
        return false;
    }
    PrinterRecord printer;
    printer.name = name;
    printer.port = port;
    printer.driver = driverName;
    if (!StorePrinter(printer)) {
        *error = "cannot store the printer";
        return false;
    }
    // The local spooler takes a printer whose driver does not load, or
    // does not initialise it, back out again: AddPrinter fails and leaves
    // no printer behind.
    auto takeBack = [&](const std::string& why) {
        detail::Exec("DELETE FROM printer_data WHERE printer = ?", {detail::P(name)});
        detail::Exec("DELETE FROM printers WHERE name = ?", {detail::P(name)});
        *error = why + "; the printer was not added";
        return false;
    };
    DriverModule module = LoadDriverModule(driver.configFile);
    if (module.library == nullptr) return takeBack("cannot load the driver: " + module.error);
    // The spooler runs the driver's part of the installation in its own
    // process, with its service's rights, whoever asked for the printer.
    detail::ActingAsSystem spooler;
    std::u16string mutableName = name;
    using ConvertFn = BOOL (*)(LPWSTR, PDEVMODEW, PDEVMODEW, PLONG, DWORD);
    if (auto convert = reinterpret_cast<ConvertFn>(DriverEntry(module, "DrvConvertDevMode"))) {
        LONG size = 0;
        convert(mutableName.data(), nullptr, nullptr, &size, CDM_DRIVER_DEFAULT);
        if (size > 0 && size < 65536) {
            std::vector<uint8_t> devmode(static_cast<size_t>(size));
            if (convert(mutableName.data(), nullptr, reinterpret_cast<PDEVMODEW>(devmode.data()),
                        &size, CDM_DRIVER_DEFAULT)) {
                devmode.resize(static_cast<size_t>(size));
                SetPrinterDevmode(name, devmode);
            }
        }
    }
    using EventFn = BOOL (*)(LPWSTR, INT, DWORD, LPARAM);
    if (auto event = reinterpret_cast<EventFn>(DriverEntry(module, "DrvPrinterEvent"))) {
        if (!event(mutableName.data(), PRINTER_EVENT_INITIALIZE, 0, 0)) {
            DWORD lastError = GetLastError();
            UnloadDriverModule(module);
            takeBack("the driver's DrvPrinterEvent failed to initialise the printer (error " +
                     std::to_string(lastError) + ")");
            SetLastError(lastError);
            return false;
        }
    }
    UnloadDriverModule(module);
    return true;
}

}  // namespace winsim
