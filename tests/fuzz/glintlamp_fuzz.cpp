// Fuzzes the LED library's four exports against the simulated firmware. Each input decodes
// into a firmware configuration and a sequence of steps: commands (with null pointers and
// invalid states), Zelv_LedExit, process detach, reconfiguring the firmware, failures armed
// on the platform calls and an exhausted heap. After every step each result must be one the
// library can give in that situation; after every Zelv_LedExit nothing may be left live; at
// the end a healthy firmware must work again.
//
// An input is read front to back: a configuration (ReadConfig), then steps of an operation
// byte and its arguments (Session::Step). The seed corpus beside this file follows it.
#include <glintlamp.h>
#include <winsim/bench.h>
#include <winsim/firmware.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "library_state.h"

// The library's load/unload hook; the loader calls it on Windows, the fuzzer on the host.
extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved);

namespace {

// The smallest block the heap refuses while fuzzing: a "max" this large fails as a 32-bit
// process fails a block of 2 GiB, without the fuzzer touching that much memory.
constexpr std::size_t kRefusedBlock = std::size_t{1} << 20;
constexpr int32_t kRefusedLength = static_cast<int32_t>(kRefusedBlock);
// Steps per input, so that one input cannot run for long.
constexpr int kMostSteps = 64;

constexpr ZELV_RESULT Result(uint32_t code) { return static_cast<ZELV_RESULT>(code); }
constexpr ZELV_RESULT kOutOfMemory = Result(0x8007000E);
constexpr ZELV_RESULT kWbemOutOfMemory = Result(0x80041006);
constexpr ZELV_RESULT kWbemNotFound = Result(0x80041002);
constexpr ZELV_RESULT kWbemTypeMismatch = Result(0x80041005);
constexpr ZELV_RESULT kWbemInvalidClass = Result(0x80041010);
constexpr ZELV_RESULT kWbemInvalidParameters = Result(0x8004102F);
constexpr ZELV_RESULT kWbemUnexpected = Result(0x8004101D);
constexpr ZELV_RESULT kNoInterface = Result(0x80004002);
constexpr ZELV_RESULT kBadIndex = Result(0x8002000B);
constexpr ZELV_RESULT kUnexpected = Result(0x8000FFFF);
constexpr ZELV_RESULT kPointer = Result(0x80004003);

// Reads the input front to back. Past its end every byte is zero, and zeros decode to a
// healthy firmware, so a short input is a plain one.
class InputReader {
  public:
    InputReader(const uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    bool AtEnd() const { return offset_ >= size_; }
    uint8_t Byte() { return AtEnd() ? 0 : data_[offset_++]; }
    uint32_t Word() {
        uint32_t word = 0;
        for (int shift = 0; shift < 32; shift += 8) word |= uint32_t{Byte()} << shift;
        return word;
    }
    // An entry of `table`; a selector past its end takes a raw 32-bit value instead.
    template <typename T, std::size_t N>
    T Pick(const T (&table)[N]) {
        uint8_t selector = Byte();
        return selector < N ? table[selector] : static_cast<T>(Word());
    }

  private:
    const uint8_t* data_;
    std::size_t size_;
    std::size_t offset_ = 0;
};

// ---- What an input can ask for -------------------------------------------------------------

// "max" values at the edges: of the smallest buffer, of a byte, of the heap, of the type.
const int32_t kMaxValues[] = {
    128,           0,         1,          127,        129,        200,
    255,           256,       300,        4096,       -1,         -128,
    INT32_MIN,     INT32_MAX, 0x10000000, 0x7FFF0000, 0x7FFEFFFF, kRefusedLength - 1,
    kRefusedLength};
const char* const kMaxNames[] = {"max", "MAX", "mAx", "Max", "maximum", "ma", "", "max "};
const uint32_t kAnswerSizes[] = {
    6, 0, 1, 2, 4, 5, 127, 128, 129, 255, 256, 300, 65536, kRefusedBlock, 0xFFFFFFFF};
const devicesim::MaxQualifier kMaxKinds[] = {
    devicesim::MaxQualifier::Int32, devicesim::MaxQualifier::Absent,
    devicesim::MaxQualifier::OtherType, devicesim::MaxQualifier::Int32};
const devicesim::AnswerShape kShapes[] = {
    devicesim::AnswerShape::Bytes, devicesim::AnswerShape::DataEmpty,
    devicesim::AnswerShape::DataNotClassObject, devicesim::AnswerShape::BytesNotByteArray};
const uint32_t kStates[] = {LED_STATE_ON, LED_STATE_OFF, LED_STATE_MODE_8, LED_STATE_MODE_1, 0, 5,
                            0x80000001,   0xFFFFFFFF};
// Built once: arming a site must not allocate while the heap is set to run out.
const std::string kSites[] = {
    "CoCreateInstance",
    "IWbemLocator::QueryInterface",
    "IWbemLocator::ConnectServer",
    "CoSetProxyBlanket",
    "IGlobalInterfaceTable::QueryInterface",
    "IGlobalInterfaceTable::RegisterInterfaceInGlobal",
    "IGlobalInterfaceTable::GetInterfaceFromGlobal",
    "IGlobalInterfaceTable::RevokeInterfaceFromGlobal",
    "IWbemServices::GetObject",
    "IWbemServices::ExecMethod",
    "IWbemClassObject::GetMethod",
    "IWbemClassObject::SpawnInstance",
    "IWbemClassObject::Put",
    "IWbemClassObject::Get",
    "IWbemClassObject::GetPropertyQualifierSet",
    "IWbemClassObject::QueryInterface",
    "IWbemQualifierSet::BeginEnumeration",
    "IWbemQualifierSet::Next",
    "IWbemQualifierSet::EndEnumeration",
    "SysAllocString",
    "SafeArrayCreateVector",
    "SafeArrayPutElement",
    "SafeArrayAccessData",
    "SafeArrayUnaccessData",
    "SafeArrayDestroy",
    "VariantClear",
};
// Failures, and success codes (a success that hands back nothing).
const uint32_t kCodes[] = {0x80041099, 0x80041002, 0x80041001, 0x80004005, 0x8007000E, 0x80041006,
                           0x80070005, 0x80010108, 0x00000001, 0x00040005, 0x00040004};

std::string ReadMaxName(InputReader& in) {
    uint8_t selector = in.Byte();
    if (selector < std::size(kMaxNames)) return kMaxNames[selector];
    std::string name(in.Byte() % 9, ' ');
    for (char& c : name) c = static_cast<char>(in.Byte());
    return name;
}

devicesim::DeviceConfig ReadConfig(InputReader& in) {
    devicesim::DeviceConfig config;
    const uint8_t flags = in.Byte();
    config.deviceClassPresent = (flags & 0x01) == 0;
    config.bdatClassPresent = (flags & 0x02) == 0;
    config.maxKind = kMaxKinds[(flags >> 2) & 3];
    config.answerShape = kShapes[(flags >> 4) & 3];
    config.maxValue = in.Pick(kMaxValues);
    config.maxName = ReadMaxName(in);
    const uint8_t overrides = in.Byte();
    if (overrides & 0x01) config.status = in.Byte();
    if (overrides & 0x02) config.lengthByte = in.Byte();
    if (overrides & 0x04) config.stateA = in.Byte();
    if (overrides & 0x08) config.stateB = in.Byte();
    if (overrides & 0x10) config.answerSize = in.Pick(kAnswerSizes);
    return config;
}

// ---- What the library may answer ---------------------------------------------------------

[[noreturn]] void Fail(const char* what, ZELV_RESULT result) {
    std::fprintf(stderr, "glintlamp_fuzz: %s (result 0x%08X)\n", what,
                 static_cast<unsigned>(result));
    std::abort();
}

void Require(bool holds, const char* what, ZELV_RESULT result = 0) {
    if (!holds) Fail(what, result);
}

// The results a command may end with, given what this input has done so far. Fixed storage:
// nothing here allocates while the heap is set to run out.
class AllowedResults {
  public:
    void SawConfig(const devicesim::DeviceConfig& config) {
        deviceClassMissing_ |= !config.deviceClassPresent;
        bufferClassMissing_ |= !config.bdatClassPresent;
        smallMax_ |= config.maxKind == devicesim::MaxQualifier::Int32 &&
                     static_cast<uint32_t>(config.maxValue) < 128;
        foreignAnswer_ |= config.answerShape == devicesim::AnswerShape::DataNotClassObject;
    }
    void SawArmed(uint32_t code) {
        if (armedCount_ < armed_.size()) armed_[armedCount_++] = Result(code);
        successArmed_ |= static_cast<int32_t>(code) > 0;
    }
    bool ArmedTooMany() const { return armedCount_ == armed_.size(); }

