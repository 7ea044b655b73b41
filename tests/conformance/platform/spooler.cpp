// The spooler as the driver relies on it: its two-call queries and their
// errors, printer handles, printer data stored without the terminator and
// read into zero-filled buffers, the driver's directory, raw jobs, and the
// port status that only winsim's spooler takes.
#include <cstring>
#include <string>
#include <vector>

#include "adapter.h"
#include "conformance.h"
#include "scoped.h"
#ifndef _WIN32
#include "winsim/control.h"
#endif

namespace {

constexpr DWORD kSentinel = 0xdeadbeef;

struct Opened {
    HANDLE handle = nullptr;
    Opened(const WCHAR* name, DWORD access) {
        PRINTER_DEFAULTSW defaults = {nullptr, nullptr, access};
        OpenPrinterW(const_cast<LPWSTR>(name), &handle, access != 0 ? &defaults : nullptr);
    }
    ~Opened() {
        if (handle != nullptr) ClosePrinter(handle);
    }
};

std::basic_string<WCHAR> Folded(std::basic_string<WCHAR> text) {
    for (WCHAR& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<WCHAR>(c - 'A' + 'a');
    }
    return text;
}

}  // namespace

CONFORMANCE_COVERS(Rows,
                   "OpenPrinterW ClosePrinter GetPrinterW GetPrinterDriverW "
                   "GetPrinterDriverDirectoryW GetPrinterDataW SetPrinterDataW StartDocPrinterA "
                   "StartPagePrinter WritePrinter EndPagePrinter EndDocPrinter",
                   nullptr);
CONFORMANCE_COVERS(WinsimRows, "SetPortW", "missing in Wine 8: calling it ends the process");

