// Files and folders by handle as the monitor's log judges them: a junction
// or a symbolic link opened with FILE_FLAG_OPEN_REPARSE_POINT is the link
// itself, a hard link counts its names, the final path resolves every link
// on the way, OPEN_ALWAYS with FILE_APPEND_DATA appends; and a folder's
// owner against the process token's user and the well-known owners.
#include <string>

#include "adapter.h"
#include "conformance.h"

namespace {

constexpr DWORD kSentinel = 0xdeadbeef;
const WCHAR kRoot[] = TEXT("C:\\temp\\larklinks");
const WCHAR kFolder[] = TEXT("C:\\temp\\larklinks\\folder");
const WCHAR kJunction[] = TEXT("C:\\temp\\larklinks\\junction");
const WCHAR kFile[] = TEXT("C:\\temp\\larklinks\\folder\\file.txt");
const WCHAR kFileLink[] = TEXT("C:\\temp\\larklinks\\link.txt");
const WCHAR kSecondName[] = TEXT("C:\\temp\\larklinks\\second.txt");
const char kBytes[] = "a file's own bytes";

// S-1-5-18 and S-1-5-32-544 in their binary form.
const BYTE kSystem[] = {1, 1, 0, 0, 0, 0, 0, 5, 18, 0, 0, 0};
const BYTE kAdministrators[] = {1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x20, 2, 0, 0};

constexpr DWORD kJudge = FILE_READ_ATTRIBUTES | READ_CONTROL | SYNCHRONIZE;
constexpr DWORD kShare = FILE_SHARE_READ | FILE_SHARE_WRITE;

struct Opened {
    HANDLE handle;
    explicit Opened(const WCHAR* path, DWORD access = kJudge, DWORD disposition = OPEN_EXISTING,
                    DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT)
        : handle(CreateFileW(path, access, kShare, nullptr, disposition, flags, nullptr)) {}
    ~Opened() {
        if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
    }
    Opened(const Opened&) = delete;
    Opened& operator=(const Opened&) = delete;
    bool ok() const { return handle != INVALID_HANDLE_VALUE; }
};

BY_HANDLE_FILE_INFORMATION Info(HANDLE h) {
    BY_HANDLE_FILE_INFORMATION info = {};
    if (!GetFileInformationByHandle(h, &info)) info.dwFileAttributes = 0xFFFFFFFF;
    return info;
}

std::basic_string<WCHAR> Final(HANDLE h) {
    WCHAR path[MAX_PATH] = {};
    DWORD units = GetFinalPathNameByHandleW(h, path, MAX_PATH, FILE_NAME_NORMALIZED);
    return units > 0 && units < MAX_PATH ? path : TEXT("(none)");
}

std::basic_string<WCHAR> Dos(const WCHAR* path) {
    return TEXT("\\\\?\\") + std::basic_string<WCHAR>(path);
}

std::string Bytes(const WCHAR* path) {
    std::string bytes;
    return conformance::ReadFileBytes(path, &bytes) ? bytes : "(none)";
}

// The owner GetSecurityInfo gives, copied out; empty when the call fails.
std::string Owner(const WCHAR* path) {
    Opened folder(path);
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!folder.ok() ||
        GetSecurityInfo(folder.handle, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr,
                        nullptr, nullptr, &descriptor) != ERROR_SUCCESS) {
        return std::string();
    }
    const BYTE* b = static_cast<const BYTE*>(owner);
    std::string sid(reinterpret_cast<const char*>(b), 8 + 4 * static_cast<size_t>(b[1]));
    LocalFree(descriptor);
    return sid;
}

std::string TokenUserSid() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return std::string();
    alignas(TOKEN_USER) BYTE user[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE] = {};
    DWORD returned = 0;
    BOOL ok = GetTokenInformation(token, TokenUser, user, sizeof user, &returned);
    CloseHandle(token);
    if (!ok) return std::string();
    const BYTE* b = static_cast<const BYTE*>(reinterpret_cast<TOKEN_USER*>(user)->User.Sid);
    return std::string(reinterpret_cast<const char*>(b), 8 + 4 * static_cast<size_t>(b[1]));
}

bool Known(const std::string& sid, WELL_KNOWN_SID_TYPE type) {
    return IsWellKnownSid(const_cast<char*>(sid.data()), type) != FALSE;
}

// The folders and files every row starts from.
bool Plant() {
    conformance::RemovePath(kRoot);
    conformance::MakeFolder(TEXT("C:\\temp"));  // there already on winsim
    return conformance::MakeFolder(kRoot) && conformance::MakeFolder(kFolder) &&
           conformance::WriteWholeFile(kFile, kBytes);
}

}  // namespace

CONFORMANCE_COVERS(Rows,
                   "CreateFileW GetFileInformationByHandle GetFinalPathNameByHandleW WriteFile "
                   "GetSecurityInfo OpenProcessToken GetTokenInformation GetCurrentProcess "
                   "EqualSid IsWellKnownSid",
                   nullptr);

