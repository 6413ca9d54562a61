#pragma once

#include <string>

#include "dongle/HidPort.h"

// The dongle as the last successful discovery found it: its device path,
// which the main window compares with device-change notices, and its report
// lengths. Written by whichever thread runs a dongle exchange and read by the
// GUI thread, so access is locked.
HidDeviceInfo dongleDevice();
void setDongleDevice(const HidDeviceInfo& device);

// Device-change notices name interfaces in whatever letter case the system
// chose; A to Z are folded, every other byte must match. False while no
// dongle has been found.
bool isDonglePath(const std::string& interfaceName);
