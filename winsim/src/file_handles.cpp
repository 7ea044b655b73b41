// Files and folders of the machine's drive by handle: CreateFileW (the USB
// device paths go to usb.cpp), GetFileInformationByHandle,
// GetFinalPathNameByHandleW and WriteFile, and the owner each file keeps.
// Links and junctions are host symbolic links under the drive: the host
// follows them as Windows follows a reparse point, except in the last part
// of a path opened with FILE_FLAG_OPEN_REPARSE_POINT. A file's owner is an
// extended attribute of its host file, so hard links share it as they
// share the file; without one the file belongs to the machine's user.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>

#include "internal.h"

namespace winsim {
const char kMachineUserSid[] = "S-1-5-21-1004336348-1177238915-682003330-1001";
}

namespace {

constexpr char kOwnerAttribute[] = "user.winsim.owner";

struct FileObject {
    int fd;
    DWORD access;  // granted, generic rights mapped to the file's own
    bool reparse;  // the reparse point itself, opened without following it
    bool folder;
};

std::mutex g_fileLock;
std::map<HANDLE, FileObject*>& Files() {
    static std::map<HANDLE, FileObject*> files;
    return files;
}

void CloseFile(HANDLE handle) {
    FileObject* file = nullptr;
    {
        std::lock_guard<std::mutex> guard(g_fileLock);
        auto it = Files().find(handle);
        if (it == Files().end()) return;
        file = it->second;
        Files().erase(it);
    }
    close(file->fd);
    delete file;
}

bool LookUp(HANDLE handle, FileObject* out) {
    std::lock_guard<std::mutex> guard(g_fileLock);
    auto it = Files().find(handle);
    if (it == Files().end()) return false;
    *out = *it->second;
    return true;
}

// The generic rights as a file object maps them (FILE_GENERIC_READ, ...).
DWORD Granted(DWORD access) {
    if ((access & GENERIC_ALL) != 0) {
        access |= FILE_READ_DATA | FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_READ_ATTRIBUTES |
                  FILE_WRITE_ATTRIBUTES | DELETE | READ_CONTROL | WRITE_OWNER | SYNCHRONIZE;
    }
    if ((access & GENERIC_READ) != 0) {
        access |= FILE_READ_DATA | FILE_READ_ATTRIBUTES | READ_CONTROL | SYNCHRONIZE;
    }
    if ((access & GENERIC_WRITE) != 0) {
        access |=
            FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_ATTRIBUTES | READ_CONTROL | SYNCHRONIZE;
    }
    return access & ~static_cast<DWORD>(GENERIC_ALL | GENERIC_READ | GENERIC_WRITE);
}

// Append-only access writes at the end whatever the position, as Windows
// does for a handle with FILE_APPEND_DATA and not FILE_WRITE_DATA.
int DataMode(DWORD granted) {
    const bool reads = (granted & FILE_READ_DATA) != 0;
    const bool writes = (granted & FILE_WRITE_DATA) != 0;
    const bool appends = (granted & FILE_APPEND_DATA) != 0 && !writes;
    if (!writes && !appends) return O_RDONLY;
    return (reads ? O_RDWR : O_WRONLY) | (appends ? O_APPEND : 0);
}

// The path after an optional "\\?\" when it names a drive ("C:\..."), or
// nullptr for a device path.
const WCHAR* DrivePath(const WCHAR* path) {
    const WCHAR* p = path;
    if (p[0] == '\\' && p[1] == '\\' && p[2] == '?' && p[3] == '\\') p += 4;
    const bool letter = (p[0] >= 'A' && p[0] <= 'Z') || (p[0] >= 'a' && p[0] <= 'z');
    return letter && p[1] == ':' && p[2] == '\\' ? p : nullptr;
}

HANDLE Failed(DWORD error) {
    SetLastError(error);
    return INVALID_HANDLE_VALUE;
}

DWORD ErrorOf(int error) {
    return error == ENOENT || error == ENOTDIR ? ERROR_PATH_NOT_FOUND : ERROR_ACCESS_DENIED;
}

HANDLE Opened(int fd, DWORD granted, bool reparse, bool folder, DWORD lastError) {
    if (fd < 0) return Failed(ErrorOf(errno));
    auto* file = new FileObject{fd, granted, reparse, folder};
    {
        std::lock_guard<std::mutex> guard(g_fileLock);
        Files()[file] = file;
    }
    winsim::detail::RegisterKernelHandle(file, CloseFile);
    // Success sets the last error: ERROR_ALREADY_EXISTS when OPEN_ALWAYS
    // found the file, 0 otherwise.
    SetLastError(lastError);
    return file;
}

HANDLE OpenDriveFile(const WCHAR* path, DWORD access, DWORD disposition, DWORD flags) {
    if (disposition != CREATE_NEW && disposition != OPEN_EXISTING && disposition != OPEN_ALWAYS) {
        return Failed(ERROR_INVALID_PARAMETER);
    }
    const std::string host = winsim::HostPath(winsim::detail::Str(path));
    const DWORD granted = Granted(access);
    const bool backup = (flags & FILE_FLAG_BACKUP_SEMANTICS) != 0;
    const DWORD found = disposition == OPEN_ALWAYS ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS;
    struct stat named {};
    if (lstat(host.c_str(), &named) == 0 && S_ISLNK(named.st_mode) &&
        (flags & FILE_FLAG_OPEN_REPARSE_POINT) != 0) {
        if (disposition == CREATE_NEW) return Failed(ERROR_FILE_EXISTS);
        // A link to a folder is a folder's reparse point (a junction or a
        // directory link), opened only as a folder is.
        struct stat target {};
        const bool folder = stat(host.c_str(), &target) == 0 && S_ISDIR(target.st_mode);
        if (folder && !backup) return Failed(ERROR_ACCESS_DENIED);
        return Opened(open(host.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC), granted, true, folder,
                      found);
    }
    struct stat st {};
    if (stat(host.c_str(), &st) == 0) {
        if (disposition == CREATE_NEW) return Failed(ERROR_FILE_EXISTS);
        const bool folder = S_ISDIR(st.st_mode);
        if (folder && !backup) return Failed(ERROR_ACCESS_DENIED);
        const int mode = folder ? O_RDONLY | O_DIRECTORY : DataMode(granted);
        return Opened(open(host.c_str(), mode | O_CLOEXEC), granted, false, folder, found);
    }
    const size_t slash = host.rfind('/');
    struct stat parent {};
    if (slash == std::string::npos || stat(host.substr(0, slash).c_str(), &parent) != 0 ||
        !S_ISDIR(parent.st_mode)) {
        return Failed(ERROR_PATH_NOT_FOUND);
    }
    if (disposition == OPEN_EXISTING) return Failed(ERROR_FILE_NOT_FOUND);
    // A dangling link is followed: Windows creates a followed link's target.
    return Opened(open(host.c_str(), DataMode(granted) | O_CREAT | O_CLOEXEC, 0644), granted, false,
                  false, ERROR_SUCCESS);
}

FILETIME FileTime(const struct timespec& t) {
    // 100-ns units since 1601-01-01.
    const uint64_t ticks = (static_cast<uint64_t>(t.tv_sec) + 11644473600ULL) * 10000000ULL +
                           static_cast<uint64_t>(t.tv_nsec) / 100;
    return FILETIME{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}

}  // namespace

bool winsim::detail::FileHandleOwner(HANDLE handle, std::string* sid, DWORD* access) {
    FileObject file{};
    if (!LookUp(handle, &file)) return false;
    *access = file.access;
    *sid = kMachineUserSid;
    char text[SECURITY_MAX_SID_SIZE * 4] = {};
    // A reparse point opened itself has no attributes of its own here.
    ssize_t n = file.reparse ? -1 : fgetxattr(file.fd, kOwnerAttribute, text, sizeof text - 1);
    if (n > 0) *sid = std::string(text, static_cast<size_t>(n));
    return true;
}

bool winsim::SetFileOwner(const std::u16string& windowsPath, const std::string& sid) {
    const std::string host = HostPath(windowsPath);
    return setxattr(host.c_str(), kOwnerAttribute, sid.data(), sid.size(), 0) == 0;
}

// A drive path opens a file or folder (CREATE_NEW, OPEN_EXISTING and
// OPEN_ALWAYS), any other path a USB printing interface.
WINSIM_API HANDLE WINAPI CreateFileW(LPCWSTR path, DWORD access, DWORD, LPSECURITY_ATTRIBUTES,
                                     DWORD disposition, DWORD flags, HANDLE) {
    if (winsim::detail::Faulted("CreateFileW")) return INVALID_HANDLE_VALUE;
    if (path == nullptr) return Failed(ERROR_INVALID_PARAMETER);
    const WCHAR* drivePath = DrivePath(path);
    if (drivePath == nullptr) return winsim::detail::OpenUsbDevicePath(path, disposition);
    return OpenDriveFile(drivePath, access, disposition, flags);
}

// Needs FILE_READ_ATTRIBUTES. A folder counts one link, as NTFS reports it.
WINSIM_API BOOL WINAPI GetFileInformationByHandle(HANDLE handle,
                                                  LPBY_HANDLE_FILE_INFORMATION info) {
    if (winsim::detail::Faulted("GetFileInformationByHandle")) return FALSE;
    FileObject file{};
    if (!LookUp(handle, &file)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    struct stat st {};
    if (info == nullptr || (file.access & FILE_READ_ATTRIBUTES) == 0 || fstat(file.fd, &st) != 0) {
        SetLastError(info == nullptr ? ERROR_INVALID_PARAMETER : ERROR_ACCESS_DENIED);
        return FALSE;
    }
    *info = BY_HANDLE_FILE_INFORMATION{};
    info->dwFileAttributes = file.folder ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE;
    if (file.reparse) info->dwFileAttributes |= FILE_ATTRIBUTE_REPARSE_POINT;
    info->ftCreationTime = FileTime(st.st_ctim);
    info->ftLastAccessTime = FileTime(st.st_atim);
    info->ftLastWriteTime = FileTime(st.st_mtim);
    info->dwVolumeSerialNumber = static_cast<DWORD>(st.st_dev);
    const uint64_t size = file.folder ? 0 : static_cast<uint64_t>(st.st_size);
    info->nFileSizeHigh = static_cast<DWORD>(size >> 32);
    info->nFileSizeLow = static_cast<DWORD>(size);
    info->nNumberOfLinks = file.folder ? 1 : static_cast<DWORD>(st.st_nlink);
    info->nFileIndexHigh = static_cast<DWORD>(static_cast<uint64_t>(st.st_ino) >> 32);
    info->nFileIndexLow = static_cast<DWORD>(st.st_ino);
    return TRUE;
}

// VOLUME_NAME_DOS only: "\\?\C:\..." with every link on the way resolved,
// the last part too unless the handle is the reparse point itself. A
// buffer too small answers the units needed with the terminator.
WINSIM_API DWORD WINAPI GetFinalPathNameByHandleW(HANDLE handle, LPWSTR path, DWORD units,
                                                  DWORD flags) {
    if (winsim::detail::Faulted("GetFinalPathNameByHandleW")) return 0;
    FileObject file{};
    if (!LookUp(handle, &file)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    if ((flags & ~static_cast<DWORD>(FILE_NAME_OPENED)) != VOLUME_NAME_DOS) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    char link[64];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", file.fd);
    char target[PATH_MAX];
    ssize_t n = readlink(link, target, sizeof target);
    char* root = realpath(winsim::MachineRoot().c_str(), nullptr);
    std::string host = n > 0 ? std::string(target, static_cast<size_t>(n)) : std::string();
    std::string drive = root != nullptr ? std::string(root) + "/drive_" : std::string();
    std::free(root);
    // Beyond the machine's drives there is no DOS name.
    if (drive.empty() || host.size() <= drive.size() || host.compare(0, drive.size(), drive) != 0 ||
        (host.size() > drive.size() + 1 && host[drive.size() + 1] != '/')) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return 0;
    }
    const char letter = static_cast<char>(host[drive.size()] - 'a' + 'A');
    std::string rest = host.substr(drive.size() + 1);
    if (rest.empty()) rest = "/";
    for (char& c : rest) {
        if (c == '/') c = '\\';
    }
    const std::u16string name = u"\\\\?\\" + std::u16string(1, static_cast<char16_t>(letter)) +
                                u":" + winsim::ToUtf16(rest);
    if (path == nullptr || units <= name.size()) return static_cast<DWORD>(name.size() + 1);
    std::copy(name.begin(), name.end(), path);
    path[name.size()] = 0;
    return static_cast<DWORD>(name.size());
}

// Needs FILE_WRITE_DATA or FILE_APPEND_DATA. A reparse point opened itself
// is not written here (Windows would write the link's own empty stream).
WINSIM_API BOOL WINAPI WriteFile(HANDLE handle, LPCVOID data, DWORD bytes, LPDWORD written,
                                 LPVOID) {
    if (written != nullptr) *written = 0;
    FileObject file{};
    if (!LookUp(handle, &file)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (winsim::detail::Faulted("WriteFile")) return FALSE;
    if ((file.access & (FILE_WRITE_DATA | FILE_APPEND_DATA)) == 0 || file.folder || file.reparse) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (written == nullptr || (data == nullptr && bytes != 0)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    DWORD done = 0;
    while (done < bytes) {
        ssize_t n = write(file.fd, static_cast<const char*>(data) + done, bytes - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            *written = done;
            SetLastError(errno == ENOSPC ? ERROR_DISK_FULL : ERROR_WRITE_FAULT);
            return FALSE;
        }
        done += static_cast<DWORD>(n);
    }
    *written = done;
    return TRUE;
}
