// The spooler's port status (SetPortW level 3, taken from administrators
// only) and message boxes, both kept as rows of the machine database so
// that a test or larksim can read what a monitor reported and showed, and
// answer its boxes.
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <mutex>

#include "window_internal.h"

namespace winsim {
namespace {

using detail::Exec;
using detail::NowMicros;
using detail::P;

std::u16string Folded(std::u16string text) {
    for (char16_t& c : text) {
        if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
    }
    return text;
}

// A port exists when a printer or a USB printing interface uses it.
bool PortKnown(const std::u16string& port) {
    bool known = false;
    Exec("SELECT 1 FROM printers WHERE port = ? COLLATE NOCASE LIMIT 1", {P(port)},
         [&](sqlite3_stmt*) { known = true; });
    if (known) return true;
    for (const UsbDevice& d : UsbDevices()) {
        if (Folded(UsbPortName(d)) == Folded(port)) return true;
    }
    return false;
}

bool BoxClosed(int64_t id) {
    bool closed = true;
    Exec("SELECT closed FROM message_boxes WHERE id = ?", {P(id)},
         [&](sqlite3_stmt* s) { closed = sqlite3_column_int64(s, 0) != 0; });
    return closed;
}

}  // namespace

std::vector<PortStatusRecord> PortStatuses() {
    std::vector<PortStatusRecord> records;
    Exec(
        "SELECT seq, pid, port, status, text, severity, micros, error FROM port_status"
        " ORDER BY seq",
        {}, [&](sqlite3_stmt* s) {
            PortStatusRecord r;
            r.seq = sqlite3_column_int64(s, 0);
            r.pid = sqlite3_column_int(s, 1);
            r.port = detail::ColumnText16(s, 2);
            r.status = static_cast<DWORD>(sqlite3_column_int64(s, 3));
            r.hasText = sqlite3_column_type(s, 4) != SQLITE_NULL;
            r.text = detail::ColumnText16(s, 4);
            r.severity = static_cast<DWORD>(sqlite3_column_int64(s, 5));
            r.micros = sqlite3_column_int64(s, 6);
            r.error = static_cast<DWORD>(sqlite3_column_int64(s, 7));
            records.push_back(r);
        });
    return records;
}

std::vector<MessageBoxRecord> MessageBoxes() {
    std::vector<MessageBoxRecord> boxes;
    Exec(
        "SELECT id, pid, caption, text, style, shown, closed, after_status FROM message_boxes"
        " ORDER BY id",
        {}, [&](sqlite3_stmt* s) {
            MessageBoxRecord b;
            b.id = sqlite3_column_int64(s, 0);
            b.pid = sqlite3_column_int(s, 1);
            b.caption = detail::ColumnText16(s, 2);
            b.text = detail::ColumnText16(s, 3);
            b.style = static_cast<UINT>(sqlite3_column_int64(s, 4));
            b.shownMicros = sqlite3_column_int64(s, 5);
            b.closedMicros = sqlite3_column_int64(s, 6);
            b.afterPortStatus = sqlite3_column_int64(s, 7);
            boxes.push_back(b);
        });
    return boxes;
}

bool CloseMessageBox(int64_t id) {
    bool open = false;
    Exec("SELECT 1 FROM message_boxes WHERE id = ? AND closed = 0", {P(id)},
         [&](sqlite3_stmt*) { open = true; });
    return open &&
           Exec("UPDATE message_boxes SET closed = ? WHERE id = ?", {P(NowMicros()), P(id)});
}

}  // namespace winsim

using winsim::detail::Exec;
using winsim::detail::NowMicros;
using winsim::detail::P;

WINSIM_API BOOL WINAPI SetPortW(LPWSTR, LPWSTR portName, DWORD level, LPBYTE portInfo) {
    if (winsim::detail::Faulted("SetPortW")) return FALSE;
    if (level != 3) {
        SetLastError(ERROR_INVALID_LEVEL);
        return FALSE;
    }
    if (portInfo == nullptr || portName == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::u16string port = portName;
    // SERVER_ACCESS_ADMINISTER on the server, which only an administrator's
    // token with the group in force holds; checked before the port.
    const bool allowed = winsim::detail::CallerIsAdministrator();
    if (allowed && !winsim::PortKnown(port)) {
        SetLastError(ERROR_UNKNOWN_PORT);
        return FALSE;
    }
    // A refused status is kept too, marked, so that what the monitor asked
    // for stays in its order with its boxes.
    const auto* info = reinterpret_cast<const PORT_INFO_3W*>(portInfo);
    Exec(
        "INSERT INTO port_status(pid, port, status, text, severity, micros, error)"
        " VALUES(?, ?, ?, ?, ?, ?, ?)",
        {P(static_cast<int64_t>(getpid())), P(port), P(static_cast<int64_t>(info->dwStatus)),
         info->pszStatus != nullptr ? P(std::u16string(info->pszStatus))
                                    : winsim::detail::PBlob(nullptr, 0),
         P(static_cast<int64_t>(info->dwSeverity)), P(NowMicros()),
         P(static_cast<int64_t>(allowed ? 0 : ERROR_ACCESS_DENIED))});
    if (!allowed) {
        winsim::detail::RecordRefusal("SetPortW", port);
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    return TRUE;
}

// The box is modal: the call returns when it is answered, after the
// machine's delay or, with a delay of -1, when larksim closes it. In a
// window station nobody sees (a service's) nobody answers it: it waits
// until larksim closes it, whatever the delay. Meanwhile its thread takes
// the messages sent to it, as the box's own message loop does.
WINSIM_API int WINAPI MessageBoxW(HWND, LPCWSTR text, LPCWSTR caption, UINT type) {
    if (winsim::detail::Faulted("MessageBoxW")) return 0;
    const int64_t pid = getpid();
    int64_t lastStatus = 0;
    Exec("SELECT MAX(seq) FROM port_status WHERE pid = ?", {P(pid)},
         [&](sqlite3_stmt* s) { lastStatus = sqlite3_column_int64(s, 0); });
    int64_t id = 0;
    Exec(
        "INSERT INTO message_boxes(pid, caption, text, style, shown, after_status)"
        " VALUES(?, ?, ?, ?, ?, ?) RETURNING id",
        {P(pid), P(winsim::detail::Str(caption)), P(winsim::detail::Str(text)),
         P(static_cast<int64_t>(type)), P(NowMicros()), P(lastStatus)},
        [&](sqlite3_stmt* s) { id = sqlite3_column_int64(s, 0); });
    long delay = std::strtol(winsim::GetSetting("message_box_delay_ms", "0").c_str(), nullptr, 10);
    if (!winsim::detail::WindowStationVisible()) delay = -1;
    const auto now = std::chrono::steady_clock::now();
    if (delay > 0) {
        winsim::detail::PumpMessagesUntil([] { return false; },
                                          now + std::chrono::milliseconds(delay));
    }
    if (delay < 0) {
        winsim::detail::PumpMessagesUntil([id] { return winsim::BoxClosed(id); },
                                          now + std::chrono::hours(24 * 365));
    }
    Exec("UPDATE message_boxes SET closed = ? WHERE id = ? AND closed = 0",
         {P(NowMicros()), P(id)});
    return IDOK;
}
