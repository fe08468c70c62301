// One Zelv_LedSetState round trip against the simulated firmware: the time it takes and what
// it allocates (operator new, system strings and safe arrays).
#include <benchmark/benchmark.h>
#include <glintlamp.h>
#include <platform.h>
#include <winsim/bench.h>
#include <winsim/firmware.h>

namespace {

void SetStateRoundTrip(benchmark::State& state) {
    winsim::ResetFirmware();
    if (Zelv_LedDetect(nullptr, nullptr, nullptr) != 0) {
        state.SkipWithError("the simulated firmware was not detected");
        return;
    }
    winsim::ResetBench();
    const std::size_t bstrCallsBefore = winsim::CallCount("SysAllocString");
    const std::size_t arrayCallsBefore = winsim::CallCount("SafeArrayCreateVector");
    uint32_t led = LED_STATE_ON;
    while (state.KeepRunning()) {
        ZELV_RESULT result = Zelv_LedSetState(led);
        benchmark::DoNotOptimize(result);
        led = led == LED_STATE_ON ? LED_STATE_OFF : LED_STATE_ON;
    }
    const double calls = static_cast<double>(state.iterations());
    state.counters["heap_per_call"] = static_cast<double>(winsim::HeapAllocations()) / calls;
    state.counters["bstr_per_call"] =
        static_cast<double>(winsim::CallCount("SysAllocString") - bstrCallsBefore) / calls;
    state.counters["safearray_per_call"] =
        static_cast<double>(winsim::CallCount("SafeArrayCreateVector") - arrayCallsBefore) / calls;
    Zelv_LedExit();
}
BENCHMARK(SetStateRoundTrip);

}  // namespace

BENCHMARK_MAIN();
