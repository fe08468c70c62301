// The event log: sources are kernel handles; every reported event is recorded.
#include <winsim/bench.h>

#include "system_state.h"

using winsim::detail::FailsAsArmed;
using winsim::detail::KernelObject;
using winsim::detail::State;

HANDLE WINAPI RegisterEventSourceW(LPCWSTR serverName, LPCWSTR sourceName) {
    if (FailsAsArmed("RegisterEventSourceW")) return nullptr;
    if (serverName != nullptr || sourceName == nullptr) {  // only the local log is simulated
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    auto& s = State();
    std::lock_guard lock(s.mutex);
    auto source =
        std::make_shared<winsim::detail::EventSource>(winsim::detail::EventSource{sourceName});
    return winsim::detail::IssueHandle<HANDLE>(s.handles, KernelObject{nullptr, source});
}

BOOL WINAPI ReportEventW(HANDLE eventLog, WORD type, WORD category, DWORD eventId, PSID,
                         WORD stringCount, DWORD, LPCWSTR* strings, LPVOID) {
    if (FailsAsArmed("ReportEventW")) return FALSE;
    auto& s = State();
    std::lock_guard lock(s.mutex);
    auto source = winsim::detail::FindKernelObject(s, eventLog, &KernelObject::source);
    if (!source) return FALSE;
    winsim::LoggedEvent event{source->name, type, category, eventId, {}};
    for (WORD n = 0; n < stringCount; ++n) event.strings.emplace_back(strings[n]);
    s.events.push_back(std::move(event));
    return TRUE;
}

BOOL WINAPI DeregisterEventSource(HANDLE eventLog) {
    if (FailsAsArmed("DeregisterEventSource")) return FALSE;
    return winsim::detail::CloseKernelObject(eventLog, &KernelObject::source);
}

namespace winsim {

std::vector<LoggedEvent> LoggedEvents() {
    auto& s = detail::State();
    std::lock_guard lock(s.mutex);
    return s.events;
}

}  // namespace winsim
