// The stand-in platform's pieces that the monitor relies on: window
// classes and machine-wide windows, the kernel handle registry, the device
// ID request, and larksim's usb and monitor commands.
#include <sys/wait.h>

#include "machine_fixture.h"
#include "monitor_test_support.h"

namespace {

LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM w, LPARAM l) {
    return DefWindowProcW(window, message, w, l);
}

using WinsimMonitorPlatformTest = larktest::MachineTest;

TEST_F(WinsimMonitorPlatformTest, WindowsAreFoundByClassAndTitle) {
    WNDCLASSW c = {};
    c.lpfnWndProc = Procedure;
    c.lpszClassName = TEXT("PrinterStatus");
    ASSERT_NE(RegisterClassW(&c), 0);
    SetLastError(0xdeadbeef);
    EXPECT_EQ(RegisterClassW(&c), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CLASS_ALREADY_EXISTS));
    EXPECT_EQ(CreateWindowExW(0, TEXT("NoClass"), TEXT("x"), 0, 0, 0, 1, 1, nullptr, nullptr,
                              nullptr, nullptr),
              nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CANNOT_FIND_WND_CLASS));
    HWND w = CreateWindowExW(0, TEXT("PrinterStatus"), TEXT("A - Status"), WS_OVERLAPPEDWINDOW, 20,
                             20, 50, 50, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(w, nullptr);
    EXPECT_FALSE(ShowWindow(w, SW_HIDE));
    EXPECT_TRUE(UpdateWindow(w));
    EXPECT_EQ(FindWindowW(TEXT("PrinterStatus"), TEXT("A - Status")), w);
    EXPECT_EQ(FindWindowW(nullptr, TEXT("a - status")), w);
    EXPECT_EQ(FindWindowW(TEXT("PrinterStatus"), TEXT("B - Status")), nullptr);
    EXPECT_TRUE(DestroyWindow(w));
    EXPECT_EQ(FindWindowW(TEXT("PrinterStatus"), TEXT("A - Status")), nullptr);
    EXPECT_FALSE(DestroyWindow(w));
}

TEST_F(WinsimMonitorPlatformTest, CloseHandleKnowsOnlyRegisteredHandles) {
    winsim::UsbDevice d;
    d.deviceIds = {"first", "second"};
    d.failFrom = 4;
    ASSERT_NE(winsim::AddUsbDevice(d), 0);
    const std::u16string path = winsim::UsbDevices()[0].devicePath;
    HANDLE h = CreateFileW(reinterpret_cast<LPCWSTR>(path.c_str()), GENERIC_READ, 0, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(winsim::CurrentCounts().kernelHandles, before_.kernelHandles + 1);
    char reply[8];
    DWORD got = 0;
    const char* expected[] = {"first", "second", "second"};
    for (const char* e : expected) {
        ASSERT_TRUE(DeviceIoControl(h, IOCTL_PAR_QUERY_DEVICE_ID, nullptr, 0, reply, sizeof reply,
                                    &got, nullptr));
        EXPECT_STREQ(reply, e);
    }
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(DeviceIoControl(h, IOCTL_PAR_QUERY_DEVICE_ID, nullptr, 0, reply, sizeof reply,
                                 &got, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DEVICE_NOT_CONNECTED));
    EXPECT_TRUE(CloseHandle(h));
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(CloseHandle(h));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_FALSE(DeviceIoControl(h, IOCTL_PAR_QUERY_DEVICE_ID, nullptr, 0, reply, sizeof reply,
                                 &got, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST_F(WinsimMonitorPlatformTest, LarksimRunsTheMonitorAsATimeline) {
    larktest::InstallPackageAndPrinter(u"Office Photo", u"USB001");
    winsim::SetSetting("sleep_scale", "0.0001");
    larktest::MakeLogFolder();
    std::string out;
    ASSERT_EQ(larktest::RunLarksim("usb add USB 1", &out), 0) << out;
    const std::string jam = larktest::DeviceId("03", "0E");
    ASSERT_EQ(larktest::RunLarksim("usb script USB001 '" + jam + "' '" +
                                       larktest::DeviceId("03", "00") + "' --fail-from 4",
                                   &out),
              0)
        << out;
    ASSERT_EQ(larktest::RunLarksim("monitor 'Office Photo'", &out), 0) << out;
    EXPECT_NE(out.find("poll  1  S:03000000000000000E (0:e)  Paper Jam in the Printer  -> port"
                       " paper jam, warning  -> box shown  (queue: jobs)"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("box: caption \"Office Photo\", style 0x40030"), std::string::npos) << out;
    EXPECT_NE(out.find("poll  4  PrinterStatus: Device id failed  (queue: not read)"),
              std::string::npos)
        << out;
    ASSERT_EQ(larktest::RunLarksim("monitor 'Office Photo' --log", &out), 0) << out;
    EXPECT_NE(out.find("log   PrinterStatus: Device id failed"), std::string::npos) << out;
    EXPECT_NE(out.find("polls: 3, port statuses: 3, boxes: 1"), std::string::npos) << out;
    EXPECT_NE(out.find("exit code 0"), std::string::npos) << out;
    ASSERT_EQ(larktest::RunLarksim("usb unplug USB001", &out), 0) << out;
    EXPECT_FALSE(winsim::UsbDevices()[0].present);
}

}  // namespace
