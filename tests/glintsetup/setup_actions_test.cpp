// The installer's actions: what install registers, what removal takes away, and that a
// failed install rolled back (removal after it) leaves nothing behind.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <winsim/bench.h>
#include <winsim/system.h>

#include "owners.h"
#include "setup_actions.h"

namespace {

constexpr DWORD kInvalidLevel = ERROR_INVALID_LEVEL;
constexpr DWORD kServiceDidNotRespond = 1053;
const std::wstring kInstallDir = L"C:\\Program Files\\Zelv LED\\";
const std::wstring kProgramPath = kInstallDir + L"glintwatch.exe";

class SetupActionsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        winsim::ResetBench();
        winsim::ResetSystem();
        liveBefore_ = winsim::LiveNow();
    }
    void TearDown() override {
        EXPECT_EQ(winsim::LiveNow(), liveBefore_);
        EXPECT_EQ(winsim::StaleHandleUses(), 0u);
    }

    DWORD Install(const std::wstring& dir = kInstallDir) {
        return InstallLedService(dir.c_str(), Reporter());
    }
    DWORD Remove() { return RemoveLedService(Reporter()); }
    SetupReporter Reporter() {
        return {[](void* lines, const wchar_t* line) {
                    static_cast<std::vector<std::wstring>*>(lines)->emplace_back(line);
                },
                &log_};
    }
    bool Logged(const std::wstring& part) const {
        for (const auto& line : log_)
            if (line.find(part) != std::wstring::npos) return true;
        return false;
    }
    static bool NothingLeft() {
        return !winsim::FindService(L"Glintwatch") && !winsim::RegistryKeyExists(kEventSourceKey);
    }

    std::vector<std::wstring> log_;

  private:
    winsim::LiveCounts liveBefore_{};
};

TEST_F(SetupActionsTest, InstallRegistersTheServiceItsRecoveryAndEventSourceAndStartsIt) {
    for (const std::wstring& dir : {kInstallDir, std::wstring(L"C:\\Program Files\\Zelv LED")}) {
        winsim::ResetSystem();
        ASSERT_EQ(Install(dir), ERROR_SUCCESS);
        const auto service = winsim::FindService(L"Glintwatch");
        ASSERT_TRUE(service);
        EXPECT_EQ(service->displayName, L"Zelv LED Control Service");
        EXPECT_EQ(service->serviceType, SERVICE_WIN32_OWN_PROCESS);
        EXPECT_EQ(service->startType, SERVICE_AUTO_START);
        EXPECT_EQ(service->errorControl, SERVICE_ERROR_NORMAL);
        EXPECT_EQ(service->binaryPath, L"\"" + kProgramPath + L"\"");
        EXPECT_EQ(service->dependencies, std::vector<std::wstring>{L"winmgmt"});
        EXPECT_FALSE(service->account);  // LocalSystem
        EXPECT_EQ(service->description, std::wstring(kServiceDescription));
        EXPECT_EQ(service->failureResetPeriod, 86400u);
        ASSERT_EQ(service->failureActions.size(), 3u);
        const SC_ACTION expected[] = {
            {SC_ACTION_RESTART, 60000}, {SC_ACTION_RESTART, 300000}, {SC_ACTION_NONE, 0}};
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(service->failureActions[i].Type, expected[i].Type) << i;
            EXPECT_EQ(service->failureActions[i].Delay, expected[i].Delay) << i;
        }
        EXPECT_TRUE(service->failureActionsOnNonCrashFailures);
        EXPECT_EQ(service->currentState, SERVICE_RUNNING);

        const auto messageFile = winsim::FindRegistryValue(kEventSourceKey, L"EventMessageFile");
        ASSERT_TRUE(messageFile);
        EXPECT_EQ(messageFile->type, REG_EXPAND_SZ);
        EXPECT_EQ(winsim::RegistryString(*messageFile), kProgramPath);
        const auto types = winsim::FindRegistryValue(kEventSourceKey, L"TypesSupported");
        ASSERT_TRUE(types);
        EXPECT_EQ(types->type, REG_DWORD);
        EXPECT_EQ(types->data, (std::vector<BYTE>{7, 0, 0, 0}));
    }
}

TEST_F(SetupActionsTest, RemoveStopsAndDeletesEverythingAndFindsNothingTheSecondTime) {
    ASSERT_EQ(Install(), ERROR_SUCCESS);
    EXPECT_EQ(Remove(), ERROR_SUCCESS);
    EXPECT_TRUE(NothingLeft());
    EXPECT_EQ(winsim::CallCount("ControlService"), 1u);
    EXPECT_EQ(Remove(), ERROR_SUCCESS);
}

TEST_F(SetupActionsTest, InstallReplacesAServiceInstalledFromTheConsole) {
    winsim::InstalledService console;
    console.name = L"Glintwatch";
    console.displayName = L"Zelv LED Control Service";
    console.startType = SERVICE_DEMAND_START;
    console.binaryPath = L"\"C:\\Tools\\glintwatch.exe\"";
    console.currentState = SERVICE_RUNNING;
    winsim::AddService(console);
    ASSERT_EQ(Install(), ERROR_SUCCESS);
    EXPECT_EQ(winsim::FindService(L"Glintwatch")->binaryPath, L"\"" + kProgramPath + L"\"");
    EXPECT_EQ(winsim::FindService(L"Glintwatch")->startType, SERVICE_AUTO_START);
    EXPECT_EQ(winsim::FindService(L"Glintwatch")->currentState, SERVICE_RUNNING);
}

