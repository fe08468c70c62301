// Status reports, the control handler, the service entry and the LED worker, run the way
// the SCM runs them.
#include "fixture.h"

namespace {

using devicesim::LedBytes;

constexpr DWORD kStopAccepted = SERVICE_ACCEPT_STOP;

class ServiceTest : public GlintwatchTest {
  protected:
    // Lets the waiting worker time out once and waits until it is back in its wait.
    void StepOnePass() {
        const unsigned waits = winsim::TimedWaitsBegun();
        winsim::AdvanceClock(1000);
        ASSERT_TRUE(winsim::AwaitTimedWaits(waits + 1));
    }
    // Waits until the started service runs and its worker waits for its first pass.
    static void AwaitFirstWait() {
        ASSERT_TRUE(winsim::AwaitStatus(SERVICE_RUNNING));
        ASSERT_TRUE(winsim::AwaitTimedWaits(1));
    }
    static std::string Led() {
        return std::string(devicesim::DescribeLed(winsim::Firmware().led()));
    }
};

TEST_F(ServiceTest, ReportsTheStartRunningAndStopSequence) {
    winsim::SetClockMode(winsim::ClockMode::Manual);
    std::string output;
    output = CaptureOutput([&] {
        ServiceProcess process;
        AwaitFirstWait();
        ASSERT_TRUE(winsim::SendControl(SERVICE_CONTROL_STOP));
        EXPECT_EQ(process.Join(), 0);
    });
    EXPECT_EQ(winsim::StatusReports(),
              Concat(kStartReports, {Status(SERVICE_RUNNING, kStopAccepted, 0, 0),
                                     Status(SERVICE_STOP_PENDING, kStopAccepted, 5, 0),
                                     Status(SERVICE_STOPPED, kStopAccepted, 0, 0)}));
    EXPECT_EQ(output, kUsage);
    EXPECT_TRUE(winsim::LoggedEvents().empty());
}

TEST_F(ServiceTest, AnotherControlResendsTheStateWithoutAdvancingTheCheckPoint) {
    winsim::SetClockMode(winsim::ClockMode::Manual);
    CaptureOutput([&] {
        ServiceProcess process;
        AwaitFirstWait();
        ASSERT_TRUE(winsim::SendControl(SERVICE_CONTROL_INTERROGATE));
        ASSERT_TRUE(winsim::SendControl(SERVICE_CONTROL_STOP));
        process.Join();
    });
    EXPECT_EQ(winsim::StatusReports(),
              Concat(kStartReports, {Status(SERVICE_RUNNING, kStopAccepted, 0, 0),
                                     Status(SERVICE_RUNNING, kStopAccepted, 0, 0),
                                     Status(SERVICE_STOP_PENDING, kStopAccepted, 5, 0),
                                     Status(SERVICE_STOPPED, kStopAccepted, 0, 0)}));
}

TEST_F(ServiceTest, StopBeforeTheEventExistsReportsStopPendingAndSetsNothing) {
    serviceGlobals.statusHandle = RegisterServiceCtrlHandlerW(L"Glintwatch", LedServiceCtrl);
    serviceGlobals.status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    LedServiceCtrl(SERVICE_CONTROL_STOP);
    EXPECT_EQ(winsim::StatusReports(),
              std::vector{Status(SERVICE_STOP_PENDING, kStopAccepted, 1, 0)});
    EXPECT_EQ(winsim::CallCount("SetEvent"), 0u);
    EXPECT_EQ(serviceGlobals.checkpointCounter, 2u);
}

TEST_F(ServiceTest, ConsoleModeSendsNoReportAndCountsEveryReportAsSent) {
    serviceGlobals.consoleMode = true;
    winsim::ArmFaultAlways("SetServiceStatus", ERROR_INVALID_HANDLE);
    for (DWORD state : {SERVICE_START_PENDING, SERVICE_RUNNING, SERVICE_STOPPED})
        EXPECT_TRUE(ReportServiceState(state, 0, 3000));
    EXPECT_EQ(winsim::CallCount("SetServiceStatus"), 0u);
    EXPECT_EQ(serviceGlobals.checkpointCounter, 1u);
    EXPECT_TRUE(winsim::LoggedEvents().empty());
}

TEST_F(ServiceTest, SwitchesTheLedOnEveryPassAsTheConnectionChanges) {
    winsim::SetClockMode(winsim::ClockMode::Manual);
    struct Pass {
        BOOL connected;
        const char* led;
    };
    const Pass passes[] = {
        {TRUE, "on"},   {TRUE, "on"}, {FALSE, "off"},
        {FALSE, "off"}, {2, "off"},  // only exactly TRUE counts as connected
        {TRUE, "on"},
    };
    CaptureOutput([&] {
        ServiceProcess process;
        AwaitFirstWait();
        // No LED command before the first second has passed.
        const unsigned afterDetect = winsim::Firmware().commands();
        EXPECT_EQ(winsim::Firmware().led(), LedBytes{});
        unsigned pass = 0;
        for (const Pass& p : passes) {
            winsim::SetInternetConnected(p.connected);
            StepOnePass();
            ++pass;
            EXPECT_EQ(Led(), p.led) << "pass " << pass;
            EXPECT_EQ(winsim::Firmware().commands(), afterDetect + pass) << "pass " << pass;
        }
        ASSERT_TRUE(winsim::SendControl(SERVICE_CONTROL_STOP));
        process.Join();
    });
    EXPECT_TRUE(winsim::LoggedEvents().empty());
    EXPECT_EQ(winsim::StatusReports().back(), Status(SERVICE_STOPPED, kStopAccepted, 0, 0));
}

TEST_F(ServiceTest, StopEndsTheWaitAtOnceWithoutAnotherLedCall) {
    winsim::SetClockMode(winsim::ClockMode::Manual);
    CaptureOutput([&] {
        ServiceProcess process;
        AwaitFirstWait();
        StepOnePass();
        const unsigned commands = winsim::Firmware().commands();
        const uint64_t now = winsim::ClockNow();
        ASSERT_TRUE(winsim::SendControl(SERVICE_CONTROL_STOP));
        process.Join();
        EXPECT_EQ(winsim::ClockNow(), now);
        EXPECT_EQ(winsim::Firmware().commands(), commands);
    });
}

// Failures on the way: one event each (or none), then the service stops, and never with exit
// code 0: the logged Win32 error is the exit code, and where no call set one the failing
// result goes as the service-specific code.
struct FailureCase {
    const char* name;
    std::function<void()> arrange;
    std::vector<SERVICE_STATUS> reportsBeforeStop;
    std::optional<std::wstring> message;  // none: no event
    DWORD lastError;                      // in the event's first string
    DWORD exitCode;
    DWORD specificExitCode;
};

void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.name; }

