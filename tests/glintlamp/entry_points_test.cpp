// The four exports against the simulated firmware: what reaches the firmware, what comes
// back, and how every failure becomes a result.
#include <chrono>
#include <future>
#include <optional>
#include <thread>
#include <vector>

#include "bench_fixture.h"

// The library's load/unload hook; the loader calls it on Windows, the tests on the host.
extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved);

namespace {

constexpr ZELV_RESULT kOutOfMemory = Result(0x8007000E);
constexpr ZELV_RESULT kWbemOutOfMemory = Result(0x80041006);
constexpr ZELV_RESULT kWbemNotFound = Result(0x80041002);
constexpr ZELV_RESULT kWbemTypeMismatch = Result(0x80041005);
constexpr ZELV_RESULT kNoInterface = Result(0x80004002);

using LedTest = FreshLibraryTest;

// ---- Requests and answers ----------------------------------------------------------------------

struct CommandCase {
    const char* name;
    ZELV_RESULT (*run)();
    std::vector<uint8_t> request;
    std::optional<devicesim::LedBytes> ledAfter;  // for the commands that switch it
};

ZELV_RESULT Detect() { return Zelv_LedDetect(nullptr, nullptr, nullptr); }
ZELV_RESULT GetState() {
    int32_t state = -1;
    return Zelv_LedGetState(&state);
}

const CommandCase kCommands[] = {
    {"detect", Detect, {0x03, 0xFD, 0x01, 0x00}, std::nullopt},
    {"on",
     [] { return Zelv_LedSetState(LED_STATE_ON); },
     {0x03, 0xFD, 0x01, 0x10},
     devicesim::LedBytes{1, 0}},
    {"off",
     [] { return Zelv_LedSetState(LED_STATE_OFF); },
     {0x03, 0xFD, 0x01, 0x11},
     devicesim::LedBytes{0, 1}},
    {"mode8",
     [] { return Zelv_LedSetState(LED_STATE_MODE_8); },
     {0x05, 0xFD, 0x01, 0x12, 0x08, 0x08},
     devicesim::LedBytes{8, 8}},
    {"mode1",
     [] { return Zelv_LedSetState(LED_STATE_MODE_1); },
     {0x05, 0xFD, 0x01, 0x12, 0x01, 0x01},
     devicesim::LedBytes{1, 1}},
    {"get_state", GetState, {0x03, 0xFD, 0x01, 0x13}, std::nullopt},
};

class CommandTest : public FreshLibraryTest, public ::testing::WithParamInterface<CommandCase> {};

TEST_P(CommandTest, SendsItsBytesInAnArrayOfMaxBytesZeros) {
    Firmware().maxValue = 200;
    ASSERT_EQ(Zelv_LedSetState(LED_STATE_MODE_8), 0);  // leaves a longer request behind
    ASSERT_EQ(GetParam().run(), 0);
    std::vector<uint8_t> expected(200, 0);
    std::copy(GetParam().request.begin(), GetParam().request.end(), expected.begin());
    EXPECT_EQ(winsim::Firmware().lastRequest(), expected);
    if (GetParam().ledAfter) {
        EXPECT_EQ(winsim::Firmware().led(), *GetParam().ledAfter);
    }
}

INSTANTIATE_TEST_SUITE_P(Exports, CommandTest, ::testing::ValuesIn(kCommands),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(LedTest, SwitchesTheLedAndReadsItBack) {
    const std::pair<uint32_t, int32_t> kRoundTrips[] = {
        {LED_STATE_ON, LED_STATE_ON},
        {LED_STATE_OFF, LED_STATE_OFF},
        {LED_STATE_MODE_8, LED_STATE_MODE_8},
        {LED_STATE_MODE_1, LED_STATE_MODE_1},
    };
    for (auto [set, expected] : kRoundTrips) {
        ASSERT_EQ(Zelv_LedSetState(set), 0);
        int32_t state = -1;
        ASSERT_EQ(Zelv_LedGetState(&state), 0);
        EXPECT_EQ(state, expected) << "after setting " << set;
    }
    // One device and one buffer serve every command.
    EXPECT_EQ(winsim::CallCount("CoCreateInstance"), 2u);
}

TEST_F(LedTest, ExchangesRunOnAnotherThreadThanTheOneThatConnected) {
    ASSERT_EQ(Detect(), 0);
    ZELV_RESULT onOtherThread = -1;
    std::thread([&] { onOtherThread = Zelv_LedSetState(LED_STATE_ON); }).join();
    EXPECT_EQ(onOtherThread, 0);
    EXPECT_EQ(winsim::Firmware().led(), (devicesim::LedBytes{1, 0}));
}

TEST_F(LedTest, GetStateDecodesTheTwoStateBytes) {
    struct {
        uint8_t a, b;
        int32_t state;
    } const kAnswers[] = {
        {0x20, 0, LED_STATE_ON},   {0, 0x20, LED_STATE_OFF},  {8, 8, LED_STATE_MODE_8},
        {1, 1, LED_STATE_MODE_1},  {0, 0, LED_STATE_UNKNOWN}, {8, 1, LED_STATE_UNKNOWN},
        {1, 8, LED_STATE_UNKNOWN}, {2, 2, LED_STATE_UNKNOWN}, {0xFF, 0, LED_STATE_ON},
    };
    for (auto answer : kAnswers) {
        Firmware().stateA = answer.a;
        Firmware().stateB = answer.b;
        int32_t state = -1;
        ASSERT_EQ(Zelv_LedGetState(&state), 0);
        EXPECT_EQ(state, answer.state) << int(answer.a) << "," << int(answer.b);
    }
}

TEST_F(LedTest, AShortAnswerLeavesTheRequestsZerosInTheStateBytes) {
    // 03 00 xx xx: the firmware counts only three bytes, so bytes 4 and 5 are not copied.
    Firmware().lengthByte = 3;
    winsim::Firmware().set_led({1, 0});
    int32_t state = -1;
    ASSERT_EQ(Zelv_LedGetState(&state), 0);
    EXPECT_EQ(state, LED_STATE_UNKNOWN);
}

TEST_F(LedTest, StatusBytesBecomeResultsForEveryCommand) {
    const std::pair<uint8_t, uint32_t> kStatuses[] = {
        {0, 0},          {4, 0},          {1, 0xA0000002},    {2, 0xA0000003},
        {3, 0xA0000004}, {5, 0xA0000006}, {0xFF, 0xA0000006},
    };
    for (auto [status, expected] : kStatuses) {
        Firmware().status = status;
        EXPECT_EQ(Detect(), Result(expected)) << "status " << int(status);
        EXPECT_EQ(Zelv_LedSetState(LED_STATE_OFF), Result(expected)) << "status " << int(status);
        int32_t state = -7;
        EXPECT_EQ(Zelv_LedGetState(&state), Result(expected)) << "status " << int(status);
        if (expected != 0) {
            EXPECT_EQ(state, -7) << "a failed get-state writes nothing";
        }
    }
}

TEST_F(LedTest, AnAnswerThatCountsNoBytesLeavesTheMarkerAsStatus) {
    Firmware().lengthByte = 0;
    EXPECT_EQ(Detect(), LED_E_DEVICE_FAILURE);
}

// ---- Answers that do not fit or have the wrong shape ----------------------------------------

// Without the cut the copy would read past the answer array, which the sanitizer build
// catches.
TEST_F(LedTest, AnOverstatedLengthIsCutToTheAnswerArray) {
    Firmware().lengthByte = 0xFF;
    Firmware().answerSize = 6;
    Firmware().stateA = 8;
    Firmware().stateB = 8;
    int32_t state = -1;
    EXPECT_EQ(Zelv_LedGetState(&state), 0);
    EXPECT_EQ(state, LED_STATE_MODE_8);
}

TEST_F(LedTest, AnAnswerLongerThanTheBufferIsCutToTheBuffer) {
    // The buffer is 128 bytes; the firmware answers 300, all counted. The sanitizer build
    // catches any write past the buffer.
    Firmware().lengthByte = 0xFF;
    Firmware().answerSize = 300;
    EXPECT_EQ(Detect(), 0);
}

// The library's buffer keeps the length of the first device it served, while every new
// device after Zelv_LedExit reads "max" again. A firmware that grows its maximum in between
// answers with more bytes than the buffer holds; the copy stops at the buffer, which the
// sanitizer build checks.
TEST_F(LedTest, AnAnswerFromALargerDeviceAfterExitIsCutToTheBuffer) {
    struct {
        const char* name;
        int32_t secondMax;
        bool firstListEndsEarly;  // the first device never sees "max" and settles on 128
    } const kCases[] = {
        {"max grows to 255", 255, false},
        {"max grows to 200", 200, false},
        {"max grows to 129", 129, false},
        {"first qualifier list ends early", 200, true},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.name);
        glintlamp::library = {};
        Firmware().lengthByte = 0xFF;
        Firmware().maxValue = c.firstListEndsEarly ? c.secondMax : 128;
        if (c.firstListEndsEarly)
            winsim::ArmFault("IWbemQualifierSet::Next", 1, WBEM_S_NO_MORE_DATA);
        ASSERT_EQ(Detect(), 0);
        ASSERT_EQ(glintlamp::library.maxBytes, 128);
        Zelv_LedExit();

        Firmware().maxValue = c.secondMax;
        Firmware().stateA = 8;
        Firmware().stateB = 8;
        int32_t state = -1;
        EXPECT_EQ(Zelv_LedGetState(&state), 0);
        EXPECT_EQ(state, LED_STATE_MODE_8);
        // The request still travels in an array as long as the new device's maximum.
        EXPECT_EQ(winsim::Firmware().lastRequest().size(), static_cast<size_t>(c.secondMax));
        Zelv_LedExit();
    }
}

TEST_F(LedTest, AnEmptyAnswerArrayLeavesTheRequestInPlace) {
    Firmware().answerSize = 0;
    EXPECT_EQ(Detect(), LED_E_DEVICE_FAILURE);
}

TEST_F(LedTest, AnswersOfTheWrongShapeFailWithoutLeaking) {
    const std::pair<devicesim::AnswerShape, ZELV_RESULT> kShapes[] = {
        {devicesim::AnswerShape::DataEmpty, kWbemTypeMismatch},
        {devicesim::AnswerShape::DataNotClassObject, kNoInterface},
        {devicesim::AnswerShape::BytesNotByteArray, kWbemTypeMismatch},
    };
    for (auto [shape, expected] : kShapes) {
        Firmware().answerShape = shape;
        EXPECT_EQ(Detect(), expected);
        int32_t state = -7;
        EXPECT_EQ(Zelv_LedGetState(&state), expected);
        EXPECT_EQ(state, -7);
    }
    // The device is still good once the firmware answers properly again.
    Firmware().answerShape = devicesim::AnswerShape::Bytes;
    EXPECT_EQ(Detect(), 0);
}

// ---- The firmware's byte count ("max" on "Bytes") ------------------------------------------

struct MaxCase {
    const char* name;
    devicesim::MaxQualifier kind;
    int32_t value;
    const char* qualifierName;
    ZELV_RESULT result;   // of every command, the first and the ones after it
    size_t requestBytes;  // the array the firmware receives, when the command is sent
};

const MaxCase kMaxCases[] = {
    {"absent", devicesim::MaxQualifier::Absent, 0, "max", 0, 128},
    {"int_200", devicesim::MaxQualifier::Int32, 200, "max", 0, 200},
    {"int_128", devicesim::MaxQualifier::Int32, 128, "max", 0, 128},
    {"int_127", devicesim::MaxQualifier::Int32, 127, "max", LED_E_BUFFER_TOO_SMALL, 0},
    {"int_64", devicesim::MaxQualifier::Int32, 64, "max", LED_E_BUFFER_TOO_SMALL, 0},
    {"int_0", devicesim::MaxQualifier::Int32, 0, "max", LED_E_BUFFER_TOO_SMALL, 0},
    {"other_type", devicesim::MaxQualifier::OtherType, 200, "max", 0, 128},
    {"upper_case", devicesim::MaxQualifier::Int32, 200, "MAX", 0, 200},
    {"mixed_case", devicesim::MaxQualifier::Int32, 200, "mAx", 0, 200},
    {"longer_name", devicesim::MaxQualifier::Int32, 200, "maximum", 0, 128},
    // The buffer cannot be had: a 32-bit process has no block that large.
    {"minus_one", devicesim::MaxQualifier::Int32, -1, "max", kOutOfMemory, 0},
    {"int32_max", devicesim::MaxQualifier::Int32, 0x7FFFFFFF, "max", kOutOfMemory, 0},
};

class MaxQualifierTest : public FreshLibraryTest, public ::testing::WithParamInterface<MaxCase> {};

TEST_P(MaxQualifierTest, SetsTheBufferLengthOrRefusesTheDevice) {
    const MaxCase& c = GetParam();
    Firmware().maxKind = c.kind;
    Firmware().maxValue = c.value;
    Firmware().maxName = c.qualifierName;
    for (int call = 0; call < 3; ++call) EXPECT_EQ(Detect(), c.result) << "call " << call;
    if (c.result == 0)
        EXPECT_EQ(winsim::Firmware().lastRequest().size(), c.requestBytes);
    else
        EXPECT_EQ(winsim::Firmware().commands(), 0u) << "nothing is sent";
}

INSTANTIATE_TEST_SUITE_P(Exports, MaxQualifierTest, ::testing::ValuesIn(kMaxCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(LedTest, TheByteCountIsRememberedAcrossExit) {
    Firmware().maxValue = 64;
    EXPECT_EQ(Detect(), LED_E_BUFFER_TOO_SMALL);
    Zelv_LedExit();
    Firmware().maxValue = 200;  // not asked again
    EXPECT_EQ(Detect(), LED_E_BUFFER_TOO_SMALL);
}

// ---- Construction failures and the library's life cycle ------------------------------------

TEST_F(LedTest, AMissingDeviceClassFailsEveryCallUntilExit) {
    Firmware().deviceClassPresent = false;
    int32_t major = -1, minor = -1, build = -1;
    EXPECT_EQ(Zelv_LedDetect(&major, &minor, &build), LED_E_CLASS_NOT_FOUND);
    EXPECT_EQ((std::vector{major, minor, build}), (std::vector{1, 0, 12091}));
    Firmware().deviceClassPresent = true;  // too late: the failed device stays
    EXPECT_EQ(Zelv_LedSetState(LED_STATE_ON), LED_E_CLASS_NOT_FOUND);
    int32_t state = -7;
    EXPECT_EQ(Zelv_LedGetState(&state), LED_E_CLASS_NOT_FOUND);
    EXPECT_EQ(state, -7);
    // One construction (the locator and the interface table), never retried.
    EXPECT_EQ(winsim::CallCount("CoCreateInstance"), 2u);

    Zelv_LedExit();
    EXPECT_EQ(Detect(), 0) << "a new device after Zelv_LedExit";
}

TEST_F(LedTest, AMissingBufferClassKeepsItsWmiCode) {
    Firmware().bdatClassPresent = false;
    EXPECT_EQ(Detect(), kWbemNotFound);
    EXPECT_EQ(Detect(), kWbemNotFound);
}

TEST_F(LedTest, InvalidStatesAreRefusedWithoutTouchingTheDevice) {
    for (uint32_t state : {0u, 5u, 0x80000001u, 0xFFFFFFFFu})
        EXPECT_EQ(Zelv_LedSetState(state), LED_E_INVALID_STATE) << state;
    EXPECT_EQ(winsim::CallCount("CoCreateInstance"), 0u);
}

TEST_F(LedTest, GetStateWithoutAPlaceForTheStateIsRefusedAtOnce) {
    EXPECT_EQ(Zelv_LedGetState(nullptr), E_POINTER);
    EXPECT_EQ(winsim::CallCount("CoCreateInstance"), 0u);
}

TEST_F(LedTest, DetectFillsTheVersionWhereverThereIsAPointer) {
    int32_t minor = -1;
    EXPECT_EQ(Zelv_LedDetect(nullptr, &minor, nullptr), 0);
    EXPECT_EQ(minor, 0);
    int32_t major = -1, build = -1;
    EXPECT_EQ(Zelv_LedDetect(&major, nullptr, &build), 0);
    EXPECT_EQ(major, 1);
    EXPECT_EQ(build, 12091);
}

TEST_F(LedTest, ExitTwiceIsHarmlessAndTheNextCallStartsOver) {
    ASSERT_EQ(Detect(), 0);
    Zelv_LedExit();
    Zelv_LedExit();
    ExpectNothingLeaked();
    EXPECT_EQ(Zelv_LedSetState(LED_STATE_OFF), 0);
    EXPECT_EQ(winsim::CallCount("CoCreateInstance"), 4u) << "a second device was created";
}

TEST_F(LedTest, ProcessDetachFreesTheBufferAndLeavesTheDevice) {
    ASSERT_EQ(Detect(), 0);
    EXPECT_TRUE(DllMain(nullptr, DLL_PROCESS_DETACH, nullptr));
    EXPECT_EQ(glintlamp::library.buffer, nullptr);
    EXPECT_NE(glintlamp::library.device, nullptr);
    EXPECT_TRUE(DllMain(nullptr, DLL_PROCESS_ATTACH, nullptr));
}

// ---- Running out of memory -------------------------------------------------------------------

TEST_F(LedTest, NoMemoryForTheDeviceObjectIsTriedAgainOnTheNextCall) {
    winsim::ArmHeapFailure(1);  // the device object is the first thing a command allocates
    EXPECT_EQ(Detect(), kOutOfMemory);
    EXPECT_EQ(glintlamp::library.device, nullptr);
    ExpectNothingLeaked();
    EXPECT_EQ(Detect(), 0);
}

TEST_F(LedTest, NoMemoryForTheBufferIsTriedAgainOnTheNextCall) {
    ASSERT_EQ(Detect(), 0);
    DllMain(nullptr, DLL_PROCESS_DETACH, nullptr);  // frees the buffer, keeps the device
    winsim::ArmHeapFailure(1);  // on a device that exists the buffer comes first
    EXPECT_EQ(Zelv_LedSetState(LED_STATE_OFF), kOutOfMemory);
    EXPECT_EQ(glintlamp::library.buffer, nullptr);
    EXPECT_NE(glintlamp::library.device, nullptr);
    EXPECT_EQ(Zelv_LedSetState(LED_STATE_OFF), 0);
}

TEST_F(LedTest, NoMemoryInsideAnExchangeLeavesTheLock) {
    ASSERT_EQ(Detect(), 0);
    winsim::ArmFault("SysAllocString", 1, 0x8007000E);  // the request property's name
    EXPECT_EQ(Zelv_LedSetState(LED_STATE_ON), kOutOfMemory);
    // The lock re-enters on its own thread, so only another thread shows it was left.
    auto other = std::async(std::launch::async, [] { return Zelv_LedSetState(LED_STATE_OFF); });
    ASSERT_EQ(other.wait_for(std::chrono::seconds(5)), std::future_status::ready)
        << "the exchange lock is still held";
    EXPECT_EQ(other.get(), 0);
}

// Every allocation of a first command, in turn, runs out. The library's own allocations
// (device, buffer, system strings) end the call with E_OUTOFMEMORY and are tried again by
// the next call; the stand-in's allocations surface as the WMI or COM call's own failure.
TEST_F(LedTest, RunningOutAtEachAllocationEndsTheCallCleanly) {
    ASSERT_EQ(Detect(), 0);
    Zelv_LedExit();
    glintlamp::library = {};
    winsim::ResetBench();
    ASSERT_EQ(Detect(), 0);
    const std::size_t allocations = winsim::HeapAllocations();
    Zelv_LedExit();
    ASSERT_GT(allocations, 10u);

    for (std::size_t nth = 1; nth <= allocations; ++nth) {
        SCOPED_TRACE(testing::Message() << "allocation " << nth << " of " << allocations);
        glintlamp::library = {};
        winsim::ResetBench();
        winsim::ArmHeapFailure(static_cast<unsigned>(nth));
        ZELV_RESULT result = Detect();
        winsim::ArmHeapFailure(0);
        EXPECT_TRUE(result == kOutOfMemory || result == kWbemOutOfMemory) << std::hex << result;
        // A device whose construction completed keeps its failure until Zelv_LedExit;
        // anything else is tried again at once.
        bool failedDeviceKept =
            glintlamp::library.device != nullptr && glintlamp::library.deviceResult != S_OK;
        if (!failedDeviceKept) {
            EXPECT_EQ(Detect(), 0);
        }
        Zelv_LedExit();
        ExpectNothingLeaked();
        if (HasFailure()) break;
    }
}

}  // namespace