    bool Allows(ZELV_RESULT result) const {
        switch (result) {
            case 0:
            case LED_E_CLASS_NOT_FOUND:
            case LED_E_BUFFER_TOO_SMALL:
            case LED_E_DEVICE_STATUS_1:
            case LED_E_DEVICE_STATUS_2:
            case LED_E_DEVICE_STATUS_3:
            case LED_E_DEVICE_FAILURE:
            case kOutOfMemory:
            case kWbemOutOfMemory:
            case kWbemTypeMismatch:  // an answer of the wrong shape
                return true;
            default:
                break;
        }
        // WMI's own answers to a firmware that lost its classes or answers wrongly.
        if (result == kWbemInvalidClass && deviceClassMissing_) return true;
        if (result == kWbemNotFound && bufferClassMissing_) return true;
        if (result == kNoInterface && foreignAnswer_) return true;
        // A device that shrank its "max" below the request after the library learnt a larger
        // one: its array refuses the request.
        if (result == kBadIndex && smallMax_) return true;
        // A call that reported success yet did nothing: the library's own failure for a
        // missing object, or WMI's for a step that the call left undone (an enumeration not
        // begun, a request not stored in the parameters).
        if ((result == kUnexpected || result == kWbemUnexpected ||
             result == kWbemInvalidParameters) &&
            successArmed_)
            return true;
        for (std::size_t i = 0; i < armedCount_; ++i)
            if (armed_[i] == result) return true;
        return false;
    }

