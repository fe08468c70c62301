#include "request_buffer.h"

#include <glintlamp.h>

#include <algorithm>

namespace glintlamp {

void BuildRequest(LedRequestBuffer buffer, std::initializer_list<BYTE> arguments) {
    std::fill(buffer.begin(), buffer.end(), BYTE{0});
    buffer[0] = static_cast<BYTE>(arguments.size() + 1);
    buffer[1] = kRequestMarker;
    std::copy(arguments.begin(), arguments.end(), buffer.begin() + 2);
}

HRESULT MapDeviceStatus(BYTE status) {
    switch (status) {
        case 0:
        case 4:
            return S_OK;
        case 1:
            return LED_E_DEVICE_STATUS_1;
        case 2:
            return LED_E_DEVICE_STATUS_2;
        case 3:
            return LED_E_DEVICE_STATUS_3;
        default:
            return LED_E_DEVICE_FAILURE;
    }
}

}  // namespace glintlamp
