// The firmware image: the Intel HEX text the program carries and the regions parsed from it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace fwu {

// What parse returns when a line before the end-of-file record is not a valid record.
constexpr int kImageCorrupted = -102;

// Region count and region index travel to the bootloader as single bytes.
constexpr size_t kMaxRegions = 255;
// The update announces bytes 4 to 7 of the first region.
constexpr size_t kMinFirstRegionLength = 8;

// The image's bytes as runs at consecutive addresses ("regions"), in the order in which their
// first records stand in the text. A data record whose address is the end of the last region
// (its start + length, modulo 2^32) is appended to it; any other data record opens a new region.
// Only the last region is ever compared, so regions may overlap, repeat addresses or run
// backwards, and a data record without bytes opens an empty region when it does not join.
class ImageRegions {
 public:
  // `capacity` bounds the total of all bytes ever appended; the bytes are reserved once and
  // never move, so region bytes stay put while later regions grow.
  explicit ImageRegions(size_t capacity);
  ImageRegions(ImageRegions&&) = default;
  ImageRegions& operator=(ImageRegions&&) = default;

  // Applies the join rule to one data record. Requires room for `data` within the capacity.
  void add(uint32_t address, std::span<const uint8_t> data);

  size_t count() const { return starts_.size(); }
  uint32_t address(size_t index) const { return starts_[index].address; }
  std::span<const uint8_t> bytes(size_t index) const;

 private:
  struct Start {
    uint32_t address;
    size_t offset;  // of the region's first byte in bytes_
  };

  // Regions lie back to back in bytes_, in list order: region i ends where region i + 1 starts
  // (the last one at size_), because only the last region ever grows.
  std::unique_ptr<uint8_t[]> bytes_;
  size_t size_ = 0;
  std::vector<Start> starts_;
};

// Owns a copy of the image text and, once parsed, its regions. Move-only.
class FirmwareImage {
 public:
  // Copies exactly `length` bytes of `text`; no terminating zero is needed or looked for.
  FirmwareImage(const char* text, size_t length);
  // Takes over a text of `length` bytes instead of copying it (for tools reading large files).
  FirmwareImage(std::unique_ptr<char[]> text, size_t length);
  FirmwareImage(FirmwareImage&&) = default;
  FirmwareImage& operator=(FirmwareImage&&) = default;

  // Reads the text from its start: every line up to the end-of-file record must be a valid
  // record, and lines after it are never read. Returns 0 when it reached that record or the end
  // of the text, kImageCorrupted at the first line that is not a record (including a line longer
  // than kMaxLineLength). The regions gathered before a bad line stay. Run once; a later call
  // returns the first call's result and changes nothing.
  int parse();

  size_t region_count() const { return regions_.count(); }
  // Requires index < region_count(). The bytes stay valid as long as the image.
  uint32_t region_address(size_t index) const { return regions_.address(index); }
  std::span<const uint8_t> region_bytes(size_t index) const { return regions_.bytes(index); }

  // Bytes 4 to 7 of the first region, little-endian. Requires a first region of at least 8
  // bytes; without one the result is 0.
  uint32_t second_image_word() const;

 private:
  std::unique_ptr<char[]> text_;
  size_t length_ = 0;
  bool parsed_ = false;
  int result_ = 0;
  ImageRegions regions_;
};

// Whether an image can be written to the touchpad: the first problem found, in this order.
enum class ImageFitness {
  kFit,
  kNoRegion,             // nothing to write
  kFirstRegionTooShort,  // fewer than kMinFirstRegionLength bytes: no second image word
  kTooManyRegions,       // more than kMaxRegions
  kOddRegion,            // a region of odd length: its checksum would not cover its last byte
};

// Judges a parsed image (whose parse returned 0).
ImageFitness image_fitness(const FirmwareImage& image);
const char* describe(ImageFitness fitness);

// Sets the reader's process-wide address bases back to 0. For tests; the program never calls it.
void reset_hex_decoder_for_test();

}  // namespace fwu
