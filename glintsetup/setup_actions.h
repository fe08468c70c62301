#pragma once
// What the installer does to the system beyond copying files: the service with its
// description, recovery and event source on install, and all of it gone on removal.
#include <platform.h>
#include <service_registration.h>

// The longest install folder the installer passes, terminator included.
inline constexpr DWORD kInstallDirCapacity = kProgramPathCapacity;

// Where an action tells what it did, line by line (the installer's log).
using SetupLog = void (*)(void* context, const wchar_t* line);
struct SetupReporter {
    SetupLog write;
    void* context;
};

// Registers the service for the program in `installDir` (with or without a closing
// backslash), to start automatically, with its description, recovery and event source, and
// starts it. A service of the same name that is already there is removed first.
// ERROR_SUCCESS, or the Win32 error of the step that failed; the installer then rolls back
// with RemoveLedService. Only a system that cannot count failure stops for recovery
// (ERROR_INVALID_LEVEL) is reported and does not fail the install.
DWORD InstallLedService(const wchar_t* installDir, SetupReporter report);

// Stops and deletes the service and deletes its event source. Nothing to remove is
// success.
DWORD RemoveLedService(SetupReporter report);
