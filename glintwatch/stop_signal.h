#pragma once
#include <critical_section.h>

#include "owners.h"

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
        CriticalSection::Lock guard(lock_);
        event_ = std::move(event);
        return true;
    }
    // Sets the event if it exists.
    void Set() {
        CriticalSection::Lock guard(lock_);
        if (event_) SetEvent(event_.get());
    }
    void Close() {
        CriticalSection::Lock guard(lock_);
        event_.reset();
    }
    // For the worker's wait: only the worker, which alone closes the event, may use it.
    HANDLE handle() const { return event_.get(); }

  private:
    CriticalSection lock_;
    EventHandle event_;
};
