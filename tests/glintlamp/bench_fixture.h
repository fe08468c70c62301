#pragma once
// A test on a fresh library, a default firmware and a quiet bench; at the end it releases
// the library and proves that nothing the stand-in counts was left behind.
#include <glintlamp.h>
#include <gtest/gtest.h>
#include <winsim/bench.h>
#include <winsim/firmware.h>

#include "library_state.h"

class FreshLibraryTest : public ::testing::Test {
  protected:
    void SetUp() override {
        Zelv_LedExit();
        glintlamp::library = {};  // as a freshly loaded library
        winsim::ResetFirmware();
        winsim::ResetBench();
        before_ = winsim::LiveNow();
    }
    void TearDown() override {
        winsim::ResetBench();
        Zelv_LedExit();
        ExpectNothingLeaked();
    }
    void ExpectNothingLeaked() const {
        winsim::LiveCounts now = winsim::LiveNow();
        EXPECT_EQ(now.comObjects, before_.comObjects);
        EXPECT_EQ(now.comReferences, before_.comReferences);
        EXPECT_EQ(now.bstrs, before_.bstrs);
        EXPECT_EQ(now.safeArrays, before_.safeArrays);
    }
    static devicesim::DeviceConfig& Firmware() { return winsim::Firmware().config(); }

  private:
    winsim::LiveCounts before_{};
};

// Result codes as the library returns them.
constexpr ZELV_RESULT Result(uint32_t code) { return static_cast<ZELV_RESULT>(code); }
