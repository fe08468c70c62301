// The service entry, and the worker that mirrors the internet connection on the LED.
#include <glintlamp.h>

#include "console_text.h"
#include "glintwatch.h"

namespace {

constexpr DWORD kPollPeriodMs = 1000;
constexpr DWORD kStartWaitHintMs = 3000;

// Closes the stop event when the worker ends, however it ends.
class StopEventScope {
  public:
    StopEventScope() = default;
    StopEventScope(const StopEventScope&) = delete;
    StopEventScope& operator=(const StopEventScope&) = delete;
    ~StopEventScope() { serviceGlobals.stopEvent.Close(); }
};

}  // namespace

void RunLedWorker() {
    wchar_t message[256];
    // Declared before the stop event so that, on the way out, the event is closed first and
    // COM left after it.
    ComApartment apartment;
    if (!ReportServiceState(SERVICE_START_PENDING, 0, kStartWaitHintMs)) return;
    if (!serviceGlobals.stopEvent.Create()) return;
    StopEventScope closeStopEvent;
    if (!ReportServiceState(SERVICE_START_PENDING, 0, kStartWaitHintMs)) return;

    if (const HRESULT entered = apartment.Enter(COINIT_APARTMENTTHREADED); entered != S_OK) {
        FormatText(message, L"CoInitializeEx() failed: 0x%08X\n", static_cast<unsigned>(entered));
        LogServiceError(message);
        return;
    }
    if (!ReportServiceState(SERVICE_START_PENDING, 0, kStartWaitHintMs)) return;

    const ZELV_RESULT detected = Zelv_LedDetect(nullptr, nullptr, nullptr);
    if (detected != 0) {
        FormatText(message, L"ERROR: Zelv_LedDetect returned: 0x%08X\n",
                   static_cast<unsigned>(detected));
        LogServiceError(message);
        return;
    }
    if (!ReportServiceState(SERVICE_RUNNING, 0, 0)) return;

    while (WaitForSingleObject(serviceGlobals.stopEvent.handle(), kPollPeriodMs) != WAIT_OBJECT_0) {
        DWORD flags = 0;
        const bool connected = InternetGetConnectedState(&flags, 0) == TRUE;
        if (Zelv_LedSetState(connected ? LED_STATE_ON : LED_STATE_OFF) != 0) {
            LogServiceError(connected ? L"ERROR: unable to set the LED state ON!\n"
                                      : L"ERROR: unable to set the LED state OFF!\n");
            return;
        }
    }
}

void WINAPI LedServiceMain(DWORD, LPWSTR*) {
    serviceGlobals.statusHandle = RegisterServiceCtrlHandlerW(kServiceName, LedServiceCtrl);
    if (serviceGlobals.statusHandle == nullptr) return;
    serviceGlobals.status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    serviceGlobals.status.dwServiceSpecificExitCode = 0;
    if (ReportServiceState(SERVICE_START_PENDING, 0, kStartWaitHintMs)) RunLedWorker();
    ReportServiceState(SERVICE_STOPPED, serviceGlobals.lastError, 0);
}
