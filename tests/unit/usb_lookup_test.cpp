// OpenUsbPrinterDevice over the machine's USB printing interfaces: the port
// name each interface stands for, the first match only, and every failure
// giving INVALID_HANDLE_VALUE with nothing left open.
#include "machine_fixture.h"
#include "polling_loop.h"
#include "usb_device.h"

namespace {

struct Interface {
    const char16_t* base;  // nullptr: no "Base Name" value
    long number;           // -1: no "Port Number" value
    bool present;
    const char* id;  // what the device answers
};

struct LookupCase {
    const char* name;
    std::vector<Interface> interfaces;
    const char16_t* port;
    const char* opened;  // the device ID of the device opened, or nullptr
};

class UsbLookupTest : public larktest::MachineTest {
protected:
    void Add(const Interface& i) {
        winsim::UsbDevice d;
        d.hasBaseName = i.base != nullptr;
        d.baseName = i.base != nullptr ? i.base : u"";
        d.hasPortNumber = i.number >= 0;
        d.portNumber = static_cast<DWORD>(i.number >= 0 ? i.number : 0);
        d.present = i.present;
        d.deviceIds = {i.id};
        ASSERT_NE(winsim::AddUsbDevice(d), 0);
    }
    // The device ID of the opened device, or "" when nothing opened.
    std::string OpenAndAsk(const char16_t* port) {
        HANDLE device = OpenUsbPrinterDevice(reinterpret_cast<LPCWSTR>(port));
        if (device == INVALID_HANDLE_VALUE) return "";
        char reply[kReplyBytes + 1];
        EXPECT_TRUE(ReadDeviceId(device, reply));
        EXPECT_TRUE(CloseHandle(device));
        return reply;
    }
};

TEST_F(UsbLookupTest, FindsTheFirstMatchingInterface) {
    const std::u16string longBase(64, u'Z');
    const LookupCase cases[] = {
        {"plain USB001", {{u"USB", 1, true, "one"}}, u"USB001", "one"},
        {"case ignored", {{u"USB", 1, true, "one"}}, u"usb001", "one"},
        {"second interface",
         {{u"USB", 1, true, "one"}, {u"USB", 2, true, "two"}},
         u"USB002",
         "two"},
        {"no base name gives USB", {{nullptr, 7, true, "seven"}}, u"USB007", "seven"},
        {"no port number gives 000", {{u"USB", -1, true, "zero"}}, u"USB000", "zero"},
        {"four digits not cut", {{u"USB", 1234, true, "big"}}, u"USB1234", "big"},
        {"other base name", {{u"DOT4_", 3, true, "dot"}}, u"DOT4_003", "dot"},
        {"base name too long keeps USB", {{longBase.c_str(), 5, true, "long"}}, u"USB005", "long"},
        {"short base after long one",
         {{u"LONGNAME", 1, true, "a"}, {u"AB", 1, true, "b"}},
         u"AB001",
         "b"},
        {"unplugged first match wins",
         {{u"USB", 1, false, "gone"}, {u"USB", 1, true, "here"}},
         u"USB001",
         nullptr},
        {"no match", {{u"USB", 1, true, "one"}}, u"USB003", nullptr},
        {"no interfaces", {}, u"USB001", nullptr},
        {"empty port name", {{u"USB", 1, true, "one"}}, u"", nullptr},
        {"prefix is not a match", {{u"USB", 1, true, "one"}}, u"USB00", nullptr},
    };
    for (const LookupCase& c : cases) {
        larktest::NewMachine();
        for (const Interface& i : c.interfaces) Add(i);
        EXPECT_EQ(OpenAndAsk(c.port), c.opened != nullptr ? c.opened : "") << c.name;
        winsim::Counts now = winsim::CurrentCounts();
        EXPECT_EQ(now.localBlocks, before_.localBlocks) << c.name;
        EXPECT_EQ(now.registryKeys, before_.registryKeys) << c.name;
        EXPECT_EQ(now.deviceInfoLists, before_.deviceInfoLists) << c.name;
        EXPECT_EQ(now.kernelHandles, before_.kernelHandles) << c.name;
    }
}

TEST_F(UsbLookupTest, EmptyPortNameDoesNotAskSetupApi) {
    Add({u"USB", 1, true, "one"});
    const long calls = winsim::CallCount("SetupDiGetClassDevsW");
    EXPECT_EQ(OpenUsbPrinterDevice(TEXT("")), INVALID_HANDLE_VALUE);
    EXPECT_EQ(winsim::CallCount("SetupDiGetClassDevsW"), calls);
}

TEST_F(UsbLookupTest, EveryFailingStepGivesInvalidHandle) {
    const char* const steps[] = {
        "LocalAlloc",
        "SetupDiGetClassDevsW",
        "SetupDiEnumDeviceInterfaces",
        "CreateFileW",
        "SetupDiGetDeviceInterfaceDetailW",
        "SetupDiOpenDeviceInterfaceRegKey",
    };
    Add({u"USB", 1, true, "one"});
    for (const char* step : steps) {
        winsim::FailCall(step, 1);
        EXPECT_EQ(OpenAndAsk(u"USB001"), "") << step;
        winsim::ClearFaults();
    }
    EXPECT_EQ(OpenAndAsk(u"USB001"), "one");
}

TEST_F(UsbLookupTest, FailedValueReadsKeepTheDefaults) {
    Add({u"LPT", 9, true, "one"});
    winsim::FailCall("RegQueryValueExW", 0, ERROR_ACCESS_DENIED);
    EXPECT_EQ(OpenAndAsk(u"USB000"), "one");
}

}  // namespace
