// The service entry, and the worker that mirrors the internet connection on the LED.
#include <glintlamp.h>

#include "console_text.h"
#include "glintwatch.h"

namespace {

constexpr DWORD kPollPeriodMs = 1000;
constexpr DWORD kStartWaitHintMs = 3000;
// Stands for a failure whose call left no code of its own (a status report or the stop
// event's creation failing without a last error), so that the stop still reads as a failure.
constexpr DWORD kUnspecifiedFailure = static_cast<DWORD>(E_FAIL);
// What the worker returns when it ended on a stop request.
constexpr DWORD kStoppedOnRequest = 0;

// Closes the stop event when the worker ends, however it ends.
class StopEventScope {
  public:
    StopEventScope() = default;
    StopEventScope(const StopEventScope&) = delete;
    StopEventScope& operator=(const StopEventScope&) = delete;
    ~StopEventScope() { serviceGlobals.stopEvent.Close(); }
};

// The result of a failure that ends the service: never kStoppedOnRequest.
DWORD FailureResult(DWORD result) { return result != 0 ? result : kUnspecifiedFailure; }

// A status report failed and has been logged, with its error in lastError.
DWORD ReportFailure() { return FailureResult(serviceGlobals.lastError); }

// The worker: kStoppedOnRequest when a stop request ended it, otherwise the result of the
// failure that did.
DWORD RunWorker() {
    wchar_t message[256];
    // Declared before the stop event so that, on the way out, the event is closed first and
    // COM left after it.
    ComApartment apartment;
    if (!ReportServiceState(SERVICE_START_PENDING, 0, kStartWaitHintMs)) return ReportFailure();
    if (!serviceGlobals.stopEvent.Create()) return FailureResult(GetLastError());
    StopEventScope closeStopEvent;
    if (!ReportServiceState(SERVICE_START_PENDING, 0, kStartWaitHintMs)) return ReportFailure();

    if (const HRESULT entered = apartment.Enter(COINIT_APARTMENTTHREADED); entered != S_OK) {
        FormatText(message, L"CoInitializeEx() failed: 0x%08X\n", static_cast<unsigned>(entered));
        LogServiceError(message);
        return FailureResult(static_cast<DWORD>(entered));
    }
    if (!ReportServiceState(SERVICE_START_PENDING, 0, kStartWaitHintMs)) return ReportFailure();

    const ZELV_RESULT detected = Zelv_LedDetect(nullptr, nullptr, nullptr);
    if (detected != 0) {
        FormatText(message, L"ERROR: Zelv_LedDetect returned: 0x%08X\n",
                   static_cast<unsigned>(detected));
        LogServiceError(message);
        return FailureResult(static_cast<DWORD>(detected));
    }
    if (!ReportServiceState(SERVICE_RUNNING, 0, 0)) return ReportFailure();

    while (WaitForSingleObject(serviceGlobals.stopEvent.handle(), kPollPeriodMs) != WAIT_OBJECT_0) {
        DWORD flags = 0;
        const bool connected = InternetGetConnectedState(&flags, 0) == TRUE;
        if (const ZELV_RESULT switched = Zelv_LedSetState(connected ? LED_STATE_ON : LED_STATE_OFF);
            switched != 0) {
            LogServiceError(connected ? L"ERROR: unable to set the LED state ON!\n"
                                      : L"ERROR: unable to set the LED state OFF!\n");
            return FailureResult(static_cast<DWORD>(switched));
        }
    }
    return kStoppedOnRequest;
}

// The stopped report. A stop that a failure caused must not read as a clean one to the SCM
// (nor to recovery actions, which count only a non-zero exit code as a failure): the logged
// Win32 error is the exit code, and where no call set one, the failure's own result goes
// as the service-specific code.
void ReportStopped(DWORD failure) {
    const DWORD lastError = serviceGlobals.lastError;
    if (failure == kStoppedOnRequest || lastError != 0) {
        ReportServiceState(SERVICE_STOPPED, lastError, 0);
        return;
    }
    {
        // The control handler may report at the same moment.
        CriticalSection::Lock guard(serviceGlobals.statusLock);
        serviceGlobals.status.dwServiceSpecificExitCode = failure;
    }
    ReportServiceState(SERVICE_STOPPED, ERROR_SERVICE_SPECIFIC_ERROR, 0);
}

}  // namespace

void RunLedWorker() { RunWorker(); }

void WINAPI LedServiceMain(DWORD, LPWSTR*) {
    serviceGlobals.statusHandle = RegisterServiceCtrlHandlerW(kServiceName, LedServiceCtrl);
    if (serviceGlobals.statusHandle == nullptr) return;
    serviceGlobals.status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    serviceGlobals.status.dwServiceSpecificExitCode = 0;
    const DWORD failure = ReportServiceState(SERVICE_START_PENDING, 0, kStartWaitHintMs)
                              ? RunWorker()
                              : ReportFailure();
    ReportStopped(failure);
}
