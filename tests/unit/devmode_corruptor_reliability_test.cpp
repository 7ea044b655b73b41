// The devmode corruptor: structured mutations of every DEVMODEW field and of
// the private part, sent into every entry point that takes a devmode. Each
// record lies right before a page the process may not touch. After every
// call: no fault outside the document-event guard, no byte written outside
// the caller's stated output, every devmode handed out whole, nothing held.
// LARK_CORRUPTOR_CALLS sets the number of records (default a bounded run).
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include <sys/mman.h>
#include <unistd.h>
#include "config_support.h"
#include "default_devmode.h"
#include "devmode_convert.h"
#include "printjob_support.h"

namespace larktest {
namespace {

constexpr size_t kSentinel = 64;
constexpr uint8_t kFill = 0xA5;

struct Corrupted {
    std::vector<uint8_t> bytes;  // the record as the caller's memory holds it
    std::string how;
};

size_t Claimed(const std::vector<uint8_t>& r) {
    if (r.size() < offsetof(DEVMODEW, dmFields)) return r.size();
    WORD size, extra;
    std::memcpy(&size, r.data() + offsetof(DEVMODEW, dmSize), 2);
    std::memcpy(&extra, r.data() + offsetof(DEVMODEW, dmDriverExtra), 2);
    return static_cast<size_t>(size) + extra;
}

class Corruptor {
public:
    explicit Corruptor(uint32_t seed) : rng_(seed) { BuildDefaultDevmode(&base_, kPrinter); }

    Corrupted Next() {
        Corrupted c;
        c.bytes.assign(reinterpret_cast<const uint8_t*>(&base_),
                       reinterpret_cast<const uint8_t*>(&base_) + sizeof base_);
        int mutations = 1 + Pick(3);
        for (int i = 0; i < mutations; ++i) Mutate(&c);
        // Where the caller's memory ends: exactly the claim (most records),
        // or short of it, or at the header.
        size_t claim = std::max<size_t>(Claimed(c.bytes), offsetof(DEVMODEW, dmFields));
        switch (Pick(4)) {
            case 0:
                c.bytes.resize(std::min<size_t>(Pick(claim + 1), 4096));
                c.how += " memory-short";
                break;
            default:
                c.bytes.resize(std::min<size_t>(claim, 4096));
                break;
        }
        return c;
    }

private:
    size_t Pick(size_t n) { return n == 0 ? 0 : rng_() % n; }
    template <typename T>
    T Interesting() {
        static const int64_t kValues[] = {0,   1,      -1,      2,      255,
                                          256, 0x7FFF, -0x8000, 0xFFFF, 0x7FFFFFFF};
        if (Pick(4) == 0) return static_cast<T>(rng_());
        return static_cast<T>(kValues[Pick(std::size(kValues))]);
    }
    void PutWord(Corrupted* c, size_t at, WORD v) { std::memcpy(c->bytes.data() + at, &v, 2); }

