#include "image/firmware_image.h"

#include <cstring>
#include <utility>

#include "image/hex_reader.h"

namespace fwu {

ImageRegions::ImageRegions(size_t capacity)
    // Default-initialised: pages of a large image that are never written are never touched.
    : bytes_(new uint8_t[capacity == 0 ? 1 : capacity]) {}

void ImageRegions::add(uint32_t address, std::span<const uint8_t> data) {
  bool joins = false;
  if (!starts_.empty()) {
    const Start& last = starts_.back();
    joins = static_cast<uint32_t>(last.address + (size_ - last.offset)) == address;
  }
  if (!joins) starts_.push_back(Start{address, size_});
  if (!data.empty()) std::memcpy(bytes_.get() + size_, data.data(), data.size());
  size_ += data.size();
}

std::span<const uint8_t> ImageRegions::bytes(size_t index) const {
  size_t begin = starts_[index].offset;
  size_t end = index + 1 < starts_.size() ? starts_[index + 1].offset : size_;
  return std::span<const uint8_t>(bytes_.get() + begin, end - begin);
}

FirmwareImage::FirmwareImage(const char* text, size_t length)
    : FirmwareImage(std::unique_ptr<char[]>(new char[length == 0 ? 1 : length]), length) {
  if (length != 0) std::memcpy(text_.get(), text, length);
}

FirmwareImage::FirmwareImage(std::unique_ptr<char[]> text, size_t length)
    : text_(std::move(text)),
      length_(length),
      // Every data byte takes two hex digits of the text, so half its length bounds the image.
      regions_(length / 2) {}

int FirmwareImage::parse() {
  if (parsed_) return result_;
  parsed_ = true;
  LineReader reader(std::span<const char>(text_.get(), length_));
  HexRecord record;
  for (;;) {
    std::string_view line;
    LineResult read = reader.next(&line);
    if (read == LineResult::kEnd) break;
    // The line limit is no end of the text: a cut image must not pass for a whole one.
    if (read == LineResult::kTooLong) {
      result_ = kImageCorrupted;
      break;
    }
    decode_record(line, &record);
    if (!record.valid) {
      result_ = kImageCorrupted;
      break;
    }
    if (record.type == kEndOfFileRecord) break;
    if (record.type == kDataRecord) regions_.add(record.address, record.data());
  }
  return result_;
}

uint32_t FirmwareImage::second_image_word() const {
  if (region_count() == 0) return 0;
  std::span<const uint8_t> first = region_bytes(0);
  if (first.size() < kMinFirstRegionLength) return 0;
  return uint32_t{first[4]} | uint32_t{first[5]} << 8 | uint32_t{first[6]} << 16 |
         uint32_t{first[7]} << 24;
}

ImageFitness image_fitness(const FirmwareImage& image) {
  if (image.region_count() == 0) return ImageFitness::kNoRegion;
  if (image.region_bytes(0).size() < kMinFirstRegionLength) {
    return ImageFitness::kFirstRegionTooShort;
  }
  if (image.region_count() > kMaxRegions) return ImageFitness::kTooManyRegions;
  for (size_t i = 0; i < image.region_count(); ++i) {
    if (image.region_bytes(i).size() % 2 != 0) return ImageFitness::kOddRegion;
  }
  return ImageFitness::kFit;
}

const char* describe(ImageFitness fitness) {
  switch (fitness) {
    case ImageFitness::kFit:
      return "fit";
    case ImageFitness::kNoRegion:
      return "no region";
    case ImageFitness::kFirstRegionTooShort:
      return "first region shorter than 8 bytes";
    case ImageFitness::kTooManyRegions:
      return "more than 255 regions";
    case ImageFitness::kOddRegion:
      return "a region of odd length";
  }
  return "unknown";
}

}  // namespace fwu
