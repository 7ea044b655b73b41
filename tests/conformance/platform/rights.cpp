// The user's rights on the spooler, each user against each call the driver
// makes: a standard user, an administrator whose token is not elevated (the
// Windows default), an elevated administrator and SYSTEM. Administrators
// and SYSTEM manage the printers and the server; Everyone prints; a
// token that is not elevated holds the Administrators group deny-only. A
// user's own default devmode is open to every user.
#include <cstring>
#include <string>
#include <vector>

#include "adapter.h"
#include "conformance.h"
#ifndef _WIN32
#include "winsim/control.h"
#endif

namespace {

constexpr DWORD kSentinel = 0xdeadbeef;
constexpr char kNoSetPort[] =
    "SetPortW is missing in Wine 8 (calling it ends the process): no user's port status can be "
    "shown there";
constexpr char kOneUser[] =
    "Wine runs the tables as its one user, who has every right, and its spooler does not look at "
    "who asks: no other user can be played";

struct User {
    const char* name;
    bool administers;  // the Administrators group in force
    bool tablesUser;   // the user the tables run as, on both platforms
    bool system;       // the local system account
#ifndef _WIN32
    winsim::UserKind kind;
#endif
};
const User kUsers[] = {
#ifndef _WIN32
    {"a standard user", false, false, false, winsim::UserKind::Standard},
    {"an administrator not elevated", false, false, false, winsim::UserKind::Admin},
    {"an elevated administrator", true, true, false, winsim::UserKind::Elevated},
    {"SYSTEM", true, false, true, winsim::UserKind::System},
#else
    {"a standard user", false, false, false},
    {"an administrator not elevated", false, false, false},
    {"an elevated administrator", true, true, false},
    {"SYSTEM", true, false, true},
#endif
};

// Runs the row's calls as the user; the tables' user again afterwards.
struct PlayedUser {
    explicit PlayedUser(const User& user) {
#ifndef _WIN32
        winsim::SetProcessUser(user.kind);
#else
        (void)user;
#endif
    }
    ~PlayedUser() {
#ifndef _WIN32
        winsim::ClearProcessUser();
#endif
    }
    PlayedUser(const PlayedUser&) = delete;
    PlayedUser& operator=(const PlayedUser&) = delete;
};

conformance::Where WhereFor(const User& user) {
    return user.tablesUser ? conformance::kBoth : conformance::WinsimOnly(kOneUser);
}

std::string RowName(const char* call, const User& user, const char* answer) {
    return std::string(call) + " as " + user.name + ": " + answer;
}

// OpenPrinterW with the access; the handle, null when refused.
HANDLE Open(const WCHAR* name, DWORD access) {
    HANDLE h = nullptr;
    PRINTER_DEFAULTSW defaults = {nullptr, nullptr, access};
    OpenPrinterW(const_cast<LPWSTR>(name), &h, &defaults);
    return h;
}

size_t RefusalCount() {
#ifndef _WIN32
    return winsim::Refusals().size();
#else
    return 0;
#endif
}

}  // namespace

CONFORMANCE_COVERS(Rows, "OpenPrinterW SetPrinterDataW GetPrinterW", nullptr);
CONFORMANCE_COVERS(WinsimRows, "SetPortW", kNoSetPort);

