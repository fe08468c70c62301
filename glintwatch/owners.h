#pragma once
// Owners for what the service program borrows from the system: each gives its resource
// back when it goes out of scope.
#include <platform.h>
#include <unique_resource.h>

inline void CloseKernelHandle(HANDLE handle) { CloseHandle(handle); }
inline void CloseScHandle(SC_HANDLE handle) { CloseServiceHandle(handle); }
inline void CloseEventSource(HANDLE source) { DeregisterEventSource(source); }
inline void FreeArgumentBlock(LPWSTR* argv) { LocalFree(argv); }
inline void FreeLocalText(LPWSTR text) { LocalFree(text); }
inline void CloseRegistryKey(HKEY key) { RegCloseKey(key); }

using EventHandle = UniqueResource<HANDLE, CloseKernelHandle>;
using ScHandle = UniqueResource<SC_HANDLE, CloseScHandle>;
using EventSource = UniqueResource<HANDLE, CloseEventSource>;
using RegistryKey = UniqueResource<HKEY, CloseRegistryKey>;
// The argument array of CommandLineToArgvW: one block of local memory.
using ArgumentBlock = UniqueResource<LPWSTR*, FreeArgumentBlock>;
// A text FormatMessageW allocated.
using LocalText = UniqueResource<LPWSTR, FreeLocalText>;

// The calling thread's COM apartment, from Enter to the end of the scope. Both S_OK and
// S_FALSE (already initialised) count once and are undone on scope exit.
class ComApartment {
  public:
    ComApartment() = default;
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;
    ~ComApartment() {
        if (result_ == S_OK || result_ == S_FALSE) CoUninitialize();
    }
    HRESULT Enter(DWORD model) {
        result_ = CoInitializeEx(nullptr, model);
        return result_;
    }

  private:
    HRESULT result_ = E_UNEXPECTED;  // not entered
};
