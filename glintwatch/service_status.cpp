// The status the service reports to the SCM, and the handler of its control requests.
#include "glintwatch.h"

ServiceGlobals serviceGlobals;

bool ReportServiceState(DWORD state, DWORD exitCode, DWORD waitHint) {
    if (serviceGlobals.consoleMode) return true;
    BOOL sent;
    {
        CriticalSection::Lock guard(serviceGlobals.statusLock);
        SERVICE_STATUS& status = serviceGlobals.status;
        status.dwCurrentState = state;
        // Stop is the only request the service takes, and not while it starts.
        status.dwControlsAccepted = state == SERVICE_START_PENDING ? 0 : SERVICE_ACCEPT_STOP;
        status.dwWin32ExitCode = exitCode;
        status.dwWaitHint = waitHint;
        // Pending states carry a check point that rises over the life of the process.
        if (state == SERVICE_RUNNING || state == SERVICE_STOPPED) {
            status.dwCheckPoint = 0;
        } else {
            status.dwCheckPoint = serviceGlobals.checkpointCounter++;
        }
        sent = SetServiceStatus(serviceGlobals.statusHandle, &status);
    }
    if (!sent) LogServiceError(L"SetServiceStatus");
    return sent != FALSE;
}

void WINAPI LedServiceCtrl(DWORD control) {
    if (control == SERVICE_CONTROL_STOP) {
        ReportServiceState(SERVICE_STOP_PENDING, 0, 0);
        serviceGlobals.stopEvent.Set();
        return;
    }
    DWORD current;
    {
        CriticalSection::Lock guard(serviceGlobals.statusLock);
        current = serviceGlobals.status.dwCurrentState;
    }
    ReportServiceState(current, 0, 0);
}
