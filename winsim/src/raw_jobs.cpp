// Raw print jobs: the spooler keeps each job's document name, data type,
// page count and exact bytes in the machine database, so a test or larksim
// sees what a printer would have received.
#include <strings.h>
#include <unistd.h>

#include <cstring>

#include "internal.h"

using winsim::detail::Exec;
using winsim::detail::Faulted;
using winsim::detail::P;
using winsim::detail::PBlob;

namespace {

// The job of an open handle, or 0 with the spooler's error for a handle
// without a started document.
int64_t StartedJob(HANDLE printer) {
    std::u16string name;
    int64_t job = 0;
    if (!winsim::detail::PrinterHandleJob(printer, &name, &job)) return 0;
    if (job == 0) SetLastError(ERROR_SPL_NO_STARTDOC);
    return job;
}

}  // namespace

// Level 1 only; the data type must be RAW or absent. Answers the job id.
WINSIM_API DWORD WINAPI StartDocPrinterA(HANDLE printer, DWORD level, LPBYTE docInfo) {
    std::u16string name;
    int64_t job = 0;
    if (!winsim::detail::PrinterHandleJob(printer, &name, &job) || Faulted("StartDocPrinterA"))
        return 0;
    if (level != 1) {
        SetLastError(ERROR_INVALID_LEVEL);
        return 0;
    }
    if (docInfo == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (job != 0) {
        SetLastError(ERROR_INVALID_PRINTER_STATE);
        return 0;
    }
    const auto* info = reinterpret_cast<const DOC_INFO_1A*>(docInfo);
    std::string datatype = info->pDatatype != nullptr ? info->pDatatype : "RAW";
    if (strcasecmp(datatype.c_str(), "RAW") != 0) {
        SetLastError(ERROR_INVALID_DATATYPE);
        return 0;
    }
    int64_t id = 0;
    Exec(
        "INSERT INTO jobs(pid, printer, document, datatype, data) VALUES(?, ?, ?, ?, X'')"
        " RETURNING id",
        {P(static_cast<int64_t>(getpid())), P(name),
         P(std::string(info->pDocName != nullptr ? info->pDocName : "")), P(datatype)},
        [&](sqlite3_stmt* s) { id = sqlite3_column_int64(s, 0); });
    if (id == 0) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return 0;
    }
    winsim::detail::SetPrinterHandleJob(printer, id);
    return static_cast<DWORD>(id);
}

WINSIM_API BOOL WINAPI StartPagePrinter(HANDLE printer) {
    int64_t job = StartedJob(printer);
    if (job == 0 || Faulted("StartPagePrinter")) return FALSE;
    Exec("UPDATE jobs SET pages = pages + 1 WHERE id = ?", {P(job)});
    return TRUE;
}

// Appends the bytes to the job; a failing call writes nothing.
WINSIM_API BOOL WINAPI WritePrinter(HANDLE printer, LPVOID data, DWORD bytes, LPDWORD written) {
    if (written != nullptr) *written = 0;
    int64_t job = StartedJob(printer);
    if (job == 0 || Faulted("WritePrinter")) return FALSE;
    if (data == nullptr && bytes != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    static const uint8_t none = 0;
    Exec("UPDATE jobs SET data = data || ? WHERE id = ?",
         {PBlob(bytes != 0 ? data : &none, bytes), P(job)});
    if (written != nullptr) *written = bytes;
    return TRUE;
}

WINSIM_API BOOL WINAPI EndPagePrinter(HANDLE printer) {
    return StartedJob(printer) != 0 && !Faulted("EndPagePrinter");
}

// Ends the document; the handle can start another.
WINSIM_API BOOL WINAPI EndDocPrinter(HANDLE printer) {
    int64_t job = StartedJob(printer);
    if (job == 0 || Faulted("EndDocPrinter")) return FALSE;
    Exec("UPDATE jobs SET ended = 1 WHERE id = ?", {P(job)});
    winsim::detail::SetPrinterHandleJob(printer, 0);
    return TRUE;
}

namespace winsim {

void ForgetRecords() {
    Exec("DELETE FROM jobs", {});
    Exec("DELETE FROM dialog_showings", {});
    Exec("DELETE FROM ui_events", {});
    Exec("DELETE FROM port_status", {});
    Exec("DELETE FROM refusals", {});
    Exec("DELETE FROM message_boxes", {});
    Exec("DELETE FROM process_starts", {});
}

std::vector<JobRecord> Jobs(const std::u16string& printer) {
    std::vector<JobRecord> jobs;
    Exec(
        "SELECT id, pid, printer, document, datatype, pages, data, ended FROM jobs"
        " WHERE ? = '' OR printer = ? COLLATE NOCASE ORDER BY id",
        {P(printer), P(printer)}, [&](sqlite3_stmt* s) {
            JobRecord j;
            j.id = sqlite3_column_int64(s, 0);
            j.pid = sqlite3_column_int(s, 1);
            j.printer = detail::ColumnText16(s, 2);
            j.document = reinterpret_cast<const char*>(sqlite3_column_text(s, 3));
            j.datatype = reinterpret_cast<const char*>(sqlite3_column_text(s, 4));
            j.pages = static_cast<DWORD>(sqlite3_column_int64(s, 5));
            const auto* b = static_cast<const uint8_t*>(sqlite3_column_blob(s, 6));
            j.data.assign(b, b + (b != nullptr ? sqlite3_column_bytes(s, 6) : 0));
            j.ended = sqlite3_column_int(s, 7) != 0;
            jobs.push_back(std::move(j));
        });
    return jobs;
}

}  // namespace winsim
