// The touchpad's bootloader, driven through one feature report: the byte layout of every
// command, the status record and the device information read.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "device/device_connection.h"

namespace fwu {

constexpr int kBootloaderReportLength = 531;  // report ID byte included

// Command results besides 0.
constexpr int kReadFailed = -1;      // a read failed or an answer did not fit
constexpr int kBadSignature = -5;    // the status signature is not one of the five
constexpr int kSendFailed = -6;      // sending the report failed
constexpr int kCommandTooLong = -7;  // the command does not fit a report; nothing was sent

// The five signatures a status may carry.
constexpr uint16_t kSignatures[] = {0x426C, 0x5AC3, 0x6C42, 0x6D49, 0xC35A};

// The device information block: where it lives and how long it is.
constexpr uint32_t kDeviceInformationAddress = 0x2000080A;
constexpr uint16_t kDeviceInformationLength = 27;

struct StatusRecord {
  uint16_t signature = 0;
  uint8_t protocol_version = 0;  // 8 and later carry the three fields at the end
  uint8_t error_code = 0;        // 0: no error
  uint8_t flags = 0;
  uint8_t flag_bit0 = 0;
  uint8_t flag_state = 0;  // 0: flag bits 1 and 2 clear; else 2 with error bit 1 or 2, else 1
  uint8_t flag_bit3 = 0;
  uint8_t image_valid = 0;  // flag bit 4
  uint8_t flag_bit5 = 0;
  uint8_t extended = 0;
  uint8_t write_rate = 0;   // ms per 1000 written bytes
  uint8_t erase_delay = 0;  // ms per erase unit of a region format
};

// Owns the device connection that the bootloader commands travel over. Every command builds its
// own report of `report_length` bytes: the report ID, the command, its fields little-endian, and
// zeros. Commands return 0 on success; nothing here waits or retries.
class BootloaderChannel {
 public:
  BootloaderChannel(int report_length, uint32_t report_id)
      : report_length_(report_length), report_id_(report_id) {}

  DeviceConnection& connection() { return connection_; }

  // Reads kDeviceInformationLength bytes at kDeviceInformationAddress into `info` (whatever
  // count the device answers with). 0 or kReadFailed.
  int read_device_information(std::vector<uint8_t>* info);
  // 0, kReadFailed (record untouched) or kBadSignature (only the signature changed).
  int get_status(StatusRecord* status);
  // These return 0, kSendFailed or kCommandTooLong.
  int reset();
  int invoke_bootloader();
  int format_image(uint8_t region_count, uint32_t second_image_word, uint8_t format_byte,
                   uint16_t format_word);
  // Refuses a region of odd length: its checksum would not cover the last byte.
  int format_region(uint8_t region_index, uint32_t start_address, std::span<const uint8_t> region);
  int write_data(uint32_t address, uint32_t length, std::span<const uint8_t> data);
  int flush();
  int validate_image();

 private:
  class Report;
  int send(const Report& report);

  int report_length_;
  uint32_t report_id_;
  DeviceConnection connection_;
};

// Fletcher-32 over 16-bit little-endian words, both sums starting at 0xFFFF and folded every 360
// bytes. A last odd byte is taken as a word with a zero high byte.
uint32_t fletcher32(std::span<const uint8_t> bytes);

}  // namespace fwu
