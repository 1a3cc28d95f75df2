// fwimage: reads an Intel HEX firmware image with the program's own reader and tells whether
// the program could ship it.
//
//   fwimage [-o OUT.bin] IMAGE.hex
//
// Prints the parse result, each region (start, length, last address), the second image word and
// the verdict. With -o, also writes the image as a flat binary from its lowest address, gaps
// filled with 0xFF. Exit status: 0 fit to ship, 1 not fit, 2 usage or file error.
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "image/firmware_image.h"
#include "tools/flat_image.h"

namespace {

constexpr int kFit = 0;
constexpr int kUnfit = 1;
constexpr int kError = 2;

struct Options {
  const char* input = nullptr;
  const char* output = nullptr;
};

bool parse_options(int argc, char** argv, Options* options) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "-o") == 0 && i + 1 < argc) {
      options->output = argv[++i];
    } else if (argv[i][0] != '-' && options->input == nullptr) {
      options->input = argv[i];
    } else {
      return false;
    }
  }
  return options->input != nullptr;
}

// The whole file as an image, or nothing when it cannot be read.
std::optional<fwu::FirmwareImage> read_image(const char* path) {
  std::FILE* file = std::fopen(path, "rb");
  if (file == nullptr) return std::nullopt;
  long size = -1;
  if (std::fseek(file, 0, SEEK_END) == 0) size = std::ftell(file);
  std::unique_ptr<char[]> text(new char[size > 0 ? size : 1]);
  bool read =
      size >= 0 && std::fseek(file, 0, SEEK_SET) == 0 &&
      std::fread(text.get(), 1, static_cast<size_t>(size), file) == static_cast<size_t>(size);
  std::fclose(file);
  if (!read) return std::nullopt;
  return fwu::FirmwareImage(std::move(text), static_cast<size_t>(size));
}

void print_regions(const fwu::FirmwareImage& image) {
  std::printf("regions: %zu\n", image.region_count());
  for (size_t i = 0; i < image.region_count(); ++i) {
    uint32_t start = image.region_address(i);
    size_t length = image.region_bytes(i).size();
    std::printf("  %zu: start 0x%08" PRIX32 "  length %zu (0x%zX)  last ", i, start, length,
                length);
    if (length == 0) {
      std::printf("none (empty)\n");
    } else {
      std::printf("0x%08" PRIX32 "\n", static_cast<uint32_t>(start + (length - 1)));
    }
  }
}

bool write_at(std::FILE* out, uint64_t offset, const void* bytes, size_t length) {
  return fseeko(out, static_cast<off_t>(offset), SEEK_SET) == 0 &&
         std::fwrite(bytes, 1, length, out) == length;
}

bool write_gaps(std::FILE* out, const fwu::tools::FlatLayout& layout) {
  static const std::string fill(64 * 1024, '\xFF');
  for (const auto& [offset, length] : layout.gaps) {
    for (uint64_t done = 0; done < length;) {
      size_t part = static_cast<size_t>(std::min<uint64_t>(fill.size(), length - done));
      if (!write_at(out, offset + done, fill.data(), part)) return false;
      done += part;
    }
  }
  return true;
}

// Regions go in list order, so a later one wins where they overlap.
bool write_binary(const fwu::FirmwareImage& image, const char* path) {
  fwu::tools::FlatLayout layout;
  if (!fwu::tools::flat_layout(image, &layout)) {
    std::fprintf(stderr, "fwimage: no binary: the image has no byte or runs past 0xFFFFFFFF\n");
    return false;
  }
  std::FILE* out = std::fopen(path, "wb");
  bool written = out != nullptr && write_gaps(out, layout);
  for (size_t i = 0; written && i < image.region_count(); ++i) {
    std::span<const uint8_t> bytes = image.region_bytes(i);
    written = write_at(out, image.region_address(i) - layout.base, bytes.data(), bytes.size());
  }
  if (out != nullptr && std::fclose(out) != 0) written = false;
  if (!written) {
    std::fprintf(stderr, "fwimage: cannot write %s\n", path);
    return false;
  }
  std::printf("binary: %s, %" PRIu64 " bytes from 0x%08" PRIX32 "\n", path, layout.size,
              layout.base);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!parse_options(argc, argv, &options)) {
    std::fprintf(stderr, "usage: fwimage [-o OUT.bin] IMAGE.hex\n");
    return kError;
  }
  std::optional<fwu::FirmwareImage> image = read_image(options.input);
  if (!image) {
    std::fprintf(stderr, "fwimage: cannot read %s\n", options.input);
    return kError;
  }
  int result = image->parse();
  std::printf("%s\nparse: %d%s\n", options.input, result,
              result == fwu::kImageCorrupted ? " (corrupted)" : "");
  print_regions(*image);
  fwu::ImageFitness fitness = fwu::image_fitness(*image);
  if (fitness != fwu::ImageFitness::kFirstRegionTooShort &&
      fitness != fwu::ImageFitness::kNoRegion) {
    std::printf("second image word: 0x%08" PRIX32 "\n", image->second_image_word());
  }
  bool fit = result == 0 && fitness == fwu::ImageFitness::kFit;
  if (fit) {
    std::printf("fit to ship: yes\n");
  } else {
    std::printf("fit to ship: no (%s)\n", result != 0 ? "parse failed" : fwu::describe(fitness));
  }
  if (options.output != nullptr && result == 0 && !write_binary(*image, options.output)) {
    return kError;
  }
  return fit ? kFit : kUnfit;
}
