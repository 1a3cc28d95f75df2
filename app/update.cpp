#include "app/update.h"

#include <algorithm>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "app/notices.h"
#include "app/program.h"
#include "app/settings.h"
#include "device/bootloader_channel.h"
#include "image/firmware_image.h"
#include "log/log_file.h"
#include "platform/clock.h"
#include "platform/resource.h"
#include "pnp/device_restart.h"
#include "pnp/stale_device_removal.h"

namespace fwu {

namespace {

uint16_t g_firmware_version = 0;

constexpr int kTries = 3;
constexpr int kImageValidReads = 2;
constexpr uint32_t kShortWaitMs = 10;
constexpr uint32_t kLongWaitMs = 100;
constexpr size_t kChunkSize = 520;
constexpr uint32_t kDefaultEraseDelay = 50;
constexpr uint32_t kDefaultWriteRate = 10;

const char* const kQuestion1 =
    "It looks like a previous firmware update was unsuccessful. Running it again may correct the "
    "situation.\n\nDo you want to run the firmware update?";
const char* const kQuestion2 =
    "IMPORTANT!\n\nThe touchpad firmware is about to be updated to another version. A power "
    "outage during the firmware update process could make the device inoperable. Please make "
    "sure the computer battery is charged and the power adapter is connected.\n\nThe firmware "
    "update may take up to a minute. Please be patient and do not interrupt the process.\n\nDo "
    "you want to continue with the firmware update?";

// The sentence of each numbered error, from ERROR 7 on.
const char* const kErrorSentences[] = {
    "Firmware image is corrupted.",      // 7
    "Failed to get the device status.",  // 8
    "Failed to reset the device.",       // 9
    "Failed to get the device status.",  // 10
    "Failed to invoke the bootloader.",  // 11
    "Failed to get the device status.",  // 12
    "Failed to format the image.",       // 13
    "Failed to format regions.",         // 14
    "Failed to get the device status.",  // 15
    "Failed to write data.",             // 16
    "Failed to write data.",             // 17
    "Failed to flush.",                  // 18
    "Failed to flush.",                  // 19
    "Data written with errors.",         // 20
    "Data written with errors.",         // 21
    "Failed to reset the device.",       // 22
    "Failed to get the device status.",  // 23
};
constexpr int kFirstError = 7;

std::u16string widen(const std::string& text) {
  return std::u16string(text.begin(), text.end());
}

bool calls_for_invoke(uint16_t signature) {
  return signature == 0x5AC3 || signature == 0x6D49 || signature == 0x426C;
}

// The firmware version in the device information block: bytes 4 and 5, big-endian when bit 0 of
// byte 26 is set.
uint16_t decode_version(const std::vector<uint8_t>& info) {
  bool big_endian = (info[26] & 0x01) != 0;
  return big_endian ? static_cast<uint16_t>(info[4] << 8 | info[5])
                    : static_cast<uint16_t>(info[5] << 8 | info[4]);
}

// One run of the update sequence. Every step returns 0 to go on or the result code that ends the
// run; the outcome has then been told.
class UpdateRun {
 public:
  UpdateRun() : channel_(kBootloaderReportLength, kBootloaderReportId) {}
  ~UpdateRun() {
    // The channel closes its connection again when it goes; close is idempotent.
    channel_.connection().close();
  }

  int run() {
    int result = connect();
    if (result == 0) result = decide();
    if (result == 0) result = load_image();
    if (result == 0) result = bring_up_bootloader();
    if (result == 0) result = format_image();
    if (result == 0) result = format_regions();
    if (result == 0) result = write_regions();
    if (result == 0) result = flush();
    if (result == 0) result = validate();
    if (result == 0) result = final_reset();
    if (result == 0) result = finish();
    return result;
  }

 private:
  // Ending with a message: stop the notice, show the box, log its twin once it is dismissed.
  int end_with(int result, const std::u16string& box, const char* log_text) {
    failure_report(notice_, box);
    log_line("%s", log_text);
    return result;
  }

  int fail(int error) {
    std::string phrase =
        "ERROR " + std::to_string(error) + ": " + kErrorSentences[error - kFirstError];
    std::string box = phrase + "\n\nFirmware update failed.";
    std::string log_text = phrase + " Firmware update failed.";
    return end_with(kExitUpdateFailed, widen(box), log_text.c_str());
  }

