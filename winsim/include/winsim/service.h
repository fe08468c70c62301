#pragma once
// The Service Control Manager: the control dispatcher, status reports and the service
// database.
#include <winsim/base.h>

struct SC_HANDLE__;
typedef SC_HANDLE__* SC_HANDLE;
struct SERVICE_STATUS_HANDLE__;
typedef SERVICE_STATUS_HANDLE__* SERVICE_STATUS_HANDLE;

struct SERVICE_STATUS {
    DWORD dwServiceType;
    DWORD dwCurrentState;
    DWORD dwControlsAccepted;
    DWORD dwWin32ExitCode;
    DWORD dwServiceSpecificExitCode;
    DWORD dwCheckPoint;
    DWORD dwWaitHint;
};
typedef SERVICE_STATUS* LPSERVICE_STATUS;

typedef void(WINAPI* LPSERVICE_MAIN_FUNCTIONW)(DWORD argc, LPWSTR* argv);
typedef void(WINAPI* LPHANDLER_FUNCTION)(DWORD control);

struct SERVICE_TABLE_ENTRYW {
    LPWSTR lpServiceName;
    LPSERVICE_MAIN_FUNCTIONW lpServiceProc;
};

constexpr DWORD SERVICE_WIN32_OWN_PROCESS = 0x00000010;
constexpr DWORD SERVICE_AUTO_START = 0x00000002;
constexpr DWORD SERVICE_DEMAND_START = 0x00000003;
constexpr DWORD SERVICE_ERROR_NORMAL = 0x00000001;

constexpr DWORD SERVICE_STOPPED = 1;
constexpr DWORD SERVICE_START_PENDING = 2;
constexpr DWORD SERVICE_STOP_PENDING = 3;
constexpr DWORD SERVICE_RUNNING = 4;

constexpr DWORD SERVICE_ACCEPT_STOP = 0x00000001;
constexpr DWORD SERVICE_CONTROL_STOP = 0x00000001;
constexpr DWORD SERVICE_CONTROL_INTERROGATE = 0x00000004;

constexpr DWORD DELETE = 0x00010000;
constexpr DWORD SC_MANAGER_CONNECT = 0x0001;
constexpr DWORD SC_MANAGER_CREATE_SERVICE = 0x0002;
constexpr DWORD SC_MANAGER_ENUMERATE_SERVICE = 0x0004;
constexpr DWORD SERVICE_QUERY_STATUS = 0x0004;
constexpr DWORD SERVICE_STOP = 0x0020;
constexpr DWORD SERVICE_CHANGE_CONFIG = 0x0002;
constexpr DWORD SERVICE_START = 0x0010;

constexpr DWORD ERROR_SERVICE_ALREADY_RUNNING = 1056;
constexpr DWORD ERROR_INVALID_LEVEL = 124;

// Optional configuration: a description, and what the SCM does when the service fails.
constexpr DWORD SERVICE_CONFIG_DESCRIPTION = 1;
constexpr DWORD SERVICE_CONFIG_FAILURE_ACTIONS = 2;
constexpr DWORD SERVICE_CONFIG_FAILURE_ACTIONS_FLAG = 4;

struct SERVICE_DESCRIPTIONW {
    LPWSTR lpDescription;
};
enum SC_ACTION_TYPE { SC_ACTION_NONE = 0, SC_ACTION_RESTART = 1, SC_ACTION_REBOOT = 2 };
struct SC_ACTION {
    SC_ACTION_TYPE Type;
    DWORD Delay;  // milliseconds
};
struct SERVICE_FAILURE_ACTIONSW {
    DWORD dwResetPeriod;  // seconds
    LPWSTR lpRebootMsg;
    LPWSTR lpCommand;
    DWORD cActions;
    SC_ACTION* lpsaActions;
};
struct SERVICE_FAILURE_ACTIONS_FLAG {
    BOOL fFailureActionsOnNonCrashFailures;
};

BOOL WINAPI StartServiceCtrlDispatcherW(const SERVICE_TABLE_ENTRYW* serviceTable);
SERVICE_STATUS_HANDLE WINAPI RegisterServiceCtrlHandlerW(LPCWSTR serviceName,
                                                         LPHANDLER_FUNCTION handler);
BOOL WINAPI SetServiceStatus(SERVICE_STATUS_HANDLE statusHandle, LPSERVICE_STATUS status);

SC_HANDLE WINAPI OpenSCManagerW(LPCWSTR machineName, LPCWSTR databaseName, DWORD desiredAccess);
SC_HANDLE WINAPI CreateServiceW(SC_HANDLE manager, LPCWSTR serviceName, LPCWSTR displayName,
                                DWORD desiredAccess, DWORD serviceType, DWORD startType,
                                DWORD errorControl, LPCWSTR binaryPathName, LPCWSTR loadOrderGroup,
                                LPDWORD tagId, LPCWSTR dependencies, LPCWSTR serviceStartName,
                                LPCWSTR password);
SC_HANDLE WINAPI OpenServiceW(SC_HANDLE manager, LPCWSTR serviceName, DWORD desiredAccess);
BOOL WINAPI ControlService(SC_HANDLE service, DWORD control, LPSERVICE_STATUS status);
BOOL WINAPI QueryServiceStatus(SC_HANDLE service, LPSERVICE_STATUS status);
BOOL WINAPI DeleteService(SC_HANDLE service);
BOOL WINAPI StartServiceW(SC_HANDLE service, DWORD argc, LPCWSTR* argv);
BOOL WINAPI ChangeServiceConfig2W(SC_HANDLE service, DWORD infoLevel, LPVOID info);
BOOL WINAPI CloseServiceHandle(SC_HANDLE object);
