// The simulated Plug and Play device tree: what platform::devnode finds, disables, enables,
// re-enumerates, removes and uninstalls. A node's handle (DevNode) is its index in
// device_tree().nodes plus 1; nodes are never erased, only made absent.
//
// How nodes behave:
// - A node is started when it and every node above it are present, enabled and without a
//   problem; the HID interfaces of a node are present only while it is started.
// - Disable: refused as not disableable when `disableable` is clear; refused (kFailed) while the
//   program holds an open handle of a HID interface below the node, as the HID class driver
//   vetoes the removal. A disabled node reports DN_HAS_PROBLEM.
// - Enable of a disabled node starts it again, with a problem when problem_after_enable is
//   set; enable of a node that is not disabled changes nothing and succeeds. The nodes below a
//   node that starts again are started only children_after_ms later (virtual time): the system
//   starts them on a thread of its own once the enable has returned.
// - Re-enumerate retries the installation: a disabled node starts again as by an enable.
// - Class-installer removal and uninstall act as on_remove / on_uninstall say; a node gone
//   takes every node below it along.
// - Every call on a node that is not present fails.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/devnode.h"
#include "platform/sim/fault.h"

namespace sim {

using platform::devnode::DevNode;

// What a node does when it is removed by the class installer or uninstalled.
enum class Removal {
  kGone,         // it is no longer present; every later call on it fails
  kReinstalled,  // it comes back at once as a fresh install: enabled, with a problem only when
                 // problem_after_enable is set
};

struct Node {
  std::u16string instance_id;
  DevNode parent = 0;  // 0: a root device
  bool hid_class = false;
  std::u16string enumerator;  // "ACPI", "HID", "USB", ...
  std::u16string service;     // "hidi2c", ...
  bool present = true;
  bool disableable = true;  // false: every disable answers not disableable
  bool disabled = false;
  bool has_problem = false;  // a problem other than being disabled

  // Reactions.
  bool problem_after_enable = false;  // enable or re-enumerate leave it with a problem
  uint32_t children_after_ms = 0;     // how long after each start the nodes below it start
  Removal on_remove = Removal::kGone;
  Removal on_uninstall = Removal::kGone;

  // Faults, one per call on this node.
  Fault locate;           // CM_Locate_DevNodeW
  Fault parent_read;      // CM_Get_Parent
  Fault not_disableable;  // CM_Disable_DevNode answers CR_NOT_DISABLEABLE
  Fault disable;          // CM_Disable_DevNode fails otherwise
  Fault enable;           // CM_Enable_DevNode refused
  Fault reenumerate;      // CM_Reenumerate_DevNode refused
  Fault status;           // CM_Get_DevNode_Status fails
  Fault service_read;     // SetupDiGetDeviceRegistryPropertyW(SPDRP_SERVICE) fails

  // Record.
  uint32_t disables = 0;  // successful disables
  uint32_t enables = 0;
  uint32_t reenumerations = 0;
  uint32_t removals = 0;  // DIF_REMOVE calls
  uint32_t uninstalls = 0;

  // State: the virtual time from which the nodes below it are started.
  uint64_t children_from_ms = 0;
};

struct DeviceTree {
  std::vector<Node> nodes;
  // CM_Get_Device_Interface_PropertyW fails, or answers with a type other than
  // DEVPROP_TYPE_STRING.
  Fault instance_id;
  Fault instance_id_not_string;
  Fault acpi_list;       // SetupDiGetClassDevsW(GUID_DEVCLASS_HIDCLASS, "ACPI") fails
  int device_lists = 0;  // AcpiHidDevices lists held now
};
DeviceTree& device_tree();

// The node with this handle; requires 1 <= node <= nodes.size().
Node& node(DevNode node);
// Adds a node and returns its handle.
DevNode add_node(Node node);
// The handle of the node with this instance ID (case ignored), present or not; 0 when none.
DevNode find_node(const std::u16string& instance_id);
// True when the node and every node above it are present, enabled and without a problem, and
// every node above it started at least its children_after_ms ago: its HID interfaces are there.
bool is_started(DevNode node);
// Instance IDs, enumerators and services compare without regard to case.
bool same_text_ignoring_case(std::u16string_view a, std::u16string_view b);
// The status bit DN_HAS_PROBLEM as the platform reports it (a disabled node has a problem).
bool reports_problem(DevNode node);

}  // namespace sim
