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

// Failures on the way: one event each (or none), then the service stops with the error.
struct FailureCase {
    const char* name;
    std::function<void()> arrange;
    std::vector<SERVICE_STATUS> reportsBeforeStop;
    std::optional<std::wstring> message;  // none: no event
};

class ServiceFailureTest : public ServiceTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(ServiceFailureTest, LogsOneEventAndStopsWithItsError) {
    const FailureCase& c = GetParam();
    c.arrange();
    CaptureOutput([] { ServiceProcess().Join(); });

    const auto events = winsim::LoggedEvents();
    const DWORD exitCode = winsim::StatusReports().back().dwWin32ExitCode;
    if (c.message) {
        EXPECT_EQ(events, std::vector{ErrorEvent(exitCode, *c.message)});
        EXPECT_EQ(exitCode, serviceGlobals.lastError);
    } else {
        EXPECT_TRUE(events.empty());
        EXPECT_EQ(exitCode, 0u);
    }
    EXPECT_EQ(
        winsim::StatusReports(),
        Concat(c.reportsBeforeStop, {Status(SERVICE_STOPPED, kStopAccepted, 0, 0, exitCode)}));
}

const auto kRunning = Concat(kStartReports, {Status(SERVICE_RUNNING, kStopAccepted, 0, 0)});
const std::vector<SERVICE_STATUS> kStarted = kStartReports;

INSTANTIATE_TEST_SUITE_P(
    Failures, ServiceFailureTest,
    ::testing::Values(
        FailureCase{"LedOnFails",
                    [] {
                        // The firmware fails every command after the detect.
                        winsim::ArmFault("IWbemServices::ExecMethod", 2, 0x80041001);
                    },
                    kRunning, L"ERROR: unable to set the LED state ON!\n"},
        FailureCase{"LedOffFails",
                    [] {
                        winsim::SetInternetConnected(FALSE);
                        winsim::ArmFault("IWbemServices::ExecMethod", 2, 0x80041001);
                    },
                    kRunning, L"ERROR: unable to set the LED state OFF!\n"},
        FailureCase{"DetectFindsNoFirmwareClass", [] { winsim::ResetFirmware(NoFirmwareClass()); },
                    kStarted, L"ERROR: Zelv_LedDetect returned: 0xA0000000\n"},
        FailureCase{"ComAlreadyInitialised",
                    [] { winsim::ArmFault("CoInitializeEx", 1, S_FALSE); },
                    {kStartReports.begin(), kStartReports.begin() + 3},
                    L"CoInitializeEx() failed: 0x00000001\n"},
        FailureCase{"ComInAnotherMode",
                    [] { winsim::ArmFault("CoInitializeEx", 1, 0x80010106); },
                    {kStartReports.begin(), kStartReports.begin() + 3},
                    L"CoInitializeEx() failed: 0x80010106\n"},
        FailureCase{"NoStopEvent",
                    [] { winsim::ArmFault("CreateEventW", 1, ERROR_NOT_ENOUGH_MEMORY); },
                    {kStartReports.begin(), kStartReports.begin() + 2},
                    std::nullopt},
        FailureCase{"EntryReportFails",
                    [] { winsim::ArmFault("SetServiceStatus", 1, ERROR_INVALID_HANDLE); },
                    {},
                    L"SetServiceStatus"},
        FailureCase{"RunningReportFails",
                    [] { winsim::ArmFault("SetServiceStatus", 5, ERROR_INVALID_HANDLE); },
                    kStartReports, L"SetServiceStatus"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ServiceTest, FirmwareRefusingTheLedStopsTheService) {
    winsim::SetClockMode(winsim::ClockMode::Manual);
    CaptureOutput([&] {
        ServiceProcess process;
        AwaitFirstWait();
        winsim::Firmware().config().status = 1;  // the firmware refuses from now on
        winsim::AdvanceClock(1000);
        process.Join();
    });
    const SERVICE_STATUS stopped = winsim::StatusReports().back();
    EXPECT_EQ(stopped.dwCurrentState, SERVICE_STOPPED);
    EXPECT_EQ(winsim::LoggedEvents(),
              std::vector{ErrorEvent(stopped.dwWin32ExitCode,
                                     L"ERROR: unable to set the LED state ON!\n")});
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
