#include "device.h"

#include <algorithm>
#include <charconv>

namespace devicesim {
namespace {

constexpr uint8_t kMarker = 0xFD;
constexpr uint8_t kSelector = 1;
constexpr uint8_t kDetect = 0x00;
constexpr uint8_t kOn = 0x10;
constexpr uint8_t kOff = 0x11;
constexpr uint8_t kSetMode = 0x12;
constexpr uint8_t kGetState = 0x13;
constexpr uint8_t kAnswerLength = 5;  // status, two reserved bytes, state bytes A and B

struct Outcome {
    uint8_t status;
    std::optional<LedBytes> newLed;
};

Outcome Interpret(const std::vector<uint8_t>& request, LedBytes current) {
    // A request counts its own bytes after byte 0: marker, selector, command, parameters.
    if (request.size() < 4 || request[0] < 3 || request[0] >= request.size() ||
        request[1] != kMarker || request[2] != kSelector)
        return {kStatusBadRequest, std::nullopt};
    switch (request[3]) {
        case kDetect:
        case kGetState:
            return {kStatusOk, current};
        case kOn:
            return {kStatusOk, LedBytes{1, 0}};
        case kOff:
            return {kStatusOk, LedBytes{0, 1}};
        case kSetMode:
            if (request[0] < 5) return {kStatusBadRequest, std::nullopt};
            return {kStatusOk, LedBytes{request[4], request[5]}};
        default:
            return {kStatusBadCommand, std::nullopt};
    }
}

template <typename T>
std::optional<T> ParseNumber(std::string_view text) {
    T value{};
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

// "auto" clears an override; a number sets it; anything else leaves it as it was.
template <typename T>
void ParseOverride(std::string_view text, std::optional<T>& field) {
    if (text == "auto") {
        field.reset();
    } else if (auto value = ParseNumber<T>(text)) {
        field = value;
    }
}

constexpr std::pair<AnswerShape, std::string_view> kShapeNames[] = {
    {AnswerShape::Bytes, "bytes"},
    {AnswerShape::DataEmpty, "data-empty"},
    {AnswerShape::DataNotClassObject, "data-not-class-object"},
    {AnswerShape::BytesNotByteArray, "bytes-not-byte-array"},
};

void ApplySetting(DeviceConfig& config, std::string_view key, std::string_view value) {
    if (key == "device_class") {
        config.deviceClassPresent = value != "0";
    } else if (key == "bdat_class") {
        config.bdatClassPresent = value != "0";
    } else if (key == "max") {
        if (value == "absent") {
            config.maxKind = MaxQualifier::Absent;
        } else if (value == "other") {
            config.maxKind = MaxQualifier::OtherType;
        } else if (auto max = ParseNumber<int32_t>(value)) {
            config.maxKind = MaxQualifier::Int32;
            config.maxValue = *max;
        }
    } else if (key == "max_name") {
        config.maxName = std::string(value);
    } else if (key == "status") {
        ParseOverride(value, config.status);
    } else if (key == "length") {
        ParseOverride(value, config.lengthByte);
    } else if (key == "state_a") {
        ParseOverride(value, config.stateA);
    } else if (key == "state_b") {
        ParseOverride(value, config.stateB);
    } else if (key == "answer_size") {
        ParseOverride(value, config.answerSize);
    } else if (key == "answer") {
        for (auto [shape, name] : kShapeNames)
            if (value == name) config.answerShape = shape;
    }
}

template <typename T>
std::string OverrideText(const std::optional<T>& field) {
    return field ? std::to_string(*field) : "auto";
}

}  // namespace

std::vector<uint8_t> Device::Execute(const std::vector<uint8_t>& request) {
    ++commands_;
    lastRequest_ = request;
    Outcome outcome = Interpret(request, led_);
    uint8_t status = config_.status.value_or(outcome.status);
    // The firmware only acts on a command it reports as carried out.
    if ((status == 0 || status == 4) && outcome.newLed) led_ = *outcome.newLed;

    const uint8_t answer[] = {config_.lengthByte.value_or(kAnswerLength),
                              status,
                              0,
                              0,
                              config_.stateA.value_or(led_.a),
                              config_.stateB.value_or(led_.b)};
    std::vector<uint8_t> bytes(config_.answerSize.value_or(request.size()), 0);
    std::copy_n(answer, std::min(bytes.size(), std::size(answer)), bytes.begin());
    return bytes;
}

std::string_view DescribeLed(LedBytes led) {
    if (led.a == 0) return led.b == 0 ? "unknown" : "off";
    if (led.b == 0) return "on";
    if (led.a == 8 && led.b == 8) return "mode8";
    if (led.a == 1 && led.b == 1) return "mode1";
    return "unknown";
}

DeviceConfig ParseConfig(std::string_view text) {
    DeviceConfig config;
    while (!text.empty()) {
        size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.remove_suffix(1);
        size_t equals = line.find('=');
        if (equals != std::string_view::npos)
            ApplySetting(config, line.substr(0, equals), line.substr(equals + 1));
    }
    return config;
}

std::string FormatConfig(const DeviceConfig& config) {
    std::string max = config.maxKind == MaxQualifier::Absent      ? "absent"
                      : config.maxKind == MaxQualifier::OtherType ? "other"
                                                                  : std::to_string(config.maxValue);
    std::string shape;
    for (auto [candidate, name] : kShapeNames)
        if (candidate == config.answerShape) shape = name;
    return "device_class=" + std::to_string(config.deviceClassPresent) +
           "\nbdat_class=" + std::to_string(config.bdatClassPresent) + "\nmax=" + max +
           "\nmax_name=" + config.maxName + "\nstatus=" + OverrideText(config.status) +
           "\nlength=" + OverrideText(config.lengthByte) +
           "\nstate_a=" + OverrideText(config.stateA) + "\nstate_b=" + OverrideText(config.stateB) +
           "\nanswer_size=" + OverrideText(config.answerSize) + "\nanswer=" + shape + "\n";
}

}  // namespace devicesim