CONFORMANCE_TABLE(SpoolerQueries, "spooler two-call queries") {
    Opened printer(conformance::kPrinter, 0);
    struct Row {
        const char* name;
        DWORD level;
        bool driver;  // GetPrinterDriverW, else GetPrinterW
    } rows[] = {
        {"GetPrinterW level 2", 2, false},
        {"GetPrinterDriverW level 3", 3, true},
    };
    for (const Row& row : rows) {
        if (!ctx.Begin(row.name)) continue;
        auto query = [&](LPBYTE buffer, DWORD bytes, DWORD* needed) {
            return row.driver ? GetPrinterDriverW(printer.handle, nullptr, row.level, buffer, bytes,
                                                  needed)
                              : GetPrinterW(printer.handle, row.level, buffer, bytes, needed);
        };
        DWORD needed = 0;
        SetLastError(kSentinel);
        ROW_CHECK(!query(nullptr, 0, &needed));
        ROW_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
        if (!ROW_CHECK(needed > 0)) continue;
        std::vector<BYTE> buffer(2 * needed, 0);
        DWORD again = 0;
        SetLastError(kSentinel);
        ROW_CHECK(!query(buffer.data(), needed - 1, &again));
        ROW_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
        ROW_EQ(again, needed);
        ROW_CHECK(query(buffer.data(), needed, &again));
        ROW_CHECK(query(buffer.data(), 2 * needed, &again));
        if (row.driver) {
            const auto* info = reinterpret_cast<const DRIVER_INFO_3W*>(buffer.data());
            ROW_EQ(info->cVersion, 3u);
            if (ROW_CHECK(info->pDataFile != nullptr && info->pConfigFile != nullptr)) {
                ROW_TEXT(Folded(info->pDataFile).c_str(),
                         Folded(conformance::DriverFolder() + conformance::Wide("larkdata.ini"))
                             .c_str());
            }
        } else {
            const auto* info = reinterpret_cast<const PRINTER_INFO_2W*>(buffer.data());
            ROW_TEXT(info->pPrinterName, conformance::kPrinter);
            ROW_TEXT(info->pPortName, "USB001");
            ROW_CHECK(info->pDevMode != nullptr);
        }
    }
    if (ctx.Begin("a closed handle: ERROR_INVALID_HANDLE")) {
        HANDLE h = nullptr;
        ROW_CHECK(OpenPrinterW(const_cast<LPWSTR>(conformance::kPrinter), &h, nullptr));
        ROW_CHECK(ClosePrinter(h));
        DWORD needed = 0;
        SetLastError(kSentinel);
        ROW_CHECK(!GetPrinterW(h, 2, nullptr, 0, &needed));
        ROW_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    }
    if (ctx.Begin("an unknown printer does not open")) {
        HANDLE h = reinterpret_cast<HANDLE>(1);
        SetLastError(kSentinel);
        ROW_CHECK(!OpenPrinterW(const_cast<LPWSTR>(TEXT("No Such Printer")), &h, nullptr));
        ROW_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PRINTER_NAME));
        ROW_CHECK(h == nullptr);
    }
    if (ctx.Begin("a printer name in other letters opens the printer")) {
        Opened printer(TEXT("lARK pHOTO"), 0);
        ROW_CHECK(printer.handle != nullptr);
    }
    if (ctx.Begin("no place for the handle: ERROR_INVALID_PARAMETER")) {
        SetLastError(kSentinel);
        ROW_CHECK(!OpenPrinterW(const_cast<LPWSTR>(conformance::kPrinter), nullptr, nullptr));
        ROW_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    }
    if (ctx.Begin("a handle closed twice: ERROR_INVALID_HANDLE")) {
        HANDLE h = nullptr;
        ROW_CHECK(OpenPrinterW(const_cast<LPWSTR>(conformance::kPrinter), &h, nullptr));
        ROW_CHECK(ClosePrinter(h));
        SetLastError(kSentinel);
        ROW_CHECK(!ClosePrinter(h));
        ROW_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    }
    if (ctx.Begin("the printer on LPT1: names its port")) {
        Opened lpt(conformance::kLptPrinter, 0);
        DWORD needed = 0;
        GetPrinterW(lpt.handle, 2, nullptr, 0, &needed);
        std::vector<BYTE> buffer(needed, 0);
        if (ROW_CHECK(needed > 0 && GetPrinterW(lpt.handle, 2, buffer.data(), needed, &needed))) {
            const auto* info = reinterpret_cast<const PRINTER_INFO_2W*>(buffer.data());
            ROW_TEXT(info->pPortName, "LPT1:");
            ROW_EQ(info->cJobs, 0u);
        }
    }
    if (ctx.Begin("the stored default devmode is the driver's whole record")) {
        Opened printer(conformance::kPrinter, 0);
        DWORD needed = 0;
        GetPrinterW(printer.handle, 2, nullptr, 0, &needed);
        std::vector<BYTE> buffer(needed, 0);
        if (ROW_CHECK(GetPrinterW(printer.handle, 2, buffer.data(), needed, &needed))) {
            const DEVMODEW* dm = reinterpret_cast<const PRINTER_INFO_2W*>(buffer.data())->pDevMode;
            if (ROW_CHECK(dm != nullptr)) {
                // All of it is in the buffer, after the record.
                const BYTE* at = reinterpret_cast<const BYTE*>(dm);
                ROW_CHECK(at >= buffer.data() + sizeof(PRINTER_INFO_2W) &&
                          at + 2328 <= buffer.data() + needed);
                ROW_EQ(dm->dmSize, 220);
                ROW_EQ(dm->dmDriverExtra, 2108);
                ROW_TEXT(dm->dmDeviceName, conformance::kPrinter);
            }
        }
    }
    if (ctx.Begin("closing through the owner keeps the last error")) {
        {
            ScopedPrinter printer =
                OpenPrinterScoped(const_cast<LPWSTR>(conformance::kPrinter), nullptr);
            ROW_CHECK(printer != nullptr);
            SetLastError(1234);
        }
        ROW_EQ(GetLastError(), 1234u);
    }
}

