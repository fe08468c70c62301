// Drives and watches a service from inside the Wine prefix, timing state changes with the
// system's own clock (a Linux-side timer would add Wine's process start-up to every figure).
//   svcctl start <name>            start, wait for the end of START_PENDING
//   svcctl stop <name>             stop, wait for the end of STOP_PENDING
//   svcctl query <name>            the current state
//   svcctl stats <name>            what the system reports of the service's process
//   svcctl soak <name> <n> <ms>    n cycles of start, <ms> running, stats, stop
// Every report is one line of key=value pairs; "error=<n>" reports a failed call.
#include <windows.h>
#include <psapi.h>
#include <winternl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>
#include <algorithm>

#include "unique_resource.h"

namespace {

void CloseKernelHandle(HANDLE handle) { CloseHandle(handle); }
using UniqueHandle = UniqueResource<HANDLE, CloseKernelHandle>;
void CloseServiceManagerHandle(SC_HANDLE handle) { CloseServiceHandle(handle); }
using UniqueServiceHandle = UniqueResource<SC_HANDLE, CloseServiceManagerHandle>;

constexpr DWORD kPollMs = 10;
constexpr DWORD kStateTimeoutMs = 30000;

const char* StateName(DWORD state) {
    switch (state) {
        case SERVICE_STOPPED:
            return "STOPPED";
        case SERVICE_START_PENDING:
            return "START_PENDING";
        case SERVICE_STOP_PENDING:
            return "STOP_PENDING";
        case SERVICE_RUNNING:
            return "RUNNING";
        default:
            return "OTHER";
    }
}

double NowMs() {
    LARGE_INTEGER frequency, counter;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&counter);
    return 1000.0 * static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

int Fail(const char* what) {
    std::printf("%s error=%lu\n", what, GetLastError());
    return 1;
}

bool Query(SC_HANDLE service, SERVICE_STATUS_PROCESS& status) {
    DWORD needed = 0;
    return QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status),
                                sizeof status, &needed);
}

// Polls until the service leaves `pending`; prints the state reached and the time it took.
bool WaitWhile(SC_HANDLE service, DWORD pending, double startedMs, SERVICE_STATUS_PROCESS& status) {
    do {
        if (!Query(service, status)) return Fail("QueryServiceStatusEx") == 0;
        if (status.dwCurrentState != pending) break;
        Sleep(kPollMs);
    } while (NowMs() - startedMs < kStateTimeoutMs);
    std::printf("state=%s ms=%.0f exit=%lu specific=0x%08lx pid=%lu\n",
                StateName(status.dwCurrentState), NowMs() - startedMs, status.dwWin32ExitCode,
                status.dwServiceSpecificExitCode, status.dwProcessId);
    return status.dwCurrentState != pending;
}

bool Start(SC_HANDLE service) {
    double started = NowMs();
    if (!StartServiceW(service, 0, nullptr)) return Fail("StartService") == 0;
    SERVICE_STATUS_PROCESS status{};
    return WaitWhile(service, SERVICE_START_PENDING, started, status) &&
           status.dwCurrentState == SERVICE_RUNNING;
}

bool Stop(SC_HANDLE service) {
    double started = NowMs();
    SERVICE_STATUS plain{};
    if (!ControlService(service, SERVICE_CONTROL_STOP, &plain)) return Fail("ControlService") == 0;
    SERVICE_STATUS_PROCESS status{};
    return WaitWhile(service, SERVICE_STOP_PENDING, started, status) &&
           status.dwCurrentState == SERVICE_STOPPED;
}

