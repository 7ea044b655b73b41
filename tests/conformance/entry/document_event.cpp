// DrvDocumentEvent: the record of a device context from its PRE to its POST
// event, the refusals, the guard over records that fault (in front of a
// no-access page, on several threads at once), every other event, and the
// two entry points that answer TRUE.
#include <cstring>
#include <vector>

#include "print_road.h"

namespace {

using conformance::NoAccessPages;
using printroad::EventFn;

using conformance::Held;

struct Call {
    EventFn event;
    HANDLE printer;
    DriverDevmode* application;
    NoAccessPages* pages;
};

struct RefusalRow {
    const char* name;
    conformance::Where where;
    int result;
    bool outNull;  // the pointer at pvOut is null afterwards
    int (*run)(const Call& c, void** out);
};

const RefusalRow kRefusals[] = {
    {"CREATEDCPRE without pvIn: unsupported", conformance::kBoth, DOCUMENTEVENT_UNSUPPORTED, false,
     [](const Call& c, void** out) {
         return c.event(c.printer, nullptr, DOCUMENTEVENT_CREATEDCPRE, 0, nullptr, 0, out);
     }},
    {"RESETDCPRE without pvIn: unsupported", conformance::kBoth, DOCUMENTEVENT_UNSUPPORTED, false,
     [](const Call& c, void** out) {
         return c.event(c.printer, nullptr, DOCUMENTEVENT_RESETDCPRE, 0, nullptr, 0, out);
     }},
    {"CREATEDCPRE without pvOut: unsupported", conformance::kBoth, DOCUMENTEVENT_UNSUPPORTED, false,
     [](const Call& c, void**) {
         return printroad::CreatePre(c.event, c.printer, &c.application->dm, nullptr);
     }},
    {"CREATEDCPRE without a printer handle: unsupported", conformance::kBoth,
     DOCUMENTEVENT_UNSUPPORTED, false,
     [](const Call& c, void** out) {
         return printroad::CreatePre(c.event, nullptr, &c.application->dm, out);
     }},
    {"CREATEDCPRE with a null devmode: failure, null at pvOut", conformance::kBoth,
     DOCUMENTEVENT_FAILURE, true,
     [](const Call& c, void** out) {
         return printroad::CreatePre(c.event, c.printer, nullptr, out);
     }},
    {"RESETDCPRE with a null devmode: failure, null at pvOut", conformance::kBoth,
     DOCUMENTEVENT_FAILURE, true,
     [](const Call& c, void** out) {
         DEVMODEW* none = nullptr;
         return c.event(c.printer, nullptr, DOCUMENTEVENT_RESETDCPRE, 0, &none, 0, out);
     }},
    {"the global heap exhausted: failure, null at pvOut",
     conformance::WinsimOnly("GlobalAlloc fails only through winsim's fault injection"),
     DOCUMENTEVENT_FAILURE, true,
     [](const Call& c, void** out) {
         conformance::FailCall("GlobalAlloc", 1, ERROR_NOT_ENOUGH_MEMORY);
         return printroad::CreatePre(c.event, c.printer, &c.application->dm, out);
     }},
    {"the devmode in a no-access page: failure, null at pvOut", conformance::kBoth,
     DOCUMENTEVENT_FAILURE, true,
     [](const Call& c, void** out) {
         return printroad::CreatePre(c.event, c.printer,
                                     reinterpret_cast<DEVMODEW*>(c.pages->Forbidden()), out);
     }},
    {"the driver's own extension running into a no-access page: failure, null at pvOut",
     conformance::kBoth, DOCUMENTEVENT_FAILURE, true,
     [](const Call& c, void** out) {
         c.application->dm.dmFields = 0;
         std::memcpy(c.pages->Tail(1000), c.application, 1000);
         return printroad::CreatePre(c.event, c.printer,
                                     reinterpret_cast<DEVMODEW*>(c.pages->Tail(1000)), out);
     }},
    {"the DOCEVENT_CREATEDCPRE record in a no-access page: failure, null at pvOut",
     conformance::kBoth, DOCUMENTEVENT_FAILURE, true,
     [](const Call& c, void** out) {
         return c.event(c.printer, nullptr, DOCUMENTEVENT_CREATEDCPRE, 0, c.pages->Forbidden(), 0,
                        out);
     }},
    {"RESETDCPRE's devmode pointer into a no-access page: failure, null at pvOut",
     conformance::kBoth, DOCUMENTEVENT_FAILURE, true,
     [](const Call& c, void** out) {
         auto* in = reinterpret_cast<DEVMODEW*>(c.pages->Forbidden());
         return c.event(c.printer, nullptr, DOCUMENTEVENT_RESETDCPRE, 0, &in, 0, out);
     }},
    {"pvOut read-only: failure, block freed", conformance::kBoth, DOCUMENTEVENT_FAILURE, false,
     [](const Call& c, void**) {
         c.pages->MakeReadOnly();
         return printroad::CreatePre(c.event, c.printer, &c.application->dm, c.pages->Tail(8));
     }},
};

struct ThreadWork {
    EventFn event;
    DEVMODEW* good;
    DEVMODEW* bad;
    int index;
    int wrong;
};

DWORD WINAPI CreateAndFree(LPVOID context) {
    auto* work = static_cast<ThreadWork*>(context);
    printroad::Printer printer;
    for (int i = 0; i < 25; ++i) {
        void* out = nullptr;
        bool faulting = (work->index + i) % 2 == 0;
        int r = printroad::CreatePre(work->event, printer.handle, faulting ? work->bad : work->good,
                                     &out);
        if (r != (faulting ? DOCUMENTEVENT_FAILURE : DOCUMENTEVENT_SUCCESS)) ++work->wrong;
        if (out != nullptr) printroad::Post(work->event, printer.handle, out);
    }
    return 0;
}

}  // namespace

