// The program's options and its console commands: install, remove, debug and Ctrl+C.
#include <unistd.h>

#include <cstdio>

#include "fixture.h"

namespace {

const std::wstring kProgramPath = L"C:\\Program Files\\Glintwatch\\glintwatch.exe";

using CommandsTest = GlintwatchTest;

winsim::InstalledService InstalledGlintwatch(DWORD state = SERVICE_STOPPED) {
    winsim::InstalledService service;
    service.name = L"Glintwatch";
    service.displayName = L"Zelv LED Control Service";
    service.serviceType = SERVICE_WIN32_OWN_PROCESS;
    service.startType = SERVICE_DEMAND_START;
    service.errorControl = SERVICE_ERROR_NORMAL;
    service.binaryPath = L"\"" + kProgramPath + L"\"";
    service.dependencies = {L"winmgmt"};
    service.currentState = state;
    return service;
}

bool SameConfig(const winsim::InstalledService& a, const winsim::InstalledService& b) {
    return a.name == b.name && a.displayName == b.displayName && a.serviceType == b.serviceType &&
           a.startType == b.startType && a.errorControl == b.errorControl &&
           a.binaryPath == b.binaryPath && a.dependencies == b.dependencies &&
           a.account == b.account;
}

TEST_F(CommandsTest, OptionsPickTheCommandByTheFirstArgumentOnly) {
    struct Case {
        std::vector<std::string> arguments;
        std::string output;
        bool installed;
        bool dispatcherTried;
    };
    const std::string installed = "Zelv LED Control Service installed.\n";
    const Case cases[] = {
        {{"glintwatch", "-install"}, installed, true, false},
        {{"glintwatch", "/INSTALL"}, installed, true, false},
        {{"glintwatch", "-Install", "-remove"}, installed, true, false},
        {{"glintwatch", "install"}, kUsage, false, true},
        {{"glintwatch", "-installx"}, kUsage, false, true},
        {{"glintwatch", "-debugx"}, kUsage, false, true},
        {{"glintwatch", "-"}, kUsage, false, true},
        {{"glintwatch"}, kUsage, false, true},
    };
    for (const Case& c : cases) {
        winsim::ResetSystem();
        int exitCode = -1;
        EXPECT_EQ(CaptureOutput([&] { exitCode = RunMain(c.arguments); }), c.output)
            << c.arguments.back();
        EXPECT_EQ(exitCode, 0);
        EXPECT_EQ(winsim::FindService(L"Glintwatch").has_value(), c.installed);
        // Outside the SCM the dispatcher fails, and that is logged.
        const auto expectedEvents =
            c.dispatcherTried ? std::vector{ErrorEvent(ERROR_FAILED_SERVICE_CONTROLLER_CONNECT,
                                                       L"StartServiceCtrlDispatcher failed.")}
                              : std::vector<winsim::LoggedEvent>{};
        EXPECT_EQ(winsim::LoggedEvents(), expectedEvents) << c.arguments.back();
    }
}

TEST_F(CommandsTest, InstallRegistersOnlyTheServiceWithTheQuotedPath) {
    const std::string output = CaptureOutput([] { RunMain({"glintwatch", "-install"}); });
    EXPECT_EQ(output, "Zelv LED Control Service installed.\n");
    const auto service = winsim::FindService(L"Glintwatch");
    ASSERT_TRUE(service.has_value());
    EXPECT_TRUE(SameConfig(*service, InstalledGlintwatch()));
    EXPECT_EQ(service->binaryPath, L"\"C:\\Program Files\\Glintwatch\\glintwatch.exe\"");
    EXPECT_EQ(service->currentState, SERVICE_STOPPED);  // installed, not started
    // The service alone: what else a machine needs is the installer's to register.
    EXPECT_FALSE(service->description);
    EXPECT_TRUE(service->failureActions.empty());
    EXPECT_FALSE(winsim::RegistryKeyExists(kEventSourceKey));
}

TEST_F(CommandsTest, InstallFailuresPrintTheSystemTextAndChangeNothing) {
    struct Case {
        const char* name;
        std::function<void()> arrange;
        std::string output;
    };
    const std::wstring longPath = L"C:\\" + std::wstring(600, L'd') + L"\\glintwatch.exe";
    const Case cases[] = {
        {"already installed",
         [] {
             auto other = InstalledGlintwatch();
             other.binaryPath = L"C:\\old\\glintwatch.exe";
             winsim::AddService(other);
         },
         "CreateService failed - The specified service already exists. (0x431)\n"},
        {"no administrator", [] { winsim::SetAdministrator(false); },
         "OpenSCManager failed - Access is denied. (0x5)\n"},
        {"path longer than the buffer", [&] { winsim::SetModulePath(longPath); },
         "Unable to install Zelv LED Control Service - The data area passed to a system call "
         "is too small. (0x7a)\n"},
        {"path query fails", [] { winsim::ArmFault("GetModuleFileNameW", 1, ERROR_ACCESS_DENIED); },
         "Unable to install Zelv LED Control Service - Access is denied. (0x5)\n"},
    };
    for (const Case& c : cases) {
        winsim::ResetSystem();
        c.arrange();
        const auto before = winsim::FindService(L"Glintwatch");
        EXPECT_EQ(CaptureOutput([] { RunMain({"glintwatch", "-install"}); }), c.output) << c.name;
        const auto after = winsim::FindService(L"Glintwatch");
        ASSERT_EQ(after.has_value(), before.has_value()) << c.name;
        if (before) {
            EXPECT_TRUE(SameConfig(*after, *before)) << c.name;
        }
        EXPECT_TRUE(winsim::LoggedEvents().empty()) << c.name;
    }
}

TEST_F(CommandsTest, InstallTakesThePathThatJustFits) {
    const std::wstring path = L"C:\\" + std::wstring(511 - 18, L'p') + L"\\glintwatch.exe";
    ASSERT_EQ(path.size(), 511u);
    winsim::SetModulePath(path);
    EXPECT_EQ(CaptureOutput([] {
                  RunMain({"glintwatch", "-install"});
              }),
              "Zelv LED Control Service installed.\n");
    EXPECT_EQ(winsim::FindService(L"Glintwatch")->binaryPath, L"\"" + path + L"\"");
}

TEST_F(CommandsTest, RemoveStopsARunningServiceThenDeletesIt) {
    struct Case {
        const char* name;
        DWORD state;
        unsigned pendingQueries;
        DWORD finalState;
        std::string output;
        uint64_t waitedMs;
    };
    const Case cases[] = {
        {"stops at once", SERVICE_RUNNING, 0, SERVICE_STOPPED,
         "Stopping Zelv LED Control Service.\nZelv LED Control Service stopped.\n"
         "Zelv LED Control Service removed.\n",
         1000},
        {"stops after three queries", SERVICE_RUNNING, 3, SERVICE_STOPPED,
         "Stopping Zelv LED Control Service....\nZelv LED Control Service stopped.\n"
         "Zelv LED Control Service removed.\n",
         4000},
        {"will not stop", SERVICE_RUNNING, 2, SERVICE_RUNNING,
         "Stopping Zelv LED Control Service...\nZelv LED Control Service failed to stop.\n"
         "Zelv LED Control Service removed.\n",
         3000},
        {"already stopped", SERVICE_STOPPED, 0, SERVICE_STOPPED,
         "Zelv LED Control Service removed.\n", 0},
    };
    for (const Case& c : cases) {
        winsim::ResetSystem();
        winsim::AddService(InstalledGlintwatch(c.state));
        winsim::ScriptStop(L"Glintwatch", c.pendingQueries, c.finalState);
        EXPECT_EQ(CaptureOutput([] { RunMain({"glintwatch", "-remove"}); }), c.output) << c.name;
        // One that will not stop stays, marked for deletion, until it stops.
        const auto left = winsim::FindService(L"Glintwatch");
        EXPECT_EQ(left.has_value(), c.finalState != SERVICE_STOPPED) << c.name;
        EXPECT_TRUE(!left || left->markedForDelete) << c.name;
        EXPECT_EQ(winsim::ClockNow(), c.waitedMs) << c.name;
    }
}

TEST_F(CommandsTest, RemoveFailuresPrintTheSystemText) {
    struct Case {
        const char* name;
        std::function<void()> arrange;
        std::string output;
        bool stillInstalled;
    };
    const Case cases[] = {
        {"not installed", [] {},
         "OpenService failed - The specified service does not exist as an installed service. "
         "(0x424)\n",
         false},
        {"no administrator",
         [] {
             winsim::AddService(InstalledGlintwatch());
             winsim::SetAdministrator(false);
         },
         "OpenService failed - Access is denied. (0x5)\n", true},
        {"no SCM",
         [] {
             winsim::AddService(InstalledGlintwatch());
             winsim::ArmFault("OpenSCManagerW", 1, ERROR_ACCESS_DENIED);
         },
         "OpenSCManager failed - Access is denied. (0x5)\n", true},
        {"delete refused",
         [] {
             winsim::AddService(InstalledGlintwatch());
             winsim::ArmFault("DeleteService", 1, ERROR_SERVICE_MARKED_FOR_DELETE);
         },
         "DeleteService failed - The specified service has been marked for deletion. (0x430)\n",
         true},
    };
    for (const Case& c : cases) {
        winsim::ResetSystem();
        c.arrange();
        EXPECT_EQ(CaptureOutput([] { RunMain({"glintwatch", "/remove"}); }), c.output) << c.name;
        EXPECT_EQ(winsim::FindService(L"Glintwatch").has_value(), c.stillInstalled) << c.name;
    }
}

TEST_F(CommandsTest, DebugRunsTheWorkerInTheConsoleUntilCtrlC) {
    winsim::SetClockMode(winsim::ClockMode::Manual);
    winsim::SetCommandLine(L"glintwatch.exe -debug extra \"more args\"");
    std::string output = CaptureOutput([] {
        std::thread mainThread([] { RunMain({"glintwatch", "-debug", "extra", "more args"}); });
        ASSERT_TRUE(winsim::AwaitTimedWaits(1));
        winsim::AdvanceClock(1000);
        ASSERT_TRUE(winsim::AwaitTimedWaits(2));
        EXPECT_EQ(devicesim::DescribeLed(winsim::Firmware().led()), "on");
        EXPECT_TRUE(winsim::DeliverConsoleControl(CTRL_C_EVENT));
        mainThread.join();
    });
    EXPECT_EQ(output, "Debugging Zelv LED Control Service.\nStopping Zelv LED Control Service.\n");
    EXPECT_TRUE(winsim::StatusReports().empty());
    EXPECT_TRUE(winsim::LoggedEvents().empty());
    EXPECT_EQ(serviceGlobals.lastError, 0u);
}

// A console program is often ended from outside: its line must be out while it runs, not
// held in a buffer until exit.
TEST_F(CommandsTest, DebugShowsItsLineWhileTheWorkerRuns) {
    winsim::SetClockMode(winsim::ClockMode::Manual);
    winsim::SetCommandLine(L"glintwatch.exe -debug");
    std::fflush(stdout);
    FILE* console = std::tmpfile();
    ASSERT_NE(console, nullptr);
    const int savedStdout = dup(STDOUT_FILENO);
    dup2(fileno(console), STDOUT_FILENO);
    std::thread mainThread([] { RunMain({"glintwatch", "-debug"}); });
    const bool waiting = winsim::AwaitTimedWaits(1);
    char shown[64] = {};
    const ssize_t length = pread(fileno(console), shown, sizeof shown - 1, 0);
    winsim::DeliverConsoleControl(CTRL_C_EVENT);
    mainThread.join();
    std::fflush(stdout);
    dup2(savedStdout, STDOUT_FILENO);
    close(savedStdout);
    std::fclose(console);
    ASSERT_TRUE(waiting);
    EXPECT_EQ(std::string(shown, length > 0 ? length : 0), "Debugging Zelv LED Control Service.\n");
}

TEST_F(CommandsTest, DebugEndsQuietlyWhenTheWorkerFails) {
    winsim::ResetFirmware(NoFirmwareClass());
    EXPECT_EQ(CaptureOutput([] {
                  RunMain({"glintwatch", "-debug"});
              }),
              "Debugging Zelv LED Control Service.\n");
    EXPECT_TRUE(winsim::LoggedEvents().empty());
}

TEST_F(CommandsTest, DebugStopsWhenTheCommandLineCannotBeSplit) {
    winsim::ArmFault("CommandLineToArgvW", 1, ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_EQ(CaptureOutput([] {
                  RunMain({"glintwatch", "-debug"});
              }),
              "CmdDebugService CommandLineToArgvW returned NULL\n");
    EXPECT_EQ(winsim::CallCount("CreateEventW"), 0u);
}

TEST_F(CommandsTest, ConsoleHandlerTakesOnlyCtrlCAndCtrlBreak) {
    struct Case {
        DWORD ctrlType;
        BOOL handled;
        std::string output;
    };
    const std::string stopping = "Stopping Zelv LED Control Service.\n";
    const Case cases[] = {
        {CTRL_C_EVENT, TRUE, stopping},   {CTRL_BREAK_EVENT, TRUE, stopping},
        {CTRL_CLOSE_EVENT, FALSE, ""},    {CTRL_LOGOFF_EVENT, FALSE, ""},
        {CTRL_SHUTDOWN_EVENT, FALSE, ""},
    };
    for (const Case& c : cases) {
        BOOL handled = -1;
        EXPECT_EQ(CaptureOutput([&] { handled = ConsoleStopHandler(c.ctrlType); }), c.output);
        EXPECT_EQ(handled, c.handled) << c.ctrlType;
    }
    EXPECT_EQ(winsim::CallCount("SetEvent"), 0u);  // no worker, no event
}

}  // namespace
