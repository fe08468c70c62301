// The console tool on the simulated system: every command, every exit status, and the one
// failure line for the library's, the firmware's and the system's failures.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include <glintlamp.h>
#include <winsim/bench.h>
#include <winsim/firmware.h>
#include <winsim/system.h>

#include "glintctl.h"
#include "library_state.h"

namespace {

struct Outcome {
    int exitCode;
    std::string out;
    std::string err;
};

const std::string kUsage =
    "usage: glintctl <command>\n"
    "\n"
    "  detect   checks whether the firmware has the LED control; prints the library version\n"
    "  on       switches the LED on\n"
    "  off      switches the LED off\n"
    "  mode8    puts the LED into the firmware's mode 8\n"
    "  mode1    puts the LED into the firmware's mode 1\n"
    "  state    prints the LED state: on, off, mode8, mode1 or unknown\n"
    "  help     prints this text (also -h, --help, /?)\n"
    "\n"
    "Exit status: 0 success, 1 the library or the firmware failed, 2 a usage error.\n"
    "glintctl may run while the Glintwatch service runs; the service then sets the LED\n"
    "again within a second.\n";

const std::string kVersionLine = "Glintlamp version 1.0, build 12091\n";

class GlintctlTest : public ::testing::Test {
  protected:
    void SetUp() override {
        Zelv_LedExit();
        winsim::ResetBench();
        winsim::ResetSystem();
        winsim::ResetFirmware();
        liveBefore_ = winsim::LiveNow();
        blocksBefore_ = winsim::LiveLocalBlocks();
    }
    void TearDown() override { EXPECT_EQ(winsim::StaleHandleUses(), 0u); }

    // Runs the tool with `arguments` after the program name, as a process of its own: the
    // library starts as freshly loaded (it remembers the firmware's buffer size otherwise).
    // Whatever the tool did, it has left COM, released the library's objects and freed every
    // system text before it returned.
    Outcome Run(std::vector<std::string> arguments) {
        glintlamp::library.maxBytes = -1;
        const long apartmentsBefore = winsim::LiveApartments();
        arguments.insert(arguments.begin(), "glintctl");
        std::vector<char*> argv;
        for (auto& argument : arguments) argv.push_back(argument.data());
        argv.push_back(nullptr);
        std::fflush(stdout);
        std::fflush(stderr);
        ::testing::internal::CaptureStdout();
        ::testing::internal::CaptureStderr();
        const int exitCode = GlintctlMain(static_cast<int>(arguments.size()), argv.data());
        std::fflush(stdout);
        std::fflush(stderr);
        Outcome outcome{exitCode, ::testing::internal::GetCapturedStdout(),
                        ::testing::internal::GetCapturedStderr()};
        EXPECT_EQ(winsim::LiveNow(), liveBefore_) << arguments.back();
        EXPECT_EQ(winsim::LiveLocalBlocks(), blocksBefore_) << arguments.back();
        EXPECT_EQ(winsim::LiveApartments(), apartmentsBefore) << arguments.back();
        return outcome;
    }

