// The settings road through a whole property sheet, as an application opens
// Printing Preferences (DocumentPropertiesW with DM_IN_PROMPT) with one
// scripted answer: the time from the driver's INIT to the dialog, from the
// dialog's answer to DESTROY, and from the closing thread's resume to its
// first press, read from the machine's timeline. Sleeps are scaled down;
// the closing thread's waits are not part of these spans.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "winsim/control.h"

namespace {

const std::u16string kPrinter = u"Lark Sheet Bench";

void PrepareSheetMachine() {
    static std::string root;
    if (root.empty()) {
        char pattern[] = "/tmp/lark-bench-sheet.XXXXXX";
        root = mkdtemp(pattern);
        winsim::InitMachine(root);
        winsim::SetMachineRoot(root);
        winsim::SetSetting("user", "elevated");  // whose settings answers are stored
        const std::string larksim = std::string(LARK_LARKSIM) + " --root '" + root + "' ";
        std::string install = larksim + "install-driver '" + LARK_PACKAGE_DIR + "' >/dev/null && " +
                              larksim + "add-printer '" + winsim::ToUtf8(kPrinter) +
                              "' --port USB001 >/dev/null";
        if (system(install.c_str()) != 0) std::abort();
    }
    winsim::SetMachineRoot(root);
    winsim::SetSetting("sleep_scale", "0.0001");
}

double Mean(const std::vector<double>& values) {
    double sum = 0;
    for (double v : values) sum += v;
    return values.empty() ? 0 : sum / static_cast<double>(values.size());
}

void BM_PropertySheetRoad(benchmark::State& state) {
    PrepareSheetMachine();
    std::u16string name = kPrinter;
    HANDLE printer = nullptr;
    OpenPrinterW(name.data(), &printer, nullptr);
    std::vector<uint8_t> out(4096);
    std::vector<double> initToDialog, answerToDestroy, resumeToPress;
    for (auto _ : state) {
        state.PauseTiming();
        winsim::QueueDialogOutcome({winsim::DialogKind::Answer, u"1000=1;9900=257;", 0});
        auto events = winsim::UiEvents();
        int64_t mark = events.empty() ? 0 : events.back().seq;
        state.ResumeTiming();
        LONG r = DocumentPropertiesW(nullptr, printer, name.data(),
                                     reinterpret_cast<DEVMODEW*>(out.data()), nullptr,
                                     DM_IN_PROMPT | DM_OUT_BUFFER);
        benchmark::DoNotOptimize(r);
        state.PauseTiming();
        int64_t init = 0, shown = winsim::DialogShowings().back().micros, press = 0, destroy = 0;
        for (const auto& e : winsim::UiEvents()) {
            if (e.seq <= mark) continue;
            if (init == 0) init = e.micros;  // the page added inside INIT
            if (press == 0 && e.kind == "send") press = e.micros;
            if (e.kind == "sheet-call" && e.values[0] == 2) destroy = e.micros;
        }
        initToDialog.push_back(static_cast<double>(shown - init));
        answerToDestroy.push_back(static_cast<double>(destroy - shown));
        resumeToPress.push_back(static_cast<double>(press - shown));
        state.ResumeTiming();
    }
    ClosePrinter(printer);
    state.counters["init_to_dialog_us"] = Mean(initToDialog);
    state.counters["answer_to_destroy_us"] = Mean(answerToDestroy);
    state.counters["resume_to_press_us"] = Mean(resumeToPress);
}

BENCHMARK(BM_PropertySheetRoad)->Iterations(200)->Unit(benchmark::kMicrosecond);

}  // namespace