CONFORMANCE_TABLE(PrinterDataValues, "printer data values") {
    const WCHAR* name = TEXT("ConformanceValue");
    Opened admin(conformance::kPrinter, PRINTER_ACCESS_ADMINISTER);
    Opened reader(conformance::kPrinter, 0);
    auto set = [&](DWORD type, const void* data, DWORD bytes) {
        return SetPrinterDataW(admin.handle, const_cast<LPWSTR>(name), type,
                               static_cast<LPBYTE>(const_cast<void*>(data)), bytes);
    };
    auto get = [&](DWORD* type, void* data, DWORD bytes, DWORD* needed) {
        return GetPrinterDataW(reader.handle, const_cast<LPWSTR>(name), type,
                               static_cast<LPBYTE>(data), bytes, needed);
    };
    struct Row {
        const char* name;
        conformance::Where where;
        WCHAR text[8];  // "Lark" counted, then what follows it in the caller's buffer
        DWORD neededOnWine;
    } rows[] = {
        {"a string stored without its terminator, the unit after it not zero",
         conformance::kBoth,
         {'L', 'a', 'r', 'k', 'X', 0},
         8},
        {"a string stored without its terminator, a zero after it",
         conformance::WineDiffers(
             "Wine's spooler writes the registry from the caller's process with the caller's "
             "buffer, where RegSetValueExW (Windows' as well) counts a terminator the caller did "
             "not when the unit after the counted text is zero; Windows' spooler is handed the "
             "counted bytes only"),
         {'L', 'a', 'r', 'k', 0},
         10},
    };
    for (const Row& row : rows) {
        if (!ctx.Begin(row.name, row.where)) continue;
        const DWORD stored = ctx.WineExpectation() ? row.neededOnWine : 8;
        ROW_EQ(set(REG_SZ, row.text, 8), static_cast<DWORD>(ERROR_SUCCESS));
        DWORD type = 0, needed = 0;
        SetLastError(kSentinel);
        ROW_EQ(get(&type, nullptr, 0, &needed), static_cast<DWORD>(ERROR_MORE_DATA));
        ROW_EQ(needed, stored);
        ROW_EQ(GetLastError(), kSentinel);
        WCHAR zeroed[8] = {};
        ROW_EQ(get(&type, zeroed, sizeof zeroed, &needed), static_cast<DWORD>(ERROR_SUCCESS));
        ROW_EQ(needed, stored);
        ROW_EQ(type, static_cast<DWORD>(REG_SZ));
        ROW_TEXT(zeroed, "Lark");
        ROW_EQ(zeroed[5], 0);
        // A buffer of exactly the counted bytes: the text comes back without
        // a terminator, nothing written after it; the reader ends it.
        WCHAR exact[8] = {'Z', 'Z', 'Z', 'Z', 'Z', 'Z', 'Z', 'Z'};
        ROW_EQ(get(&type, exact, 8, &needed),
               static_cast<DWORD>(stored == 8 ? ERROR_SUCCESS : ERROR_MORE_DATA));
        if (stored == 8) {
            ROW_CHECK(exact[0] == 'L' && exact[3] == 'k' && exact[4] == 'Z');
        }
        conformance::RemovePrinterValue(name);
    }
    if (ctx.Begin("a short buffer: ERROR_MORE_DATA and the size needed")) {
        const WCHAR text[] = {'L', 'a', 'r', 'k', 'X'};
        ROW_EQ(set(REG_SZ, text, 8), static_cast<DWORD>(ERROR_SUCCESS));
        BYTE small[4] = {};
        DWORD needed = 0;
        ROW_EQ(get(nullptr, small, sizeof small, &needed), static_cast<DWORD>(ERROR_MORE_DATA));
        ROW_EQ(needed, 8u);
        conformance::RemovePrinterValue(name);
    }
    if (ctx.Begin("REG_DWORD: four bytes and their type")) {
        const DWORD resolution = 0x012C0258;
        ROW_EQ(set(REG_DWORD, &resolution, 4), static_cast<DWORD>(ERROR_SUCCESS));
        DWORD out = 0, type = 0, needed = 0;
        ROW_EQ(get(&type, &out, 2, &needed), static_cast<DWORD>(ERROR_MORE_DATA));
        ROW_EQ(needed, 4u);
        ROW_EQ(get(&type, &out, 4, &needed), static_cast<DWORD>(ERROR_SUCCESS));
        ROW_EQ(out, resolution);
        ROW_EQ(type, static_cast<DWORD>(REG_DWORD));
        conformance::RemovePrinterValue(name);
    }
    if (ctx.Begin("a missing value: ERROR_FILE_NOT_FOUND, the last error left alone")) {
        DWORD out = 0, needed = 0;
        SetLastError(kSentinel);
        ROW_EQ(GetPrinterDataW(reader.handle, const_cast<LPWSTR>(TEXT("NoSuchValue")), nullptr,
                               reinterpret_cast<LPBYTE>(&out), 4, &needed),
               static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
        ROW_EQ(GetLastError(), kSentinel);
    }
    if (ctx.Begin("writing needs a handle opened for PRINTER_ACCESS_ADMINISTER",
                  conformance::WineDiffers("Wine's spooler does not look at the access a "
                                           "handle was opened with"))) {
        const DWORD value = 1;
        DWORD result = SetPrinterDataW(reader.handle, const_cast<LPWSTR>(name), REG_DWORD,
                                       reinterpret_cast<LPBYTE>(const_cast<DWORD*>(&value)), 4);
        ROW_EQ(result,
               static_cast<DWORD>(ctx.WineExpectation() ? ERROR_SUCCESS : ERROR_ACCESS_DENIED));
        conformance::RemovePrinterValue(name);
    }
    if (ctx.Begin("a closed handle: ERROR_INVALID_HANDLE")) {
        HANDLE h = nullptr;
        ROW_CHECK(OpenPrinterW(const_cast<LPWSTR>(conformance::kPrinter), &h, nullptr));
        ClosePrinter(h);
        DWORD out = 0, needed = 0;
        ROW_EQ(GetPrinterDataW(h, const_cast<LPWSTR>(TEXT("Resolution")), nullptr,
                               reinterpret_cast<LPBYTE>(&out), 4, &needed),
               static_cast<DWORD>(ERROR_INVALID_HANDLE));
        ROW_EQ(SetPrinterDataW(h, const_cast<LPWSTR>(name), REG_DWORD,
                               reinterpret_cast<LPBYTE>(&out), 4),
               static_cast<DWORD>(ERROR_INVALID_HANDLE));
    }
}

CONFORMANCE_TABLE(DriverDirectory, "the printer driver directory") {
    DWORD needed = 0;
    if (ctx.Begin("size query: ERROR_INSUFFICIENT_BUFFER and the path's bytes")) {
        SetLastError(kSentinel);
        ROW_CHECK(!GetPrinterDriverDirectoryW(nullptr, nullptr, 1, nullptr, 0, &needed));
        ROW_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
        ROW_CHECK(needed > 2 && needed % 2 == 0);
    }
    std::vector<BYTE> buffer(needed + 2, 0);
    if (ctx.Begin("one byte short fails; the exact size answers the path") && needed > 2) {
        DWORD again = 0;
        SetLastError(kSentinel);
        ROW_CHECK(
            !GetPrinterDriverDirectoryW(nullptr, nullptr, 1, buffer.data(), needed - 1, &again));
        ROW_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
        ROW_EQ(again, needed);
        ROW_CHECK(GetPrinterDriverDirectoryW(nullptr, nullptr, 1, buffer.data(), needed, &again));
        const auto* path = reinterpret_cast<const WCHAR*>(buffer.data());
        std::basic_string<WCHAR> text(path);
        ROW_EQ(text.size() * 2 + 2, static_cast<size_t>(needed));
        const std::basic_string<WCHAR> tail = conformance::Wide("\\spool\\drivers\\x64");
        ROW_CHECK(text.size() > tail.size() &&
                  Folded(text).compare(text.size() - tail.size(), tail.size(), tail) == 0);
        ROW_NOTE("%s", conformance::Narrow(path).c_str());
    }
    if (ctx.Begin("the driver's version folder is below it, named by cVersion")) {
        std::basic_string<WCHAR> dir = reinterpret_cast<const WCHAR*>(buffer.data());
        std::basic_string<WCHAR> folder = conformance::DriverFolder();
        ROW_TEXT(Folded(folder).c_str(), Folded(dir + conformance::Wide("\\3\\")).c_str());
    }
    if (ctx.Begin("the driver's 512-byte buffer holds it")) {
        BYTE path[512];
        ROW_CHECK(GetPrinterDriverDirectoryW(nullptr, nullptr, 1, path, sizeof path, &needed));
    }
    if (ctx.Begin("level 2: ERROR_INVALID_LEVEL")) {
        BYTE path[512];
        SetLastError(kSentinel);
        ROW_CHECK(!GetPrinterDriverDirectoryW(nullptr, nullptr, 2, path, sizeof path, &needed));
        ROW_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_LEVEL));
    }
}

