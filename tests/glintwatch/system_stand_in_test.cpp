// The parts of the stand-in whose documented rules the program's tests rely on.
#include "fixture.h"

namespace {

using SystemStandInTest = GlintwatchTest;

TEST_F(SystemStandInTest, SplitsACommandLineByTheShellsRules) {
    struct Case {
        const wchar_t* line;
        std::vector<std::wstring> arguments;
    };
    const Case cases[] = {
        {L"\"C:\\Program Files\\g.exe\" -debug", {L"C:\\Program Files\\g.exe", L"-debug"}},
        {L"g.exe  a\tb ", {L"g.exe", L"a", L"b"}},
        {L"g.exe \"a b\" c\"d e\"f", {L"g.exe", L"a b", L"cd ef"}},
        {L"g.exe a\\\\\"b c\" d\\e \\\"x", {L"g.exe", L"a\\b c", L"d\\e", L"\"x"}},
        {L"C:\\dir\\g.exe", {L"C:\\dir\\g.exe"}},
        {L"", {L"C:\\Program Files\\Glintwatch\\glintwatch.exe"}},
    };
    for (const Case& c : cases) {
        int argc = 0;
        LPWSTR* argv = CommandLineToArgvW(c.line, &argc);
        ASSERT_NE(argv, nullptr) << c.line;
        std::vector<std::wstring> split(argv, argv + argc);
        EXPECT_EQ(split, c.arguments) << c.line;
        EXPECT_EQ(argv[argc], nullptr);
        EXPECT_EQ(LocalFree(argv), nullptr);
    }
}

TEST_F(SystemStandInTest, CutsAModulePathThatDoesNotFit) {
    winsim::SetModulePath(L"C:\\abcdef.exe");
    wchar_t path[8];
    EXPECT_EQ(GetModuleFileNameW(nullptr, path, 8), 8u);
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_STREQ(path, L"C:\\abcd");
    SetLastError(kSentinelError);
    wchar_t whole[16];
    EXPECT_EQ(GetModuleFileNameW(nullptr, whole, 16), 13u);
    EXPECT_STREQ(whole, L"C:\\abcdef.exe");
    EXPECT_EQ(GetLastError(), kSentinelError);
}

TEST_F(SystemStandInTest, TimedWaitsFollowTheManualClock) {
    winsim::SetClockMode(winsim::ClockMode::Manual);
    EventHandle event(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    DWORD result = 0;
    std::thread waiter([&] { result = WaitForSingleObject(event.get(), 1000); });
    ASSERT_TRUE(winsim::AwaitTimedWaits(1));
    winsim::AdvanceClock(999);
    winsim::AdvanceClock(1);
    waiter.join();
    EXPECT_EQ(result, static_cast<DWORD>(WAIT_TIMEOUT));

    // An auto-reset event lets one wait through, then is clear again.
    ASSERT_TRUE(SetEvent(event.get()));
    EXPECT_EQ(WaitForSingleObject(event.get(), 1000), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(event.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_EQ(winsim::ClockNow(), 1000u);
}

TEST_F(SystemStandInTest, ServiceDatabaseAnswersWithTheSystemsErrors) {
    ScHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    ASSERT_TRUE(manager);
    SetLastError(kSentinelError);
    EXPECT_EQ(OpenServiceW(manager.get(), L"Glintwatch", SERVICE_QUERY_STATUS), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_SERVICE_DOES_NOT_EXIST);
    // Creating needs the right on the manager handle.
    EXPECT_EQ(CreateServiceW(manager.get(), L"Glintwatch", L"G", 0, SERVICE_WIN32_OWN_PROCESS,
                             SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, L"g.exe", nullptr, nullptr,
                             nullptr, nullptr, nullptr),
              nullptr);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);

    winsim::InstalledService installed;
    installed.name = L"Glintwatch";
    winsim::AddService(installed);
    ScHandle service(OpenServiceW(manager.get(), L"Glintwatch", SERVICE_STOP));
    ASSERT_TRUE(service);
    SERVICE_STATUS status{};
    EXPECT_FALSE(ControlService(service.get(), SERVICE_CONTROL_STOP, &status));
    EXPECT_EQ(GetLastError(), ERROR_SERVICE_NOT_ACTIVE);
    EXPECT_FALSE(QueryServiceStatus(service.get(), &status));  // opened without the right
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
}

TEST_F(SystemStandInTest, DispatcherFailsOutsideTheScm) {
    SERVICE_TABLE_ENTRYW table[] = {{nullptr, nullptr}};
    EXPECT_FALSE(StartServiceCtrlDispatcherW(table));
    EXPECT_EQ(GetLastError(), ERROR_FAILED_SERVICE_CONTROLLER_CONNECT);
    EXPECT_FALSE(winsim::SendControl(SERVICE_CONTROL_STOP));
}

}  // namespace