CONFORMANCE_TABLE(DocumentEvents, "DrvDocumentEvent device contexts and other events") {
    auto event = conformance::Entry<EventFn>("DrvDocumentEvent");
    if (!ctx.Begin("the entry point is exported")) return;
    if (!ROW_CHECK(event != nullptr)) return;
    const long blocks = Held("global blocks");
    auto blocksAsBefore = [&] {
        if (ctx.Counted(blocks, "global blocks")) ROW_EQ(Held("global blocks"), blocks);
    };

    if (ctx.Begin("CREATEDCPRE: a global block of its own, the printer's, until CREATEDCPOST")) {
        printroad::Printer printer;
        DriverDevmode application = printroad::OtherPrinterRecord();
        application.dm.dmFields = DM_PAPERSIZE;
        application.dm.dmPaperSize = 257;  // the second row, 5 x 7 in, code 1
        void* record = nullptr;
        SetLastError(printroad::kSentinel);
        ROW_EQ(printroad::CreatePre(event, printer.handle, &application.dm, &record),
               DOCUMENTEVENT_SUCCESS);
        if (ROW_CHECK(record != nullptr && record != &application)) {
            ROW_CHECK(GlobalHandle(record) != nullptr);
            if (ctx.Counted(blocks, "global blocks")) ROW_EQ(Held("global blocks"), blocks + 1);
            const auto* r = static_cast<const DriverDevmode*>(record);
            ROW_EQ(r->dm.dmSize, kPublicDevmodeSize);
            ROW_EQ(r->dm.dmDriverExtra, kPrivateDevmodeSize);
            ROW_TEXT(r->priv.Settings, "1000=1;");
            ROW_EQ(r->priv.PageWidthDots, 1500u);
            ROW_EQ(r->priv.PageLengthDots, 2100u);
            // The application's record came from another printer of the driver.
            ROW_TEXT(r->priv.PrinterName, conformance::kPrinter);
            ROW_TEXT(r->dm.dmDeviceName, conformance::kPrinter);
            ROW_EQ(printroad::Post(event, printer.handle, record), DOCUMENTEVENT_SUCCESS);
        }
        blocksAsBefore();
    }
    if (ctx.Begin("RESETDCPRE: the devmode through its pointer, until RESETDCPOST")) {
        printroad::Printer printer;
        DriverDevmode landscape = printroad::OtherPrinterRecord();
        landscape.dm.dmFields = DM_ORIENTATION;
        landscape.dm.dmOrientation = DMORIENT_LANDSCAPE;
        DEVMODEW* in = &landscape.dm;
        void* record = nullptr;
        ROW_EQ(event(printer.handle, nullptr, DOCUMENTEVENT_RESETDCPRE, sizeof in, &in,
                     sizeof record, &record),
               DOCUMENTEVENT_SUCCESS);
        if (ROW_CHECK(record != nullptr)) {
            ROW_CHECK(GlobalHandle(record) != nullptr);
            const auto* r = static_cast<const DriverDevmode*>(record);
            ROW_EQ(r->priv.PaperWidthMm, 152);
            ROW_EQ(r->priv.PaperLengthMm, 101);
            ROW_EQ(r->priv.XResolution, 300);
            ROW_EQ(event(printer.handle, nullptr, DOCUMENTEVENT_RESETDCPOST, sizeof record, &record,
                         0, nullptr),
                   DOCUMENTEVENT_SUCCESS);
        }
        blocksAsBefore();
    }

    for (const RefusalRow& row : kRefusals) {
        if (!ctx.Begin(row.name, row.where)) continue;
        {
            printroad::Printer printer;
            DriverDevmode application = printroad::OtherPrinterRecord();
            NoAccessPages pages;
            if (!ROW_CHECK(pages.first != nullptr)) continue;
            void* out = reinterpret_cast<void*>(1);
            ROW_EQ(row.run({event, printer.handle, &application, &pages}, &out), row.result);
            if (row.outNull) ROW_CHECK(out == nullptr);
        }
        blocksAsBefore();
        conformance::ResetPrinter();
    }

    if (ctx.Begin("a printer without a stored devmode: failure, block freed, null at pvOut",
                  conformance::WineDiffers(
                      "Wine's GetPrinterW level 2 never answers a null pDevMode: for a printer "
                      "without a stored devmode it answers a bare DEVMODEW of its own (dmSize "
                      "220, no driver extra), which the driver takes for the stored one"))) {
        {
            printroad::Printer printer;
            DriverDevmode application = printroad::OtherPrinterRecord();
            ROW_CHECK(conformance::RemovePrinterDevmode());
            void* out = reinterpret_cast<void*>(1);
            int result = printroad::CreatePre(event, printer.handle, &application.dm, &out);
            if (ctx.WineExpectation()) {
                ROW_EQ(result, DOCUMENTEVENT_SUCCESS);
                if (ROW_CHECK(out != nullptr && out != reinterpret_cast<void*>(1))) {
                    // The bare header came along; the application's extension was merged.
                    const auto* r = static_cast<const DriverDevmode*>(out);
                    ROW_EQ(r->dm.dmSize, kPublicDevmodeSize);
                    ROW_EQ(r->dm.dmDriverExtra, 0);
                    ROW_EQ(r->priv.Signature2, PrivateSignature);
                    ROW_EQ(printroad::Post(event, printer.handle, out), DOCUMENTEVENT_SUCCESS);
                }
            } else {
                ROW_EQ(result, DOCUMENTEVENT_FAILURE);
                ROW_CHECK(out == nullptr);
            }
        }
        blocksAsBefore();
        conformance::ResetPrinter();
    }

    // Each record placed so that the byte after what its header claims
    // (dmSize plus dmDriverExtra) is in the no-access page: a read past the
    // claim would fault and fail the event.
    if (ctx.Begin("300 random records, each read only within its claim")) {
        printroad::Printer printer;
        NoAccessPages pages;
        uint32_t seed = 12345;
        auto next = [&seed] { return seed = seed * 1664525u + 1013904223u; };
        for (int i = 0; i < 300 && pages.first != nullptr; ++i) {
            DriverDevmode random;
            auto* bytes = reinterpret_cast<uint8_t*>(&random);
            for (size_t b = 0; b < sizeof random; ++b)
                bytes[b] = static_cast<uint8_t>(next() >> 24);
            // Sizes stay multiples of 4, aligned as an application's DEVMODEW
            // is, with the record's end right at the no-access page.
            random.dm.dmSize = next() % 4 == 0 ? static_cast<WORD>(72 + 4 * (next() % 75)) : 220;
            random.dm.dmDriverExtra = static_cast<WORD>((next() % (pages.page - 400)) & ~3u);
            if (next() % 2 == 0) random.dm.dmDriverVersion = kDriverVersion;
            if (next() % 2 == 0) random.priv.Signature1 = random.priv.Signature2 = PrivateSignature;
            size_t claim = random.dm.dmSize + random.dm.dmDriverExtra;
            uint8_t* at = pages.Tail(claim);
            std::memcpy(at, &random, claim < sizeof random ? claim : sizeof random);
            void* out = nullptr;
            int result =
                printroad::CreatePre(event, printer.handle, reinterpret_cast<DEVMODEW*>(at), &out);
            if (!ROW_EQ(result, DOCUMENTEVENT_SUCCESS) || out == nullptr) {
                ROW_NOTE("record %d, dmSize %u, extra %u", i, random.dm.dmSize,
                         random.dm.dmDriverExtra);
                break;
            }
            const auto* r = static_cast<const DriverDevmode*>(out);
            ROW_EQ(r->priv.Settings[kSettingsUnits - 1], 0);
            ROW_EQ(r->dm.dmScale, 100);
            ROW_CHECK(r->dm.dmCopies >= 1 && r->dm.dmCopies <= 100);
            ROW_CHECK(r->dm.dmOrientation == 1 || r->dm.dmOrientation == 2);
            printroad::Post(event, printer.handle, out);
        }
        ROW_CHECK(pages.first != nullptr);
        blocksAsBefore();
    }

    if (ctx.Begin("four threads at once, faulting and not: each guard catches its own faults")) {
        NoAccessPages pages;
        DriverDevmode good = printroad::OtherPrinterRecord();
        ThreadWork work[4];
        HANDLE threads[4] = {};
        for (int t = 0; t < 4; ++t) {
            work[t] = {event, &good.dm, reinterpret_cast<DEVMODEW*>(pages.Forbidden()), t, 0};
            threads[t] = CreateThread(nullptr, 0, CreateAndFree, &work[t], 0, nullptr);
            ROW_CHECK(threads[t] != nullptr);
        }
        for (HANDLE thread : threads) {
            if (thread == nullptr) continue;
            WaitForSingleObject(thread, INFINITE);
            CloseHandle(thread);
        }
        for (const ThreadWork& w : work) ROW_EQ(w.wrong, 0);
        blocksAsBefore();
    }

    printroad::Printer printer;
    if (ctx.Begin("CREATEDCPOST without pvIn: success")) {
        ROW_EQ(event(printer.handle, nullptr, DOCUMENTEVENT_CREATEDCPOST, 0, nullptr, 0, nullptr),
               DOCUMENTEVENT_SUCCESS);
    }
    if (ctx.Begin("RESETDCPOST with a null pointer: success, nothing freed")) {
        void* none = nullptr;
        ROW_EQ(event(printer.handle, nullptr, DOCUMENTEVENT_RESETDCPOST, sizeof none, &none, 0,
                     nullptr),
               DOCUMENTEVENT_SUCCESS);
        blocksAsBefore();
    }
    if (ctx.Begin("CREATEDCPOST with a pointer the driver did not hand out: success")) {
        int notOurs = 7;
        ROW_EQ(printroad::Post(event, printer.handle, &notOurs), DOCUMENTEVENT_SUCCESS);
        ROW_EQ(notOurs, 7);
        blocksAsBefore();
    }
    if (ctx.Begin("CREATEDCPOST with pvIn in a no-access page: failure")) {
        NoAccessPages pages;
        ROW_EQ(event(printer.handle, nullptr, DOCUMENTEVENT_CREATEDCPOST, 0, pages.Forbidden(), 0,
                     nullptr),
               DOCUMENTEVENT_FAILURE);
    }
    const struct {
        const char* name;
        int iEsc;
    } others[] = {
        {"STARTPAGE: success, nothing done", DOCUMENTEVENT_STARTPAGE},
        {"ENDPAGE: success, nothing done", DOCUMENTEVENT_ENDPAGE},
        {"ENDDOC: success, nothing done", DOCUMENTEVENT_ENDDOC},
        {"ABORTDOC: success, nothing done", DOCUMENTEVENT_ABORTDOC},
        {"DELETEDC: success, nothing done", DOCUMENTEVENT_DELETEDC},
        {"iEsc 99: success, nothing done", 99},
        {"iEsc -1: success, nothing done", -1},
    };
    // Nothing done, on every platform: the output left as it was, the input
    // unread as a record, the last error kept, no printer value changed.
    std::vector<std::string> valuesBefore;
    conformance::PrinterValueNames(&valuesBefore);
    for (const auto& row : others) {
        if (!ctx.Begin(row.name)) continue;
        BYTE in[16], out[16];
        std::memset(in, 0x5A, sizeof in);
        std::memset(out, 0xA5, sizeof out);
        SetLastError(printroad::kSentinel);
        ROW_EQ(event(printer.handle, nullptr, row.iEsc, sizeof in, in, sizeof out, out),
               DOCUMENTEVENT_SUCCESS);
        ROW_EQ(GetLastError(), printroad::kSentinel);
        ROW_BYTES(std::string(reinterpret_cast<char*>(out), sizeof out), std::string(16, '\xA5'));
        ROW_BYTES(std::string(reinterpret_cast<char*>(in), sizeof in), std::string(16, '\x5A'));
        std::vector<std::string> values;
        conformance::PrinterValueNames(&values);
        ROW_CHECK(values == valuesBefore);
        blocksAsBefore();
    }

    using QueryFn = decltype(&::DevQueryPrintEx);
    using UpgradeFn = BOOL(WINAPI*)(DWORD, LPBYTE);
    BYTE junk[64];
    std::memset(junk, 0xA5, sizeof junk);
    if (ctx.Begin("DevQueryPrintEx: TRUE for any query")) {
        auto query = conformance::Entry<QueryFn>("DevQueryPrintEx");
        if (ROW_CHECK(query != nullptr)) {
            ROW_EQ(query(nullptr), TRUE);
            ROW_EQ(query(reinterpret_cast<PDEVQUERYPRINT_INFO>(junk)), TRUE);
        }
    }
    if (ctx.Begin("DrvUpgradePrinter: TRUE for any level and information")) {
        auto upgrade = conformance::Entry<UpgradeFn>("DrvUpgradePrinter");
        if (ROW_CHECK(upgrade != nullptr)) {
            ROW_EQ(upgrade(0, nullptr), TRUE);
            ROW_EQ(upgrade(1, junk), TRUE);
            ROW_EQ(upgrade(2, junk), TRUE);
        }
    }
}