  // ---- the three patterns and the verified step ----

  template <typename Command>
  bool send_with_retries(Command command) {
    for (int attempt = 1;; ++attempt) {
      if (command() == 0) return true;
      if (attempt == kTries) return false;
      platform::sleep_ms(kShortWaitMs);
    }
  }

  bool status_read() {
    return send_with_retries([this] { return channel_.get_status(&status_); });
  }

  bool good_status() { return channel_.get_status(&status_) == 0 && status_.error_code == 0; }

  bool status_check() {
    for (int attempt = 1;; ++attempt) {
      if (good_status()) return true;
      if (attempt == kTries) return false;
      platform::sleep_ms(kShortWaitMs);
    }
  }

  // `operation` returns 0, or the error number that ends the step at once.
  template <typename Operation>
  int verified_step(Operation operation, int check_error) {
    for (int attempt = 1;; ++attempt) {
      if (int error = operation(); error != 0) return fail(error);
      bool passed = status_check();
      if (!passed && attempt == kTries) return fail(check_error);
      platform::sleep_ms(kShortWaitMs);
      if (passed) return 0;
    }
  }

  // ---- the steps ----

  int connect() {
    DeviceConnection& connection = channel_.connection();
    connection.open(kNormalModeProductId, kBootloaderReportId);
    if (!connection.is_open()) {
      connection.close();
      connection.open(kBootloaderModeProductId, kBootloaderReportId);
      if (!connection.is_open()) {
        return end_with(kExitNoDevice,
                        u"Failed to connect to the device.\n\nFirmware update failed.",
                        "Failed to connect to the device. Firmware update failed.");
      }
      set_bootloader_mode();
    }
    std::vector<uint8_t> info;
    if (channel_.read_device_information(&info) == 0 && info.size() >= kDeviceInformationLength) {
      g_firmware_version = decode_version(info);
    }
    return 0;
  }

  int decide() {
    if (bootloader_mode()) {
      if (!question(widen(kQuestion1), false)) return declined("Firmware update aborted.");
    } else if (g_firmware_version == kTargetFirmwareVersion) {
      return end_with(kExitSameVersion, u"The device already has the target firmware version.",
                      "The device already has the target firmware version. Firmware update "
                      "aborted.");
    } else if (g_firmware_version > kTargetFirmwareVersion) {
      return end_with(kExitNewerVersion, u"The device has a newer firmware version.",
                      "The device has a newer firmware version. Firmware update aborted.");
    }
    if (!question(widen(kQuestion2), true)) return declined("Firmware update aborted by the user.");
    return 0;
  }

  int declined(const char* log_text) {
    return end_with(kExitDeclined, u"Firmware update aborted.", log_text);
  }

  int load_image() {
    if (settings().notice) notice_ = start_background_notice();
    std::span<const char> text = platform::firmware_resource();
    image_.emplace(text.data(), text.size());
    // An image the bootloader cannot be told about must never reach the device.
    if (image_->parse() == kImageCorrupted || image_fitness(*image_) != ImageFitness::kFit) {
      return fail(7);
    }
    return 0;
  }

  int bring_up_bootloader() {
    if (!status_read()) return fail(8);
    platform::sleep_ms(kShortWaitMs);
    if (status_.error_code != 0) {
      if (!send_with_retries([this] { return channel_.reset(); })) return fail(9);
      platform::sleep_ms(kShortWaitMs);
      if (!status_check()) return fail(10);
      platform::sleep_ms(kShortWaitMs);
    }
    if (calls_for_invoke(status_.signature)) {
      if (!send_with_retries([this] { return channel_.invoke_bootloader(); })) return fail(11);
      platform::sleep_ms(kLongWaitMs);
      if (!status_read()) return fail(12);
      platform::sleep_ms(kShortWaitMs);
    }
    return 0;
  }

  int format_image() {
    if (status_.protocol_version >= 8) {
      erase_delay_ = status_.erase_delay;
      write_rate_ = status_.write_rate;
    }
    region_count_ = static_cast<uint8_t>(image_->region_count());
    second_image_word_ = image_->second_image_word();
    bool new_format = status_.protocol_version >= 9;
    format_word_ = new_format ? 0xFFFF : 32;
    format_byte_ = new_format ? 255 : 44;
    if (!send_format_image()) return fail(13);
    platform::sleep_ms(kLongWaitMs);
    return 0;
  }

