#include "platform/linux/logic/sysfs_text.h"

#include <gtest/gtest.h>

namespace platform::sysfs {
namespace {

TEST(SysfsTextTest, HidIdIsReadFromItsLineOfTheUevent) {
  HidId id;
  ASSERT_TRUE(parse_hid_id(
      "DRIVER=hid-generic\nHID_ID=0018:00003A7C:00001042\nHID_NAME=uhid touchpad\n", &id));
  EXPECT_EQ(id.bus, 0x18);
  EXPECT_EQ(id.vendor_id, 0x3A7C);
  EXPECT_EQ(id.product_id, 0x1042);
  ASSERT_TRUE(parse_hid_id("HID_ID=0003:00003a7c:0000d0c0", &id)) << "last line, no line end";
  EXPECT_EQ(id.product_id, 0xD0C0);
}

TEST(SysfsTextTest, HidIdsThatDoNotFitOrAreMalformedAreRefused) {
  HidId id{1, 2, 3};
  for (const char* uevent :
       {"HID_NAME=x\n", "HID_ID=0018:00013A7C:00001042\n", "HID_ID=0018:00003A7C\n",
        "HID_ID=0018:00003A7C:\n", "HID_ID=0018:3A7G:1042\n", "HID_ID=0018:000000003A7C:1042\n",
        "XHID_ID=0018:00003A7C:00001042\n", ""}) {
    EXPECT_FALSE(parse_hid_id(uevent, &id)) << uevent;
  }
  EXPECT_EQ(id.vendor_id, 2) << "a refused text leaves the id as it was";
}

TEST(SysfsTextTest, VersionsAndNodeNumbers) {
  uint16_t version = 0;
  EXPECT_TRUE(parse_hex16("0110\n", &version));
  EXPECT_EQ(version, 0x0110);
  EXPECT_FALSE(parse_hex16("10000\n", &version));
  EXPECT_FALSE(parse_hex16("\n", &version));
  EXPECT_FALSE(parse_hex16("01x0", &version));

  uint32_t number = 0;
  EXPECT_TRUE(parse_hidraw_number("hidraw12", &number));
  EXPECT_EQ(number, 12u);
  for (const char* name : {"hidraw", "hidraw1a", "hidrawx", "hiddev0", "hidraw0123456789", "."}) {
    EXPECT_FALSE(parse_hidraw_number(name, &number)) << name;
  }
}

TEST(SysfsTextTest, HidOverI2cIsKnownByItsIdOrACompatibleId) {
  EXPECT_TRUE(is_hid_over_i2c("PNP0C50\n", ""));
  EXPECT_TRUE(is_hid_over_i2c("ACPI0C50\n", ""));
  EXPECT_TRUE(is_hid_over_i2c("MSFT0001\n", "acpi:MSFT0001:PNP0C50:\n"));
  EXPECT_TRUE(is_hid_over_i2c("", "acpi:ELAN0001:ACPI0C50:"));
  EXPECT_FALSE(is_hid_over_i2c("MSFT0001\n", "acpi:MSFT0001:PNP0C51:\n"));
  EXPECT_FALSE(is_hid_over_i2c("PNP0C500\n", "acpi:PNP0C500:\n"));
  EXPECT_FALSE(is_hid_over_i2c("", "of:PNP0C50:\n")) << "not an ACPI modalias";
  EXPECT_FALSE(is_hid_over_i2c("", ""));
}

}  // namespace
}  // namespace platform::sysfs
