// What only the installer registers beside the service entry: its description, recovery
// and event source. A file of its own, so that the program, which registers the service
// alone, does not import these calls.
#include <cwchar>

#include "owners.h"
#include "service_registration.h"

namespace {

constexpr DWORD kFirstRestartDelayMs = 60 * 1000;
constexpr DWORD kSecondRestartDelayMs = 5 * 60 * 1000;
constexpr DWORD kFailureCountResetSeconds = 24 * 60 * 60;

template <typename Value>
LSTATUS SetValue(HKEY key, const wchar_t* name, DWORD type, const Value* data, DWORD bytes) {
    return RegSetValueExW(key, name, 0, type, reinterpret_cast<const BYTE*>(data), bytes);
}

}  // namespace

BOOL DescribeLedService(SC_HANDLE service) {
    SERVICE_DESCRIPTIONW description{const_cast<LPWSTR>(kServiceDescription)};
    return ChangeServiceConfig2W(service, SERVICE_CONFIG_DESCRIPTION, &description);
}

BOOL SetLedServiceRecovery(SC_HANDLE service) {
    SC_ACTION actions[] = {{SC_ACTION_RESTART, kFirstRestartDelayMs},
                           {SC_ACTION_RESTART, kSecondRestartDelayMs},
                           {SC_ACTION_NONE, 0}};
    SERVICE_FAILURE_ACTIONSW failureActions{kFailureCountResetSeconds, nullptr, nullptr,
                                            sizeof actions / sizeof actions[0], actions};
    if (!ChangeServiceConfig2W(service, SERVICE_CONFIG_FAILURE_ACTIONS, &failureActions))
        return FALSE;
    SERVICE_FAILURE_ACTIONS_FLAG onNonCrashFailures{TRUE};
    return ChangeServiceConfig2W(service, SERVICE_CONFIG_FAILURE_ACTIONS_FLAG, &onNonCrashFailures);
}

LSTATUS RegisterLedEventSource(const wchar_t* programPath) {
    RegistryKey key;
    LSTATUS status =
        RegCreateKeyExW(HKEY_LOCAL_MACHINE, kEventSourceKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_SET_VALUE, nullptr, key.put(), nullptr);
    if (status != ERROR_SUCCESS) return status;
    const auto pathBytes = static_cast<DWORD>((std::wcslen(programPath) + 1) * sizeof(wchar_t));
    status = SetValue(key.get(), L"EventMessageFile", REG_EXPAND_SZ, programPath, pathBytes);
    if (status != ERROR_SUCCESS) return status;
    return SetValue(key.get(), L"TypesSupported", REG_DWORD, &kEventTypesSupported,
                    sizeof kEventTypesSupported);
}

LSTATUS UnregisterLedEventSource() { return RegDeleteKeyW(HKEY_LOCAL_MACHINE, kEventSourceKey); }
