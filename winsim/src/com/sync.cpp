// Critical sections over a recursive mutex, which re-enters from its owning thread as
// a critical section does.
#include <mutex>
#include <new>

#include "com_internal.h"

namespace {

static_assert(sizeof(std::recursive_mutex) <= sizeof(CRITICAL_SECTION::opaque));
static_assert(alignof(std::recursive_mutex) <= alignof(CRITICAL_SECTION));

std::recursive_mutex& MutexOf(LPCRITICAL_SECTION section) {
    return *std::launder(reinterpret_cast<std::recursive_mutex*>(section->opaque));
}

}  // namespace

// None of these can fail; each is counted so that tests see the call.
extern "C" void InitializeCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
    winsim::CountCall("InitializeCriticalSection");
    new (lpCriticalSection->opaque) std::recursive_mutex();
}

extern "C" void EnterCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
    winsim::CountCall("EnterCriticalSection");
    MutexOf(lpCriticalSection).lock();
}

extern "C" void LeaveCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
    winsim::CountCall("LeaveCriticalSection");
    MutexOf(lpCriticalSection).unlock();
}

extern "C" void DeleteCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
    winsim::CountCall("DeleteCriticalSection");
    MutexOf(lpCriticalSection).~recursive_mutex();
}
