// The user each process runs as and the rights Windows gives that user.
// Only an elevated administrator's token and SYSTEM's hold the
// Administrators group for access checks; a UAC-filtered administrator's
// token holds it deny-only, so for the spooler it is a standard user's.
#include <unistd.h>

#include <atomic>
#include <cstdlib>

#include "internal.h"

namespace winsim {
namespace {

constexpr const char* kNames[] = {"standard", "admin", "elevated", "system"};
constexpr int kNone = -1;
std::atomic<int> g_processUser{kNone};
// The identity a thread acts as while the spooler runs driver code on it.
thread_local int t_acting = kNone;

}  // namespace

const char* UserKindName(UserKind kind) { return kNames[static_cast<int>(kind)]; }

bool UserKindOf(const std::string& word, UserKind* kind) {
    for (int i = 0; i < 4; ++i) {
        if (word == kNames[i]) {
            *kind = static_cast<UserKind>(i);
            return true;
        }
    }
    return false;
}

UserKind ProcessUser() {
    if (t_acting != kNone) return static_cast<UserKind>(t_acting);
    const int set = g_processUser.load();
    if (set != kNone) return static_cast<UserKind>(set);
    UserKind kind = UserKind::Admin;
    const char* inherited = std::getenv("WINSIM_USER");
    if (inherited != nullptr && inherited[0] != 0 && UserKindOf(inherited, &kind)) return kind;
    if (UserKindOf(GetSetting("user", "admin"), &kind)) return kind;
    return UserKind::Admin;
}

void SetProcessUser(UserKind kind) {
    g_processUser = static_cast<int>(kind);
    setenv("WINSIM_USER", UserKindName(kind), 1);
}

void ClearProcessUser() {
    g_processUser = kNone;
    unsetenv("WINSIM_USER");
}

std::string UserSid(UserKind kind) {
    return kind == UserKind::System ? "S-1-5-18" : kMachineUserSid;
}

std::vector<RefusalRecord> Refusals() {
    std::vector<RefusalRecord> records;
    detail::Exec("SELECT seq, pid, call, target, user, error, micros FROM refusals ORDER BY seq",
                 {}, [&](sqlite3_stmt* s) {
                     RefusalRecord r;
                     r.seq = sqlite3_column_int64(s, 0);
                     r.pid = sqlite3_column_int(s, 1);
                     r.call = ToUtf8(detail::ColumnText16(s, 2));
                     r.target = detail::ColumnText16(s, 3);
                     r.user = ToUtf8(detail::ColumnText16(s, 4));
                     r.error = static_cast<DWORD>(sqlite3_column_int64(s, 5));
                     r.micros = sqlite3_column_int64(s, 6);
                     records.push_back(r);
                 });
    return records;
}

namespace detail {

bool CallerIsAdministrator() {
    const UserKind kind = ProcessUser();
    return kind == UserKind::Elevated || kind == UserKind::System;
}

void RecordRefusal(const char* call, const std::u16string& target) {
    Exec("INSERT INTO refusals(pid, call, target, user, error, micros) VALUES(?, ?, ?, ?, ?, ?)",
         {P(static_cast<int64_t>(getpid())), P(std::string(call)), P(target),
          P(std::string(UserKindName(ProcessUser()))), P(static_cast<int64_t>(ERROR_ACCESS_DENIED)),
          P(NowMicros())});
}

ActingAsSystem::ActingAsSystem() : previous_(t_acting) {
    t_acting = static_cast<int>(UserKind::System);
}
ActingAsSystem::~ActingAsSystem() { t_acting = previous_; }

}  // namespace detail
}  // namespace winsim
