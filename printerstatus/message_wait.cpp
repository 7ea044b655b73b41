#include "message_wait.h"

void WaitAnsweringMessages(DWORD milliseconds) {
    const DWORD start = GetTickCount();
    for (;;) {
        MSG message;
        // One message at a time, the clock read after each: a program that
        // floods the window with messages does not stretch the poll.
        if (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message != WM_QUIT) {
                TranslateMessage(&message);
                DispatchMessageW(&message);
            }
            if (GetTickCount() - start >= milliseconds) return;
            continue;
        }
        // Unsigned: right across the tick count's wrap too.
        const DWORD waited = GetTickCount() - start;
        if (waited >= milliseconds) return;
        const DWORD woke =
            MsgWaitForMultipleObjects(0, nullptr, FALSE, milliseconds - waited, QS_ALLINPUT);
        if (woke == WAIT_TIMEOUT) return;
        if (woke == WAIT_FAILED) {
            // The poll keeps its pace without the messages.
            Sleep(milliseconds - waited);
            return;
        }
    }
}
