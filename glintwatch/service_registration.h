#pragma once
// How the service is registered with the system: its names, its entry in the service
// database, its description, recovery and event source. The install command and the
// installer both register through here, so the two cannot drift apart.
#include <platform.h>

inline constexpr const wchar_t* kServiceName = L"Glintwatch";
inline constexpr const char* kServiceNameNarrow = "Glintwatch";
inline constexpr const wchar_t* kDisplayName = L"Zelv LED Control Service";
inline constexpr const wchar_t* kServiceDescription =
    L"Switches the laptop's status LED on while Windows reports a connection to the internet, "
    L"and off while it does not.";
// The Application log's source: its message file is the program itself.
inline constexpr const wchar_t* kEventSourceKey =
    L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Glintwatch";
inline constexpr DWORD kEventTypesSupported = 7;  // error, warning, information

// The longest program path the service is registered with, terminator included.
inline constexpr DWORD kProgramPathCapacity = 512;

// Creates the service entry for the program at `programPath`: own process, normal error
// control, LocalSystem, depending on "winmgmt", the path in quotes so that a path with
// spaces cannot start another program. Null with the thread's last error on failure,
// ERROR_INSUFFICIENT_BUFFER for a path of kProgramPathCapacity characters or more.
SC_HANDLE CreateLedService(SC_HANDLE manager, const wchar_t* programPath, DWORD startType,
                           DWORD desiredAccess);

// The description the Services console shows. The handle needs SERVICE_CHANGE_CONFIG.
BOOL DescribeLedService(SC_HANDLE service);
// Recovery: restart after one minute, again after five, then nothing; the count starts over
// after a day without failure. A stop with a non-zero exit code counts as a failure too.
BOOL SetLedServiceRecovery(SC_HANDLE service);

// The event source, with the program at `programPath` as its message file.
LSTATUS RegisterLedEventSource(const wchar_t* programPath);
LSTATUS UnregisterLedEventSource();