ULONGLONG Milliseconds(const FILETIME& time) {
    return ((static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime) / 10000;
}

// The system-wide handle list (information class 16), as the kernel documents its layout.
struct SystemHandleEntry {
    ULONG ownerPid;
    BYTE objectType;
    BYTE flags;
    USHORT handleValue;
    PVOID object;
    ULONG grantedAccess;
};
struct SystemHandleList {
    ULONG count;
    SystemHandleEntry entries[1];
};
constexpr SYSTEM_INFORMATION_CLASS kSystemHandleInformation =
    static_cast<SYSTEM_INFORMATION_CLASS>(16);
constexpr NTSTATUS kInfoLengthMismatch = static_cast<NTSTATUS>(0xC0000004);

// Wine does not count another process's handles in GetProcessHandleCount (it answers 0), but
// its system-wide handle list is complete, so both systems give a true count this way.
bool CountHandles(DWORD pid, DWORD& handles) {
    std::vector<BYTE> buffer(64 * 1024);
    NTSTATUS status;
    ULONG needed = 0;
    while ((status = NtQuerySystemInformation(kSystemHandleInformation, buffer.data(),
                                              static_cast<ULONG>(buffer.size()), &needed)) ==
           kInfoLengthMismatch)
        buffer.resize(std::max<size_t>(buffer.size() * 2, needed));
    if (status < 0) {
        SetLastError(RtlNtStatusToDosError(status));
        return false;
    }
    const auto* list = reinterpret_cast<const SystemHandleList*>(buffer.data());
    handles = 0;
    for (ULONG i = 0; i < list->count; ++i)
        if (list->entries[i].ownerPid == pid) ++handles;
    return true;
}

bool Stats(SC_HANDLE service) {
    SERVICE_STATUS_PROCESS status{};
    if (!Query(service, status)) return Fail("QueryServiceStatusEx") == 0;
    UniqueHandle process(
        OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, status.dwProcessId));
    if (!process) return Fail("OpenProcess") == 0;
    DWORD handles = 0;
    PROCESS_MEMORY_COUNTERS memory{};
    FILETIME created, exited, kernel, user;
    if (!CountHandles(status.dwProcessId, handles)) return Fail("NtQuerySystemInformation") == 0;
    if (!GetProcessMemoryInfo(process.get(), &memory, sizeof memory))
        return Fail("GetProcessMemoryInfo") == 0;
    if (!GetProcessTimes(process.get(), &created, &exited, &kernel, &user))
        return Fail("GetProcessTimes") == 0;
    std::printf("pid=%lu handles=%lu working_set=%lu peak_working_set=%lu cpu_ms=%llu\n",
                status.dwProcessId, handles, static_cast<unsigned long>(memory.WorkingSetSize),
                static_cast<unsigned long>(memory.PeakWorkingSetSize),
                Milliseconds(kernel) + Milliseconds(user));
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: svcctl start|stop|query|stats|soak <name> [cycles ms]\n");
        return 2;
    }
    const char* command = argv[1];
    wchar_t name[256];
    MultiByteToWideChar(CP_ACP, 0, argv[2], -1, name, 256);
    UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager) return Fail("OpenSCManager");
    UniqueServiceHandle service(
        OpenServiceW(manager.get(), name, SERVICE_START | SERVICE_STOP | SERVICE_QUERY_STATUS));
    if (!service) return Fail("OpenService");

    bool ok = false;
    if (std::strcmp(command, "start") == 0) {
        ok = Start(service.get());
    } else if (std::strcmp(command, "stop") == 0) {
        ok = Stop(service.get());
    } else if (std::strcmp(command, "query") == 0) {
        SERVICE_STATUS_PROCESS status{};
        ok = Query(service.get(), status);
        if (ok)
            std::printf("state=%s exit=%lu specific=0x%08lx pid=%lu\n",
                        StateName(status.dwCurrentState), status.dwWin32ExitCode,
                        status.dwServiceSpecificExitCode, status.dwProcessId);
        else
            Fail("QueryServiceStatusEx");
    } else if (std::strcmp(command, "stats") == 0) {
        ok = Stats(service.get());
    } else if (std::strcmp(command, "soak") == 0 && argc == 5) {
        int cycles = std::atoi(argv[3]);
        DWORD runningMs = static_cast<DWORD>(std::atoi(argv[4]));
        ok = true;
        for (int cycle = 1; ok && cycle <= cycles; ++cycle) {
            std::printf("cycle=%d\n", cycle);
            ok = Start(service.get());
            Sleep(runningMs);
            ok = ok && Stats(service.get()) && Stop(service.get());
            std::fflush(stdout);
        }
    } else {
        std::fprintf(stderr, "svcctl: unknown command %s\n", command);
        return 2;
    }
    std::fflush(stdout);
    return ok ? 0 : 1;
}
