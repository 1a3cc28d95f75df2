#include "image/firmware_image.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "image/hex_test_lines.h"
#include "testing/sim_test.h"

namespace fwu {
namespace {

using testing::end_line;
using testing::hex_line;
using testing::linear_base_line;

struct Region {
  uint32_t address;
  std::vector<uint8_t> bytes;
  bool operator==(const Region&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Region& region) {
  return out << "{0x" << std::hex << region.address << std::dec << ", " << region.bytes.size()
             << " bytes}";
}

std::vector<uint8_t> counting(size_t length, uint8_t first = 0) {
  std::vector<uint8_t> bytes(length);
  for (size_t i = 0; i < length; ++i) bytes[i] = static_cast<uint8_t>(first + i);
  return bytes;
}

class FirmwareImageTest : public testing::SimTest {
 protected:
  int parse(const std::string& text) {
    image_.emplace(text.data(), text.size());
    return image_->parse();
  }

  std::vector<Region> regions() const {
    std::vector<Region> result;
    for (size_t i = 0; i < image_->region_count(); ++i) {
      std::span<const uint8_t> bytes = image_->region_bytes(i);
      result.push_back({image_->region_address(i), {bytes.begin(), bytes.end()}});
    }
    return result;
  }

  std::optional<FirmwareImage> image_;
};

const std::string kTwoRecords = hex_line(0x0100, 0, {1, 2, 3}) + hex_line(0x0103, 0, {4, 5});
const std::vector<Region> kTwoRecordsRegion = {{0x0100, {1, 2, 3, 4, 5}}};

TEST_F(FirmwareImageTest, CrLfAndLfLineEndsGiveTheSameRegions) {
  std::string lf =
      hex_line(0x0100, 0, {1, 2, 3}, "\n") + hex_line(0x0103, 0, {4, 5}, "\n") + end_line("\n");
  EXPECT_EQ(parse(lf), 0);
  EXPECT_EQ(regions(), kTwoRecordsRegion);
  EXPECT_EQ(parse(kTwoRecords + end_line()), 0);
  EXPECT_EQ(regions(), kTwoRecordsRegion);
}

TEST_F(FirmwareImageTest, LinesThatAreNoRecordCorruptTheImageOnlyBeforeTheEnd) {
  for (const std::string& bad :
       std::vector<std::string>{"\r\n", "\n", " " + end_line(), "garbage\r\n"}) {
    SCOPED_TRACE(bad);
    // Before the end-of-file record: corrupted, and the regions read so far stay.
    EXPECT_EQ(parse(kTwoRecords + bad + end_line()), kImageCorrupted);
    EXPECT_EQ(regions(), kTwoRecordsRegion);
    // After it, the line is never looked at.
    EXPECT_EQ(parse(kTwoRecords + end_line() + bad + hex_line(0x9000, 0, {9})), 0);
    EXPECT_EQ(regions(), kTwoRecordsRegion);
  }
  EXPECT_EQ(parse("\xEF\xBB\xBF" + kTwoRecords + end_line()), kImageCorrupted);
  EXPECT_EQ(parse(kTwoRecords + ":0000000001\r\n"), kImageCorrupted);  // checksum
  EXPECT_EQ(parse(":\r\n"), kImageCorrupted);
}

TEST_F(FirmwareImageTest, TextWithoutEndRecordKeepsAllItsData) {
  EXPECT_EQ(parse(kTwoRecords), 0);
  EXPECT_EQ(regions(), kTwoRecordsRegion);
  std::string unterminated = kTwoRecords.substr(0, kTwoRecords.size() - 2);
  EXPECT_EQ(parse(unterminated), 0);
  EXPECT_EQ(regions(), kTwoRecordsRegion);
  EXPECT_EQ(parse(""), 0);
  EXPECT_EQ(parse(linear_base_line(2) + end_line()), 0);
  EXPECT_EQ(regions(), std::vector<Region>{});
}

// A line over the limit must not pass for the end of the text: the image would be cut short.
TEST_F(FirmwareImageTest, LineOverTheLimitBeforeTheEndCorruptsTheImage) {
  std::string full = hex_line(0x0200, 0, counting(26), "");
  ASSERT_EQ(full.size(), 63u);
  EXPECT_EQ(parse(kTwoRecords + full + "\n" + end_line()), 0);
  EXPECT_EQ(regions(), (std::vector<Region>{kTwoRecordsRegion[0], {0x0200, counting(26)}}));
  // One character more, even one that a line within the limit may carry, and the image is cut.
  EXPECT_EQ(parse(kTwoRecords + full + "\r\n" + end_line()), kImageCorrupted);
  EXPECT_EQ(regions(), kTwoRecordsRegion);
  EXPECT_EQ(parse(kTwoRecords + full + " "), kImageCorrupted);
  EXPECT_EQ(parse(kTwoRecords + end_line() + full + " \n"), 0);
  // Carriage returns alone as line ends make the whole text one long line.
  std::string carriage_returns;
  for (uint16_t i = 0; i < 4; ++i) carriage_returns += hex_line(i * 16, 0, counting(16), "\r");
  EXPECT_EQ(parse(carriage_returns + end_line("\r")), kImageCorrupted);
  EXPECT_EQ(regions(), std::vector<Region>{});
}

TEST_F(FirmwareImageTest, OnlyDataRecordsMakeRegions) {
  std::string text = hex_line(0x10, 0, {1}) + hex_line(0, 0x03, {0x12, 0x34, 0x56, 0x78}) +
                     hex_line(0, 0x05, {0x00, 0x02, 0x18, 0x29}) + hex_line(0, 0x06, {7, 7}) +
                     hex_line(0, 0xFF, {}) + hex_line(0x11, 0, {2}) + end_line();
  EXPECT_EQ(parse(text), 0);
  EXPECT_EQ(regions(), (std::vector<Region>{{0x10, {1, 2}}}));
}

TEST_F(FirmwareImageTest, OnlyARecordThatContinuesTheLastRegionJoinsIt) {
  std::string text = hex_line(0x2000, 0, {1, 2}) +  // region 0
                     hex_line(0x2004, 0, {3}) +     // gap after 0x2002: region 1
                     hex_line(0x2004, 0, {4}) +     // repeats 0x2004: region 2
                     hex_line(0x2000, 0, {5}) +     // below, overlapping region 0: region 3
                     hex_line(0x2001, 0, {}) +      // empty, at the end of region 3: no change
                     hex_line(0x2001, 0, {6}) +     // joins region 3
                     hex_line(0x1000, 0, {}) +      // empty elsewhere: empty region 4
                     hex_line(0x1000, 0, {7}) +     // joins the empty region
                     end_line();
  EXPECT_EQ(parse(text), 0);
  EXPECT_EQ(regions(),
            (std::vector<Region>{
                {0x2000, {1, 2}}, {0x2004, {3}}, {0x2004, {4}}, {0x2000, {5, 6}}, {0x1000, {7}}}));
}

TEST_F(FirmwareImageTest, RegionsRunOnAcrossSixtyFourKilobytes) {
  // One record runs past address field 0xFFFF without wrapping; the next continues after an
  // extended linear address record. The odd length stays.
  std::string text = linear_base_line(1) + hex_line(0xFFF8, 0, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9}) +
                     linear_base_line(2) + hex_line(0x0002, 0, {10, 11, 12}) + end_line();
  EXPECT_EQ(parse(text), 0);
  EXPECT_EQ(regions(), (std::vector<Region>{{0x0001FFF8, counting(13)}}));
  // The end of a region is taken modulo 2^32.
  EXPECT_EQ(parse(linear_base_line(0xFFFF) + hex_line(0xFFFE, 0, {1, 2}) + linear_base_line(0) +
                  hex_line(0, 0, {3})),
            0);
  EXPECT_EQ(regions(), (std::vector<Region>{{0xFFFFFFFE, {1, 2, 3}}}));
}

TEST_F(FirmwareImageTest, BasesCarryOverToTheNextImage) {
  EXPECT_EQ(parse(linear_base_line(3) + end_line()), 0);
  EXPECT_EQ(parse(hex_line(0x0010, 0, {1}) + end_line()), 0);
  EXPECT_EQ(regions(), (std::vector<Region>{{0x00030010, {1}}}));
}

TEST_F(FirmwareImageTest, CopiesExactlyTheGivenBytes) {
  std::string text = kTwoRecords + "garbage";
  FirmwareImage image(text.data(), kTwoRecords.size());
  text.assign(text.size(), 'x');
  EXPECT_EQ(image.parse(), 0);
  ASSERT_EQ(image.region_count(), 1u);
  EXPECT_EQ(image.region_bytes(0).size(), 5u);
  // Parsing again changes nothing.
  EXPECT_EQ(image.parse(), 0);
  EXPECT_EQ(image.region_count(), 1u);
}

TEST_F(FirmwareImageTest, ManyRegionsKeepTheirOwnBytes) {
  std::string text;
  std::vector<Region> expected;
  for (uint16_t i = 0; i < 300; ++i) {
    uint16_t address = static_cast<uint16_t>((i % 2 == 0 ? 0x8000 : 0x1000) + i * 0x20);
    uint8_t a = static_cast<uint8_t>(i);
    uint8_t b = static_cast<uint8_t>(i * 7);
    text += hex_line(address, 0, {a, b}) + hex_line(address + 2, 0, {b});
    expected.push_back({address, {a, b, b}});
  }
  EXPECT_EQ(parse(text + end_line()), 0);
  EXPECT_EQ(regions(), expected);
}

TEST_F(FirmwareImageTest, FitnessAndSecondImageWord) {
  std::string eight = hex_line(0x0100, 0, {0, 0, 0, 0, 0x28, 0x18, 0x02, 0x00});
  EXPECT_EQ(parse(eight), 0);
  EXPECT_EQ(image_fitness(*image_), ImageFitness::kFit);
  EXPECT_EQ(image_->second_image_word(), 0x00021828u);

  EXPECT_EQ(parse(hex_line(0x0100, 0, {1, 2, 3, 4, 5, 6, 7})), 0);
  EXPECT_EQ(image_fitness(*image_), ImageFitness::kFirstRegionTooShort);
  EXPECT_EQ(image_->second_image_word(), 0u);
  EXPECT_EQ(parse(end_line()), 0);
  EXPECT_EQ(image_fitness(*image_), ImageFitness::kNoRegion);

  std::string regions = eight;
  for (uint16_t i = 1; i < kMaxRegions; ++i) regions += hex_line(i, 0, {});
  EXPECT_EQ(parse(regions), 0);
  EXPECT_EQ(image_fitness(*image_), ImageFitness::kFit);
  EXPECT_EQ(parse(regions + hex_line(0x9000, 0, {})), 0);
  EXPECT_EQ(image_->region_count(), kMaxRegions + 1);
  EXPECT_EQ(image_fitness(*image_), ImageFitness::kTooManyRegions);

  EXPECT_EQ(parse(eight + hex_line(0x0200, 0, {1, 2, 3})), 0);
  EXPECT_EQ(image_fitness(*image_), ImageFitness::kOddRegion);
}

}  // namespace
}  // namespace fwu
