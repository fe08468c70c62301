#include <device.h>

#include <gtest/gtest.h>

using devicesim::Device;
using devicesim::LedBytes;

namespace {

std::vector<uint8_t> Request(std::initializer_list<uint8_t> bytes) {
    std::vector<uint8_t> request(128, 0);
    std::copy(bytes.begin(), bytes.end(), request.begin());
    return request;
}

TEST(Device, CommandsSwitchTheLedAndGetStateReportsIt) {
    struct Case {
        std::vector<uint8_t> request;
        LedBytes led;
    };
    const Case cases[] = {
        {Request({3, 0xFD, 1, 0x10}), {1, 0}},
        {Request({3, 0xFD, 1, 0x11}), {0, 1}},
        {Request({5, 0xFD, 1, 0x12, 8, 8}), {8, 8}},
        {Request({5, 0xFD, 1, 0x12, 1, 1}), {1, 1}},
    };
    for (const Case& c : cases) {
        Device device;
        std::vector<uint8_t> answer = device.Execute(c.request);
        EXPECT_EQ(answer.size(), 128u);
        EXPECT_EQ(answer[0], 5);
        EXPECT_EQ(answer[1], 0);
        EXPECT_EQ(device.led(), c.led);
        answer = device.Execute(Request({3, 0xFD, 1, 0x13}));
        EXPECT_EQ(answer[4], c.led.a);
        EXPECT_EQ(answer[5], c.led.b);
    }
}

TEST(Device, RefusesMalformedRequestsAndKeepsTheLed) {
    const std::vector<uint8_t> bad[] = {
        Request({3, 0xFE, 1, 0x10}),  // wrong marker
        Request({3, 0xFD, 2, 0x10}),  // wrong selector
        Request({2, 0xFD, 1}),        // too short
        Request({3, 0xFD, 1, 0x12}),  // set mode without its two bytes
        {3, 0xFD, 1},                 // array shorter than its count
    };
    for (const auto& request : bad) {
        Device device;
        EXPECT_EQ(device.Execute(request)[1], devicesim::kStatusBadRequest);
        EXPECT_EQ(device.led(), LedBytes{});
    }
    Device device;
    EXPECT_EQ(device.Execute(Request({3, 0xFD, 1, 0x77}))[1], devicesim::kStatusBadCommand);
}

TEST(Device, OverridesShapeTheAnswerAndAFailingStatusChangesNothing) {
    Device device;
    device.config().status = 1;
    device.config().lengthByte = 0;
    device.config().answerSize = 3;
    std::vector<uint8_t> answer = device.Execute(Request({3, 0xFD, 1, 0x10}));
    EXPECT_EQ(answer, (std::vector<uint8_t>{0, 1, 0}));
    EXPECT_EQ(device.led(), LedBytes{});
}

TEST(Device, ConfigSurvivesItsTextForm) {
    devicesim::DeviceConfig config;
    config.deviceClassPresent = false;
    config.maxKind = devicesim::MaxQualifier::Int32;
    config.maxValue = -1;
    config.maxName = "MaX";
    config.status = 255;
    config.stateA = 8;
    config.answerSize = 2;
    config.answerShape = devicesim::AnswerShape::BytesNotByteArray;
    EXPECT_EQ(devicesim::ParseConfig(devicesim::FormatConfig(config)), config);
    EXPECT_EQ(devicesim::ParseConfig("status=300\nmax=other\r\nbogus=1\n").maxKind,
              devicesim::MaxQualifier::OtherType);
    EXPECT_FALSE(devicesim::ParseConfig("status=300\n").status.has_value());
}

}  // namespace
