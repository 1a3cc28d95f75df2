// The Intel HEX reader: splits the image text into lines and decodes each line into a record.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace fwu {

// The longest line the reader takes, in characters before its line feed (a carriage return
// counts). A line of this length carries at most kMaxLineBytes bytes after its colon.
constexpr size_t kMaxLineLength = 63;
constexpr size_t kMaxLineBytes = (kMaxLineLength - 1) / 2;

enum class LineResult {
  kLine,     // a line was read
  kEnd,      // the text is exhausted: nothing is left before the next line's first character
  kTooLong,  // more than kMaxLineLength characters came without a line feed
};

// Reads the text line by line. A line runs up to a line feed, which is consumed and is not part
// of the line, or up to the end of the text; a line feed right after another gives an empty line.
// Holds a view of the text, which must outlive the reader.
class LineReader {
 public:
  explicit LineReader(std::span<const char> text) : text_(text) {}

  // On kLine, `*line` is the next line. After kEnd or kTooLong, every later call returns kEnd.
  LineResult next(std::string_view* line);

 private:
  std::span<const char> text_;
  size_t position_ = 0;
};

// One decoded line. Holds its bytes itself, so decoding allocates nothing.
struct HexRecord {
  bool valid = false;
  uint8_t type = 0;
  // Upper linear base + the line's address field + segment base, modulo 2^32, with the bases as
  // they stood before this line.
  uint32_t address = 0;
  uint8_t bytes[kMaxLineBytes] = {};  // every byte of the line: count, address, type, data, sum
  size_t byte_count = 0;

  // The data bytes of a valid type 00 record (all bytes between the type and the checksum);
  // empty for every other record.
  std::span<const uint8_t> data() const;
};

constexpr uint8_t kDataRecord = 0x00;
constexpr uint8_t kEndOfFileRecord = 0x01;
constexpr uint8_t kExtendedSegmentAddressRecord = 0x02;
constexpr uint8_t kExtendedLinearAddressRecord = 0x04;

// Decodes one line (without its line feed) into `*record`, replacing whatever it held.
//
// The line is a record when it starts with ':' and is followed by pairs of hex digits, either
// case, that end at the first pair that is not two digits (a lone last digit ends them too) and
// whose bytes sum to 0 modulo 256; the last byte taken is the checksum and anything after it is
// ignored. The byte count is never compared with the number of bytes. A record needs at least
// five bytes, and seven for types 02 and 04; a shorter line is not a record. So is a line longer
// than kMaxLineLength.
//
// A valid type 02 record sets the process-wide segment base to its first two data bytes
// (big-endian) times 16; a valid type 04 record sets the upper linear base to them times 65536.
// Neither base is ever reset by the program.
void decode_record(std::string_view line, HexRecord* record);

}  // namespace fwu
