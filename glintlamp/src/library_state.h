#pragma once
// What the library keeps for the process between calls of its exports.
#include <platform.h>

#include <cstdint>
#include <memory>

#include "zelv_device_control.h"

namespace glintlamp {

struct LibraryState {
    // Created on first use and deleted by Zelv_LedExit only. Deliberately not an owner: at
    // process detach the device is left alone, since releasing COM references under the
    // loader lock is not safe.
    CZelvDeviceControl* device = nullptr;
    HRESULT deviceResult = -1;  // the device's InitResult() when it was created
    int32_t maxBytes = -1;      // the buffer length; kept across Zelv_LedExit
    std::unique_ptr<BYTE[]> buffer;
};

// A freshly loaded library starts from a default LibraryState.
extern constinit LibraryState library;

}  // namespace glintlamp
