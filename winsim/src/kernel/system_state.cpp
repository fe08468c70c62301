#include "system_state.h"

namespace winsim {
namespace detail {

SystemState& State() {
    static SystemState state;
    return state;
}

}  // namespace detail

void ResetSystem() {
    auto& s = detail::State();
    std::lock_guard lock(s.mutex);
    s.clockMode = ClockMode::Automatic;
    s.now = 0;
    s.timedWaitsBegun = 0;
    s.staleHandleUses = 0;
    s.messageOverrides.clear();
    s.modulePath = detail::kDefaultModulePath;
    s.commandLine = detail::kDefaultCommandLine;
    s.internetConnected = TRUE;
    s.consoleHandlers.clear();
    s.events.clear();
    s.administrator = true;
    s.services.clear();
    s.registry.clear();
    s.launchPending = false;
    s.handler = nullptr;
    s.pendingControls.clear();
    s.statusReports.clear();
    s.changed.notify_all();
}

}  // namespace winsim
