// Device nodes are sysfs device directories (platform/linux/logic/device_tree.h); a DevNode is a
// number this run gave one of them.

#include <string>
#include <vector>

#include "platform/devnode.h"
#include "platform/linux/logic/device_tree.h"
#include "platform/linux/logic/sysfs_io.h"

struct platform::devnode::AcpiHidDevices::Impl {
  std::vector<std::string> devices;
  bool selected = false;
  std::string device;
};

namespace platform::devnode {

namespace {

struct Node {
  std::string device;  // the resolved sysfs directory
  std::string driver;  // the driver it was unbound from, to bind it to again
};

const sysfs::DeviceTree& tree() {
  static const sysfs::DeviceTree system(sysfs::kRoot);
  return system;
}

// Every node handed out in this run; a DevNode is its index plus one. A run hands out a handful.
std::vector<Node>& nodes() {
  static std::vector<Node> all;
  return all;
}

DevNode intern(const std::string& device) {
  std::vector<Node>& all = nodes();
  for (size_t i = 0; i < all.size(); ++i) {
    if (all[i].device == device) return static_cast<DevNode>(i + 1);
  }
  all.push_back(Node{device, {}});
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

}  // namespace

bool interface_instance_id(const hid::InterfacePath& path, std::u16string* instance_id,
                           bool* is_string) {
  if (!path.is_present()) return false;
  std::string node = narrow(path.device_path());
  constexpr std::string_view kDev = "/dev/";
  std::string device;
  if (!node.starts_with(kDev) || !tree().hid_device_of(node.substr(kDev.size()), &device)) {
    return false;
  }
  *instance_id = std::u16string(device.begin(), device.end());
  *is_string = true;
  return true;
}

bool locate(const std::u16string& instance_id, DevNode* node) {
  std::string device;
  if (!tree().locate(narrow(instance_id), &device)) return false;
  *node = intern(device);
  return true;
}

bool parent(DevNode node, DevNode* parent_node) {
  const Node* child = find(node);
  std::string above;
  if (child == nullptr || !tree().parent(child->device, &above)) return false;
  *parent_node = intern(above);
  return true;
}

Disable disable(DevNode node) {
  Node* device = find(node);
  if (device == nullptr) return Disable::kFailed;
  switch (tree().stop(device->device, &device->driver)) {
    case sysfs::Stop::kStopped:
      return Disable::kDisabled;
    case sysfs::Stop::kNoDriver:
      return Disable::kNotDisableable;
    case sysfs::Stop::kFailed:
      break;
  }
  return Disable::kFailed;
}

bool enable(DevNode node) {
  const Node* device = find(node);
  return device != nullptr && tree().start(device->device, device->driver);
}

bool reenumerate(DevNode node) {
  const Node* device = find(node);
  return device != nullptr && tree().probe(device->device);
}

bool status(DevNode node, bool* has_problem) {
  const Node* device = find(node);
  return device != nullptr && tree().status(device->device, has_problem);
}

bool equal_ignoring_case(const char16_t* a, const char16_t* b) {
  auto lower = [](char16_t c) { return c >= u'A' && c <= u'Z' ? char16_t(c + 32) : c; };
  for (; *a != 0 && *b != 0; ++a, ++b) {
    if (lower(*a) != lower(*b)) return false;
  }
  return *a == *b;
}

AcpiHidDevices AcpiHidDevices::present() {
  return AcpiHidDevices(new Impl{tree().hid_over_i2c_clients(), false, {}});
}

void AcpiHidDevices::release() {
  delete impl_;
  impl_ = nullptr;
}

bool AcpiHidDevices::select(uint32_t index, DevNode* node) {
  if (impl_ == nullptr || index >= impl_->devices.size()) return false;
  impl_->selected = true;
  impl_->device = impl_->devices[index];
  *node = intern(impl_->device);
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
  if (impl_ != nullptr && impl_->selected) tree().probe(impl_->device);
}

void AcpiHidDevices::uninstall() const {
  if (impl_ != nullptr && impl_->selected) tree().probe(impl_->device);
}

}  // namespace platform::devnode
