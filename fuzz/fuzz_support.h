// What every fuzz target shares: one winsim machine per process with the
// driver package installed and one printer, records placed so that a read
// past them is caught, and the check that an input left nothing held.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <type_traits>
#include <vector>

#include "driver_devmode.h"
#include "winsim/control.h"

namespace larkfuzz {

inline constexpr const char16_t* kPrinter = u"Lark Fuzz";

// Makes the machine on the first call (later calls do nothing): a new
// temporary root, the build's driver package, the printer kPrinter on USB001
// as the spooler adds it, removed again when the process exits.
void SetUpMachine();
// A handle of kPrinter opened once for the process.
HANDLE Printer();
// Host path of a scratch file on drive C:, and its Windows path.
std::string ScratchHostPath();
std::u16string ScratchPath();
// Writes the bytes to the scratch file.
void WriteScratch(const uint8_t* data, size_t size);
// The bytes as an open stream in memory, for the loader that reads a whole
// file (LoadUtf8TextFile), which closes it.
FILE* MemoryFile(const uint8_t* data, size_t size);

// Runs work on the process's one worker thread and waits for it. Under
// AddressSanitizer each fault the guard catches makes the sanitizer look up
// the faulting thread's stack: on the main thread that is a read of the
// whole memory map, on any other thread a field of the thread.
void OnWorkerThread(void (*work)(void*), void* context);
template <class Work>
void OnWorker(Work&& work) {
    OnWorkerThread([](void* c) { (*static_cast<std::remove_reference_t<Work>*>(c))(); }, &work);
}

// Forgets the machine's records of jobs and showings every few thousand
// inputs, so that a run of millions stays within memory.
void ForgetRecordsNowAndThen();

// Aborts (a finding for libFuzzer) unless the process holds what it held at
// `before`.
void ExpectNothingHeld(const winsim::Counts& before, const char* where);
// Aborts with the message when the condition is false.
void Require(bool condition, const char* what);

// The bytes a devmode record claims: dmSize plus dmDriverExtra once the
// header is there, else the bytes themselves.
size_t ClaimedBytes(const uint8_t* data, size_t size);

// A heap block of exactly the record's claimed size (at least its header),
// the input's bytes first and zeros after: AddressSanitizer reports any
// access past what the record claims.
std::vector<uint8_t> ClaimedRecord(const uint8_t* data, size_t size);

// A page followed by memory the process may not touch, wide enough that
// every offset a devmode header can state (dmSize plus dmDriverExtra, up to
// 131070 bytes) from the page lands in it.
struct GuardedPages {
    GuardedPages();
    ~GuardedPages();
    GuardedPages(const GuardedPages&) = delete;
    GuardedPages& operator=(const GuardedPages&) = delete;
    // Copies at most a page of bytes so that they end at the forbidden
    // memory, or up to 3 bytes before it: a devmode is 4-byte aligned.
    uint8_t* PlaceBeforeEnd(const uint8_t* data, size_t size);
    // One set per process: mapping per input would cost more than the call.
    static GuardedPages& Shared();
    size_t forbidden = 0;
    uint8_t* base = nullptr;
    size_t page = 0;
};

// A handed-out driver record is self-consistent: sizes, version,
// signatures, terminated names and settings string, unit 511 zero.
void ExpectConsistentRecord(const DriverDevmode& record, const char* where);

// Wide text is terminated within its units.
bool TerminatedWithin(const WCHAR* text, size_t units);

}  // namespace larkfuzz
