#include "pnp/device_restart.h"

#include "platform/sim/machine.h"
#include "testing/sim_test.h"

namespace fwu {
namespace {

class DeviceRestartTest : public testing::SimTest {
 protected:
  void SetUp() override {
    SimTest::SetUp();
    ASSERT_EQ(connection_.open(kNormalModeProductId, kBootloaderReportId), 0);
    sim::calls().names.clear();
  }

  static sim::Node& transport() { return sim::node(sim::touchpad_transport()); }

  static size_t configuration_manager_calls() {
    size_t count = 0;
    for (const std::string& name : sim::calls().names) count += name.rfind("CM_", 0) == 0;
    return count;
  }

  DeviceConnection connection_;
};

TEST_F(DeviceRestartTest, CleanRestartClosesTheConnectionAndTheTouchpadComesBack) {
  EXPECT_EQ(device_restart(connection_), 0);
  EXPECT_FALSE(connection_.is_open());
  EXPECT_EQ(sim::hid_world().open_handles, 0);
  EXPECT_EQ(transport().disables, 1u);
  EXPECT_EQ(transport().enables, 1u);
  EXPECT_EQ(sim::calls().count("CM_Disable_DevNode"), 1u);
  EXPECT_EQ(eligible_device_check(), 1);
}

TEST_F(DeviceRestartTest, NothingHappensWithoutAnOpenConnection) {
  DeviceConnection closed;
  EXPECT_EQ(device_restart(closed), -1);
  connection_.close();
  EXPECT_EQ(device_restart(connection_), -1);
  EXPECT_EQ(configuration_manager_calls(), 0u);
}

TEST_F(DeviceRestartTest, InstanceIdThatIsNoStringLeavesTheConnectionOpen) {
  sim::device_tree().instance_id_not_string = sim::Fault::next(1);
  EXPECT_EQ(device_restart(connection_), -1);
  EXPECT_TRUE(connection_.is_open());
  sim::device_tree().instance_id = sim::Fault::next(1);
  EXPECT_EQ(device_restart(connection_), -1);
  EXPECT_TRUE(connection_.is_open());
  EXPECT_EQ(transport().disables, 0u);
}

TEST_F(DeviceRestartTest, ReenumerationStandsInForARefusedEnable) {
  transport().enable = sim::Fault::always();
  EXPECT_EQ(device_restart(connection_), 0);
  EXPECT_EQ(transport().reenumerations, 1u);
}

TEST_F(DeviceRestartTest, RefusedEnableAndReenumerationFail) {
  transport().enable = sim::Fault::always();
  transport().reenumerate = sim::Fault::always();
  EXPECT_EQ(device_restart(connection_), -1);
  EXPECT_FALSE(connection_.is_open());
}

TEST_F(DeviceRestartTest, ProblemAfterTheEnableFails) {
  transport().problem_after_enable = true;
  EXPECT_EQ(device_restart(connection_), -1);
}

TEST_F(DeviceRestartTest, LocateOrParentFailingEndsTheRestartAfterTheClose) {
  sim::Node& hid_node =
      sim::node(sim::hid_world().interfaces[static_cast<size_t>(sim::touchpad_interface())].node);
  hid_node.locate = sim::Fault::next(1);
  EXPECT_EQ(device_restart(connection_), -1);
  EXPECT_FALSE(connection_.is_open());
  ASSERT_EQ(connection_.open(kNormalModeProductId, kBootloaderReportId), 0);
  hid_node.parent_read = sim::Fault::next(1);
  EXPECT_EQ(device_restart(connection_), -1);
  EXPECT_EQ(transport().disables, 0u);
}

TEST_F(DeviceRestartTest, NotDisableableTransportIsRemovedThenTheSecondDisableDecides) {
  transport().not_disableable = sim::Fault::next(1);
  transport().on_remove = sim::Removal::kGone;
  EXPECT_EQ(device_restart(connection_), -1);
  EXPECT_EQ(transport().removals, 1u);
  EXPECT_EQ(sim::calls().count("CM_Disable_DevNode"), 2u);
  EXPECT_EQ(sim::device_tree().device_lists, 0);
}

TEST_F(DeviceRestartTest, TransportOutsideTheAcpiListIsNotRemoved) {
  transport().enumerator = u"USB";
  transport().not_disableable = sim::Fault::next(1);
  EXPECT_EQ(device_restart(connection_), 0);
  EXPECT_EQ(transport().removals, 0u);
  EXPECT_EQ(transport().disables, 1u);

  ASSERT_EQ(connection_.open(kNormalModeProductId, kBootloaderReportId), 0);
  transport().not_disableable = sim::Fault::always();
  EXPECT_EQ(device_restart(connection_), -1);
  EXPECT_EQ(transport().removals, 0u);
}

}  // namespace
}  // namespace fwu
