#pragma once
// Test-side control of the host stand-in: fault injection, heap exhaustion and live-resource
// accounting. Only tests and the stand-in include this header; the product never does.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace winsim {

// ---- Fault injection -------------------------------------------------------------------
// Every stand-in call passes its site name (the Win32 name, "Interface::Method" for COM
// methods, e.g. "IWbemServices::GetObject" or "SysAllocString") through TakeFault, which
// counts the call and says whether a test armed it to fail.

// Fails the nth call of `site` from now (1 = the next one) with `code`. A success code
// other than 0 (S_FALSE, WBEM_S_NO_MORE_DATA, ...) makes the call return it at once, handing
// back nothing: a call that reports success with a null object, array or data pointer.
void ArmFault(const std::string& site, unsigned nth, uint32_t code);
// Fails every call of `site` from now on with `code`.
void ArmFaultAlways(const std::string& site, uint32_t code);
void DisarmFaults();
// Calls of `site` since the last ResetBench.
unsigned CallCount(const std::string& site);
// Every site called since the last ResetBench, in order of its first call.
std::vector<std::string> SitesCalled();

// For the stand-in's implementations: counts the call; true (with the armed code) when
// this call must fail.
bool TakeFault(const char* site, uint32_t* code);
// For the stand-in's calls that cannot fail: counts the call; a fault armed on it is used up.
inline void CountCall(const char* site) {
    uint32_t ignored = 0;
    TakeFault(site, &ignored);
}

// ---- Heap --------------------------------------------------------------------------------
// The test binaries' operator new goes through here: it counts allocations and can be told
// to run out. A block of (nearly) 2 GiB is never granted, as in a 32-bit process.
void ArmHeapFailure(unsigned nth);  // the nth operator new from now throws std::bad_alloc
std::size_t HeapAllocations();      // operator new calls since the last ResetBench
// Sets the smallest block the heap refuses, until set again (ResetBench leaves it), and
// returns the one before. A fuzzer lowers it so that a huge request fails at once instead of
// filling the machine.
std::size_t LimitBlockSize(std::size_t refused);

// ---- Live resources ------------------------------------------------------------------------
enum class Resource { ComObject, ComReference, Bstr, SafeArray, Handle, Count };
// For the stand-in's implementations: one more (+1) or one fewer (-1) live resource.
void CountLive(Resource kind, int delta);
long Live(Resource kind);

struct LiveCounts {
    long comObjects, comReferences, bstrs, safeArrays, handles;
    bool operator==(const LiveCounts&) const = default;
};
LiveCounts LiveNow();

// Forgets armed faults, call counts and the heap counter. Live counts are not reset: a test
// compares them with what was live before it ran.
void ResetBench();

}  // namespace winsim
