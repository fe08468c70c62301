#pragma once
// Common ground of the service program's tests: a fresh simulated system for each test, a
// check that every handle and block came back, and helpers to run the program.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include <glintlamp.h>
#include <winsim/bench.h>
#include <winsim/firmware.h>
#include <winsim/system.h>

#include "glintwatch.h"

inline constexpr DWORD kSentinelError = 0xDEADBEEF;

class GlintwatchTest : public ::testing::Test {
  protected:
    void SetUp() override {
        Zelv_LedExit();
        winsim::ResetBench();
        winsim::ResetSystem();
        winsim::ResetFirmware();
        serviceGlobals.statusHandle = nullptr;
        serviceGlobals.status = {};
        serviceGlobals.checkpointCounter = 1;
        serviceGlobals.lastError = 0;
        serviceGlobals.consoleMode = false;
        liveBefore_ = winsim::LiveNow();
        blocksBefore_ = winsim::LiveLocalBlocks();
        SetLastError(kSentinelError);
    }
    void TearDown() override {
        // The library keeps its device until the process ends; release it before counting.
        Zelv_LedExit();
        EXPECT_EQ(winsim::LiveNow(), liveBefore_);
        EXPECT_EQ(winsim::LiveLocalBlocks(), blocksBefore_);
        EXPECT_EQ(winsim::LiveApartments(), 0);
        EXPECT_EQ(winsim::StaleHandleUses(), 0u);
    }

  private:
    winsim::LiveCounts liveBefore_{};
    long blocksBefore_ = 0;
};

// Runs `body` with standard output captured and returns the bytes it wrote.
template <typename Body>
std::string CaptureOutput(Body body) {
    std::fflush(stdout);
    ::testing::internal::CaptureStdout();
    body();
    std::fflush(stdout);
    return ::testing::internal::GetCapturedStdout();
}

// The program's entry with the given arguments (the program name first).
inline int RunMain(std::vector<std::string> arguments) {
    std::vector<char*> argv;
    for (auto& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    return GlintwatchMain(static_cast<int>(arguments.size()), argv.data());
}

// The program started by the SCM: `main` runs on a thread of its own, as the process's main
// thread, and hands it to the control dispatcher.
class ServiceProcess {
  public:
    ServiceProcess() {
        winsim::LaunchAsService();
        main_ = std::thread([this] { exitCode_ = RunMain({"glintwatch"}); });
    }
    ServiceProcess(const ServiceProcess&) = delete;
    ServiceProcess& operator=(const ServiceProcess&) = delete;
    ~ServiceProcess() { Join(); }
    int Join() {
        if (main_.joinable()) main_.join();
        return exitCode_;
    }

  private:
    std::thread main_;
    int exitCode_ = -1;
};

inline SERVICE_STATUS Status(DWORD state, DWORD accepted, DWORD checkPoint, DWORD waitHint,
                             DWORD exitCode = 0, DWORD specificExitCode = 0) {
    return SERVICE_STATUS{
        .dwServiceType = SERVICE_WIN32_OWN_PROCESS,
        .dwCurrentState = state,
        .dwControlsAccepted = accepted,
        .dwWin32ExitCode = exitCode,
        .dwServiceSpecificExitCode = specificExitCode,
        .dwCheckPoint = checkPoint,
        .dwWaitHint = waitHint,
    };
}

inline bool operator==(const SERVICE_STATUS& a, const SERVICE_STATUS& b) {
    return a.dwServiceType == b.dwServiceType && a.dwCurrentState == b.dwCurrentState &&
           a.dwControlsAccepted == b.dwControlsAccepted && a.dwWin32ExitCode == b.dwWin32ExitCode &&
           a.dwServiceSpecificExitCode == b.dwServiceSpecificExitCode &&
           a.dwCheckPoint == b.dwCheckPoint && a.dwWaitHint == b.dwWaitHint;
}

inline void PrintTo(const SERVICE_STATUS& s, std::ostream* os) {
    *os << "{state " << s.dwCurrentState << ", accepts " << s.dwControlsAccepted << ", exit "
        << s.dwWin32ExitCode << ", specific exit 0x" << std::hex << s.dwServiceSpecificExitCode
        << std::dec << ", check point " << s.dwCheckPoint << ", wait hint " << s.dwWaitHint << "}";
}

inline const std::vector<SERVICE_STATUS> kStartReports = {
    Status(SERVICE_START_PENDING, 0, 1, 3000), Status(SERVICE_START_PENDING, 0, 2, 3000),
    Status(SERVICE_START_PENDING, 0, 3, 3000), Status(SERVICE_START_PENDING, 0, 4, 3000)};

inline std::vector<SERVICE_STATUS> Concat(std::vector<SERVICE_STATUS> head,
                                          const std::vector<SERVICE_STATUS>& tail) {
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

// The one error event the program writes, with the last error in its first string.
inline winsim::LoggedEvent ErrorEvent(DWORD lastError, const std::wstring& message) {
    return {L"Glintwatch",
            EVENTLOG_ERROR_TYPE,
            0,
            0,
            {L"Glintwatch error: " + std::to_wstring(static_cast<int>(lastError)), message}};
}

// A firmware without the LED control class: the detect fails with 0xA0000000.
inline devicesim::DeviceConfig NoFirmwareClass() {
    devicesim::DeviceConfig config;
    config.deviceClassPresent = false;
    return config;
}

inline const std::string kUsage =
    "Glintwatch -install          to install the service\n"
    "Glintwatch -remove           to remove the service\n"
    "Glintwatch -debug <params>   to run as a console app for debugging\n"
    "\nStartServiceCtrlDispatcher being called.\n"
    "This may take several seconds.  Please wait.\n";
