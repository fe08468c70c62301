#pragma once
// Glintwatch: a service that mirrors the internet connection on the laptop's LED, with
// commands to install, remove and debug it from a console.
#include <atomic>

#include <critical_section.h>
#include <platform.h>

#include "service_registration.h"
#include "stop_signal.h"

// The process-wide state of the service program.
struct ServiceGlobals {
    SERVICE_STATUS_HANDLE statusHandle = nullptr;
    SERVICE_STATUS status{};  // also the out-parameter of the remove command
    DWORD checkpointCounter = 1;
    StopSignal stopEvent;
    std::atomic<DWORD> lastError{0};  // the Win32 error of the last logged event
    bool consoleMode = false;
    // Keeps a status report whole when the control handler and the service thread report
    // at once.
    CriticalSection statusLock;
};
extern ServiceGlobals serviceGlobals;

// ---- Event log and error text ----------------------------------------------------------------
void LogServiceError(const wchar_t* message);
const wchar_t* FormatLastError();

// ---- Status reports and control handling
// ---------------------------------------------------------
bool ReportServiceState(DWORD state, DWORD exitCode, DWORD waitHint);
void WINAPI LedServiceCtrl(DWORD control);

// ---- Service entry and worker ------------------------------------------------------------------
void WINAPI LedServiceMain(DWORD argc, LPWSTR* argv);
void RunLedWorker();

// ---- Command line ----------------------------------------------------------------------------
int GlintwatchMain(int argc, char** argv);
void CmdCreateService();
void CmdDeleteService();
void CmdDebugService();
BOOL WINAPI ConsoleStopHandler(DWORD ctrlType);
