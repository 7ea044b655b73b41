// larksim jobs and dialog: the raw jobs the spooler received, and the
// scripted user of the driver's HTML settings dialog.
#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "larksim.h"

namespace larksim {
namespace {

// Sixteen bytes a row: offset, hex, and the printable bytes.
void PrintHex(const std::vector<uint8_t>& data) {
    for (size_t at = 0; at < data.size(); at += 16) {
        std::printf("    %04zx ", at);
        std::string text;
        for (size_t i = at; i < at + 16; ++i) {
            if (i < data.size()) {
                std::printf(" %02x", data[i]);
                text += data[i] >= 0x20 && data[i] < 0x7f ? static_cast<char>(data[i]) : '.';
            } else {
                std::printf("   ");
            }
        }
        std::printf("  %s\n", text.c_str());
    }
}

// The bytes as text, others as \xHH, as the data file writes them.
std::string Escaped(const std::vector<uint8_t>& data) {
    std::string out;
    char hex[8];
    for (uint8_t b : data) {
        if (b >= 0x20 && b < 0x7f && b != '\\') {
            out += static_cast<char>(b);
        } else {
            std::snprintf(hex, sizeof hex, "\\x%02x", b);
            out += hex;
        }
    }
    return out;
}

bool ParseHresult(const std::string& text, HRESULT* value) {
    errno = 0;
    char* end = nullptr;
    long long n = std::strtoll(text.c_str(), &end, 0);
    if (text.empty() || *end != 0 || errno != 0 || n < INT32_MIN || n > UINT32_MAX) return false;
    *value = static_cast<HRESULT>(static_cast<uint32_t>(n));
    return *value < 0;
}

}  // namespace

int Jobs(const Args& args) {
    Args positional;
    if (!CheckFlags(args, {}, {"--hex"}, &positional)) return 2;
    if (positional.size() > 1) return Usage("usage: jobs [<printer>] [--hex]");
    bool hex = Has(args, "--hex");
    std::u16string printer;
    if (!positional.empty()) {
        winsim::PrinterRecord record;
        if (!RequirePrinter(positional[0], &record)) return 1;
        printer = record.name;
    }
    std::vector<winsim::JobRecord> jobs = winsim::Jobs(printer);
    if (jobs.empty()) std::printf("no jobs\n");
    for (const auto& j : jobs) {
        std::printf("job %lld  %s  \"%s\" %s  %u page(s)  %zu bytes  %s\n",
                    static_cast<long long>(j.id), winsim::ToUtf8(j.printer).c_str(),
                    j.document.c_str(), j.datatype.c_str(), j.pages, j.data.size(),
                    j.ended ? "ended" : "not ended");
        if (hex) {
            PrintHex(j.data);
        } else if (!j.data.empty()) {
            std::printf("    %s\n", Escaped(j.data).c_str());
        }
    }
    return 0;
}

int Dialog(const Args& args) {
    if (args.size() > 1 && (args[0] == "list" || args[0] == "clear")) {
        return Usage("dialog " + args[0] + ": takes no argument");
    }
    if (args.empty() || args[0] == "list") {
        auto showings = winsim::DialogShowings();
        if (showings.empty()) std::printf("no showings\n");
        for (const auto& d : showings) {
            std::printf("showing %lld  page %s\n", static_cast<long long>(d.seq),
                        winsim::ToUtf8(d.page).c_str());
            std::printf("  argument \"%s\"  options \"%s\"\n", Printable(d.argument).c_str(),
                        winsim::ToUtf8(d.options).c_str());
            std::printf("  outcome  %s", winsim::DialogKindName(d.outcome));
            if (d.outcome == winsim::DialogKind::Answer) {
                std::printf(" \"%s\"", Printable(d.answer).c_str());
            }
            if (d.result != 0) std::printf("  (0x%08X)", static_cast<uint32_t>(d.result));
            if (d.outcome == winsim::DialogKind::Fail && !d.answer.empty()) {
                std::printf("  in the browser: %s", Printable(d.answer).c_str());
            }
            std::printf("\n");
            if (!d.screenshot.empty()) std::printf("  screenshot %s\n", d.screenshot.c_str());
        }
        auto queued = winsim::QueuedDialogOutcomes();
        for (const auto& q : queued) {
            std::printf("queued   %s %s\n", winsim::DialogKindName(q.kind),
                        Printable(q.text).c_str());
        }
        for (const auto& a : winsim::QueuedDialogUserActions()) {
            std::printf("user     %s\n", a.c_str());
        }
        return 0;
    }
    if (args[0] == "clear") {
        winsim::ClearDialogQueue();
        winsim::ClearDialogUserActions();
        return 0;
    }
    // The browser mode's user: one action for the showings to play.
    if (args[0] == "user") {
        std::string error;
        if (args.size() != 2) return Usage("dialog user: give one action");
        if (!CheckUserAction(args[1], &error)) return Usage(error);
        winsim::QueueDialogUserAction(args[1]);
        return 0;
    }
    winsim::DialogOutcome outcome;
    if (!winsim::ParseDialogKind(args[0], &outcome.kind)) {
        return Usage(
            "dialog: expected answer <text> | sample | none | null | fail [hresult] |"
            " user <action> | list | clear");
    }
    if (outcome.kind == winsim::DialogKind::Answer) {
        if (args.size() != 2) return Usage("dialog answer: give the answer text");
        outcome.text = winsim::ToUtf16(args[1]);
    } else if (outcome.kind == winsim::DialogKind::Fail) {
        outcome.result = static_cast<HRESULT>(0x80004005u);
        if (args.size() == 2 && !ParseHresult(args[1], &outcome.result)) {
            return Usage("dialog fail: '" + args[1] + "' is not a failing HRESULT");
        }
        if (args.size() > 2) return Usage("dialog fail: too many arguments");
    } else if (args.size() != 1) {
        return Usage(std::string("dialog ") + args[0] + ": takes no argument");
    }
    winsim::QueueDialogOutcome(outcome);
    return 0;
}

}  // namespace larksim
