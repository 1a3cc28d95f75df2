// The touchpad's HID interfaces, as Wine's own SetupAPI and hid.dll show them to a program.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace touchpad_control {

struct TouchpadInterface {
  std::wstring path;  // the device path
  uint16_t product_id = 0;
};

// Every present HID interface of the touchpad's vendor (sim::kTouchpadVendorId), in Wine's order,
// found the way the program finds them: the HID interface list, each path opened with no access
// rights, its attributes read.
std::vector<TouchpadInterface> touchpad_interfaces();

}  // namespace touchpad_control
