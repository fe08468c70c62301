// The library's exported functions and its load/unload hook.
#include <glintlamp.h>
#include <platform.h>

#include <new>
#include <utility>

#include "library_state.h"
#include "request_buffer.h"

namespace glintlamp {

constinit LibraryState library;

namespace {

constexpr int32_t kVersionMajor = 1;
constexpr int32_t kVersionMinor = 0;
constexpr int32_t kVersionBuild = 12091;
// A firmware that cannot take 128 bytes per command is refused.
constexpr uint32_t kSmallestBuffer = 128;

LedRequestBuffer Buffer() {
    return {library.buffer.get(), static_cast<uint32_t>(library.maxBytes)};
}

// Makes sure the device and the buffer exist. False, with the result in *out, when the
// command cannot run. An allocation that fails raises std::bad_alloc and is not
// remembered, so the next command tries again.
bool PrepareDevice(HRESULT* out) {
    if (library.device == nullptr) {
        library.device = new CZelvDeviceControl();
        library.deviceResult = library.device->InitResult();
    }
    // A device whose construction failed stays, and repeats its failure until
    // Zelv_LedExit.
    if (library.deviceResult != S_OK) {
        *out = library.deviceResult;
        return false;
    }
    if (library.buffer) {
        *out = S_OK;
        return true;
    }
    if (library.maxBytes == -1) {
        if (HRESULT hr = library.device->GetMaxBytes(&library.maxBytes); hr != S_OK) {
            *out = hr;
            return false;
        }
    }
    if (static_cast<uint32_t>(library.maxBytes) < kSmallestBuffer) {
        *out = LED_E_BUFFER_TOO_SMALL;
        return false;
    }
    library.buffer.reset(new BYTE[static_cast<uint32_t>(library.maxBytes)]);
    *out = S_OK;
    return true;
}

HRESULT RunCommand(std::initializer_list<BYTE> arguments) {
    HRESULT result;
    if (!PrepareDevice(&result)) return result;
    BuildRequest(Buffer(), arguments);
    if (HRESULT hr = library.device->Exchange(Buffer()); hr != S_OK) return hr;
    return MapDeviceStatus(Buffer()[kStatusOffset]);
}

// An out-of-memory failure anywhere below an export ends the call here, as its result.
template <typename Command>
ZELV_RESULT WithOutOfMemoryAsResult(Command&& command) {
    try {
        return command();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

int32_t DecodeLedState(BYTE a, BYTE b) {
    if (a == 0) return b == 0 ? LED_STATE_UNKNOWN : LED_STATE_OFF;
    if (b == 0) return LED_STATE_ON;
    if (a == 8) return b == 8 ? LED_STATE_MODE_8 : LED_STATE_UNKNOWN;
    if (a == 1) return b == 1 ? LED_STATE_MODE_1 : LED_STATE_UNKNOWN;
    return LED_STATE_UNKNOWN;
}

}  // namespace
}  // namespace glintlamp

using namespace glintlamp;

extern "C" ZELV_RESULT ZELV_CALL Zelv_LedDetect(int32_t* major, int32_t* minor, int32_t* build) {
    if (major != nullptr) *major = kVersionMajor;
    if (minor != nullptr) *minor = kVersionMinor;
    if (build != nullptr) *build = kVersionBuild;
    return WithOutOfMemoryAsResult([] { return RunCommand({kLedSelector, LED_CMD_DETECT}); });
}

extern "C" ZELV_RESULT ZELV_CALL Zelv_LedSetState(uint32_t state) {
    return WithOutOfMemoryAsResult([state]() -> HRESULT {
        switch (state) {
            case LED_STATE_ON:
                return RunCommand({kLedSelector, LED_CMD_ON});
            case LED_STATE_OFF:
                return RunCommand({kLedSelector, LED_CMD_OFF});
            case LED_STATE_MODE_8:
                return RunCommand({kLedSelector, LED_CMD_SET_MODE, 8, 8});
            case LED_STATE_MODE_1:
                return RunCommand({kLedSelector, LED_CMD_SET_MODE, 1, 1});
            default:
                return LED_E_INVALID_STATE;
        }
    });
}

extern "C" ZELV_RESULT ZELV_CALL Zelv_LedGetState(int32_t* state) {
    if (state == nullptr) return E_POINTER;
    return WithOutOfMemoryAsResult([state] {
        HRESULT result = RunCommand({kLedSelector, LED_CMD_GET_STATE});
        if (result == S_OK)
            *state = DecodeLedState(Buffer()[kStateAOffset], Buffer()[kStateBOffset]);
        return result;
    });
}

extern "C" void ZELV_CALL Zelv_LedExit(void) {
    delete std::exchange(library.device, nullptr);
    library.buffer.reset();
}

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_DETACH) library.buffer.reset();
    return TRUE;
}
