// The HTML dialog (MSHTML's ShowHTMLDialog): its scripted outcomes, the
// browser mode's user actions, and what each showing got and answered.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "winsim/windows.h"

namespace winsim {

// Each showing takes the next scripted outcome of the machine's queue; with
// the queue empty the user closes the page without an answer. The machine
// setting "mshtml" set to "missing" makes LoadLibraryW fail for MSHTML.DLL,
// "no-export" makes its ShowHTMLDialog export missing.
enum class DialogKind {
    Answer,      // the page answers text
    Sample,      // the page asks for a sample page ("PrintSamplePage")
    None,        // the page closes without a string (Cancel)
    Fail,        // the dialog call fails with result
    NullString,  // the page answers a BSTR that is NULL
};
struct DialogOutcome {
    DialogKind kind = DialogKind::None;
    std::u16string text;
    HRESULT result = 0;
};
void QueueDialogOutcome(const DialogOutcome& outcome);
void ClearDialogQueue();
std::vector<DialogOutcome> QueuedDialogOutcomes();
bool ParseDialogKind(const std::string& word, DialogKind* kind);
const char* DialogKindName(DialogKind kind);
struct DialogShowing {
    int64_t seq = 0;
    int pid = 0;
    std::u16string page;      // the path the moniker names
    std::u16string argument;  // the VT_BSTR argument, empty when none
    bool hasArgument = false;
    std::u16string options;
    int64_t parent = 0;
    DialogKind outcome = DialogKind::None;
    std::u16string answer;  // a Fail of the browser mode: why it failed
    HRESULT result = 0;
    int64_t micros = 0;      // time of the showing's end
    std::string screenshot;  // host path of the page's picture (browser mode), or empty
};
std::vector<DialogShowing> DialogShowings();
// The browser mode: the machine setting "dialog_mode" set to "browser" runs
// the page itself in Debian's Chromium through playwright-core (node and
// winsim/browser/run_dialog.js), headless, acted on by the queued user
// actions; "show" opens a visible window (a display is needed), plays the
// queued actions and then waits for the person at it. A user action is
// "select:<paper name>", "click:<button name>", "key:<key>" or "close";
// each showing takes the actions it plays from the queue, and headless,
// a page still open when they run out is closed without an answer. The
// browser's locale follows the machine's "language". "dialog_browser" names
// the browser (default /usr/bin/chromium), "dialog_timeout_ms" fails a
// showing that does not end (default 60 s headless, 10 min shown). Each
// showing saves a screenshot of the page under the machine root's dialog/.
void QueueDialogUserAction(const std::string& action);
std::vector<std::string> QueuedDialogUserActions();
void ClearDialogUserActions();
// What the browser mode lacks on this host (node, playwright-core, the
// browser), in one line; empty when it can run.
std::string BrowserDialogMissing();
// LoadLibraryW calls of this process that found the named module.
long ModuleLoads(const std::u16string& name);
// Loads of this process that took a planted mshtml.dll from the folder of
// the application (machine setting "application_folder") instead of the
// system folder's.
long PlantedModuleLoads();
// The name a moniker of CreateURLMoniker gives itself, as urlmon's
// IMoniker::GetDisplayName would: a DOS path as "file://C:\...", anything
// else as given; empty for another object.
std::u16string MonikerDisplayName(IMoniker* moniker);

}  // namespace winsim
