// A stop request or Ctrl+C that comes while, or after, the worker closes its stop event
// must never reach a closed handle, nor one the system has given to another object since.
#include <atomic>

#include "fixture.h"

namespace {

using StopRaceTest = GlintwatchTest;

TEST_F(StopRaceTest, CtrlCAfterTheWorkerEndedLeavesAReusedHandleAlone) {
    winsim::ResetFirmware(NoFirmwareClass());  // the worker ends at once
    CaptureOutput([] { RunMain({"glintwatch", "-debug"}); });
    // The system hands the closed event's handle value to the next event it creates.
    EventHandle newcomer(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    ASSERT_TRUE(newcomer);
    EXPECT_EQ(winsim::CallCount("CreateEventW"), 2u);

    EXPECT_EQ(CaptureOutput([] { EXPECT_TRUE(winsim::DeliverConsoleControl(CTRL_C_EVENT)); }),
              "Stopping Zelv LED Control Service.\n");
    EXPECT_EQ(WaitForSingleObject(newcomer.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_EQ(winsim::CallCount("SetEvent"), 0u);
}

TEST_F(StopRaceTest, StopsDuringAnLedFailureNeverReachAClosedEvent) {
    // Each round the LED fails on the first pass, and the worker closes its event while
    // stop requests keep coming, until the dispatcher has returned.
    for (int round = 0; round < 40; ++round) {
        winsim::ResetSystem();
        winsim::ResetBench();
        winsim::ArmFaultAlways("IWbemServices::ExecMethod", 0x80041001);
        winsim::ArmFault("IWbemServices::ExecMethod", 1, 0);  // let the detect through
        Zelv_LedExit();
        std::atomic<bool> ended{false};
        CaptureOutput([&] {
            ServiceProcess process;
            ASSERT_TRUE(winsim::AwaitStatus(SERVICE_RUNNING));
            std::thread stopper([&] {
                while (!ended) winsim::SendControl(SERVICE_CONTROL_STOP);
            });
            process.Join();
            ended = true;
            stopper.join();
        });
        ASSERT_TRUE(winsim::AwaitStatus(SERVICE_STOPPED));
        ASSERT_EQ(winsim::StaleHandleUses(), 0u) << "round " << round;
    }
}

TEST_F(StopRaceTest, CtrlCWhileTheConsoleWorkerEndsNeverReachesAClosedEvent) {
    winsim::ResetFirmware(NoFirmwareClass());
    for (int round = 0; round < 40; ++round) {
        std::atomic<bool> ended{false};
        CaptureOutput([&] {
            std::thread ctrlC([&] {
                while (!ended) winsim::DeliverConsoleControl(CTRL_C_EVENT);
            });
            RunMain({"glintwatch", "-debug"});
            ended = true;
            ctrlC.join();
        });
        ASSERT_EQ(winsim::StaleHandleUses(), 0u) << "round " << round;
    }
}

}  // namespace
