// MSHTML's modal HTML dialog. The page gets the settings string as its
// argument and may answer a string; here the answer comes from the
// machine's queue of scripted outcomes, one per showing, and every showing
// is recorded. The queue lives in the machine database, so larksim can
// script a dialog that the driver shows inside another process.
#include <sys/time.h>
#include <unistd.h>

#include "internal.h"

using winsim::detail::Exec;
using winsim::detail::P;
using winsim::detail::PBlob;
using winsim::detail::Param;
using winsim::detail::Str;

namespace winsim {
namespace {

constexpr struct {
    DialogKind kind;
    const char* name;
} kKindNames[] = {
    {DialogKind::Answer, "answer"}, {DialogKind::Sample, "sample"},
    {DialogKind::None, "none"},     {DialogKind::Fail, "fail"},
    {DialogKind::NullString, "null"},
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

std::vector<DialogShowing> DialogShowings() {
    std::vector<DialogShowing> all;
    Exec(
        "SELECT seq, pid, page, argument, options, parent, outcome, answer, result, micros"
        " FROM dialog_showings ORDER BY seq",
        {}, [&](sqlite3_stmt* s) {
            DialogShowing d;
            d.seq = sqlite3_column_int64(s, 0);
            d.pid = sqlite3_column_int(s, 1);
            d.page = detail::ColumnText16(s, 2);
            d.hasArgument = sqlite3_column_type(s, 3) != SQLITE_NULL;
            d.argument = detail::ColumnText16(s, 3);
            d.options = detail::ColumnText16(s, 4);
            d.parent = sqlite3_column_int64(s, 5);
            ParseDialogKind(reinterpret_cast<const char*>(sqlite3_column_text(s, 6)),
                            &d.outcome);
            d.answer = detail::ColumnText16(s, 7);
            d.result = static_cast<HRESULT>(sqlite3_column_int64(s, 8));
            d.micros = sqlite3_column_int64(s, 9);
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
    DialogOutcome outcome = NextOutcome();
    HRESULT hr = S_OK;
    switch (outcome.kind) {
        case DialogKind::Answer:
        case DialogKind::Sample:
        case DialogKind::NullString:
            if (outcome.kind == DialogKind::Sample) outcome.text = u"PrintSamplePage";
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
            break;
        case DialogKind::Fail:
            hr = outcome.result < 0 ? outcome.result : E_FAIL;
            break;
    }
    bool hasArgument = argument != nullptr && argument->vt == VT_BSTR;
    Param argumentParam = hasArgument ? P(Str(argument->bstrVal)) : PBlob(nullptr, 0);
    timeval now{};
    gettimeofday(&now, nullptr);
    Exec(
        "INSERT INTO dialog_showings(pid, page, argument, options, parent, outcome, answer,"
        " result, micros) VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?)",
        {P(static_cast<int64_t>(getpid())), P(url), argumentParam, P(Str(options)),
         P(static_cast<int64_t>(reinterpret_cast<ULONG_PTR>(parent))),
         P(std::string(DialogKindName(outcome.kind))), P(outcome.text),
         P(static_cast<int64_t>(hr)),
         P(static_cast<int64_t>(now.tv_sec) * 1000000 + now.tv_usec)});
    return hr;
}

}  // namespace winsim
