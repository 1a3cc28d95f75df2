#include <string_view>
#include <utility>
#include <vector>

#include "platform/devnode.h"
#include "platform/sim/device_tree.h"
#include "platform/sim/hid_world.h"
#include "platform/sim/sim.h"
#include "platform/sim/sim_internal.h"

namespace sim {

namespace {
DeviceTree g_tree;

char16_t fold(char16_t c) {
  return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c;
}

bool valid(DevNode handle) {
  return handle >= 1 && handle <= g_tree.nodes.size();
}
}  // namespace

DeviceTree& device_tree() {
  return g_tree;
}

Node& node(DevNode handle) {
  return g_tree.nodes[handle - 1];
}

DevNode add_node(Node added) {
  g_tree.nodes.push_back(std::move(added));
  return static_cast<DevNode>(g_tree.nodes.size());
}

bool same_text_ignoring_case(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (fold(a[i]) != fold(b[i])) return false;
  }
  return true;
}

DevNode find_node(const std::u16string& instance_id) {
  for (size_t i = 0; i < g_tree.nodes.size(); ++i) {
    if (same_text_ignoring_case(g_tree.nodes[i].instance_id, instance_id)) {
      return static_cast<DevNode>(i + 1);
    }
  }
  return 0;
}

bool is_started(DevNode handle) {
  for (DevNode at = handle; at != 0; at = node(at).parent) {
    if (!valid(at)) return false;
    const Node& each = node(at);
    if (!each.present || each.disabled || each.has_problem) return false;
    if (at != handle && sim::clock().now_ms < each.children_from_ms) return false;
  }
  return valid(handle);
}

bool reports_problem(DevNode handle) {
  return node(handle).disabled || node(handle).has_problem;
}

}  // namespace sim

namespace {

void log(const char* name) {
  sim::calls().names.emplace_back(name);
  sim::record_event(name);
}

// The node behind a handle the program passes, when it is one and is present.
sim::Node* present_node(platform::devnode::DevNode handle) {
  if (handle < 1 || handle > sim::device_tree().nodes.size()) return nullptr;
  sim::Node& node = sim::node(handle);
  return node.present ? &node : nullptr;
}

bool is_below(platform::devnode::DevNode handle, platform::devnode::DevNode ancestor) {
  for (platform::devnode::DevNode at = handle; at != 0; at = sim::node(at).parent) {
    if (at == ancestor) return true;
  }
  return false;
}

// A device whose HID interfaces the program holds open refuses to be disabled: the HID class
// driver vetoes the removal while a handle is open.
bool program_holds_interface_below(platform::devnode::DevNode handle) {
  for (const sim::HidInterface& interface : sim::hid_world().interfaces) {
    if (interface.handles > 0 && is_below(interface.node, handle)) return true;
  }
  return false;
}

void mark_absent_below(platform::devnode::DevNode handle) {
  std::vector<sim::Node>& nodes = sim::device_tree().nodes;
  for (size_t i = 0; i < nodes.size(); ++i) {
    if (is_below(static_cast<platform::devnode::DevNode>(i + 1), handle)) nodes[i].present = false;
  }
}

void start_again(sim::Node& node) {
  node.disabled = false;
  node.has_problem = node.problem_after_enable;
  node.children_from_ms = sim::clock().now_ms + node.children_after_ms;
}

void react(platform::devnode::DevNode handle, sim::Removal removal) {
  sim::Node& node = sim::node(handle);
  if (removal == sim::Removal::kGone) {
    mark_absent_below(handle);
  } else {
    node.present = true;
    start_again(node);
  }
  sim::refresh_interfaces();
}

bool is_acpi_hid(const sim::Node& node) {
  return node.present && node.hid_class && sim::same_text_ignoring_case(node.enumerator, u"ACPI");
}

}  // namespace

struct platform::devnode::AcpiHidDevices::Impl {
  std::vector<DevNode> nodes;
  DevNode selected = 0;
};

