#include "platform/linux/logic/device_tree.h"

#include <dirent.h>

#include <algorithm>

#include "platform/linux/logic/sysfs_io.h"
#include "platform/linux/logic/sysfs_text.h"

namespace platform::sysfs {

bool whole_report(long transferred, unsigned long length) {
  return transferred >= 0 && static_cast<unsigned long>(transferred) == length;
}

bool DeviceTree::hid_device_of(const std::string& node, std::string* directory) const {
  uint32_t number = 0;
  if (!parse_hidraw_number(node, &number)) return false;
  std::string device;
  return resolve(root_ + "/class/hidraw/" + node + "/device", &device) && locate(device, directory);
}

bool DeviceTree::locate(const std::string& path, std::string* device) const {
  std::string devices;
  std::string resolved;
  if (!resolve(root_ + "/devices", &devices) || !resolve(path, &resolved) ||
      !resolved.starts_with(devices + "/")) {
    return false;
  }
  *device = resolved;
  return true;
}

bool DeviceTree::parent(const std::string& device, std::string* parent_device) const {
  size_t slash = device.find_last_of('/');
  if (slash == std::string::npos) return false;
  return locate(device.substr(0, slash), parent_device);
}

Stop DeviceTree::stop(const std::string& device, std::string* driver) const {
  std::string bound;
  if (!resolve(device + "/driver", &bound)) return Stop::kNoDriver;
  if (!write_attribute(bound + "/unbind", base_name(device))) return Stop::kFailed;
  *driver = bound;
  return Stop::kStopped;
}

bool DeviceTree::start(const std::string& device, const std::string& driver) const {
  return !driver.empty() && write_attribute(driver + "/bind", base_name(device));
}

bool DeviceTree::probe(const std::string& device) const {
  return write_attribute(device + "/subsystem/drivers_probe", base_name(device));
}

bool DeviceTree::status(const std::string& device, bool* problem) const {
  if (!exists(device)) return false;
  *problem = !exists(device + "/driver");
  return true;
}

std::vector<std::string> DeviceTree::hid_over_i2c_clients() const {
  std::string bus = root_ + "/bus/i2c/devices";
  std::vector<std::string> names;
  if (DIR* clients = opendir(bus.c_str())) {
    while (dirent* entry = readdir(clients)) {
      if (entry->d_name[0] != '.') names.push_back(entry->d_name);
    }
    closedir(clients);
  }
  std::sort(names.begin(), names.end());
  std::vector<std::string> found;
  for (const std::string& name : names) {
    std::string device;
    std::string hid;
    std::string modalias;
    if (!locate(bus + "/" + name, &device)) continue;
    // Either attribute may be missing; the other may still tell.
    read_attribute(device + "/firmware_node/hid", &hid);
    read_attribute(device + "/firmware_node/modalias", &modalias);
    if (is_hid_over_i2c(hid, modalias)) found.push_back(device);
  }
  return found;
}

}  // namespace platform::sysfs
