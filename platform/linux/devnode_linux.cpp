// Device nodes are sysfs device directories. A node is stopped and started by unbinding it from
// its driver and binding it again; the bus's drivers_probe stands in for a rescan.

#include <dirent.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/devnode.h"
#include "platform/linux/logic/sysfs_text.h"
#include "platform/linux/sysfs_io.h"

struct platform::devnode::AcpiHidDevices::Impl {
  std::vector<std::string> paths;  // resolved sysfs directories, by name
  bool selected = false;
  std::string path;
};

namespace platform::devnode {

namespace {

struct Node {
  std::string path;    // the resolved sysfs directory
  std::string driver;  // the driver it was unbound from, to bind it to again
};

// Every node handed out in this run; a DevNode is its index plus one. A run hands out a handful.
std::vector<Node>& nodes() {
  static std::vector<Node> all;
  return all;
}

DevNode intern(const std::string& path) {
  std::vector<Node>& all = nodes();
  for (size_t i = 0; i < all.size(); ++i) {
    if (all[i].path == path) return static_cast<DevNode>(i + 1);
  }
  all.push_back(Node{path, {}});
  return static_cast<DevNode>(all.size());
}

Node* find(DevNode node) {
  std::vector<Node>& all = nodes();
  return node == 0 || node > all.size() ? nullptr : &all[node - 1];
}

std::string narrow(const std::u16string& text) {
  std::string result;
  for (char16_t c : text) {
    if (c == 0 || c > 0x7F) return {};
    result.push_back(static_cast<char>(c));
  }
  return result;
}

const std::string& devices_root() {
  static const std::string root = std::string(sysfs::kRoot) + "/devices/";
  return root;
}

// The bus's request to find a driver for the device, as a rescan of it would.
bool probe(const std::string& path) {
  return sysfs::write_attribute(path + "/subsystem/drivers_probe", sysfs::base_name(path));
}

}  // namespace

bool interface_instance_id(const hid::InterfacePath& path, std::u16string* instance_id,
                           bool* is_string) {
  if (!path.is_present()) return false;
  std::string node = narrow(path.device_path());
  constexpr std::string_view kDev = "/dev/";
  if (!node.starts_with(kDev)) return false;
  std::string directory;
  if (!sysfs::resolve(
          std::string(sysfs::kRoot) + "/class/hidraw/" + node.substr(kDev.size()) + "/device",
          &directory)) {
    return false;
  }
  *instance_id = std::u16string(directory.begin(), directory.end());
  *is_string = true;
  return true;
}

bool locate(const std::u16string& instance_id, DevNode* node) {
  std::string path = narrow(instance_id);
  std::string resolved;
  if (!path.starts_with(devices_root()) || !sysfs::resolve(path, &resolved) ||
      !resolved.starts_with(devices_root())) {
    return false;
  }
  *node = intern(resolved);
  return true;
}

bool parent(DevNode node, DevNode* parent_node) {
  const Node* child = find(node);
  if (child == nullptr) return false;
  size_t slash = child->path.find_last_of('/');
  std::string above = child->path.substr(0, slash);
  // /sys/devices itself is no device.
  if (above.size() < devices_root().size()) return false;
  *parent_node = intern(above);
  return true;
}

Disable disable(DevNode node) {
  Node* device = find(node);
  if (device == nullptr) return Disable::kFailed;
  std::string driver;
  if (!sysfs::resolve(device->path + "/driver", &driver)) return Disable::kNotDisableable;
  if (!sysfs::write_attribute(driver + "/unbind", sysfs::base_name(device->path))) {
    return Disable::kFailed;
  }
  device->driver = driver;
  return Disable::kDisabled;
}

bool enable(DevNode node) {
  const Node* device = find(node);
  if (device == nullptr || device->driver.empty()) return false;
  return sysfs::write_attribute(device->driver + "/bind", sysfs::base_name(device->path));
}

bool reenumerate(DevNode node) {
  const Node* device = find(node);
  return device != nullptr && probe(device->path);
}

bool status(DevNode node, bool* has_problem) {
  const Node* device = find(node);
  if (device == nullptr || !sysfs::exists(device->path)) return false;
  // A device that no driver took is one that does not work.
  *has_problem = !sysfs::exists(device->path + "/driver");
  return true;
}

bool equal_ignoring_case(const char16_t* a, const char16_t* b) {
  auto lower = [](char16_t c) { return c >= u'A' && c <= u'Z' ? char16_t(c + 32) : c; };
  for (; *a != 0 && *b != 0; ++a, ++b) {
    if (lower(*a) != lower(*b)) return false;
  }
  return *a == *b;
}

// The I2C clients whose ACPI companion names them HID over I2C, bound or not.
AcpiHidDevices AcpiHidDevices::present() {
  std::string bus = std::string(sysfs::kRoot) + "/bus/i2c/devices";
  DIR* clients = opendir(bus.c_str());
  if (clients == nullptr) return AcpiHidDevices();
  std::vector<std::string> names;
  while (dirent* entry = readdir(clients)) {
    if (entry->d_name[0] != '.') names.push_back(entry->d_name);
  }
  closedir(clients);
  std::sort(names.begin(), names.end());
  Impl* impl = new Impl;
  for (const std::string& name : names) {
    std::string path;
    std::string hid;
    std::string modalias;
    if (!sysfs::resolve(bus + "/" + name, &path)) continue;
    sysfs::read_attribute(path + "/firmware_node/hid", &hid);
    sysfs::read_attribute(path + "/firmware_node/modalias", &modalias);
    if (sysfs::is_hid_over_i2c(hid, modalias)) impl->paths.push_back(path);
  }
  return AcpiHidDevices(impl);
}

void AcpiHidDevices::release() {
  delete impl_;
  impl_ = nullptr;
}

bool AcpiHidDevices::select(uint32_t index, DevNode* node) {
  if (impl_ == nullptr || index >= impl_->paths.size()) return false;
  impl_->selected = true;
  impl_->path = impl_->paths[index];
  *node = intern(impl_->path);
  return true;
}

// Every device of the list is a HID-over-I2C client: the service the core looks for.
bool AcpiHidDevices::service_name(std::u16string* name) const {
  if (impl_ == nullptr || !impl_->selected) return false;
  *name = u"hidi2c";
  return true;
}

// Removing a device and installing it afresh comes, on Linux, to letting its bus find a driver for
// it again. Whether that worked shows in the stop that the caller tries next.
void AcpiHidDevices::remove() const {
  if (impl_ != nullptr && impl_->selected) probe(impl_->path);
}

void AcpiHidDevices::uninstall() const {
  if (impl_ != nullptr && impl_->selected) probe(impl_->path);
}

}  // namespace platform::devnode
