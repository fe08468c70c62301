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

// Issues the lowest free handle value (a multiple of 4 from 4 up) in `table`.
template <typename Table>
uintptr_t LowestFreeHandle(const Table& table) {
    uintptr_t value = 4;
    for (const auto& entry : table) {
        if (entry.first != value) break;
        value += 4;
    }
    return value;
}

// Local memory as LocalAlloc hands it out; freed with LocalFree.
void* AllocateLocal(std::size_t bytes);

}  // namespace winsim::detail
