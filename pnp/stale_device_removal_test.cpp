#include "pnp/stale_device_removal.h"

#include "platform/sim/machine.h"
#include "testing/sim_test.h"

namespace fwu {
namespace {

class StaleDeviceRemovalTest : public testing::SimTest {
 protected:
  static sim::Node& stale_with(sim::Stale kind) {
    sim::MachineSetup setup;
    setup.stale = kind;
    sim::set_up_machine(setup);
    return sim::node(sim::stale_device());
  }

  // A second stale device after the first one in the ACPI list.
  static sim::Node& another_stale(const sim::Node& like, bool stays) {
    sim::Node copy = like;
    copy.instance_id += u"2";
    copy.problem_after_enable = stays;
    return sim::node(sim::add_node(copy));
  }
};

TEST_F(StaleDeviceRemovalTest, NothingToRepair) {
  EXPECT_EQ(stale_device_removal(), -1);
  sim::Node& stale = stale_with(sim::Stale::kRepaired);
  stale.service = u"hidspi";
  EXPECT_EQ(stale_device_removal(), -1);
  EXPECT_EQ(stale.disables, 0u);
  sim::device_tree().acpi_list = sim::Fault::always();
  EXPECT_EQ(stale_device_removal(), -1);
  EXPECT_EQ(sim::device_tree().device_lists, 0);
}

TEST_F(StaleDeviceRemovalTest, DeviceWithoutAProblemIsLeftAlone) {
  sim::Node& touchpad_transport = sim::node(sim::touchpad_transport());
  EXPECT_EQ(stale_device_removal(), -1);
  EXPECT_EQ(touchpad_transport.disables, 0u);
  EXPECT_EQ(sim::calls().count("CM_Disable_DevNode"), 0u);
}

TEST_F(StaleDeviceRemovalTest, RepairedDeviceWhateverTheCaseOfItsService) {
  sim::Node& stale = stale_with(sim::Stale::kRepaired);
  stale.service = u"HidI2C";
  EXPECT_EQ(stale_device_removal(), 0);
  EXPECT_EQ(stale.disables, 1u);
  EXPECT_EQ(stale.enables, 1u);
  EXPECT_FALSE(sim::reports_problem(sim::stale_device()));
}

TEST_F(StaleDeviceRemovalTest, ProblemThatStaysGivesOne) {
  stale_with(sim::Stale::kStays);
  EXPECT_EQ(stale_device_removal(), 1);
}

TEST_F(StaleDeviceRemovalTest, NotDisableableDeviceIsUninstalledAndDisabledAgain) {
  sim::Node& stale = stale_with(sim::Stale::kRepaired);
  stale.not_disableable = sim::Fault::next(1);
  stale.on_uninstall = sim::Removal::kReinstalled;
  EXPECT_EQ(stale_device_removal(), 0);
  EXPECT_EQ(stale.uninstalls, 1u);
  EXPECT_EQ(sim::calls().count("CM_Disable_DevNode"), 2u);

  sim::Node& gone = stale_with(sim::Stale::kRepaired);
  gone.not_disableable = sim::Fault::next(1);
  gone.on_uninstall = sim::Removal::kGone;
  EXPECT_EQ(stale_device_removal(), 1);
  EXPECT_EQ(gone.uninstalls, 1u);
}

TEST_F(StaleDeviceRemovalTest, ADeviceStillInTroubleDecidesWhereverItIsListed) {
  // Every matching device is restarted, and one that stays in trouble is told whether the system
  // lists it before or after one that came back.
  sim::Node& first = stale_with(sim::Stale::kRepaired);
  sim::Node& second = another_stale(first, /*stays=*/true);
  EXPECT_EQ(stale_device_removal(), 1);
  EXPECT_EQ(second.enables, 1u);

  sim::Node& first_stays = stale_with(sim::Stale::kStays);
  sim::Node& second_repaired = another_stale(first_stays, /*stays=*/false);
  EXPECT_EQ(stale_device_removal(), 1);
  EXPECT_EQ(second_repaired.enables, 1u);
  EXPECT_EQ(sim::device_tree().device_lists, 0);

  sim::Node& both = stale_with(sim::Stale::kRepaired);
  another_stale(both, /*stays=*/false);
  EXPECT_EQ(stale_device_removal(), 0);
}

TEST_F(StaleDeviceRemovalTest, FailedReadsSkipTheDevice) {
  sim::Node& stale = stale_with(sim::Stale::kRepaired);
  stale.service_read = sim::Fault::next(1);
  EXPECT_EQ(stale_device_removal(), -1);
  stale.status = sim::Fault::next(1);
  EXPECT_EQ(stale_device_removal(), -1);
  EXPECT_EQ(stale.disables, 0u);
  stale.enable = sim::Fault::next(1);
  EXPECT_EQ(stale_device_removal(), 1);
}

}  // namespace
}  // namespace fwu
