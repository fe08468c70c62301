// The event log: sources are kernel handles; every reported event is recorded.
#include <winsim/bench.h>

#include "system_state.h"

using winsim::detail::State;

namespace {

std::shared_ptr<winsim::detail::EventSource> FindSource(winsim::detail::SystemState& s,
                                                        HANDLE handle) {
    auto it = s.handles.find(reinterpret_cast<uintptr_t>(handle));
    if (it != s.handles.end() && it->second.source) return it->second.source;
    ++s.staleHandleUses;
    return nullptr;
}

}  // namespace

HANDLE WINAPI RegisterEventSourceW(LPCWSTR serverName, LPCWSTR sourceName) {
    uint32_t code = 0;
    if (winsim::TakeFault("RegisterEventSourceW", &code)) {
        SetLastError(code);
        return nullptr;
    }
    if (serverName != nullptr || sourceName == nullptr) {  // only the local log is simulated
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    auto& s = State();
    std::lock_guard lock(s.mutex);
    uintptr_t value = winsim::detail::LowestFreeHandle(s.handles);
    s.handles[value].source =
        std::make_shared<winsim::detail::EventSource>(winsim::detail::EventSource{sourceName});
    winsim::CountLive(winsim::Resource::Handle, +1);
    return reinterpret_cast<HANDLE>(value);
}

BOOL WINAPI ReportEventW(HANDLE eventLog, WORD type, WORD category, DWORD eventId, PSID,
                         WORD stringCount, DWORD, LPCWSTR* strings, LPVOID) {
    uint32_t code = 0;
    if (winsim::TakeFault("ReportEventW", &code)) {
        SetLastError(code);
        return FALSE;
    }
    auto& s = State();
    std::lock_guard lock(s.mutex);
    auto source = FindSource(s, eventLog);
    if (!source) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    winsim::LoggedEvent event{source->name, type, category, eventId, {}};
    for (WORD n = 0; n < stringCount; ++n) event.strings.emplace_back(strings[n]);
    s.events.push_back(std::move(event));
    return TRUE;
}

BOOL WINAPI DeregisterEventSource(HANDLE eventLog) {
    uint32_t code = 0;
    if (winsim::TakeFault("DeregisterEventSource", &code)) {
        SetLastError(code);
        return FALSE;
    }
    auto& s = State();
    std::lock_guard lock(s.mutex);
    if (!FindSource(s, eventLog)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    s.handles.erase(reinterpret_cast<uintptr_t>(eventLog));
    winsim::CountLive(winsim::Resource::Handle, -1);
    return TRUE;
}

namespace winsim {

std::vector<LoggedEvent> LoggedEvents() {
    auto& s = detail::State();
    std::lock_guard lock(s.mutex);
    return s.events;
}

}  // namespace winsim
