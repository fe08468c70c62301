// CZelvDeviceControl on its own: the byte-count lookup and what Exchange refuses.
#include <vector>

#include "bench_fixture.h"
#include "zelv_device_control.h"

namespace glintlamp {
namespace {

constexpr HRESULT kInjected = static_cast<HRESULT>(0x80041099);

using DeviceControlTest = FreshLibraryTest;

TEST_F(DeviceControlTest, GetMaxBytesOfADeviceThatFailedBeforeTheLookupWritesNothing) {
    Firmware().deviceClassPresent = false;
    CZelvDeviceControl device;
    ASSERT_EQ(device.InitResult(), LED_E_CLASS_NOT_FOUND);
    int32_t maxBytes = -7;
    EXPECT_EQ(device.GetMaxBytes(&maxBytes), LED_E_CLASS_NOT_FOUND);
    EXPECT_EQ(maxBytes, -7);
}

TEST_F(DeviceControlTest, GetMaxBytesAfterAFailedLookupGivesTheDefault) {
    winsim::ArmFault("IWbemClassObject::GetPropertyQualifierSet", 1, kInjected);
    CZelvDeviceControl device;
    EXPECT_EQ(device.InitResult(), kInjected);
    int32_t maxBytes = -7;
    EXPECT_EQ(device.GetMaxBytes(&maxBytes), S_OK);
    EXPECT_EQ(maxBytes, 128);
    BYTE buffer[128] = {3, 0xFD, 1, 0};
    EXPECT_EQ(device.Exchange(buffer), kInjected) << "the failed device still sends nothing";
    EXPECT_EQ(winsim::Firmware().commands(), 0u);
}

TEST_F(DeviceControlTest, TheEndOfTheQualifierListLeavesTheDeviceReady) {
    Firmware().maxKind = devicesim::MaxQualifier::Absent;
    CZelvDeviceControl device;
    EXPECT_EQ(device.InitResult(), S_OK);
    int32_t maxBytes = -7;
    EXPECT_EQ(device.GetMaxBytes(&maxBytes), S_OK);
    EXPECT_EQ(maxBytes, 128);
}

TEST_F(DeviceControlTest, NullPointersAreRefused) {
    CZelvDeviceControl device;
    EXPECT_EQ(device.GetMaxBytes(nullptr), E_POINTER);
    EXPECT_EQ(device.Exchange({}), E_POINTER);
}

TEST_F(DeviceControlTest, ALengthByteReachingPastTheArrayIsRefusedAndNothingIsSent) {
    CZelvDeviceControl device;
    ASSERT_EQ(device.InitResult(), S_OK);
    for (BYTE length : {BYTE{128}, BYTE{200}, BYTE{255}}) {
        winsim::ResetBench();
        long arraysBefore = winsim::Live(winsim::Resource::SafeArray);
        std::vector<BYTE> buffer(128, 0);
        buffer[0] = length;
        EXPECT_EQ(device.Exchange(buffer), DISP_E_BADINDEX) << int(length);
        // Elements 0 to 127 went in; element 128 was the first refused and the last tried.
        EXPECT_EQ(winsim::CallCount("SafeArrayPutElement"), 129u);
        EXPECT_EQ(winsim::CallCount("IWbemServices::ExecMethod"), 0u);
        EXPECT_EQ(winsim::Live(winsim::Resource::SafeArray), arraysBefore);
    }
    EXPECT_EQ(winsim::Firmware().commands(), 0u);
}

TEST_F(DeviceControlTest, TheLastElementOfTheArrayCanBeUsed) {
    CZelvDeviceControl device;
    std::vector<BYTE> buffer(128, 0);
    buffer[0] = 127;
    buffer[1] = 0xFD;
    buffer[127] = 0x5A;
    EXPECT_EQ(device.Exchange(buffer), S_OK);
    ASSERT_EQ(winsim::Firmware().lastRequest().size(), 128u);
    EXPECT_EQ(winsim::Firmware().lastRequest()[127], 0x5A);
}

// A buffer shorter than the device's array: the answer stops at the buffer's end and a
// request that counts bytes beyond it is not sent. The byte after the buffer is a guard.
TEST_F(DeviceControlTest, ABufferShorterThanTheArrayBoundsTheRequestAndTheAnswer) {
    Firmware().maxValue = 200;
    Firmware().lengthByte = 0xFF;
    CZelvDeviceControl device;
    ASSERT_EQ(device.InitResult(), S_OK);
    std::vector<BYTE> storage(129, 0);
    storage[128] = 0x5A;
    const LedRequestBuffer buffer(storage.data(), 128);

    buffer[0] = 3;
    buffer[1] = 0xFD;
    buffer[2] = 1;
    EXPECT_EQ(device.Exchange(buffer), S_OK);
    EXPECT_EQ(winsim::Firmware().lastRequest().size(), 200u);
    EXPECT_EQ(buffer[0], 0xFF) << "the answer came back";
    EXPECT_EQ(storage[128], 0x5A);

    buffer[0] = 150;
    EXPECT_EQ(device.Exchange(buffer), E_INVALIDARG);
    EXPECT_EQ(winsim::Firmware().commands(), 1u) << "nothing more was sent";
}

}  // namespace
}  // namespace glintlamp
