#include <winsim/bench.h>

#include <atomic>
#include <cstdlib>
#include <map>
#include <mutex>
#include <new>

namespace winsim {
namespace {

struct ArmedFault {
    unsigned remaining;  // calls still to let through; 0 = fail the next one
    bool always;
    uint32_t code;
};

struct FaultRegistry {
    std::mutex mutex;
    std::map<std::string, ArmedFault> armed;
    std::map<std::string, unsigned> calls;
    std::vector<std::string> order;
};

FaultRegistry& Registry() {
    static FaultRegistry registry;
    return registry;
}

// A 32-bit process has 2 GiB of user address space, part of it taken by its own image and
// DLLs, so no single block that would fill (nearly) all of it can be had.
std::atomic<std::size_t> refusedBlockSize{0x7FFF0000};

std::atomic<long> liveCounts[static_cast<int>(Resource::Count)];
std::atomic<std::size_t> heapAllocations{0};
std::atomic<unsigned> heapFailureCountdown{0};  // 0 = not armed

// The bench's own bookkeeping (the registry's strings and nodes) is neither counted nor made
// to fail: tests see only the allocations of the code under test.
thread_local bool inBookkeeping = false;
struct Bookkeeping {
    Bookkeeping() { inBookkeeping = true; }
    ~Bookkeeping() { inBookkeeping = false; }
};

}  // namespace

void ArmFault(const std::string& site, unsigned nth, uint32_t code) {
    Bookkeeping scope;
    auto& r = Registry();
    std::lock_guard lock(r.mutex);
    r.armed[site] = ArmedFault{nth == 0 ? 0 : nth - 1, false, code};
}

void ArmFaultAlways(const std::string& site, uint32_t code) {
    Bookkeeping scope;
    auto& r = Registry();
    std::lock_guard lock(r.mutex);
    r.armed[site] = ArmedFault{0, true, code};
}

void DisarmFaults() {
    auto& r = Registry();
    std::lock_guard lock(r.mutex);
    r.armed.clear();
}

unsigned CallCount(const std::string& site) {
    auto& r = Registry();
    std::lock_guard lock(r.mutex);
    auto it = r.calls.find(site);
    return it == r.calls.end() ? 0 : it->second;
}

std::vector<std::string> SitesCalled() {
    auto& r = Registry();
    std::lock_guard lock(r.mutex);
    return r.order;
}

bool TakeFault(const char* site, uint32_t* code) {
    Bookkeeping scope;
    auto& r = Registry();
    std::lock_guard lock(r.mutex);
    if (r.calls[site]++ == 0) r.order.emplace_back(site);
    auto it = r.armed.find(site);
    if (it == r.armed.end()) return false;
    ArmedFault& fault = it->second;
    if (fault.remaining > 0) {
        --fault.remaining;
        return false;
    }
    *code = fault.code;
    if (!fault.always) r.armed.erase(it);
    return true;
}

void ArmHeapFailure(unsigned nth) { heapFailureCountdown = nth; }

std::size_t HeapAllocations() { return heapAllocations; }

std::size_t LimitBlockSize(std::size_t refused) { return refusedBlockSize.exchange(refused); }

void CountLive(Resource kind, int delta) { liveCounts[static_cast<int>(kind)] += delta; }

long Live(Resource kind) { return liveCounts[static_cast<int>(kind)]; }

LiveCounts LiveNow() {
    return {Live(Resource::ComObject), Live(Resource::ComReference), Live(Resource::Bstr),
            Live(Resource::SafeArray), Live(Resource::Handle)};
}

void ResetBench() {
    auto& r = Registry();
    std::lock_guard lock(r.mutex);
    r.armed.clear();
    r.calls.clear();
    r.order.clear();
    heapAllocations = 0;
    heapFailureCountdown = 0;
}

}  // namespace winsim

// GCC takes the malloc and free below for a mismatch with operator new; they are the
// replacements of both.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

// Replaces the global allocation functions for every binary linked with the stand-in, so a
// test can count allocations and make one of them run out. Like a 32-bit Windows process,
// which has 2 GiB of address space, it never grants a block of (nearly) 2 GiB.
void* operator new(std::size_t size) {
    if (winsim::inBookkeeping) {
        if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
        throw std::bad_alloc();
    }
    ++winsim::heapAllocations;
    if (size >= winsim::refusedBlockSize) throw std::bad_alloc();
    unsigned countdown = winsim::heapFailureCountdown.load();
    while (countdown != 0 &&
           !winsim::heapFailureCountdown.compare_exchange_weak(countdown, countdown - 1)) {
    }
    if (countdown == 1) throw std::bad_alloc();
    if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return operator new(size); }
// The non-throwing forms share the counting, and so pair with the deletes below.
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return operator new(size);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept {
    return operator new(size, tag);
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