    void Mutate(Corrupted* c) {
        static const WORD kSizes[] = {0,   1,   71,  72,  187, 188,  189,
                                      211, 212, 219, 220, 221, 2328, 0xFFFF};
        static const WORD kExtras[] = {0, 1, 8, 2107, 2108, 2109, 4000, 0xFFFF};
        static const WORD kVersions[] = {0, 0x0320, 0x0400, 0x0401, 0x4021, 0x4020, 0xFFFF};
        static const size_t kMerged[] = {76, 78, 80, 82, 84, 86, 88, 90, 92, 94, 96, 98, 100};
        switch (Pick(11)) {
            case 0:
                PutWord(c, 68,
                        Pick(3) == 0 ? Interesting<WORD>() : kSizes[Pick(std::size(kSizes))]);
                c->how += " dmSize";
                break;
            case 1:
                PutWord(c, 70,
                        Pick(3) == 0 ? Interesting<WORD>() : kExtras[Pick(std::size(kExtras))]);
                c->how += " dmDriverExtra";
                break;
            case 2:
                PutWord(c, Pick(2) == 0 ? 64 : 66, kVersions[Pick(std::size(kVersions))]);
                c->how += " version";
                break;
            case 3: {
                uint32_t v = Pick(2) == 0 ? 0 : static_cast<uint32_t>(rng_());
                std::memcpy(c->bytes.data() + 220 + 4 * Pick(2), &v, 4);
                c->how += " signature";
                break;
            }
            case 4: {
                // A text without its terminator.
                static const std::pair<size_t, size_t> kTexts[] = {
                    {0, 64}, {102, 64}, {228, 520}, {1264, 1024}};
                auto [at, bytes] = kTexts[Pick(std::size(kTexts))];
                std::memset(c->bytes.data() + at, 'Z', bytes);
                c->how += " unterminated text";
                break;
            }
            case 5:
                PutWord(c, kMerged[Pick(std::size(kMerged))], Interesting<WORD>());
                c->how += " merged field";
                break;
            case 6: {
                DWORD fields = Pick(2) == 0 ? 0xFFFFFFFF : static_cast<DWORD>(rng_());
                std::memcpy(c->bytes.data() + 72, &fields, 4);
                c->how += " dmFields";
                break;
            }
            case 7: {
                int32_t v = Interesting<int32_t>();
                std::memcpy(c->bytes.data() + 2288 + 4 * Pick(10), &v, 4);
                c->how += " geometry";
                break;
            }
            case 8:
                c->bytes[Pick(c->bytes.size())] ^= static_cast<uint8_t>(1 + Pick(255));
                c->how += " byte";
                break;
            case 9:
                std::memset(c->bytes.data() + 220, static_cast<int>(Pick(256)), 2108);
                c->how += " private part";
                break;
            default:
                std::memset(c->bytes.data() + 72, static_cast<int>(Pick(256)), 148);
                c->how += " public fields";
                break;
        }
    }

