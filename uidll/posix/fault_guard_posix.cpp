// The guard on POSIX systems: SIGSEGV and SIGBUS handlers, installed while
// any guard runs and restored after the last one, jump back into the
// guarded call of the faulting thread with siglongjmp; other faults go on to
// the handlers they replaced.
#include <link.h>
#include <setjmp.h>
#include <signal.h>
#include <ucontext.h>

#include <csignal>
#include <cstdint>
#include <mutex>

#include "fault_guard.h"

namespace {

struct Guard {
    sigjmp_buf jump;
};

thread_local Guard* t_guard = nullptr;

std::mutex g_lock;
int g_users = 0;
struct sigaction g_previousSegv;
struct sigaction g_previousBus;
uintptr_t g_codeStart = 0;
uintptr_t g_codeEnd = 0;

// The executable segments of the module that holds this file.
int FindOwnCode(dl_phdr_info* info, size_t, void* self) {
    auto address = reinterpret_cast<uintptr_t>(self);
    bool mine = false;
    for (int i = 0; i < info->dlpi_phnum; ++i) {
        const ElfW(Phdr)& segment = info->dlpi_phdr[i];
        uintptr_t start = info->dlpi_addr + segment.p_vaddr;
        if (segment.p_type == PT_LOAD && address >= start && address < start + segment.p_memsz) {
            mine = true;
        }
    }
    if (!mine) return 0;
    for (int i = 0; i < info->dlpi_phnum; ++i) {
        const ElfW(Phdr)& segment = info->dlpi_phdr[i];
        if (segment.p_type != PT_LOAD || (segment.p_flags & PF_X) == 0) continue;
        uintptr_t start = info->dlpi_addr + segment.p_vaddr;
        uintptr_t end = start + segment.p_memsz;
        if (g_codeStart == 0 || start < g_codeStart) g_codeStart = start;
        if (end > g_codeEnd) g_codeEnd = end;
    }
    return 1;
}

void LocateOwnCode() { dl_iterate_phdr(FindOwnCode, reinterpret_cast<void*>(&RunGuarded)); }

uintptr_t FaultingInstruction(void* context) {
    auto* uc = static_cast<ucontext_t*>(context);
#if defined(__x86_64__)
    return static_cast<uintptr_t>(uc->uc_mcontext.gregs[REG_RIP]);
#elif defined(__aarch64__)
    return static_cast<uintptr_t>(uc->uc_mcontext.pc);
#else
    (void)uc;
    return 0;
#endif
}

bool InOwnCode(uintptr_t pc) {
    if (pc == 0 || g_codeStart == 0) return true;  // cannot tell: take it as ours
    return pc >= g_codeStart && pc < g_codeEnd;
}

void OnFault(int signal, siginfo_t* info, void* context) {
    Guard* guard = t_guard;
    if (guard != nullptr && InOwnCode(FaultingInstruction(context))) siglongjmp(guard->jump, 1);
    // Not a guarded access: hand it to the previous handler. The handlers stay
    // ours, so guards running on other threads keep their protection.
    const struct sigaction& previous = signal == SIGSEGV ? g_previousSegv : g_previousBus;
    if ((previous.sa_flags & SA_SIGINFO) != 0 && previous.sa_sigaction != nullptr) {
        previous.sa_sigaction(signal, info, context);
    } else if (previous.sa_handler != SIG_DFL && previous.sa_handler != SIG_IGN &&
               previous.sa_handler != nullptr) {
        previous.sa_handler(signal);
    } else {
        // Default handling ends the process: the faulting instruction runs
        // again under it.
        std::signal(signal, SIG_DFL);
    }
}

void Install() {
    std::lock_guard<std::mutex> lock(g_lock);
    if (g_users++ > 0) return;
    if (g_codeEnd == 0) LocateOwnCode();
    struct sigaction action {};
    action.sa_sigaction = OnFault;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    sigaction(SIGSEGV, &action, &g_previousSegv);
    sigaction(SIGBUS, &action, &g_previousBus);
}

void Uninstall() {
    std::lock_guard<std::mutex> lock(g_lock);
    if (--g_users > 0) return;
    sigaction(SIGSEGV, &g_previousSegv, nullptr);
    sigaction(SIGBUS, &g_previousBus, nullptr);
}

}  // namespace

bool RunGuarded(GuardedWork work, void* context) {
    Install();
    Guard guard;
    Guard* outer = t_guard;
    volatile bool finished = false;
    if (sigsetjmp(guard.jump, 1) == 0) {
        t_guard = &guard;
        work(context);
        finished = true;
    }
    t_guard = outer;
    Uninstall();
    return finished;
}