TEST_F(SetupActionsTest, RemoveDeletesAServiceThatDoesNotStopInTime) {
    ASSERT_EQ(Install(), ERROR_SUCCESS);
    winsim::ScriptStop(L"Glintwatch", 1000, SERVICE_STOP_PENDING);
    EXPECT_EQ(Remove(), ERROR_SUCCESS);
    EXPECT_TRUE(Logged(L"did not stop within 30 s"));
    // The system removes it once it has stopped.
    EXPECT_TRUE(winsim::FindService(L"Glintwatch")->markedForDelete);
    EXPECT_FALSE(winsim::RegistryKeyExists(kEventSourceKey));
}

// What a machine may lack without losing the service: the count of failure stops for
// recovery (a system without that level), and a start when the service already runs.
TEST_F(SetupActionsTest, WhatAMachineMayLackIsLoggedAndTheInstallGoesOn) {
    struct Case {
        const char* site;
        unsigned nth;
        uint32_t code;
        const wchar_t* logged;
    } const cases[] = {
        {"ChangeServiceConfig2W", 3, kInvalidLevel,
         L"counting failure stops for recovery failed (error 124)"},
        {"StartServiceW", 1, ERROR_SERVICE_ALREADY_RUNNING, L"the service runs"},
    };
    for (const Case& c : cases) {
        winsim::ResetSystem();
        winsim::ResetBench();
        log_.clear();
        winsim::ArmFault(c.site, c.nth, c.code);
        EXPECT_EQ(Install(), ERROR_SUCCESS) << c.site << c.nth;
        EXPECT_TRUE(Logged(c.logged)) << c.site << c.nth;
        EXPECT_TRUE(winsim::FindService(L"Glintwatch")) << c.site << c.nth;
        EXPECT_TRUE(winsim::RegistryKeyExists(kEventSourceKey)) << c.site << c.nth;
    }
}

// A step the install cannot do without fails it with the step's error; the installer then
// rolls back by removing, which leaves nothing.
TEST_F(SetupActionsTest, RequiredStepsThatFailFailTheInstallAndRollBackToNothing) {
    struct Case {
        const char* site;
        unsigned nth;
        uint32_t code;
        DWORD result;
    } const cases[] = {
        {"OpenSCManagerW", 1, ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED},
        {"CreateServiceW", 1, ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED},
        {"CreateServiceW", 1, 0, ERROR_GEN_FAILURE},  // a failure that set no error
        {"ChangeServiceConfig2W", 1, ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED},  // description
        {"ChangeServiceConfig2W", 2, ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED},  // actions
        {"ChangeServiceConfig2W", 3, ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED},  // their count
        {"RegCreateKeyExW", 1, ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED},
        {"RegSetValueExW", 1, ERROR_NOT_ENOUGH_MEMORY, ERROR_NOT_ENOUGH_MEMORY},
        {"StartServiceW", 1, kServiceDidNotRespond, kServiceDidNotRespond},
    };
    for (const Case& c : cases) {
        winsim::ResetSystem();
        winsim::ResetBench();
        winsim::ArmFault(c.site, c.nth, c.code);
        EXPECT_EQ(Install(), c.result) << c.site << c.nth;
        winsim::DisarmFaults();
        EXPECT_EQ(Remove(), ERROR_SUCCESS) << c.site << c.nth;
        EXPECT_TRUE(NothingLeft()) << c.site << c.nth;
    }
}

// The system keeps a deleted service while another program holds a handle to it; the
// install waits for it to go, and says what to close when it does not.
TEST_F(SetupActionsTest, InstallWaitsForAnEarlierServiceThatAnotherProgramHoldsOpen) {
    ASSERT_EQ(Install(), ERROR_SUCCESS);
    ScHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    ScHandle console(OpenServiceW(manager.get(), L"Glintwatch", SERVICE_QUERY_STATUS));
    EXPECT_EQ(Install(), ERROR_SERVICE_MARKED_FOR_DELETE);
    EXPECT_TRUE(Logged(L"the earlier service is still in use"));
    console.reset();
    EXPECT_EQ(Install(), ERROR_SUCCESS);
    EXPECT_EQ(winsim::FindService(L"Glintwatch")->currentState, SERVICE_RUNNING);
}

TEST_F(SetupActionsTest, AnInstallFolderTooLongForTheServicePathRegistersNothing) {
    const std::wstring longDir = L"C:\\" + std::wstring(kProgramPathCapacity, L'x') + L"\\";
    EXPECT_EQ(Install(longDir), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_TRUE(NothingLeft());
}

TEST_F(SetupActionsTest, RemoveReportsWhatKeepsTheServiceInPlace) {
    ASSERT_EQ(Install(), ERROR_SUCCESS);
    winsim::ArmFault("DeleteService", 1, ERROR_ACCESS_DENIED);
    EXPECT_EQ(Remove(), ERROR_ACCESS_DENIED);
    EXPECT_TRUE(Logged(L"deleting the service failed (error 5)"));
    winsim::ArmFault("RegDeleteKeyW", 1, ERROR_ACCESS_DENIED);
    EXPECT_EQ(Remove(), ERROR_ACCESS_DENIED);
    EXPECT_FALSE(winsim::FindService(L"Glintwatch"));
    EXPECT_EQ(Remove(), ERROR_SUCCESS);
    EXPECT_TRUE(NothingLeft());
}

}  // namespace
