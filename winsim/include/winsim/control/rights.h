// The user a process of the machine runs as, with the rights Windows gives
// that user, and the calls the machine refused for want of them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "winsim/windows.h"

namespace winsim {

// Who runs: a standard user; an administrator whose token is not elevated
// (the Windows default: UAC leaves the Administrators group deny-only, so
// the token has a standard user's rights); an elevated administrator; the
// local system account.
enum class UserKind { Standard, Admin, Elevated, System };
// "standard", "admin", "elevated", "system".
const char* UserKindName(UserKind kind);
bool UserKindOf(const std::string& word, UserKind* kind);

// A process runs as the user it was started as: what SetProcessUser gave
// it, else what its starter passed down (WINSIM_USER, as a child inherits
// its parent's token), else the machine setting "user", else the Windows
// default, Admin.
UserKind ProcessUser();
// Runs this process, and the processes it starts from now on, as that user.
void SetProcessUser(UserKind kind);
// Back to the user the process was started as.
void ClearProcessUser();
// The SID text of the user's token (TokenUser). The administrator, elevated
// or not, and the standard user are the one account of the machine's
// person (kMachineUserSid), whose kind differs; SYSTEM is S-1-5-18.
std::string UserSid(UserKind kind);

// Every call the machine refused for the caller's rights, oldest first.
struct RefusalRecord {
    int64_t seq = 0;
    int pid = 0;
    std::string call;       // the function, "SetPortW"
    std::u16string target;  // the port or printer asked for
    std::string user;       // UserKindName of the caller
    DWORD error = 0;        // ERROR_ACCESS_DENIED
    int64_t micros = 0;
};
std::vector<RefusalRecord> Refusals();

}  // namespace winsim