CONFORMANCE_TABLE(UserRights, "the user's rights on the spooler") {
    for (const User& user : kUsers) {
        const bool ok = user.administers;
        const std::string admin = RowName("OpenPrinterW with PRINTER_ACCESS_ADMINISTER", user,
                                          ok ? "a handle" : "ERROR_ACCESS_DENIED, no handle");
        if (ctx.Begin(admin.c_str(), WhereFor(user))) {
            PlayedUser played(user);
            const size_t refusals = RefusalCount();
            SetLastError(kSentinel);
            HANDLE h = Open(conformance::kPrinter, PRINTER_ACCESS_ADMINISTER);
            ROW_EQ(h != nullptr, ok);
            ROW_EQ(GetLastError(), ok ? kSentinel : static_cast<DWORD>(ERROR_ACCESS_DENIED));
            if (!ctx.OnWine()) ROW_EQ(RefusalCount(), refusals + (ok ? 0 : 1));
            if (h != nullptr) ClosePrinter(h);
        }
        const std::string all = RowName("OpenPrinterW with PRINTER_ALL_ACCESS and GENERIC_ALL",
                                        user, ok ? "a handle each" : "ERROR_ACCESS_DENIED each");
        if (ctx.Begin(all.c_str(), WhereFor(user))) {
            PlayedUser played(user);
            for (DWORD access :
                 {static_cast<DWORD>(PRINTER_ALL_ACCESS), static_cast<DWORD>(GENERIC_ALL)}) {
                HANDLE h = Open(conformance::kPrinter, access);
                ROW_EQ(h != nullptr, ok);
                if (h != nullptr) ClosePrinter(h);
            }
        }
        const std::string use =
            RowName("OpenPrinterW with PRINTER_ACCESS_USE, and without defaults", user,
                    "a handle that reads the printer");
        if (ctx.Begin(use.c_str(), WhereFor(user))) {
            PlayedUser played(user);
            HANDLE printer = Open(conformance::kPrinter, PRINTER_ACCESS_USE);
            HANDLE plain = nullptr;
            ROW_CHECK(OpenPrinterW(const_cast<LPWSTR>(conformance::kPrinter), &plain, nullptr));
            for (HANDLE h : {printer, plain}) {
                DWORD needed = 0;
                GetPrinterW(h, 2, nullptr, 0, &needed);
                std::vector<BYTE> buffer(needed, 0);
                ROW_CHECK(needed > 0 && GetPrinterW(h, 2, buffer.data(), needed, &needed));
                if (h != nullptr) ClosePrinter(h);
            }
        }
        const std::string server =
            RowName("OpenPrinterW of the server with SERVER_ACCESS_ADMINISTER", user,
                    ok ? "a handle" : "ERROR_ACCESS_DENIED");
        if (ctx.Begin(server.c_str(), WhereFor(user))) {
            PlayedUser played(user);
            SetLastError(kSentinel);
            HANDLE h = Open(nullptr, SERVER_ACCESS_ADMINISTER);
            ROW_EQ(h != nullptr, ok);
            ROW_EQ(GetLastError(), ok ? kSentinel : static_cast<DWORD>(ERROR_ACCESS_DENIED));
            if (h != nullptr) ClosePrinter(h);
            // Enumerating is Everyone's.
            HANDLE enumerate = Open(nullptr, SERVER_ACCESS_ENUMERATE);
            ROW_CHECK(enumerate != nullptr);
            if (enumerate != nullptr) ClosePrinter(enumerate);
        }
        const std::string data =
            RowName("SetPrinterDataW through the best handle the user gets", user,
                    ok ? "stored" : "ERROR_ACCESS_DENIED, nothing stored");
        if (ctx.Begin(data.c_str(), WhereFor(user))) {
            const WCHAR* name = TEXT("RightsValue");
            {
                PlayedUser played(user);
                HANDLE h = Open(conformance::kPrinter, PRINTER_ACCESS_ADMINISTER);
                if (h == nullptr) h = Open(conformance::kPrinter, PRINTER_ACCESS_USE);
                const DWORD value = 7;
                ROW_EQ(SetPrinterDataW(h, const_cast<LPWSTR>(name), REG_DWORD,
                                       reinterpret_cast<LPBYTE>(const_cast<DWORD*>(&value)), 4),
                       ok ? static_cast<DWORD>(ERROR_SUCCESS)
                          : static_cast<DWORD>(ERROR_ACCESS_DENIED));
                // Reading is everybody's.
                DWORD out = 0, needed = 0;
                ROW_EQ(GetPrinterDataW(h, const_cast<LPWSTR>(name), nullptr,
                                       reinterpret_cast<LPBYTE>(&out), 4, &needed),
                       ok ? static_cast<DWORD>(ERROR_SUCCESS)
                          : static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
                ROW_EQ(out, ok ? value : 0u);
                if (h != nullptr) ClosePrinter(h);
            }
            conformance::RemovePrinterValue(name);
        }
        const std::string own = RowName("SetPrinterW level 9 and GetPrinterW level 2", user,
                                        "the user's own default devmode, set and answered");
        if (ctx.Begin(own.c_str(), conformance::WinsimOnly(kOneUser))) {
            PlayedUser played(user);
            HANDLE h = Open(conformance::kPrinter, PRINTER_ACCESS_USE);
            auto stored = [&]() {
                DWORD needed = 0;
                GetPrinterW(h, 2, nullptr, 0, &needed);
                std::vector<BYTE> buffer(needed, 0);
                if (needed == 0 || !GetPrinterW(h, 2, buffer.data(), needed, &needed)) return 0;
                const DEVMODEW* dm = reinterpret_cast<PRINTER_INFO_2W*>(buffer.data())->pDevMode;
                return dm != nullptr ? static_cast<int>(dm->dmPaperSize) : 0;
            };
            DWORD needed = 0;
            GetPrinterW(h, 2, nullptr, 0, &needed);
            std::vector<BYTE> buffer(needed, 0);
            if (ROW_CHECK(needed > 0 && GetPrinterW(h, 2, buffer.data(), needed, &needed))) {
                const DEVMODEW* dm = reinterpret_cast<PRINTER_INFO_2W*>(buffer.data())->pDevMode;
                if (ROW_CHECK(dm != nullptr)) {
                    std::vector<BYTE> mine(
                        reinterpret_cast<const BYTE*>(dm),
                        reinterpret_cast<const BYTE*>(dm) + dm->dmSize + dm->dmDriverExtra);
                    reinterpret_cast<DEVMODEW*>(mine.data())->dmPaperSize = 258;
                    PRINTER_INFO_9W info = {reinterpret_cast<DEVMODEW*>(mine.data())};
                    ROW_CHECK(SetPrinterW(h, 9, reinterpret_cast<LPBYTE>(&info), 0));
                    ROW_EQ(stored(), 258);
                    PRINTER_INFO_9W none = {nullptr};
                    ROW_CHECK(SetPrinterW(h, 9, reinterpret_cast<LPBYTE>(&none), 0));
                    ROW_EQ(stored(), static_cast<int>(dm->dmPaperSize));
                }
            }
            if (h != nullptr) ClosePrinter(h);
        }
        const std::string port = RowName("SetPortW level 3 of USB001", user,
                                         ok ? "taken" : "ERROR_ACCESS_DENIED, kept as refused");
        if (ctx.Begin(port.c_str(), conformance::WinsimOnly(kNoSetPort))) {
#ifndef _WIN32
            PlayedUser played(user);
            WCHAR text[] = u"Paper Jam";
            PORT_INFO_3W info = {PORT_STATUS_PAPER_JAM, text, PORT_STATUS_TYPE_WARNING};
            const size_t refusals = RefusalCount();
            SetLastError(kSentinel);
            BOOL set = SetPortW(nullptr, const_cast<LPWSTR>(u"USB001"), 3,
                                reinterpret_cast<LPBYTE>(&info));
            ROW_EQ(set, ok ? TRUE : FALSE);
            ROW_EQ(GetLastError(), ok ? kSentinel : static_cast<DWORD>(ERROR_ACCESS_DENIED));
            std::vector<winsim::PortStatusRecord> statuses = winsim::PortStatuses();
            if (ROW_CHECK(!statuses.empty())) {
                ROW_EQ(statuses.back().error, ok ? 0u : static_cast<DWORD>(ERROR_ACCESS_DENIED));
                ROW_EQ(statuses.back().status, static_cast<DWORD>(PORT_STATUS_PAPER_JAM));
            }
            ROW_EQ(RefusalCount(), refusals + (ok ? 0 : 1));
            // Who may not set a status learns nothing of the port: the
            // right is checked first.
            SetLastError(kSentinel);
            SetPortW(nullptr, const_cast<LPWSTR>(u"USB077"), 3, reinterpret_cast<LPBYTE>(&info));
            ROW_EQ(GetLastError(),
                   static_cast<DWORD>(ok ? ERROR_UNKNOWN_PORT : ERROR_ACCESS_DENIED));
#endif
        }
        const std::string token =
            RowName("GetTokenInformation TokenUser", user,
                    user.system ? "S-1-5-18" : "the machine's person, whatever their account");
        if (ctx.Begin(token.c_str(), conformance::WinsimOnly(kOneUser))) {
#ifndef _WIN32
            PlayedUser played(user);
            HANDLE t = nullptr;
            ROW_CHECK(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &t));
            alignas(TOKEN_USER) BYTE buffer[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE] = {};
            DWORD returned = 0;
            ROW_CHECK(GetTokenInformation(t, TokenUser, buffer, sizeof buffer, &returned));
            const PSID sid = reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid;
            const bool system = user.system;
            ROW_EQ(IsWellKnownSid(sid, WinLocalSystemSid), system ? TRUE : FALSE);
            ROW_EQ(returned, static_cast<DWORD>(sizeof(TOKEN_USER) + (system ? 12 : 28)));
            if (t != nullptr) CloseHandle(t);
#endif
        }
    }
}
