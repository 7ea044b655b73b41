// Security the monitor's log relies on: the process token's user, a file's
// owner, and the two well-known owners besides the user that it trusts.
// SIDs have the platform's binary layout (revision, count, authority, sub-
// authorities), so they compare byte for byte as on Windows.
#pragma once

#include "wintypes.h"

typedef PVOID PSID;
typedef unsigned char BOOLEAN;
typedef struct _ACL* PACL;
typedef DWORD SECURITY_INFORMATION;

#define OWNER_SECURITY_INFORMATION 0x00000001L
#define TOKEN_QUERY 0x0008
#define SECURITY_MAX_SID_SIZE 68

typedef enum _SE_OBJECT_TYPE { SE_UNKNOWN_OBJECT_TYPE = 0, SE_FILE_OBJECT = 1 } SE_OBJECT_TYPE;
typedef enum _TOKEN_INFORMATION_CLASS { TokenUser = 1 } TOKEN_INFORMATION_CLASS;
typedef enum {
    WinLocalSystemSid = 22,
    WinBuiltinAdministratorsSid = 26,
} WELL_KNOWN_SID_TYPE;

typedef struct _SID_AND_ATTRIBUTES {
    PSID Sid;
    DWORD Attributes;
} SID_AND_ATTRIBUTES;
typedef struct _TOKEN_USER {
    SID_AND_ATTRIBUTES User;
} TOKEN_USER, *PTOKEN_USER;
static_assert(sizeof(TOKEN_USER) == 16);

// The pseudo handle of the calling process.
WINSIM_API HANDLE WINAPI GetCurrentProcess(void);
// Only the current process's token, for TOKEN_QUERY; CloseHandle closes it.
WINSIM_API BOOL WINAPI OpenProcessToken(HANDLE process, DWORD access, HANDLE* token);
// TokenUser only: a TOKEN_USER whose SID follows it in the buffer; a buffer
// too small fails with ERROR_INSUFFICIENT_BUFFER and the size in *returned.
WINSIM_API BOOL WINAPI GetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS kind,
                                           LPVOID information, DWORD bytes, PDWORD returned);
// A file handle's owner (OWNER_SECURITY_INFORMATION, which needs READ_CONTROL
// on the handle) in a self-relative descriptor that the caller frees with
// LocalFree. Answers the error code; the last error is left alone.
WINSIM_API DWORD WINAPI GetSecurityInfo(HANDLE handle, SE_OBJECT_TYPE type,
                                        SECURITY_INFORMATION information, PSID* owner, PSID* group,
                                        PACL* dacl, PACL* sacl, PSECURITY_DESCRIPTOR* descriptor);
WINSIM_API BOOL WINAPI EqualSid(PSID a, PSID b);
// WinLocalSystemSid (S-1-5-18) and WinBuiltinAdministratorsSid (S-1-5-32-544).
WINSIM_API BOOL WINAPI IsWellKnownSid(PSID sid, WELL_KNOWN_SID_TYPE type);
