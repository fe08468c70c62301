// The program's entry with its options, and the console commands: install, remove, debug.
#include <cstdio>
#include <cwchar>

#include "console_text.h"
#include "glintwatch.h"

namespace {

constexpr DWORD kStopPollMs = 1000;

bool EqualsIgnoringAsciiCase(const char* text, const char* word) {
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    for (; *text != '\0' && *word != '\0'; ++text, ++word)
        if (lower(*text) != lower(*word)) return false;
    return *text == *word;
}

void PrintUsage() {
    std::printf("%s -install          to install the service\n", kServiceNameNarrow);
    std::printf("%s -remove           to remove the service\n", kServiceNameNarrow);
    std::printf("%s -debug <params>   to run as a console app for debugging\n", kServiceNameNarrow);
    std::printf("\nStartServiceCtrlDispatcher being called.\n");
    std::printf("This may take several seconds.  Please wait.\n");
    // Shown before the dispatcher takes the thread, which can be for the life of the service.
    std::fflush(stdout);
}

}  // namespace

int GlintwatchMain(int argc, char** argv) {
    if (argc >= 2 && (argv[1][0] == '-' || argv[1][0] == '/')) {
        const char* option = argv[1] + 1;
        if (EqualsIgnoringAsciiCase(option, "install")) {
            CmdCreateService();
            return 0;
        }
        if (EqualsIgnoringAsciiCase(option, "remove")) {
            CmdDeleteService();
            return 0;
        }
        if (EqualsIgnoringAsciiCase(option, "debug")) {
            serviceGlobals.consoleMode = true;
            CmdDebugService();
            return 0;
        }
    }
    PrintUsage();
    wchar_t serviceName[] = L"Glintwatch";
    const SERVICE_TABLE_ENTRYW dispatchTable[] = {{serviceName, LedServiceMain},
                                                  {nullptr, nullptr}};
    if (!StartServiceCtrlDispatcherW(dispatchTable))
        LogServiceError(L"StartServiceCtrlDispatcher failed.");
    return 0;
}

void CmdCreateService() {
    wchar_t modulePath[kProgramPathCapacity];
    const DWORD length = GetModuleFileNameW(nullptr, modulePath, kProgramPathCapacity);
    // A path that filled the buffer may be cut short: installing it would register
    // another program.
    if (length == kProgramPathCapacity) SetLastError(ERROR_INSUFFICIENT_BUFFER);
    if (length == 0 || length == kProgramPathCapacity) {
        PrintConsole(L"Unable to install %ls - %ls\n", kDisplayName, FormatLastError());
        return;
    }
    ScHandle manager(
        OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT | SC_MANAGER_CREATE_SERVICE));
    if (!manager) {
        PrintConsole(L"OpenSCManager failed - %ls\n", FormatLastError());
        return;
    }
    ScHandle service(
        CreateLedService(manager.get(), modulePath, SERVICE_DEMAND_START, SERVICE_QUERY_STATUS));
    if (!service) {
        PrintConsole(L"CreateService failed - %ls\n", FormatLastError());
        return;
    }
    PrintConsole(L"%ls installed.\n", kDisplayName);
}

void CmdDeleteService() {
    ScHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager) {
        PrintConsole(L"OpenSCManager failed - %ls\n", FormatLastError());
        return;
    }
    ScHandle service(
        OpenServiceW(manager.get(), kServiceName, DELETE | SERVICE_STOP | SERVICE_QUERY_STATUS));
    if (!service) {
        PrintConsole(L"OpenService failed - %ls\n", FormatLastError());
        return;
    }
    SERVICE_STATUS& status = serviceGlobals.status;
    if (ControlService(service.get(), SERVICE_CONTROL_STOP, &status)) {
        PrintConsole(L"Stopping %ls.", kDisplayName);
        Sleep(kStopPollMs);
        while (QueryServiceStatus(service.get(), &status) &&
               status.dwCurrentState == SERVICE_STOP_PENDING) {
            PrintConsole(L".");
            Sleep(kStopPollMs);
        }
        if (status.dwCurrentState == SERVICE_STOPPED) {
            PrintConsole(L"\n%ls stopped.\n", kDisplayName);
        } else {
            PrintConsole(L"\n%ls failed to stop.\n", kDisplayName);
        }
    }
    if (DeleteService(service.get())) {
        PrintConsole(L"%ls removed.\n", kDisplayName);
    } else {
        PrintConsole(L"DeleteService failed - %ls\n", FormatLastError());
    }
}

void CmdDebugService() {
    int argc = 0;
    ArgumentBlock arguments(CommandLineToArgvW(GetCommandLineW(), &argc));
    if (!arguments) {
        PrintConsole(L"CmdDebugService CommandLineToArgvW returned NULL\n");
        return;
    }
    PrintConsole(L"Debugging %ls.\n", kDisplayName);
    SetConsoleCtrlHandler(ConsoleStopHandler, TRUE);
    RunLedWorker();
}

BOOL WINAPI ConsoleStopHandler(DWORD ctrlType) {
    if (ctrlType != CTRL_C_EVENT && ctrlType != CTRL_BREAK_EVENT) return FALSE;
    PrintConsole(L"Stopping %ls.\n", kDisplayName);
    serviceGlobals.stopEvent.Set();
    return TRUE;
}
