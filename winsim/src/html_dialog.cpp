// MSHTML's modal HTML dialog. The page gets the settings string as its
// argument and may answer a string. In the scripted mode (the default) the
// answer comes from the machine's queue of scripted outcomes, one per
// showing; in the browser mode (machine setting "dialog_mode") the page
// itself runs in Chromium, driven by node and playwright-core
// (winsim/browser/run_dialog.js) and acted on by the queued user actions.
// Every showing is recorded. The queues live in the machine database, so
// larksim can script a dialog that the driver shows inside another process.
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

#include "internal.h"

extern char** environ;

using winsim::detail::Exec;
using winsim::detail::NowMicros;
using winsim::detail::P;
using winsim::detail::Param;
using winsim::detail::PBlob;
using winsim::detail::Str;

namespace winsim {
namespace {

constexpr struct {
    DialogKind kind;
    const char* name;
} kKindNames[] = {
    {DialogKind::Answer, "answer"}, {DialogKind::Sample, "sample"},   {DialogKind::None, "none"},
    {DialogKind::Fail, "fail"},     {DialogKind::NullString, "null"},
};

// Takes the oldest queued outcome; an empty queue is a user who closes the
// page.
DialogOutcome NextOutcome() {
    DialogOutcome outcome;
    std::lock_guard<std::recursive_mutex> guard(detail::Database().lock);
    int64_t seq = 0;
    Exec("SELECT seq, kind, text, result FROM dialog_queue ORDER BY seq LIMIT 1", {},
         [&](sqlite3_stmt* s) {
             seq = sqlite3_column_int64(s, 0);
             ParseDialogKind(reinterpret_cast<const char*>(sqlite3_column_text(s, 1)),
                             &outcome.kind);
             outcome.text = detail::ColumnText16(s, 2);
             outcome.result = static_cast<HRESULT>(sqlite3_column_int64(s, 3));
         });
    if (seq != 0) Exec("DELETE FROM dialog_queue WHERE seq = ?", {P(seq)});
    return outcome;
}

bool IsFile(const std::string& path, bool executable = false) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
           (!executable || access(path.c_str(), X_OK) == 0);
}

// The runner lies in the source tree (the build names its folder), below
// the repository's node_modules, where node finds playwright-core from it.
std::string RunnerPath() { return std::string(WINSIM_BROWSER_DIR) + "/run_dialog.js"; }

std::string RepositoryOf(const std::string& runner) {
    size_t browser = runner.rfind("/winsim/browser/");
    return browser == std::string::npos ? "." : runner.substr(0, browser);
}

bool OnPath(const std::string& program) {
    const char* path = std::getenv("PATH");
    std::stringstream dirs(path != nullptr ? path : "");
    std::string dir;
    while (std::getline(dirs, dir, ':')) {
        if (!dir.empty() && IsFile(dir + "/" + program, true)) return true;
    }
    return false;
}

std::string BrowserPath() { return GetSetting("dialog_browser", "/usr/bin/chromium"); }

std::string JsonString(const std::string& utf8) {
    std::string out = "\"";
    char escaped[8];
    for (char c : utf8) {
        auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20) {
            std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
            out += escaped;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

// A file URL of a host path: every byte outside the unreserved set and "/"
// is escaped.
std::string FileUrl(const std::string& path) {
    std::string url = "file://";
    char escaped[4];
    for (char c : path) {
        auto byte = static_cast<unsigned char>(c);
        if (std::isalnum(byte) || c == '/' || c == '-' || c == '.' || c == '_' || c == '~') {
            url += c;
        } else {
            std::snprintf(escaped, sizeof escaped, "%%%02X", byte);
            url += escaped;
        }
    }
    return url;
}

struct UserAction {
    int64_t seq = 0;
    std::string action;
};

std::vector<UserAction> UserActions() {
    std::vector<UserAction> actions;
    Exec("SELECT seq, action FROM dialog_user ORDER BY seq", {}, [&](sqlite3_stmt* s) {
        const unsigned char* text = sqlite3_column_text(s, 1);
        actions.push_back({sqlite3_column_int64(s, 0),
                           text != nullptr ? reinterpret_cast<const char*>(text) : ""});
    });
    return actions;
}

// Runs the child in a process group of its own, so that a showing that
// never ends takes the browser down with it. The child's exit status, or
// -1 when it was killed at the limit.
int RunChild(const std::vector<std::string>& args, int64_t limitMs) {
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);
    pid_t child = 0;
    int spawned = posix_spawnp(&child, argv[0], nullptr, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    if (spawned != 0) return -1;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    int status = 0;
    for (;;) {
        pid_t done = waitpid(child, &status, WNOHANG);
        if (done == child) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        if (done < 0 && errno != EINTR) return -1;
        if (std::chrono::steady_clock::now() > deadline) {
            kill(-child, SIGKILL);
            waitpid(child, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

// The showing's record keeps why, as its answer text.
void BrowserFailure(DialogOutcome* outcome, const std::string& message) {
    std::fprintf(stderr, "winsim: the HTML dialog in the browser: %s\n", message.c_str());
    outcome->text = ToUtf16(message);
}

// One showing of the page in the browser. The runner reports a status
// line, the number of user actions it played and the answer or the
// failure's message.
HRESULT ShowInBrowser(const std::u16string& url, const VARIANT* argument, bool show,
                      DialogOutcome* outcome, std::string* screenshot) {
    constexpr HRESULT kFileNotFound = static_cast<HRESULT>(0x80070002);
    constexpr HRESULT kResourceNotFound = static_cast<HRESULT>(0x800C0005);
    outcome->kind = DialogKind::Fail;
    std::string missing = BrowserDialogMissing();
    if (missing.empty() && show && std::getenv("DISPLAY") == nullptr &&
        std::getenv("WAYLAND_DISPLAY") == nullptr) {
        missing = "no display for a shown dialog (set DISPLAY, or run under xvfb-run)";
    }
    if (!missing.empty()) {
        BrowserFailure(outcome, missing);
        return outcome->result = kFileNotFound;
    }
    const std::string page = HostPath(url);
    if (!IsFile(page)) {
        BrowserFailure(outcome, "no page at " + ToUtf8(url));
        return outcome->result = kResourceNotFound;
    }
    const std::string dir = MachineRoot() + "/dialog";
    mkdir(dir.c_str(), 0755);
    const std::string stem = dir + "/showing-" + std::to_string(NowMicros());
    const std::string request = stem + ".request.json";
    const std::string result = stem + ".result";
    *screenshot = stem + ".png";
    int64_t limitMs = std::strtoll(GetSetting("dialog_timeout_ms", "").c_str(), nullptr, 10);
    if (limitMs <= 0) limitMs = show ? 600000 : 60000;
    std::vector<UserAction> actions = UserActions();
    {
        std::ofstream out(request);
        out << "{\"page\": " << JsonString(FileUrl(page)) << ",\n \"argument\": "
            << (argument != nullptr && argument->vt == VT_BSTR
                    ? JsonString(ToUtf8(Str(argument->bstrVal)))
                    : "null")
            << ",\n \"language\": " << GetSystemDefaultLangID() << ",\n \"actions\": [";
        for (size_t i = 0; i < actions.size(); ++i) {
            out << (i == 0 ? "" : ", ") << JsonString(actions[i].action);
        }
        out << "],\n \"show\": " << (show ? "true" : "false")
            << ",\n \"browser\": " << JsonString(BrowserPath())
            << ",\n \"screenshot\": " << JsonString(*screenshot) << ",\n \"timeoutMs\": " << limitMs
            << "}\n";
    }
    // The runner keeps the limit itself; this one is for a runner that hangs.
    int code = RunChild({"node", RunnerPath(), request, result}, limitMs + 15000);
    std::ifstream in(result, std::ios::binary);
    std::string status, consumedLine;
    std::getline(in, status);
    std::getline(in, consumedLine);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    in.close();
    std::remove(request.c_str());
    std::remove(result.c_str());
    if (!IsFile(*screenshot)) screenshot->clear();
    size_t consumed = std::strtoul(consumedLine.c_str(), nullptr, 10);
    if (consumed > 0 && consumed <= actions.size()) {
        Exec("DELETE FROM dialog_user WHERE seq <= ?", {P(actions[consumed - 1].seq)});
    }
    if (status == "answered") {
        outcome->text = ToUtf16(text);
        outcome->kind = outcome->text.rfind(u"PrintSamplePage", 0) == 0 ? DialogKind::Sample
                                                                        : DialogKind::Answer;
        return outcome->result = S_OK;
    }
    if (status == "none") {
        outcome->kind = DialogKind::None;
        return outcome->result = S_OK;
    }
    BrowserFailure(outcome, status == "failed" ? text
                                               : "the runner ended without an answer (exit " +
                                                     std::to_string(code) + ")");
    return outcome->result = E_FAIL;
}

}  // namespace

bool ParseDialogKind(const std::string& word, DialogKind* kind) {
    for (const auto& k : kKindNames) {
        if (word == k.name) {
            *kind = k.kind;
            return true;
        }
    }
    return false;
}

const char* DialogKindName(DialogKind kind) {
    for (const auto& k : kKindNames) {
        if (k.kind == kind) return k.name;
    }
    return "?";
}

void QueueDialogOutcome(const DialogOutcome& outcome) {
    Exec("INSERT INTO dialog_queue(kind, text, result) VALUES(?, ?, ?)",
         {P(std::string(DialogKindName(outcome.kind))), P(outcome.text),
          P(static_cast<int64_t>(outcome.result))});
}

void ClearDialogQueue() { Exec("DELETE FROM dialog_queue", {}); }

std::vector<DialogOutcome> QueuedDialogOutcomes() {
    std::vector<DialogOutcome> queued;
    Exec("SELECT kind, text, result FROM dialog_queue ORDER BY seq", {}, [&](sqlite3_stmt* s) {
        DialogOutcome o;
        ParseDialogKind(reinterpret_cast<const char*>(sqlite3_column_text(s, 0)), &o.kind);
        o.text = detail::ColumnText16(s, 1);
        o.result = static_cast<HRESULT>(sqlite3_column_int64(s, 2));
        queued.push_back(o);
    });
    return queued;
}

void QueueDialogUserAction(const std::string& action) {
    Exec("INSERT INTO dialog_user(action) VALUES(?)", {P(action)});
}

std::vector<std::string> QueuedDialogUserActions() {
    std::vector<std::string> actions;
    for (const auto& a : UserActions()) actions.push_back(a.action);
    return actions;
}

void ClearDialogUserActions() { Exec("DELETE FROM dialog_user", {}); }

std::string BrowserDialogMissing() {
    const std::string runner = RunnerPath();
    if (!IsFile(runner)) return "no dialog runner at " + runner;
    if (!OnPath("node")) return "node is not installed (tools/install-deps installs it)";
    const std::string repository = RepositoryOf(runner);
    if (!IsFile(repository + "/node_modules/playwright-core/package.json")) {
        return "playwright-core is not installed (run npm ci in " + repository + ")";
    }
    if (!IsFile(BrowserPath(), true)) {
        return "no browser at " + BrowserPath() +
               " (tools/install-deps installs Debian's chromium)";
    }
    return "";
}

std::vector<DialogShowing> DialogShowings() {
    std::vector<DialogShowing> all;
    Exec(
        "SELECT seq, pid, page, argument, options, parent, outcome, answer, result, micros,"
        " screenshot FROM dialog_showings ORDER BY seq",
        {}, [&](sqlite3_stmt* s) {
            DialogShowing d;
            d.seq = sqlite3_column_int64(s, 0);
            d.pid = sqlite3_column_int(s, 1);
            d.page = detail::ColumnText16(s, 2);
            d.hasArgument = sqlite3_column_type(s, 3) != SQLITE_NULL;
            d.argument = detail::ColumnText16(s, 3);
            d.options = detail::ColumnText16(s, 4);
            d.parent = sqlite3_column_int64(s, 5);
            ParseDialogKind(reinterpret_cast<const char*>(sqlite3_column_text(s, 6)), &d.outcome);
            d.answer = detail::ColumnText16(s, 7);
            d.result = static_cast<HRESULT>(sqlite3_column_int64(s, 8));
            d.micros = sqlite3_column_int64(s, 9);
            const unsigned char* screenshot = sqlite3_column_text(s, 10);
            if (screenshot != nullptr) d.screenshot = reinterpret_cast<const char*>(screenshot);
            all.push_back(d);
        });
    return all;
}

// The page runs modally and answers through the result VARIANT, which the
// caller has initialised: a string answer makes it VT_BSTR (which the
// caller clears), no answer leaves it alone. A failing showing answers a
// negative HRESULT.
HRESULT WINAPI detail::ShowHtmlDialog(HWND parent, IMoniker* page, VARIANT* argument,
                                      WCHAR* options, VARIANT* result) {
    std::u16string url;
    if (page == nullptr || !MonikerUrl(page, &url)) return E_INVALIDARG;
    // A moniker of an empty URL names no page: there is nothing to load.
    if (url.empty()) return E_INVALIDARG;
    const std::string mode = GetSetting("dialog_mode", "scripted");
    DialogOutcome outcome;
    std::string screenshot;
    HRESULT hr = S_OK;
    if (mode == "browser" || mode == "show") {
        hr = ShowInBrowser(url, argument, mode == "show", &outcome, &screenshot);
    } else {
        outcome = NextOutcome();
        if (outcome.kind == DialogKind::Sample) outcome.text = u"PrintSamplePage";
        if (outcome.kind == DialogKind::Fail) hr = outcome.result < 0 ? outcome.result : E_FAIL;
    }
    switch (outcome.kind) {
        case DialogKind::Answer:
        case DialogKind::Sample:
        case DialogKind::NullString:
            if (result == nullptr) {
                hr = E_INVALIDARG;
                break;
            }
            result->vt = VT_BSTR;
            result->bstrVal = nullptr;
            if (outcome.kind != DialogKind::NullString) {
                result->bstrVal = SysAllocString(outcome.text.c_str());
                if (result->bstrVal == nullptr) {
                    result->vt = VT_EMPTY;
                    hr = E_OUTOFMEMORY;
                }
            }
            break;
        case DialogKind::None:
        case DialogKind::Fail:
            break;
    }
    bool hasArgument = argument != nullptr && argument->vt == VT_BSTR;
    Param argumentParam = hasArgument ? P(Str(argument->bstrVal)) : PBlob(nullptr, 0);
    Exec(
        "INSERT INTO dialog_showings(pid, page, argument, options, parent, outcome, answer,"
        " result, micros, screenshot) VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?, ?)",
        {P(static_cast<int64_t>(getpid())), P(url), argumentParam, P(Str(options)),
         P(static_cast<int64_t>(reinterpret_cast<ULONG_PTR>(parent))),
         P(std::string(DialogKindName(outcome.kind))), P(outcome.text), P(static_cast<int64_t>(hr)),
         P(NowMicros()), screenshot.empty() ? PBlob(nullptr, 0) : P(screenshot)});
    return hr;
}

}  // namespace winsim
