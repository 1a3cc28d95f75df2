#include "device/device_connection.h"

#include <algorithm>
#include <vector>

namespace fwu {

namespace {

bool g_bootloader_mode = false;

bool has_feature_value_report(const platform::hid::Device& device, uint8_t report_id) {
  platform::hid::PreparsedData data = platform::hid::PreparsedData::get(device);
  uint16_t count = 0;
  if (!data.is_valid() || !data.feature_value_caps_count(&count) || count == 0) return false;
  std::vector<uint8_t> report_ids;
  if (!data.feature_value_report_ids(count, &report_ids)) return false;
  return std::find(report_ids.begin(), report_ids.end(), report_id) != report_ids.end();
}

}  // namespace

bool bootloader_mode() {
  return g_bootloader_mode;
}
void set_bootloader_mode() {
  g_bootloader_mode = true;
}
void reset_bootloader_mode_for_test() {
  g_bootloader_mode = false;
}

int DeviceConnection::open(uint16_t product_id, uint8_t report_id) {
  if (open_) return 0;
  device_.close();
  path_.reset();

  platform::hid::Attributes attributes;
  {
    platform::hid::InterfaceList list = platform::hid::InterfaceList::present();
    if (list.is_valid()) {
      for (uint32_t index = 0; list.select(index); ++index) {
        if (try_selected_interface(list, product_id, report_id, &attributes)) break;
      }
    }
  }
  if (!open_) {
    close();
    return -1;
  }
  vendor_id_ = attributes.vendor_id;
  product_id_ = attributes.product_id;
  version_number_ = attributes.version_number;
  report_id_ = report_id;
  return 0;
}

bool DeviceConnection::try_selected_interface(const platform::hid::InterfaceList& list,
                                              uint16_t product_id, uint8_t report_id,
                                              platform::hid::Attributes* attributes) {
  uint32_t size = list.detail_size();
  if (size == 0 || !list.read_detail(size, &path_)) return false;
  device_ = platform::hid::Device::open(path_);
  // The report ID is what tells the touchpad's collections apart: they all carry its IDs.
  if (device_.is_valid() && device_.get_attributes(attributes) &&
      attributes->vendor_id == kTouchpadVendorId && attributes->product_id == product_id &&
      has_feature_value_report(device_, report_id)) {
    open_ = true;
    return true;
  }
  path_.reset();
  device_.close();
  return false;
}

void DeviceConnection::close() {
  device_.close();
  path_.reset();
  open_ = false;
}

int DeviceConnection::send_feature_report(const uint8_t* payload, uint16_t length) {
  if (!open_ || !device_.is_valid()) return -1;
  std::vector<uint8_t> report(static_cast<size_t>(length) + 1);
  report[0] = report_id_;
  std::copy(payload, payload + length, report.begin() + 1);
  return device_.set_feature(report.data(), static_cast<uint32_t>(report.size())) ? 0 : -1;
}

int DeviceConnection::get_feature_report(uint8_t* destination, uint16_t length) {
  if (!open_ || !device_.is_valid()) return -1;
  std::vector<uint8_t> report(static_cast<size_t>(length) + 1);
  report[0] = report_id_;
  if (!device_.get_feature(report.data(), static_cast<uint32_t>(report.size()))) return -1;
  std::copy(report.begin() + 1, report.end(), destination);
  return 0;
}

int eligible_device_check() {
  DeviceConnection connection;
  int result = 0;
  connection.open(kNormalModeProductId, kBootloaderReportId);
  if (connection.is_open()) {
    result = 1;
  } else {
    connection.close();
    connection.open(kBootloaderModeProductId, kBootloaderReportId);
    if (connection.is_open()) {
      set_bootloader_mode();
      result = 1;
    }
  }
  connection.close();
  return result;
}

}  // namespace fwu