    std::mt19937 rng_;
    DriverDevmode base_;
};

bool Terminated(const WCHAR* text, size_t units) {
    for (size_t i = 0; i < units; ++i) {
        if (text[i] == 0) return true;
    }
    return false;
}

// A handed-out record: the driver's sizes and marks, texts terminated.
void ExpectWhole(const DriverDevmode& r, const std::string& where) {
    EXPECT_EQ(r.dm.dmSize, kPublicDevmodeSize) << where;
    EXPECT_EQ(r.dm.dmDriverExtra, kPrivateDevmodeSize) << where;
    EXPECT_EQ(r.dm.dmSpecVersion, kDevmodeSpecVersion) << where;
    EXPECT_EQ(r.dm.dmDriverVersion, kDriverVersion) << where;
    EXPECT_EQ(r.priv.Signature1, PrivateSignature) << where;
    EXPECT_EQ(r.priv.Signature2, PrivateSignature) << where;
    EXPECT_TRUE(Terminated(r.dm.dmDeviceName, CCHDEVICENAME)) << where;
    EXPECT_TRUE(Terminated(r.dm.dmFormName, CCHFORMNAME)) << where;
    EXPECT_TRUE(Terminated(r.priv.PrinterName, kPrinterNameUnits)) << where;
    EXPECT_EQ(r.priv.Settings[kSettingsUnits - 1], 0) << where;
}

// An output buffer with guard bytes before and after the stated size.
struct Output {
    explicit Output(size_t stated) : stated(stated), bytes(stated + 2 * kSentinel, kFill) {}
    DEVMODEW* dm() { return reinterpret_cast<DEVMODEW*>(bytes.data() + kSentinel); }
    bool OutsideUntouched() const {
        for (size_t i = 0; i < kSentinel; ++i) {
            if (bytes[i] != kFill || bytes[kSentinel + stated + i] != kFill) return false;
        }
        return true;
    }
    size_t stated;
    std::vector<uint8_t> bytes;
};

// A writable page followed by memory the process may not touch, wide enough
// that every offset a devmode header can state (up to 131070 bytes) lands
// in it: a record that claims more than its memory faults, never reads
// another object.
struct WidelyGuardedPage {
    WidelyGuardedPage() {
        page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
        forbidden = (2 * 0xFFFF + page) / page * page;
        base = static_cast<uint8_t*>(
            mmap(nullptr, page + forbidden, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
        mprotect(base, page, PROT_READ | PROT_WRITE);
    }
    ~WidelyGuardedPage() { munmap(base, page + forbidden); }
    WidelyGuardedPage(const WidelyGuardedPage&) = delete;
    WidelyGuardedPage& operator=(const WidelyGuardedPage&) = delete;
    // The last bytes of the page, from a 4-byte aligned start.
    uint8_t* Tail(size_t bytes) { return base + ((page - bytes) & ~size_t{3}); }
    uint8_t* base = nullptr;
    size_t page = 0, forbidden = 0;
};

class DevmodeCorruptorTest : public DriverMachineTest {
protected:
    void SetUp() override {
        DriverMachineTest::SetUp();
        SetResolutionValue(300 << 16 | 300);
        printer_ = std::make_unique<OpenedPrinter>();
    }
    void TearDown() override {
        printer_.reset();
        DriverMachineTest::TearDown();
    }

    void DocumentEvent(DEVMODEW* dm, bool reset, const std::string& where) {
        void* record = reinterpret_cast<void*>(1);
        int result;
        if (reset) {
            result = DrvDocumentEvent(printer_->handle, nullptr, DOCUMENTEVENT_RESETDCPRE, 0, &dm,
                                      0, &record);
        } else {
            DOCEVENT_CREATEDCPRE pre = {nullptr, nullptr, dm, FALSE};
            result = DrvDocumentEvent(printer_->handle, nullptr, DOCUMENTEVENT_CREATEDCPRE, 0, &pre,
                                      0, &record);
        }
        ASSERT_TRUE(result == DOCUMENTEVENT_SUCCESS || result == DOCUMENTEVENT_FAILURE) << where;
        if (result == DOCUMENTEVENT_FAILURE) {
            EXPECT_EQ(record, nullptr) << where;
            return;
        }
        ASSERT_NE(record, nullptr) << where;
        ExpectWhole(*static_cast<DriverDevmode*>(record), where);
        int post = reset ? DOCUMENTEVENT_RESETDCPOST : DOCUMENTEVENT_CREATEDCPOST;
        EXPECT_EQ(DrvDocumentEvent(printer_->handle, nullptr, post, 0, &record, 0, nullptr),
                  DOCUMENTEVENT_SUCCESS)
            << where;
    }

    void ConvertDevMode(DEVMODEW* dm, DWORD mode, size_t stated, const std::string& where) {
        Output out(stated);
        LONG needed = static_cast<LONG>(stated);
        std::u16string name = kPrinter;
        BOOL ok = DrvConvertDevMode(name.data(), dm, out.dm(), &needed, mode);
        EXPECT_TRUE(out.OutsideUntouched()) << where;
        if (!ok) return;
        EXPECT_LE(static_cast<size_t>(needed), stated) << where;
        if (mode != CDM_CONVERT351) {
            DriverDevmode copy;
            std::memcpy(&copy, out.dm(), sizeof copy);
            ExpectWhole(copy, where);
        } else {
            EXPECT_EQ(out.dm()->dmSize, kDevmode351Size) << where;
            EXPECT_EQ(out.dm()->dmDriverExtra, kPrivateDevmodeSize) << where;
        }
    }

    void DocumentProperties(DEVMODEW* dm, bool sheets, size_t stated, const std::string& where) {
        Output out(stated);
        std::u16string name = kPrinter;
        LONG result;
        if (sheets) {
            DOCUMENTPROPERTYHEADER header = {};
            header.cbSize = sizeof header;
            header.hPrinter = printer_->handle;
            header.pszPrinterName = name.data();
            header.pdmIn = dm;
            header.pdmOut = out.dm();
            header.cbOut = static_cast<DWORD>(stated);
            header.fMode = DM_IN_BUFFER | DM_OUT_BUFFER;
            result = DrvDocumentPropertySheets(nullptr, reinterpret_cast<LPARAM>(&header));
        } else {
            // The direct form states no size: the caller was told 2328 bytes.
            result = DrvDocumentProperties(nullptr, printer_->handle, name.data(), out.dm(), dm,
                                           DM_IN_BUFFER | DM_OUT_BUFFER);
        }
        EXPECT_TRUE(out.OutsideUntouched()) << where;
        if (result != 1 || stated < kDriverDevmodeSize) return;
        DriverDevmode copy;
        std::memcpy(&copy, out.dm(), sizeof copy);
        ExpectWhole(copy, where);
    }

    std::unique_ptr<OpenedPrinter> printer_;
};

TEST_F(DevmodeCorruptorTest, EveryDevmodeEntryPointSurvivesCorruptRecords) {
    long records = 300;
    if (const char* env = std::getenv("LARK_CORRUPTOR_CALLS")) records = std::atol(env) / 9 + 1;
    static const DWORD kModes[] = {CDM_CONVERT, CDM_CONVERT351, CDM_DRIVER_DEFAULT};
    static const size_t kStated[] = {
        kDriverDevmodeSize, kDriverDevmode351Size, 2327, 220, 72, 5000};
    static const WORD kIndexes[] = {DC_FIELDS, DC_SIZE, DC_EXTRA, DC_VERSION, DC_DRIVER, DC_PAPERS};
    long calls[5] = {};
    Corruptor corruptor(20240611u);
    WidelyGuardedPage pages;
    winsim::Counts start = winsim::CurrentCounts();
    for (long i = 0; i < records && !HasFailure(); ++i) {
        Corrupted c = corruptor.Next();
        std::string where = "record " + std::to_string(i) + ":" + c.how;
        std::memset(pages.base, 0xCD, pages.page);
        auto* dm = reinterpret_cast<DEVMODEW*>(pages.Tail(c.bytes.size()));
        if (!c.bytes.empty()) std::memcpy(dm, c.bytes.data(), c.bytes.size());
        bool wholeClaim =
            c.bytes.size() >= offsetof(DEVMODEW, dmFields) && c.bytes.size() >= Claimed(c.bytes);
        // Guarded entry points take any memory.
        DocumentEvent(dm, false, where + " CREATEDCPRE");
        DocumentEvent(dm, true, where + " RESETDCPRE");
        calls[0] += 2;
        for (DWORD mode : kModes) {
            ConvertDevMode(dm, mode, kStated[(i + mode) % std::size(kStated)],
                           where + " CDM " + std::to_string(mode));
        }
        calls[1] += 3;
        // The others read a record as far as it claims: a caller whose memory
        // holds less would fault on Windows too.
        if (wholeClaim) {
            DocumentProperties(dm, false, kDriverDevmodeSize, where + " DrvDocumentProperties");
            DocumentProperties(dm, true, kStated[i % std::size(kStated)],
                               where + " DrvDocumentPropertySheets");
            calls[2] += 1;
            calls[3] += 1;
            std::u16string name = kPrinter;
            DrvDeviceCapabilities(printer_->handle, name.data(), kIndexes[i % std::size(kIndexes)],
                                  nullptr, dm);
            calls[4] += 1;
        }
        ExpectHeldAsBefore(start, where);
    }
    std::printf(
        "corruptor: DrvDocumentEvent %ld\ncorruptor: DrvConvertDevMode %ld\n"
        "corruptor: DrvDocumentProperties %ld\ncorruptor: DrvDocumentPropertySheets %ld\n"
        "corruptor: DrvDeviceCapabilities %ld\n",
        calls[0], calls[1], calls[2], calls[3], calls[4]);
}

}  // namespace
}  // namespace larktest