class ServiceFailureTest : public ServiceTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(ServiceFailureTest, LogsOneEventAndNeverStopsAsIfClean) {
    const FailureCase& c = GetParam();
    c.arrange();
    CaptureOutput([] { ServiceProcess().Join(); });

    if (c.message) {
        EXPECT_EQ(winsim::LoggedEvents(), std::vector{ErrorEvent(c.lastError, *c.message)});
    } else {
        EXPECT_TRUE(winsim::LoggedEvents().empty());
    }
    EXPECT_EQ(serviceGlobals.lastError, c.lastError);
    EXPECT_EQ(winsim::StatusReports(),
              Concat(c.reportsBeforeStop, {Status(SERVICE_STOPPED, kStopAccepted, 0, 0, c.exitCode,
                                                  c.specificExitCode)}));
}

const auto kRunning = Concat(kStartReports, {Status(SERVICE_RUNNING, kStopAccepted, 0, 0)});
const std::vector<SERVICE_STATUS> kStarted = kStartReports;
std::vector<SERVICE_STATUS> FirstStartReports(std::size_t count) {
    return {kStartReports.begin(), kStartReports.begin() + static_cast<std::ptrdiff_t>(count)};
}

constexpr DWORD kSpecific = ERROR_SERVICE_SPECIFIC_ERROR;
constexpr DWORD kEFail = 0x80004005;  // a failure whose call set no error

