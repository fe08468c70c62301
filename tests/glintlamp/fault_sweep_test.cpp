// Every platform call on the detect path fails in turn: the export returns that failure (or
// its one translation) and, once the library is released, nothing is left behind.
#include <map>
#include <set>
#include <string>

#include "bench_fixture.h"

namespace {

constexpr uint32_t kInjected = 0x80041099;

// What Zelv_LedDetect returns when the nth call of `site` fails with `code`.
ZELV_RESULT ExpectedResult(const std::string& site, unsigned nth, uint32_t code) {
    // Calls that cannot fail, and calls that give something back whose result the library
    // has no use for.
    static const std::set<std::string> kNoEffect = {
        "VariantInit",          "SysFreeString",        "InitializeCriticalSection",
        "EnterCriticalSection", "LeaveCriticalSection", "DeleteCriticalSection",
        "VariantClear",         "SafeArrayDestroy",     "IWbemQualifierSet::EndEnumeration",
    };
    if (kNoEffect.contains(site)) return 0;
    // The blanket on the per-call connection is best effort.
    if (site == "CoSetProxyBlanket" && nth == 2) return 0;
    if (site == "SafeArrayCreateVector") return Result(0x80041006);  // WBEM_E_OUT_OF_MEMORY
    if (site == "SysAllocString") return Result(0x8007000E);         // E_OUTOFMEMORY
    // A missing device class has the library's own code.
    if (site == "IWbemServices::GetObject" && nth == 1 && code == 0x80041002)
        return LED_E_CLASS_NOT_FOUND;
    return Result(code);
}

using FaultSweepTest = FreshLibraryTest;

TEST_F(FaultSweepTest, EveryCallOnTheDetectPathFailsCleanly) {
    ASSERT_EQ(Zelv_LedDetect(nullptr, nullptr, nullptr), 0);
    std::map<std::string, unsigned> calls;
    for (const std::string& site : winsim::SitesCalled()) calls[site] = winsim::CallCount(site);
    Zelv_LedExit();
    // The path must reach the firmware; a sweep over a shortened path proves little.
    ASSERT_TRUE(calls.contains("IWbemServices::ExecMethod"));
    ASSERT_TRUE(calls.contains("IWbemQualifierSet::Next"));

    for (const auto& [site, count] : calls) {
        // GetObject also fails with "not found", which only the device class translates.
        std::set<uint32_t> codes = {kInjected};
        if (site == "IWbemServices::GetObject") codes.insert(0x80041002);
        for (unsigned nth = 1; nth <= count; ++nth) {
            for (uint32_t code : codes) {
                SCOPED_TRACE(testing::Message()
                             << site << " call " << nth << " fails with 0x" << std::hex << code);
                glintlamp::library = {};
                winsim::ResetBench();
                winsim::ArmFault(site, nth, code);
                EXPECT_EQ(Zelv_LedDetect(nullptr, nullptr, nullptr),
                          ExpectedResult(site, nth, code));
                winsim::DisarmFaults();
                Zelv_LedExit();
                ExpectNothingLeaked();
            }
        }
    }
}

// A call that reports success (here S_FALSE) yet hands back no object, cookie or data breaks its
// contract; the library fails the command instead of using the null, leaks nothing, and
// works again after Zelv_LedExit.
TEST_F(FaultSweepTest, ASuccessThatHandsBackNothingIsAFailure) {
    constexpr ZELV_RESULT kUnexpected = Result(0x8000FFFF);
    const struct {
        const char* site;
        unsigned nth;
        ZELV_RESULT result;
    } kCases[] = {
        {"CoCreateInstance", 1, kUnexpected},  // the locator
        {"IWbemLocator::QueryInterface", 1, kUnexpected},
        {"IWbemLocator::ConnectServer", 1, kUnexpected},
        {"CoCreateInstance", 2, kUnexpected},  // the global interface table
        {"IGlobalInterfaceTable::RegisterInterfaceInGlobal", 1, kUnexpected},  // no cookie
        {"IWbemServices::GetObject", 1, kUnexpected},
        {"IWbemServices::GetObject", 2, kUnexpected},
        {"IWbemClassObject::GetMethod", 1, kUnexpected},
        {"IWbemClassObject::SpawnInstance", 1, kUnexpected},
        {"IWbemClassObject::SpawnInstance", 2, kUnexpected},
        {"IWbemClassObject::SpawnInstance", 3, kUnexpected},
        {"IWbemClassObject::GetPropertyQualifierSet", 1, kUnexpected},
        {"IGlobalInterfaceTable::GetInterfaceFromGlobal", 1, kUnexpected},
        {"IWbemServices::ExecMethod", 1, Result(0x80041005)},  // no answer: WBEM_E_TYPE_MISMATCH
        {"IWbemClassObject::QueryInterface", 1, kUnexpected},
        {"SafeArrayAccessData", 1, kUnexpected},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(testing::Message() << c.site << " call " << c.nth);
        glintlamp::library = {};
        winsim::ResetBench();
        winsim::ArmFault(c.site, c.nth, 1);  // S_FALSE
        EXPECT_EQ(Zelv_LedDetect(nullptr, nullptr, nullptr), c.result);
        EXPECT_EQ(winsim::CallCount(c.site), c.nth) << "the armed call was reached";
        Zelv_LedExit();
        ExpectNothingLeaked();
        EXPECT_EQ(Zelv_LedDetect(nullptr, nullptr, nullptr), 0);
        Zelv_LedExit();
    }
}

}  // namespace
