// The Service Control Manager: the control dispatcher of the service this process runs,
// status reports, and the service database with its handles.
#include <thread>

#include <winsim/bench.h>

#include "system_state.h"

using winsim::detail::FailsAsArmed;
using winsim::detail::IssueHandle;
using winsim::detail::ScObject;
using winsim::detail::State;
using winsim::detail::SystemState;

namespace {

// The one status handle this process's service receives.
SERVICE_STATUS_HANDLE const kStatusHandle = reinterpret_cast<SERVICE_STATUS_HANDLE>(0x5C0);

// Access rights an ordinary user is granted: connecting, listing, querying, interrogating.
constexpr DWORD kUserManagerAccess = SC_MANAGER_CONNECT | SC_MANAGER_ENUMERATE_SERVICE;
constexpr DWORD kUserServiceAccess = SERVICE_QUERY_STATUS | 0x0001 /* QUERY_CONFIG */ |
                                     0x0080 /* INTERROGATE */ | 0x0008 /* ENUMERATE_DEPENDENTS */;

// The manager or service `handle` names; null, counted as a stale use and with
// ERROR_INVALID_HANDLE as the thread's last error, when it names none of that kind.
ScObject* FindScObject(SystemState& s, SC_HANDLE handle, bool manager) {
    auto it = s.scHandles.find(reinterpret_cast<uintptr_t>(handle));
    if (it == s.scHandles.end() || it->second.isManager != manager) {
        ++s.staleHandleUses;
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return &it->second;
}

// The record a service handle names, or null (with the thread's error) when the service
// is gone or the handle lacks `access`.
winsim::detail::ServiceRecord* ServiceFor(SystemState& s, SC_HANDLE handle, DWORD access) {
    ScObject* object = FindScObject(s, handle, false);
    if (object == nullptr) return nullptr;
    if ((object->access & access) != access) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    auto it = s.services.find(object->serviceName);
    if (it == s.services.end()) {
        SetLastError(ERROR_SERVICE_MARKED_FOR_DELETE);
        return nullptr;
    }
    return &it->second;
}

// Removes a service marked for deletion once no handle names it and it has stopped.
void EraseIfDeleted(SystemState& s, const std::wstring& name) {
    auto record = s.services.find(name);
    if (record == s.services.end() || !record->second.config.markedForDelete ||
        record->second.config.currentState != SERVICE_STOPPED)
        return;
    for (const auto& [value, object] : s.scHandles)
        if (!object.isManager && object.serviceName == name) return;
    s.services.erase(record);
}

SERVICE_STATUS StatusOf(const winsim::detail::ServiceRecord& record) {
    SERVICE_STATUS status{};
    status.dwServiceType = record.config.serviceType;
    status.dwCurrentState = record.config.currentState;
    status.dwControlsAccepted =
        record.config.currentState == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP : 0;
    return status;
}

void RunService(SERVICE_TABLE_ENTRYW entry) {
    LPWSTR argv[] = {entry.lpServiceName, nullptr};
    entry.lpServiceProc(1, argv);
    auto& s = State();
    std::lock_guard lock(s.mutex);
    s.serviceThreadEnded = true;
    s.changed.notify_all();
}

}  // namespace

BOOL WINAPI StartServiceCtrlDispatcherW(const SERVICE_TABLE_ENTRYW* serviceTable) {
    if (FailsAsArmed("StartServiceCtrlDispatcherW")) return FALSE;
    auto& s = State();
    std::unique_lock lock(s.mutex);
    if (!s.launchPending) {
        SetLastError(ERROR_FAILED_SERVICE_CONTROLLER_CONNECT);
        return FALSE;
    }
    if (serviceTable == nullptr || serviceTable[0].lpServiceProc == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    s.launchPending = false;
    s.dispatcherRunning = true;
    s.serviceThreadEnded = false;
    std::thread service(RunService, serviceTable[0]);
    // Controls run here, on the dispatcher's thread, until the service's thread has ended.
    while (true) {
        s.changed.wait(lock, [&] { return !s.pendingControls.empty() || s.serviceThreadEnded; });
        if (s.pendingControls.empty()) break;
        DWORD control = s.pendingControls.front();
        s.pendingControls.erase(s.pendingControls.begin());
        LPHANDLER_FUNCTION handler = s.handler;
        lock.unlock();
        if (handler) handler(control);
        lock.lock();
        ++s.controlsHandled;
        s.changed.notify_all();
    }
    s.dispatcherRunning = false;
    lock.unlock();
    service.join();
    return TRUE;
}

SERVICE_STATUS_HANDLE WINAPI RegisterServiceCtrlHandlerW(LPCWSTR serviceName,
                                                         LPHANDLER_FUNCTION handler) {
    if (FailsAsArmed("RegisterServiceCtrlHandlerW")) return nullptr;
    if (serviceName == nullptr || handler == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    auto& s = State();
    std::lock_guard lock(s.mutex);
    s.handler = handler;
    return kStatusHandle;
}

BOOL WINAPI SetServiceStatus(SERVICE_STATUS_HANDLE statusHandle, LPSERVICE_STATUS status) {
    if (FailsAsArmed("SetServiceStatus")) return FALSE;
    if (statusHandle != kStatusHandle) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (status == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    auto& s = State();
    std::lock_guard lock(s.mutex);
    s.statusReports.push_back(*status);
    s.changed.notify_all();
    return TRUE;
}

SC_HANDLE WINAPI OpenSCManagerW(LPCWSTR machineName, LPCWSTR, DWORD desiredAccess) {
    if (FailsAsArmed("OpenSCManagerW")) return nullptr;
    if (machineName != nullptr) {  // only the local machine is simulated
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    auto& s = State();
    std::lock_guard lock(s.mutex);
    if (!s.administrator && (desiredAccess & ~kUserManagerAccess) != 0) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    return IssueHandle<SC_HANDLE>(s.scHandles, ScObject{true, {}, desiredAccess});
}

SC_HANDLE WINAPI CreateServiceW(SC_HANDLE manager, LPCWSTR serviceName, LPCWSTR displayName,
                                DWORD desiredAccess, DWORD serviceType, DWORD startType,
                                DWORD errorControl, LPCWSTR binaryPathName, LPCWSTR, LPDWORD tagId,
                                LPCWSTR dependencies, LPCWSTR serviceStartName, LPCWSTR) {
    if (FailsAsArmed("CreateServiceW")) return nullptr;
    auto& s = State();
    std::lock_guard lock(s.mutex);
    ScObject* object = FindScObject(s, manager, true);
    if (object == nullptr) return nullptr;
    if ((object->access & SC_MANAGER_CREATE_SERVICE) == 0) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    if (serviceName == nullptr || *serviceName == L'\0' || binaryPathName == nullptr ||
        tagId != nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (auto existing = s.services.find(serviceName); existing != s.services.end()) {
        SetLastError(existing->second.config.markedForDelete ? ERROR_SERVICE_MARKED_FOR_DELETE
                                                             : ERROR_SERVICE_EXISTS);
        return nullptr;
    }
    winsim::InstalledService service;
    service.name = serviceName;
    service.displayName = displayName ? displayName : serviceName;
    for (const auto& [name, record] : s.services) {
        if (record.config.displayName == service.displayName) {
            SetLastError(ERROR_DUPLICATE_SERVICE_NAME);
            return nullptr;
        }
    }
    service.serviceType = serviceType;
    service.startType = startType;
    service.errorControl = errorControl;
    service.binaryPath = binaryPathName;
    // A list of names, each ended by a terminator, the list by one more.
    for (LPCWSTR name = dependencies; name && *name; name += std::wcslen(name) + 1)
        service.dependencies.emplace_back(name);
    if (serviceStartName) service.account = serviceStartName;
    s.services[service.name].config = service;
    return IssueHandle<SC_HANDLE>(s.scHandles, ScObject{false, service.name, desiredAccess});
}

SC_HANDLE WINAPI OpenServiceW(SC_HANDLE manager, LPCWSTR serviceName, DWORD desiredAccess) {
    if (FailsAsArmed("OpenServiceW")) return nullptr;
    auto& s = State();
    std::lock_guard lock(s.mutex);
    if (FindScObject(s, manager, true) == nullptr) return nullptr;
    if (serviceName == nullptr || s.services.count(serviceName) == 0) {
        SetLastError(ERROR_SERVICE_DOES_NOT_EXIST);
        return nullptr;
    }
    if (!s.administrator && (desiredAccess & ~kUserServiceAccess) != 0) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    return IssueHandle<SC_HANDLE>(s.scHandles, ScObject{false, serviceName, desiredAccess});
}

BOOL WINAPI ControlService(SC_HANDLE service, DWORD control, LPSERVICE_STATUS status) {
    if (FailsAsArmed("ControlService")) return FALSE;
    auto& s = State();
    std::lock_guard lock(s.mutex);
    if (control != SERVICE_CONTROL_STOP) {  // the product sends nothing else
        SetLastError(ERROR_INVALID_SERVICE_CONTROL);
        return FALSE;
    }
    auto* record = ServiceFor(s, service, SERVICE_STOP);
    if (record == nullptr) return FALSE;
    if (record->config.currentState == SERVICE_STOPPED) {
        SetLastError(ERROR_SERVICE_NOT_ACTIVE);
        return FALSE;
    }
    if (record->scriptedFinalState) {
        record->config.currentState =
            record->stopPendingQueries > 0 ? SERVICE_STOP_PENDING : *record->scriptedFinalState;
    } else {
        record->config.currentState = SERVICE_STOPPED;
    }
    if (status) *status = StatusOf(*record);
    return TRUE;
}

BOOL WINAPI QueryServiceStatus(SC_HANDLE service, LPSERVICE_STATUS status) {
    if (FailsAsArmed("QueryServiceStatus")) return FALSE;
    auto& s = State();
    std::lock_guard lock(s.mutex);
    auto* record = ServiceFor(s, service, SERVICE_QUERY_STATUS);
    if (record == nullptr) return FALSE;
    if (status == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *status = StatusOf(*record);
    // A scripted stop stays pending for its count of queries, then shows its final state.
    if (record->config.currentState == SERVICE_STOP_PENDING && record->scriptedFinalState &&
        record->stopPendingQueries > 0 && --record->stopPendingQueries == 0) {
        record->config.currentState = *record->scriptedFinalState;
        record->scriptedFinalState.reset();
    }
    return TRUE;
}

BOOL WINAPI DeleteService(SC_HANDLE service) {
    if (FailsAsArmed("DeleteService")) return FALSE;
    auto& s = State();
    std::lock_guard lock(s.mutex);
    ScObject* object = FindScObject(s, service, false);
    if (object == nullptr) return FALSE;
    auto* record = ServiceFor(s, service, DELETE);
    if (record == nullptr) return FALSE;
    if (record->config.markedForDelete) {
        SetLastError(ERROR_SERVICE_MARKED_FOR_DELETE);
        return FALSE;
    }
    // The entry goes once the last handle to it is closed (this one included) and the service
    // has stopped.
    record->config.markedForDelete = true;
    return TRUE;
}

BOOL WINAPI StartServiceW(SC_HANDLE service, DWORD, LPCWSTR*) {
    if (FailsAsArmed("StartServiceW")) return FALSE;
    auto& s = State();
    std::lock_guard lock(s.mutex);
    auto* record = ServiceFor(s, service, SERVICE_START);
    if (record == nullptr) return FALSE;
    if (record->config.currentState != SERVICE_STOPPED) {
        SetLastError(ERROR_SERVICE_ALREADY_RUNNING);
        return FALSE;
    }
    // No process is simulated behind an installed service: it runs at once.
    record->config.currentState = SERVICE_RUNNING;
    return TRUE;
}

BOOL WINAPI ChangeServiceConfig2W(SC_HANDLE service, DWORD infoLevel, LPVOID info) {
    if (FailsAsArmed("ChangeServiceConfig2W")) return FALSE;
    auto& s = State();
    std::lock_guard lock(s.mutex);
    auto* record = ServiceFor(s, service, SERVICE_CHANGE_CONFIG);
    if (record == nullptr) return FALSE;
    if (info == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    winsim::InstalledService& config = record->config;
    switch (infoLevel) {
        case SERVICE_CONFIG_DESCRIPTION: {
            LPCWSTR text = static_cast<SERVICE_DESCRIPTIONW*>(info)->lpDescription;
            // A null description leaves it unchanged; an empty one removes it.
            if (text != nullptr) config.description = std::wstring(text);
            return TRUE;
        }
        case SERVICE_CONFIG_FAILURE_ACTIONS: {
            const auto& actions = *static_cast<SERVICE_FAILURE_ACTIONSW*>(info);
            // A null action array leaves the actions and the reset period unchanged.
            if (actions.lpsaActions == nullptr) return TRUE;
            config.failureResetPeriod = actions.dwResetPeriod;
            config.failureActions.assign(actions.lpsaActions,
                                         actions.lpsaActions + actions.cActions);
            return TRUE;
        }
        case SERVICE_CONFIG_FAILURE_ACTIONS_FLAG:
            config.failureActionsOnNonCrashFailures =
                static_cast<SERVICE_FAILURE_ACTIONS_FLAG*>(info)
                    ->fFailureActionsOnNonCrashFailures != FALSE;
            return TRUE;
        default:
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
    }
}

BOOL WINAPI CloseServiceHandle(SC_HANDLE object) {
    if (FailsAsArmed("CloseServiceHandle")) return FALSE;
    auto& s = State();
    std::lock_guard lock(s.mutex);
    auto it = s.scHandles.find(reinterpret_cast<uintptr_t>(object));
    if (it == s.scHandles.end()) {
        ++s.staleHandleUses;
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    const std::wstring serviceName = it->second.serviceName;
    s.scHandles.erase(it);
    winsim::CountLive(winsim::Resource::Handle, -1);
    EraseIfDeleted(s, serviceName);
    return TRUE;
}

namespace winsim {

void SetAdministrator(bool administrator) {
    auto& s = detail::State();
    std::lock_guard lock(s.mutex);
    s.administrator = administrator;
}

std::optional<InstalledService> FindService(const std::wstring& name) {
    auto& s = detail::State();
    std::lock_guard lock(s.mutex);
    auto it = s.services.find(name);
    if (it == s.services.end()) return std::nullopt;
    return it->second.config;
}

void AddService(InstalledService service) {
    auto& s = detail::State();
    std::lock_guard lock(s.mutex);
    auto& record = s.services[service.name];
    record = detail::ServiceRecord{};
    record.config = std::move(service);
}

void ScriptStop(const std::wstring& name, unsigned pendingQueries, DWORD finalState) {
    auto& s = detail::State();
    std::lock_guard lock(s.mutex);
    auto& record = s.services.at(name);
    record.stopPendingQueries = pendingQueries;
    record.scriptedFinalState = finalState;
}

void LaunchAsService() {
    auto& s = detail::State();
    std::lock_guard lock(s.mutex);
    s.launchPending = true;
}

bool SendControl(DWORD control) {
    auto& s = detail::State();
    std::unique_lock lock(s.mutex);
    if (!s.dispatcherRunning) return false;
    s.pendingControls.push_back(control);
    const unsigned ticket = ++s.controlsQueued;
    s.changed.notify_all();
    s.changed.wait(lock, [&] { return s.controlsHandled >= ticket; });
    return true;
}

std::vector<SERVICE_STATUS> StatusReports() {
    auto& s = detail::State();
    std::lock_guard lock(s.mutex);
    return s.statusReports;
}

bool AwaitStatus(DWORD state) {
    auto& s = detail::State();
    std::unique_lock lock(s.mutex);
    return s.changed.wait_for(lock, detail::kRealTimeLimit, [&] {
        for (const auto& report : s.statusReports)
            if (report.dwCurrentState == state) return true;
        return false;
    });
}

}  // namespace winsim
