// Restarting the touchpad's transport device once new firmware is in, so that the touchpad
// comes back running it.
#pragma once

#include "device/device_connection.h"

namespace fwu {

// Finds the device node behind the connection's interface path, takes its parent (the transport
// device that the touchpad's HID interface hangs under), disables and enables it, and checks
// that it came back without a problem. A transport device that cannot be disabled is first
// removed through the class installer, when it is among the present ACPI HID-class devices.
// Closes the connection before the disable, on every path past the instance ID read.
// 0 when the transport device was disabled, came back (by enable or by re-enumeration) and
// shows no problem; -1 otherwise. A closed connection makes no platform call.
int device_restart(DeviceConnection& connection);

}  // namespace fwu
