// DocumentPropertiesW, the application's road to the driver's document
// settings, as the spooler takes it: it loads the printer's driver module
// by its configuration file and asks DrvDocumentPropertySheets first for
// the size of its devmode (no property sheet, fMode 0), which is also the
// size the caller's output buffer is taken to have. Mode 0 answers that
// size; without DM_IN_PROMPT the driver is called once more directly;
// with it, the driver's sheets run under CommonPropertySheetUIW and the
// answer is IDOK or IDCANCEL by how the sheet closed. The spooler's
// reference on the module goes before the call returns, whatever threads
// the driver started still run: a thread that must outlive the call holds
// the module itself.
#include <vector>

#include "window_internal.h"

namespace {

using SheetsFn = LONG(CALLBACK*)(PPROPSHEETUI_INFO, LPARAM);

// The printer's name and its driver's configuration file, by the two-call
// queries an application would make.
bool PrinterDriver(HANDLE printer, std::u16string* name, std::u16string* configFile) {
    DWORD needed = 0;
    GetPrinterW(printer, 2, nullptr, 0, &needed);
    if (needed == 0) return false;
    std::vector<BYTE> info(needed);
    if (!GetPrinterW(printer, 2, info.data(), needed, &needed)) return false;
    *name = winsim::detail::Str(reinterpret_cast<PRINTER_INFO_2W*>(info.data())->pPrinterName);
    needed = 0;
    GetPrinterDriverW(printer, nullptr, 3, nullptr, 0, &needed);
    if (needed == 0) return false;
    std::vector<BYTE> driver(needed);
    if (!GetPrinterDriverW(printer, nullptr, 3, driver.data(), needed, &needed)) return false;
    *configFile =
        winsim::detail::Str(reinterpret_cast<DRIVER_INFO_3W*>(driver.data())->pConfigFile);
    return true;
}

LONG Run(HWND window, SheetsFn sheets, HANDLE printer, LPWSTR printerName, PDEVMODEW output,
         PDEVMODEW input, DWORD mode) {
    DOCUMENTPROPERTYHEADER header{};
    header.cbSize = sizeof header;
    header.hPrinter = printer;
    header.pszPrinterName = printerName;
    header.pdmIn = input;
    LONG size = sheets(nullptr, reinterpret_cast<LPARAM>(&header));
    if (mode == 0) return size;
    if (output != nullptr && size <= 0) return -1;
    header.pdmOut = output;
    header.cbOut = output != nullptr ? static_cast<DWORD>(size) : 0;
    header.fMode = mode;
    if ((mode & DM_IN_PROMPT) == 0) {
        return sheets(nullptr, reinterpret_cast<LPARAM>(&header)) > 0 ? IDOK : -1;
    }
    DWORD result = CPSUI_CANCEL;
    if (CommonPropertySheetUIW(window, sheets, reinterpret_cast<LPARAM>(&header), &result) < 0)
        return -1;
    return result == CPSUI_OK ? IDOK : IDCANCEL;
}

}  // namespace

// With no printer handle, the printer is opened by deviceName for the call.
WINSIM_API LONG WINAPI DocumentPropertiesW(HWND window, HANDLE printer, LPWSTR deviceName,
                                           PDEVMODEW output, PDEVMODEW input, DWORD mode) {
    if (winsim::detail::Faulted("DocumentPropertiesW")) return -1;
    HANDLE opened = nullptr;
    if (printer == nullptr) {
        if (!OpenPrinterW(deviceName, &opened, nullptr)) return -1;
        printer = opened;
    }
    LONG answer = -1;
    std::u16string name, configFile;
    if (PrinterDriver(printer, &name, &configFile)) {
        if (deviceName != nullptr) name = deviceName;
        winsim::DriverModule module = winsim::LoadDriverModule(configFile);
        auto sheets =
            reinterpret_cast<SheetsFn>(winsim::DriverEntry(module, "DrvDocumentPropertySheets"));
        if (module.library == nullptr) {
            SetLastError(ERROR_MOD_NOT_FOUND);
        } else if (sheets == nullptr) {
            SetLastError(ERROR_PROC_NOT_FOUND);
        } else {
            answer = Run(window, sheets, printer, name.data(), output, input, mode);
        }
        DWORD error = GetLastError();
        winsim::UnloadDriverModule(module);
        SetLastError(error);
    }
    if (opened != nullptr) {
        DWORD error = GetLastError();
        ClosePrinter(opened);
        SetLastError(error);
    }
    return answer;
}

// DeviceCapabilitiesW, an application's question about the printer: the
// spooler opens the printer by its name, loads its driver module and answers
// what DrvDeviceCapabilities answers for the opened handle, the name, the
// capability, the output and the devmode; the port is not the driver's to
// see. -1 when the printer or its driver cannot be had.
WINSIM_API int WINAPI DeviceCapabilitiesW(LPCWSTR device, LPCWSTR, WORD capability, LPWSTR output,
                                          const DEVMODEW* devmode) {
    using CapsFn = DWORD(WINAPI*)(HANDLE, LPWSTR, WORD, PVOID, PDEVMODEW);
    if (device == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return -1;
    }
    std::u16string name = device;
    HANDLE printer = nullptr;
    if (!OpenPrinterW(name.data(), &printer, nullptr)) return -1;
    int answer = -1;
    std::u16string printerName, configFile;
    if (PrinterDriver(printer, &printerName, &configFile)) {
        winsim::DriverModule module = winsim::LoadDriverModule(configFile);
        auto caps = reinterpret_cast<CapsFn>(winsim::DriverEntry(module, "DrvDeviceCapabilities"));
        if (module.library == nullptr) {
            SetLastError(ERROR_MOD_NOT_FOUND);
        } else if (caps == nullptr) {
            SetLastError(ERROR_PROC_NOT_FOUND);
        } else {
            answer = static_cast<int>(
                caps(printer, name.data(), capability, output, const_cast<PDEVMODEW>(devmode)));
        }
        DWORD error = GetLastError();
        winsim::UnloadDriverModule(module);
        SetLastError(error);
    }
    DWORD error = GetLastError();
    ClosePrinter(printer);
    SetLastError(error);
    return answer;
}
