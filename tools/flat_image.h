// A firmware image laid out as a flat binary from its lowest address, for fwimage.
#pragma once

#include <algorithm>
#include <cstdint>
#include <utility>
#include <vector>

#include "image/firmware_image.h"

namespace fwu::tools {

struct FlatLayout {
  uint32_t base = 0;  // the lowest address of any byte: offset 0 of the binary
  uint64_t size = 0;  // from base to one past the highest byte
  // The stretches (offset, length) that no region covers, in offset order; they hold 0xFF.
  std::vector<std::pair<uint64_t, uint64_t>> gaps;
};

// Lays out the regions' bytes, each at its address - base; where regions overlap, a later one in
// list order is written over an earlier one, as the update writes them. Empty regions take no
// room. Returns false when the image has no byte or a region runs past 0xFFFFFFFF.
inline bool flat_layout(const FirmwareImage& image, FlatLayout* layout) {
  std::vector<std::pair<uint64_t, uint64_t>> spans;  // (first address, one past the last)
  for (size_t i = 0; i < image.region_count(); ++i) {
    uint64_t start = image.region_address(i);
    uint64_t end = start + image.region_bytes(i).size();
    if (end > uint64_t{1} << 32) return false;
    if (end > start) spans.emplace_back(start, end);
  }
  if (spans.empty()) return false;
  std::sort(spans.begin(), spans.end());
  layout->base = static_cast<uint32_t>(spans.front().first);
  layout->gaps.clear();
  uint64_t covered = spans.front().first;
  for (const auto& [start, end] : spans) {
    if (start > covered) layout->gaps.emplace_back(covered - layout->base, start - covered);
    covered = std::max(covered, end);
  }
  layout->size = covered - layout->base;
  return true;
}

}  // namespace fwu::tools
