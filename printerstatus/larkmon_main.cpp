// The status monitor's entry: the hidden window that marks a running monitor
// for the printer, the start-up checks, then the polling loop. Every road
// ends the process with exit code 0.
#include "debug_log.h"
#include "device_status.h"
#include "platform.h"
#include "polling_loop.h"
#include "scoped.h"
#include "status_message.h"
#include "text.h"
#include "usb_device.h"

namespace {

constexpr size_t kTitleUnits = 256;

LRESULT CALLBACK StatusWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

// The window is never shown and has no message loop: it exists only to be
// found by its title.
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

// GetPrinterW level 2 into a zero-filled heap block of the size the spooler
// reports; an empty owner when any step fails.
HeapBlock<BYTE> ReadPrinterInfo(HANDLE printer, DWORD* bytes) {
    DWORD size = 0;
    GetPrinterW(printer, 2, nullptr, 0, &size);
    if (size == 0) return HeapBlock<BYTE>();
    HeapBlock<BYTE> info = HeapAllocZeroed(size);
    DWORD needed = 0;
    if (!info || !GetPrinterW(printer, 2, info.get(), size, &needed)) return HeapBlock<BYTE>();
    *bytes = size;
    return info;
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
    DWORD infoBytes = 0;
    HeapBlock<BYTE> infoBlock = ReadPrinterInfo(printer.get(), &infoBytes);
    if (!infoBlock) return;
    auto* info = reinterpret_cast<PRINTER_INFO_2W*>(infoBlock.get());
    if (!OnUsbPort(info)) {
        infoBlock.reset();
        WriteDebugLog("Printer is not hooked upto a USB port");
        return;
    }
    WriteDebugLog("PrinterStatus: Getting USB Port");
    // Kept open for the whole run; the end of the process releases it.
    HANDLE device = OpenUsbPrinterDevice(info->pPortName);
    if (device == INVALID_HANDLE_VALUE) {
        infoBlock.reset();
        printer.reset();
        WriteDebugLog("Unable to open USB port");
        return;
    }
    LPWSTR message = PrepareStatusMessage(printer.get());
    SetStatusMessageText(message);
    WriteDebugLog("PrinterStatus: Entering while loop");
    RunPollingLoop(MonitorRun{printerName, printer.get(), info, infoBytes, device});
    infoBlock.reset();
    SetStatusMessageText(DefaultStatusMessage);
    ReleaseStatusMessage(message);
    printer.reset();
    WriteDebugLog("PrinterStatus: Exiting....\n");
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    // The whole command line is the printer name, quotes and spaces included.
    LPWSTR printerName = GetCommandLineW();
    WCHAR title[kTitleUnits];
    TextFormat(title, kTitleUnits, TEXT("%s - Status"), printerName);
    CreateStatusWindow(instance, title);
    WriteDebugLog("PrinterStatus: Entering");
    WatchPrinter(printerName);
    ExitProcess(0);
}
