#include "device/bootloader_channel.h"

#include <algorithm>

namespace fwu {

namespace {

enum Command : uint8_t {
  kWriteData = 0x00,
  kFlush = 0x01,
  kValidateImage = 0x02,
  kReset = 0x03,
  kFormatImage = 0x04,
  kFormatRegion = 0x05,
  kInvokeBootloader = 0x06,
  kReadMemory = 0x08,
};

// The device folds its sums every 360 bytes. (Folding every 720 would give the same checksum: 360
// words of 0xFFFF added to folded sums keep the second one below 2^32. Every 1440 would not.)
constexpr size_t kFletcherBlockBytes = 360;

uint16_t little16(const std::vector<uint8_t>& bytes, size_t at) {
  return static_cast<uint16_t>(bytes[at] | bytes[at + 1] << 8);
}

bool known_signature(uint16_t signature) {
  return std::find(std::begin(kSignatures), std::end(kSignatures), signature) !=
         std::end(kSignatures);
}

uint32_t fold(uint32_t sum) {
  return (sum & 0xFFFF) + (sum >> 16);
}

}  // namespace

// One feature report as it is built: the report ID byte, the command and its fields. The bytes
// up to the full length are zeros; content that does not fit marks the report as too long.
class BootloaderChannel::Report {
 public:
  Report(int length, uint32_t report_id) : bytes_(static_cast<size_t>(length), 0) {
    add8(static_cast<uint8_t>(report_id));
  }
  Report& add8(uint8_t value) {
    if (used_ < bytes_.size()) {
      bytes_[used_] = value;
    } else {
      too_long_ = true;
    }
    ++used_;
    return *this;
  }
  Report& add16(uint16_t value) { return add8(value & 0xFF).add8(value >> 8); }
  Report& add32(uint32_t value) { return add16(value & 0xFFFF).add16(value >> 16); }
  Report& add(std::span<const uint8_t> data) {
    if (data.size() > bytes_.size() - std::min(used_, bytes_.size())) {
      too_long_ = true;
      return *this;
    }
    std::copy(data.begin(), data.end(), bytes_.begin() + static_cast<ptrdiff_t>(used_));
    used_ += data.size();
    return *this;
  }

  bool too_long() const { return too_long_; }
  std::vector<uint8_t>& bytes() { return bytes_; }
  const std::vector<uint8_t>& bytes() const { return bytes_; }
  // The part after the ID byte, which the transport carries.
  uint16_t payload_length() const { return static_cast<uint16_t>(bytes_.size() - 1); }

 private:
  std::vector<uint8_t> bytes_;
  size_t used_ = 0;
  bool too_long_ = false;
};

int BootloaderChannel::send(const Report& report) {
  if (report.too_long()) return kCommandTooLong;
  int result = connection_.send_feature_report(report.bytes().data() + 1, report.payload_length());
  return result == 0 ? 0 : kSendFailed;
}

int BootloaderChannel::read_device_information(std::vector<uint8_t>* info) {
  Report report(report_length_, report_id_);
  report.add8(kReadMemory).add32(kDeviceInformationAddress).add16(kDeviceInformationLength);
  if (send(report) != 0) return kReadFailed;
  std::vector<uint8_t>& answer = report.bytes();
  if (connection_.get_feature_report(answer.data() + 1, report.payload_length()) != 0) {
    return kReadFailed;
  }
  info->clear();
  // The answer starts with the status bytes; from protocol 8 on they are three bytes longer.
  size_t count_at = answer[3] < 8 ? 10 : 13;
  size_t data_at = count_at + 2;
  uint16_t count = little16(answer, count_at);
  if (count > answer.size() - data_at) return kReadFailed;
  auto data = answer.begin() + static_cast<ptrdiff_t>(data_at);
  info->assign(data, data + count);
  return 0;
}

int BootloaderChannel::get_status(StatusRecord* status) {
  Report report(report_length_, report_id_);
  std::vector<uint8_t>& answer = report.bytes();
  if (connection_.get_feature_report(answer.data() + 1, report.payload_length()) != 0) {
    return kReadFailed;
  }
  status->signature = little16(answer, 1);
  if (!known_signature(status->signature)) return kBadSignature;
  status->protocol_version = answer[3];
  status->error_code = answer[4];
  uint8_t flags = answer[5];
  status->flags = flags;
  status->flag_bit0 = flags & 0x01;
  status->flag_state = (flags & 0x06) == 0 ? 0 : (status->error_code & 0x06) != 0 ? 2 : 1;
  status->flag_bit3 = (flags >> 3) & 1;
  status->image_valid = (flags >> 4) & 1;
  status->flag_bit5 = (flags >> 5) & 1;
  bool extended = status->protocol_version >= 8;
  status->extended = extended ? answer[6] : 0;
  status->write_rate = extended ? answer[7] : 0;
  status->erase_delay = extended ? answer[8] : 0;
  return 0;
}

int BootloaderChannel::reset() {
  return send(Report(report_length_, report_id_).add8(kReset));
}

int BootloaderChannel::invoke_bootloader() {
  return send(Report(report_length_, report_id_).add8(kInvokeBootloader));
}

int BootloaderChannel::format_image(uint8_t region_count, uint32_t second_image_word,
                                    uint8_t format_byte, uint16_t format_word) {
  Report report(report_length_, report_id_);
  report.add8(kFormatImage).add8(0).add8(region_count).add32(second_image_word);
  report.add16(format_word).add8(format_byte).add8(static_cast<uint8_t>(report_id_));
  return send(report);
}

int BootloaderChannel::format_region(uint8_t region_index, uint32_t start_address,
                                     std::span<const uint8_t> region) {
  if (region.size() % 2 != 0 || region.size() > UINT32_MAX) return kCommandTooLong;
  Report report(report_length_, report_id_);
  report.add8(kFormatRegion).add8(region_index).add32(start_address);
  report.add32(static_cast<uint32_t>(region.size())).add32(fletcher32(region));
  return send(report);
}

int BootloaderChannel::write_data(uint32_t address, uint32_t length,
                                  std::span<const uint8_t> data) {
  Report report(report_length_, report_id_);
  report.add8(kWriteData).add32(address).add32(length).add(data);
  return send(report);
}

int BootloaderChannel::flush() {
  return send(Report(report_length_, report_id_).add8(kFlush));
}

int BootloaderChannel::validate_image() {
  return send(Report(report_length_, report_id_).add8(kValidateImage).add8(0x01));
}

uint32_t fletcher32(std::span<const uint8_t> bytes) {
  uint32_t sum1 = 0xFFFF;
  uint32_t sum2 = 0xFFFF;
  for (size_t block = 0; block < bytes.size(); block += kFletcherBlockBytes) {
    size_t end = std::min(bytes.size(), block + kFletcherBlockBytes);
    for (size_t i = block; i < end; i += 2) {
      uint32_t high = i + 1 < end ? bytes[i + 1] : 0;
      sum1 += bytes[i] | high << 8;
      sum2 += sum1;
    }
    sum1 = fold(sum1);
    sum2 = fold(sum2);
  }
  return fold(sum2) << 16 | fold(sum1);
}

}  // namespace fwu
