// The spooler's side of a driver: adding a printer with the driver calls
// that the spooler makes for it (the module loads as LoadLibraryW loads
// it, modules.cpp).
#include <vector>

#include "internal.h"

namespace winsim {

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
