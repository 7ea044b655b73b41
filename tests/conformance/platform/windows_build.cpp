// What only the Windows build of larkui.dll and larkmon.exe imports: the
// MinGW-w64 runtime linked into both, and the Windows halves of the fault
// guard and the module hold (winsim's build has POSIX halves of its own).
// The notes' check holds this list to the binaries' import tables.
#include "conformance.h"

CONFORMANCE_COVERS(NoRow,
                   "CreateEventA CreateSemaphoreA DeleteCriticalSection DuplicateHandle "
                   "EnterCriticalSection GetCurrentProcessId GetCurrentThread GetCurrentThreadId "
                   "GetHandleInformation GetProcessAffinityMask GetStartupInfoA "
                   "GetSystemTimeAsFileTime GetThreadContext GetThreadPriority GetTickCount64 "
                   "InitializeCriticalSection IsDBCSLeadByteEx IsDebuggerPresent "
                   "LeaveCriticalSection OutputDebugStringA RaiseException ReleaseSemaphore "
                   "ResetEvent RtlCaptureContext RtlLookupFunctionEntry RtlUnwindEx "
                   "RtlVirtualUnwind SetEvent SetProcessAffinityMask SetThreadContext "
                   "SetThreadPriority SetUnhandledExceptionFilter SuspendThread TlsAlloc "
                   "TlsGetValue TlsSetValue TryEnterCriticalSection VirtualProtect VirtualQuery "
                   "WaitForMultipleObjects WideCharToMultiByte __C_specific_handler",
                   "the MinGW-w64 runtime's own (start-up, the threads' storage and locks, the "
                   "unwinding of exceptions); no code of larkui or larkmon calls it");
CONFORMANCE_COVERS(NoRow, "AddVectoredExceptionHandler RemoveVectoredExceptionHandler",
                   "the Windows build's fault guard (winsim's build guards by signals); the "
                   "document event's rows of records that fault run it under Wine, through the "
                   "real larkui.dll");
CONFORMANCE_COVERS(NoRow, "GetModuleHandleExW FreeLibraryAndExitThread",
                   "the Windows build's module hold (winsim's build holds none); the sheets' "
                   "closing thread runs it under Wine, through the real larkui.dll");
