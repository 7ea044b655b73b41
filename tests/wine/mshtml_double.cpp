// A test double of MSHTML.DLL's ShowHTMLDialog for the Wine tests (Wine's
// own is a stub). It answers each showing from LARK_DIALOG_SCRIPT, items
// separated by '|': "sample" (the page asks for a sample page),
// "answer:<text>", "none" (closed without an answer); past the last item
// the page is closed without an answer. Each showing appends
// "<page>|<argument>|<options>" to the file LARK_DIALOG_LOG.
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
    ShowHTMLDialog(HWND, IMoniker* page, VARIANT* argument, WCHAR* options, VARIANT* result) {
    std::wstring text = argument != nullptr && V_VT(argument) == VT_BSTR && V_BSTR(argument)
                            ? V_BSTR(argument)
                            : L"";
    Log(PageName(page) + L"|" + text + L"|" + (options != nullptr ? options : L""));
    std::wstring item = ScriptItem(g_showing++);
    std::wstring answer;
    if (item == L"sample") {
        answer = L"PrintSamplePage";
    } else if (item.rfind(L"answer:", 0) == 0) {
        answer = item.substr(7);
    } else {
        return S_OK;
    }
    if (result == nullptr) return E_INVALIDARG;
    V_VT(result) = VT_BSTR;
    V_BSTR(result) = SysAllocString(answer.c_str());
    return S_OK;
}
