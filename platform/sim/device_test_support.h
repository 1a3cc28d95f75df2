// For the tests of the simulated device world: raw feature reports built byte by byte, the
// status fields read back from them, and direct opens of simulated interfaces.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/hid.h"
#include "platform/sim/hid_world.h"
#include "platform/sim/touchpad.h"

namespace sim::testing {

using Report = std::vector<uint8_t>;

inline void put16(Report* report, size_t at, uint16_t value) {
  (*report)[at] = static_cast<uint8_t>(value);
  (*report)[at + 1] = static_cast<uint8_t>(value >> 8);
}

inline void put32(Report* report, size_t at, uint32_t value) {
  for (size_t i = 0; i < 4; ++i) (*report)[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

inline uint16_t get16(const Report& report, size_t at) {
  return static_cast<uint16_t>(report[at] | report[at + 1] << 8);
}

inline Report command(uint8_t command_byte) {
  Report report(kReportLength, 0);
  report[0] = kReportId;
  report[1] = command_byte;
  return report;
}

inline Report write_data(uint32_t address, const std::vector<uint8_t>& data) {
  Report report = command(0x00);
  put32(&report, 2, address);
  put32(&report, 6, static_cast<uint32_t>(data.size()));
  std::copy(data.begin(), data.end(), report.begin() + 10);
  return report;
}

inline Report flush() {
  return command(0x01);
}

inline Report validate() {
  Report report = command(0x02);
  report[2] = 0x01;
  return report;
}

inline Report reset_device() {
  return command(0x03);
}

inline Report format_image(uint8_t regions, uint32_t second_word, uint16_t format_word,
                           uint8_t format_byte) {
  Report report = command(0x04);
  report[3] = regions;
  put32(&report, 4, second_word);
  put16(&report, 8, format_word);
  report[10] = format_byte;
  report[11] = kReportId;
  return report;
}

// The parameter set a device of `protocol` wants.
inline Report format_image_for(uint8_t protocol, uint8_t regions, uint32_t second_word) {
  return protocol >= 9 ? format_image(regions, second_word, 0xFFFF, 0xFF)
                       : format_image(regions, second_word, 32, 44);
}

inline Report format_region(uint8_t index, uint32_t start, const std::vector<uint8_t>& bytes) {
  Report report = command(0x05);
  report[2] = index;
  put32(&report, 3, start);
  put32(&report, 7, static_cast<uint32_t>(bytes.size()));
  put32(&report, 11, fletcher32(bytes.data(), bytes.size()));
  return report;
}

inline Report invoke_bootloader() {
  return command(0x06);
}

inline Report read_memory(uint32_t address, uint16_t count) {
  Report report = command(0x08);
  put32(&report, 2, address);
  put16(&report, 6, count);
  return report;
}

// The path of the interface at `index` in hid_world(), as the platform lists it.
inline platform::hid::InterfacePath path_of(int index) {
  platform::hid::InterfaceList list = platform::hid::InterfaceList::present();
  const std::u16string& wanted = hid_world().interfaces[index].path;
  for (uint32_t i = 0; list.select(i); ++i) {
    platform::hid::InterfacePath path;
    if (list.read_detail(list.detail_size(), &path) && path.device_path() == wanted) return path;
  }
  return platform::hid::InterfacePath();
}

inline platform::hid::Device open_interface(int index) {
  return platform::hid::Device::open(path_of(index));
}

// The touchpad's report 7 collection, opened.
inline platform::hid::Device open_touchpad() {
  return open_interface(touchpad_interface());
}

inline bool send(const platform::hid::Device& device, Report report) {
  return device.set_feature(report.data(), static_cast<uint32_t>(report.size()));
}

// A get feature of report 7; empty when the call fails.
inline Report get(const platform::hid::Device& device) {
  Report report(kReportLength, 0);
  report[0] = kReportId;
  if (!device.get_feature(report.data(), kReportLength)) return Report();
  return report;
}

inline uint8_t status_error(const platform::hid::Device& device) {
  Report status = get(device);
  EXPECT_FALSE(status.empty());
  return status.empty() ? 0xFF : status[4];
}

inline bool image_valid_bit(const Report& status) {
  return (status[5] & 0x10) != 0;
}

// The product ID the touchpad's report 7 collection shows now.
inline uint16_t touchpad_product_id() {
  platform::hid::Device device = open_touchpad();
  platform::hid::Attributes attributes;
  if (!device.get_attributes(&attributes)) return 0;
  return attributes.product_id;
}

}  // namespace sim::testing