INSTANTIATE_TEST_SUITE_P(
    Failures, ServiceFailureTest,
    ::testing::Values(
        FailureCase{"LedOnFails",
                    [] {
                        // The firmware fails every command after the detect.
                        winsim::ArmFault("IWbemServices::ExecMethod", 2, 0x80041001);
                    },
                    kRunning, L"ERROR: unable to set the LED state ON!\n", 0, kSpecific,
                    0x80041001},
        FailureCase{"LedOffFails",
                    [] {
                        winsim::SetInternetConnected(FALSE);
                        winsim::ArmFault("IWbemServices::ExecMethod", 2, 0x80041001);
                    },
                    kRunning, L"ERROR: unable to set the LED state OFF!\n", 0, kSpecific,
                    0x80041001},
        FailureCase{"LedFailsWithAnErrorOnTheThread",
                    [] {
                        // The connectivity test fails and leaves its error on the thread.
                        winsim::ArmFault("InternetGetConnectedState", 1, ERROR_NOT_ENOUGH_MEMORY);
                        winsim::ArmFault("IWbemServices::ExecMethod", 2, 0x80041001);
                    },
                    kRunning, L"ERROR: unable to set the LED state OFF!\n", ERROR_NOT_ENOUGH_MEMORY,
                    ERROR_NOT_ENOUGH_MEMORY, 0},
        FailureCase{"DetectFindsNoFirmwareClass", [] { winsim::ResetFirmware(NoFirmwareClass()); },
                    kStarted, L"ERROR: Zelv_LedDetect returned: 0xA0000000\n", 0, kSpecific,
                    0xA0000000},
        FailureCase{"ComAlreadyInitialised", [] { winsim::ArmFault("CoInitializeEx", 1, S_FALSE); },
                    FirstStartReports(3), L"CoInitializeEx() failed: 0x00000001\n", 0, kSpecific,
                    S_FALSE},
        FailureCase{"ComInAnotherMode", [] { winsim::ArmFault("CoInitializeEx", 1, 0x80010106); },
                    FirstStartReports(3), L"CoInitializeEx() failed: 0x80010106\n", 0, kSpecific,
                    0x80010106},
        FailureCase{"NoStopEvent",
                    [] { winsim::ArmFault("CreateEventW", 1, ERROR_NOT_ENOUGH_MEMORY); },
                    FirstStartReports(2), std::nullopt, 0, kSpecific, ERROR_NOT_ENOUGH_MEMORY},
        FailureCase{"NoStopEventNorError", [] { winsim::ArmFault("CreateEventW", 1, 0); },
                    FirstStartReports(2), std::nullopt, 0, kSpecific, kEFail},
        FailureCase{"EntryReportFails",
                    [] { winsim::ArmFault("SetServiceStatus", 1, ERROR_INVALID_HANDLE); },
                    {},
                    L"SetServiceStatus",
                    ERROR_INVALID_HANDLE,
                    ERROR_INVALID_HANDLE,
                    0},
        FailureCase{"EntryReportFailsWithoutError",
                    [] { winsim::ArmFault("SetServiceStatus", 1, 0); },
                    {},
                    L"SetServiceStatus",
                    0,
                    kSpecific,
                    kEFail},
        FailureCase{"WorkerReportFails",
                    [] { winsim::ArmFault("SetServiceStatus", 2, ERROR_INVALID_HANDLE); },
                    FirstStartReports(1), L"SetServiceStatus", ERROR_INVALID_HANDLE,
                    ERROR_INVALID_HANDLE, 0},
        FailureCase{"RunningReportFails",
                    [] { winsim::ArmFault("SetServiceStatus", 5, ERROR_INVALID_HANDLE); },
                    kStartReports, L"SetServiceStatus", ERROR_INVALID_HANDLE, ERROR_INVALID_HANDLE,
                    0},
        FailureCase{"RunningReportFailsWithoutError",
                    [] { winsim::ArmFault("SetServiceStatus", 5, 0); }, kStartReports,
                    L"SetServiceStatus", 0, kSpecific, kEFail}),
    [](const auto& info) { return std::string(info.param.name); });

