// larkrec.dll: loaded into a status monitor that monitor_launcher.cpp started
// suspended, before its first instruction. It points the monitor's own import
// slots of SetPortW (WINSPOOL.DRV) and MessageBoxW (USER32.dll) at recorders
// that append one line per call to the file named by LARK_MONITOR_RECORD and
// answer TRUE and IDOK. Wine 8 has no SetPortW (the monitor's call would end
// it), and a real box would wait for a person. Everything else the monitor
// calls stays Wine's own.
//   "SetPortW|<server>|<port>|<level>|<dwStatus>|<pszStatus>|<dwSeverity>"
//   "MessageBoxW|<owner>|<text>|<caption>|<style>"
// texts in UTF-8 with \\, \r, \n and \p standing for a backslash, CR, LF
// and '|'; "(null)" for a null pointer; numbers in decimal.
#include <cstdio>
#include <string>

#include "platform.h"

namespace {

std::string Utf8(const wchar_t* text) {
    if (text == nullptr) return "(null)";
    int bytes = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) return "";
    std::string out(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), bytes, nullptr, nullptr);
    out.pop_back();
    std::string escaped;
    for (char c : out) {
        if (c == '\\') {
            escaped += "\\\\";
        } else if (c == '\r') {
            escaped += "\\r";
        } else if (c == '\n') {
            escaped += "\\n";
        } else if (c == '|') {
            escaped += "\\p";
        } else {
            escaped += c;
        }
    }
    return escaped;
}

// One line, appended with one write: two monitors may record into one file.
void Record(const std::string& line) {
    wchar_t path[MAX_PATH] = {};
    DWORD n = GetEnvironmentVariableW(L"LARK_MONITOR_RECORD", path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return;
    HANDLE file = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    const std::string text = line + "\n";
    DWORD written = 0;
    WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
}

BOOL WINAPI RecordSetPort(LPWSTR server, LPWSTR port, DWORD level, LPBYTE info) {
    std::string line = "SetPortW|" + Utf8(server) + "|" + Utf8(port) + "|" + std::to_string(level);
    if (level == 3 && info != nullptr) {
        const auto* status = reinterpret_cast<const PORT_INFO_3W*>(info);
        line += "|" + std::to_string(status->dwStatus) + "|" + Utf8(status->pszStatus) + "|" +
                std::to_string(status->dwSeverity);
    }
    Record(line);
    return TRUE;
}

int WINAPI RecordMessageBox(HWND owner, LPCWSTR text, LPCWSTR caption, UINT style) {
    Record("MessageBoxW|" + std::string(owner == nullptr ? "(null)" : "window") + "|" + Utf8(text) +
           "|" + Utf8(caption) + "|" + std::to_string(style));
    return IDOK;
}

// Points the program's import of `name` from `dll` at `to`; false when the
// program has no such import.
bool Redirect(HMODULE program, const char* dll, const char* name, void* to) {
    auto* base = reinterpret_cast<BYTE*>(program);
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& dir =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (dir.VirtualAddress == 0) return false;
    for (auto* desc = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress);
         desc->Name != 0; ++desc) {
        if (lstrcmpiA(reinterpret_cast<const char*>(base + desc->Name), dll) != 0) continue;
        const auto* names = reinterpret_cast<const IMAGE_THUNK_DATA*>(
            base + (desc->OriginalFirstThunk != 0 ? desc->OriginalFirstThunk : desc->FirstThunk));
        auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + desc->FirstThunk);
        for (; names->u1.AddressOfData != 0; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
            const auto* byName =
                reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
            if (lstrcmpA(reinterpret_cast<const char*>(byName->Name), name) != 0) continue;
            DWORD old = 0;
            if (!VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, PAGE_READWRITE,
                                &old)) {
                return false;
            }
            slots->u1.Function = reinterpret_cast<ULONG_PTR>(to);
            VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, old, &old);
            return true;
        }
    }
    return false;
}

}  // namespace

// Both slots or the load fails, so a launcher never resumes a monitor that
// would reach the real functions.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason != DLL_PROCESS_ATTACH) return TRUE;
    HMODULE program = GetModuleHandleW(nullptr);
    const bool port =
        Redirect(program, "WINSPOOL.DRV", "SetPortW", reinterpret_cast<void*>(&RecordSetPort));
    const bool box =
        Redirect(program, "USER32.dll", "MessageBoxW", reinterpret_cast<void*>(&RecordMessageBox));
    return port && box ? TRUE : FALSE;
}
