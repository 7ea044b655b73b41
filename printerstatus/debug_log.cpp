#include "debug_log.h"

#include <cstdio>

#include "platform.h"
#include "scoped.h"
#include "text.h"

namespace {

// Any local user may create folders under C:\ and plant links in them, and
// the monitor runs as whoever printed (SYSTEM when a service prints). So the
// log is written only through handles that were judged themselves: the
// folder a real one at exactly this path, owned by someone the monitor
// trusts, the file neither a link nor a second name of another file.
const WCHAR kFolder[] = TEXT("c:\\temp\\larkdeb");
const WCHAR kFile[] = TEXT("c:\\temp\\larkdeb\\larksm.txt");
const WCHAR kFinalFolder[] = TEXT("\\\\?\\C:\\temp\\larkdeb");
const WCHAR kFinalFile[] = TEXT("\\\\?\\C:\\temp\\larkdeb\\larksm.txt");

// The path the handle really names, every link on the way resolved.
bool FinalPathIs(HANDLE handle, const WCHAR* expected) {
    WCHAR path[MAX_PATH] = {};
    DWORD units =
        GetFinalPathNameByHandleW(handle, path, MAX_PATH, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    return units > 0 && units < MAX_PATH && TextEqualNoCase(path, expected);
}

// Not a reparse point of any kind (junction, symbolic link, mount point):
// a folder, or a file with no other name.
bool PlainEntry(HANDLE handle, bool folder) {
    BY_HANDLE_FILE_INFORMATION info = {};
    if (!GetFileInformationByHandle(handle, &info)) return false;
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return false;
    const bool isFolder = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    return folder ? isFolder : !isFolder && info.nNumberOfLinks == 1;
}

bool IsProcessUser(PSID sid) {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
    ScopedHandle tokenOwner(token);
    // A TOKEN_USER and the largest SID: no second call needed.
    alignas(TOKEN_USER) BYTE user[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE] = {};
    DWORD returned = 0;
    if (!GetTokenInformation(token, TokenUser, user, sizeof user, &returned)) return false;
    return EqualSid(reinterpret_cast<TOKEN_USER*>(user)->User.Sid, sid) != FALSE;
}

// Owned by the user the monitor runs as, by Administrators or by SYSTEM:
// a folder another user made is theirs to read and to fill with links.
bool OwnedByTrusted(HANDLE folder) {
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetSecurityInfo(folder, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr,
                        nullptr, nullptr, &descriptor) != ERROR_SUCCESS) {
        return false;
    }
    LocalBlock<void> descriptorOwner(descriptor);
    if (owner == nullptr) return false;
    return IsWellKnownSid(owner, WinLocalSystemSid) ||
           IsWellKnownSid(owner, WinBuiltinAdministratorsSid) || IsProcessUser(owner);
}

// The folder opened without following a link and without FILE_SHARE_DELETE:
// while it is held it cannot be renamed, removed or replaced by a link, and
// NTFS refuses to rename a folder that holds an open one, so the file's path
// below goes through this folder.
[[nodiscard]] ScopedHandle OpenTrustedFolder() {
    ScopedHandle folder(CreateFileW(kFolder, FILE_READ_ATTRIBUTES | READ_CONTROL | SYNCHRONIZE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                    nullptr));
    if (folder.get() == INVALID_HANDLE_VALUE || !PlainEntry(folder.get(), true) ||
        !FinalPathIs(folder.get(), kFinalFolder) || !OwnedByTrusted(folder.get())) {
        return ScopedHandle();
    }
    return folder;
}

// The line as the runtime's text mode "a" wrote it: every LF of the message
// and the line end as CR LF, appended in one write.
void AppendLine(HANDLE file, const char* message) {
    char line[1024];
    size_t used = 0;
    auto put = [&](char c) {
        if (used == sizeof line) {
            DWORD written = 0;
            WriteFile(file, line, static_cast<DWORD>(used), &written, nullptr);
            used = 0;
        }
        line[used++] = c;
    };
    for (const char* c = message; *c != 0; ++c) {
        if (*c == '\n') put('\r');
        put(*c);
    }
    put('\r');
    put('\n');
    DWORD written = 0;
    WriteFile(file, line, static_cast<DWORD>(used), &written, nullptr);
}

}  // namespace

void WriteDebugLog(const char* message) {
    // The log is opened and closed per line so that it is complete up to the
    // last line even when the monitor is stopped from outside. The folder is
    // never created: the log exists only where someone made c:\temp\larkdeb.
    // Any failure drops the line.
    ScopedHandle folder = OpenTrustedFolder();
    if (!folder) return;
    ScopedHandle file(CreateFileW(kFile, FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                  FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (file.get() == INVALID_HANDLE_VALUE || !PlainEntry(file.get(), false) ||
        !FinalPathIs(file.get(), kFinalFile)) {
        return;
    }
    AppendLine(file.get(), message);
}

void LogNumber(const char* format, int value) {
    char line[96];
    std::snprintf(line, sizeof line, format, value);
    WriteDebugLog(line);
}
