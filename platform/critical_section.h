#pragma once
// A critical section that lives as long as its owner, and the scoped lock that holds it.
#include <platform.h>

class CriticalSection {
  public:
    CriticalSection() { InitializeCriticalSection(&section_); }
    CriticalSection(const CriticalSection&) = delete;
    CriticalSection& operator=(const CriticalSection&) = delete;
    ~CriticalSection() { DeleteCriticalSection(&section_); }

    // Holds the section for one scope, however the scope is left.
    class Lock {
      public:
        explicit Lock(CriticalSection& section) : section_(section) {
            EnterCriticalSection(&section_.section_);
        }
        Lock(const Lock&) = delete;
        Lock& operator=(const Lock&) = delete;
        ~Lock() { LeaveCriticalSection(&section_.section_); }

      private:
        CriticalSection& section_;
    };

  private:
    CRITICAL_SECTION section_;
};
