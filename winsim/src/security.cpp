// The process token's user, a file's owner in a self-relative security
// descriptor, and SID comparisons. A process's token user is the user it
// runs as (winsim::ProcessUser): the machine's person, whatever the kind of
// their account, or SYSTEM.
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "internal.h"

namespace {

using Sid = std::string;  // the binary SID

// SID text ("S-1-5-21-...") in its binary form; empty when it does not read.
Sid SidOf(const std::string& text) {
    if (text.compare(0, 4, "S-1-") != 0) return Sid();
    std::vector<uint64_t> parts;
    size_t at = 4;
    while (at <= text.size()) {
        size_t end = text.find('-', at);
        if (end == std::string::npos) end = text.size();
        if (end == at) return Sid();
        uint64_t value = 0;
        for (size_t i = at; i < end; ++i) {
            if (text[i] < '0' || text[i] > '9') return Sid();
            value = value * 10 + static_cast<uint64_t>(text[i] - '0');
            if (value > 0xFFFFFFFFFFFFULL) return Sid();
        }
        parts.push_back(value);
        at = end + 1;
    }
    if (parts.empty() || parts.size() > 16) return Sid();
    Sid sid(8, '\0');
    sid[0] = 1;
    sid[1] = static_cast<char>(parts.size() - 1);
    for (int i = 0; i < 6; ++i) sid[2 + i] = static_cast<char>(parts[0] >> (8 * (5 - i)));
    for (size_t i = 1; i < parts.size(); ++i) {
        const auto sub = static_cast<uint32_t>(parts[i]);
        char bytes[4];
        std::memcpy(bytes, &sub, 4);  // little-endian, as on Windows
        sid.append(bytes, 4);
    }
    return sid;
}

// The bytes of a valid SID, or 0.
size_t SidBytes(const void* sid) {
    if (sid == nullptr) return 0;
    const auto* b = static_cast<const unsigned char*>(sid);
    return b[0] == 1 && b[1] <= 15 ? 8 + 4 * static_cast<size_t>(b[1]) : 0;
}

struct TokenObject {
    DWORD access;
};
std::mutex g_tokenLock;
std::map<HANDLE, TokenObject*>& Tokens() {
    static std::map<HANDLE, TokenObject*> tokens;
    return tokens;
}

void CloseToken(HANDLE handle) {
    TokenObject* token = nullptr;
    {
        std::lock_guard<std::mutex> guard(g_tokenLock);
        auto it = Tokens().find(handle);
        if (it == Tokens().end()) return;
        token = it->second;
        Tokens().erase(it);
    }
    delete token;
}

const HANDLE kCurrentProcess = reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-1));

}  // namespace

WINSIM_API HANDLE WINAPI GetCurrentProcess(void) { return kCurrentProcess; }

WINSIM_API BOOL WINAPI OpenProcessToken(HANDLE process, DWORD access, HANDLE* token) {
    if (winsim::detail::Faulted("OpenProcessToken")) return FALSE;
    if (token == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (process != kCurrentProcess) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    auto* object = new TokenObject{access};
    {
        std::lock_guard<std::mutex> guard(g_tokenLock);
        Tokens()[object] = object;
    }
    winsim::detail::RegisterKernelHandle(object, CloseToken);
    *token = object;
    return TRUE;
}

WINSIM_API BOOL WINAPI GetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS kind,
                                           LPVOID information, DWORD bytes, PDWORD returned) {
    if (winsim::detail::Faulted("GetTokenInformation")) return FALSE;
    DWORD access = 0;
    {
        std::lock_guard<std::mutex> guard(g_tokenLock);
        auto it = Tokens().find(token);
        if (it == Tokens().end()) {
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
        access = it->second->access;
    }
    if (kind != TokenUser || returned == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if ((access & TOKEN_QUERY) == 0) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    const Sid user = SidOf(winsim::UserSid(winsim::ProcessUser()));
    const DWORD needed = static_cast<DWORD>(sizeof(TOKEN_USER) + user.size());
    *returned = needed;
    if (information == nullptr || bytes < needed) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    auto* out = static_cast<unsigned char*>(information);
    std::memcpy(out + sizeof(TOKEN_USER), user.data(), user.size());
    TOKEN_USER record = {{out + sizeof(TOKEN_USER), 0}};
    std::memcpy(out, &record, sizeof record);
    return TRUE;
}

WINSIM_API DWORD WINAPI GetSecurityInfo(HANDLE handle, SE_OBJECT_TYPE type,
                                        SECURITY_INFORMATION information, PSID* owner, PSID* group,
                                        PACL* dacl, PACL* sacl, PSECURITY_DESCRIPTOR* descriptor) {
    DWORD error = ERROR_SUCCESS;
    if (winsim::detail::ShouldFail("GetSecurityInfo", &error)) return error;
    if (type != SE_FILE_OBJECT || information != OWNER_SECURITY_INFORMATION ||
        descriptor == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    std::string text;
    DWORD access = 0;
    if (!winsim::detail::FileHandleOwner(handle, &text, &access)) return ERROR_INVALID_HANDLE;
    if ((access & READ_CONTROL) == 0) return ERROR_ACCESS_DENIED;
    Sid sid = SidOf(text);
    if (sid.empty()) sid = SidOf(winsim::kMachineUserSid);
    // Self-relative: revision 1, SE_SELF_RELATIVE, the owner right after
    // the 20-byte header, no group and no lists.
    constexpr size_t kHeader = 20;
    auto* block = static_cast<unsigned char*>(winsim::detail::AllocateLocal(kHeader + sid.size()));
    if (block == nullptr) return ERROR_NOT_ENOUGH_MEMORY;
    block[0] = 1;
    const uint16_t control = 0x8000;
    const uint32_t ownerOffset = kHeader;
    std::memcpy(block + 2, &control, 2);
    std::memcpy(block + 4, &ownerOffset, 4);
    std::memcpy(block + kHeader, sid.data(), sid.size());
    if (owner != nullptr) *owner = block + kHeader;
    if (group != nullptr) *group = nullptr;
    if (dacl != nullptr) *dacl = nullptr;
    if (sacl != nullptr) *sacl = nullptr;
    *descriptor = block;
    return ERROR_SUCCESS;
}

WINSIM_API BOOL WINAPI EqualSid(PSID a, PSID b) {
    const size_t bytes = SidBytes(a);
    return bytes != 0 && bytes == SidBytes(b) && std::memcmp(a, b, bytes) == 0 ? TRUE : FALSE;
}

WINSIM_API BOOL WINAPI IsWellKnownSid(PSID sid, WELL_KNOWN_SID_TYPE type) {
    const char* text = type == WinLocalSystemSid             ? "S-1-5-18"
                       : type == WinBuiltinAdministratorsSid ? "S-1-5-32-544"
                                                             : nullptr;
    if (text == nullptr) return FALSE;
    const Sid known = SidOf(text);
    return SidBytes(sid) == known.size() && std::memcmp(sid, known.data(), known.size()) == 0
               ? TRUE
               : FALSE;
}
