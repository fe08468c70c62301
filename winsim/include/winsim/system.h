#pragma once
// Test-side control of the simulated system the service program runs on: the clock, the
// kernel objects, message texts, the process's path and command line, the console, the
// network, the event log and the Service Control Manager. Only tests include this header.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <winsim/eventlog.h>
#include <winsim/kernel.h>
#include <winsim/registry.h>
#include <winsim/service.h>

namespace winsim {

// Puts all of the simulated system back to its start: automatic clock at 0, the default
// module path and command line, a connected network, no console handlers, an empty event
// log, an administrator, an empty service database and no service launch. Live handles and
// blocks are left alone: a test compares them with what was live before it ran.
void ResetSystem();

// ---- Clock ---------------------------------------------------------------------------------
// Timed waits (WaitForSingleObject with a time-out, Sleep) run on a virtual clock in
// milliseconds. Automatic: a timed wait that nothing ends jumps the clock to its deadline at
// once. Manual: it blocks until the test advances the clock past its deadline (or the
// object is signalled), so a test can step a polling loop pass by pass.
enum class ClockMode { Automatic, Manual };
void SetClockMode(ClockMode mode);
uint64_t ClockNow();
void AdvanceClock(uint32_t milliseconds);
// Timed waits and sleeps begun since the reset (a wait on a set object does not count).
unsigned TimedWaitsBegun();
// Blocks (in real time, up to a few seconds) until `count` timed waits have begun and the
// last of them is still blocked; false on a real time-out.
bool AwaitTimedWaits(unsigned count);

// ---- Kernel objects ------------------------------------------------------------------------
// Calls that named a handle which is not open: closed, never issued, or of the wrong kind.
// Handle values are reused like the system reuses them, so a stale handle may also name a
// newer object; tests of handle lifetimes check this stays 0.
unsigned StaleHandleUses();
// Blocks of local memory (FormatMessageW's texts, CommandLineToArgvW's arrays) not freed.
long LiveLocalBlocks();
// Threads with an initialised COM apartment.
long LiveApartments();

// ---- Message texts ------------------------------------------------------------------------
// Replaces the system's text for `code` (FORMAT_MESSAGE_FROM_SYSTEM) until the reset.
void SetSystemMessage(DWORD code, std::wstring text);

// ---- Process ---------------------------------------------------------------------------------
void SetModulePath(std::wstring path);
void SetCommandLine(std::wstring commandLine);
// What InternetGetConnectedState returns from now on (TRUE, FALSE or another non-zero value).
void SetInternetConnected(BOOL result);
// Raises a console control event on a new thread, as the system does, runs the registered
// handlers (the last registered first) until one handles it, and returns whether one did.
BOOL DeliverConsoleControl(DWORD ctrlType);

// ---- Event log -----------------------------------------------------------------------------
struct LoggedEvent {
    std::wstring source;
    WORD type;
    WORD category;
    DWORD eventId;
    std::vector<std::wstring> strings;
    bool operator==(const LoggedEvent&) const = default;
};
std::vector<LoggedEvent> LoggedEvents();

// ---- Service database ----------------------------------------------------------------------
// Without administrator rights the SCM refuses handles that could change services
// (ERROR_ACCESS_DENIED), as it does for an ordinary user.
void SetAdministrator(bool administrator);

struct InstalledService {
    std::wstring name;
    std::wstring displayName;
    DWORD serviceType = 0;
    DWORD startType = 0;
    DWORD errorControl = 0;
    std::wstring binaryPath;
    std::vector<std::wstring> dependencies;
    std::optional<std::wstring> account;  // none: LocalSystem
    DWORD currentState = SERVICE_STOPPED;
    std::optional<std::wstring> description;
    // Recovery: the reset period in seconds and the actions, once set.
    std::optional<DWORD> failureResetPeriod;
    std::vector<SC_ACTION> failureActions;
    bool failureActionsOnNonCrashFailures = false;
    // Deleted, but kept until no handle names it and it has stopped.
    bool markedForDelete = false;
};
std::optional<InstalledService> FindService(const std::wstring& name);
void AddService(InstalledService service);
// The next stop request leaves the service in SERVICE_STOP_PENDING for `pendingQueries`
// status queries; after them it shows `finalState`.
void ScriptStop(const std::wstring& name, unsigned pendingQueries,
                DWORD finalState = SERVICE_STOPPED);

// ---- Registry -------------------------------------------------------------------------------
// Keys are paths below HKEY_LOCAL_MACHINE ("SYSTEM\\CurrentControlSet\\..."), in any case.
struct RegistryValue {
    DWORD type = 0;
    std::vector<BYTE> data;
};
std::optional<RegistryValue> FindRegistryValue(const std::wstring& key, const std::wstring& name);
bool RegistryKeyExists(const std::wstring& key);
// The text of a REG_SZ or REG_EXPAND_SZ value, without its terminator.
std::wstring RegistryString(const RegistryValue& value);

// ---- The service run by this process ---------------------------------------------------------
// Starts "the process" as the SCM would: the next StartServiceCtrlDispatcherW connects,
// runs the first entry of its table on a thread of its own and dispatches controls until
// that thread ends. Without it the dispatcher fails with 1063, as outside the SCM.
void LaunchAsService();
// Hands `control` to the registered handler on the dispatcher's thread and waits until the
// handler returned; false when no dispatcher is running. Controls are delivered whatever
// the service accepts, so a test can probe every moment of the service's life.
bool SendControl(DWORD control);
// Every SetServiceStatus that succeeded, in order.
std::vector<SERVICE_STATUS> StatusReports();
// Blocks (real time, a few seconds) until a report of `state` has been made.
bool AwaitStatus(DWORD state);

}  // namespace winsim
