#pragma once
// Critical sections, and the notifications a DLL's entry point receives.
#include <winsim/base.h>

// Holds a recursive mutex in place; nothing outside the stand-in looks inside.
struct CRITICAL_SECTION {
    alignas(8) unsigned char opaque[64];
};
typedef CRITICAL_SECTION* LPCRITICAL_SECTION;

extern "C" void InitializeCriticalSection(LPCRITICAL_SECTION lpCriticalSection);
extern "C" void EnterCriticalSection(LPCRITICAL_SECTION lpCriticalSection);
extern "C" void LeaveCriticalSection(LPCRITICAL_SECTION lpCriticalSection);
extern "C" void DeleteCriticalSection(LPCRITICAL_SECTION lpCriticalSection);

// The library's entry point is an ordinary function on the host; tests call it to play the
// loader's part.
typedef struct HINSTANCE__* HINSTANCE;
#define DLL_PROCESS_DETACH 0
#define DLL_PROCESS_ATTACH 1
#define DLL_THREAD_ATTACH 2
#define DLL_THREAD_DETACH 3
