// Helpers of the driver configuration tests: a machine with the driver
// package installed and a printer stored without any driver call, and
// rewriting the driver's files on disk.
#pragma once

#include <string>

#include "machine_fixture.h"
#include "platform.h"

namespace larktest {

inline constexpr const char16_t* kPrinter = u"Lark Test";

// Installs the package's driver and stores the printer kPrinter on USB001
// (no devmode, no printer data values).
void InstallDriverAndStorePrinter();
// Host path of a file in the driver's version folder.
std::string DriverFileHostPath(const std::string& name);
// Writes raw bytes into a file of the driver's version folder.
void WriteDriverFile(const std::string& name, const std::string& bytes);
void RemoveDriverFile(const std::string& name);
// Adds a file of the version folder to the driver's dependent files, as an
// installation that copied it would have (the driver starts only a monitor
// its own files list).
void ListDriverFile(const std::string& name);
// Stores the default devmode that the driver builds as the printer's.
void StoreBuiltDefaultDevmode();
// A zero-terminated UTF-16 text of the platform's WCHAR.
std::u16string W(const std::string& utf8);
inline WCHAR* Mutable(std::u16string& s) { return s.data(); }
std::string Narrow(const WCHAR* text);

// The printer kPrinter with the package's driver and the driver's own default
// devmode; a table's rows after the first each get a fresh machine (checked
// for leaks by the fixture), and the dialog's queues are cleared.
class DriverMachineTest : public MachineTest {
protected:
    void SetUp() override;
    void TearDown() override;
    template <typename Row>
    void NextMachine(const Row& row, const Row& first) {
        if (&row == &first) return;
        TearDown();
        SetUp();
    }
};

// The printer data value of kPrinter as UTF-8 text; false when not stored.
bool StoredPrinterText(const char16_t* name, std::string* value);

// Owns a printer handle opened by name (no defaults) for a test.
struct OpenedPrinter {
    HANDLE handle = nullptr;
    explicit OpenedPrinter(const char16_t* name = kPrinter);
    ~OpenedPrinter();
    OpenedPrinter(const OpenedPrinter&) = delete;
    OpenedPrinter& operator=(const OpenedPrinter&) = delete;
};

}  // namespace larktest
