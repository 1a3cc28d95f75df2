#include "platform/linux/logic/report_descriptor.h"

#include <gtest/gtest.h>

#include <vector>

namespace platform::hidraw {
namespace {

std::vector<uint8_t> ids_of(const std::vector<uint8_t>& descriptor, bool* ok = nullptr) {
  std::vector<uint8_t> ids;
  bool parsed = feature_value_report_ids(descriptor.data(), descriptor.size(), &ids);
  if (ok != nullptr) *ok = parsed;
  EXPECT_TRUE(ok != nullptr || parsed);
  return ids;
}

// The touchpad's vendor collection: report 7, 530 bytes of feature data.
const std::vector<uint8_t> kTouchpadVendorCollection = {
    0x06, 0x00, 0xFF,  // Usage Page (vendor)
    0x09, 0x01,        // Usage
    0xA1, 0x01,        // Collection (application)
    0x85, 0x07,        //   Report ID 7
    0x09, 0x02,        //   Usage
    0x15, 0x00,        //   Logical Minimum 0
    0x26, 0xFF, 0x00,  //   Logical Maximum 255
    0x75, 0x08,        //   Report Size 8
    0x96, 0x12, 0x02,  //   Report Count 530
    0xB1, 0x02,        //   Feature (Data, Var, Abs)
    0xC0,              // End Collection
};

TEST(ReportDescriptorTest, TheTouchpadsVendorReportIsOneFeatureValueOfReportSeven) {
  EXPECT_EQ(ids_of(kTouchpadVendorCollection), std::vector<uint8_t>{7});
}

TEST(ReportDescriptorTest, ButtonsArraysAndPaddingAreNoValues) {
  const std::vector<uint8_t> descriptor = {
      0xA1, 0x01,              // Collection
      0x85, 0x03,              //   Report ID 3
      0x75, 0x01,              //   Report Size 1: buttons
      0x95, 0x08, 0xB1, 0x02,  // Feature (Var)
      0x85, 0x04,              //   Report ID 4
      0x75, 0x08,              //   Report Size 8
      0xB1, 0x00,              //   Feature (Array)
      0xB1, 0x03,              //   Feature (Constant, Var): padding
      0x81, 0x02,              //   Input (Var): not a feature
      0x91, 0x02,              //   Output (Var): not a feature
      0x85, 0x05,              //   Report ID 5
      0xB1, 0x02,              //   Feature (Var), 8 bits: the one value
      0xC0,
  };
  EXPECT_EQ(ids_of(descriptor), std::vector<uint8_t>{5});
}

TEST(ReportDescriptorTest, EachUsageOrUsageRangeIsOneCapabilityAndTheLocalsEndWithTheItem) {
  const std::vector<uint8_t> descriptor = {
      0x85, 0x02, 0x75, 0x10,  // Report ID 2, Report Size 16
      0x09, 0x30, 0x09, 0x31,  // Usage, Usage
      0x19, 0x40, 0x29, 0x45,  // Usage Minimum, Usage Maximum: one range
      0x95, 0x08, 0xB1, 0x02,  // Report Count 8, Feature (Var): three capabilities
      0x85, 0x09, 0xB1, 0x02,  // Report ID 9, Feature (Var) with no usage of its own: one
  };
  EXPECT_EQ(ids_of(descriptor), (std::vector<uint8_t>{2, 2, 2, 9}));
}

TEST(ReportDescriptorTest, WithoutReportIdsEverythingIsReportZero) {
  const std::vector<uint8_t> descriptor = {0x75, 0x08, 0x95, 0x04, 0xB1, 0x02};
  EXPECT_EQ(ids_of(descriptor), std::vector<uint8_t>{0});
}

TEST(ReportDescriptorTest, PushAndPopKeepTheReportIdAndSize) {
  const std::vector<uint8_t> descriptor = {
      0x85, 0x07, 0x75, 0x08,  // Report ID 7, Report Size 8
      0xA4,                    // Push
      0x85, 0x08, 0x75, 0x01,  // Report ID 8, Report Size 1
      0xB1, 0x02,              // a button of report 8
      0xB4,                    // Pop: report 7, 8 bits again
      0xB1, 0x02,              // a value of report 7
  };
  EXPECT_EQ(ids_of(descriptor), std::vector<uint8_t>{7});
}

TEST(ReportDescriptorTest, FourAndTwoByteDataAndLongItemsAreSteppedOver) {
  const std::vector<uint8_t> descriptor = {
      0x27, 0xFF, 0xFF, 0xFF, 0x7F,  // Logical Maximum, four bytes
      0xFE, 0x02, 0x10, 0xB1, 0x02,  // a long item whose data looks like a Feature item
      0x86, 0x07, 0x00,              // Report ID 7 in two bytes
      0x76, 0x08, 0x00,              // Report Size 8 in two bytes
      0xB2, 0x02, 0x01,              // Feature (Var, Buffered Bytes) in two bytes
  };
  EXPECT_EQ(ids_of(descriptor), std::vector<uint8_t>{7});
  // A Report Count of four bytes whose last byte, read as an item, would be a Report ID.
  const std::vector<uint8_t> count = {0x85, 0x07, 0x75, 0x08, 0x97, 0x02,
                                      0x01, 0x00, 0x85, 0xB1, 0x02};
  EXPECT_EQ(ids_of(count), std::vector<uint8_t>{7});
}

TEST(ReportDescriptorTest, MalformedDescriptorsAreRefused) {
  const std::vector<std::vector<uint8_t>> malformed = {
      {0x85, 0x07, 0x75},                                // an item cut short
      {0x27, 0xFF, 0xFF},                                // four bytes announced, two there
      {0xFE, 0x05, 0x10, 0x00},                          // a long item cut short
      {0xFE},                                            // a long item's prefix alone
      {0x85, 0x00, 0x75, 0x08, 0xB1, 0x02},              // report ID 0
      {0x86, 0x07, 0x01, 0x75, 0x08, 0xB1, 0x02},        // report ID 263
      {0xB4},                                            // Pop without Push
      {0xA4, 0xA4, 0xA4, 0xA4, 0xA4},                    // five Pushes
      {0xC0},                                            // End Collection alone
      {0xA1, 0x01, 0x85, 0x07, 0x75, 0x08, 0xB1, 0x02},  // a collection left open
  };
  for (const std::vector<uint8_t>& descriptor : malformed) {
    bool ok = true;
    ids_of(descriptor, &ok);
    EXPECT_FALSE(ok) << "descriptor of " << descriptor.size() << " bytes starting "
                     << int{descriptor[0]};
  }
  bool ok = false;
  ids_of({0xA4, 0xA4, 0xA4, 0xA4, 0xB4, 0xB4, 0xB4, 0xB4}, &ok);
  EXPECT_TRUE(ok) << "four Pushes fit";
}

}  // namespace
}  // namespace platform::hidraw