  bool send_format_image() {
    return send_with_retries([this] {
      return channel_.format_image(region_count_, second_image_word_, format_byte_, format_word_);
    });
  }

  int format_regions() {
    for (size_t index = 0; index < image_->region_count(); ++index) {
      std::span<const uint8_t> bytes = image_->region_bytes(index);
      uint32_t address = image_->region_address(index);
      int result = verified_step(
          [&] {
            if (!send_with_retries([&] {
                  return channel_.format_region(static_cast<uint8_t>(index), address, bytes);
                })) {
              return 14;
            }
            uint32_t units = (static_cast<uint32_t>(bytes.size()) >> 10) + 1;
            platform::sleep_ms(erase_delay_ * units);
            return 0;
          },
          15);
      if (result != 0) return result;
    }
    return 0;
  }

  int write_regions() {
    for (size_t index = 0; index < image_->region_count(); ++index) {
      std::span<const uint8_t> bytes = image_->region_bytes(index);
      uint32_t start = image_->region_address(index);
      for (size_t offset = 0; offset < bytes.size(); offset += kChunkSize) {
        chunk_.assign(
            bytes.begin() + static_cast<ptrdiff_t>(offset),
            bytes.begin() + static_cast<ptrdiff_t>(std::min(bytes.size(), offset + kChunkSize)));
        uint32_t address = start + static_cast<uint32_t>(offset);
        if (int result = write_chunk(address); result != 0) return result;
      }
    }
    return 0;
  }

  int write_chunk(uint32_t address) {
    uint32_t length = static_cast<uint32_t>(chunk_.size());
    return verified_step(
        [&] {
          if (!send_with_retries([&] { return channel_.write_data(address, length, chunk_); })) {
            return 16;
          }
          platform::sleep_ms(length * write_rate_ / 1000 + 1);
          return 0;
        },
        17);
  }

  int flush() {
    return verified_step(
        [this] {
          if (!send_with_retries([this] { return channel_.flush(); })) return 18;
          platform::sleep_ms(kShortWaitMs);
          return 0;
        },
        19);
  }

  int validate() {
    channel_.validate_image();
    platform::sleep_ms(kShortWaitMs);
    for (int attempt = 1; attempt <= kImageValidReads; ++attempt) {
      if (good_status() && status_.image_valid) return 0;
      if (attempt < kImageValidReads) platform::sleep_ms(kShortWaitMs);
    }
    return fail(send_format_image() ? 21 : 20);
  }

  int final_reset() {
    if (!send_with_retries([this] { return channel_.reset(); })) return fail(22);
    for (int attempt = 1; attempt <= kTries; ++attempt) {
      platform::sleep_ms(kLongWaitMs);
      if (good_status()) return 0;
    }
    return fail(23);
  }

  int finish() {
    int restarted = device_restart(channel_.connection());
    if (restarted != 0) {
      restarted = stale_device_removal();
      if (restarted != 0) restarted = stale_device_removal();
    }
    stop_background_notice(notice_);
    if (restarted == 0) {
      information_notice(u"Firmware update successful!");
      log_line("Firmware update successful.");
      return kExitUpdated;
    }
    information_notice(
        u"Firmware update successful!\nYou may have to restart the computer for the changes to "
        u"take effect.");
    log_line("Firmware update successful. The computer may need to be restarted.");
    return kExitUpdatedRestart;
  }

  BootloaderChannel channel_;
  StatusRecord status_;
  // The default timing until a status of protocol 8 or later announces the device's own; a run
  // brings the bootloader up once.
  uint32_t erase_delay_ = kDefaultEraseDelay;
  uint32_t write_rate_ = kDefaultWriteRate;
  uint8_t region_count_ = 0;
  uint32_t second_image_word_ = 0;
  uint16_t format_word_ = 0;
  uint8_t format_byte_ = 0;
  NoticeHandle notice_;
  std::optional<FirmwareImage> image_;
  std::vector<uint8_t> chunk_;
};

}  // namespace

uint16_t firmware_version() {
  return g_firmware_version;
}
void reset_firmware_version_for_test() {
  g_firmware_version = 0;
}

int run_update() {
  return UpdateRun().run();
}

}  // namespace fwu
