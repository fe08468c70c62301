#pragma once
// Owners that every program of the product needs from the system: a text FormatMessageW
// allocated, and the calling thread's COM apartment.
#include <platform.h>
#include <unique_resource.h>

inline void FreeLocalText(LPWSTR text) { LocalFree(text); }
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
