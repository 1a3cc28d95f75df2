#include "app/program.h"

#include "app/notices.h"
#include "app/settings.h"
#include "app/update.h"
#include "device/device_connection.h"
#include "log/inventory.h"
#include "log/log_file.h"
#include "log/trust.h"
#include "platform/clock.h"
#include "platform/process.h"
#include "pnp/stale_device_removal.h"

namespace fwu {

namespace {

// How long a touchpad that the repair brought back may take to show its interfaces, and how
// often it is looked for meanwhile. The enable returns once the transport device is asked to
// start; the system starts it and lists and starts its HID collections afterwards, on a thread of
// its own, with no call that waits for them.
constexpr uint32_t kAppearWaitMs = 5000;
constexpr uint32_t kAppearPollMs = 250;

// A touchpad that did not come back cleanly from an earlier run may be a stale HID-over-I2C
// device: repair those and look once more, with a probe connection held open meanwhile. When the
// repair acted on a device, the touchpad may be on its way back: it is looked for until it is
// there or kAppearWaitMs have passed. When nothing was repaired, nothing is coming: one look.
int check_again_after_repair() {
  DeviceConnection probe;
  probe.open(kNormalModeProductId, 0);
  int repaired = stale_device_removal();
  int found = eligible_device_check();
  for (uint32_t waited = 0; found == 0 && repaired != -1 && waited < kAppearWaitMs;
       waited += kAppearPollMs) {
    platform::sleep_ms(kAppearPollMs);
    found = eligible_device_check();
  }
  probe.close();
  return found;
}

// However long another run may hold the run mutex without anyone being to blame: an update
// without a box takes well under a minute, and one that waits longer waits on a box that may never
// be answered (a run started without /S as SYSTEM in session 0, where nobody sees it).
constexpr uint32_t kRunMutexWaitMs = 10 * 60 * 1000;

// One run at a time per machine: a second run waits for the first to end, then makes its own
// checks as usual (it finds the touchpad updated, or one left in its bootloader to recover). Two
// runs at once would interleave their bootloader commands. But no run waits for ever: one that
// still waits after kRunMutexWaitMs ends without touching the touchpad (the holder may wake and
// go on flashing at any time), rather than leave a silent deployment hanging until the next boot;
// its exit code, that of no usable device, is one a deployment tool tries again.
// Anybody may make a mutex of this name first; one made by an account that is not trusted
// belongs to whoever squats on the name, so it is left alone and the run goes on without it, as
// when the mutex can be neither made nor opened.
platform::RunMutex one_run_at_a_time(bool* timed_out) {
  platform::MutexOpen opened;
  platform::RunMutex mutex = platform::RunMutex::create_or_open(&opened);
  if (!mutex.is_open()) return {};
  if (opened == platform::MutexOpen::kExisting) {
    platform::Security security;
    if (!mutex.security(&security) || !security.has_owner ||
        !TrustedAccounts::of_this_process().contains(security.owner)) {
      return {};
    }
  }
  // An abandoned mutex is acquired all the same: its holder has ended.
  platform::MutexWait waited = mutex.wait(kRunMutexWaitMs);
  *timed_out = waited == platform::MutexWait::kTimedOut;
  if (waited == platform::MutexWait::kFailed || *timed_out) return {};
  return mutex;
}

}  // namespace

int run_program(std::string_view argument_text, const char* command_line) {
  read_command_line(argument_text);
  // Held from the start, for mup.xml at the end: nothing renamed meanwhile changes which it is.
  platform::HeldFile current_directory = hold_current_directory();
  bool waited_in_vain = false;
  platform::RunMutex run_mutex = one_run_at_a_time(&waited_in_vain);
  // An update waits a few hundred times, mostly 6 or 10 ms at a time; at the default tick of
  // about 15.6 ms each of those takes a whole tick, a third more time in all. A finer tick keeps
  // every wait at least as long as asked. (Taken after the run mutex: a run that waits for
  // another one does not hold the whole machine's timer fine meanwhile.)
  platform::FineTimer fine_timer;
  log_line("Running program\n\t %s", command_line);
  start_stamp();

  int exit_code = kExitNoDevice;
  if (waited_in_vain) {
    error_notice(
        u"ERROR: Another run of the firmware update is still going on!\n\nThe firmware has not "
        u"been updated.");
    log_line(
        "ERROR: Another run of the firmware update is still going on. The firmware has not been "
        "updated.");
  } else if (eligible_device_check() == 0 && check_again_after_repair() == 0) {
    error_notice(
        u"ERROR: No eligible devices have been found!\n\nThe firmware has not been updated.");
    log_line("ERROR: No eligible devices have been found. The firmware has not been updated.");
  } else {
    exit_code = run_update();
    if (exit_code < 1000) write_inventory_record(current_directory);
  }

  end_stamp();
  log_line("%s", "");
  return exit_code;
}

}  // namespace fwu