CONFORMANCE_TABLE(RawJobs, "raw jobs") {
    Opened printer(conformance::kPrinter, 0);
    if (ctx.Begin(
            "a page before a document: ERROR_SPL_NO_STARTDOC",
            conformance::WineDiffers("Wine's StartPagePrinter is a stub that answers TRUE"))) {
        SetLastError(kSentinel);
        ROW_EQ(StartPagePrinter(printer.handle), ctx.WineExpectation() ? TRUE : FALSE);
        ROW_EQ(GetLastError(),
               ctx.WineExpectation() ? kSentinel : static_cast<DWORD>(ERROR_SPL_NO_STARTDOC));
    }
    if (ctx.Begin("one RAW document of one page and one write",
                  conformance::WineDiffers("Wine's spooler cannot deliver a job to USB001, a port "
                                           "with no device behind it: EndDocPrinter fails and the "
                                           "job is dropped (a file port takes the bytes)"))) {
        char document[] = "Sample Page";
        char datatype[] = "RAW";
        DOC_INFO_1A info = {document, nullptr, datatype};
        DWORD job = StartDocPrinterA(printer.handle, 1, reinterpret_cast<LPBYTE>(&info));
        ROW_CHECK(job != 0);
        ROW_CHECK(StartPagePrinter(printer.handle));
        char data[] = "\x1b%-12345X@PJL\r\n";
        DWORD written = 0;
        ROW_CHECK(WritePrinter(printer.handle, data, sizeof data - 1, &written));
        ROW_EQ(written, static_cast<DWORD>(sizeof data - 1));
        ROW_CHECK(EndPagePrinter(printer.handle));
        ROW_EQ(EndDocPrinter(printer.handle), ctx.WineExpectation() ? FALSE : TRUE);
#ifndef _WIN32
        std::vector<winsim::JobRecord> jobs = winsim::Jobs(conformance::kPrinter);
        if (ROW_CHECK(jobs.size() == 1)) {
            ROW_BYTES(std::string(jobs[0].data.begin(), jobs[0].data.end()),
                      std::string(data, sizeof data - 1));
            ROW_EQ(jobs[0].pages, 1u);
            ROW_CHECK(jobs[0].ended);
        }
#endif
    }
}

