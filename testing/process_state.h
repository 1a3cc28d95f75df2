// Puts every process-wide value of the program back to its start value, as in a new process.
#pragma once

#include "app/settings.h"
#include "app/update.h"
#include "device/device_connection.h"
#include "image/firmware_image.h"
#include "log/log_file.h"

namespace fwu::testing {

inline void reset_process_state() {
  reset_settings_for_test();
  reset_bootloader_mode_for_test();
  reset_firmware_version_for_test();
  reset_hex_decoder_for_test();
  reset_log_for_test();
}

}  // namespace fwu::testing
