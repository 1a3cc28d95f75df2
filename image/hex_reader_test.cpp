#include "image/hex_reader.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "image/hex_test_lines.h"
#include "testing/sim_test.h"

namespace fwu {
namespace {

using testing::hex_line;
using testing::linear_base_line;

class HexReaderTest : public testing::SimTest {
 protected:
  HexRecord decode(std::string_view line) {
    HexRecord record;
    decode_record(line, &record);
    return record;
  }

  // The address that a data record with address field 0 gets under the current bases.
  uint32_t base_now() { return decode(":0000000000").address; }

  static std::vector<uint8_t> data_of(const HexRecord& record) {
    return std::vector<uint8_t>(record.data().begin(), record.data().end());
  }
};

std::vector<std::string> read_lines(const std::string& text, LineResult* last) {
  LineReader reader(std::span<const char>(text.data(), text.size()));
  std::vector<std::string> lines;
  std::string_view line;
  while ((*last = reader.next(&line)) == LineResult::kLine) lines.emplace_back(line);
  return lines;
}

TEST(LineReaderTest, SplitsAtLineFeedsAndKeepsCarriageReturns) {
  LineResult last;
  EXPECT_EQ(read_lines("a\r\n\nb", &last), (std::vector<std::string>{"a\r", "", "b"}));
  EXPECT_EQ(last, LineResult::kEnd);
  EXPECT_EQ(read_lines("a\n", &last), std::vector<std::string>{"a"});
  EXPECT_EQ(read_lines("", &last), std::vector<std::string>{});
}

TEST(LineReaderTest, SixtyThreeCharactersAreALineAndSixtyFourAreTooLong) {
  std::string full(63, 'x');
  std::string long_line(64, 'x');
  LineResult last;
  EXPECT_EQ(read_lines(full + "\n" + full, &last), (std::vector<std::string>{full, full}));
  EXPECT_EQ(last, LineResult::kEnd);
  // Too long with or without a line feed after it, and nothing after it is read.
  EXPECT_EQ(read_lines("a\n" + long_line + "\nb\n", &last), std::vector<std::string>{"a"});
  EXPECT_EQ(last, LineResult::kTooLong);
  EXPECT_EQ(read_lines(long_line, &last), std::vector<std::string>{});
  EXPECT_EQ(last, LineResult::kTooLong);
}

TEST_F(HexReaderTest, DigitsOfEitherCaseGiveTheSameBytes) {
  HexRecord upper = decode(":0400000000ABCDEF95");
  HexRecord lower = decode(":0400000000abcdef95");
  HexRecord mixed = decode(":0400000000aBcDeF95");
  ASSERT_TRUE(upper.valid && lower.valid && mixed.valid);
  EXPECT_EQ(data_of(upper), (std::vector<uint8_t>{0x00, 0xAB, 0xCD, 0xEF}));
  EXPECT_EQ(data_of(lower), data_of(upper));
  EXPECT_EQ(data_of(mixed), data_of(upper));
}

TEST_F(HexReaderTest, RandomRecordsReadBackAndAnyOtherChecksumIsRefused) {
  std::mt19937 random(99);
  const char* digits[] = {"0123456789ABCDEF", "0123456789abcdef"};
  for (int round = 0; round < 500; ++round) {
    std::vector<uint8_t> data(random() % 27);  // the longest record within 63 characters
    for (uint8_t& byte : data) byte = static_cast<uint8_t>(random());
    uint16_t address = static_cast<uint16_t>(random());
    std::vector<uint8_t> fields = {static_cast<uint8_t>(data.size()),
                                   static_cast<uint8_t>(address >> 8),
                                   static_cast<uint8_t>(address), 0x00};
    fields.insert(fields.end(), data.begin(), data.end());
    unsigned sum = 0;
    for (uint8_t byte : fields) sum += byte;
    uint8_t checksum = static_cast<uint8_t>(256 - sum % 256);
    // The checksum byte, or another one; the digits in either case, mixed.
    uint8_t wrong = static_cast<uint8_t>(checksum + 1 + random() % 255);
    for (uint8_t last : {checksum, wrong}) {
      std::string line = ":";
      std::vector<uint8_t> all = fields;
      all.push_back(last);
      for (uint8_t byte : all) {
        line += digits[random() % 2][byte >> 4];
        line += digits[random() % 2][byte & 0xF];
      }
      SCOPED_TRACE(line);
      HexRecord record = decode(line);
      EXPECT_EQ(record.valid, last == checksum);
      if (last == checksum) {
        EXPECT_EQ(record.address, address);
        EXPECT_EQ(data_of(record), data);
      }
    }
  }
}

TEST_F(HexReaderTest, RecordEndsAtTheFirstPairThatIsNotTwoDigits) {
  // The byte count is not compared: two data bytes under a count of one.
  EXPECT_EQ(data_of(decode(":01000000AABB9A")), (std::vector<uint8_t>{0xAA, 0xBB}));
  // Whatever follows the checksum is ignored: a comment, a lone digit, a carriage return.
  for (const char* line : {":00000001FF eof", ":00000001FFA", ":00000001FF\r"}) {
    HexRecord record = decode(line);
    EXPECT_TRUE(record.valid) << line;
    EXPECT_EQ(record.type, kEndOfFileRecord) << line;
  }
  // The lone digit's partner would be the character after the line, which is not the line's.
  EXPECT_TRUE(decode(std::string_view(":00000001FFA0", 12)).valid);
  // A space after a byte count of 0x10 leaves one byte, whose checksum fails.
  EXPECT_FALSE(decode(":10 0000000102030405060708090A0B0C0D0E0F1068").valid);
  EXPECT_TRUE(decode(":100000000102030405060708090A0B0C0D0E0F1068").valid);
}

TEST_F(HexReaderTest, LinesThatAreNoRecordAreInvalid) {
  for (const char* line :
       {"", ":", ":G0", " :00000001FF", "\xEF\xBB\xBF:00000001FF", ":00000001FE", ":0"}) {
    EXPECT_FALSE(decode(line).valid) << line;
  }
}

TEST_F(HexReaderTest, LinesTooShortForTheirTypeAreInvalidAndSetNoBase) {
  // Each checksum holds: 1 byte, 4 bytes, and type 02 / 04 records without their two base bytes.
  for (const char* line : {":00", ":00000000", ":01000002FD", ":0200000400FA"}) {
    EXPECT_FALSE(decode(line).valid) << line;
  }
  EXPECT_EQ(base_now(), 0u);
  // Five bytes are enough for the other types, an empty data record included.
  EXPECT_TRUE(decode(":0000000000").valid);
  EXPECT_TRUE(decode(":00000003FD").valid);
}

TEST_F(HexReaderTest, SegmentAndLinearBasesAddUp) {
  EXPECT_TRUE(decode(":020000021000EC").valid);
  EXPECT_EQ(base_now(), 0x00010000u);
  EXPECT_TRUE(decode(":020000040001F9").valid);
  EXPECT_EQ(decode(hex_line(0x0010, 0x00, {0xAA}, "")).address, 0x00020010u);
  // A type 04 record with four data bytes takes its base from the first two; a base record's
  // own address uses the bases from before it.
  HexRecord four = decode(":0400000400020000F6");
  EXPECT_TRUE(four.valid);
  EXPECT_EQ(four.address, 0x00020000u);
  EXPECT_EQ(base_now(), 0x00030000u);
}

TEST_F(HexReaderTest, AddressesWrapAtFourGigabytes) {
  decode(linear_base_line(0xFFFF, ""));
  decode(hex_line(0, 0x02, {0xFF, 0xFF}, ""));
  // 0xFFFF0000 + 0xFFFF + 0xFFFF0 modulo 2^32.
  EXPECT_EQ(decode(hex_line(0xFFFF, 0x00, {1}, "")).address, 0x000FFFEFu);
}

TEST_F(HexReaderTest, LinesLongerThanTheLimitAreInvalid) {
  std::string line = hex_line(0, 0x00, {1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12, 13,
                                        14, 15, 16, 17, 18, 19, 20, 21, 22, 23, 24, 25, 26},
                              "");
  ASSERT_EQ(line.size(), kMaxLineLength);
  EXPECT_TRUE(decode(line).valid);
  EXPECT_FALSE(decode(line + "0").valid);
}

}  // namespace
}  // namespace fwu