// In the console the same failures end the worker quietly: no report, no event, and
// lastError left as it was.
TEST_F(ServiceTest, ConsoleWorkerFailuresReportAndLogNothing) {
    struct Case {
        const char* name;
        std::function<void()> arrange;
    };
    const Case cases[] = {
        {"no stop event", [] { winsim::ArmFault("CreateEventW", 1, 0); }},
        {"COM", [] { winsim::ArmFault("CoInitializeEx", 1, 0x80010106); }},
        {"detect", [] { winsim::ResetFirmware(NoFirmwareClass()); }},
        {"LED", [] { winsim::ArmFault("IWbemServices::ExecMethod", 2, 0x80041001); }},
    };
    for (const Case& c : cases) {
        winsim::ResetBench();
        winsim::ResetSystem();
        winsim::ResetFirmware();
        Zelv_LedExit();
        serviceGlobals.consoleMode = true;
        serviceGlobals.lastError = 1234;
        c.arrange();
        RunLedWorker();
        EXPECT_EQ(winsim::CallCount("SetServiceStatus"), 0u) << c.name;
        EXPECT_TRUE(winsim::LoggedEvents().empty()) << c.name;
        EXPECT_EQ(serviceGlobals.lastError, 1234u) << c.name;
        EXPECT_EQ(serviceGlobals.status, SERVICE_STATUS{}) << c.name;
    }
}

TEST_F(ServiceTest, FirmwareRefusingTheLedStopsTheService) {
    winsim::SetClockMode(winsim::ClockMode::Manual);
    CaptureOutput([&] {
        ServiceProcess process;
        AwaitFirstWait();
        winsim::Firmware().config().status = 1;  // the firmware refuses from now on
        winsim::AdvanceClock(1000);
        process.Join();
    });
    EXPECT_EQ(winsim::StatusReports().back(),
              Status(SERVICE_STOPPED, kStopAccepted, 0, 0, ERROR_SERVICE_SPECIFIC_ERROR,
                     static_cast<DWORD>(LED_E_DEVICE_STATUS_1)));
    EXPECT_EQ(winsim::LoggedEvents(),
              std::vector{ErrorEvent(0, L"ERROR: unable to set the LED state ON!\n")});
}

TEST_F(ServiceTest, AFailedStoppedReportIsLoggedAndNothingElseHappens) {
    winsim::SetClockMode(winsim::ClockMode::Manual);
    CaptureOutput([&] {
        ServiceProcess process;
        AwaitFirstWait();
        // The stop-pending report goes through; the stopped report fails.
        winsim::ArmFault("SetServiceStatus", 2, ERROR_INVALID_HANDLE);
        ASSERT_TRUE(winsim::SendControl(SERVICE_CONTROL_STOP));
        process.Join();
    });
    EXPECT_EQ(winsim::LoggedEvents(),
              std::vector{ErrorEvent(ERROR_INVALID_HANDLE, L"SetServiceStatus")});
    EXPECT_EQ(winsim::StatusReports().back().dwCurrentState, SERVICE_STOP_PENDING);
}

TEST_F(ServiceTest, ClosesTheStopEventBeforeLeavingCom) {
    serviceGlobals.consoleMode = true;
    winsim::ResetFirmware(NoFirmwareClass());  // the worker leaves right after the detect
    RunLedWorker();
    const std::vector<std::string> sites = winsim::SitesCalled();
    const auto close = std::find(sites.begin(), sites.end(), "CloseHandle");
    const auto uninitialize = std::find(sites.begin(), sites.end(), "CoUninitialize");
    ASSERT_NE(close, sites.end());
    ASSERT_NE(uninitialize, sites.end());
    EXPECT_LT(close, uninitialize);
}

TEST_F(ServiceTest, AFailedRegistrationReportsNothing) {
    winsim::ArmFault("RegisterServiceCtrlHandlerW", 1, ERROR_INVALID_PARAMETER);
    CaptureOutput([] { ServiceProcess().Join(); });
    EXPECT_TRUE(winsim::StatusReports().empty());
    EXPECT_TRUE(winsim::LoggedEvents().empty());
}

}  // namespace
