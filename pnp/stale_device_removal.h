// Repairing HID-over-I2C devices that did not come back cleanly.
#pragma once

namespace fwu {

// Restarts every present ACPI-enumerated HID-class device of service "hidi2c" that reports a
// problem: disables it (uninstalling it first when it cannot be disabled, then disabling it
// again) and enables it. Every matching device is handled. -1 when the device list is not
// available or nothing matched, 0 when every matching device came back without a problem, 1 when
// one did not.
int stale_device_removal();

}  // namespace fwu
