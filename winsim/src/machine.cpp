// The machine root: its folders, its database and the mapping of Windows
// paths into it.
#include <dirent.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "internal.h"

namespace winsim {
namespace {

std::mutex g_rootLock;
std::string g_root;

const char* const kSchema[] = {
    "PRAGMA journal_mode=WAL",
    "CREATE TABLE IF NOT EXISTS settings(key TEXT PRIMARY KEY, value TEXT)",
    "CREATE TABLE IF NOT EXISTS drivers(name TEXT PRIMARY KEY COLLATE NOCASE, version INT,"
    " driver_path TEXT, data_file TEXT, config_file TEXT, help_file TEXT, dependent TEXT)",
    "CREATE TABLE IF NOT EXISTS printers(name TEXT PRIMARY KEY COLLATE NOCASE, port TEXT,"
    " driver TEXT, devmode BLOB, jobs INT DEFAULT 0, user_devmode BLOB)",
    "CREATE TABLE IF NOT EXISTS printer_data(printer TEXT COLLATE NOCASE, name TEXT COLLATE"
    " NOCASE, type INT, data BLOB, PRIMARY KEY(printer, name))",
    "CREATE TABLE IF NOT EXISTS windows(hwnd INTEGER PRIMARY KEY AUTOINCREMENT, pid INT,"
    " class TEXT, title TEXT, visible INT DEFAULT 0)",
    // Messages sent to a window of another process, until its thread has
    // run them: state 0 waiting, 1 answered (result), 2 failed.
    "CREATE TABLE IF NOT EXISTS sent_messages(seq INTEGER PRIMARY KEY AUTOINCREMENT, hwnd INT,"
    " pid INT, message INT, wparam INT, lparam INT, text TEXT, state INT DEFAULT 0,"
    " result INT DEFAULT 0)",
    "CREATE TABLE IF NOT EXISTS usb_devices(id INTEGER PRIMARY KEY AUTOINCREMENT, base TEXT,"
    " number INT, path TEXT, present INT DEFAULT 1, fail_from INT DEFAULT 0, jobs TEXT)",
    "CREATE TABLE IF NOT EXISTS usb_scripts(device INT, idx INT, text BLOB,"
    " PRIMARY KEY(device, idx))",
    "CREATE TABLE IF NOT EXISTS port_status(seq INTEGER PRIMARY KEY AUTOINCREMENT, pid INT,"
    " port TEXT, status INT, text TEXT, severity INT, micros INT, error INT DEFAULT 0)",
    "CREATE TABLE IF NOT EXISTS refusals(seq INTEGER PRIMARY KEY AUTOINCREMENT, pid INT,"
    " call TEXT, target TEXT, user TEXT, error INT, micros INT)",
    "CREATE TABLE IF NOT EXISTS message_boxes(id INTEGER PRIMARY KEY AUTOINCREMENT, pid INT,"
    " caption TEXT, text TEXT, style INT, shown INT, closed INT DEFAULT 0, after_status INT)",
    "CREATE TABLE IF NOT EXISTS jobs(id INTEGER PRIMARY KEY AUTOINCREMENT, pid INT, printer TEXT,"
    " document TEXT, datatype TEXT, pages INT DEFAULT 0, data BLOB, ended INT DEFAULT 0)",
    "CREATE TABLE IF NOT EXISTS dialog_queue(seq INTEGER PRIMARY KEY AUTOINCREMENT, kind TEXT,"
    " text TEXT, result INT)",
    "CREATE TABLE IF NOT EXISTS dialog_showings(seq INTEGER PRIMARY KEY AUTOINCREMENT, pid INT,"
    " page TEXT, argument TEXT, options TEXT, parent INT, outcome TEXT, answer TEXT, result INT,"
    " micros INT, screenshot TEXT)",
    "CREATE TABLE IF NOT EXISTS dialog_user(seq INTEGER PRIMARY KEY AUTOINCREMENT, action TEXT)",
    "CREATE TABLE IF NOT EXISTS ui_events(seq INTEGER PRIMARY KEY AUTOINCREMENT, pid INT,"
    " thread INT, micros INT, kind TEXT, window INT, text TEXT, v0 INT, v1 INT, v2 INT, v3 INT,"
    " v4 INT, description TEXT)",
    "CREATE TABLE IF NOT EXISTS process_exits(pid INTEGER PRIMARY KEY, code INT, printers INT,"
    " kernel INT, keys INT, device_lists INT, heap INT, global INT, local INT, files INT)",
    "CREATE TABLE IF NOT EXISTS process_starts(pid INTEGER, parent INT, program TEXT,"
    " micros INT)",
    // One "Function count" line per function called.
    "CREATE TABLE IF NOT EXISTS process_calls(pid INTEGER PRIMARY KEY, calls TEXT)",
    // larksim's records of its roads (winsim/road_records.h).
    "CREATE TABLE IF NOT EXISTS road_records(seq INTEGER PRIMARY KEY AUTOINCREMENT, kind TEXT,"
    " pid INT, thread INT, micros INT, name TEXT, printer TEXT, result INT, data BLOB, text TEXT,"
    " counts TEXT)",
};

bool MakeDirs(const std::string& path) {
    std::string partial;
    for (size_t i = 0; i <= path.size(); ++i) {
        if (i == path.size() || path[i] == '/') {
            if (!partial.empty()) mkdir(partial.c_str(), 0755);
        }
        if (i < path.size()) partial += path[i];
    }
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool EqualNoCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
        if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

// The existing entry of dir that matches name ignoring case, else name.
std::string MatchEntry(const std::string& dir, const std::string& name) {
    struct stat st {};
    if (stat((dir + "/" + name).c_str(), &st) == 0) return name;
    DIR* d = opendir(dir.c_str());
    if (d == nullptr) return name;
    std::string found = name;
    while (dirent* e = readdir(d)) {
        if (EqualNoCase(e->d_name, name)) {
            found = e->d_name;
            break;
        }
    }
    closedir(d);
    return found;
}

}  // namespace

void SetMachineRoot(const std::string& root) {
    std::lock_guard<std::mutex> guard(g_rootLock);
    g_root = root;
}

std::string MachineRoot() {
    std::lock_guard<std::mutex> guard(g_rootLock);
    if (g_root.empty()) {
        const char* env = std::getenv("WINSIM_ROOT");
        if (env != nullptr) g_root = env;
    }
    return g_root;
}

bool MachineExists(const std::string& root) {
    struct stat st {};
    return stat((root + "/machine.db").c_str(), &st) == 0;
}

bool InitMachine(const std::string& root) {
    if (!MakeDirs(root + "/drive_c/Windows/System32/spool/drivers/x64/3")) return false;
    MakeDirs(root + "/drive_c/temp");
    MakeDirs(root + "/devices");
    sqlite3* db = nullptr;
    if (sqlite3_open((root + "/machine.db").c_str(), &db) != SQLITE_OK) {
        sqlite3_close(db);
        return false;
    }
    sqlite3_busy_timeout(db, 10000);
    bool ok = true;
    for (const char* sql : kSchema) {
        ok = ok && sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
    }
    sqlite3_close(db);
    return ok;
}

std::u16string DriverDirectory() {
    return ToUtf16(GetSetting("driver_directory", "C:\\Windows\\System32\\spool\\drivers\\x64"));
}

std::string HostPath(const std::u16string& windowsPath) {
    std::string path = ToUtf8(windowsPath);
    for (char& c : path) {
        if (c == '\\') c = '/';
    }
    std::string host = MachineRoot();
    size_t start = 0;
    if (path.size() >= 2 && path[1] == ':') {
        char drive = path[0];
        if (drive >= 'A' && drive <= 'Z') drive = static_cast<char>(drive - 'A' + 'a');
        host += std::string("/drive_") + drive;
        start = 2;
    } else {
        host += "/drive_c";  // a relative path resolves against C:\ here
    }
    // The path as written, when it exists, is what the case-blind walk
    // below would find: one stat instead of one per part.
    std::string literal = host;
    for (size_t at = start; at < path.size();) {
        size_t slash = path.find('/', at);
        if (slash == std::string::npos) slash = path.size();
        if (slash > at && path.compare(at, slash - at, ".") != 0) {
            literal += '/';
            literal.append(path, at, slash - at);
        }
        at = slash + 1;
    }
    struct stat st {};
    if (stat(literal.c_str(), &st) == 0) return literal;
    while (start < path.size()) {
        size_t slash = path.find('/', start);
        if (slash == std::string::npos) slash = path.size();
        std::string part = path.substr(start, slash - start);
        if (!part.empty() && part != ".") {
            std::string entry = MatchEntry(host, part);
            host += '/';
            host += entry;
        }
        start = slash + 1;
    }
    return host;
}

void SetSetting(const std::string& key, const std::string& value) {
    detail::Exec("INSERT OR REPLACE INTO settings(key, value) VALUES(?, ?)",
                 {detail::P(key), detail::P(value)});
}

std::string GetSetting(const std::string& key, const std::string& fallback) {
    std::string value = fallback;
    detail::Exec("SELECT value FROM settings WHERE key = ?", {detail::P(key)},
                 [&](sqlite3_stmt* s) {
                     const unsigned char* t = sqlite3_column_text(s, 0);
                     if (t != nullptr && t[0] != 0) value = reinterpret_cast<const char*>(t);
                 });
    return value;
}

std::string ToUtf8(const std::u16string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        uint32_t c = text[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] < 0xE000) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
        } else if (c >= 0xD800 && c < 0xE000) {
            c = 0xFFFD;
        }
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

std::u16string ToUtf16(const std::string& text) {
    std::u16string out(text.size() + 1, u'\0');
    int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(),
                                static_cast<int>(out.size()));
    out.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return out;
}

