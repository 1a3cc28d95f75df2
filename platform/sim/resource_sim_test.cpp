#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "image/firmware_image.h"
#include "platform/resource.h"
#include "platform/sim/sim.h"
#include "testing/sim_test.h"

namespace fwu {
namespace {

class FirmwareResourceTest : public testing::SimTest {};

std::string text_of(std::span<const char> resource) {
  return std::string(resource.begin(), resource.end());
}

TEST_F(FirmwareResourceTest, ShippedImageIsOneRegionAcrossSixtyFourKilobytes) {
  std::span<const char> text = platform::firmware_resource();
  std::string lines = text_of(text);
  EXPECT_EQ(std::count(lines.begin(), lines.end(), '\n'), 4059);
  EXPECT_EQ(std::count(lines.begin(), lines.end(), '\r'), 4059);
  EXPECT_EQ(lines.substr(lines.size() - 13), ":00000001FF\r\n");

  FirmwareImage image(text.data(), text.size());
  ASSERT_EQ(image.parse(), 0);
  ASSERT_EQ(image.region_count(), 1u);
  EXPECT_EQ(image.region_address(0), 0x00021820u);
  ASSERT_EQ(image.region_bytes(0).size(), 64880u);
  EXPECT_EQ(image.region_address(0) + image.region_bytes(0).size() - 1, 0x0003158Fu);
  EXPECT_EQ(image.second_image_word(), 0x00021828u);
  EXPECT_EQ(image_fitness(image), ImageFitness::kFit);
}

TEST_F(FirmwareResourceTest, TestsReplaceTheResourceUntilReset) {
  std::string shipped = text_of(platform::firmware_resource());
  sim::set_firmware_resource(":00000001FF\r\n");
  EXPECT_EQ(text_of(platform::firmware_resource()), ":00000001FF\r\n");
  sim::set_firmware_resource("");
  EXPECT_TRUE(platform::firmware_resource().empty());
  EXPECT_EQ(text_of(sim::embedded_firmware_resource()), shipped);
  sim::reset();
  EXPECT_EQ(text_of(platform::firmware_resource()), shipped);
}

}  // namespace
}  // namespace fwu