CONFORMANCE_TABLE(FilesByHandle, "files and folders by handle, links not followed") {
    if (!ctx.Begin("the folders and the file planted")) return;
    if (!ROW_CHECK(Plant())) return;

    if (ctx.Begin("a junction opened with FILE_FLAG_OPEN_REPARSE_POINT: the junction itself",
                  conformance::WineDiffers("Wine 8 keeps no reparse points: "
                                           "FSCTL_SET_REPARSE_POINT fails"))) {
        const bool made =
            conformance::MakeLink(conformance::LinkKind::Junction, kJunction, kFolder);
        ROW_EQ(made, !ctx.WineExpectation());
        if (made) {
            Opened link(kJunction);
            ROW_EQ(Info(link.handle).dwFileAttributes &
                       (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT),
                   static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT));
            ROW_TEXT(Final(link.handle).c_str(), Dos(kJunction).c_str());
            // Followed, it is the folder it names, under that folder's path.
            Opened followed(kJunction, kJudge, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS);
            ROW_EQ(Info(followed.handle).dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT, 0u);
            ROW_TEXT(Final(followed.handle).c_str(), Dos(kFolder).c_str());
        }
    }
    if (ctx.Begin("a file symbolic link opened with the flag and OPEN_ALWAYS: the link itself",
                  conformance::WineDiffers("Wine 8's CreateSymbolicLinkW makes no link"))) {
        const bool made =
            conformance::MakeLink(conformance::LinkKind::FileSymlink, kFileLink, kFile);
        ROW_EQ(made, !ctx.WineExpectation());
        if (made) {
            Opened link(kFileLink, FILE_APPEND_DATA | kJudge, OPEN_ALWAYS,
                        FILE_FLAG_OPEN_REPARSE_POINT);
            ROW_CHECK(link.ok());
            ROW_EQ(Info(link.handle).dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT,
                   static_cast<DWORD>(FILE_ATTRIBUTE_REPARSE_POINT));
            ROW_TEXT(Final(link.handle).c_str(), Dos(kFileLink).c_str());
        }
        ROW_BYTES(Bytes(kFile), std::string(kBytes));
    }
    if (ctx.Begin("a hard link: two names, each counting both; the final path the name opened")) {
        ROW_CHECK(conformance::MakeLink(conformance::LinkKind::HardLink, kSecondName, kFile));
        Opened first(kFile, kJudge, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT);
        Opened second(kSecondName, kJudge, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT);
        ROW_EQ(Info(first.handle).nNumberOfLinks, 2u);
        ROW_EQ(Info(second.handle).nNumberOfLinks, 2u);
        ROW_EQ(Info(second.handle).dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT, 0u);
        ROW_EQ(Info(first.handle).nFileIndexLow, Info(second.handle).nFileIndexLow);
        ROW_TEXT(Final(second.handle).c_str(), Dos(kSecondName).c_str());
    }
    if (ctx.Begin("a folder without FILE_FLAG_BACKUP_SEMANTICS: ERROR_ACCESS_DENIED")) {
        SetLastError(kSentinel);
        Opened folder(kFolder, kJudge, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT);
        ROW_CHECK(!folder.ok());
        ROW_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    }
    if (ctx.Begin("a real folder: DIRECTORY, one link, its own final path")) {
        Opened folder(kFolder);
        ROW_EQ(Info(folder.handle).dwFileAttributes &
                   (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT),
               static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
        ROW_TEXT(Final(folder.handle).c_str(), Dos(kFolder).c_str());
        WCHAR small[8] = {};
        ROW_EQ(GetFinalPathNameByHandleW(folder.handle, small, 8, FILE_NAME_NORMALIZED),
               static_cast<DWORD>(Dos(kFolder).size() + 1));
    }
    if (ctx.Begin("OPEN_ALWAYS with FILE_APPEND_DATA: made (last error 0), then found "
                  "(ERROR_ALREADY_EXISTS); each write at the end")) {
        const WCHAR* path = TEXT("C:\\temp\\larklinks\\folder\\append.txt");
        for (DWORD expected :
             {static_cast<DWORD>(ERROR_SUCCESS), static_cast<DWORD>(ERROR_ALREADY_EXISTS)}) {
            SetLastError(kSentinel);
            Opened file(path, FILE_APPEND_DATA | kJudge, OPEN_ALWAYS, FILE_FLAG_OPEN_REPARSE_POINT);
            ROW_EQ(GetLastError(), expected);
            DWORD written = 0;
            ROW_CHECK(WriteFile(file.handle, "ab\r\n", 4, &written, nullptr));
            ROW_EQ(written, 4u);
            ROW_EQ(Info(file.handle).nNumberOfLinks, 1u);
        }
        ROW_BYTES(Bytes(path), std::string("ab\r\nab\r\n"));
    }
    if (ctx.Begin("WriteFile on a handle without write access: ERROR_ACCESS_DENIED")) {
        Opened file(kFile, kJudge, OPEN_EXISTING, 0);
        DWORD written = 7;
        SetLastError(kSentinel);
        ROW_CHECK(!WriteFile(file.handle, "x", 1, &written, nullptr));
        ROW_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
        ROW_EQ(written, 0u);
        ROW_BYTES(Bytes(kFile), std::string(kBytes));
    }
    if (ctx.Begin("OPEN_ALWAYS in a folder that is not there: ERROR_PATH_NOT_FOUND, none made")) {
        SetLastError(kSentinel);
        Opened file(TEXT("C:\\temp\\larklinks\\none\\log.txt"), FILE_APPEND_DATA, OPEN_ALWAYS,
                    FILE_FLAG_OPEN_REPARSE_POINT);
        ROW_CHECK(!file.ok());
        ROW_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
        Opened folder(TEXT("C:\\temp\\larklinks\\none"));
        ROW_CHECK(!folder.ok());
    }
    if (ctx.Begin("the planted files removed")) ROW_CHECK(conformance::RemovePath(kRoot));
}

