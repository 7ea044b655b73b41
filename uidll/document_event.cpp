// DrvDocumentEvent: the devmode of every device context and the start of the
// status monitor. Every event runs under the fault guard; the application's
// records are read only where the handling holds nothing but what the event
// call below records, so a fault frees exactly that.
#include <cstring>

#include "devmode_merge.h"
#include "driver_files.h"
#include "fault_guard.h"
#include "monitor_launch.h"
#include "page_geometry.h"

namespace {

struct EventCall {
    HANDLE printer;
    int iEsc;
    PVOID pvIn;
    PVOID pvOut;
    HGLOBAL block;  // allocated by this call, freed again when the event fails
    int result;
};

bool CopyStoredDefault(DriverDevmode* record, HANDLE printer) {
    ScopedPrinterDefaultDevmode stored(CreatePrinterDefaultDevmode(printer));
    if (!stored || !stored->owns || stored->devmode == nullptr) return false;
    std::memcpy(record, stored->devmode, kDriverDevmodeSize);
    return true;
}

DEVMODEW* ApplicationDevmode(const EventCall& call) {
    if (call.iEsc == DOCUMENTEVENT_CREATEDCPRE) {
        return static_cast<DOCEVENT_CREATEDCPRE*>(call.pvIn)->pdm;
    }
    return *static_cast<DEVMODEW**>(call.pvIn);
}

void BuildRecord(EventCall* call) {
    if (call->pvIn == nullptr || call->pvOut == nullptr || call->printer == nullptr) {
        call->result = DOCUMENTEVENT_UNSUPPORTED;
        return;
    }
    call->result = DOCUMENTEVENT_FAILURE;
    auto* out = static_cast<void**>(call->pvOut);
    DEVMODEW* application = ApplicationDevmode(*call);
    if (application == nullptr) {
        *out = nullptr;
        return;
    }
    call->block = GlobalAlloc(GMEM_FIXED | GMEM_ZEROINIT, kDriverDevmodeSize);
    GuardNote();
    if (call->block == nullptr) {
        *out = nullptr;
        return;
    }
    *out = call->block;
    auto* record = static_cast<DriverDevmode*>(call->block);
    // A printer with no stored devmode cannot give the record its base.
    if (!CopyStoredDefault(record, call->printer)) return;
    MergeDevmode(record, application, call->printer);
    ApplyPageGeometry(call->printer, record);
    call->result = DOCUMENTEVENT_SUCCESS;
}

void FreeRecord(EventCall* call) {
    call->result = DOCUMENTEVENT_SUCCESS;
    if (call->pvIn == nullptr) return;
    void* record = *static_cast<void**>(call->pvIn);
    if (record == nullptr) return;
    HGLOBAL handle = GlobalHandle(record);
    if (handle == nullptr) return;
    GlobalUnlock(handle);
    GlobalFree(handle);
}

void HandleEvent(void* context) {
    auto* call = static_cast<EventCall*>(context);
    switch (call->iEsc) {
        case DOCUMENTEVENT_CREATEDCPRE:
        case DOCUMENTEVENT_RESETDCPRE:
            BuildRecord(call);
            break;
        case DOCUMENTEVENT_CREATEDCPOST:
        case DOCUMENTEVENT_RESETDCPOST:
            FreeRecord(call);
            break;
        case DOCUMENTEVENT_STARTDOC:
            LaunchStatusMonitor(call->printer);
            call->result = DOCUMENTEVENT_SUCCESS;
            break;
        default:
            call->result = DOCUMENTEVENT_SUCCESS;
            break;
    }
}

void ClearOut(void* context) {
    *static_cast<void**>(static_cast<EventCall*>(context)->pvOut) = nullptr;
}

}  // namespace

extern "C" int WINAPI DrvDocumentEvent(HANDLE printer, HDC, int iEsc, ULONG, PVOID pvIn, ULONG,
                                       PVOID pvOut) {
    EventCall call = {printer, iEsc, pvIn, pvOut, nullptr, DOCUMENTEVENT_FAILURE};
    if (!RunGuarded(HandleEvent, &call)) call.result = DOCUMENTEVENT_FAILURE;
    if (call.result != DOCUMENTEVENT_FAILURE) return call.result;
    // The engine never keeps a pointer from a failed PRE event, whether the
    // fault came before or after the block was handed out.
    bool pre = iEsc == DOCUMENTEVENT_CREATEDCPRE || iEsc == DOCUMENTEVENT_RESETDCPRE;
    if (pre && pvOut != nullptr) RunGuarded(ClearOut, &call);
    if (call.block != nullptr) GlobalFree(call.block);
    return call.result;
}
