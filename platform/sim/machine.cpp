#include "platform/sim/machine.h"

#include <string>
#include <utility>

#include "platform/sim/sim.h"
#include "platform/sim/sim_internal.h"

namespace sim {

namespace {

CallLog g_calls;
Events g_events;
DevNode g_touchpad_transport = 0;
DevNode g_stale_device = 0;

constexpr char16_t kHidInterfaceClass[] = u"{4d1e55b2-f16f-11cf-88cb-001111000030}";

// The device path of a HID node's interface: "\\?\" and the instance ID with '#' for '\', then
// the HID interface class.
std::u16string interface_path(const std::u16string& instance_id) {
  std::u16string path = u"\\\\?\\";
  for (char16_t c : instance_id) path += c == u'\\' ? u'#' : c;
  return path + u"#" + kHidInterfaceClass;
}

DevNode add_transport(const char16_t* instance_id, const char16_t* enumerator,
                      const char16_t* service) {
  Node node;
  node.instance_id = instance_id;
  node.hid_class = true;
  node.enumerator = enumerator;
  node.service = service;
  return add_node(std::move(node));
}

struct Collection {
  const char16_t* instance_id;
  const char16_t* service;
  std::vector<uint8_t> report_ids;
  uint32_t report_length;
};

void add_collection(DevNode parent, const Collection& collection, HidInterface identity) {
  Node node;
  node.instance_id = collection.instance_id;
  node.parent = parent;
  node.hid_class = true;
  node.enumerator = u"HID";
  node.service = collection.service;
  identity.path = interface_path(node.instance_id);
  identity.node = add_node(std::move(node));
  identity.feature_value_report_ids = collection.report_ids;
  identity.feature_report_length = collection.report_length;
  hid_world().interfaces.push_back(std::move(identity));
}

HidInterface identity(uint16_t vendor_id, uint16_t product_id, uint16_t version, bool touchpad) {
  HidInterface interface;
  interface.vendor_id = vendor_id;
  interface.product_id = product_id;
  interface.version_number = version;
  interface.touchpad = touchpad;
  return interface;
}

void build_default_machine() {
  DevNode keyboard = add_transport(u"ACPI\\KBD0001\\1", u"ACPI", u"hidspi");
  add_collection(keyboard, {u"HID\\KBD0001&COL01\\6&2C4E7A11&0&0000", u"kbdhid", {1}, 3},
                 identity(0x2E5D, 0x0401, 0x0110, false));

  DevNode touchscreen = add_transport(u"ACPI\\TSC0001\\1", u"ACPI", u"hidi2c");
  add_collection(touchscreen,
                 {u"HID\\TSC0001&COL01\\5&3B7D0E22&0&0000", u"", {kReportId}, kReportLength},
                 identity(0x4D21, kFirmwareProductId, 0x0200, false));

  g_touchpad_transport = add_transport(u"ACPI\\TPD0001\\1", u"ACPI", u"hidi2c");
  HidInterface touchpad_identity = identity(kTouchpadVendorId, 0, 0x0100, true);
  add_collection(g_touchpad_transport,
                 {u"HID\\TPD0001&COL01\\5&1F2A9C3D&0&0000", u"mouhid", {1, 3}, 64},
                 touchpad_identity);
  add_collection(g_touchpad_transport, {u"HID\\TPD0001&COL02\\5&1F2A9C3D&0&0001", u"", {}, 0},
                 touchpad_identity);
  add_collection(g_touchpad_transport,
                 {u"HID\\TPD0001&COL03\\5&1F2A9C3D&0&0002", u"", {kReportId}, kReportLength},
                 touchpad_identity);

  DevNode mouse = add_transport(u"USB\\VID_5E11&PID_0002\\8&0A1B2C3D&0&1", u"USB", u"HidUsb");
  add_collection(mouse, {u"HID\\VID_5E11&PID_0002\\9&1D2E3F40&0&0000", u"mouhid", {2}, 8},
                 identity(0x5E11, 0x0002, 0x0100, false));
}

void set_up_touchpad(const MachineSetup& setup) {
  Touchpad& t = touchpad();
  t.firmware_version = setup.firmware_version;
  t.new_version = setup.new_version;
  t.big_endian_info = setup.big_endian_info;
  t.info_length = setup.info_length;
  t.protocol = setup.protocol;
  t.erase_delay = setup.erase_delay;
  t.write_rate = setup.write_rate;
  t.firmware_signature = setup.firmware_signature;
  t.boot_ms = setup.boot_ms;
  t.format_image_ms = setup.format_image_ms;
  t.flush_ms = setup.flush_ms;
  t.validate_ms = setup.validate_ms;
  t.image_never_valid = setup.image_never_valid;
  t.image_valid = setup.device != DeviceStart::kBootloader;
  for (const CommandFailure& failure : setup.failures) {
    t.faults[static_cast<size_t>(failure.command)] = Fault::from_nth(failure.from_nth);
  }
  for (const BusyReads& busy : setup.busy) {
    t.status_faults.push_back({busy.command, busy.reads, kErrorBusy, false});
  }
}

void set_up_breakage(Breakage breakage) {
  Node& transport = node(g_touchpad_transport);
  // The touchpad's first collection: the first interface below its transport device.
  HidInterface* first = nullptr;
  for (HidInterface& each : hid_world().interfaces) {
    if (first == nullptr && each.touchpad) first = &each;
  }
  switch (breakage) {
    case Breakage::kRestartNotDisableable:
      transport.not_disableable = Fault::next(1);
      transport.on_remove = Removal::kReinstalled;
      break;
    case Breakage::kRestartEnable:
      transport.enable = Fault::next(1);
      break;
    case Breakage::kRestartDisable:
      transport.disable = Fault::always();
      break;
    case Breakage::kInstanceId:
      device_tree().instance_id = Fault::always();
      break;
    case Breakage::kInstanceIdType:
      device_tree().instance_id_not_string = Fault::always();
      break;
    case Breakage::kLocate:
      for (Node& each : device_tree().nodes) each.locate = Fault::always();
      break;
    case Breakage::kStaleNotDisableable:
      if (g_stale_device == 0) break;
      node(g_stale_device).not_disableable = Fault::next(1);
      node(g_stale_device).on_uninstall = Removal::kReinstalled;
      break;
    case Breakage::kStaleService:
      if (g_stale_device != 0) node(g_stale_device).service_read = Fault::always();
      break;
    case Breakage::kReopen:
      hid_world().interfaces[static_cast<size_t>(touchpad_interface())].open = Fault::from_nth(2);
      break;
    case Breakage::kDetailSize:
      first->detail_size = Fault::always();
      break;
    case Breakage::kDetailRead:
      first->detail_read = Fault::always();
      break;
    case Breakage::kCaps:
      first->caps = Fault::always();
      break;
    case Breakage::kValueCaps:
      first->value_caps = Fault::always();
      break;
  }
}

void set_up_nodes(const MachineSetup& setup) {
  if (setup.device == DeviceStart::kNone) {
    for (Node& each : device_tree().nodes) {
      bool below = &each == &node(g_touchpad_transport) || each.parent == g_touchpad_transport;
      if (below) each.present = false;
    }
  }
  Node& transport = node(g_touchpad_transport);
  transport.has_problem = setup.device == DeviceStart::kAfterRepair;
  transport.children_after_ms = setup.appear_ms;
  if (setup.restart_fails) {
    transport.problem_after_enable = true;
    transport.reenumerate = Fault::always();
  }
  if (setup.stale != Stale::kNone) {
    g_stale_device = add_transport(u"ACPI\\SNS0001\\1", u"ACPI", u"hidi2c");
    node(g_stale_device).has_problem = true;
    node(g_stale_device).problem_after_enable = setup.stale == Stale::kStays;
  }
  for (Breakage breakage : setup.breakages) set_up_breakage(breakage);
}

}  // namespace

CallLog& calls() {
  return g_calls;
}

// Kept here with the call log, which the device world's calls also write.
Events& events() {
  return g_events;
}

void record_event(std::string line) {
  g_events.lines.push_back(std::move(line));
}

void reset_devices() {
  set_up_machine(MachineSetup{});
}

void set_up_machine(const MachineSetup& setup) {
  g_calls = CallLog{};
  hid_world() = HidWorld{};
  device_tree() = DeviceTree{};
  touchpad() = Touchpad{};
  g_stale_device = 0;
  build_default_machine();
  set_up_touchpad(setup);
  set_up_nodes(setup);
  refresh_interfaces();
  // Building the machine is not the program's doing.
  g_calls = CallLog{};
  g_events = Events{};
}

DevNode touchpad_transport() {
  return g_touchpad_transport;
}

DevNode stale_device() {
  return g_stale_device;
}

bool touchpad_interfaces_started() {
  int touchpad = touchpad_interface();
  return touchpad >= 0 && is_started(hid_world().interfaces[static_cast<size_t>(touchpad)].node);
}

uint64_t touchpad_interfaces_due_in_ms() {
  if (!is_started(g_touchpad_transport) || touchpad_interfaces_started()) return 0;
  uint64_t now = clock().now_ms;
  uint64_t due = node(g_touchpad_transport).children_from_ms;
  return due > now ? due - now : 1;
}

}  // namespace sim
