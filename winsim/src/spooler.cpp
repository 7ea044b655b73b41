// The print spooler: printers, drivers and printer data values, kept in the
// machine database so that every process of the machine sees one spooler.
#include <cstring>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "internal.h"

using winsim::detail::CountDown;
using winsim::detail::CountUp;
using winsim::detail::Exec;
using winsim::detail::Faulted;
using winsim::detail::Held;
using winsim::detail::P;
using winsim::detail::PBlob;
using winsim::detail::Str;

namespace {

struct PrinterHandle {
    std::u16string name;  // empty for the print server's handle
    DWORD access;
    int64_t job = 0;  // the raw job started on this handle, 0 when none
};

std::mutex g_handleLock;
std::unordered_map<void*, PrinterHandle*> g_handles;

// The open handle's record, or nullptr (ERROR_INVALID_HANDLE set) for a
// handle that is null, closed or never was.
bool LookUp(HANDLE printer, PrinterHandle* out) {
    std::lock_guard<std::mutex> guard(g_handleLock);
    auto it = g_handles.find(printer);
    if (it == g_handles.end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    *out = *it->second;
    return true;
}

// A printer's handle: the server's does not serve the calls of a printer.
bool LookUpPrinter(HANDLE printer, PrinterHandle* out) {
    if (!LookUp(printer, out)) return false;
    if (!out->name.empty()) return true;
    SetLastError(ERROR_INVALID_HANDLE);
    return false;
}

// Lays out a record with its strings behind it, as the spooler returns them.
class Packer {
public:
    explicit Packer(size_t fixed) : size_(fixed) {}
    // Reserves room for a text; the pointer is fixed up in Write.
    void Text(const std::u16string& s) {
        size_ = Align(size_, 2);
        texts_.push_back({size_, s});
        size_ += (s.size() + 1) * 2;
    }
    size_t Blob(const std::vector<uint8_t>& b) {
        size_ = Align(size_, 8);
        size_t at = size_;
        blobs_.push_back({at, b});
        size_ += b.size();
        return at;
    }
    size_t Size() const { return size_; }
    // Copies the texts into buffer; returns their addresses in order.
    std::vector<WCHAR*> Write(BYTE* buffer) const {
        std::vector<WCHAR*> out;
        for (const auto& t : texts_) {
            std::memcpy(buffer + t.first, t.second.c_str(), (t.second.size() + 1) * 2);
            out.push_back(reinterpret_cast<WCHAR*>(buffer + t.first));
        }
        for (const auto& b : blobs_)
            std::memcpy(buffer + b.first, b.second.data(), b.second.size());
        return out;
    }

private:
    static size_t Align(size_t n, size_t a) { return (n + a - 1) / a * a; }
    size_t size_;
    std::vector<std::pair<size_t, std::u16string>> texts_;
    std::vector<std::pair<size_t, std::vector<uint8_t>>> blobs_;
};

// The spooler's answer to a buffer that is too small: the size needed and
// ERROR_INSUFFICIENT_BUFFER.
bool Fits(size_t size, DWORD bytes, LPBYTE buffer, LPDWORD needed) {
    if (needed != nullptr) *needed = static_cast<DWORD>(size);
    if (buffer == nullptr || bytes < size) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return false;
    }
    return true;
}

// The rights the default security of a printer or of the server gives the
// caller: Administrators and SYSTEM manage them (and the documents), Everyone
// prints and enumerates. A token that is not elevated has Everyone's only.
DWORD Granted(bool server) {
    if (winsim::detail::CallerIsAdministrator()) {
        return server ? SERVER_ALL_ACCESS : PRINTER_ALL_ACCESS | PRINTER_ACCESS_MANAGE_LIMITED;
    }
    return server ? SERVER_EXECUTE : PRINTER_EXECUTE;
}

// Generic rights in the spooler's own, as its generic mapping has them.
DWORD Mapped(DWORD access, bool server) {
    DWORD out =
        access & ~static_cast<DWORD>(GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE | GENERIC_ALL);
    if (access & GENERIC_READ) out |= server ? SERVER_READ : PRINTER_READ;
    if (access & GENERIC_WRITE) out |= server ? SERVER_WRITE : PRINTER_WRITE;
    if (access & GENERIC_EXECUTE) out |= server ? SERVER_EXECUTE : PRINTER_EXECUTE;
    if (access & GENERIC_ALL) out |= server ? SERVER_ALL_ACCESS : PRINTER_ALL_ACCESS;
    return out;
}

}  // namespace

