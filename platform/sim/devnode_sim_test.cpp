#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/devnode.h"
#include "platform/sim/device_test_support.h"
#include "platform/sim/device_tree.h"
#include "platform/sim/machine.h"
#include "testing/sim_test.h"

namespace sim {
namespace {

using namespace sim::testing;
namespace devnode = platform::devnode;
using devnode::Disable;

bool touchpad_listed() {
  platform::hid::InterfaceList list = platform::hid::InterfaceList::present();
  for (uint32_t i = 0; list.select(i); ++i) {
    platform::hid::InterfacePath path;
    if (!list.read_detail(list.detail_size(), &path)) continue;
    if (path.device_path() == hid_world().interfaces[touchpad_interface()].path) return true;
  }
  return false;
}

// The transport device of the touchpad, found from its interface as a host finds it.
DevNode transport_from_interface() {
  platform::hid::InterfacePath path = path_of(touchpad_interface());
  std::u16string instance_id;
  bool is_string = false;
  DevNode node_of_interface = 0;
  DevNode transport = 0;
  if (!devnode::interface_instance_id(path, &instance_id, &is_string) || !is_string) return 0;
  if (!devnode::locate(instance_id, &node_of_interface)) return 0;
  if (!devnode::parent(node_of_interface, &transport)) return 0;
  return transport;
}

bool problem(DevNode node) {
  bool has_problem = false;
  EXPECT_TRUE(devnode::status(node, &has_problem));
  return has_problem;
}

struct Listed {
  DevNode node;
  std::u16string service;
};

std::vector<Listed> acpi_hid_devices() {
  std::vector<Listed> listed;
  devnode::AcpiHidDevices devices = devnode::AcpiHidDevices::present();
  DevNode node = 0;
  for (uint32_t i = 0; devices.select(i, &node); ++i) {
    Listed each{node, u""};
    devices.service_name(&each.service);
    listed.push_back(each);
  }
  return listed;
}

using DevnodeSimTest = fwu::testing::SimTest;

TEST_F(DevnodeSimTest, TheTouchpadHangsUnderItsTransportDevice) {
  DevNode transport = transport_from_interface();
  EXPECT_EQ(transport, touchpad_transport());
  const Node& node = sim::node(transport);
  EXPECT_EQ(node.instance_id, u"ACPI\\TPD0001\\1");
  EXPECT_EQ(node.service, u"hidi2c");
  EXPECT_FALSE(problem(transport));

  // Instance IDs are found whatever their case; a faulty read comes back typed otherwise.
  DevNode located = 0;
  EXPECT_TRUE(devnode::locate(u"acpi\\tpd0001\\1", &located));
  EXPECT_EQ(located, transport);
  device_tree().instance_id_not_string = Fault::next(1);
  std::u16string instance_id;
  bool is_string = true;
  EXPECT_TRUE(
      devnode::interface_instance_id(path_of(touchpad_interface()), &instance_id, &is_string));
  EXPECT_FALSE(is_string);
  device_tree().instance_id = Fault::next(1);
  EXPECT_FALSE(
      devnode::interface_instance_id(path_of(touchpad_interface()), &instance_id, &is_string));
  sim::node(transport).locate = Fault::next(1);
  EXPECT_FALSE(devnode::locate(u"ACPI\\TPD0001\\1", &located));
  EXPECT_FALSE(devnode::parent(transport, &located));  // an ACPI device is a root here
}

TEST_F(DevnodeSimTest, RestartMakesTheInterfacesVanishAndReturnInTheCurrentMode) {
  DevNode transport = touchpad_transport();
  // The image is formatted and not written: the touchpad can only come back in its bootloader.
  {
    platform::hid::Device device = open_touchpad();
    ASSERT_TRUE(send(device, invoke_bootloader()));
    advance_ms(kBootMs);
    ASSERT_TRUE(send(device, format_image_for(9, 1, 0)));
    // Held open, the interface keeps its device from being disabled.
    EXPECT_EQ(devnode::disable(transport), Disable::kFailed);
  }
  EXPECT_EQ(touchpad_product_id(), kFirmwareProductId);  // decided when it appeared
  uint32_t appearance = hid_world().interfaces[touchpad_interface()].appearance;

  ASSERT_EQ(devnode::disable(transport), Disable::kDisabled);
  EXPECT_FALSE(touchpad_listed());
  EXPECT_TRUE(problem(transport));
  EXPECT_FALSE(open_touchpad().is_valid());

  ASSERT_TRUE(devnode::enable(transport));
  EXPECT_FALSE(problem(transport));
  EXPECT_TRUE(touchpad_listed());
  EXPECT_EQ(hid_world().interfaces[touchpad_interface()].appearance, appearance + 1);
  EXPECT_EQ(touchpad_product_id(), kBootloaderProductId);
  EXPECT_EQ(hid_world().open_handles, 0);
}

TEST_F(DevnodeSimTest, AfterAnUpdateTheRestartedTouchpadRunsTheNewFirmware) {
  {
    platform::hid::Device device = open_touchpad();
    ASSERT_TRUE(send(device, invoke_bootloader()));
  }
  DevNode transport = touchpad_transport();
  ASSERT_EQ(devnode::disable(transport), Disable::kDisabled);
  ASSERT_TRUE(devnode::enable(transport));
  // The image was still valid: the transport device's start boots the firmware again.
  EXPECT_EQ(touchpad_product_id(), kFirmwareProductId);
  platform::hid::Device device = open_touchpad();
  ASSERT_TRUE(send(device, read_memory(kInfoAddress, 27)));
  EXPECT_EQ(get16(get(device), 19), 16);
}

TEST_F(DevnodeSimTest, EnableRefusedThenReenumerationStartsTheDevice) {
  DevNode transport = touchpad_transport();
  sim::node(transport).enable = Fault::next(1);
  ASSERT_EQ(devnode::disable(transport), Disable::kDisabled);
  EXPECT_FALSE(devnode::enable(transport));
  EXPECT_TRUE(problem(transport));
  EXPECT_TRUE(devnode::reenumerate(transport));
  EXPECT_FALSE(problem(transport));
  EXPECT_TRUE(touchpad_listed());
  EXPECT_EQ(sim::node(transport).reenumerations, 1u);
}

TEST_F(DevnodeSimTest, RestartFailsSetup) {
  MachineSetup setup;
  setup.restart_fails = true;
  set_up_machine(setup);
  DevNode transport = touchpad_transport();
  ASSERT_EQ(devnode::disable(transport), Disable::kDisabled);
  EXPECT_TRUE(devnode::enable(transport));
  EXPECT_TRUE(problem(transport));
  EXPECT_FALSE(devnode::reenumerate(transport));
  EXPECT_FALSE(touchpad_listed());
}

TEST_F(DevnodeSimTest, NotDisableableRemovalAndUninstall) {
  DevNode transport = touchpad_transport();
  sim::node(transport).disableable = false;
  EXPECT_EQ(devnode::disable(transport), Disable::kNotDisableable);

  std::vector<Listed> listed = acpi_hid_devices();
  ASSERT_EQ(listed.size(), 3u);  // keyboard, touchscreen, touchpad; the USB mouse is not ACPI
  EXPECT_EQ(listed[0].service, u"hidspi");
  EXPECT_EQ(listed[1].service, u"hidi2c");
  EXPECT_EQ(listed[2].node, transport);

  {
    devnode::AcpiHidDevices devices = devnode::AcpiHidDevices::present();
    DevNode node = 0;
    ASSERT_TRUE(devices.select(2, &node));
    devices.remove();
    EXPECT_EQ(device_tree().device_lists, 1);
  }
  EXPECT_EQ(device_tree().device_lists, 0);
  EXPECT_EQ(sim::node(transport).removals, 1u);
  // Gone: the second disable fails, its interfaces with it.
  EXPECT_EQ(devnode::disable(transport), Disable::kFailed);
  EXPECT_FALSE(touchpad_listed());
  EXPECT_EQ(acpi_hid_devices().size(), 2u);

  // A device that is reinstalled by its uninstall comes back started.
  DevNode screen = listed[1].node;
  sim::node(screen).on_uninstall = Removal::kReinstalled;
  sim::node(screen).has_problem = true;
  devnode::AcpiHidDevices devices = devnode::AcpiHidDevices::present();
  DevNode node = 0;
  ASSERT_TRUE(devices.select(1, &node));
  ASSERT_EQ(node, screen);
  devices.uninstall();
  EXPECT_EQ(sim::node(screen).uninstalls, 1u);
  EXPECT_FALSE(problem(screen));
  EXPECT_EQ(devnode::disable(screen), Disable::kDisabled);
}

TEST_F(DevnodeSimTest, NotDisableableOnceThenTheSecondDisableDecides) {
  DevNode mouse = sim::find_node(u"USB\\VID_5E11&PID_0002\\8&0A1B2C3D&0&1");
  ASSERT_NE(mouse, 0u);
  sim::node(mouse).not_disableable = Fault::next(1);
  EXPECT_EQ(devnode::disable(mouse), Disable::kNotDisableable);
  EXPECT_EQ(devnode::disable(mouse), Disable::kDisabled);
  sim::node(mouse).disable = Fault::always();
  EXPECT_EQ(devnode::disable(mouse), Disable::kFailed);
}

TEST_F(DevnodeSimTest, StaleDeviceSetups) {
  MachineSetup setup;
  setup.stale = Stale::kRepaired;
  set_up_machine(setup);
  DevNode stale = stale_device();
  ASSERT_NE(stale, 0u);
  EXPECT_TRUE(problem(stale));
  ASSERT_EQ(acpi_hid_devices().back().node, stale);
  ASSERT_EQ(devnode::disable(stale), Disable::kDisabled);
  ASSERT_TRUE(devnode::enable(stale));
  EXPECT_FALSE(problem(stale));

  setup.stale = Stale::kStays;
  set_up_machine(setup);
  ASSERT_EQ(devnode::disable(stale_device()), Disable::kDisabled);
  ASSERT_TRUE(devnode::enable(stale_device()));
  EXPECT_TRUE(problem(stale_device()));

  setup.stale = Stale::kNone;
  set_up_machine(setup);
  EXPECT_EQ(stale_device(), 0u);
  for (const Listed& each : acpi_hid_devices()) EXPECT_FALSE(problem(each.node));
}

TEST_F(DevnodeSimTest, NodeCallFaultsAndAbsentNodes) {
  DevNode transport = touchpad_transport();
  Node& node = sim::node(transport);
  node.status = Fault::next(1);
  node.service_read = Fault::next(1);
  bool has_problem = false;
  EXPECT_FALSE(devnode::status(transport, &has_problem));
  EXPECT_EQ(acpi_hid_devices()[2].service, u"");
  EXPECT_EQ(acpi_hid_devices()[2].service, u"hidi2c");
  device_tree().acpi_list = Fault::next(1);
  EXPECT_FALSE(devnode::AcpiHidDevices::present().is_valid());
  EXPECT_FALSE(devnode::status(0, &has_problem));
  EXPECT_EQ(devnode::disable(999), Disable::kFailed);
  EXPECT_FALSE(devnode::enable(999));
  EXPECT_TRUE(devnode::equal_ignoring_case(u"HIDI2C", u"hidi2c"));
  EXPECT_FALSE(devnode::equal_ignoring_case(u"hidi2c ", u"hidi2c"));
}

}  // namespace
}  // namespace sim
