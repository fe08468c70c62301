#pragma once
// The simulated firmware's state, kept in files of the Wine prefix so that the test can
// switch the device from outside and a restarted service process finds the same LED:
//   C:\glintsim\device.cfg  the device configuration (devicesim key=value text), read per call
//   C:\glintsim\led.state   the two LED bytes the firmware holds
//   C:\glintsim\led.txt     the LED as a word ("on", "off", ...), for the test to read
//   C:\glintsim\hold        while it exists the firmware keeps a command waiting (at most
//                            kMaxHoldMs) and shows C:\glintsim\holding, so a test can catch
//                            the service in the middle of an LED call
#include "device.h"

namespace firmware_files {

devicesim::DeviceConfig LoadConfig();
// The device with its current configuration and the LED bytes it last held.
devicesim::Device LoadDevice();
// Keeps the LED bytes for the next call and publishes the LED word.
void SaveLed(const devicesim::Device& device);
// Waits while the test holds the firmware.
void WaitWhileHeld();

}  // namespace firmware_files
