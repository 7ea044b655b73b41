// The settings dialog: the driver's HTML page, shown modally through
// MSHTML's ShowHTMLDialog with the devmode's settings string as its
// argument; its answer becomes the printer's stored settings and the
// devmode's.
#pragma once

#include "driver_devmode.h"
#include "scoped.h"

enum DialogOutcomeCode : int {
    DialogAnswered = 0,     // the page answered a string (the answer)
    DialogNoAnswer = 1,     // the page closed without a string, or was not shown
    DialogUnavailable = 2,  // no MSHTML.DLL, no ShowHTMLDialog, or the dialog failed
};

// Shows the page at uiConfigPath with settings as its argument. For
// DialogAnswered, *answer receives a heap copy of the page's string.
DialogOutcomeCode DisplayDialogBox(const WCHAR* uiConfigPath, const WCHAR* settings,
                                   HeapBlock<WCHAR>* answer);

// Lets the user edit the devmode's settings, printing sample pages on
// request; the page opens on the paper of the devmode's dmPaperSize when the
// paper table has it. The devmode's paper size after a stored answer that
// names key 9900; -1 otherwise. *taken (when given) tells whether an answer
// was taken at all: -1 is also the result of some answers.
int GetUserPref(DriverDevmode* devmode, bool* taken = nullptr);
