// The command buffer: request layout per command and the firmware status map.
#include <gtest/gtest.h>

#include <array>
#include <initializer_list>
#include <utility>
#include <vector>

#include "request_buffer.h"

namespace glintlamp {
namespace {

struct RequestCase {
    const char* name;
    std::initializer_list<BYTE> arguments;
    std::vector<BYTE> expected;
};

const RequestCase kRequests[] = {
    {"detect", {kLedSelector, LED_CMD_DETECT}, {0x03, 0xFD, 0x01, 0x00}},
    {"on", {kLedSelector, LED_CMD_ON}, {0x03, 0xFD, 0x01, 0x10}},
    {"off", {kLedSelector, LED_CMD_OFF}, {0x03, 0xFD, 0x01, 0x11}},
    {"mode8", {kLedSelector, LED_CMD_SET_MODE, 8, 8}, {0x05, 0xFD, 0x01, 0x12, 0x08, 0x08}},
    {"mode1", {kLedSelector, LED_CMD_SET_MODE, 1, 1}, {0x05, 0xFD, 0x01, 0x12, 0x01, 0x01}},
    {"get_state", {kLedSelector, LED_CMD_GET_STATE}, {0x03, 0xFD, 0x01, 0x13}},
};

class BuildRequestTest : public ::testing::TestWithParam<RequestCase> {};

TEST_P(BuildRequestTest, WritesTheCommandAndClearsWhatThePreviousAnswerLeft) {
    const RequestCase& c = GetParam();
    std::array<BYTE, 128> buffer;
    buffer.fill(0xEE);  // what a previous answer might have left
    BuildRequest(buffer, c.arguments);
    std::array<BYTE, 128> expected{};
    std::copy(c.expected.begin(), c.expected.end(), expected.begin());
    EXPECT_EQ(buffer, expected);
}

INSTANTIATE_TEST_SUITE_P(Commands, BuildRequestTest, ::testing::ValuesIn(kRequests),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(MapDeviceStatusTest, FourIsSuccessLikeZeroAndFiveUpIsDeviceFailure) {
    const std::pair<int, uint32_t> kStatuses[] = {
        {0, 0},
        {1, 0xA0000002},
        {2, 0xA0000003},
        {3, 0xA0000004},
        {4, 0},
        {5, 0xA0000006},
        {6, 0xA0000006},
        {0x7F, 0xA0000006},
        {0x80, 0xA0000006},
        {0xFD, 0xA0000006},
        {0xFF, 0xA0000006},
    };
    for (auto [status, expected] : kStatuses)
        EXPECT_EQ(MapDeviceStatus(static_cast<BYTE>(status)), static_cast<HRESULT>(expected))
            << "status " << status;
}

}  // namespace
}  // namespace glintlamp
