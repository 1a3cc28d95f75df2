#include "image/hex_reader.h"

#include <array>
#include <cstring>

#include "image/firmware_image.h"

namespace fwu {

namespace {

constexpr uint8_t kNotHex = 0xFF;

constexpr std::array<uint8_t, 256> make_hex_table() {
  std::array<uint8_t, 256> table{};
  table.fill(kNotHex);
  for (int i = 0; i < 10; ++i) table['0' + i] = static_cast<uint8_t>(i);
  for (int i = 0; i < 6; ++i) {
    table['A' + i] = static_cast<uint8_t>(10 + i);
    table['a' + i] = static_cast<uint8_t>(10 + i);
  }
  return table;
}

constexpr std::array<uint8_t, 256> kHexValue = make_hex_table();

// The decoder's address bases. They live as long as the process: an image parsed after another
// starts from the bases that the earlier one left.
uint32_t g_upper_linear_base = 0;
uint32_t g_segment_base = 0;

// Takes pairs of hex digits after the colon until a pair is not two digits. Returns the number
// of bytes written to `bytes`.
size_t decode_pairs(std::string_view line, uint8_t* bytes) {
  size_t count = 0;
  for (size_t i = 1; i + 1 < line.size(); i += 2) {
    uint8_t high = kHexValue[static_cast<uint8_t>(line[i])];
    uint8_t low = kHexValue[static_cast<uint8_t>(line[i + 1])];
    if ((high | low) & 0xF0) break;
    bytes[count++] = static_cast<uint8_t>(high << 4 | low);
  }
  return count;
}

size_t minimum_bytes(uint8_t type) {
  bool sets_base = type == kExtendedSegmentAddressRecord || type == kExtendedLinearAddressRecord;
  return sets_base ? 7 : 5;
}

// The 16-bit value of a base record: its first two data bytes, high byte first.
uint32_t base_field(const uint8_t* bytes) {
  return uint32_t{bytes[4]} << 8 | bytes[5];
}

}  // namespace

void reset_hex_decoder_for_test() {
  g_upper_linear_base = 0;
  g_segment_base = 0;
}

LineResult LineReader::next(std::string_view* line) {
  size_t left = text_.size() - position_;
  if (left == 0) return LineResult::kEnd;
  const char* start = text_.data() + position_;
  // Looking one character past the limit is enough to tell a long line from a full one.
  size_t window = left < kMaxLineLength + 1 ? left : kMaxLineLength + 1;
  const void* feed = std::memchr(start, '\n', window);
  size_t length =
      feed != nullptr ? static_cast<size_t>(static_cast<const char*>(feed) - start) : window;
  if (length > kMaxLineLength) {
    position_ = text_.size();
    return LineResult::kTooLong;
  }
  *line = std::string_view(start, length);
  position_ += feed != nullptr ? length + 1 : length;
  return LineResult::kLine;
}

std::span<const uint8_t> HexRecord::data() const {
  if (!valid || type != kDataRecord) return {};
  return std::span<const uint8_t>(bytes + 4, byte_count - 5);
}

void decode_record(std::string_view line, HexRecord* record) {
  record->valid = false;
  record->type = 0;
  record->address = 0;
  record->byte_count = 0;
  if (line.empty() || line[0] != ':' || line.size() > kMaxLineLength) return;

  uint8_t* b = record->bytes;
  size_t n = decode_pairs(line, b);
  record->byte_count = n;
  uint8_t sum = 0;
  for (size_t i = 0; i < n; ++i) sum = static_cast<uint8_t>(sum + b[i]);
  // A line too short for its type is refused even when its checksum holds: taking it would mean
  // reading address, type or base bytes that the line does not have.
  if (n < 5 || n < minimum_bytes(b[3]) || sum != 0) return;

  record->valid = true;
  record->type = b[3];
  record->address = g_upper_linear_base + (uint32_t{b[1]} << 8 | b[2]) + g_segment_base;
  if (record->type == kExtendedSegmentAddressRecord) g_segment_base = base_field(b) << 4;
  if (record->type == kExtendedLinearAddressRecord) g_upper_linear_base = base_field(b) << 16;
}

}  // namespace fwu