namespace detail {

// Reopened when the process switches machines (tests make one per case).
Db& Database() {
    static Db instance;
    std::lock_guard<std::recursive_mutex> guard(instance.lock);
    std::string root = MachineRoot();
    if (instance.db != nullptr && instance.root == root) return instance;
    for (auto& entry : instance.statements) sqlite3_finalize(entry.second.statement);
    instance.statements.clear();
    if (instance.db != nullptr) sqlite3_close(instance.db);
    instance.db = nullptr;
    if (root.empty() || !MachineExists(root)) {
        std::fprintf(stderr, "winsim: no machine at WINSIM_ROOT '%s'\n", root.c_str());
        std::abort();
    }
    if (sqlite3_open((root + "/machine.db").c_str(), &instance.db) != SQLITE_OK) {
        std::fprintf(stderr, "winsim: cannot open the machine database\n");
        std::abort();
    }
    sqlite3_busy_timeout(instance.db, 30000);
    // WAL stays consistent at NORMAL; a full sync on every SetPortW and
    // message box record only cost the monitors time.
    sqlite3_exec(instance.db, "PRAGMA synchronous=NORMAL", nullptr, nullptr, nullptr);
    // A process that has the machine to itself (a fuzz target) keeps the
    // database locked and unsynced: no lock calls per statement.
    const char* alone = std::getenv("WINSIM_SOLE_PROCESS");
    if (alone != nullptr && alone[0] == '1') {
        sqlite3_exec(instance.db, "PRAGMA locking_mode=EXCLUSIVE", nullptr, nullptr, nullptr);
        sqlite3_exec(instance.db, "PRAGMA synchronous=OFF", nullptr, nullptr, nullptr);
    }
    instance.root = root;
    return instance;
}

Param P(const std::string& text) { return Param{Param::Text, text}; }
Param P(const std::u16string& text) { return Param{Param::Text, ToUtf8(text)}; }
Param P(int64_t number) {
    Param p{Param::Int, {}};
    p.number = number;
    return p;
}
Param PBlob(const void* data, size_t bytes) {
    Param p{data != nullptr ? Param::Blob : Param::Null, {}};
    p.blob = data;
    p.bytes = bytes;
    return p;
}

namespace {

void BindAll(sqlite3_stmt* statement, std::initializer_list<Param> params) {
    int index = 1;
    for (const Param& p : params) {
        switch (p.kind) {
            case Param::Text:
                sqlite3_bind_text(statement, index, p.text.c_str(), -1, SQLITE_TRANSIENT);
                break;
            case Param::Int:
                sqlite3_bind_int64(statement, index, p.number);
                break;
            case Param::Blob:
                sqlite3_bind_blob(statement, index, p.blob, static_cast<int>(p.bytes),
                                  SQLITE_TRANSIENT);
                break;
            case Param::Null:
                sqlite3_bind_null(statement, index);
                break;
        }
        ++index;
    }
}

}  // namespace

bool Exec(const std::string& sql, std::initializer_list<Param> params,
          const std::function<void(sqlite3_stmt*)>& row) {
    Db& d = Database();
    std::lock_guard<std::recursive_mutex> guard(d.lock);
    Db::Cached& cached = d.statements[sql];
    bool reentered = cached.inUse;
    sqlite3_stmt* statement = reentered ? nullptr : cached.statement;
    if (statement == nullptr) {
        if (sqlite3_prepare_v3(d.db, sql.c_str(), -1, reentered ? 0 : SQLITE_PREPARE_PERSISTENT,
                               &statement, nullptr) != SQLITE_OK) {
            std::fprintf(stderr, "winsim: SQL error %s in %s\n", sqlite3_errmsg(d.db), sql.c_str());
            return false;
        }
        if (!reentered) cached.statement = statement;
    }
    if (!reentered) cached.inUse = true;
    BindAll(statement, params);
    int rc;
    while ((rc = sqlite3_step(statement)) == SQLITE_ROW) {
        if (row) row(statement);
    }
    if (reentered) {
        sqlite3_finalize(statement);
    } else {
        // Reset now so the read transaction ends and the writers of other
        // processes are not held back by a finished statement.
        sqlite3_reset(statement);
        sqlite3_clear_bindings(statement);
        d.statements[sql].inUse = false;
    }
    return rc == SQLITE_DONE;
}

std::u16string ColumnText16(sqlite3_stmt* statement, int column) {
    const unsigned char* t = sqlite3_column_text(statement, column);
    return t == nullptr ? std::u16string() : ToUtf16(reinterpret_cast<const char*>(t));
}

size_t Units(const WCHAR* text) {
    size_t n = 0;
    while (text[n] != 0) ++n;
    return n + 1;
}

std::u16string Str(const WCHAR* text) {
    return text == nullptr ? std::u16string() : std::u16string(text);
}

}  // namespace detail
}  // namespace winsim
