#include "app/program.h"

#include "app/notices.h"
#include "app/settings.h"
#include "app/update.h"
#include "device/device_connection.h"
#include "log/inventory.h"
#include "log/log_file.h"
#include "platform/clock.h"
#include "pnp/stale_device_removal.h"

namespace fwu {

namespace {

// A touchpad that did not come back cleanly from an earlier run may be a stale HID-over-I2C
// device: repair those and look once more, with a probe connection held open meanwhile.
int check_again_after_repair() {
  DeviceConnection probe;
  probe.open(kNormalModeProductId, 0);
  stale_device_removal();
  int found = eligible_device_check();
  probe.close();
  return found;
}

}  // namespace

int run_program(std::string_view argument_text, const char* command_line) {
  // An update waits a few hundred times, mostly 6 or 10 ms at a time; at the default tick of
  // about 15.6 ms each of those takes a whole tick, a third more time in all. A finer tick keeps
  // every wait at least as long as asked.
  platform::FineTimer fine_timer;
  read_command_line(argument_text);
  log_line("Running program\n\t %s", command_line);
  start_stamp();

  int exit_code = kExitNoDevice;
  if (eligible_device_check() == 0 && check_again_after_repair() == 0) {
    error_notice(
        u"ERROR: No eligible devices have been found!\n\nThe firmware has not been updated.");
    log_line("ERROR: No eligible devices have been found. The firmware has not been updated.");
  } else {
    exit_code = run_update();
    if (exit_code < 1000) write_inventory_record();
  }

  end_stamp();
  log_line("%s", "");
  return exit_code;
}

}  // namespace fwu