WINSIM_API BOOL WINAPI OpenPrinterW(LPWSTR name, LPHANDLE printer, LPPRINTER_DEFAULTSW defaults) {
    if (printer == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *printer = nullptr;
    if (Faulted("OpenPrinterW")) return FALSE;
    const bool server = name == nullptr;
    winsim::PrinterRecord record;
    if (!server && !winsim::GetPrinterRecord(name, &record)) {
        SetLastError(ERROR_INVALID_PRINTER_NAME);
        return FALSE;
    }
    const DWORD granted = Granted(server);
    DWORD access = defaults != nullptr
                       ? Mapped(defaults->DesiredAccess, server)
                       : static_cast<DWORD>(server ? SERVER_ACCESS_ENUMERATE : PRINTER_ACCESS_USE);
    if (access & MAXIMUM_ALLOWED)
        access = (access & ~static_cast<DWORD>(MAXIMUM_ALLOWED)) | granted;
    if ((access & ~granted) != 0) {
        winsim::detail::RecordRefusal("OpenPrinterW", server ? u"" : record.name);
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    auto* h = new PrinterHandle{record.name, access, 0};
    {
        std::lock_guard<std::mutex> guard(g_handleLock);
        g_handles[h] = h;
    }
    CountUp(Held::PrinterHandle);
    *printer = h;
    return TRUE;
}

WINSIM_API BOOL WINAPI ClosePrinter(HANDLE printer) {
    std::lock_guard<std::mutex> guard(g_handleLock);
    auto it = g_handles.find(printer);
    if (it == g_handles.end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    delete it->second;
    g_handles.erase(it);
    CountDown(Held::PrinterHandle);
    return TRUE;
}

WINSIM_API BOOL WINAPI GetPrinterW(HANDLE printer, DWORD level, LPBYTE buffer, DWORD bytes,
                                   LPDWORD needed) {
    PrinterHandle h;
    if (!LookUpPrinter(printer, &h) || Faulted("GetPrinterW")) return FALSE;
    if (level != 2) {
        SetLastError(ERROR_INVALID_LEVEL);
        return FALSE;
    }
    winsim::PrinterRecord record;
    if (!winsim::GetPrinterRecord(h.name, &record)) {
        SetLastError(ERROR_INVALID_PRINTER_NAME);
        return FALSE;
    }
    Packer pack(sizeof(PRINTER_INFO_2W));
    pack.Text(record.name);
    pack.Text(record.port);
    pack.Text(record.driver);
    pack.Text(u"winprint");
    pack.Text(u"RAW");
    const std::vector<uint8_t> devmode = winsim::DefaultDevmode(record);
    size_t devmodeAt = devmode.empty() ? 0 : pack.Blob(devmode);
    if (!Fits(pack.Size(), bytes, buffer, needed)) return FALSE;
    std::memset(buffer, 0, sizeof(PRINTER_INFO_2W));
    std::vector<WCHAR*> texts = pack.Write(buffer);
    auto* info = reinterpret_cast<PRINTER_INFO_2W*>(buffer);
    info->pPrinterName = texts[0];
    info->pPortName = texts[1];
    info->pDriverName = texts[2];
    info->pPrintProcessor = texts[3];
    info->pDatatype = texts[4];
    info->pDevMode = devmodeAt != 0 ? reinterpret_cast<DEVMODEW*>(buffer + devmodeAt) : nullptr;
    info->cJobs = record.jobs;
    return TRUE;
}

WINSIM_API BOOL WINAPI SetPrinterW(HANDLE printer, DWORD level, LPBYTE info, DWORD command) {
    PrinterHandle h;
    if (!LookUpPrinter(printer, &h) || Faulted("SetPrinterW")) return FALSE;
    if (level != 9) {
        SetLastError(ERROR_INVALID_LEVEL);
        return FALSE;
    }
    const auto* record = reinterpret_cast<const PRINTER_INFO_9W*>(info);
    if (record == nullptr || command != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::vector<uint8_t> devmode;
    if (const DEVMODEW* dm = record->pDevMode) {
        if (dm->dmSize < offsetof(DEVMODEW, dmFields)) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        const auto* bytes = reinterpret_cast<const uint8_t*>(dm);
        devmode.assign(bytes, bytes + dm->dmSize + dm->dmDriverExtra);
    }
    // A null devmode takes the user's own away: the global one shows again.
    if (!Exec("UPDATE printers SET user_devmode = ? WHERE name = ?",
              {PBlob(devmode.empty() ? nullptr : devmode.data(), devmode.size()), P(h.name)})) {
        SetLastError(ERROR_INVALID_PRINTER_NAME);
        return FALSE;
    }
    return TRUE;
}

WINSIM_API BOOL WINAPI GetPrinterDriverW(HANDLE printer, LPWSTR, DWORD level, LPBYTE buffer,
                                         DWORD bytes, LPDWORD needed) {
    PrinterHandle h;
    if (!LookUpPrinter(printer, &h) || Faulted("GetPrinterDriverW")) return FALSE;
    if (level != 3) {
        SetLastError(ERROR_INVALID_LEVEL);
        return FALSE;
    }
    winsim::PrinterRecord record;
    winsim::DriverRecord driver;
    if (!winsim::GetPrinterRecord(h.name, &record) || !winsim::GetDriver(record.driver, &driver)) {
        SetLastError(ERROR_UNKNOWN_PRINTER_DRIVER);
        return FALSE;
    }
    std::u16string dependent;
    for (const auto& f : driver.dependentFiles) dependent += f + u'\0';
    Packer pack(sizeof(DRIVER_INFO_3W));
    pack.Text(driver.name);
    pack.Text(u"Windows x64");
    pack.Text(driver.driverPath);
    pack.Text(driver.dataFile);
    pack.Text(driver.configFile);
    pack.Text(driver.helpFile);
    pack.Text(dependent);  // a list of texts ending in an empty one
    pack.Text(u"RAW");
    if (!Fits(pack.Size(), bytes, buffer, needed)) return FALSE;
    std::memset(buffer, 0, sizeof(DRIVER_INFO_3W));
    std::vector<WCHAR*> texts = pack.Write(buffer);
    auto* info = reinterpret_cast<DRIVER_INFO_3W*>(buffer);
    info->cVersion = driver.version;
    info->pName = texts[0];
    info->pEnvironment = texts[1];
    info->pDriverPath = texts[2];
    info->pDataFile = texts[3];
    info->pConfigFile = texts[4];
    info->pHelpFile = texts[5];
    info->pDependentFiles = texts[6];
    info->pDefaultDataType = texts[7];
    return TRUE;
}

// The directory with its terminator; a buffer of fewer bytes than that:
// ERROR_INSUFFICIENT_BUFFER with the bytes needed, the buffer untouched.
WINSIM_API BOOL WINAPI GetPrinterDriverDirectoryW(LPWSTR, LPWSTR, DWORD level, LPBYTE buffer,
                                                  DWORD bytes, LPDWORD needed) {
    if (Faulted("GetPrinterDriverDirectoryW")) return FALSE;
    if (level != 1) {
        SetLastError(ERROR_INVALID_LEVEL);
        return FALSE;
    }
    std::u16string dir = winsim::DriverDirectory();
    size_t size = (dir.size() + 1) * 2;
    if (!Fits(size, bytes, buffer, needed)) return FALSE;
    std::memcpy(buffer, dir.c_str(), size);
    return TRUE;
}

// The value's bytes as they were stored: a string stored without its
// terminator comes back without one, and its size counts none
// (RegQueryValueExW: the size "includes any terminating null character or
// characters unless the data was stored without them"). Missing value:
// ERROR_FILE_NOT_FOUND; too small a buffer: ERROR_MORE_DATA with the size
// needed. The error is the result; the last error is left.
WINSIM_API DWORD WINAPI GetPrinterDataW(HANDLE printer, LPWSTR valueName, LPDWORD type, LPBYTE data,
                                        DWORD bytes, LPDWORD needed) {
    PrinterHandle h;
    if (!LookUp(printer, &h)) return ERROR_INVALID_HANDLE;
    DWORD injected = 0;
    if (winsim::detail::ShouldFail("GetPrinterDataW", &injected)) return injected;
    if (valueName == nullptr || needed == nullptr || h.name.empty()) return ERROR_INVALID_PARAMETER;
    bool found = false;
    DWORD storedType = 0;
    std::vector<uint8_t> value;
    Exec("SELECT type, data FROM printer_data WHERE printer = ? AND name = ?",
         {P(h.name), P(Str(valueName))}, [&](sqlite3_stmt* s) {
             found = true;
             storedType = static_cast<DWORD>(sqlite3_column_int64(s, 0));
             const auto* b = static_cast<const uint8_t*>(sqlite3_column_blob(s, 1));
             value.assign(b, b + sqlite3_column_bytes(s, 1));
         });
    if (!found) {
        *needed = 0;
        return ERROR_FILE_NOT_FOUND;
    }
    *needed = static_cast<DWORD>(value.size());
    if (type != nullptr) *type = storedType;
    if (data == nullptr || bytes < value.size()) return ERROR_MORE_DATA;
    if (!value.empty()) std::memcpy(data, value.data(), value.size());
    return ERROR_SUCCESS;
}

// Stores the cbData bytes given, nothing past them: the spooler is handed
// those bytes only (RpcSetPrinterData: pData is size_is(cbData)), so a
// REG_SZ counted without its terminator is stored without one.
WINSIM_API DWORD WINAPI SetPrinterDataW(HANDLE printer, LPWSTR valueName, DWORD type, LPBYTE data,
                                        DWORD bytes) {
    PrinterHandle h;
    if (!LookUp(printer, &h)) return ERROR_INVALID_HANDLE;
    DWORD injected = 0;
    if (winsim::detail::ShouldFail("SetPrinterDataW", &injected)) return injected;
    if (valueName == nullptr || (data == nullptr && bytes != 0) || h.name.empty()) {
        return ERROR_INVALID_PARAMETER;
    }
    // The handle's access decides, not who calls now: it was checked when
    // the handle was opened.
    if ((h.access & PRINTER_ACCESS_ADMINISTER) == 0) {
        winsim::detail::RecordRefusal("SetPrinterDataW", h.name);
        return ERROR_ACCESS_DENIED;
    }
    static const uint8_t none = 0;
    Exec("INSERT OR REPLACE INTO printer_data(printer, name, type, data) VALUES(?, ?, ?, ?)",
         {P(h.name), P(Str(valueName)), P(static_cast<int64_t>(type)),
          PBlob(bytes != 0 ? data : &none, bytes)});
    return ERROR_SUCCESS;
}

namespace winsim {

bool detail::PrinterHandleJob(HANDLE printer, std::u16string* name, int64_t* job) {
    PrinterHandle h;
    if (!LookUpPrinter(printer, &h)) return false;
    *name = h.name;
    *job = h.job;
    return true;
}

bool detail::SetPrinterHandleJob(HANDLE printer, int64_t job) {
    std::lock_guard<std::mutex> guard(g_handleLock);
    auto it = g_handles.find(printer);
    if (it == g_handles.end()) return false;
    it->second->job = job;
    return true;
}

bool AddDriver(const DriverRecord& d) {
    std::u16string dependent;
    for (const auto& f : d.dependentFiles) dependent += f + u'|';
    return Exec(
        "INSERT OR REPLACE INTO drivers(name, version, driver_path, data_file, config_file,"
        " help_file, dependent) VALUES(?, ?, ?, ?, ?, ?, ?)",
        {P(d.name), P(static_cast<int64_t>(d.version)), P(d.driverPath), P(d.dataFile),
         P(d.configFile), P(d.helpFile), P(dependent)});
}

bool GetDriver(const std::u16string& name, DriverRecord* d) {
    bool found = false;
    Exec(
        "SELECT name, version, driver_path, data_file, config_file, help_file, dependent"
        " FROM drivers WHERE name = ?",
        {P(name)}, [&](sqlite3_stmt* s) {
            found = true;
            d->name = detail::ColumnText16(s, 0);
            d->version = static_cast<DWORD>(sqlite3_column_int64(s, 1));
            d->driverPath = detail::ColumnText16(s, 2);
            d->dataFile = detail::ColumnText16(s, 3);
            d->configFile = detail::ColumnText16(s, 4);
            d->helpFile = detail::ColumnText16(s, 5);
            std::u16string dep = detail::ColumnText16(s, 6);
            d->dependentFiles.clear();
            size_t start = 0;
            for (size_t bar; (bar = dep.find(u'|', start)) != std::u16string::npos;
                 start = bar + 1) {
                d->dependentFiles.push_back(dep.substr(start, bar - start));
            }
        });
    return found;
}

bool StorePrinter(const PrinterRecord& p) {
    return Exec(
        "INSERT OR REPLACE INTO printers(name, port, driver, devmode, jobs) VALUES(?, ?, ?, ?, ?)",
        {P(p.name), P(p.port), P(p.driver),
         PBlob(p.devmode.empty() ? nullptr : p.devmode.data(), p.devmode.size()),
         P(static_cast<int64_t>(p.jobs))});
}

bool GetPrinterRecord(const std::u16string& name, PrinterRecord* p) {
    bool found = false;
    Exec("SELECT name, port, driver, devmode, jobs FROM printers WHERE name = ?", {P(name)},
         [&](sqlite3_stmt* s) {
             found = true;
             p->name = detail::ColumnText16(s, 0);
             p->port = detail::ColumnText16(s, 1);
             p->driver = detail::ColumnText16(s, 2);
             const auto* b = static_cast<const uint8_t*>(sqlite3_column_blob(s, 3));
             p->devmode.assign(b, b + (b != nullptr ? sqlite3_column_bytes(s, 3) : 0));
             p->jobs = static_cast<DWORD>(sqlite3_column_int64(s, 4));
         });
    return found;
}

std::vector<uint8_t> UserDevmode(const std::u16string& printer) {
    std::vector<uint8_t> devmode;
    Exec("SELECT user_devmode FROM printers WHERE name = ?", {P(printer)}, [&](sqlite3_stmt* s) {
        const auto* b = static_cast<const uint8_t*>(sqlite3_column_blob(s, 0));
        devmode.assign(b, b + (b != nullptr ? sqlite3_column_bytes(s, 0) : 0));
    });
    return devmode;
}

std::vector<uint8_t> DefaultDevmode(const PrinterRecord& printer) {
    std::vector<uint8_t> own = UserDevmode(printer.name);
    return own.empty() ? printer.devmode : own;
}

bool SetPrinterDevmode(const std::u16string& name, const std::vector<uint8_t>& devmode) {
    return Exec("UPDATE printers SET devmode = ? WHERE name = ?",
                {PBlob(devmode.empty() ? nullptr : devmode.data(), devmode.size()), P(name)});
}

bool SetPrinterJobs(const std::u16string& name, DWORD jobs) {
    return Exec("UPDATE printers SET jobs = ? WHERE name = ?",
                {P(static_cast<int64_t>(jobs)), P(name)});
}

std::vector<std::u16string> PrinterNames() {
    std::vector<std::u16string> names;
    Exec("SELECT name FROM printers ORDER BY name", {},
         [&](sqlite3_stmt* s) { names.push_back(detail::ColumnText16(s, 0)); });
    return names;
}

bool RemovePrinterData(const std::u16string& printer, const std::u16string& name) {
    return Exec("DELETE FROM printer_data WHERE printer = ? AND name = ?", {P(printer), P(name)});
}

std::vector<PrinterDataValue> PrinterData(const std::u16string& printer) {
    std::vector<PrinterDataValue> values;
    Exec("SELECT name, type, data FROM printer_data WHERE printer = ? ORDER BY rowid", {P(printer)},
         [&](sqlite3_stmt* s) {
             PrinterDataValue v;
             v.name = detail::ColumnText16(s, 0);
             v.type = static_cast<DWORD>(sqlite3_column_int64(s, 1));
             const auto* b = static_cast<const uint8_t*>(sqlite3_column_blob(s, 2));
             v.data.assign(b, b + (b != nullptr ? sqlite3_column_bytes(s, 2) : 0));
             values.push_back(v);
         });
    return values;
}

}  // namespace winsim
