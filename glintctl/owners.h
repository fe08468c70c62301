#pragma once
// Owners for what the console tool borrows from the system and from the LED library: each
// gives its resource back when it goes out of scope.
#include <glintlamp.h>
#include <platform.h>
#include <unique_resource.h>

inline void FreeLocalText(LPWSTR text) { LocalFree(text); }
// A text FormatMessageW allocated.
using LocalText = UniqueResource<LPWSTR, FreeLocalText>;

// The calling thread's COM apartment for the life of the scope. Any success (S_FALSE: the
// thread was already initialised) counts once and is undone on scope exit.
class ComApartment {
  public:
    explicit ComApartment(DWORD model) : result_(CoInitializeEx(nullptr, model)) {}
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;
    ~ComApartment() {
        if (SUCCEEDED(result_)) CoUninitialize();
    }
    HRESULT result() const { return result_; }

  private:
    HRESULT result_;
};

// The LED library's device connection and buffer, released at the end of the scope. Declared
// after the ComApartment, so the library lets go of its COM objects while COM is still up.
class LedLibraryScope {
  public:
    LedLibraryScope() = default;
    LedLibraryScope(const LedLibraryScope&) = delete;
    LedLibraryScope& operator=(const LedLibraryScope&) = delete;
    ~LedLibraryScope() { Zelv_LedExit(); }
};
