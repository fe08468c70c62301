// The thread's last error, events, waits and sleep on the virtual clock.
#include <thread>

#include <winsim/bench.h>

#include "system_state.h"

using winsim::detail::FailsAsArmed;
using winsim::detail::FindKernelObject;
using winsim::detail::KernelObject;
using winsim::detail::State;

namespace {

thread_local DWORD lastError = ERROR_SUCCESS;

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

// SetEvent and ResetEvent: puts the event named by `handle` into the `signalled` state.
BOOL SignalEvent(const char* site, HANDLE handle, bool signalled) {
    if (FailsAsArmed(site)) return FALSE;
    auto& s = State();
    std::lock_guard lock(s.mutex);
    auto event = FindKernelObject(s, handle, &KernelObject::event);
    if (!event) return FALSE;
    event->signalled = signalled;
    if (signalled) s.changed.notify_all();
    return TRUE;
}

}  // namespace

// The thread's own variable, which cannot fail: these two are no fault sites, and the
// stand-in's calls of SetLastError stay out of the call counts.
DWORD WINAPI GetLastError() { return lastError; }

void WINAPI SetLastError(DWORD code) { lastError = code; }

HANDLE WINAPI CreateEventW(LPSECURITY_ATTRIBUTES, BOOL manualReset, BOOL initialState,
                           LPCWSTR name) {
    if (FailsAsArmed("CreateEventW")) return nullptr;
    if (name != nullptr) {  // named events are not simulated; the product uses none
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    auto& s = State();
    std::lock_guard lock(s.mutex);
    auto event = std::make_shared<winsim::detail::Event>(
        winsim::detail::Event{manualReset != FALSE, initialState != FALSE});
    HANDLE handle = winsim::detail::IssueHandle<HANDLE>(s.handles, KernelObject{event, nullptr});
    SetLastError(ERROR_SUCCESS);
    return handle;
}

BOOL WINAPI CloseHandle(HANDLE object) {
    if (FailsAsArmed("CloseHandle")) return FALSE;
    return winsim::detail::CloseKernelObject(object, &KernelObject::event);
}

BOOL WINAPI SetEvent(HANDLE event) { return SignalEvent("SetEvent", event, true); }

BOOL WINAPI ResetEvent(HANDLE event) { return SignalEvent("ResetEvent", event, false); }

DWORD WINAPI WaitForSingleObject(HANDLE object, DWORD milliseconds) {
    if (FailsAsArmed("WaitForSingleObject")) return WAIT_FAILED;
    auto& s = State();
    std::unique_lock lock(s.mutex);
    // Held by the wait, so a handle closed meanwhile cannot free the object under it.
    auto event = FindKernelObject(s, object, &KernelObject::event);
    if (!event) return WAIT_FAILED;
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
    winsim::CountCall("Sleep");
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
