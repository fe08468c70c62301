// The thread's last error, events, waits and sleep on the virtual clock.
#include <thread>

#include <winsim/bench.h>

#include "system_state.h"

using winsim::detail::State;

namespace {

thread_local DWORD lastError = ERROR_SUCCESS;

// The event named by `handle`, or null (counted as a stale use) when it names none.
std::shared_ptr<winsim::detail::Event> FindEvent(winsim::detail::SystemState& s, HANDLE handle) {
    auto it = s.handles.find(reinterpret_cast<uintptr_t>(handle));
    if (it != s.handles.end() && it->second.event) return it->second.event;
    ++s.staleHandleUses;
    return nullptr;
}

// Blocks on the clock until `done` holds or the deadline passes; the caller holds the lock.
// Returns whether `done` ended the wait.
template <typename Done>
bool TimedWait(std::unique_lock<std::mutex>& lock, uint64_t deadline, Done done) {
    auto& s = State();
    ++s.timedWaitsBegun;
    if (s.clockMode == winsim::ClockMode::Automatic) {
        if (s.now < deadline) s.now = deadline;
        s.changed.notify_all();
        return false;
    }
    ++s.timedWaitsBlocked;
    s.changed.notify_all();
    s.changed.wait(lock, [&] { return done() || s.now >= deadline; });
    --s.timedWaitsBlocked;
    return done();
}

}  // namespace

// The thread's own variable, which cannot fail: these two are no fault sites, and the
// stand-in's calls of SetLastError stay out of the call counts.
DWORD WINAPI GetLastError() { return lastError; }

void WINAPI SetLastError(DWORD code) { lastError = code; }

HANDLE WINAPI CreateEventW(LPSECURITY_ATTRIBUTES, BOOL manualReset, BOOL initialState,
                           LPCWSTR name) {
    uint32_t code = 0;
    if (winsim::TakeFault("CreateEventW", &code)) {
        SetLastError(code);
        return nullptr;
    }
    if (name != nullptr) {  // named events are not simulated; the product uses none
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    auto& s = State();
    std::lock_guard lock(s.mutex);
    uintptr_t value = winsim::detail::LowestFreeHandle(s.handles);
    auto event = std::make_shared<winsim::detail::Event>();
    event->manualReset = manualReset != FALSE;
    event->signalled = initialState != FALSE;
    s.handles[value].event = event;
    winsim::CountLive(winsim::Resource::Handle, +1);
    SetLastError(ERROR_SUCCESS);
    return reinterpret_cast<HANDLE>(value);
}

BOOL WINAPI CloseHandle(HANDLE object) {
    uint32_t code = 0;
    if (winsim::TakeFault("CloseHandle", &code)) {
        SetLastError(code);
        return FALSE;
    }
    auto& s = State();
    std::lock_guard lock(s.mutex);
    if (!FindEvent(s, object)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    s.handles.erase(reinterpret_cast<uintptr_t>(object));
    winsim::CountLive(winsim::Resource::Handle, -1);
    return TRUE;
}

BOOL WINAPI SetEvent(HANDLE event) {
    uint32_t code = 0;
    if (winsim::TakeFault("SetEvent", &code)) {
        SetLastError(code);
        return FALSE;
    }
    auto& s = State();
    std::lock_guard lock(s.mutex);
    auto found = FindEvent(s, event);
    if (!found) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    found->signalled = true;
    s.changed.notify_all();
    return TRUE;
}

BOOL WINAPI ResetEvent(HANDLE event) {
    uint32_t code = 0;
    if (winsim::TakeFault("ResetEvent", &code)) {
        SetLastError(code);
        return FALSE;
    }
    auto& s = State();
    std::lock_guard lock(s.mutex);
    auto found = FindEvent(s, event);
    if (!found) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    found->signalled = false;
    return TRUE;
}

DWORD WINAPI WaitForSingleObject(HANDLE object, DWORD milliseconds) {
    uint32_t code = 0;
    if (winsim::TakeFault("WaitForSingleObject", &code)) {
        SetLastError(code);
        return WAIT_FAILED;
    }
    auto& s = State();
    std::unique_lock lock(s.mutex);
    // Held by the wait, so a handle closed meanwhile cannot free the object under it.
    auto event = FindEvent(s, object);
    if (!event) {
        SetLastError(ERROR_INVALID_HANDLE);
        return WAIT_FAILED;
    }
    auto isSet = [&] { return event->signalled; };
    bool set = isSet();
    if (!set && milliseconds == INFINITE) {
        s.changed.wait(lock, isSet);
        set = true;
    } else if (!set && milliseconds != 0) {
        set = TimedWait(lock, s.now + milliseconds, isSet);
    }
    if (!set) return WAIT_TIMEOUT;
    if (!event->manualReset) event->signalled = false;
    return WAIT_OBJECT_0;
}

void WINAPI Sleep(DWORD milliseconds) {
    uint32_t ignored = 0;
    winsim::TakeFault("Sleep", &ignored);
    if (milliseconds == 0) {
        std::this_thread::yield();
        return;
    }
    auto& s = State();
    std::unique_lock lock(s.mutex);
    TimedWait(lock, s.now + milliseconds, [] { return false; });
}

namespace winsim {

void SetClockMode(ClockMode mode) {
    auto& s = State();
    std::lock_guard lock(s.mutex);
    s.clockMode = mode;
}

uint64_t ClockNow() {
    auto& s = State();
    std::lock_guard lock(s.mutex);
    return s.now;
}

void AdvanceClock(uint32_t milliseconds) {
    auto& s = State();
    std::lock_guard lock(s.mutex);
    s.now += milliseconds;
    s.changed.notify_all();
}

unsigned TimedWaitsBegun() {
    auto& s = State();
    std::lock_guard lock(s.mutex);
    return s.timedWaitsBegun;
}

bool AwaitTimedWaits(unsigned count) {
    auto& s = State();
    std::unique_lock lock(s.mutex);
    return s.changed.wait_for(lock, winsim::detail::kRealTimeLimit, [&] {
        return s.timedWaitsBegun >= count &&
               (s.clockMode == ClockMode::Automatic || s.timedWaitsBlocked > 0);
    });
}

unsigned StaleHandleUses() {
    auto& s = State();
    std::lock_guard lock(s.mutex);
    return s.staleHandleUses;
}

}  // namespace winsim
