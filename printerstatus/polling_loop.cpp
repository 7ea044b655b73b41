#include "polling_loop.h"

#include <cstring>

#include "debug_log.h"
#include "device_status.h"
#include "message_wait.h"

namespace {

// The status of one poll: CheckStatus's result when the text has an S field,
// else 0 with no port status set.
int PollStatus(const MonitorRun& run, const char* reply) {
    const char* field = std::strstr(reply, ";S:");
    if (field == nullptr) return 0;
    return CheckStatus(reply, run.printerName, run.info->pPortName,
                       static_cast<size_t>(field - reply));
}

}  // namespace

bool ReadDeviceId(HANDLE device, char* reply) {
    // The device's text is untrusted: the buffer is cleared before each
    // request and has one byte more than offered, so whatever the device
    // delivers (a shorter text without terminator, 512 bytes without one)
    // ends within the buffer. The byte count is not trusted either.
    std::memset(reply, 0, kReplyBytes + 1);
    DWORD returned = 0;
    if (!DeviceIoControl(device, kQueryDeviceIdRequest, nullptr, 0, reply, kReplyBytes, &returned,
                         nullptr)) {
        return false;
    }
    reply[kReplyBytes] = 0;
    return true;
}

void RunPollingLoop(const MonitorRun& run) {
    char reply[kReplyBytes + 1];
    for (DWORD k = 0;; ++k) {
        if (!ReadDeviceId(run.device, reply)) {
            WriteDebugLog("PrinterStatus: Device id failed");
            return;
        }
        WriteDebugLog(reply);
        const int result = PollStatus(run, reply);
        LogNumber("PrinterStatus: CheckPrinterStuats returned %d", result);
        WaitAnsweringMessages(1000);
        // When the re-read fails the buffer keeps the previous poll's record.
        DWORD needed = 0;
        GetPrinterW(run.printer, 2, reinterpret_cast<LPBYTE>(run.info), run.infoBytes, &needed);
        WriteDebugLog("Returned from GetPrinter");
        if (run.info->cJobs == 0 && result == 0 && k >= kMinimumBusyPolls) {
            WriteDebugLog("There are no more jobs");
            return;
        }
        WriteDebugLog("There are still jobs in the queue");
    }
}
