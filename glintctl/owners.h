#pragma once
// Owners for what the console tool borrows from the system and from the LED library: each
// gives its resource back when it goes out of scope.
#include <glintlamp.h>
#include <platform.h>
#include <system_owners.h>

// The LED library's device connection and buffer, released at the end of the scope. Declared
// after the ComApartment, so the library lets go of its COM objects while COM is still up.
class LedLibraryScope {
  public:
    LedLibraryScope() = default;
    LedLibraryScope(const LedLibraryScope&) = delete;
    LedLibraryScope& operator=(const LedLibraryScope&) = delete;
    ~LedLibraryScope() { Zelv_LedExit(); }
};
