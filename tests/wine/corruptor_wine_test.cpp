// The devmode corruptor under Wine: the real larkui.dll gets corrupted
// devmodes that end right before a PAGE_NOACCESS page, so every read past
// what the caller's memory holds is an access violation that the driver's
// guard (or its size checks) must answer. LARK_WINE_CORRUPTIONS sets the
// number of records (default 200).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "driver_devmode.h"
#include "wine_check.h"
#include "wine_harness.h"

namespace {

using ConvertFn = BOOL(WINAPI*)(LPWSTR, PDEVMODEW, PDEVMODEW, PLONG, DWORD);
using EventFn = int(WINAPI*)(HANDLE, HDC, int, ULONG, PVOID, ULONG, PVOID);
using PropertiesFn = LONG(WINAPI*)(HWND, HANDLE, LPWSTR, PDEVMODEW, PDEVMODEW, DWORD);
using CapabilitiesFn = DWORD(WINAPI*)(HANDLE, LPWSTR, WORD, PVOID, PDEVMODEW);

// Memory that ends in a page the process may not touch.
struct GuardedPages {
    GuardedPages() {
        SYSTEM_INFO si;
        GetSystemInfo(&si);
        page = si.dwPageSize;
        base = static_cast<BYTE*>(
            VirtualAlloc(nullptr, 2 * page, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
        DWORD old = 0;
        VirtualProtect(base + page, page, PAGE_NOACCESS, &old);
    }
    ~GuardedPages() { VirtualFree(base, 0, MEM_RELEASE); }
    // The bytes copied so that their end touches the no-access page.
    PDEVMODEW Place(const std::vector<BYTE>& bytes) {
        BYTE* at = base + page - bytes.size();
        std::memcpy(at, bytes.data(), bytes.size());
        return reinterpret_cast<PDEVMODEW>(at);
    }
    BYTE* base = nullptr;
    DWORD page = 0;
};

struct Random {
    uint32_t state = 20240611u;
    uint32_t Next() {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state;
    }
    size_t Pick(size_t n) { return n == 0 ? 0 : Next() % n; }
};

void PutWord(std::vector<BYTE>& b, size_t at, WORD v) { std::memcpy(b.data() + at, &v, 2); }

// The same kinds of damage as the native corruptor: sizes, versions,
// fields, texts without terminators, the private part, single bytes; and
// where the caller's memory ends.
std::vector<BYTE> Corrupt(const std::vector<BYTE>& base, Random& r) {
    static const WORD kSizes[] = {0, 1, 71, 72, 187, 188, 189, 212, 219, 220, 221, 2328, 0xFFFF};
    static const WORD kExtras[] = {0, 1, 8, 2107, 2108, 2109, 4000, 0xFFFF};
    std::vector<BYTE> b = base;
    for (size_t n = 1 + r.Pick(3); n > 0; --n) {
        switch (r.Pick(7)) {
            case 0:
                PutWord(b, 68, kSizes[r.Pick(std::size(kSizes))]);
                break;
            case 1:
                PutWord(b, 70, kExtras[r.Pick(std::size(kExtras))]);
                break;
            case 2:
                PutWord(b, r.Pick(2) == 0 ? 64 : 66, static_cast<WORD>(r.Next()));
                break;
            case 3: {
                DWORD fields = r.Pick(2) == 0 ? 0xFFFFFFFF : r.Next();
                std::memcpy(b.data() + 72, &fields, 4);
                break;
            }
            case 4:
                std::memset(b.data() + (r.Pick(2) == 0 ? 228 : 1264), 'Z', 520);
                break;
            case 5:
                std::memset(b.data() + 220, static_cast<int>(r.Pick(256)), 2108);
                break;
            default:
                b[r.Pick(b.size())] ^= static_cast<BYTE>(1 + r.Pick(255));
                break;
        }
    }
    WORD size = 0, extra = 0;
    std::memcpy(&size, b.data() + 68, 2);
    std::memcpy(&extra, b.data() + 70, 2);
    size_t claim = static_cast<size_t>(size) + extra;
    if (claim < 76) claim = 76;
    if (claim > 4000) claim = 4000;
    b.resize(r.Pick(4) == 0 ? r.Pick(claim + 1) : claim, 0);
    return b;
}

// Whether the memory holds all the record claims: the entry points without
// a guard read a record as far as it claims, so a caller whose memory
// holds less faults on Windows too.
bool WholeClaim(const std::vector<BYTE>& b) {
    if (b.size() < offsetof(DEVMODEW, dmFields) + 4) return false;
    WORD size = 0, extra = 0;
    std::memcpy(&size, b.data() + 68, 2);
    std::memcpy(&extra, b.data() + 70, 2);
    return b.size() >= static_cast<size_t>(size) + extra;
}

// An access violation that no guard caught ends the run at once with its
// address, instead of waiting in Wine's debugger.
LONG WINAPI Unhandled(EXCEPTION_POINTERS* e) {
    std::printf("FAILED: unhandled exception 0x%lx at %p\n", e->ExceptionRecord->ExceptionCode,
                e->ExceptionRecord->ExceptionAddress);
    std::fflush(stdout);
    ExitProcess(3);
}

}  // namespace

int main() {
    SetUnhandledExceptionFilter(Unhandled);
    HMODULE ui = LoadLarkUi();
    if (!CHECK(ui != nullptr)) return WINE_CHECK_SUMMARY();
    auto convert = LarkEntry<ConvertFn>(ui, "DrvConvertDevMode");
    auto event = LarkEntry<EventFn>(ui, "DrvDocumentEvent");
    auto properties = LarkEntry<PropertiesFn>(ui, "DrvDocumentProperties");
    auto capabilities = LarkEntry<CapabilitiesFn>(ui, "DrvDeviceCapabilities");
    if (!CHECK(convert && event && properties && capabilities)) return WINE_CHECK_SUMMARY();
    HANDLE printer = nullptr;
    if (!CHECK(OpenPrinterW(const_cast<LPWSTR>(kLarkPrinter), &printer, nullptr))) {
        return WINE_CHECK_SUMMARY();
    }
    LPWSTR name = const_cast<LPWSTR>(kLarkPrinter);
    std::vector<BYTE> base(2328);
    LONG count = 2328;
    CHECK(convert(name, nullptr, reinterpret_cast<PDEVMODEW>(base.data()), &count,
                  CDM_DRIVER_DEFAULT));

    long records = 200;
    if (const char* env = std::getenv("LARK_WINE_CORRUPTIONS")) records = std::atol(env);
    Random random;
    GuardedPages pages;
    long calls = 0, failures = 0;
    for (long i = 0; i < records; ++i) {
        std::vector<BYTE> bytes = Corrupt(base, random);
        PDEVMODEW dm = pages.Place(bytes);
        void* record = &record;
        DOCEVENT_CREATEDCPRE pre = {nullptr, nullptr, dm, FALSE};
        int result = event(printer, nullptr, DOCUMENTEVENT_CREATEDCPRE, sizeof pre, &pre,
                           sizeof record, &record);
        CHECK(result == DOCUMENTEVENT_SUCCESS || result == DOCUMENTEVENT_FAILURE);
        CHECK((result == DOCUMENTEVENT_SUCCESS) == (record != nullptr));
        if (record != nullptr) {
            auto* made = static_cast<DriverDevmode*>(record);
            CHECK_EQ(made->dm.dmSize, 220);
            CHECK_EQ(made->dm.dmDriverExtra, 2108);
            CHECK_EQ(event(printer, nullptr, DOCUMENTEVENT_CREATEDCPOST, sizeof record, &record, 0,
                           nullptr),
                     DOCUMENTEVENT_SUCCESS);
        }
        failures += result == DOCUMENTEVENT_FAILURE;

        std::vector<BYTE> out(2328);
        auto* outDm = reinterpret_cast<PDEVMODEW>(out.data());
        count = 2328;
        if (convert(name, dm, outDm, &count, CDM_CONVERT)) CHECK_EQ(outDm->dmDriverExtra, 2108);
        calls += 3;
        if (!WholeClaim(bytes)) continue;
        CHECK_EQ(properties(nullptr, printer, name, outDm, dm, DM_IN_BUFFER | DM_OUT_BUFFER),
                 static_cast<LONG>(IDOK));
        CHECK_EQ(outDm->dmSize, 220);
        DWORD papers = capabilities(printer, name, DC_PAPERS, nullptr, dm);
        CHECK(papers != 0 && papers != static_cast<DWORD>(-1));
        calls += 2;
    }
    ClosePrinter(printer);
    FreeLibrary(ui);
    CHECK_NOTE("corruptor: %ld records, %ld calls, %ld guarded failures", records, calls, failures);
    return WINE_CHECK_SUMMARY();
}