CONFORMANCE_TABLE(FileOwners, "a folder's owner and the process's user") {
    if (!ctx.Begin("the folders planted")) return;
    if (!ROW_CHECK(Plant())) return;
    const std::string user = TokenUserSid();
    if (ctx.Begin("TokenUser: too small a buffer fails with the size, then the user's SID")) {
        HANDLE token = nullptr;
        ROW_CHECK(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
        DWORD needed = 0;
        SetLastError(kSentinel);
        ROW_CHECK(!GetTokenInformation(token, TokenUser, nullptr, 0, &needed));
        ROW_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
        ROW_EQ(needed, static_cast<DWORD>(sizeof(TOKEN_USER) + user.size()));
        if (token != nullptr) CloseHandle(token);
        ROW_CHECK(user.size() >= 12);
        ROW_CHECK(!Known(user, WinLocalSystemSid) && !Known(user, WinBuiltinAdministratorsSid));
    }
    if (ctx.Begin("a folder the process made: its user's, or Administrators' for an "
                  "administrator")) {
        const std::string owner = Owner(kFolder);
        ROW_CHECK(!owner.empty());
        const bool mine =
            EqualSid(const_cast<char*>(owner.data()), const_cast<char*>(user.data())) != FALSE;
        ROW_CHECK(mine || Known(owner, WinBuiltinAdministratorsSid));
        ROW_NOTE("%s", mine ? "the user" : "Administrators");
    }
    if (ctx.Begin("a folder given to another user: that owner, no one the log trusts",
                  conformance::WineDiffers(conformance::kWineKeepsOwner))) {
        const bool given = conformance::GiveToAnotherUser(kFolder);
        ROW_EQ(given, !ctx.WineExpectation());
        const std::string owner = Owner(kFolder);
        ROW_CHECK(owner.size() >= 12);
        // Under Wine the folder stays the user's.
        ROW_EQ(owner != user, given);
        ROW_CHECK(!Known(owner, WinLocalSystemSid) && !Known(owner, WinBuiltinAdministratorsSid));
    }
    if (ctx.Begin("GetSecurityInfo without READ_CONTROL: ERROR_ACCESS_DENIED")) {
        Opened folder(kFolder, FILE_READ_ATTRIBUTES);
        PSID owner = nullptr;
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        ROW_EQ(GetSecurityInfo(folder.handle, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner,
                               nullptr, nullptr, nullptr, &descriptor),
               static_cast<DWORD>(ERROR_ACCESS_DENIED));
        ROW_CHECK(descriptor == nullptr);
    }
    if (ctx.Begin("IsWellKnownSid and EqualSid: SYSTEM and Administrators, each only itself")) {
        const std::string system(reinterpret_cast<const char*>(kSystem), sizeof kSystem);
        const std::string admins(reinterpret_cast<const char*>(kAdministrators),
                                 sizeof kAdministrators);
        ROW_CHECK(Known(system, WinLocalSystemSid));
        ROW_CHECK(!Known(system, WinBuiltinAdministratorsSid));
        ROW_CHECK(Known(admins, WinBuiltinAdministratorsSid));
        ROW_CHECK(!Known(admins, WinLocalSystemSid));
        ROW_CHECK(!EqualSid(const_cast<char*>(system.data()), const_cast<char*>(admins.data())));
        ROW_CHECK(EqualSid(const_cast<char*>(system.data()), const_cast<BYTE*>(kSystem)));
    }
    if (ctx.Begin("the planted folders removed")) ROW_CHECK(conformance::RemovePath(kRoot));
}
