#include "platform/sim/machine.h"

#include <gtest/gtest.h>

#include <vector>

#include "platform/clock.h"
#include "platform/devnode.h"
#include "platform/sim/device_test_support.h"
#include "testing/sim_test.h"

namespace sim {
namespace {

using namespace sim::testing;
namespace devnode = platform::devnode;

using MachineTest = fwu::testing::SimTest;

TEST_F(MachineTest, ResetGivesTheDefaultMachineBack) {
  MachineSetup setup;
  setup.device = DeviceStart::kNone;
  setup.protocol = 7;
  setup.failures.push_back({Command::kWrite, 1});
  set_up_machine(setup);
  EXPECT_FALSE(open_touchpad().is_valid());

  sim::reset();
  EXPECT_EQ(touchpad().protocol, 9);
  EXPECT_EQ(touchpad().firmware_version, 16);
  EXPECT_EQ(touchpad().mode, Mode::kFirmware);
  EXPECT_FALSE(touchpad().faults[static_cast<size_t>(Command::kWrite)].forever);
  EXPECT_EQ(touchpad_product_id(), kFirmwareProductId);
  EXPECT_EQ(hid_world().interfaces.size(), 6u);
  EXPECT_EQ(stale_device(), 0u);
}

TEST_F(MachineTest, DeviceStarts) {
  MachineSetup setup;
  setup.device = DeviceStart::kBootloader;
  set_up_machine(setup);
  EXPECT_EQ(touchpad_product_id(), kBootloaderProductId);
  EXPECT_EQ(get16(get(open_touchpad()), 1), 0xC35A);

  setup.device = DeviceStart::kNone;
  set_up_machine(setup);
  DevNode found = 0;
  EXPECT_FALSE(devnode::locate(u"ACPI\\TPD0001\\1", &found));
  EXPECT_EQ(hid_world().interfaces[1].vendor_id, 0x4D21);
  EXPECT_TRUE(open_interface(1).is_valid());  // the others are still there
}

TEST_F(MachineTest, AfterRepairOnlyADisableAndEnableBringsTheTouchpadBack) {
  MachineSetup setup;
  setup.device = DeviceStart::kAfterRepair;
  set_up_machine(setup);
  DevNode transport = touchpad_transport();
  EXPECT_FALSE(open_touchpad().is_valid());
  bool has_problem = false;
  ASSERT_TRUE(devnode::status(transport, &has_problem));
  EXPECT_TRUE(has_problem);
  // Enabling a device that is not disabled does not repair it.
  EXPECT_TRUE(devnode::enable(transport));
  EXPECT_FALSE(open_touchpad().is_valid());

  ASSERT_EQ(devnode::disable(transport), devnode::Disable::kDisabled);
  ASSERT_TRUE(devnode::enable(transport));
  ASSERT_TRUE(devnode::status(transport, &has_problem));
  EXPECT_FALSE(has_problem);
  EXPECT_EQ(touchpad_product_id(), kFirmwareProductId);
}

TEST_F(MachineTest, InterfacesOfARestartedTransportAppearInTheirOwnTime) {
  MachineSetup setup;
  setup.device = DeviceStart::kAfterRepair;
  setup.appear_ms = 300;
  set_up_machine(setup);
  DevNode transport = touchpad_transport();
  ASSERT_EQ(devnode::disable(transport), devnode::Disable::kDisabled);
  ASSERT_TRUE(devnode::enable(transport));
  bool has_problem = true;
  ASSERT_TRUE(devnode::status(transport, &has_problem));
  EXPECT_FALSE(has_problem) << "the transport device itself is started";
  EXPECT_FALSE(open_touchpad().is_valid());
  EXPECT_FALSE(touchpad_interfaces_started());
  EXPECT_EQ(touchpad_interfaces_due_in_ms(), 300u);
  advance_ms(299);
  EXPECT_EQ(touchpad_interfaces_due_in_ms(), 1u);
  EXPECT_FALSE(open_touchpad().is_valid());
  advance_ms(1);
  EXPECT_TRUE(touchpad_interfaces_started());
  EXPECT_EQ(touchpad_interfaces_due_in_ms(), 0u);
  EXPECT_TRUE(open_touchpad().is_valid());
  EXPECT_EQ(touchpad_product_id(), kFirmwareProductId);

  // Every start of the transport device takes that time, the restart's too.
  ASSERT_EQ(devnode::disable(transport), devnode::Disable::kDisabled);
  ASSERT_TRUE(devnode::reenumerate(transport));
  EXPECT_FALSE(open_touchpad().is_valid());
  platform::sleep_ms(300);
  EXPECT_TRUE(open_touchpad().is_valid());
}

TEST_F(MachineTest, BuildingTheMachineIsNotLoggedAsProgramCalls) {
  set_up_machine(MachineSetup{});
  EXPECT_TRUE(calls().names.empty());
}

TEST_F(MachineTest, CommandFaultsFromTheSetupReachTheDevice) {
  MachineSetup setup;
  setup.failures.push_back({Command::kReset, 2});
  setup.busy.push_back({Command::kReset, 1});
  set_up_machine(setup);
  platform::hid::Device device = open_touchpad();
  EXPECT_EQ(status_error(device), kErrorNone);
  EXPECT_TRUE(send(device, reset_device()));
  advance_ms(kBootMs);
  EXPECT_EQ(status_error(device), kErrorBusy);
  EXPECT_EQ(status_error(device), kErrorNone);
  EXPECT_FALSE(send(device, reset_device()));
  EXPECT_FALSE(send(device, reset_device()));
}

}  // namespace
}  // namespace sim
