#pragma once
// Test-side access to the simulated firmware that the stand-in's WMI serves in "root\wmi".
#include <device.h>

namespace winsim {

// The one device behind class "ZelvDeviceControl"; its config decides which classes and
// qualifiers WMI shows and how "Control" answers.
devicesim::Device& Firmware();
// Replaces the device with a fresh one (LED unknown, no commands seen).
void ResetFirmware(devicesim::DeviceConfig config = {});

}  // namespace winsim
