#pragma once
// A simulated laptop firmware with an LED: what the WMI class "ZelvDeviceControl" and its
// method "Control" do on a real machine, reduced to bytes in and bytes out.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace devicesim {

// How the firmware describes the length of the "Bytes" array of class "BDat".
enum class MaxQualifier {
    Absent,     // no "max" qualifier on "Bytes"
    Int32,      // "max" of type VT_I4 holding maxValue
    OtherType,  // "max" holding a string instead of a 32-bit integer
};

// What the output parameter "Data" of "Control" holds.
enum class AnswerShape {
    Bytes,               // an embedded "BDat" object whose "Bytes" is a byte array
    DataEmpty,           // "Data" holds no object at all
    DataNotClassObject,  // "Data" holds an object that is not a WMI class object
    BytesNotByteArray,   // "Bytes" holds a 32-bit integer instead of an array
};

struct DeviceConfig {
    bool deviceClassPresent = true;  // class "ZelvDeviceControl" exists in root\wmi
    bool bdatClassPresent = true;    // class "BDat" exists in root\wmi
    MaxQualifier maxKind = MaxQualifier::Int32;
    int32_t maxValue = 128;
    std::string maxName = "max";  // the qualifier's name, in the letter case the firmware uses
    // Overrides of the answer; unset means the firmware's own answer.
    std::optional<uint8_t> status;       // byte 1
    std::optional<uint8_t> lengthByte;   // byte 0 (L)
    std::optional<uint8_t> stateA;       // byte 4
    std::optional<uint8_t> stateB;       // byte 5
    std::optional<uint32_t> answerSize;  // elements in the answer array (default: as the request)
    AnswerShape answerShape = AnswerShape::Bytes;

    bool operator==(const DeviceConfig&) const = default;
};

// The LED as the firmware holds it: the two state bytes it reports to "get state".
struct LedBytes {
    uint8_t a = 0;
    uint8_t b = 0;
    bool operator==(const LedBytes&) const = default;
};

// Status bytes the firmware answers with.
constexpr uint8_t kStatusOk = 0;
constexpr uint8_t kStatusBadCommand = 2;
constexpr uint8_t kStatusBadRequest = 5;

class Device {
  public:
    explicit Device(DeviceConfig config = {}) : config_(std::move(config)) {}

    DeviceConfig& config() { return config_; }
    const DeviceConfig& config() const { return config_; }

    // Runs one "Control" call: `request` is the input "Bytes" array, the result the output
    // "Bytes" array (first byte: the count of bytes that follow).
    std::vector<uint8_t> Execute(const std::vector<uint8_t>& request);

    LedBytes led() const { return led_; }
    void set_led(LedBytes led) { led_ = led; }
    unsigned commands() const { return commands_; }
    const std::vector<uint8_t>& lastRequest() const { return lastRequest_; }

  private:
    DeviceConfig config_;
    LedBytes led_;
    unsigned commands_ = 0;
    std::vector<uint8_t> lastRequest_;
};

// "on", "off", "mode8", "mode1" or "unknown", as the LED library would report the bytes.
std::string_view DescribeLed(LedBytes led);

// A configuration as text, one "key=value" a line, so a test outside the process (under
// Wine) can switch the device. Unknown keys and malformed values are ignored; keys:
//   device_class=0|1  bdat_class=0|1  max=absent|other|<int32>  max_name=<name>
//   status=<0..255>|auto  length=<0..255>|auto  state_a=..|auto  state_b=..|auto
//   answer_size=<n>|auto  answer=bytes|data-empty|data-not-class-object|bytes-not-byte-array
DeviceConfig ParseConfig(std::string_view text);
std::string FormatConfig(const DeviceConfig& config);

}  // namespace devicesim