  private:
    bool deviceClassMissing_ = false;
    bool bufferClassMissing_ = false;
    bool foreignAnswer_ = false;
    bool smallMax_ = false;
    bool successArmed_ = false;
    std::array<ZELV_RESULT, 64> armed_{};
    std::size_t armedCount_ = 0;
};

// What a healthy firmware gives after Zelv_LedExit: the library keeps the byte count of
// the first device it asked, and with it that device's verdict.
ZELV_RESULT HealthyResult(int32_t rememberedMaxBytes) {
    if (rememberedMaxBytes == -1) return 0;
    const auto length = static_cast<uint32_t>(rememberedMaxBytes);
    if (length < 128) return LED_E_BUFFER_TOO_SMALL;
    return length >= kRefusedBlock ? kOutOfMemory : 0;
}

class Session {
  public:
    explicit Session(InputReader& in) : in_(in) {}

    void Run() {
        Zelv_LedExit();
        glintlamp::library = {};  // as a freshly loaded library
        winsim::ResetFirmware(ReadConfig(in_));
        allowed_.SawConfig(winsim::Firmware().config());
        winsim::ResetBench();
        before_ = winsim::LiveNow();
        for (int step = 0; step < kMostSteps && !in_.AtEnd(); ++step) Step();
        winsim::ResetBench();
        Exit();
        CheckHealthyFirmwareWorks();
    }

  private:
    void Step() {
        switch (in_.Byte() % 8) {
            case 0:
                Detect();
                break;
            case 1:
                SetState();
                break;
            case 2:
                GetState();
                break;
            case 3:
                Exit();
                break;
            case 4:
                winsim::Firmware().config() = ReadConfig(in_);
                allowed_.SawConfig(winsim::Firmware().config());
                break;
            case 5:
                ArmFault();
                break;
            case 6:
                winsim::ArmHeapFailure(in_.Byte() + 1u);
                break;
            case 7:
                DllMain(nullptr, DLL_PROCESS_DETACH, nullptr);
                Require(glintlamp::library.buffer == nullptr, "process detach kept the buffer");
                break;
        }
        CheckMaxBytesKept();
    }

