// A test double of MSHTML.DLL's ShowHTMLDialog for the Wine tests (Wine's
// own is a stub). It answers each showing from LARK_DIALOG_SCRIPT, items
// separated by '|': "sample" (the page asks for a sample page),
// "answer:<text>", "none" (closed without an answer), "null" (a VT_BSTR
// that is NULL), "fail" (the call fails with E_FAIL); past the last item
// the page is closed without an answer. Each showing appends
// "show|<parent>|<page>|<options>|arg:<argument>" ("|noarg" without a
// VT_BSTR argument) to the file LARK_DIALOG_LOG; before it, a job found in
// the file LARK_DIALOG_PORT_FILE (a file port's last job) is appended as
// "job|<hex bytes>" and the file removed, so each sample page is seen.
#include "platform.h"
// platform.h first.
#include <cstdio>
#include <string>

namespace {

int g_showing;

std::wstring Environment(const wchar_t* name) {
    wchar_t value[4096];
    DWORD n = GetEnvironmentVariableW(name, value, 4096);
    return n > 0 && n < 4096 ? std::wstring(value, n) : std::wstring();
}

std::wstring ScriptItem(int index) {
    std::wstring script = Environment(L"LARK_DIALOG_SCRIPT");
    size_t start = 0;
    for (int i = 0; i < index; ++i) {
        start = script.find(L'|', start);
        if (start == std::wstring::npos) return L"";
        ++start;
    }
    size_t end = script.find(L'|', start);
    return script.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start);
}

std::wstring PageName(IMoniker* page) {
    if (page == nullptr) return L"(no moniker)";
    IBindCtx* context = nullptr;
    HRESULT hr = CreateBindCtx(0, &context);
    if (FAILED(hr)) return L"(no bind context " + std::to_wstring(hr) + L")";
    LPOLESTR display = nullptr;
    hr = page->GetDisplayName(context, nullptr, &display);
    context->Release();
    if (FAILED(hr) || display == nullptr) return L"(no name " + std::to_wstring(hr) + L")";
    std::wstring name = display;
    CoTaskMemFree(display);
    return name;
}

bool ReadWhole(const std::wstring& path, std::string* bytes) {
    FILE* f = _wfopen(path.c_str(), L"rb");
    if (f == nullptr) return false;
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) bytes->append(buffer, n);
    std::fclose(f);
    return true;
}

std::wstring Hex(const std::string& bytes) {
    static const wchar_t digits[] = L"0123456789abcdef";
    std::wstring hex;
    for (unsigned char c : bytes) {
        hex += digits[c >> 4];
        hex += digits[c & 15];
    }
    return hex;
}

// The job the file port holds, or nothing; the file goes.
bool TakePortJob(std::string* bytes) {
    std::wstring path = Environment(L"LARK_DIALOG_PORT_FILE");
    if (path.empty() || !ReadWhole(path, bytes)) return false;
    DeleteFileW(path.c_str());
    return true;
}

// This showing's place in the script: the showings the log holds (a new
// log is a new script), or this process's showings without a log.
int ShowingIndex() {
    std::wstring path = Environment(L"LARK_DIALOG_LOG");
    if (path.empty()) return g_showing++;
    std::string log;
    ReadWhole(path, &log);
    int shown = log.rfind("show|", 0) == 0 ? 1 : 0;
    for (size_t at = log.find("\nshow|"); at != std::string::npos;
         at = log.find("\nshow|", at + 1)) {
        ++shown;
    }
    return shown;
}

void Log(const std::wstring& line) {
    std::wstring path = Environment(L"LARK_DIALOG_LOG");
    if (path.empty()) return;
    FILE* f = _wfopen(path.c_str(), L"ab");
    if (f == nullptr) return;
    std::string utf8(static_cast<size_t>(line.size() * 3 + 1), '\0');
    int n = WideCharToMultiByte(CP_UTF8, 0, line.c_str(), static_cast<int>(line.size()),
                                utf8.data(), static_cast<int>(utf8.size()), nullptr, nullptr);
    std::fwrite(utf8.data(), 1, static_cast<size_t>(n), f);
    std::fputc('\n', f);
    std::fclose(f);
}

}  // namespace

extern "C" __declspec(dllexport) HRESULT WINAPI
    ShowHTMLDialog(HWND parent, IMoniker* page, VARIANT* argument, WCHAR* options,
                   VARIANT* result) {
    std::string job;
    if (TakePortJob(&job)) Log(L"job|" + Hex(job));
    int index = ShowingIndex();
    bool text = argument != nullptr && V_VT(argument) == VT_BSTR;
    Log(L"show|" + std::to_wstring(reinterpret_cast<ULONG_PTR>(parent)) + L"|" + PageName(page) +
        L"|" + (options != nullptr ? options : L"") + L"|" +
        (text ? L"arg:" + std::wstring(V_BSTR(argument) != nullptr ? V_BSTR(argument) : L"")
              : std::wstring(L"noarg")));
    std::wstring item = ScriptItem(index);
    if (item == L"fail") return E_FAIL;
    if (result == nullptr) return E_INVALIDARG;
    if (item == L"null") {
        V_VT(result) = VT_BSTR;
        V_BSTR(result) = nullptr;
    } else if (item == L"sample" || item.rfind(L"answer:", 0) == 0) {
        V_VT(result) = VT_BSTR;
        V_BSTR(result) = SysAllocString(item == L"sample" ? L"PrintSamplePage" : item.c_str() + 7);
    }
    return S_OK;
}
