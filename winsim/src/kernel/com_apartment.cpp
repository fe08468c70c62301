// The COM apartment of each thread: CoInitializeEx counts initialisations per thread, as
// COM does, and CoUninitialize undoes one.
#include <atomic>

#include <winsim/bench.h>
#include <winsim/system.h>

namespace {

struct Apartment {
    unsigned depth = 0;
    DWORD model = 0;
};
thread_local Apartment apartment;
std::atomic<long> liveApartments{0};

HRESULT Enter(DWORD model) {
    if (apartment.depth == 0) {
        apartment.model = model;
        ++liveApartments;
    } else if (apartment.model != model) {
        return RPC_E_CHANGED_MODE;
    }
    return apartment.depth++ == 0 ? S_OK : S_FALSE;
}

}  // namespace

HRESULT WINAPI CoInitializeEx(LPVOID, DWORD coInit) {
    const DWORD model = coInit & COINIT_APARTMENTTHREADED;
    uint32_t code = 0;
    if (winsim::TakeFault("CoInitializeEx", &code)) {
        const auto armed = static_cast<HRESULT>(code);
        // An armed success code (S_FALSE: "already initialised") still initialises, so the
        // caller's matching CoUninitialize stays balanced.
        if (SUCCEEDED(armed)) Enter(model);
        return armed;
    }
    return Enter(model);
}

void WINAPI CoUninitialize() {
    winsim::CountCall("CoUninitialize");
    if (apartment.depth == 0) return;
    if (--apartment.depth == 0) --liveApartments;
}

long winsim::LiveApartments() { return liveApartments; }
