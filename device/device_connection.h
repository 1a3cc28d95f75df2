// The program's hold on the touchpad: one open HID interface, found by the touchpad's vendor ID,
// a product ID and a feature value capability that carries a given report ID, and the feature
// reports that travel over it.
#pragma once

#include <cstdint>

#include "platform/hid.h"

namespace fwu {

constexpr uint16_t kTouchpadVendorId = 0x3A7C;
constexpr uint16_t kNormalModeProductId = 0x1042;      // the touchpad running its firmware
constexpr uint16_t kBootloaderModeProductId = 0xD0C0;  // the touchpad running its bootloader
constexpr uint8_t kBootloaderReportId = 7;

// Process-wide: set once the touchpad has been found only under its bootloader-mode product ID,
// never cleared.
bool bootloader_mode();
void set_bootloader_mode();
void reset_bootloader_mode_for_test();

class DeviceConnection {
 public:
  DeviceConnection() = default;
  DeviceConnection(const DeviceConnection&) = delete;
  DeviceConnection& operator=(const DeviceConnection&) = delete;
  ~DeviceConnection() { close(); }

  // Walks the present HID interfaces in the platform's order and opens the first one with the
  // touchpad's vendor ID, `product_id`, and a feature value capability for `report_id`.
  // 0 when the connection is open afterwards, -1 when nothing eligible was found (the connection
  // is then closed). On an open connection: 0 at once, nothing changed, not even the report ID.
  int open(uint16_t product_id, uint8_t report_id);
  // Releases the device handle and the interface path. Closing a closed connection does nothing.
  // IDs, version and report ID keep describing the last opened interface.
  void close();

  bool is_open() const { return open_; }
  uint16_t vendor_id() const { return vendor_id_; }
  uint16_t product_id() const { return product_id_; }
  uint16_t version_number() const { return version_number_; }
  uint8_t report_id() const { return report_id_; }
  // Present while the connection is open.
  const platform::hid::InterfacePath& interface_path() const { return path_; }
  bool has_device_handle() const { return device_.is_valid(); }

  // Sends one feature report: the report ID, then `length` payload bytes. 0 or -1; a closed
  // connection makes no platform call.
  int send_feature_report(const uint8_t* payload, uint16_t length);
  // Reads one feature report and copies its `length` payload bytes (without the ID byte) into
  // `destination`, which is left as it was on failure. 0 or -1.
  int get_feature_report(uint8_t* destination, uint16_t length);

 private:
  bool try_selected_interface(const platform::hid::InterfaceList& list, uint16_t product_id,
                              uint8_t report_id, platform::hid::Attributes* attributes);

  uint16_t vendor_id_ = 0;
  uint16_t product_id_ = 0;
  uint16_t version_number_ = 0;
  uint8_t report_id_ = 0;
  platform::hid::InterfacePath path_;
  platform::hid::Device device_;
  bool open_ = false;
};

// 1 when the touchpad is present running its firmware or its bootloader (the latter sets the
// bootloader-mode flag), 0 when neither is found. Leaves nothing open.
int eligible_device_check();

}  // namespace fwu
