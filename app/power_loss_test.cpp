// Power loss at every command of an update: the touchpad loses power right after it, comes back
// as a real one does, and the user starts the program again.
#include <cstdio>
#include <span>
#include <string>
#include <vector>

#include "app/program.h"
#include "image/firmware_image.h"
#include "platform/resource.h"
#include "platform/sim/device_tree.h"
#include "platform/sim/hid_world.h"
#include "platform/sim/touchpad.h"
#include "testing/machine_checks.h"
#include "testing/sequence.h"
#include "testing/sim_test.h"

namespace fwu {
namespace {

constexpr char kArguments[] = "/vLOGFILE=fw.log";

class PowerLossTest : public testing::SimTest {
 protected:
  static int run_as_new_process() {
    testing::reset_process_state();
    sim::ui().default_answer = sim::kIdYes;
    return run_program(kArguments, "fwupdate.exe /vLOGFILE=fw.log");
  }

  // The touchpad runs firmware 17 from a valid image that holds the shipped image.
  static bool updated() {
    if (sim::touchpad().mode != sim::Mode::kFirmware || !sim::touchpad().image_valid ||
        sim::running_version() != kTargetFirmwareVersion) {
      return false;
    }
    return testing::flash_holds_shipped_image();
  }
};

TEST_F(PowerLossTest, EveryCommandOfAnUpdateCanBeRecoveredByRunningAgain) {
  ASSERT_EQ(run_as_new_process(), kExitUpdated);
  const uint32_t commands = sim::touchpad().commands_received;
  ASSERT_GT(commands, 128u) << "an update of the shipped image sends at least its 125 writes";

  uint32_t recovered = 0;
  for (uint32_t cut_after = 1; cut_after <= commands; ++cut_after) {
    SCOPED_TRACE("power cut after command " + std::to_string(cut_after));
    sim::reset();
    sim::touchpad().power_cut_after = cut_after;
    int first = run_as_new_process();
    EXPECT_EQ(first, kExitUpdateFailed) << "a run that lost the touchpad cannot have updated it";
    EXPECT_FALSE(sim::touchpad().powered);
    EXPECT_TRUE(testing::everything_released()) << "first run";

    sim::power_up();
    int second = run_as_new_process();
    bool ok = updated() && testing::everything_released();
    EXPECT_TRUE(ok) << "first run " << first << ", second run " << second << ", touchpad in "
                    << (sim::touchpad().mode == sim::Mode::kFirmware ? "firmware " : "bootloader ")
                    << sim::running_version();
    // The second run either updates or finds the image that the first run completed.
    EXPECT_TRUE(second == kExitUpdated || second == kExitSameVersion) << second;
    EXPECT_TRUE(testing::no_irregularity()) << "in either run";
    recovered += ok ? 1 : 0;
  }
  std::printf("power loss: %u of %u recovered\n", recovered, commands);
}

}  // namespace
}  // namespace fwu
