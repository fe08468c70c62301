#pragma once
// Locking for the state the service's threads share.
#include <mutex>

#include "owners.h"

// A critical section, lockable with std::lock_guard.
class CriticalSection {
  public:
    CriticalSection() { InitializeCriticalSection(&section_); }
    ~CriticalSection() { DeleteCriticalSection(&section_); }
    CriticalSection(const CriticalSection&) = delete;
    CriticalSection& operator=(const CriticalSection&) = delete;
    void lock() { EnterCriticalSection(&section_); }
    void unlock() { LeaveCriticalSection(&section_); }

  private:
    CRITICAL_SECTION section_;
};

// The event that asks the worker to stop. The worker creates and closes it; the control
// handler and the console handler set it from other threads, at any moment until the
// process ends. Setting and closing hold the same lock, so a stop request either sets the
// live event or finds none: it can never reach a closed handle, or one the system has
// since given to another object.
class StopSignal {
  public:
    // A new manual-reset event, not set. False when the system gives none.
    bool Create() {
        EventHandle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        if (!event) return false;
        std::lock_guard guard(lock_);
        event_ = std::move(event);
        return true;
    }
    // Sets the event if it exists.
    void Set() {
        std::lock_guard guard(lock_);
        if (event_) SetEvent(event_.get());
    }
    void Close() {
        std::lock_guard guard(lock_);
        event_.reset();
    }
    // For the worker's wait: only the worker, which alone closes the event, may use it.
    HANDLE handle() const { return event_.get(); }

  private:
    CriticalSection lock_;
    EventHandle event_;
};
