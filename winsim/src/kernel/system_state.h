#pragma once
// The simulated system's state, shared by the kernel, SCM, event log and process parts of
// the stand-in. One lock guards all of it; `changed` wakes every thread that waits for a
// change (blocked waits, the dispatcher, tests awaiting a report).
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <winsim/bench.h>
#include <winsim/system.h>

namespace winsim::detail {

inline constexpr const wchar_t* kDefaultModulePath =
    L"C:\\Program Files\\Glintwatch\\glintwatch.exe";
// Real time a test waits for the threads it drives before it gives up.
inline constexpr auto kRealTimeLimit = std::chrono::seconds(10);

inline constexpr const wchar_t* kDefaultCommandLine =
    L"\"C:\\Program Files\\Glintwatch\\glintwatch.exe\"";

struct Event {
    bool manualReset = false;
    bool signalled = false;
};
struct EventSource {
    std::wstring name;
};

// What an open kernel handle names.
struct KernelObject {
    std::shared_ptr<Event> event;
    std::shared_ptr<EventSource> source;
};

struct ServiceRecord {
    InstalledService config;
    unsigned stopPendingQueries = 0;
    std::optional<DWORD> scriptedFinalState;  // set by ScriptStop for the next stop
};

struct ScObject {
    bool isManager = false;
    std::wstring serviceName;  // services only
    DWORD access = 0;
};

struct SystemState {
    std::mutex mutex;
    std::condition_variable changed;

    // Clock
    ClockMode clockMode = ClockMode::Automatic;
    uint64_t now = 0;
    unsigned timedWaitsBegun = 0;
    unsigned timedWaitsBlocked = 0;

    // Kernel handles: the lowest free value is issued next, as the system does.
    std::map<uintptr_t, KernelObject> handles;
    unsigned staleHandleUses = 0;
    std::set<void*> localBlocks;
    std::map<DWORD, std::wstring> messageOverrides;

    // Process
    std::wstring modulePath = kDefaultModulePath;
    std::wstring commandLine = kDefaultCommandLine;
    BOOL internetConnected = TRUE;
    std::vector<PHANDLER_ROUTINE> consoleHandlers;

    // Event log
    std::vector<LoggedEvent> events;

    // Service database
    bool administrator = true;
    std::map<std::wstring, ServiceRecord> services;
    std::map<uintptr_t, ScObject> scHandles;

    // Registry: values by key path and value name, both folded to lower case.
    std::map<std::wstring, std::map<std::wstring, RegistryValue>> registry;
    std::map<uintptr_t, std::wstring> registryHandles;

    // The service run by this process
    bool launchPending = false;
    bool dispatcherRunning = false;
    bool serviceThreadEnded = false;
    LPHANDLER_FUNCTION handler = nullptr;
    std::vector<DWORD> pendingControls;
    unsigned controlsQueued = 0;
    unsigned controlsHandled = 0;
    std::vector<SERVICE_STATUS> statusReports;
};

SystemState& State();

// For a call that reports failure through the thread's last error: true, with the armed code
// as the last error, when a test armed this call of `site` to fail.
inline bool FailsAsArmed(const char* site) {
    uint32_t code = 0;
    if (!TakeFault(site, &code)) return false;
    SetLastError(code);
    return true;
}

// The object of one kind (`KernelObject::event` or `::source`) that `handle` names; null,
// counted as a stale use and with ERROR_INVALID_HANDLE as the thread's last error, when it
// names none of that kind.
template <typename T>
std::shared_ptr<T> FindKernelObject(SystemState& s, HANDLE handle,
                                    std::shared_ptr<T> KernelObject::*kind) {
    auto it = s.handles.find(reinterpret_cast<uintptr_t>(handle));
    if (it != s.handles.end() && it->second.*kind) return it->second.*kind;
    ++s.staleHandleUses;
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
}

// Closes `handle` if it names an object of `kind`.
template <typename T>
BOOL CloseKernelObject(HANDLE handle, std::shared_ptr<T> KernelObject::*kind) {
    auto& s = State();
    std::lock_guard lock(s.mutex);
    if (!FindKernelObject(s, handle, kind)) return FALSE;
    s.handles.erase(reinterpret_cast<uintptr_t>(handle));
    CountLive(Resource::Handle, -1);
    return TRUE;
}

// Files `object` in `table` (kernel or service handles) under the lowest free value, a
// multiple of 4 from 4 up as the system issues them, and returns that value as a handle
// of type Handle, counted live. The caller holds the lock.
template <typename Handle, typename Table>
Handle IssueHandle(Table& table, typename Table::mapped_type object) {
    uintptr_t value = 4;
    for (const auto& entry : table) {
        if (entry.first != value) break;
        value += 4;
    }
    table[value] = std::move(object);
    CountLive(Resource::Handle, +1);
    return reinterpret_cast<Handle>(value);
}

// Local memory as LocalAlloc hands it out; freed with LocalFree.
void* AllocateLocal(std::size_t bytes);

}  // namespace winsim::detail
