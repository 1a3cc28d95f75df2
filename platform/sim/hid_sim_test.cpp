#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/hid.h"
#include "platform/sim/device_test_support.h"
#include "platform/sim/hid_world.h"
#include "platform/sim/machine.h"
#include "testing/sim_test.h"

namespace sim {
namespace {

using namespace sim::testing;
using platform::hid::Attributes;
using platform::hid::Device;
using platform::hid::InterfaceList;
using platform::hid::InterfacePath;
using platform::hid::PreparsedData;

struct Seen {
  Attributes attributes;
  std::vector<uint8_t> report_ids;
};

// Walks the present interfaces the way a host does and gives what each one shows.
std::vector<Seen> walk() {
  std::vector<Seen> seen;
  InterfaceList list = InterfaceList::present();
  for (uint32_t i = 0; list.select(i); ++i) {
    InterfacePath path;
    if (!list.read_detail(list.detail_size(), &path)) continue;
    Device device = Device::open(path);
    Seen each;
    if (!device.get_attributes(&each.attributes)) continue;
    PreparsedData data = PreparsedData::get(device);
    uint16_t count = 0;
    if (data.feature_value_caps_count(&count) && count > 0) {
      data.feature_value_report_ids(count, &each.report_ids);
    }
    seen.push_back(each);
  }
  return seen;
}

using HidSimTest = fwu::testing::SimTest;

TEST_F(HidSimTest, DefaultMachineListsEveryInterfaceInAStableOrder) {
  std::vector<Seen> seen = walk();
  ASSERT_EQ(seen.size(), 6u);
  // keyboard, touchscreen of another vendor on 0x1042, the touchpad's three collections, mouse
  EXPECT_EQ(seen[0].attributes.vendor_id, 0x2E5D);
  EXPECT_EQ(seen[1].attributes.vendor_id, 0x4D21);
  EXPECT_EQ(seen[1].attributes.product_id, 0x1042);
  EXPECT_EQ(seen[1].report_ids, std::vector<uint8_t>{7});
  for (int i = 2; i <= 4; ++i) {
    EXPECT_EQ(seen[i].attributes.vendor_id, 0x3A7C);
    EXPECT_EQ(seen[i].attributes.product_id, 0x1042);
  }
  EXPECT_EQ(seen[2].report_ids, (std::vector<uint8_t>{1, 3}));
  EXPECT_TRUE(seen[3].report_ids.empty());
  EXPECT_EQ(seen[4].report_ids, std::vector<uint8_t>{7});
  EXPECT_EQ(seen[5].attributes.vendor_id, 0x5E11);
  EXPECT_EQ(touchpad_interface(), 4);

  // Everything the walk took is released.
  const HidWorld& world = hid_world();
  EXPECT_EQ(world.open_handles, 0);
  EXPECT_EQ(world.preparsed_data, 0);
  EXPECT_EQ(world.interface_lists, 0);
  EXPECT_EQ(world.interface_paths, 0);
  EXPECT_EQ(calls().count("CreateFileW"), calls().count("CloseHandle"));
  EXPECT_EQ(calls().count("HidD_GetPreparsedData"), calls().count("HidD_FreePreparsedData"));
}

TEST_F(HidSimTest, ResourcesAreCountedWhileHeld) {
  InterfaceList list = InterfaceList::present();
  ASSERT_TRUE(list.select(4));
  InterfacePath path;
  ASSERT_TRUE(list.read_detail(list.detail_size(), &path));
  Device device = Device::open(path);
  PreparsedData data = PreparsedData::get(device);
  ASSERT_TRUE(device.is_valid() && data.is_valid());
  const HidWorld& world = hid_world();
  EXPECT_EQ(world.interface_lists, 1);
  EXPECT_EQ(world.interface_paths, 1);
  EXPECT_EQ(world.open_handles, 1);
  EXPECT_EQ(world.preparsed_data, 1);

  Device moved = std::move(device);
  device = std::move(moved);
  device.close();
  device.close();
  EXPECT_EQ(world.open_handles, 0);
  EXPECT_EQ(calls().count("CloseHandle"), 1u);
  PreparsedData other = std::move(data);
  data = std::move(other);
  data = PreparsedData();
  EXPECT_EQ(world.preparsed_data, 0);
  InterfacePath taken = std::move(path);
  taken.reset();
  EXPECT_EQ(world.interface_paths, 0);
  list = InterfaceList();
  EXPECT_EQ(world.interface_lists, 0);
}

TEST_F(HidSimTest, DetailRecordAndOpenFollowTheirContracts) {
  InterfaceList list = InterfaceList::present();
  ASSERT_TRUE(list.select(0));
  EXPECT_FALSE(list.select(6));  // the end of the list
  uint32_t size = list.detail_size();
  const std::u16string& path_text = hid_world().interfaces[0].path;
  EXPECT_EQ(size, 4 + 2 * (path_text.size() + 1));
  InterfacePath path;
  EXPECT_FALSE(list.read_detail(size - 2, &path));
  EXPECT_FALSE(path.is_present());
  ASSERT_TRUE(list.read_detail(size, &path));
  EXPECT_EQ(std::u16string(path.device_path()), path_text);

  // A path that no interface has does not open.
  EXPECT_FALSE(Device::open(InterfacePath()).is_valid());
  EXPECT_EQ(hid_world().open_handles, 0);
}

TEST_F(HidSimTest, CountedFaultsFailOneCallEach) {
  HidInterface& touchpad_collection = hid_world().interfaces[touchpad_interface()];
  touchpad_collection.detail_size = Fault::next(1);
  touchpad_collection.detail_read = Fault::next(1);
  touchpad_collection.open = Fault::next(1);
  touchpad_collection.attributes = Fault::next(1);
  touchpad_collection.preparsed = Fault::next(1);
  touchpad_collection.caps = Fault::next(1);
  touchpad_collection.value_caps = Fault::next(1);

  InterfaceList list = InterfaceList::present();
  ASSERT_TRUE(list.select(4));
  EXPECT_EQ(list.detail_size(), 0u);
  uint32_t size = list.detail_size();
  ASSERT_GT(size, 0u);
  InterfacePath path;
  EXPECT_FALSE(list.read_detail(size, &path));
  ASSERT_TRUE(list.read_detail(size, &path));
  EXPECT_FALSE(Device::open(path).is_valid());
  Device device = Device::open(path);
  ASSERT_TRUE(device.is_valid());
  Attributes attributes;
  EXPECT_FALSE(device.get_attributes(&attributes));
  EXPECT_TRUE(device.get_attributes(&attributes));
  EXPECT_FALSE(PreparsedData::get(device).is_valid());
  PreparsedData data = PreparsedData::get(device);
  uint16_t count = 0;
  EXPECT_FALSE(data.feature_value_caps_count(&count));
  ASSERT_TRUE(data.feature_value_caps_count(&count));
  EXPECT_EQ(count, 1);
  std::vector<uint8_t> ids;
  EXPECT_FALSE(data.feature_value_report_ids(count, &ids));
  ASSERT_TRUE(data.feature_value_report_ids(count, &ids));
  EXPECT_EQ(ids, std::vector<uint8_t>{7});

  // The list itself.
  hid_world().list = Fault::always();
  EXPECT_FALSE(InterfaceList::present().is_valid());
}

TEST_F(HidSimTest, ValueCapsMayComeBackFewer) {
  HidInterface& collection = hid_world().interfaces[2];  // report IDs 1 and 3
  collection.value_caps_limit = 1;
  Device device = open_interface(2);
  PreparsedData data = PreparsedData::get(device);
  std::vector<uint8_t> ids;
  ASSERT_TRUE(data.feature_value_report_ids(2, &ids));
  EXPECT_EQ(ids, std::vector<uint8_t>{1});
}

TEST_F(HidSimTest, OtherDevicesTakeTheirOwnReportsOnly) {
  Device screen = open_interface(1);  // another vendor's device with a report 7
  Report report = reset_device();
  EXPECT_TRUE(send(screen, report));
  Report answer = get(screen);
  ASSERT_EQ(answer.size(), kReportLength);
  EXPECT_EQ(get16(answer, 1), 0);  // no status from it
  EXPECT_TRUE(touchpad().received.empty());

  Device collection = open_interface(2);  // the touchpad's collection without report 7
  EXPECT_FALSE(send(collection, report));
  EXPECT_TRUE(get(collection).empty());
}

TEST_F(HidSimTest, CallLogShowsEveryCallInOrder) {
  Device device = open_touchpad();
  calls().names.clear();
  Report status = get(device);
  device.close();
  EXPECT_EQ(calls().names, (std::vector<std::string>{"HidD_GetFeature", "CloseHandle"}));
  calls().names.clear();
  // A closed device makes no call of its own but logs the attempt, so a host test sees it.
  EXPECT_TRUE(get(device).empty());
  EXPECT_EQ(calls().names, std::vector<std::string>{"HidD_GetFeature"});
}

}  // namespace
}  // namespace sim
