// The guard against faults that are not its own: another thread's stray
// fault goes to the handler the process had, and guards running meanwhile
// keep catching theirs.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mman.h>

#include <atomic>
#include <thread>

#include "fault_guard.h"
#include "unreadable_pages.h"

namespace {

larktest::UnreadablePages* g_stray = nullptr;
std::atomic<int> g_strayHandled{0};

// The host's own handler: it mends faults on the stray page and, like a
// careless host, any other fault too, so a guarded fault reaching it
// would read as success.
void HostHandler(int, siginfo_t* info, void*) {
    auto* address = static_cast<uint8_t*>(info->si_addr);
    uintptr_t page = reinterpret_cast<uintptr_t>(address) & ~(uintptr_t{g_stray->page} - 1);
    mprotect(reinterpret_cast<void*>(page), g_stray->page, PROT_READ | PROT_WRITE);
    if (address == g_stray->Forbidden()) ++g_strayHandled;
}

struct Rendezvous {
    std::atomic<bool> inside{false};
    std::atomic<bool> strayDone{false};
    volatile uint8_t* guardedRead = nullptr;
};

void WaitThenFault(void* context) {
    auto* r = static_cast<Rendezvous*>(context);
    r->inside = true;
    while (!r->strayDone) std::this_thread::yield();
    uint8_t value = *r->guardedRead;
    (void)value;
}

TEST(FaultGuardTest, StrayFaultGoesToTheHostHandlerAndGuardsStayArmed) {
    larktest::UnreadablePages stray;
    larktest::UnreadablePages guarded;
    g_stray = &stray;
    struct sigaction host {};
    struct sigaction before {};
    host.sa_sigaction = HostHandler;
    host.sa_flags = SA_SIGINFO;
    sigemptyset(&host.sa_mask);
    ASSERT_EQ(sigaction(SIGSEGV, &host, &before), 0);

    Rendezvous r;
    r.guardedRead = guarded.Forbidden();
    std::atomic<int> result{-1};
    std::thread worker([&] { result = RunGuarded(WaitThenFault, &r) ? 1 : 0; });
    while (!r.inside) std::this_thread::yield();
    volatile uint8_t* strayRead = stray.Forbidden();
    uint8_t value = *strayRead;  // unguarded, on this thread
    (void)value;
    r.strayDone = true;
    worker.join();

    sigaction(SIGSEGV, &before, nullptr);
    g_stray = nullptr;
    EXPECT_EQ(g_strayHandled, 1);
    EXPECT_EQ(result, 0) << "the guarded fault reached the host handler";
}

}  // namespace
