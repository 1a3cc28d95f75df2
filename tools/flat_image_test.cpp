#include "tools/flat_image.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "image/hex_test_lines.h"
#include "testing/sim_test.h"

namespace fwu::tools {
namespace {

using fwu::testing::hex_line;
using fwu::testing::linear_base_line;
using Gaps = std::vector<std::pair<uint64_t, uint64_t>>;

class FlatImageTest : public fwu::testing::SimTest {
 protected:
  bool layout(const std::string& text, FlatLayout* result) {
    FirmwareImage image(text.data(), text.size());
    EXPECT_EQ(image.parse(), 0);
    return flat_layout(image, result);
  }
};

TEST_F(FlatImageTest, SpansFromTheLowestToTheHighestByteWithGapsBetween) {
  FlatLayout flat;
  // In text order: a region at 0x2000, one overlapping it, then a lower one, and an empty one
  // far above that takes no room.
  ASSERT_TRUE(layout(hex_line(0x2000, 0, {1, 2, 3, 4}) + hex_line(0x2002, 0, {5, 6, 7}) +
                         hex_line(0x1000, 0, {8}) + hex_line(0x9000, 0, {}),
                     &flat));
  EXPECT_EQ(flat.base, 0x1000u);
  EXPECT_EQ(flat.size, 0x1005u);
  EXPECT_EQ(flat.gaps, (Gaps{{1, 0xFFF}}));
}

TEST_F(FlatImageTest, RefusesImagesWithoutBytesOrPastTheAddressSpace) {
  FlatLayout flat;
  EXPECT_FALSE(layout(hex_line(0x1000, 0, {}), &flat));
  EXPECT_FALSE(layout(linear_base_line(0xFFFF) + hex_line(0xFFFF, 0, {1, 2}), &flat));
  EXPECT_TRUE(layout(linear_base_line(0xFFFF) + hex_line(0xFFFF, 0, {1}), &flat));
  EXPECT_EQ(flat.base, 0xFFFFFFFFu);
  EXPECT_EQ(flat.size, 1u);
}

}  // namespace
}  // namespace fwu::tools
