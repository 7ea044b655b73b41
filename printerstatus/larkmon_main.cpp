// The status monitor's entry: the hidden window that marks a running monitor
// for the printer, the start-up checks, then the polling loop. Every road
// ends the process with exit code 0.
#include "debug_log.h"
#include "device_status.h"
#include "platform.h"
#include "polling_loop.h"
#include "scoped.h"
#include "spooler_query.h"
#include "status_message.h"
#include "status_window.h"
#include "usb_device.h"

namespace {

LRESULT CALLBACK StatusWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    // Any process can send WM_CLOSE; the window marks this running monitor
    // until it ends, so it is not closed from outside (a later STARTDOC
    // would start a second monitor for the printer).
    if (message == WM_CLOSE) return 0;
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

// The window is never shown: it exists to be found by its title. Its
// messages are answered while the polling loop waits between polls.
void CreateStatusWindow(HINSTANCE instance, LPCWSTR title) {
    WNDCLASSW windowClass = {};
    windowClass.style = CS_VREDRAW | CS_HREDRAW | CS_SAVEBITS;
    windowClass.lpfnWndProc = StatusWindowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconW(nullptr, IDI_APPLICATION);
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    windowClass.lpszClassName = TEXT("PrinterStatus");
    RegisterClassW(&windowClass);
    HWND window = CreateWindowExW(0, TEXT("PrinterStatus"), title, WS_OVERLAPPEDWINDOW, 20, 20, 50,
                                  50, nullptr, nullptr, instance, nullptr);
    ShowWindow(window, SW_HIDE);
    UpdateWindow(window);
}

bool OnUsbPort(const PRINTER_INFO_2W* info) {
    const WCHAR* port = info->pPortName;
    return port != nullptr && port[0] == 'U' && port[1] == 'S' && port[2] == 'B';
}

// Start-up from opening the printer on, and the polling loop.
void WatchPrinter(LPWSTR printerName) {
    ScopedPrinter printer = OpenPrinterScoped(printerName, nullptr);
    if (!printer) {
        WriteDebugLog("Unable to open printer");
        return;
    }
    // Only a size is asked of the first call: the fetch decides. The block is
    // the one every poll reads the record into again.
    QueriedBlock infoBlock = QueryPrinterInfo2(printer.get(), SizeQuery::SizeOnly);
    if (!infoBlock.data) return;
    auto* info = reinterpret_cast<PRINTER_INFO_2W*>(infoBlock.data.get());
    if (!OnUsbPort(info)) {
        infoBlock.data.reset();
        WriteDebugLog("Printer is not hooked upto a USB port");
        return;
    }
    WriteDebugLog("PrinterStatus: Getting USB Port");
    // Kept open for the whole run; the end of the process releases it.
    HANDLE device = OpenUsbPrinterDevice(info->pPortName);
    if (device == INVALID_HANDLE_VALUE) {
        infoBlock.data.reset();
        printer.reset();
        WriteDebugLog("Unable to open USB port");
        return;
    }
    LPWSTR message = PrepareStatusMessage(printer.get());
    SetStatusMessageText(message);
    WriteDebugLog("PrinterStatus: Entering while loop");
    RunPollingLoop(MonitorRun{printerName, printer.get(), info, infoBlock.bytes, device});
    infoBlock.data.reset();
    SetStatusMessageText(DefaultStatusMessage);
    ReleaseStatusMessage(message);
    printer.reset();
    WriteDebugLog("PrinterStatus: Exiting....\n");
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    // The whole command line is the printer name, quotes and spaces included.
    LPWSTR printerName = GetCommandLineW();
    WCHAR title[kStatusWindowTitleUnits];
    FormatStatusWindowTitle(title, printerName);
    CreateStatusWindow(instance, title);
    WriteDebugLog("PrinterStatus: Entering");
    WatchPrinter(printerName);
    ExitProcess(0);
}
