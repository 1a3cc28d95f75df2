// The kernel's device tree as sysfs shows it below a root ("/sys" on a running system): the
// devices the restart and the repair act on, each known by its resolved directory. Stopping a
// device unbinds it from its driver, starting it binds it to that driver again, and the bus's
// drivers_probe stands in for a rescan; every write is checked.
#pragma once

#include <string>
#include <vector>

namespace platform::sysfs {

enum class Stop {
  kStopped,   // unbound from its driver
  kNoDriver,  // no driver holds it: there is nothing to stop
  kFailed,    // the driver did not let it go
};

// Outcomes of a hidraw transfer: the kernel tells how many bytes went or came, and a transfer of
// fewer than the whole report has not done what was asked.
bool whole_report(long transferred, unsigned long length);

class DeviceTree {
 public:
  explicit DeviceTree(std::string root) : root_(std::move(root)) {}

  // The directory of the HID device that hidraw node `node` ("hidraw3") belongs to.
  bool hid_device_of(const std::string& node, std::string* directory) const;
  // `path` resolved; false unless it is a device below root/devices.
  bool locate(const std::string& path, std::string* device) const;
  // The device's parent; false when that would be root/devices itself.
  bool parent(const std::string& device, std::string* parent_device) const;

  // Unbinds the device; on kStopped `*driver` is the driver's directory, to start it again.
  Stop stop(const std::string& device, std::string* driver) const;
  // Binds the device to `driver`.
  bool start(const std::string& device, const std::string& driver) const;
  // Asks the device's bus to find a driver for it.
  bool probe(const std::string& device) const;
  // False when the device is gone; otherwise `*problem` tells whether no driver holds it.
  bool status(const std::string& device, bool* problem) const;

  // The I2C clients whose ACPI companion names them HID over I2C, bound or not, by name.
  std::vector<std::string> hid_over_i2c_clients() const;

 private:
  std::string root_;
};

}  // namespace platform::sysfs
