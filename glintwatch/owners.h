#pragma once
// Owners for what the service program borrows from the system: each gives its resource
// back when it goes out of scope.
#include <platform.h>
#include <system_owners.h>
#include <unique_resource.h>

inline void CloseKernelHandle(HANDLE handle) { CloseHandle(handle); }
inline void CloseScHandle(SC_HANDLE handle) { CloseServiceHandle(handle); }
inline void CloseEventSource(HANDLE source) { DeregisterEventSource(source); }
inline void FreeArgumentBlock(LPWSTR* argv) { LocalFree(argv); }
inline void CloseRegistryKey(HKEY key) { RegCloseKey(key); }

using EventHandle = UniqueResource<HANDLE, CloseKernelHandle>;
using ScHandle = UniqueResource<SC_HANDLE, CloseScHandle>;
using EventSource = UniqueResource<HANDLE, CloseEventSource>;
using RegistryKey = UniqueResource<HKEY, CloseRegistryKey>;
// The argument array of CommandLineToArgvW: one block of local memory.
using ArgumentBlock = UniqueResource<LPWSTR*, FreeArgumentBlock>;
