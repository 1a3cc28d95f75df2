#include "platform/linux/logic/device_tree.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace platform::sysfs {
namespace {

namespace fs = std::filesystem;

// A sysfs tree as the kernel lays it out for a HID-over-I2C touchpad, a stopped HID-over-I2C
// client, an I2C client of another kind and a uhid touchpad. Attribute writes land in plain files,
// which take whatever is written; a write the kernel refuses is a directory in the attribute's
// place.
class DeviceTreeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char name[] = "/tmp/fwu-sysfs-XXXXXX";
    ASSERT_NE(mkdtemp(name), nullptr);
    root_ = name;
    fs::create_directories(root_ + "/bus/i2c/drivers/i2c_hid_acpi");
    file("/bus/i2c/drivers/i2c_hid_acpi/bind", "");
    file("/bus/i2c/drivers/i2c_hid_acpi/unbind", "");
    file("/bus/i2c/drivers_probe", "");
    client("i2c-ELAN0001:00", "ELAN0001\n", "acpi:ELAN0001:PNP0C50:\n", true);
    client("i2c-STALE001:00", "ACPI0C50\n", "", false);
    client("i2c-OTHR0001:00", "OTHR0001\n", "acpi:OTHR0001:\n", true);
    hid_device(kI2c + "/i2c-ELAN0001:00/0018:3A7C:1042.0001", "hidraw0");
    hid_device(kUhid + "/0018:3A7C:1042.0002", "hidraw1");
  }
  void TearDown() override { fs::remove_all(root_); }

  void file(const std::string& path, const std::string& text) {
    std::ofstream(root_ + path) << text;
  }
  std::string text_of(const std::string& path) {
    std::ifstream in(root_ + path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
  void client(const std::string& name, const std::string& hid, const std::string& modalias,
              bool bound) {
    std::string device = kI2c + "/" + name;
    std::string companion = "/devices/LNXSYSTM:00/" + name;
    fs::create_directories(root_ + device);
    fs::create_directories(root_ + companion);
    file(companion + "/hid", hid);
    if (!modalias.empty()) file(companion + "/modalias", modalias);
    fs::create_directory_symlink(root_ + companion, root_ + device + "/firmware_node");
    fs::create_directory_symlink(root_ + "/bus/i2c", root_ + device + "/subsystem");
    if (bound) {
      fs::create_directory_symlink(root_ + "/bus/i2c/drivers/i2c_hid_acpi",
                                   root_ + device + "/driver");
    }
    fs::create_directories(root_ + "/bus/i2c/devices");
    fs::create_directory_symlink(root_ + device, root_ + "/bus/i2c/devices/" + name);
  }
  void hid_device(const std::string& device, const std::string& node) {
    fs::create_directories(root_ + device + "/hidraw/" + node);
    fs::create_directory_symlink(root_ + device, root_ + device + "/hidraw/" + node + "/device");
    fs::create_directories(root_ + "/class/hidraw");
    fs::create_directory_symlink(root_ + device + "/hidraw/" + node,
                                 root_ + "/class/hidraw/" + node);
  }
  std::string device(const std::string& path) { return fs::canonical(root_ + path).string(); }

  const std::string kI2c = "/devices/platform/AMDI0010:00/i2c-0";
  const std::string kUhid = "/devices/virtual/misc/uhid";
  std::string root_;
};

TEST_F(DeviceTreeTest, AHidrawNodeLeadsToItsHidDeviceAndThatToItsTransport) {
  DeviceTree tree(root_);
  std::string hid;
  ASSERT_TRUE(tree.hid_device_of("hidraw0", &hid));
  EXPECT_EQ(hid, device(kI2c + "/i2c-ELAN0001:00/0018:3A7C:1042.0001"));
  std::string transport;
  ASSERT_TRUE(tree.parent(hid, &transport));
  EXPECT_EQ(transport, device(kI2c + "/i2c-ELAN0001:00"));

  ASSERT_TRUE(tree.hid_device_of("hidraw1", &hid));
  ASSERT_TRUE(tree.parent(hid, &transport));
  EXPECT_EQ(transport, device(kUhid));

  EXPECT_FALSE(tree.hid_device_of("hidraw7", &hid)) << "no such node";
  EXPECT_FALSE(tree.hid_device_of("../../bus", &hid)) << "not a node's name";
  std::string top;
  EXPECT_FALSE(tree.parent(device("/devices/platform"), &top) && tree.parent(top, &top))
      << "the devices directory itself is no device";
  EXPECT_FALSE(tree.locate(root_ + "/bus/i2c", &top)) << "outside the devices";
}

TEST_F(DeviceTreeTest, ABoundDeviceStopsByItsDriversUnbindAndStartsByItsBind) {
  DeviceTree tree(root_);
  std::string client = device(kI2c + "/i2c-ELAN0001:00");
  std::string driver;
  ASSERT_EQ(tree.stop(client, &driver), Stop::kStopped);
  EXPECT_EQ(driver, device("/bus/i2c/drivers/i2c_hid_acpi"));
  EXPECT_EQ(text_of("/bus/i2c/drivers/i2c_hid_acpi/unbind"), "i2c-ELAN0001:00");
  EXPECT_EQ(text_of("/bus/i2c/drivers/i2c_hid_acpi/bind"), "") << "not started yet";
  ASSERT_TRUE(tree.start(client, driver));
  EXPECT_EQ(text_of("/bus/i2c/drivers/i2c_hid_acpi/bind"), "i2c-ELAN0001:00");
}

TEST_F(DeviceTreeTest, WhatCannotBeStoppedOrStartedSaysSo) {
  DeviceTree tree(root_);
  std::string driver = "unchanged";
  EXPECT_EQ(tree.stop(device(kUhid), &driver), Stop::kNoDriver) << "uhid has no driver";
  EXPECT_EQ(tree.stop(device(kI2c + "/i2c-STALE001:00"), &driver), Stop::kNoDriver);
  EXPECT_EQ(driver, "unchanged");
  EXPECT_FALSE(tree.start(device(kUhid), "")) << "no driver to bind to";

  std::string client = device(kI2c + "/i2c-ELAN0001:00");
  fs::remove(root_ + "/bus/i2c/drivers/i2c_hid_acpi/unbind");
  fs::create_directory(root_ + "/bus/i2c/drivers/i2c_hid_acpi/unbind");
  EXPECT_EQ(tree.stop(client, &driver), Stop::kFailed) << "the driver kept it";
  fs::remove(root_ + "/bus/i2c/drivers/i2c_hid_acpi/bind");
  fs::create_directory(root_ + "/bus/i2c/drivers/i2c_hid_acpi/bind");
  EXPECT_FALSE(tree.start(client, device("/bus/i2c/drivers/i2c_hid_acpi")));
}

TEST_F(DeviceTreeTest, AProblemIsNoDriverAndAGoneDeviceHasNoStatus) {
  DeviceTree tree(root_);
  bool problem = true;
  ASSERT_TRUE(tree.status(device(kI2c + "/i2c-ELAN0001:00"), &problem));
  EXPECT_FALSE(problem);
  ASSERT_TRUE(tree.status(device(kI2c + "/i2c-STALE001:00"), &problem));
  EXPECT_TRUE(problem);
  std::string gone = device(kI2c + "/i2c-OTHR0001:00");
  fs::remove_all(gone);
  EXPECT_FALSE(tree.status(gone, &problem));
}

TEST_F(DeviceTreeTest, TheRepairListsHidOverI2cClientsByNameAndProbesThemOnTheirBus) {
  DeviceTree tree(root_);
  std::vector<std::string> clients = tree.hid_over_i2c_clients();
  EXPECT_EQ(clients, (std::vector<std::string>{device(kI2c + "/i2c-ELAN0001:00"),
                                               device(kI2c + "/i2c-STALE001:00")}));
  ASSERT_TRUE(tree.probe(device(kI2c + "/i2c-STALE001:00")));
  EXPECT_EQ(text_of("/bus/i2c/drivers_probe"), "i2c-STALE001:00");
  EXPECT_FALSE(tree.probe(device(kUhid))) << "a device of no bus cannot be probed";
  EXPECT_TRUE(DeviceTree(root_ + "/none").hid_over_i2c_clients().empty());
}

TEST(HidrawTransferTest, OnlyTheWholeReportIsASuccess) {
  EXPECT_TRUE(whole_report(531, 531));
  EXPECT_FALSE(whole_report(530, 531)) << "a short answer";
  EXPECT_FALSE(whole_report(0, 531));
  EXPECT_FALSE(whole_report(-1, 531)) << "EIO from a device that answered with an error";
  EXPECT_FALSE(whole_report(532, 531));
}

}  // namespace
}  // namespace platform::sysfs