namespace platform::devnode {

bool interface_instance_id(const hid::InterfacePath& path, std::u16string* instance_id,
                           bool* is_string) {
  log("CM_Get_Device_Interface_PropertyW");
  sim::DeviceTree& tree = sim::device_tree();
  if (!path.is_present() || tree.instance_id.hit()) return false;
  int index = sim::find_interface(path.device_path());
  if (index < 0 || !sim::hid_world().interfaces[index].present) return false;
  if (tree.instance_id_not_string.hit()) {
    instance_id->clear();
    *is_string = false;
    return true;
  }
  *instance_id = sim::node(sim::hid_world().interfaces[index].node).instance_id;
  *is_string = true;
  return true;
}

bool locate(const std::u16string& instance_id, DevNode* node) {
  log("CM_Locate_DevNodeW");
  DevNode found = sim::find_node(instance_id);
  sim::Node* located = present_node(found);
  if (located == nullptr || located->locate.hit()) return false;
  *node = found;
  return true;
}

bool parent(DevNode node, DevNode* parent_node) {
  log("CM_Get_Parent");
  sim::Node* child = present_node(node);
  if (child == nullptr || child->parent_read.hit() || child->parent == 0) return false;
  *parent_node = child->parent;
  return true;
}

Disable disable(DevNode node) {
  log("CM_Disable_DevNode");
  sim::Node* target = present_node(node);
  if (target == nullptr) return Disable::kFailed;
  if (!target->disableable || target->not_disableable.hit()) return Disable::kNotDisableable;
  if (target->disable.hit() || program_holds_interface_below(node)) return Disable::kFailed;
  target->disabled = true;
  ++target->disables;
  sim::refresh_interfaces();
  return Disable::kDisabled;
}

bool enable(DevNode node) {
  log("CM_Enable_DevNode");
  sim::Node* target = present_node(node);
  if (target == nullptr || target->enable.hit()) return false;
  ++target->enables;
  if (target->disabled) start_again(*target);
  sim::refresh_interfaces();
  return true;
}

bool reenumerate(DevNode node) {
  log("CM_Reenumerate_DevNode");
  sim::Node* target = present_node(node);
  if (target == nullptr || target->reenumerate.hit()) return false;
  ++target->reenumerations;
  // Retrying the installation starts a device that is still disabled, as an enable would.
  start_again(*target);
  sim::refresh_interfaces();
  return true;
}

bool status(DevNode node, bool* has_problem) {
  log("CM_Get_DevNode_Status");
  sim::Node* target = present_node(node);
  if (target == nullptr || target->status.hit()) return false;
  *has_problem = sim::reports_problem(node);
  return true;
}

bool equal_ignoring_case(const char16_t* a, const char16_t* b) {
  log("lstrcmpiW");
  return sim::same_text_ignoring_case(a, b);
}

void AcpiHidDevices::release() {
  if (impl_ == nullptr) return;
  log("SetupDiDestroyDeviceInfoList");
  delete impl_;
  impl_ = nullptr;
  --sim::device_tree().device_lists;
}

AcpiHidDevices AcpiHidDevices::present() {
  log("SetupDiGetClassDevsW");
  sim::DeviceTree& tree = sim::device_tree();
  if (tree.acpi_list.hit()) return AcpiHidDevices();
  Impl* impl = new Impl;
  for (size_t i = 0; i < tree.nodes.size(); ++i) {
    if (is_acpi_hid(tree.nodes[i])) impl->nodes.push_back(static_cast<DevNode>(i + 1));
  }
  ++tree.device_lists;
  return AcpiHidDevices(impl);
}

bool AcpiHidDevices::select(uint32_t index, DevNode* node) {
  log("SetupDiEnumDeviceInfo");
  if (impl_ == nullptr || index >= impl_->nodes.size()) return false;
  impl_->selected = impl_->nodes[index];
  *node = impl_->selected;
  return true;
}

bool AcpiHidDevices::service_name(std::u16string* name) const {
  log("SetupDiGetDeviceRegistryPropertyW");
  if (impl_ == nullptr) return false;
  sim::Node* selected = present_node(impl_->selected);
  if (selected == nullptr || selected->service_read.hit() || selected->service.empty()) {
    return false;
  }
  *name = selected->service;
  return true;
}

void AcpiHidDevices::remove() const {
  log("SetupDiCallClassInstaller");
  if (impl_ == nullptr || present_node(impl_->selected) == nullptr) return;
  ++sim::node(impl_->selected).removals;
  react(impl_->selected, sim::node(impl_->selected).on_remove);
}

void AcpiHidDevices::uninstall() const {
  log("DiUninstallDevice");
  if (impl_ == nullptr || present_node(impl_->selected) == nullptr) return;
  ++sim::node(impl_->selected).uninstalls;
  react(impl_->selected, sim::node(impl_->selected).on_uninstall);
}

}  // namespace platform::devnode