  private:
    winsim::LiveCounts liveBefore_{};
    long blocksBefore_ = 0;
};

devicesim::DeviceConfig NoFirmwareClass() {
    devicesim::DeviceConfig config;
    config.deviceClassPresent = false;
    return config;
}

TEST_F(GlintctlTest, HelpPrintsTheUsageAndUsageErrorsExitWithTwo) {
    struct Case {
        std::vector<std::string> arguments;
        int exitCode;
        std::string out;
        std::string err;
    };
    const Case cases[] = {
        {{"help"}, 0, kUsage, ""},
        {{"-h"}, 0, kUsage, ""},
        {{"--help"}, 0, kUsage, ""},
        {{"/?"}, 0, kUsage, ""},
        {{"HELP"}, 0, kUsage, ""},
        {{}, 2, "", "glintctl: no command given\n\n" + kUsage},
        {{"blink"}, 2, "", "glintctl: unknown command: blink\n\n" + kUsage},
        {{"-on"}, 2, "", "glintctl: unknown command: -on\n\n" + kUsage},
        {{""}, 2, "", "glintctl: unknown command: \n\n" + kUsage},
        {{"on", "off"}, 2, "", "glintctl: too many arguments\n\n" + kUsage},
        {{"help", "on"}, 2, "", "glintctl: too many arguments\n\n" + kUsage},
    };
    for (const Case& c : cases) {
        const std::string name = c.arguments.empty() ? "(none)" : c.arguments[0];
        const Outcome outcome = Run(c.arguments);
        EXPECT_EQ(outcome.exitCode, c.exitCode) << name;
        EXPECT_EQ(outcome.out, c.out) << name;
        EXPECT_EQ(outcome.err, c.err) << name;
    }
    // Neither help nor a usage error touches COM or the firmware.
    EXPECT_EQ(winsim::CallCount("CoInitializeEx"), 0u);
    EXPECT_EQ(winsim::Firmware().commands(), 0u);
}

TEST_F(GlintctlTest, DetectPrintsTheLibraryVersionAndTheAnswer) {
    const Outcome outcome = Run({"detect"});
    EXPECT_EQ(outcome.exitCode, 0);
    EXPECT_EQ(outcome.out, kVersionLine + "LED control: found\n");
    EXPECT_EQ(outcome.err, "");
    EXPECT_EQ(winsim::Firmware().commands(), 1u);
}

TEST_F(GlintctlTest, SwitchingCommandsSetTheLedAndStateReadsItBack) {
    struct Case {
        const char* command;
        std::string out;
        const char* led;
    };
    const Case cases[] = {
        {"on", "LED switched on\n", "on"},    {"off", "LED switched off\n", "off"},
        {"mode8", "LED in mode8\n", "mode8"}, {"mode1", "LED in mode1\n", "mode1"},
        {"ON", "LED switched on\n", "on"},
    };
    for (const Case& c : cases) {
        winsim::ResetFirmware();
        const Outcome switched = Run({c.command});
        EXPECT_EQ(switched.exitCode, 0) << c.command;
        EXPECT_EQ(switched.out, c.out) << c.command;
        EXPECT_EQ(switched.err, "") << c.command;
        EXPECT_EQ(devicesim::DescribeLed(winsim::Firmware().led()), c.led) << c.command;

        const Outcome state = Run({"state"});
        EXPECT_EQ(state.exitCode, 0) << c.command;
        EXPECT_EQ(state.out, std::string(c.led) + "\n") << c.command;
        EXPECT_EQ(state.err, "") << c.command;
    }
}

TEST_F(GlintctlTest, StatePrintsUnknownForBytesOfNoKnownState) {
    for (const devicesim::LedBytes led : {devicesim::LedBytes{0, 0}, devicesim::LedBytes{8, 1}}) {
        winsim::ResetFirmware();
        winsim::Firmware().set_led(led);
        const Outcome outcome = Run({"state"});
        EXPECT_EQ(outcome.exitCode, 0);
        EXPECT_EQ(outcome.out, "unknown\n");
    }
}

TEST_F(GlintctlTest, EachCommandNamesWhatFailedWhenTheFirmwareHasNoLedClass) {
    struct Case {
        const char* command;
        std::string out;
        const char* failedAction;
    };
    const Case cases[] = {
        {"detect", kVersionLine, "check for the LED control"},
        {"on", "", "switch the LED on"},
        {"off", "", "switch the LED off"},
        {"mode8", "", "put the LED into mode 8"},
        {"mode1", "", "put the LED into mode 1"},
        {"state", "", "read the LED state"},
    };
    for (const Case& c : cases) {
        winsim::ResetFirmware(NoFirmwareClass());
        const Outcome outcome = Run({c.command});
        EXPECT_EQ(outcome.exitCode, 1) << c.command;
        EXPECT_EQ(outcome.out, c.out) << c.command;
        EXPECT_EQ(outcome.err, std::string("glintctl: cannot ") + c.failedAction +
                                   ": this machine's firmware has no LED control class "
                                   "(0xA0000000)\n")
            << c.command;
    }
}

TEST_F(GlintctlTest, FirmwareFailuresHaveTheirOwnWords) {
    auto withStatus = [](uint8_t status) {
        devicesim::DeviceConfig config;
        config.status = status;
        return config;
    };
    auto withMax = [](int32_t max) {
        devicesim::DeviceConfig config;
        config.maxValue = max;
        return config;
    };
    devicesim::DeviceConfig emptyAnswer;
    emptyAnswer.lengthByte = 0;  // the request's 0xFD stays in the status byte
    struct Case {
        devicesim::DeviceConfig config;
        const char* reason;
    };
    const Case cases[] = {
        {withMax(127), "the firmware's buffer is too small (0xA0000001)"},
        {withMax(0), "the firmware's buffer is too small (0xA0000001)"},
        {withStatus(1), "the firmware refused the command (status 1) (0xA0000002)"},
        {withStatus(2), "the firmware refused the command (status 2) (0xA0000003)"},
        {withStatus(3), "the firmware refused the command (status 3) (0xA0000004)"},
        {withStatus(5), "the firmware refused the command (status 5 or above) (0xA0000006)"},
        {withStatus(255), "the firmware refused the command (status 5 or above) (0xA0000006)"},
        {emptyAnswer, "the firmware refused the command (status 5 or above) (0xA0000006)"},
    };
    for (const Case& c : cases) {
        winsim::ResetFirmware(c.config);
        const Outcome outcome = Run({"off"});
        EXPECT_EQ(outcome.exitCode, 1) << c.reason;
        EXPECT_EQ(outcome.out, "") << c.reason;
        EXPECT_EQ(outcome.err,
                  std::string("glintctl: cannot switch the LED off: ") + c.reason + "\n");
    }
}

TEST_F(GlintctlTest, OtherFailuresGiveTheSystemTextOnOneLine) {
    struct Case {
        const char* name;
        const wchar_t* systemText;  // null: the system has none for the code
        std::string reason;
    };
    const Case cases[] = {
        {"one sentence", L"Access is denied.\r\n", "Access is denied."},
        {"a text of two lines", L"Access is denied.\r\nAsk the owner.\r\n",
         "Access is denied. Ask the owner."},
        {"a character outside ASCII", L"Zugriff verweigert \u00fcberall.\r\n",
         "Zugriff verweigert ?berall."},
        {"no text", nullptr, "Windows gave no description of this error"},
    };
    for (const Case& c : cases) {
        winsim::ResetSystem();
        winsim::DisarmFaults();
        if (c.systemText != nullptr) winsim::SetSystemMessage(0x80070005, c.systemText);
        winsim::ArmFault("CoCreateInstance", 1, 0x80070005);
        const Outcome outcome = Run({"state"});
        EXPECT_EQ(outcome.exitCode, 1) << c.name;
        EXPECT_EQ(outcome.err,
                  "glintctl: cannot read the LED state: " + c.reason + " (0x80070005)\n")
            << c.name;
    }
}

TEST_F(GlintctlTest, EntersAnApartmentThreadedApartment) {
    // A thread already in the multithreaded apartment cannot enter a single-threaded one, so
    // the tool's request shows in the result; one already single-threaded lets it through.
    struct Case {
        DWORD callerModel;
        int exitCode;
        std::string err;
    };
    const Case cases[] = {
        {COINIT_MULTITHREADED, 1,
         "glintctl: cannot start COM: Windows gave no description of this error (0x80010106)\n"},
        {COINIT_APARTMENTTHREADED, 0, ""},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, c.callerModel)));
        const Outcome outcome = Run({"on"});  // which also sees the caller's apartment stay
        CoUninitialize();
        EXPECT_EQ(outcome.exitCode, c.exitCode);
        EXPECT_EQ(outcome.err, c.err);
    }
}

TEST_F(GlintctlTest, ComThatCannotStartIsAFailureAndTheFirmwareIsNotAsked) {
    winsim::ArmFault("CoInitializeEx", 1, static_cast<uint32_t>(E_OUTOFMEMORY));
    winsim::SetSystemMessage(0x8007000E, L"Not enough memory resources are available.\r\n");
    const Outcome outcome = Run({"on"});
    EXPECT_EQ(outcome.exitCode, 1);
    EXPECT_EQ(outcome.err,
              "glintctl: cannot start COM: Not enough memory resources are available. "
              "(0x8007000E)\n");
    EXPECT_EQ(winsim::Firmware().commands(), 0u);
}

}  // namespace
