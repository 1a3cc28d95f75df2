// Any text ends its parse in 0 or kImageCorrupted, without a sanitizer report, and leaves regions
// that keep the join rule and fit in the bytes the text could carry.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "image/firmware_image.h"

namespace {

void require(bool condition) {
  if (!condition) std::abort();
}

void check_regions(const fwu::FirmwareImage& image, size_t text_length) {
  size_t total = 0;
  uint32_t previous_end = 0;
  for (size_t i = 0; i < image.region_count(); ++i) {
    std::span<const uint8_t> bytes = image.region_bytes(i);
    uint32_t start = image.region_address(i);
    require(i == 0 || start != previous_end);
    // Touch both ends so the sanitizer sees every region's bounds.
    if (!bytes.empty()) require((bytes.front() | bytes.back()) <= 0xFF);
    previous_end = static_cast<uint32_t>(start + bytes.size());
    total += bytes.size();
  }
  require(total <= text_length / 2);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Each input starts from a fresh process's bases, so a finding replays on its own.
  fwu::reset_hex_decoder_for_test();
  fwu::FirmwareImage image(reinterpret_cast<const char*>(data), size);
  int result = image.parse();
  require(result == 0 || result == fwu::kImageCorrupted);
  check_regions(image, size);
  require(image.parse() == result);
  if (fwu::image_fitness(image) == fwu::ImageFitness::kFit) {
    std::span<const uint8_t> first = image.region_bytes(0);
    require(image.second_image_word() == (uint32_t{first[4]} | uint32_t{first[7]} << 24 |
                                          uint32_t{first[5]} << 8 | uint32_t{first[6]} << 16));
  }
  return 0;
}
