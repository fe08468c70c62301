#include "setup_actions.h"

#include <owners.h>
#include <service_registration.h>

#include <cstdarg>
#include <cwchar>

namespace {

// How long removal waits for the running service to stop, and how often it looks.
constexpr DWORD kStopTimeoutMs = 30000;
constexpr DWORD kStopPollMs = 250;
constexpr const wchar_t* kProgramName = L"glintwatch.exe";

void Report(SetupReporter report, const wchar_t* format, ...) {
    wchar_t line[kProgramPathCapacity + 128];
    va_list args;
    va_start(args, format);
    std::vswprintf(line, sizeof line / sizeof line[0], format, args);
    va_end(args);
    line[sizeof line / sizeof line[0] - 1] = L'\0';
    report.write(report.context, line);
}

// Reports a failed step with the thread's last error, and returns that error (or
// ERROR_GEN_FAILURE if the step set none, so that a failure is never taken for success).
DWORD Failed(SetupReporter report, const wchar_t* step) {
    const DWORD error = GetLastError();
    Report(report, L"Glintwatch setup: %ls failed (error %lu).", step,
           static_cast<unsigned long>(error));
    return error != ERROR_SUCCESS ? error : ERROR_GEN_FAILURE;
}

DWORD FailedWith(SetupReporter report, const wchar_t* step, DWORD error) {
    SetLastError(error);
    return Failed(report, step);
}

// Waits until the service has stopped; false when it is still running at the time-out.
bool AwaitStopped(SC_HANDLE service) {
    SERVICE_STATUS status{};
    for (DWORD waited = 0; waited <= kStopTimeoutMs; waited += kStopPollMs) {
        if (!QueryServiceStatus(service, &status)) return false;
        if (status.dwCurrentState == SERVICE_STOPPED) return true;
        Sleep(kStopPollMs);
    }
    return false;
}

// Waits until a deleted service has left the database: the system keeps it while any
// program (the Services console, a monitoring tool) holds a handle to it. False when it is
// still there at the time-out.
bool AwaitServiceGone(SC_HANDLE manager) {
    for (DWORD waited = 0; waited <= kStopTimeoutMs; waited += kStopPollMs) {
        ScHandle service(OpenServiceW(manager, kServiceName, SERVICE_QUERY_STATUS));
        if (!service && GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST) return true;
        Sleep(kStopPollMs);
    }
    return false;
}

// Stops and deletes the service if there is one.
DWORD DeleteLedService(SC_HANDLE manager, SetupReporter report) {
    ScHandle service(
        OpenServiceW(manager, kServiceName, DELETE | SERVICE_STOP | SERVICE_QUERY_STATUS));
    if (!service) {
        if (GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST) return ERROR_SUCCESS;
        return Failed(report, L"opening the service");
    }
    SERVICE_STATUS status{};
    if (ControlService(service.get(), SERVICE_CONTROL_STOP, &status) &&
        !AwaitStopped(service.get())) {
        // Deleted all the same: the system removes it once it has stopped.
        Report(report, L"Glintwatch setup: the service did not stop within %lu s.",
               static_cast<unsigned long>(kStopTimeoutMs / 1000));
    }
    if (!DeleteService(service.get()) && GetLastError() != ERROR_SERVICE_MARKED_FOR_DELETE)
        return Failed(report, L"deleting the service");
    return ERROR_SUCCESS;
}

}  // namespace

DWORD InstallLedService(const wchar_t* installDir, SetupReporter report) {
    wchar_t programPath[kProgramPathCapacity];
    const std::size_t dirLength = std::wcslen(installDir);
    const bool needsSeparator = dirLength > 0 && installDir[dirLength - 1] != L'\\';
    if (dirLength + needsSeparator + std::wcslen(kProgramName) >= kProgramPathCapacity)
        return FailedWith(report, L"taking the install folder", ERROR_INSUFFICIENT_BUFFER);
    std::swprintf(programPath, kProgramPathCapacity, L"%ls%ls%ls", installDir,
                  needsSeparator ? L"\\" : L"", kProgramName);

    ScHandle manager(
        OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT | SC_MANAGER_CREATE_SERVICE));
    if (!manager) return Failed(report, L"opening the service manager");
    if (DWORD error = DeleteLedService(manager.get(), report)) return error;
    if (!AwaitServiceGone(manager.get()))
        Report(report,
               L"Glintwatch setup: the earlier service is still in use; close the "
               L"Services console and any program watching it, then install again.");
    ScHandle service(CreateLedService(manager.get(), programPath, SERVICE_AUTO_START,
                                      SERVICE_CHANGE_CONFIG | SERVICE_START));
    if (!service) return Failed(report, L"creating the service");
    if (!DescribeLedService(service.get())) return Failed(report, L"setting the description");
    if (!SetLedServiceRecovery(service.get())) {
        // A system without the flag's level still restarts the service after a crash.
        if (GetLastError() != ERROR_INVALID_LEVEL)
            return Failed(report, L"setting the recovery actions");
        Failed(report, L"counting failure stops for recovery");
    }
    if (LSTATUS status = RegisterLedEventSource(programPath); status != ERROR_SUCCESS)
        return FailedWith(report, L"registering the event source", static_cast<DWORD>(status));
    // Start returns once the service runs its entry, so a machine without the firmware's LED
    // control still installs: the service then logs why it stopped, and recovery retries.
    if (!StartServiceW(service.get(), 0, nullptr) &&
        GetLastError() != ERROR_SERVICE_ALREADY_RUNNING)
        return Failed(report, L"starting the service");
    Report(report, L"Glintwatch setup: the service runs %ls.", programPath);
    return ERROR_SUCCESS;
}

DWORD RemoveLedService(SetupReporter report) {
    ScHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager) return Failed(report, L"opening the service manager");
    if (DWORD error = DeleteLedService(manager.get(), report)) return error;
    const LSTATUS status = UnregisterLedEventSource();
    if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND)
        return FailedWith(report, L"removing the event source", static_cast<DWORD>(status));
    return ERROR_SUCCESS;
}