CONFORMANCE_TABLE(PortStatus, "port status") {
    const char* why = "SetPortW is missing in Wine 8: calling it ends the process";
    // Only an administrator whose token is elevated, or SYSTEM, may set a
    // port's status: the tables run as an elevated administrator, and the
    // rights table plays every other user.
    struct Row {
        const char* name;
        const WCHAR* port;
        DWORD level;
        bool elevated;
        bool ok;
        DWORD error;
    } rows[] = {
        {"level 3 of the printer's port, elevated: recorded", TEXT("USB001"), 3, true, true, 0},
        {"level 3 of the printer's port, not elevated: ERROR_ACCESS_DENIED", TEXT("USB001"), 3,
         false, false, ERROR_ACCESS_DENIED},
        {"a port nobody uses: ERROR_UNKNOWN_PORT", TEXT("USB077"), 3, true, false,
         ERROR_UNKNOWN_PORT},
        {"level 1: ERROR_INVALID_LEVEL", TEXT("USB001"), 1, true, false, ERROR_INVALID_LEVEL},
    };
    for (const Row& row : rows) {
        if (!ctx.Begin(row.name, conformance::WinsimOnly(why))) continue;
#ifndef _WIN32
        if (!row.elevated) winsim::SetProcessUser(winsim::UserKind::Admin);
        WCHAR text[] = u"Paper Jam";
        PORT_INFO_3W info = {PORT_STATUS_PAPER_JAM, text, PORT_STATUS_TYPE_WARNING};
        size_t before = winsim::PortStatuses().size();
        SetLastError(kSentinel);
        BOOL ok = SetPortW(nullptr, const_cast<LPWSTR>(row.port), row.level,
                           reinterpret_cast<LPBYTE>(&info));
        if (!row.elevated) winsim::ClearProcessUser();
        ROW_EQ(ok, row.ok ? TRUE : FALSE);
        ROW_EQ(GetLastError(), row.ok ? kSentinel : row.error);
        std::vector<winsim::PortStatusRecord> statuses = winsim::PortStatuses();
        // A refused status stays in the machine's record, marked refused.
        ROW_EQ(statuses.size(), before + (row.ok || !row.elevated ? 1 : 0));
        if (!row.elevated && statuses.size() > before) {
            ROW_EQ(statuses.back().error, static_cast<DWORD>(ERROR_ACCESS_DENIED));
        }
        if (row.ok && statuses.size() > before) {
            ROW_EQ(statuses.back().status, static_cast<DWORD>(PORT_STATUS_PAPER_JAM));
            ROW_EQ(statuses.back().severity, static_cast<DWORD>(PORT_STATUS_TYPE_WARNING));
            ROW_TEXT(statuses.back().text.c_str(), text);
        }
#endif
    }
}
