// The one procedure that rewrites the touchpad's firmware.
#pragma once

#include <cstdint>

#include "resources/version.h"

namespace fwu {

// The firmware version of the image the program carries.
constexpr uint16_t kTargetFirmwareVersion = FWU_FIRMWARE_VERSION;

// Process-wide: the firmware version the device reported (0 until it has been read).
uint16_t firmware_version();
void reset_firmware_version_for_test();

// Opens the touchpad, reads its firmware version, decides whether an update is due, asks for
// consent (unless silent), and walks the bootloader through format, write, flush, validation and
// a final reset; then restarts the touchpad's device node. Tells the outcome in a box (unless
// silent) and in the log, and returns the result code: 0 or 1 when the firmware was written
// (1: the computer may need a restart), 1001 for a failed update, 1003 when the device could not
// be opened, 1004 / 1005 for the same / a newer version, 1007 when the user declined.
int run_update();

}  // namespace fwu
