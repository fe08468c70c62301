#pragma once
// The byte buffer that carries one command to the firmware and its answer back.
#include <platform.h>

#include <initializer_list>
#include <span>

namespace glintlamp {

// The library's one command buffer, as long as the firmware's maximum byte count: it holds
// the request before an exchange and the firmware's answer after it.
using LedRequestBuffer = std::span<BYTE>;

// Command codes of the firmware's LED control.
enum LedCommand : BYTE {
    LED_CMD_DETECT = 0x00,
    LED_CMD_ON = 0x10,
    LED_CMD_OFF = 0x11,
    LED_CMD_SET_MODE = 0x12,
    LED_CMD_GET_STATE = 0x13,
};

// Every request carries this marker after its length byte, and this selector first among
// its arguments.
constexpr BYTE kRequestMarker = 0xFD;
constexpr BYTE kLedSelector = 1;

// Offsets in the firmware's answer.
constexpr std::size_t kStatusOffset = 1;
constexpr std::size_t kStateAOffset = 4;
constexpr std::size_t kStateBOffset = 5;

// Clears the buffer, then writes the length byte (the argument count plus one), the marker
// and the arguments: the selector, the command code and its parameters.
void BuildRequest(LedRequestBuffer buffer, std::initializer_list<BYTE> arguments);

// The library's result for the firmware's status byte.
HRESULT MapDeviceStatus(BYTE status);

}  // namespace glintlamp