    void Detect() {
        const uint8_t pointers = in_.Byte();
        int32_t version[3] = {-7, -7, -7};
        int32_t* slot[3];
        for (int i = 0; i < 3; ++i) slot[i] = (pointers >> i) & 1 ? &version[i] : nullptr;
        ZELV_RESULT result = Zelv_LedDetect(slot[0], slot[1], slot[2]);
        RequireAllowed(result, "Zelv_LedDetect");
        const int32_t expected[3] = {1, 0, 12091};
        for (int i = 0; i < 3; ++i)
            Require(version[i] == (slot[i] ? expected[i] : -7), "a version number is wrong");
    }

    void SetState() {
        const uint32_t state = in_.Pick(kStates);
        ZELV_RESULT result = Zelv_LedSetState(state);
        if (state < LED_STATE_ON || state > LED_STATE_MODE_1)
            Require(result == LED_E_INVALID_STATE, "an invalid state was not refused", result);
        else
            RequireAllowed(result, "Zelv_LedSetState");
    }

    void GetState() {
        if (in_.Byte() & 1) {
            ZELV_RESULT result = Zelv_LedGetState(nullptr);
            Require(result == kPointer, "a null state pointer was not refused", result);
            return;
        }
        int32_t state = -7;
        ZELV_RESULT result = Zelv_LedGetState(&state);
        RequireAllowed(result, "Zelv_LedGetState");
        if (result == 0)
            Require(state >= LED_STATE_UNKNOWN && state <= LED_STATE_MODE_1, "no LED state");
        else
            Require(state == -7, "a failed Zelv_LedGetState wrote the state", result);
    }

    void ArmFault() {
        const std::string& site = kSites[in_.Byte() % std::size(kSites)];
        const uint8_t when = in_.Byte();
        const uint32_t code = in_.Pick(kCodes);
        if (allowed_.ArmedTooMany()) return;
        allowed_.SawArmed(code);
        if (when & 0x80)
            winsim::ArmFaultAlways(site, code);
        else
            winsim::ArmFault(site, 1 + (when & 0x0F), code);
    }

    void Exit() {
        Zelv_LedExit();
        Require(glintlamp::library.device == nullptr && glintlamp::library.buffer == nullptr,
                "Zelv_LedExit kept the device or the buffer");
        Require(winsim::LiveNow() == before_, "something is still live after Zelv_LedExit");
    }

    // The byte count, once learnt, stays for the life of the process.
    void CheckMaxBytesKept() {
        if (maxBytes_ == -1) maxBytes_ = glintlamp::library.maxBytes;
        Require(glintlamp::library.maxBytes == maxBytes_, "the byte count changed");
    }

    void CheckHealthyFirmwareWorks() {
        winsim::ResetFirmware();
        const ZELV_RESULT expected = HealthyResult(glintlamp::library.maxBytes);
        ZELV_RESULT result = Zelv_LedDetect(nullptr, nullptr, nullptr);
        Require(result == expected, "a healthy firmware does not detect", result);
        result = Zelv_LedSetState(LED_STATE_MODE_8);
        Require(result == expected, "a healthy firmware does not switch", result);
        int32_t state = -7;
        result = Zelv_LedGetState(&state);
        Require(result == expected, "a healthy firmware does not report", result);
        Require(result != 0 || state == LED_STATE_MODE_8, "a healthy firmware reports wrongly");
        Exit();
    }

    void RequireAllowed(ZELV_RESULT result, const char* call) {
        if (!allowed_.Allows(result)) {
            std::fprintf(stderr, "glintlamp_fuzz: %s gave a result it cannot give here\n", call);
            Fail("unexpected result", result);
        }
    }

    InputReader& in_;
    AllowedResults allowed_;
    winsim::LiveCounts before_{};
    int32_t maxBytes_ = -1;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    // Only the session runs with the lowered limit: the fuzzer's own buffers are larger.
    const std::size_t refusedBefore = winsim::LimitBlockSize(kRefusedBlock);
    InputReader in(data, size);
    Session(in).Run();
    winsim::LimitBlockSize(refusedBefore);
    return 0;
}
